#include "store/trend_summary.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include "common/textnum.h"
#include "common/texts.h"

namespace keldrin::trend {

namespace {

// One row: its time, and per line its value or a gap (bit i of has set for a value).
struct Row {
    std::int64_t time = 0;
    float value[kLines];
    unsigned has = 0;
};

// Reads rows in turn. Their dates nearly always repeat (a week at 0.1 s has seven), so
// a date is worked out once and taken as it is while the rows keep it.
class RowReader {
public:
    bool read(RowCells cells, Row& row) {
        const std::string_view t = cells.next();
        if (t.size() < 19 || t.size() > 23) return false;
        if (!dated_ || t.compare(0, kDateSize, std::string_view(date_, kDateSize)) != 0) {
            const std::optional<std::int64_t> days = dateDays(t);
            if (!days) return false;
            t.copy(date_, kDateSize);
            dated_ = true;
            dateMs_ = *days * 86400000;
        }
        const std::optional<std::int64_t> inDay = timeOfDayMs(t);
        if (!inDay) return false;
        row.time = dateMs_ + *inDay;
        row.has = 0;
        for (int i = 0; i < kLines; ++i) {
            if (cells.size() == 0) break;  // the rest are empty
            if (cellNumber(cells.next(), row.value[i])) row.has |= 1u << i;
        }
        return true;
    }

private:
    static constexpr std::size_t kDateSize = 11;  // "yyyy-MM-dd "
    char date_[kDateSize] = {};
    bool dated_ = false;
    std::int64_t dateMs_ = 0;
};

void addRow(const Row& row, Span* spans) {
    for (int i = 0; i < kLines; ++i) {
        if (row.has & (1u << i)) spans[i].add(row.value[i]);
        else spans[i].addGap();
    }
}

}  // namespace

std::optional<std::int64_t> parseTime(std::string_view s) { return dateTimeMs(s); }

std::optional<float> parseValue(std::string_view s) {
    float v = 0;
    if (!cellNumber(s, v)) return std::nullopt;
    return v;
}

void Span::add(float v) {
    if (count == 0) {
        min = max = first = v;
    } else {
        min = std::min(min, v);
        max = std::max(max, v);
    }
    last = v;
    sum += v;
    ++count;
    gapAfter = false;
}

void Span::addGap() {
    if (count == 0) gapBefore = true;
    gapAfter = true;
}

void Span::merge(const Span& later) {
    if (later.count == 0) {
        if (count == 0) gapBefore = gapBefore || later.gapBefore;
        gapAfter = gapAfter || later.gapAfter;
        return;
    }
    if (count == 0) {
        gapBefore = gapBefore || later.gapBefore;
        min = later.min;
        max = later.max;
        first = later.first;
    } else {
        min = std::min(min, later.min);
        max = std::max(max, later.max);
    }
    last = later.last;
    sum += later.sum;
    count += later.count;
    gapAfter = later.gapAfter;
}

Columns::Columns(double from, double to, int width) {
    if (width > 0 && std::isfinite(from) && std::isfinite(to) && to > from) {
        from_ = from;
        scale_ = width / (to - from);
        width_ = std::isfinite(scale_) && scale_ > 0 ? width : 0;
    }
}

int Columns::of(std::int64_t t) const {
    const double c = std::floor((static_cast<double>(t) - from_) * scale_);
    if (!(c >= 0)) return -1;
    if (c >= width_) return width_;
    return static_cast<int>(c);
}

// A block's rows per line, stored without padding: a week of rows costs a few bytes a row.
template <class Count>
struct TrendSummary::Block {
    std::int64_t minT = INT64_MAX, maxT = INT64_MIN;
    double sum[kLines];
    float min[kLines], max[kLines], first[kLines], last[kLines];
    Count count[kLines];
    std::uint8_t gaps[kLines];  // bit 0: gap before, bit 1: gap after

