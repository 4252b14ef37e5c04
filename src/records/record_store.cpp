// The record store: every row is one packed record in a chunked byte arena.
//
// A row record is  varint(cell count) then, per cell, varint(length) and the bytes.
// Cells past a row's stored count are empty, so appending a row costs one byte until
// its cells are set. A row is located by one 64-bit word (chunk index, offset). The
// arena grows by whole chunks, never by reallocation: appending stays O(1) without the
// copy (and the doubled peak memory) of a growing contiguous buffer.
//
// The row whose record ends at the arena's end (the "tail row", normally the newest)
// is rewritten in place; setting its cells left to right, as the recorder does, only
// appends bytes. Rewriting any other row places a new copy at the end and leaves the
// old one as garbage; the arena is compacted when garbage dominates.
//
// Rows read from a table file arrive as whole records, checked on the way in; a file
// read whole becomes a chunk of its own instead of being copied.
#include "records/record_store.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

#include "core/services.h"
#include "records/table_file.h"

namespace keldrin {

namespace {

constexpr std::uint32_t kFirstChunk = 4096;
constexpr std::uint32_t kMaxChunk = 256u << 10;
// Compaction is not worth its pass below this much garbage.
constexpr std::size_t kMinGarbage = 256 * 1024;

inline std::size_t varintSize(std::uint64_t v) {
    std::size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

inline char* putVarint(char* p, std::uint64_t v) {
    while (v >= 0x80) {
        *p++ = static_cast<char>((v & 0x7F) | 0x80);
        v >>= 7;
    }
    *p++ = static_cast<char>(v);
    return p;
}

// Records in the arena are written by this file or checked on their way in, so they
// are trusted.
inline const char* getVarint(const char* p, std::uint64_t& v) {
    if (static_cast<unsigned char>(*p) < 0x80) {
        v = static_cast<unsigned char>(*p);
        return p + 1;
    }
    std::uint64_t result = 0;
    int shift = 0;
    for (;;) {
        auto b = static_cast<unsigned char>(*p++);
        result |= static_cast<std::uint64_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) break;
        shift += 7;
    }
    v = result;
    return p;
}

inline const char* skipCell(const char* p) {
    auto b = static_cast<unsigned char>(*p);
    if (b < 0x80) return p + 1 + b;
    std::uint64_t len;
    p = getVarint(p, len);
    return p + len;
}

// Reads a varint from a file or caller [p, end): the shortest encoding, at most max.
// False when it is truncated, overlong or larger.
inline bool getChecked(const char*& p, const char* end, std::uint64_t max, std::uint64_t& v) {
    if (p == end) return false;
    auto b = static_cast<unsigned char>(*p);
    if (b < 0x80) {  // the usual one-byte length
        if (b > max) return false;
        ++p;
        v = b;
        return true;
    }
    std::uint64_t result = 0;
    const char* q = p;
    for (int shift = 0; shift < 64; shift += 7) {
        if (q == end) return false;
        b = static_cast<unsigned char>(*q++);
        std::uint64_t bits = b & 0x7F;
        if (shift == 63 && bits > 1) return false;
        result |= bits << shift;
        if (!(b & 0x80)) {
            // One encoding per value: the store rewrites counts in place by their width.
            if (b == 0 || result > max) return false;
            p = q;
            v = result;
            return true;
        }
    }
    return false;
}

std::size_t checkedRecordSize(const char* start, const char* end, std::uint64_t columns) {
    const auto* d = reinterpret_cast<const unsigned char*>(start);
    const auto size = static_cast<std::size_t>(end - start);
    std::uint64_t n;
    std::size_t i;
    if (size > 0 && d[0] < 0x80) {
        n = d[0];
        i = 1;
        if (n > columns) return 0;
    } else {
        const char* p = start;
        if (!getChecked(p, end, columns, n)) return 0;
        i = static_cast<std::size_t>(p - start);
    }
    // Offsets rather than pointers: a length may point past the end, and is refused on
    // the next step or at the end without ever being dereferenced.
    for (; n > 0; --n) {
        if (i >= size) return 0;
        unsigned b = d[i];
        if (b < 0x80) {  // the usual short text
            i += 1 + b;
            continue;
        }
        const char* p = start + i;
        std::uint64_t len;
        if (!getChecked(p, end, UINT64_MAX, len) || len > static_cast<std::uint64_t>(end - p)) return 0;
        i = static_cast<std::size_t>(p - start) + static_cast<std::size_t>(len);
    }
    return i <= size ? i : 0;
}

struct Chunk {
    std::unique_ptr<char[]> owned;
    std::unique_ptr<std::string> adopted;  // a whole buffer taken over (a file's bytes), not copied
    char* base = nullptr;
    std::uint32_t capacity = 0;
    std::uint32_t used = 0;
};

// Buffers smaller than this are copied rather than taken over: nothing to gain.
constexpr std::size_t kAdoptFrom = 64 * 1024;

}  // namespace

struct RecordStore::Impl {
    int rows = 0;
    int cols = 0;
    std::vector<Chunk> chunks;
    std::vector<std::uint64_t> where;  // per row: chunk index << 32 | offset
    std::size_t garbage = 0;           // bytes of dead record copies
    int tailRow = -1;                  // 0-based; its record ends at the last chunk's end
    // Every row's record is followed directly by the next row's within a chunk, with no
    // garbage or other row between: a record's size is then where the next one starts.
    // Lost when a row other than the last moves or rows are dropped; compaction restores it.
    bool ordered = true;
    std::string scratch;               // reused to rebuild a record

