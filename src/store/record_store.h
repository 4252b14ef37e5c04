#pragma once
// The record table: the store (通用提供者1) holding rows of text cells, and the access
// object (数据源1) through which the handlers append rows, set and read cells, and
// save and load the whole table. Built for a million rows: cells are packed into one
// byte arena, so a typical row costs well under 160 bytes and appending is O(1)
// amortised. Rows and columns are numbered from 1.
//
// The table is a record of the past: rows are appended and filled one at a time, and
// only the newest row's cells can be set. How rows lie in memory is the store's own
// affair: they are read out in order, as their cells or as the table file carries them.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/services.h"
#include "store/table_file.h"

namespace keldrin {

class StoreObserver {
public:
    virtual ~StoreObserver() = default;
    virtual void rowsAppended(int first, int last) = 0;  // 1-based, inclusive
    virtual void cellChanged(int row, int column) = 0;
    virtual void tableReset() = 0;  // counts or whole content changed
};

// A row's cells, read left to right, as forEachRow hands them out: cells past the last
// one held are empty, and there are never more than the table's columns.
class RowCells {
public:
    // The cells held that are still to be read.
    std::size_t size() const { return left_; }
    // The next cell; the empty text once none is held.
    std::string_view next() {
        if (left_ == 0) return {};
        --left_;
        const std::size_t n = number();
        const std::string_view text(p_, n);
        p_ += n;
        return text;
    }

private:
    friend class RecordStore;
    explicit RowCells(const char* record) : p_(record) { left_ = number(); }
    // The store's rows are well-formed: nothing to check here.
    std::size_t number() {
        if (static_cast<unsigned char>(*p_) < 0x80) return static_cast<unsigned char>(*p_++);
        std::size_t v = 0;
        for (int shift = 0;; shift += 7) {
            const auto b = static_cast<unsigned char>(*p_++);
            v |= static_cast<std::size_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
    }
    const char* p_;
    std::size_t left_ = 0;
};

class RecordStore {
public:
    RecordStore();
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    int rowCount() const;
    int columnCount() const;
    // 0 removes every row and gives their memory back; a larger count appends empty
    // rows; a smaller one drops the last rows.
    void setRowCount(int rows);
    // Cells beyond a smaller count are dropped; new columns are empty.
    void setColumnCount(int columns);
    void appendRow();
    // The empty text for a cell out of range or never set.
    std::string_view cell(int row, int column) const;
    // Sets a cell of the newest row; any other row is left as it is.
    void setCell(int row, int column, std::string_view text);

    // Calls fn with every row's cells, first row first, until fn returns false; false
    // then. The cells are valid until the table next changes.
    template <class Fn>
    bool forEachRow(Fn&& fn) const {
        for (int row = 0, rows = rowCount(); row < rows; ++row) {
            if (!fn(RowCells(record(row)))) return false;
        }
        return true;
    }

    // The cells of one row (1-based), as forEachRow hands them out; none for a row out
    // of range. Valid until the table next changes.
    RowCells rowCells(int row) const;

    // The rows as the table file carries them (see table_file.h), first row first, in
    // pieces of one or more whole rows, until fn returns false; false then.
    bool forEachRowBytes(const std::function<bool(std::string_view)>& fn) const;

    // Replaces the whole table with rows rows of columns columns that lie in bytes[offset,
    // offset + length) as the table file carries them. rowSize tells the size of the
    // row at the front of what it is given, or 0 when that is not a well-formed row of
    // the table; nothing else is trusted. The bytes are taken over as the table's memory,
    // not copied. When every row is well-formed and they fill the bytes exactly, the
    // observers hear of the emptied table (the old rows' memory is given back before the
    // new table is taken on) and then of the new one, and true is returned; otherwise
    // the table and bytes are left as they were and false is returned.
    bool replaceWithRows(int columns, std::size_t rows, std::string&& bytes, std::size_t offset, std::size_t length,
                         const std::function<std::size_t(std::string_view)>& rowSize);

    // Bytes held for the rows, all overhead included.
    std::size_t memoryBytes() const;

    void addObserver(StoreObserver* o);
    void removeObserver(StoreObserver* o);

private:
    const char* record(int row) const;  // 0-based

    struct Impl;
    Impl* impl_;
    std::vector<StoreObserver*> observers_;
};

// The table style applied at start-up.
struct TableStyle {
    std::uint32_t gridLineColour = 0xC0C0C0;  // grid lines and the heading row's background
    int cellPadding = 5;                      // pixels left and right of a cell's text
    bool alternatingRows = true;              // every other row shaded
    bool applied = false;
};

// Why the table could not be saved or read. The handlers word it for the operator.
struct TableError {
    enum class Step {
        None,
        Unbound,      // no store bound
        Create,       // the file could not be created (file says why)
        Write,        // writing failed part-way (a full disk)
        Finish,       // the written file could not be put in place (file says why)
        Read,         // the file could not be read (file says why, if anything)
        Refused,      // not a table file this program can take (refusal says why)
        OutOfMemory,  // a table too large for memory
    };
    Step step = Step::None;
    FileError file;
    tablefile::Refusal refusal = tablefile::Refusal::None;
};

class DataSource {
public:
    void bind(RecordStore* store) { store_ = store; }
    RecordStore* store() const { return store_; }

    void appendRow();
    int rowCount() const;
    std::string_view cell(int row, int column) const;
    void setCell(int row, int column, std::string_view text);

    void applyStyle(std::uint32_t gridLineColour, int cellPadding, bool alternatingRows);
    const TableStyle& style() const { return style_; }

    // Save the whole table to a file, or load it from one: true on success, otherwise
    // false with the reason in *error, and (for load) the table unchanged.
    bool save(Files& files, const std::string& name, TableError* error) const;
    bool load(Files& files, const std::string& name, TableError* error);

private:
    RecordStore* store_ = nullptr;
    TableStyle style_;
};

}  // namespace keldrin