    Span line(int i) const {
        Span s;
        s.count = count[i];
        s.min = min[i];
        s.max = max[i];
        s.first = first[i];
        s.last = last[i];
        s.sum = sum[i];
        s.gapBefore = gaps[i] & 1;
        s.gapAfter = gaps[i] & 2;
        return s;
    }
    void set(const Span* spans) {
        for (int i = 0; i < kLines; ++i) {
            const Span& s = spans[i];
            count[i] = static_cast<Count>(s.count);
            min[i] = s.min;
            max[i] = s.max;
            first[i] = s.first;
            last[i] = s.last;
            sum[i] = s.sum;
            gaps[i] = static_cast<std::uint8_t>((s.gapBefore ? 1 : 0) | (s.gapAfter ? 2 : 0));
        }
    }
};

namespace {

// Takes a block whole when its rows fall into one column, skips it when they fall
// outside the view, and otherwise looks closer.
template <class B, class Closer>
void take(const B& b, const Columns& cols, std::vector<Span>& out, Closer&& closer) {
    if (b.maxT < b.minT) return;  // no row with a time
    const int lo = cols.of(b.minT);
    const int hi = cols.of(b.maxT);
    if (hi < 0 || lo >= cols.width()) return;
    if (lo == hi) {
        Span* spans = &out[static_cast<std::size_t>(lo) * kLines];
        for (int i = 0; i < kLines; ++i) spans[i].merge(b.line(i));
        return;
    }
    closer();
}

}  // namespace

TrendSummary::TrendSummary(RecordStore& store) : store_(store) { store_.addObserver(this); }
TrendSummary::~TrendSummary() { store_.removeObserver(this); }

void TrendSummary::rowsAppended(int, int) { changed_ = true; }
void TrendSummary::cellChanged(int, int) { changed_ = true; }
void TrendSummary::tableReset() {
    stale_ = true;
    changed_ = true;
}

bool TrendSummary::takeChanged() { return std::exchange(changed_, false); }

TrendSummary::Block0& TrendSummary::block0(std::size_t i) { return chunks_[i / kChunkBlocks][i % kChunkBlocks]; }
const TrendSummary::Block0& TrendSummary::block0(std::size_t i) const {
    return chunks_[i / kChunkBlocks][i % kChunkBlocks];
}

void TrendSummary::update() {
    const int rows = store_.rowCount();
    if (stale_ || static_cast<std::size_t>(rows) < blocks0_ * kBlockRows) rebuild();
    // The newest row may still be filled in; every row before it is final.
    while ((blocks0_ + 1) * kBlockRows <= static_cast<std::size_t>(std::max(rows - 1, 0))) foldBlock();
    rowsSeen_ = rows;
}

void TrendSummary::rebuild() {
    std::vector<std::unique_ptr<Block0[]>>().swap(chunks_);
    std::vector<Block1>().swap(blocks1_);
    blocks0_ = 0;
    stale_ = false;
    const std::size_t rows = static_cast<std::size_t>(store_.rowCount());
    const std::size_t blocks = rows / kBlockRows;
    chunks_.reserve(blocks / kChunkBlocks + 1);
    blocks1_.reserve(blocks / kFanOut + 1);
}

void TrendSummary::foldBlock() {
    if (blocks0_ % kChunkBlocks == 0) chunks_.push_back(std::make_unique<Block0[]>(kChunkBlocks));
    Block0& b = block0(blocks0_);
    b = Block0{};
    Span spans[kLines];
    Row row;
    RowReader reader;
    const int first = static_cast<int>(blocks0_ * kBlockRows) + 1;
    for (int r = first; r < first + kBlockRows; ++r) {
        if (!reader.read(store_.rowCells(r), row)) continue;
        b.minT = std::min(b.minT, row.time);
        b.maxT = std::max(b.maxT, row.time);
        addRow(row, spans);
    }
    b.set(spans);
    ++blocks0_;

    if (blocks0_ % kFanOut == 0) {
        Block1 up;
        Span upper[kLines];
        for (std::size_t j = blocks0_ - kFanOut; j < blocks0_; ++j) {
            const Block0& low = block0(j);
            up.minT = std::min(up.minT, low.minT);
            up.maxT = std::max(up.maxT, low.maxT);
            for (int i = 0; i < kLines; ++i) upper[i].merge(low.line(i));
        }
        up.set(upper);
        blocks1_.push_back(up);
    }
}

void TrendSummary::visitRows(int first, int last, const Columns& cols, std::vector<Span>& out) const {
    Row row;
    RowReader reader;
    for (int r = first; r <= last; ++r) {
        if (!reader.read(store_.rowCells(r), row)) continue;
        const int c = cols.of(row.time);
        if (c < 0 || c >= cols.width()) continue;
        addRow(row, &out[static_cast<std::size_t>(c) * kLines]);
    }
}

void TrendSummary::columns(const Columns& cols, std::vector<Span>& out) const {
    out.assign(static_cast<std::size_t>(cols.width()) * kLines, Span{});
    if (!cols.valid()) return;
    auto lower = [&](std::size_t j) {
        take(block0(j), cols, out, [&] {
            const int first = static_cast<int>(j * kBlockRows) + 1;
            visitRows(first, first + kBlockRows - 1, cols, out);
        });
    };
    for (std::size_t k = 0; k < blocks1_.size(); ++k) {
        take(blocks1_[k], cols, out, [&] {
            for (std::size_t j = k * kFanOut; j < (k + 1) * kFanOut; ++j) lower(j);
        });
    }
    for (std::size_t j = blocks1_.size() * kFanOut; j < blocks0_; ++j) lower(j);
    visitRows(static_cast<int>(blocks0_ * kBlockRows) + 1, store_.rowCount(), cols, out);
}

std::optional<std::pair<std::int64_t, std::int64_t>> TrendSummary::timeSpan() const {
    std::int64_t lo = INT64_MAX, hi = INT64_MIN;
    for (const Block1& b : blocks1_) {
        lo = std::min(lo, b.minT);
        hi = std::max(hi, b.maxT);
    }
    for (std::size_t j = blocks1_.size() * kFanOut; j < blocks0_; ++j) {
        lo = std::min(lo, block0(j).minT);
        hi = std::max(hi, block0(j).maxT);
    }
    Row row;
    RowReader reader;
    for (int r = static_cast<int>(blocks0_ * kBlockRows) + 1; r <= store_.rowCount(); ++r) {
        if (!reader.read(store_.rowCells(r), row)) continue;
        lo = std::min(lo, row.time);
        hi = std::max(hi, row.time);
    }
    if (hi < lo) return std::nullopt;
    return std::make_pair(lo, hi);
}

std::optional<std::int64_t> TrendSummary::timeOf(int row) const { return parseTime(store_.rowCells(row).next()); }

std::size_t TrendSummary::memoryBytes() const {
    return sizeof(*this) + chunks_.capacity() * sizeof(chunks_[0]) + chunks_.size() * kChunkBlocks * sizeof(Block0) +
           blocks1_.capacity() * sizeof(Block1);
}

void linePoints(const std::vector<Span>& spans, const Columns& cols, int line, std::vector<double>& xs,
                std::vector<double>& ys) {
    xs.clear();
    ys.clear();
    bool drawn = false, gap = false;
    for (int c = 0; c < cols.width(); ++c) {
        const Span& s = spans[static_cast<std::size_t>(c) * kLines + static_cast<std::size_t>(line)];
        if (s.count == 0) {
            gap = gap || s.any();
            continue;
        }
        const double x = cols.middle(c);
        if (drawn && (gap || s.gapBefore)) {
            xs.push_back(x);
            ys.push_back(std::nan(""));
        }
        // Down then up when the column ends higher than it starts, else up then down.
        const float path[4] = {s.first, s.last >= s.first ? s.min : s.max, s.last >= s.first ? s.max : s.min, s.last};
        for (int k = 0; k < 4; ++k) {
            if (k > 0 && path[k] == path[k - 1]) continue;
            xs.push_back(x);
            ys.push_back(path[k]);
        }
        drawn = true;
        gap = s.gapAfter;
    }
}

Span total(const std::vector<Span>& spans, int width, int line) {
    Span t;
    for (int c = 0; c < width; ++c) t.merge(spans[static_cast<std::size_t>(c) * kLines + static_cast<std::size_t>(line)]);
    return t;
}

}  // namespace keldrin::trend