    // Read cursor: sequential reads of one row (grid painting, saving) do not rescan it.
    mutable int curRow = -1;
    mutable int curCol = 0;
    mutable const char* curPos = nullptr;

    char* at(std::uint64_t w) { return chunks[w >> 32].base + (w & 0xFFFFFFFFu); }
    const char* at(std::uint64_t w) const { return chunks[w >> 32].base + (w & 0xFFFFFFFFu); }
    const char* row(int i) const { return at(where[static_cast<std::size_t>(i)]); }

    static std::size_t recordSize(const char* p) {
        const char* start = p;
        std::uint64_t n;
        p = getVarint(p, n);
        for (; n > 0; --n) p = skipCell(p);
        return static_cast<std::size_t>(p - start);
    }

    std::uint32_t freeInLast() const {
        return chunks.empty() ? 0 : chunks.back().capacity - chunks.back().used;
    }

    // Space for n bytes at the arena's end; returns where it starts (not yet used).
    std::uint64_t reserveAtEnd(std::size_t n) {
        if (freeInLast() < n) {
            std::size_t cap = chunks.empty() ? kFirstChunk : std::min<std::size_t>(std::size_t{chunks.back().capacity} * 2, kMaxChunk);
            cap = std::max(cap, n);
            if (cap > 0xFFFFFFFFu) throw std::length_error("record too large");
            Chunk c;
            c.owned.reset(new char[cap]);
            c.base = c.owned.get();
            c.capacity = static_cast<std::uint32_t>(cap);
            chunks.push_back(std::move(c));
        }
        return (static_cast<std::uint64_t>(chunks.size() - 1) << 32) | chunks.back().used;
    }

    void invalidateCursor() { curRow = -1; }

    void clear() {
        rows = 0;
        std::vector<Chunk>().swap(chunks);
        std::vector<std::uint64_t>().swap(where);
        garbage = 0;
        tailRow = -1;
        ordered = true;
        std::string().swap(scratch);
        invalidateCursor();
    }

