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
