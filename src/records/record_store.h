#pragma once
// The record table: the store (通用提供者1) holding rows of text cells, and the access
// object (数据源1) through which the handlers append rows, set and read cells, and
// save and load the whole table. Built for a million rows: cells are packed into one
// byte arena, so a typical row costs well under 160 bytes and appending is O(1)
// amortised. Rows and columns are numbered from 1.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace keldrin {

class Files;

class StoreObserver {
public:
    virtual ~StoreObserver() = default;
    virtual void rowsAppended(int first, int last) = 0;  // 1-based, inclusive
    virtual void cellChanged(int row, int column) = 0;
    virtual void tableReset() = 0;  // counts or whole content changed
};

class RecordStore {
public:
    RecordStore();
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;
    RecordStore(RecordStore&&) noexcept;
    RecordStore& operator=(RecordStore&&) noexcept;

    int rowCount() const;
    int columnCount() const;
    // 0 removes every row; a larger count appends empty rows; a smaller one drops the last rows.
    void setRowCount(int rows);
    // Cells beyond a smaller count are dropped; new columns are empty.
    void setColumnCount(int columns);
    void appendRow();
    // The empty text for a cell out of range or never set.
    std::string_view cell(int row, int column) const;
    void setCell(int row, int column, std::string_view text);

    // A row's packed record, as the table file stores it: varint(cell count) then, per
    // cell, varint(byte length) and the bytes; cells past the count are empty, and the
    // count never exceeds columnCount(). Valid until the table next changes; empty out
    // of range.
    std::string_view rowRecord(int row) const;
    // Appends count rows whose records follow one another in records and fill it
    // exactly. Nothing is trusted: every count and length is checked against the table
    // and the bytes, and on any fault nothing is appended and false is returned.
    // Observers hear of the new rows once.
    bool appendRowRecords(std::string_view records, std::size_t count);
    bool appendRowRecord(std::string_view record) { return appendRowRecords(record, 1); }
    // As appendRowRecords over bytes[offset, offset + length), but a large buffer is
    // taken over whole instead of copied (a table file read is its own table). bytes
    // is left as it was when false is returned.
    bool adoptRowRecords(std::string&& bytes, std::size_t offset, std::size_t length, std::size_t count);
    // The size of the well-formed record at the front of bytes for a table of columns
    // columns (cell count <= columns, shortest varints, every length within bytes), or 0.
    static std::size_t validRecordSize(std::string_view bytes, int columns);

    // Replaces the whole content with other's (observers are told once).
    void replaceWith(RecordStore&& other);

    // Bytes held for the rows, all overhead included.
    std::size_t memoryBytes() const;

    void addObserver(StoreObserver* o);
    void removeObserver(StoreObserver* o);

private:
    struct Impl;
    Impl* impl_;
    std::vector<StoreObserver*> observers_;
};

// Walks the cells of a record that rowRecord gave, left to right; past the record's
// count every cell is empty.
class RecordCells {
public:
    explicit RecordCells(std::string_view record) : p_(record.data()) {
        if (!record.empty()) left_ = get();
    }
    std::size_t remaining() const { return left_; }
    std::string_view next() {
        if (left_ == 0) return {};
        --left_;
        std::size_t n = get();
        std::string_view text(p_, n);
        p_ += n;
        return text;
    }

private:
    // Records from the store are well-formed: no bounds to check here.
    std::size_t get() {
        std::size_t v = 0;
        for (int shift = 0;; shift += 7) {
            auto b = static_cast<unsigned char>(*p_++);
            v |= static_cast<std::size_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
    }
    const char* p_;
    std::size_t left_ = 0;
};

// The table style applied at start-up: a colour, a number and a flag.
struct TableStyle {
    std::uint32_t colour = 0xC0C0C0;  // grid lines and heading background
    int number = 5;                   // cell padding in pixels
    bool flag = true;                 // alternating row shading
    bool applied = false;
};

class DataSource {
public:
    void bind(RecordStore* store) { store_ = store; }
    RecordStore* store() const { return store_; }

    void appendRow();
    int rowCount() const;
    std::string_view cell(int row, int column) const;
    void setCell(int row, int column, std::string_view text);

    void applyStyle(std::uint32_t colour, int number, bool flag);
    const TableStyle& style() const { return style_; }

    // Save the whole table to a file, or load it from one: true on success, otherwise
    // false with a reason in *error, and (for load) the table unchanged.
    bool save(Files& files, const std::string& name, std::string* error) const;
    bool load(Files& files, const std::string& name, std::string* error);

private:
    RecordStore* store_ = nullptr;
    TableStyle style_;
};

}  // namespace keldrin