    // Copies every live record into fresh chunks, keeping at most maxCells cells of each.
    void compact(std::uint64_t maxCells) {
        std::vector<Chunk> old;
        old.swap(chunks);
        garbage = 0;
        tailRow = -1;
        invalidateCursor();
        for (std::size_t i = 0; i < where.size(); ++i) {
            const char* src = old[where[i] >> 32].base + (where[i] & 0xFFFFFFFFu);
            std::uint64_t n;
            const char* cells = getVarint(src, n);
            std::uint64_t keep = std::min(n, maxCells);
            const char* end = cells;
            for (std::uint64_t c = 0; c < keep; ++c) end = skipCell(end);
            std::size_t body = static_cast<std::size_t>(end - cells);
            std::size_t size = varintSize(keep) + body;
            std::uint64_t w = reserveAtEnd(size);
            char* dst = putVarint(at(w), keep);
            std::memcpy(dst, cells, body);
            chunks.back().used += static_cast<std::uint32_t>(size);
            where[i] = w;
        }
        if (!where.empty()) tailRow = static_cast<int>(where.size() - 1);
        ordered = true;
    }

    void maybeCompact() {
        std::size_t held = 0;
        for (const Chunk& c : chunks) held += c.used;
        if (garbage >= kMinGarbage && garbage * 2 > held) compact(UINT64_MAX);
    }

    void appendEmpty() {
        std::uint64_t w = reserveAtEnd(1);
        *at(w) = 0;
        chunks.back().used += 1;
        where.push_back(w);
        tailRow = static_cast<int>(where.size() - 1);
        ++rows;
    }

