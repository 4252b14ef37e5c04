// The record store: every row is one packed record in a chunked byte arena.
//
// A row record is  varint(cell count) then, per cell, varint(length) and the bytes.
// Cells past a row's count are empty, so appending a row costs one byte until its cells
// are set. Records lie in row order, each chunk holding a run of consecutive rows, so a
// record ends where the next one in its chunk starts, or at the chunk's end. A row is
// located by one 64-bit word (chunk index, offset). The arena grows by whole chunks,
// never by reallocation: appending stays O(1) without the copy (and the doubled peak
// memory) of a growing contiguous buffer.
//
// Only the newest row changes, and its record ends at the arena's end: setting its
// cells left to right, as the recorder does, only appends bytes.
//
// The records are the rows as the table file carries them: a file read whole becomes a
// chunk of its own, its rows checked and indexed where they lie, and saving hands each
// chunk's run of records over in one piece.
#include "store/record_store.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <utility>

#include "store/varint.h"

namespace keldrin {

namespace {

constexpr std::uint32_t kFirstChunk = 4096;
constexpr std::uint32_t kMaxChunk = 256u << 10;
constexpr std::uint64_t kOffset = 0xFFFFFFFFu;

using Cells = std::span<const std::string_view>;

std::size_t recordSize(Cells cells) {
    std::size_t n = varint::size(cells.size());
    for (std::string_view c : cells) n += varint::size(c.size()) + c.size();
    return n;
}

char* putRecord(char* p, Cells cells) {
    p = varint::put(p, cells.size());
    for (std::string_view c : cells) {
        p = varint::put(p, c.size());
        if (!c.empty()) std::memcpy(p, c.data(), c.size());  // an empty view may have no data at all
        p += c.size();
    }
    return p;
}

const char* skipCell(const char* p) {
    std::uint64_t len;
    p = varint::get(p, len);
    return p + len;
}

struct Chunk {
    std::unique_ptr<char[]> owned;
    std::unique_ptr<std::string> taken;  // a whole buffer taken over (a file's bytes), not copied
    char* bytes = nullptr;
    std::uint32_t start = 0;  // where the first record lies
    std::uint32_t capacity = 0;
    std::uint32_t used = 0;
};

}  // namespace

struct RecordStore::Impl {
    int rows = 0;
    int cols = 0;
    std::vector<Chunk> chunks;
    std::vector<std::uint64_t> where;  // per row: chunk index << 32 | offset

    const char* row(std::size_t i) const { return chunks[where[i] >> 32].bytes + (where[i] & kOffset); }

    // The cells of row i into out; they point into the arena.
    void decode(std::size_t i, std::vector<std::string_view>& out) const {
        std::uint64_t n;
        const char* p = varint::get(row(i), n);
        out.resize(static_cast<std::size_t>(n));
        for (std::string_view& c : out) {
            std::uint64_t len;
            p = varint::get(p, len);
            c = {p, static_cast<std::size_t>(len)};
            p += len;
        }
    }

    void clear() {
        rows = 0;
        std::vector<Chunk>().swap(chunks);
        std::vector<std::uint64_t>().swap(where);
    }

    // A fresh last chunk with room for n bytes, twice as large as the one before up to
    // kMaxChunk.
    void newChunk(std::size_t n) {
        std::size_t cap = chunks.empty() ? kFirstChunk : std::min<std::size_t>(std::size_t{chunks.back().capacity} * 2, kMaxChunk);
        cap = std::max(cap, n);
        if (cap > kOffset) throw std::length_error("record too large");
        Chunk c;
        c.owned.reset(new char[cap]);
        c.bytes = c.owned.get();
        c.capacity = static_cast<std::uint32_t>(cap);
        chunks.push_back(std::move(c));
    }

    void append(Cells cells) {
        const std::size_t n = recordSize(cells);
        where.push_back(0);
        try {
            if (chunks.empty() || chunks.back().capacity - chunks.back().used < n) newChunk(n);
        } catch (...) {
            where.pop_back();
            throw;
        }
        Chunk& last = chunks.back();
        where.back() = (static_cast<std::uint64_t>(chunks.size() - 1) << 32) | last.used;
        putRecord(last.bytes + last.used, cells);
        last.used += static_cast<std::uint32_t>(n);
        ++rows;
    }

