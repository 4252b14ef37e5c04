#pragma once
// What the trend window plots, summarised so that a week of rows draws as fast as a
// minute: per line (columns 2..9 of the record table), the minimum, maximum, first and
// last value, sum and count of every block of 64 rows, and of every 64 such blocks.
// A view of any width asks for its pixel columns; whole blocks that fall into one
// column are taken as they are, and only the rows of blocks that straddle a column's
// edge are read from the record store. So the cost of a view grows with its width,
// not with the rows it shows, and no spike is lost at any zoom.
//
// Times may go backwards or repeat (a hand-made table file): blocks know their
// earliest and latest time, and a block is taken whole only when both fall into one
// column. Cells that are empty or not numbers are gaps; rows whose first cell is not
// a date and time are left out altogether.
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "store/record_store.h"

namespace keldrin::trend {

inline constexpr int kLines = 8;

// "yyyy-MM-dd HH:mm:ss" with an optional ".z", ".zz" or ".zzz", as milliseconds since
// 1970-01-01 00:00 of the same calendar (the text has no time zone, nor does this).
std::optional<std::int64_t> parseTime(std::string_view text);
// A finite number that is the whole cell (spaces around it allowed); nothing for an
// empty cell or one that is not a number.
std::optional<float> parseValue(std::string_view text);

// The rows of a stretch for one line, taken in row order.
struct Span {
    std::uint32_t count = 0;  // rows with a value
    float min = 0, max = 0, first = 0, last = 0;
    double sum = 0;
    bool gapBefore = false;  // a gap comes before the first value (any gap, when there is no value)
    bool gapAfter = false;   // a gap comes after the last value (likewise)

    void add(float v);
    void addGap();
    // Appends what came after this, in row order.
    void merge(const Span& later);
    bool any() const { return count > 0 || gapBefore || gapAfter; }
};

// Pixel columns: [from, to) in milliseconds cut into width equal columns.
class Columns {
public:
    Columns(double from, double to, int width);
    int width() const { return width_; }
    bool valid() const { return width_ > 0; }
    // -1 before the first column, width() after the last; never decreasing in t.
    int of(std::int64_t t) const;
    // The time at the middle of column c.
    double middle(int c) const { return from_ + (c + 0.5) / scale_; }

private:
    double from_ = 0, scale_ = 0;
    int width_ = 0;
};

class TrendSummary : public StoreObserver {
public:
    static constexpr int kBlockRows = 64;
    static constexpr int kFanOut = 64;  // blocks per upper block

    explicit TrendSummary(RecordStore& store);
    ~TrendSummary() override;
    TrendSummary(const TrendSummary&) = delete;
    TrendSummary& operator=(const TrendSummary&) = delete;

    void rowsAppended(int first, int last) override;
    void cellChanged(int row, int column) override;
    void tableReset() override;

    // Brings the blocks up to date: rebuilt after the table was replaced or emptied,
    // otherwise the rows settled since (every row but the newest) folded in. Queries
    // below see the store as it is, the rows not yet in a block read from it.
    void update();
    // Whether the table changed since the last call.
    bool takeChanged();
    // Whether the table was replaced or emptied since the last update().
    bool replaced() const { return stale_; }
    // The number of rows the blocks were last brought up to.
    int rows() const { return rowsSeen_; }

    // The earliest and latest time of any row.
    std::optional<std::pair<std::int64_t, std::int64_t>> timeSpan() const;
    // The time of row (1-based), if it has one.
    std::optional<std::int64_t> timeOf(int row) const;
    // Every line's rows in each column: out[column * kLines + line].
    void columns(const Columns& cols, std::vector<Span>& out) const;

    // Bytes held for the blocks.
    std::size_t memoryBytes() const;

private:
    template <class Count>
    struct Block;
    using Block0 = Block<std::uint8_t>;
    using Block1 = Block<std::uint16_t>;
    static constexpr int kChunkBlocks = 512;

    void rebuild();
    void foldBlock();  // the next kBlockRows settled rows into a block
    Block0& block0(std::size_t i);
    const Block0& block0(std::size_t i) const;
    void visitRows(int first, int last, const Columns& cols, std::vector<Span>& out) const;  // 1-based, inclusive

    RecordStore& store_;
    std::vector<std::unique_ptr<Block0[]>> chunks_;  // blocks of rows, kChunkBlocks per chunk
    std::size_t blocks0_ = 0;
    std::vector<Block1> blocks1_;  // blocks of kFanOut blocks
    int rowsSeen_ = 0;
    bool stale_ = true;
    bool changed_ = true;
};

// The points that draw one line over the columns (x in the columns' time, y the
// value): per column with values its first, minimum, maximum and last value, and a
// NaN point wherever a gap lies between two columns drawn.
void linePoints(const std::vector<Span>& spans, const Columns& cols, int line, std::vector<double>& xs,
                std::vector<double>& ys);

// One line's rows in every column together, columns in time order.
Span total(const std::vector<Span>& spans, int width, int line);

}  // namespace keldrin::trend