    void set(int i, std::uint64_t c, std::string_view text) {
        invalidateCursor();
        const char* p = row(i);
        std::uint64_t n;
        const char* cells = getVarint(p, n);
        if (c > n && text.empty()) return;  // already empty

        // Fast path: a new cell past the tail row's end is pure appending.
        if (i == tailRow && c > n && varintSize(c) == varintSize(n)) {
            std::size_t need = static_cast<std::size_t>(c - 1 - n) + varintSize(text.size()) + text.size();
            if (freeInLast() >= need) {
                Chunk& last = chunks.back();
                char* out = last.base + last.used;
                std::memset(out, 0, static_cast<std::size_t>(c - 1 - n));
                out += c - 1 - n;
                out = putVarint(out, text.size());
                std::memcpy(out, text.data(), text.size());
                last.used += static_cast<std::uint32_t>(need);
                putVarint(at(where[static_cast<std::size_t>(i)]), c);  // same width as before
                return;
            }
        }

        // Rebuild the record in scratch.
        std::uint64_t count = std::max(n, c);
        const char* q = cells;
        for (std::uint64_t k = 1; k < c && k <= n; ++k) q = skipCell(q);
        const char* before = q;  // start of cell c (or the end when c > n)
        const char* after = q;
        if (c <= n) after = skipCell(q);
        const char* end = after;
        for (std::uint64_t k = c + 1; k <= n; ++k) end = skipCell(end);
        std::size_t oldSize = static_cast<std::size_t>(end - p);
        std::size_t gap = c > n ? static_cast<std::size_t>(c - 1 - n) : 0;
        scratch.clear();
        scratch.resize(varintSize(count) + static_cast<std::size_t>(before - cells) + gap + varintSize(text.size()) +
                       text.size() + static_cast<std::size_t>(end - after));
        char* out = putVarint(scratch.data(), count);
        std::memcpy(out, cells, static_cast<std::size_t>(before - cells));
        out += before - cells;
        std::memset(out, 0, gap);
        out += gap;
        out = putVarint(out, text.size());
        std::memcpy(out, text.data(), text.size());
        out += text.size();
        std::memcpy(out, after, static_cast<std::size_t>(end - after));

        std::uint64_t w = where[static_cast<std::size_t>(i)];
        if (i == tailRow) {
            // The record ends at the arena's end: overwrite it there if the chunk allows.
            Chunk& last = chunks.back();
            std::uint32_t start = static_cast<std::uint32_t>(w & 0xFFFFFFFFu);
            if (static_cast<std::size_t>(last.capacity - start) >= scratch.size()) {
                std::memcpy(last.base + start, scratch.data(), scratch.size());
                last.used = start + static_cast<std::uint32_t>(scratch.size());
                return;
            }
        }
        std::uint64_t nw = reserveAtEnd(scratch.size());
        std::memcpy(at(nw), scratch.data(), scratch.size());
        chunks.back().used += static_cast<std::uint32_t>(scratch.size());
        where[static_cast<std::size_t>(i)] = nw;
        // The last row moves to a new chunk (it did not fit where it was, at the end):
        // the order holds. Any other row now sits after the last one.
        if (i != rows - 1 || (nw >> 32) == (w >> 32)) ordered = false;
        tailRow = i;
        garbage += oldSize;
        maybeCompact();
    }
};

RecordStore::RecordStore() : impl_(new Impl) {}
RecordStore::~RecordStore() { delete impl_; }
RecordStore::RecordStore(RecordStore&& o) noexcept : impl_(std::exchange(o.impl_, new Impl)) {}
RecordStore& RecordStore::operator=(RecordStore&& o) noexcept {
    std::swap(impl_, o.impl_);
    o.impl_->clear();
    o.impl_->cols = 0;
    for (auto* ob : observers_) ob->tableReset();
    return *this;
}

int RecordStore::rowCount() const { return impl_->rows; }
int RecordStore::columnCount() const { return impl_->cols; }

void RecordStore::setRowCount(int rows) {
    Impl& m = *impl_;
    if (rows < 0) rows = 0;
    if (rows == m.rows) return;
    if (rows > m.rows) {
        int first = m.rows + 1;
        m.where.reserve(static_cast<std::size_t>(rows));
        while (m.rows < rows) m.appendEmpty();
        for (auto* o : observers_) o->rowsAppended(first, rows);
        return;
    }
    if (rows == 0) {
        int cols = m.cols;
        m.clear();
        m.cols = cols;
    } else {
        for (int i = rows; i < m.rows; ++i) m.garbage += Impl::recordSize(m.row(i));
        m.where.resize(static_cast<std::size_t>(rows));
        m.rows = rows;
        if (m.tailRow >= rows) m.tailRow = -1;
        m.ordered = false;  // rows appended later would follow the dropped ones' bytes
        m.invalidateCursor();
        m.maybeCompact();
    }
    for (auto* o : observers_) o->tableReset();
}

void RecordStore::setColumnCount(int columns) {
    Impl& m = *impl_;
    if (columns < 0) columns = 0;
    if (columns == m.cols) return;
    if (columns < m.cols && m.rows > 0) m.compact(static_cast<std::uint64_t>(columns));
    m.cols = columns;
    for (auto* o : observers_) o->tableReset();
}

void RecordStore::appendRow() {
    impl_->appendEmpty();
    impl_->invalidateCursor();
    int r = impl_->rows;
    for (auto* o : observers_) o->rowsAppended(r, r);
}

std::string_view RecordStore::cell(int row, int column) const {
    const Impl& m = *impl_;
    if (row < 1 || row > m.rows || column < 1 || column > m.cols) return {};
    int i = row - 1;
    std::uint64_t n;
    const char* p = getVarint(m.row(i), n);
    if (static_cast<std::uint64_t>(column) > n) return {};
    int k = 1;
    if (m.curRow == i && m.curCol <= column) {
        p = m.curPos;
        k = m.curCol;
    }
    for (; k < column; ++k) p = skipCell(p);
    m.curRow = i;
    m.curCol = column;
    m.curPos = p;
    std::uint64_t len;
    const char* text = getVarint(p, len);
    return {text, static_cast<std::size_t>(len)};
}

void RecordStore::setCell(int row, int column, std::string_view text) {
    Impl& m = *impl_;
    if (row < 1 || row > m.rows || column < 1 || column > m.cols) return;
    m.set(row - 1, static_cast<std::uint64_t>(column), text);
    for (auto* o : observers_) o->cellChanged(row, column);
}

std::string_view RecordStore::rowRecord(int row) const {
    const Impl& m = *impl_;
    if (row < 1 || row > m.rows) return {};
    const int i = row - 1;
    const char* p = m.row(i);
    if (m.ordered && i + 1 < m.rows) {
        std::uint64_t here = m.where[static_cast<std::size_t>(i)];
        std::uint64_t next = m.where[static_cast<std::size_t>(i) + 1];
        if ((here >> 32) == (next >> 32)) return {p, static_cast<std::size_t>(next - here)};
    }
    return {p, Impl::recordSize(p)};
}

std::size_t RecordStore::validRecordSize(std::string_view bytes, int columns) {
    if (columns < 0) columns = 0;
    return checkedRecordSize(bytes.data(), bytes.data() + bytes.size(), static_cast<std::uint64_t>(columns));
}

bool RecordStore::appendRowRecords(std::string_view records, std::size_t count) {
    Impl& m = *impl_;
    // Every record takes at least one byte: a count the bytes cannot hold is refused
    // before anything is reserved for it.
    if (count > records.size() || count > static_cast<std::size_t>(INT_MAX - m.rows)) return false;
    if (count == 0) return records.empty();
    const std::size_t rows0 = m.where.size();
    const std::size_t chunks0 = m.chunks.size();
    const std::uint32_t used0 = chunks0 ? m.chunks.back().used : 0;
    m.invalidateCursor();
    // Back to exactly the table there was: the rows placed so far are forgotten.
    auto undo = [&] {
        m.where.resize(rows0);
        m.chunks.resize(chunks0);
        if (chunks0) m.chunks.back().used = used0;
    };

    // Records are checked one by one and copied in runs, one copy per chunk filled.
    const char* p = records.data();
    const char* const end = p + records.size();
    const char* run = p;
    const auto cols = static_cast<std::uint64_t>(m.cols);
    bool ok = true;
    try {
        m.where.reserve(rows0 + count);
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t n = checkedRecordSize(p, end, cols);
            if (n == 0) {
                ok = false;
                break;
            }
            auto runBytes = static_cast<std::size_t>(p - run);
            if (m.freeInLast() - runBytes < n) {  // the run always fits what is free
                if (runBytes) {
                    Chunk& last = m.chunks.back();
                    std::memcpy(last.base + last.used, run, runBytes);
                    last.used += static_cast<std::uint32_t>(runBytes);
                }
                run = p;
                runBytes = 0;
                m.reserveAtEnd(n);
            }
            m.where.push_back((static_cast<std::uint64_t>(m.chunks.size() - 1) << 32) |
                              (m.chunks.back().used + runBytes));
            p += n;
        }
    } catch (...) {
        undo();
        throw;
    }
    if (!ok || p != end) {
        undo();
        return false;
    }
    if (p != run) {
        Chunk& last = m.chunks.back();
        std::memcpy(last.base + last.used, run, static_cast<std::size_t>(p - run));
        last.used += static_cast<std::uint32_t>(p - run);
    }
    int first = m.rows + 1;
    m.rows += static_cast<int>(count);
    m.tailRow = m.rows - 1;
    for (auto* o : observers_) o->rowsAppended(first, m.rows);
    return true;
}

