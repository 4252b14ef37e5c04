#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/record_store.h"

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

TEST(RecordStore, CellsOfOldAndNewRowsKeepTheirOwnTexts) {
    RecordStore s;
    s.setColumnCount(9);
    for (int i = 0; i < 3000; ++i) appendTypicalRow(s, i);
    // Rewrite a middle cell of an old row, longer and then shorter, out of order.
    s.setCell(10, 5, "a much longer text than before, with 中文");
    s.setCell(10, 9, "");
    s.setCell(10, 1, "x");
    s.setCell(3000, 3, "");  // the newest row, in place
    s.setCell(3000, 2, "1.5");
    EXPECT_EQ(s.cell(10, 1), "x");
    EXPECT_EQ(s.cell(10, 4), "-12.345");
    EXPECT_EQ(s.cell(10, 5), "a much longer text than before, with 中文");
    EXPECT_EQ(s.cell(10, 9), "");
    EXPECT_EQ(s.cell(9, 5), "-12.345");
    EXPECT_EQ(s.cell(11, 1), typicalTime(10));
    EXPECT_EQ(s.cell(3000, 2), "1.5");
    EXPECT_EQ(s.cell(3000, 3), "");
    EXPECT_EQ(s.cell(3000, 4), "-12.345");
    // A row appended after the rewrite of an older one is not confused with it.
    appendTypicalRow(s, 3000);
    s.setCell(3001, 9, "z");
    EXPECT_EQ(s.cell(3001, 9), "z");
    EXPECT_EQ(s.cell(10, 5), "a much longer text than before, with 中文");
}

// Random operations against a plain reference table: rewrites scattered over old rows
// (which leave garbage and trigger compaction), shrinking and growing both counts.
TEST(RecordStore, MatchesAPlainTableUnderRandomOperations) {
    RecordStore s;
    std::vector<std::vector<std::string>> ref;
    int cols = 9;
    s.setColumnCount(cols);
    std::mt19937 rng(12345);
    auto randomText = [&rng] {
        static const std::string pieces[] = {"", "0.000", "-12.345", "温度", std::string(300, 'x'), "a,b\r\n",
                                             std::string("\0z", 2)};
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
    };
    for (int step = 0; step < 40000; ++step) {
        int op = static_cast<int>(rng() % 100);
        if (op < 30 || ref.empty()) {
            s.appendRow();
            ref.emplace_back(cols);
        } else if (op < 97) {
            int r = static_cast<int>(rng() % ref.size()) + 1;
            int c = static_cast<int>(rng() % cols) + 1;
            std::string t = randomText();
            s.setCell(r, c, t);
            ref[r - 1][c - 1] = t;
        } else if (op < 98) {
            int n = static_cast<int>(rng() % (ref.size() + 5));
            s.setRowCount(n);
            ref.resize(n, std::vector<std::string>(cols));
        } else {
            int n = 1 + static_cast<int>(rng() % 12);
            s.setColumnCount(n);
            for (auto& row : ref) row.resize(n);
            cols = n;
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
    RecordStore other;
    other.setColumnCount(2);
    other.appendRow();
    other.setCell(1, 2, "y");
    s.replaceWith(std::move(other));
    EXPECT_EQ(o.resets, 3);
    EXPECT_EQ(s.columnCount(), 2);
    EXPECT_EQ(s.cell(1, 2), "y");
    EXPECT_EQ(other.rowCount(), 0);
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

}  // namespace
}  // namespace keldrin
