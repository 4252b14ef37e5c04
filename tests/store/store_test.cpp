#include <gtest/gtest.h>

#include <new>
#include <random>
#include <string>
#include <vector>

#include "store/record_store.h"
#include "store/table_file.h"

namespace keldrin {
namespace {

struct CountingObserver : StoreObserver {
    std::vector<std::pair<int, int>> appended;
    std::vector<std::pair<int, int>> changed;
    int resets = 0;
    void rowsAppended(int first, int last) override { appended.emplace_back(first, last); }
    void cellChanged(int row, int column) override { changed.emplace_back(row, column); }
    void tableReset() override { ++resets; }
};

std::string typicalTime(int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "2026-12-08 10:%02d:%02d.%03d", (i / 60000) % 60, (i / 1000) % 60, i % 1000);
    return buf;
}

void appendTypicalRow(RecordStore& s, int i) {
    s.appendRow();
    int r = s.rowCount();
    s.setCell(r, 1, typicalTime(i));
    for (int c = 2; c <= 9; ++c) s.setCell(r, c, "-12.345");
}

TEST(RecordStore, AppendToEmptyNineColumnTableGivesNineEmptyCells) {
    RecordStore s;
    s.setRowCount(0);
    s.setColumnCount(9);
    s.appendRow();
    ASSERT_EQ(s.rowCount(), 1);
    ASSERT_EQ(s.columnCount(), 9);
    for (int c = 1; c <= 9; ++c) EXPECT_EQ(s.cell(1, c), "");
    // Outside the table: the empty text, and writes are ignored.
    EXPECT_EQ(s.cell(0, 1), "");
    EXPECT_EQ(s.cell(2, 1), "");
    EXPECT_EQ(s.cell(1, 10), "");
    s.setCell(1, 10, "x");
    s.setCell(2, 1, "x");
    EXPECT_EQ(s.rowCount(), 1);
    EXPECT_EQ(s.cell(1, 10), "");
}

TEST(RecordStore, OnlyTheNewestRowTakesCellsAndItKeepsThemExactly) {
    RecordStore s;
    s.setColumnCount(9);
    for (int i = 0; i < 3000; ++i) appendTypicalRow(s, i);
    // The newest row rewritten in place: longer, shorter, emptied, out of order.
    s.setCell(3000, 5, "a much longer text than before, with 中文");
    s.setCell(3000, 9, "");
    s.setCell(3000, 1, "x");
    s.setCell(3000, 3, "");
    s.setCell(3000, 2, "1.5");
    EXPECT_EQ(s.cell(3000, 1), "x");
    EXPECT_EQ(s.cell(3000, 2), "1.5");
    EXPECT_EQ(s.cell(3000, 3), "");
    EXPECT_EQ(s.cell(3000, 4), "-12.345");
    EXPECT_EQ(s.cell(3000, 5), "a much longer text than before, with 中文");
    EXPECT_EQ(s.cell(3000, 9), "");
    // Older rows are the record of the past: a write to one changes nothing.
    CountingObserver o;
    s.addObserver(&o);
    s.setCell(10, 5, "changed");
    s.setCell(2999, 1, "changed");
    EXPECT_TRUE(o.changed.empty());
    EXPECT_EQ(s.cell(10, 5), "-12.345");
    EXPECT_EQ(s.cell(2999, 1), typicalTime(2998));
    EXPECT_EQ(s.cell(11, 1), typicalTime(10));
    // The next row starts where the rewritten one ends, and is not confused with it.
    appendTypicalRow(s, 3000);
    s.setCell(3001, 9, "z");
    EXPECT_EQ(s.cell(3001, 9), "z");
    EXPECT_EQ(s.cell(3000, 5), "a much longer text than before, with 中文");
}

// Every row's cells as forEachRow gives them, padded to columns.
std::vector<std::vector<std::string>> rowsOf(const RecordStore& s) {
    std::vector<std::vector<std::string>> rows;
    s.forEachRow([&](RowCells cells) {
        EXPECT_LE(cells.size(), static_cast<std::size_t>(s.columnCount()));
        rows.emplace_back();
        for (int c = 1; c <= s.columnCount(); ++c) rows.back().emplace_back(cells.next());
        EXPECT_EQ(cells.size(), 0u);
        EXPECT_EQ(cells.next(), "");  // and empty past them
        return true;
    });
    return rows;
}

// Random operations against a plain reference table: rows appended and their cells
// set in any order and size (rows moving to a fresh chunk among them), both counts
// shrunk and grown, the whole table replaced by what its own file reads back.
TEST(RecordStore, MatchesAPlainTableUnderRandomOperations) {
    RecordStore s;
    std::vector<std::vector<std::string>> ref;
    int cols = 9;
    s.setColumnCount(cols);
    std::mt19937 rng(12345);
    auto randomText = [&rng] {
        static const std::string pieces[] = {"", "0.000", "-12.345", "温度", std::string(300, 'x'), "a,b\r\n",
                                             std::string("\0z", 2), std::string(5000, 'w')};
        return pieces[rng() % std::size(pieces)];
    };
    auto check = [&] {
        ASSERT_EQ(s.rowCount(), static_cast<int>(ref.size()));
        ASSERT_EQ(s.columnCount(), cols);
        for (int r = 1; r <= s.rowCount(); ++r) {
            for (int c = 1; c <= cols + 1; ++c) {
                std::string want = c <= cols ? ref[r - 1][c - 1] : "";
                ASSERT_EQ(s.cell(r, c), want) << "row " << r << " column " << c;
            }
        }
        ASSERT_EQ(rowsOf(s), ref);
    };
    for (int step = 0; step < 40000; ++step) {
        int op = static_cast<int>(rng() % 1000);
        if (op < 300 || ref.empty()) {
            s.appendRow();
            ref.emplace_back(cols);
        } else if (op < 990) {
            int c = static_cast<int>(rng() % cols) + 1;
            std::string t = randomText();
            s.setCell(s.rowCount(), c, t);
            ref.back()[c - 1] = t;
        } else if (op < 995) {
            int n = static_cast<int>(rng() % (ref.size() + 5));
            s.setRowCount(n);
            ref.resize(n, std::vector<std::string>(cols));
        } else if (op < 998) {
            int n = 1 + static_cast<int>(rng() % 12);
            s.setColumnCount(n);
            for (auto& row : ref) row.resize(n);
            cols = n;
        } else {  // read back from its own file, to go on from there
            ASSERT_EQ(tablefile::read(tablefile::encode(s), s), tablefile::Refusal::None);
        }
        if (step % 4000 == 0) check();
    }
    check();
}

TEST(RecordStore, ShrinkingColumnsDropsTheirCellsForGood) {
    RecordStore s;
    s.setColumnCount(9);
    appendTypicalRow(s, 0);
    s.setColumnCount(3);
    s.setColumnCount(9);
    EXPECT_EQ(s.cell(1, 3), "-12.345");
    EXPECT_EQ(s.cell(1, 4), "");
    s.setRowCount(0);
    s.setColumnCount(9);
    EXPECT_EQ(s.rowCount(), 0);
    s.appendRow();
    EXPECT_EQ(s.cell(1, 1), "");
}

TEST(RecordStore, ObserversHearOfEveryChange) {
    RecordStore s;
    CountingObserver o;
    s.addObserver(&o);
    s.setColumnCount(9);
    EXPECT_EQ(o.resets, 1);
    s.appendRow();
    s.appendRow();
    s.setCell(2, 3, "x");
    s.setRowCount(5);
    ASSERT_EQ(o.appended.size(), 3u);
    EXPECT_EQ(o.appended[0], std::make_pair(1, 1));
    EXPECT_EQ(o.appended[1], std::make_pair(2, 2));
    EXPECT_EQ(o.appended[2], std::make_pair(3, 5));
    ASSERT_EQ(o.changed.size(), 1u);
    EXPECT_EQ(o.changed[0], std::make_pair(2, 3));
    s.setRowCount(0);
    EXPECT_EQ(o.resets, 2);
    // Replaced by rows read from a file: once emptied, once filled, nothing per row.
    RecordStore other;
    other.setColumnCount(2);
    other.appendRow();
    other.setCell(1, 2, "y");
    ASSERT_EQ(tablefile::read(tablefile::encode(other), s), tablefile::Refusal::None);
    EXPECT_EQ(o.resets, 4);
    EXPECT_EQ(o.appended.size(), 3u);
    EXPECT_EQ(s.columnCount(), 2);
    EXPECT_EQ(s.rowCount(), 1);
    EXPECT_EQ(s.cell(1, 2), "y");
    s.removeObserver(&o);
    s.appendRow();
    EXPECT_EQ(o.appended.size(), 3u);
}

TEST(RecordStore, TypicalRowCostsAtMost160BytesAllOverheadIncluded) {
    RecordStore s;
    s.setColumnCount(9);
    std::size_t worst = 0;
    for (int i = 1; i <= 300000; ++i) {
        appendTypicalRow(s, i);
        // Checked at many sizes, not only at a lucky one just before a buffer grows;
        // below ten thousand rows the fixed overhead of the first chunks dominates.
        if (i >= 10000 && i % 997 == 0) worst = std::max(worst, s.memoryBytes() / static_cast<std::size_t>(i));
    }
    EXPECT_LE(worst, 160u);
    EXPECT_GE(s.memoryBytes(), 300000u * (23 + 8 * 7));  // honest: at least the texts
    s.setRowCount(0);
    EXPECT_LT(s.memoryBytes(), 4096u);  // clearing gives the memory back
}

// The size of the row at the front of bytes, as a table of columns columns holds them,
// or 0: one-byte numbers only, which is all these tests write.
std::size_t shortRowSize(std::string_view bytes, int columns) {
    if (bytes.empty() || static_cast<unsigned char>(bytes[0]) > columns) return 0;
    std::size_t at = 1;
    for (int n = static_cast<unsigned char>(bytes[0]); n > 0; --n) {
        if (at >= bytes.size() || static_cast<unsigned char>(bytes[at]) >= 0x80) return 0;
        at += 1 + static_cast<unsigned char>(bytes[at]);
    }
    return at <= bytes.size() ? at : 0;
}

TEST(RecordStore, RowsTakenOverAreCheckedOneByOneAndAllOrNothing) {
    RecordStore s;
    s.setColumnCount(9);
    for (int i = 1; i <= 3; ++i) appendTypicalRow(s, i);
    CountingObserver o;
    s.addObserver(&o);
    const std::string rows = std::string("\x02\x01" "a" "\x00", 4) + std::string("\x03\x00\x00\x02" "zz", 6) + std::string(1, '\0');
    auto size = [](std::string_view b) { return shortRowSize(b, 9); };
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t count;
    } refused[] = {
        {"more cells than columns", "##" + std::string("\x0A") + std::string(10, '\0'), 1},
        {"a length past the end", "##" + std::string("\x01\x05" "abc", 5), 1},
        {"bytes left over", "##" + rows + std::string(1, '\0'), 3},
        {"fewer rows than counted", "##" + rows, 4},
        {"nothing for one row", "##", 1},
    };
    for (Case& c : refused) {
        const std::string before = c.bytes;
        EXPECT_FALSE(s.replaceWithRows(9, c.count, std::move(c.bytes), 2, before.size() - 2, size)) << c.what;
        EXPECT_EQ(c.bytes, before) << c.what << ": refused bytes are left alone";
        ASSERT_EQ(s.rowCount(), 3) << c.what;
        EXPECT_EQ(s.cell(3, 1), typicalTime(3)) << c.what;
    }
    EXPECT_EQ(o.resets, 0);