bool RecordStore::adoptRowRecords(std::string&& bytes, std::size_t offset, std::size_t length, std::size_t count) {
    if (offset > bytes.size() || length > bytes.size() - offset) return false;
    std::string_view records(bytes.data() + offset, length);
    // Offsets within a chunk are 32-bit.
    if (bytes.size() < kAdoptFrom || offset + length > 0xFFFFFFFFu) return appendRowRecords(records, count);
    Impl& m = *impl_;
    if (count > length || count > static_cast<std::size_t>(INT_MAX - m.rows)) return false;
    const std::size_t rows0 = m.where.size();
    const std::uint64_t chunk = static_cast<std::uint64_t>(m.chunks.size()) << 32;
    m.invalidateCursor();
    const char* const base = bytes.data();
    const char* p = records.data();
    const char* const end = p + length;
    const auto cols = static_cast<std::uint64_t>(m.cols);
    auto holder = std::make_unique<std::string>();
    m.chunks.reserve(m.chunks.size() + 1);  // taking the bytes over cannot fail below
    m.where.reserve(rows0 + count);
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t n = checkedRecordSize(p, end, cols);
        if (n == 0) {
            m.where.resize(rows0);
            return false;
        }
        m.where.push_back(chunk | static_cast<std::uint64_t>(p - base));
        p += n;
    }
    if (p != end) {
        m.where.resize(rows0);
        return false;
    }
    if (count == 0) return true;
    Chunk c;
    *holder = std::move(bytes);
    c.adopted = std::move(holder);
    c.base = c.adopted->data();
    // The bytes after the records are never handed out; nothing is appended here.
    c.capacity = c.used = static_cast<std::uint32_t>(offset + length);
    m.chunks.push_back(std::move(c));
    int first = m.rows + 1;
    m.rows += static_cast<int>(count);
    m.tailRow = m.rows - 1;
    for (auto* o : observers_) o->rowsAppended(first, m.rows);
    return true;
}