    // Sets cell c of the newest row, whose record ends at the last chunk's end.
    void setNewest(std::uint64_t c, std::string_view text) {
        Chunk& last = chunks.back();
        const auto start = static_cast<std::uint32_t>(where.back() & kOffset);
        char* p = last.bytes + start;
        std::uint64_t n;
        varint::get(p, n);
        if (c > n && text.empty()) return;  // already empty

        // A cell past the record's end: the gap's empty cells and the text are appended.
        if (c > n && varint::size(c) == varint::size(n)) {
            const auto gap = static_cast<std::size_t>(c - 1 - n);
            const std::size_t need = gap + varint::size(text.size()) + text.size();
            if (last.capacity - last.used >= need) {
                char* out = last.bytes + last.used;
                std::memset(out, 0, gap);
                out = varint::put(out + gap, text.size());
                if (!text.empty()) std::memcpy(out, text.data(), text.size());
                last.used += static_cast<std::uint32_t>(need);
                varint::put(p, c);  // the same width as before
                return;
            }
        }

        // Otherwise the record is built anew beside it and put in its place, or at the
        // start of a fresh chunk when it no longer fits.
        std::vector<std::string_view> cells;
        decode(where.size() - 1, cells);
        if (c > cells.size()) cells.resize(static_cast<std::size_t>(c));
        cells[static_cast<std::size_t>(c - 1)] = text;
        std::string record(recordSize(cells), '\0');
        putRecord(record.data(), cells);
        if (last.capacity - start < record.size()) {
            newChunk(record.size());
            Chunk& was = chunks[chunks.size() - 2];
            was.used = start;
            where.back() = static_cast<std::uint64_t>(chunks.size() - 1) << 32;
            if (start == was.start) {  // it held this row alone
                chunks.erase(chunks.end() - 2);
                where.back() -= std::uint64_t{1} << 32;
            }
        }
        Chunk& home = chunks.back();
        const auto at = static_cast<std::uint32_t>(where.back() & kOffset);
        std::memcpy(home.bytes + at, record.data(), record.size());
        home.used = at + static_cast<std::uint32_t>(record.size());
    }

    // Keeps the first n rows: the arena ends where row n + 1 started.
    void dropFrom(std::size_t n) {
        const std::uint64_t w = where[n];
        const auto k = static_cast<std::size_t>(w >> 32);
        chunks.resize(k + 1);
        chunks[k].used = static_cast<std::uint32_t>(w & kOffset);
        if (chunks[k].used == chunks[k].start) chunks.pop_back();
        where.resize(n);
        rows = static_cast<int>(n);
    }
};

RecordStore::RecordStore() : impl_(new Impl) {}
RecordStore::~RecordStore() { delete impl_; }

int RecordStore::rowCount() const { return impl_->rows; }
int RecordStore::columnCount() const { return impl_->cols; }

void RecordStore::setRowCount(int rows) {
    Impl& m = *impl_;
    if (rows < 0) rows = 0;
    if (rows == m.rows) return;
    if (rows > m.rows) {
        const int first = m.rows + 1;
        m.where.reserve(static_cast<std::size_t>(rows));
        while (m.rows < rows) m.append({});
        for (auto* o : observers_) o->rowsAppended(first, rows);
        return;
    }
    if (rows == 0) {
        m.clear();
    } else {
        m.dropFrom(static_cast<std::size_t>(rows));
    }
    for (auto* o : observers_) o->tableReset();
}

void RecordStore::setColumnCount(int columns) {
    Impl& m = *impl_;
    if (columns < 0) columns = 0;
    if (columns == m.cols) return;
    if (columns < m.cols && m.rows > 0) {
        // Rows are rewritten without the dropped cells. The program only ever widens
        // a table that holds rows, so this need not be quick.
        Impl narrower;
        narrower.where.reserve(m.where.size());
        std::vector<std::string_view> cells;
        for (std::size_t i = 0; i < m.where.size(); ++i) {
            m.decode(i, cells);
            narrower.append(Cells(cells).first(std::min(cells.size(), static_cast<std::size_t>(columns))));
        }
        m = std::move(narrower);
    }
    m.cols = columns;
    for (auto* o : observers_) o->tableReset();
}

void RecordStore::appendRow() {
    impl_->append({});
    const int r = impl_->rows;
    for (auto* o : observers_) o->rowsAppended(r, r);
}

std::string_view RecordStore::cell(int row, int column) const {
    const Impl& m = *impl_;
    if (row < 1 || row > m.rows || column < 1 || column > m.cols) return {};
    std::uint64_t n;
    const char* p = varint::get(m.row(static_cast<std::size_t>(row - 1)), n);
    if (static_cast<std::uint64_t>(column) > n) return {};
    for (int k = 1; k < column; ++k) p = skipCell(p);
    std::uint64_t len;
    p = varint::get(p, len);
    return {p, static_cast<std::size_t>(len)};
}

void RecordStore::setCell(int row, int column, std::string_view text) {
    Impl& m = *impl_;
    if (row < 1 || row != m.rows || column < 1 || column > m.cols) return;
    m.setNewest(static_cast<std::uint64_t>(column), text);
    for (auto* o : observers_) o->cellChanged(row, column);
}

RowCells RecordStore::rowCells(int row) const {
    static const char kNoCells = 0;
    if (row < 1 || row > impl_->rows) return RowCells(&kNoCells);
    return RowCells(record(row - 1));
}

const char* RecordStore::record(int row) const { return impl_->row(static_cast<std::size_t>(row)); }

bool RecordStore::forEachRowBytes(const std::function<bool(std::string_view)>& fn) const {
    for (const Chunk& c : impl_->chunks) {
        if (c.used > c.start && !fn({c.bytes + c.start, c.used - c.start})) return false;
    }
    return true;
}

bool RecordStore::replaceWithRows(int columns, std::size_t rows, std::string&& bytes, std::size_t offset,
                                  std::size_t length, const std::function<std::size_t(std::string_view)>& rowSize) {
    // Offsets within a chunk are 32-bit; every row takes at least one byte.
    if (offset > bytes.size() || length > bytes.size() - offset || offset + length > kOffset || rows > length ||
        rows > static_cast<std::size_t>(INT_MAX)) {
        return false;
    }
    // The rows are indexed where they lie, each checked on the way: the old table is
    // still there, untouched, if one is refused.
    std::vector<std::uint64_t> where;
    where.reserve(rows);
    std::string_view rest(bytes.data() + offset, length);
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t n = rowSize(rest);
        if (n == 0 || n > rest.size()) return false;
        where.push_back(static_cast<std::uint64_t>(rest.data() - bytes.data()));
        rest.remove_prefix(n);
    }
    if (!rest.empty()) return false;