    std::string bytes = "head" + rows + "tail";
    ASSERT_TRUE(s.replaceWithRows(9, 3, std::move(bytes), 4, rows.size(), size));
    EXPECT_EQ(o.resets, 2);
    ASSERT_EQ(s.rowCount(), 3);
    EXPECT_EQ(s.cell(1, 1), "a");
    EXPECT_EQ(s.cell(1, 2), "");
    EXPECT_EQ(s.cell(2, 3), "zz");
    EXPECT_EQ(s.cell(3, 1), "");
    std::string out;
    s.forEachRowBytes([&](std::string_view run) {
        out += run;
        return true;
    });
    EXPECT_EQ(out, rows);  // exactly the rows, not the bytes around them
    // The table goes on like any other: its newest row grows out of the bytes taken
    // over, and new rows follow.
    s.setCell(3, 4, std::string(500, 'n'));
    appendTypicalRow(s, 9);
    EXPECT_EQ(s.cell(3, 4), std::string(500, 'n'));
    EXPECT_EQ(s.cell(2, 3), "zz");
    EXPECT_EQ(s.cell(4, 1), typicalTime(9));
    s.setRowCount(2);
    appendTypicalRow(s, 10);
    EXPECT_EQ(s.cell(2, 3), "zz");
    EXPECT_EQ(s.cell(3, 1), typicalTime(10));
}

}  // namespace
}  // namespace keldrin