void RecordStore::replaceWith(RecordStore&& other) {
    std::swap(impl_, other.impl_);
    other.impl_->clear();
    other.impl_->cols = 0;
    for (auto* o : observers_) o->tableReset();
}

std::size_t RecordStore::memoryBytes() const {
    const Impl& m = *impl_;
    std::size_t bytes = sizeof(Impl) + m.chunks.capacity() * sizeof(Chunk) +
                        m.where.capacity() * sizeof(std::uint64_t) + m.scratch.capacity();
    for (const Chunk& c : m.chunks) bytes += c.adopted ? c.adopted->capacity() : c.capacity;
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
void DataSource::applyStyle(std::uint32_t colour, int number, bool flag) { style_ = {colour, number, flag, true}; }

bool DataSource::save(Files& files, const std::string& name, std::string* error) const {
    if (!store_) {
        if (error) *error = "数据表未绑定";
        return false;
    }
    std::string why;
    std::unique_ptr<OutFile> out = files.createAtomic(name, &why);
    if (!out) {
        if (error) *error = "无法创建文件：" + why;
        return false;
    }
    bool ok = tablefile::write(*store_, [&out](std::string_view bytes) { return out->write(bytes); });
    if (!ok) {
        // Dropping the unfinished file leaves whatever was under the name untouched.
        if (error) *error = "写入文件失败（磁盘可能已满），原文件未改动";
        return false;
    }
    if (!out->commit(&why)) {
        if (error) *error = "无法完成保存：" + why + "，原文件未改动";
        return false;
    }
    return true;
}

bool DataSource::load(Files& files, const std::string& name, std::string* error) {
    if (!store_) {
        if (error) *error = "数据表未绑定";
        return false;
    }
    auto unreadable = [error](std::string why) {
        if (error) *error = why.empty() ? "无法读取文件（文件不存在或没有权限）" : std::move(why);
        return false;
    };
    // Nothing here may end the program: a table too large for memory is refused like
    // any other bad file, and the old table is let go only once the new one is built.
    try {
        RecordStore loaded;
        {
            // The header and the size first: a file that cannot be a table, or not one
            // this program could hold, is refused before any of its bulk is read.
            std::string why;
            std::uint64_t size = 0;
            std::optional<std::string> head = files.readPrefix(name, tablefile::kHeaderSize, &why, &size);
            if (!head) return unreadable(std::move(why));
            if (!tablefile::checkHeader(*head, size, error)) return false;
            std::optional<std::string> bytes = files.readAll(name, tablefile::kMaxFileSize, &why);
            if (!bytes) return unreadable(std::move(why));
            // The file's bytes become the new table's, not copied: the old table, the
            // bytes and a copy of them are never held at once. The old table goes only
            // once the whole file is known good.
            if (!tablefile::readOwned(std::move(*bytes), loaded, error,
                                      [this] { store_->replaceWith(RecordStore{}); })) {
                return false;
            }
        }
        store_->replaceWith(std::move(loaded));
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    if (error) *error = "内存不足，无法读入这么大的数据表";
    return false;
}

}  // namespace keldrin