    std::vector<Chunk> chunks(rows > 0 ? 1 : 0);
    if (rows > 0) chunks[0].taken = std::make_unique<std::string>();
    // Nothing below can fail.
    Impl& m = *impl_;
    m.clear();
    for (auto* o : observers_) o->tableReset();
    m.cols = std::max(columns, 0);
    if (rows > 0) {
        Chunk& c = chunks[0];
        *c.taken = std::move(bytes);
        c.bytes = c.taken->data();
        c.start = static_cast<std::uint32_t>(offset);
        // The bytes after the rows are never handed out; nothing is appended here.
        c.capacity = c.used = static_cast<std::uint32_t>(offset + length);
        m.chunks = std::move(chunks);
        m.where = std::move(where);
        m.rows = static_cast<int>(rows);
    }
    for (auto* o : observers_) o->tableReset();
    return true;
}

std::size_t RecordStore::memoryBytes() const {
    const Impl& m = *impl_;
    std::size_t bytes = sizeof(Impl) + m.chunks.capacity() * sizeof(Chunk) + m.where.capacity() * sizeof(std::uint64_t);
    for (const Chunk& c : m.chunks) bytes += c.taken ? c.taken->capacity() : c.capacity;
    return bytes;
}

void RecordStore::addObserver(StoreObserver* o) {
    if (o && std::find(observers_.begin(), observers_.end(), o) == observers_.end()) observers_.push_back(o);
}
void RecordStore::removeObserver(StoreObserver* o) { std::erase(observers_, o); }

void DataSource::appendRow() {
    if (store_) store_->appendRow();
}
int DataSource::rowCount() const { return store_ ? store_->rowCount() : 0; }
std::string_view DataSource::cell(int r, int c) const { return store_ ? store_->cell(r, c) : std::string_view(); }
void DataSource::setCell(int r, int c, std::string_view t) {
    if (store_) store_->setCell(r, c, t);
}
void DataSource::applyStyle(std::uint32_t gridLineColour, int cellPadding, bool alternatingRows) {
    style_ = {gridLineColour, cellPadding, alternatingRows, true};
}

namespace {

bool fail(TableError* error, TableError::Step step, FileError file = {}) {
    if (error) *error = {step, std::move(file), tablefile::Refusal::None};
    return false;
}

bool refuse(TableError* error, tablefile::Refusal why) {
    if (error) *error = {TableError::Step::Refused, {}, why};
    return false;
}

}  // namespace

bool DataSource::save(Files& files, const std::string& name, TableError* error) const {
    if (!store_) return fail(error, TableError::Step::Unbound);
    FileError why;
    std::unique_ptr<OutFile> out = files.createAtomic(name, &why);
    if (!out) return fail(error, TableError::Step::Create, std::move(why));
    // Dropping the unfinished file leaves whatever was under the name untouched.
    if (!tablefile::write(*store_, [&out](std::string_view bytes) { return out->write(bytes); })) {
        return fail(error, TableError::Step::Write);
    }
    if (!out->commit(&why)) return fail(error, TableError::Step::Finish, std::move(why));
    return true;
}

bool DataSource::load(Files& files, const std::string& name, TableError* error) {
    if (!store_) return fail(error, TableError::Step::Unbound);
    // Nothing here may end the program: a table too large for memory is refused like
    // any other bad file, and the old table is let go only once the new one is built.
    try {
        // The header and the size first: a file that cannot be a table, or not one
        // this program could hold, is refused before any of its bulk is read.
        FileError why;
        std::uint64_t size = 0;
        std::optional<std::string> head = files.readPrefix(name, tablefile::kHeaderSize, &why, &size);
        if (!head) return fail(error, TableError::Step::Read, std::move(why));
        if (auto r = tablefile::checkHeader(*head, size); r != tablefile::Refusal::None) return refuse(error, r);
        std::optional<std::string> bytes = files.readAll(name, tablefile::kMaxFileSize, &why);
        if (!bytes) return fail(error, TableError::Step::Read, std::move(why));
        // The file's bytes become the new table's, not copied: the old table, the bytes
        // and a copy of them are never held at once.
        if (auto r = tablefile::read(std::move(*bytes), *store_); r != tablefile::Refusal::None) return refuse(error, r);
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return fail(error, TableError::Step::OutOfMemory);
}

}  // namespace keldrin
