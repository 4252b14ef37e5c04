// The table-file reader fed arbitrary bytes, twice: as they are, and with the checksum
// made to match, so that mutations reach the structure behind it. Each time the file is
// also parsed here, independently, and the reader must agree: it refuses exactly what
// this parse refuses (leaving the table it was to fill as it was), and a file it takes
// holds the cells parsed here. Read into an empty table or over one that holds rows,
// the table is written back byte for byte, and it stays right under a few edits.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/record_store.h"
#include "store/table_file.h"
#include "targets/targets.h"

namespace keldrin::fuzz {

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

std::uint64_t le(std::string_view b, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

// A varint in its shortest form, at most max.
bool varint(std::string_view& b, std::uint64_t max, std::uint64_t& v) {
    v = 0;
    for (int i = 0; i < 10; ++i) {
        if (b.empty()) return false;
        const auto byte = static_cast<unsigned char>(b[0]);
        b.remove_prefix(1);
        const std::uint64_t bits = byte & 0x7F;
        if (i == 9 && bits > 1) return false;  // past 64 bits
        v |= bits << (7 * i);
        if (!(byte & 0x80)) return (i == 0 || byte != 0) && v <= max;
    }
    return false;
}

using Cells = std::vector<std::string>;  // a row's stored cells; those past them are empty

struct Parsed {
    std::uint32_t cols = 0;
    std::vector<Cells> rows;
};

std::optional<Parsed> parse(std::string_view b) {
    const std::size_t size = b.size();
    if (size < 32 || b.substr(0, 8) != std::string_view("\x89KLDT\r\n\x1A", 8)) return std::nullopt;
    if (le(b, 8, 4) != 2 || b.substr(size - 12, 4) != "KEND") return std::nullopt;
    if (le(b, size - 8, 8) != tablefile::checksum(b.substr(0, size - 8))) return std::nullopt;
    const std::uint64_t rows = le(b, 12, 4);
    Parsed p;
    p.cols = static_cast<std::uint32_t>(le(b, 16, 4));
    if (p.cols > 16384) return std::nullopt;
    std::string_view rest = b.substr(20, size - 32);
    if (rows > rest.size()) return std::nullopt;
    for (std::uint64_t r = 0; r < rows; ++r) {
        std::uint64_t count;
        if (!varint(rest, p.cols, count)) return std::nullopt;
        Cells cells;
        for (std::uint64_t c = 0; c < count; ++c) {
            std::uint64_t n;
            if (!varint(rest, UINT64_MAX, n) || n > rest.size()) return std::nullopt;
            cells.emplace_back(rest.substr(0, n));
            rest.remove_prefix(n);
        }
        p.rows.push_back(std::move(cells));
    }
    if (!rest.empty()) return std::nullopt;
    return p;
}

// The table holds exactly these cells. Only the stored cells and the one after each row
// are looked at: a file may claim thousands of columns.
void expectCells(const RecordStore& t, std::uint32_t cols, const std::vector<Cells>& rows) {
    require(t.rowCount() == static_cast<int>(rows.size()) && t.columnCount() == static_cast<int>(cols));
    for (int r = 1; r <= t.rowCount(); ++r) {
        const Cells& cells = rows[static_cast<std::size_t>(r - 1)];
        require(cells.size() <= cols);
        for (std::size_t c = 1; c <= cells.size(); ++c) require(t.cell(r, static_cast<int>(c)) == cells[c - 1]);
        require(t.cell(r, static_cast<int>(cells.size()) + 1).empty());
    }
}

void setModel(std::vector<Cells>& rows, std::size_t r, std::size_t c, const std::string& text) {
    Cells& cells = rows[r - 1];
    if (cells.size() < c) {
        if (text.empty()) return;
        cells.resize(c);
    }
    cells[c - 1] = text;
}

// Edits after reading: the newest row rewritten in place (growing past its chunk's
// end), a row appended and filled, the table narrowed. The table follows a model of its
// cells and still round-trips.
void edit(RecordStore& t, Parsed& p) {
    std::vector<Cells>& rows = p.rows;
    const auto cols = static_cast<std::size_t>(p.cols);
    if (!rows.empty() && cols > 0) {
        t.setCell(t.rowCount(), 1, "x");
        setModel(rows, rows.size(), 1, "x");
        const std::string wide(5000, 'y');
        t.setCell(t.rowCount(), static_cast<int>(cols), wide);
        setModel(rows, rows.size(), cols, wide);
        if (rows.size() > 1) t.setCell(1, 1, "not the newest row");  // left alone
    }
    t.appendRow();
    rows.emplace_back();
    if (cols > 0) {
        const std::size_t c = std::min<std::size_t>(cols, 3);
        t.setCell(t.rowCount(), static_cast<int>(c), "z");
        setModel(rows, rows.size(), c, "z");
    }
    expectCells(t, p.cols, rows);
    if (cols > 1) {
        p.cols = static_cast<std::uint32_t>(cols / 2);
        t.setColumnCount(static_cast<int>(p.cols));
        for (Cells& cells : rows) {
            if (cells.size() > p.cols) cells.resize(p.cols);
        }
        expectCells(t, p.cols, rows);
    }
    const std::string again = tablefile::encode(t);
    RecordStore back;
    require(tablefile::read(again, back) == tablefile::Refusal::None);
    expectCells(back, p.cols, rows);
}

void check(const std::string& bytes) {
    std::optional<Parsed> parsed = parse(bytes);
    const bool headerOk = tablefile::checkHeader(std::string_view(bytes).substr(0, tablefile::kHeaderSize),
                                                 bytes.size()) == tablefile::Refusal::None;
    RecordStore table;
    const bool ok = tablefile::read(bytes, table) == tablefile::Refusal::None;
    require(ok == parsed.has_value());
    // The header check that comes before reading the bulk never refuses a good file.
    require(headerOk || !ok);

    // Over a table that holds rows: refused, the table stays; taken, it is replaced.
    RecordStore over;
    over.setColumnCount(3);
    over.appendRow();
    over.setCell(1, 2, "old");
    const bool okOver = tablefile::read(bytes, over) == tablefile::Refusal::None;
    require(okOver == ok);
    if (!ok) {
        require(table.rowCount() == 0);
        require(over.rowCount() == 1 && over.columnCount() == 3 && over.cell(1, 2) == "old");
        return;
    }
    for (RecordStore* t : {&table, &over}) {
        expectCells(*t, parsed->cols, parsed->rows);
        require(tablefile::encode(*t) == bytes);
    }
    edit(over, *parsed);
}

// Fed in pieces of any size, the checksum gives what one call over the whole does.
void pieces(std::string_view bytes) {
    tablefile::Checksum sum;
    std::size_t at = 0;
    for (std::size_t k = 0; at < bytes.size(); ++k) {
        const std::size_t piece = 1 + static_cast<unsigned char>(bytes[k % bytes.size()]) % 70;
        const std::size_t n = std::min(bytes.size() - at, piece);
        sum.update(bytes.substr(at, n));
        at += n;
    }
    require(sum.digest() == tablefile::checksum(bytes));
}

}  // namespace

void tableFileOne(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    check(bytes);
    pieces(bytes);
    if (bytes.size() >= 8) {
        std::uint64_t sum = tablefile::checksum(std::string_view(bytes).substr(0, bytes.size() - 8));
        for (int i = 0; i < 8; ++i) bytes[bytes.size() - 8 + static_cast<std::size_t>(i)] = static_cast<char>(sum >> (8 * i));
        check(bytes);
    }
}

}  // namespace keldrin::fuzz
