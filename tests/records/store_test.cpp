#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "records/record_store.h"

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
            // The raw record is exactly the row: not a byte of its neighbours or of garbage.
            std::string_view rec = s.rowRecord(r);
            ASSERT_EQ(RecordStore::validRecordSize(rec, cols), rec.size()) << "row " << r;
            RecordCells cells(rec);
            for (int c = 1; c <= cols; ++c) ASSERT_EQ(cells.next(), ref[r - 1][c - 1]) << "row " << r << " column " << c;
        }
    };
    for (int step = 0; step < 40000; ++step) {
        int op = static_cast<int>(rng() % 100);
        if (op < 30 || ref.empty()) {
            s.appendRow();
            ref.emplace_back(cols);
        } else if (op < 33) {  // a copy of a random row, as a file read would append it
            int r = static_cast<int>(rng() % ref.size()) + 1;
            ASSERT_TRUE(s.appendRowRecord(std::string(s.rowRecord(r))));
            ref.push_back(ref[r - 1]);
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

// Rows growing at the end, as recording does, with now and then a change further up or
// rows dropped: every raw record must stay exactly its row, whichever way its size is found.
TEST(RecordStore, RowRecordsStayExactWhileRowsGrowAtTheEnd) {
    RecordStore s;
    s.setColumnCount(9);
    std::vector<std::vector<std::string>> ref;
    std::mt19937 rng(777);
    const std::string texts[] = {"", "1.000", "-12.345", "温度", std::string(200, 'y'), std::string(5000, 'w')};
    for (int step = 0; step < 20000; ++step) {
        int op = static_cast<int>(rng() % 100);
        if (op < 45 || ref.empty()) {
            s.appendRow();
            ref.emplace_back(9);
        } else if (op < 95) {
            int r = static_cast<int>(ref.size()) - (op == 94 && rng() % 8 == 0 ? 1 : 0);  // mostly the newest row
            if (r < 1) r = 1;
            int c = static_cast<int>(rng() % 9) + 1;
            const std::string& t = texts[rng() % std::size(texts)];
            s.setCell(r, c, t);
            ref[r - 1][c - 1] = t;
        } else if (op < 96) {
            int n = static_cast<int>(rng() % (ref.size() + 1));
            s.setRowCount(n);
            ref.resize(n, std::vector<std::string>(9));
        } else {
            int r = static_cast<int>(rng() % ref.size()) + 1;
            ASSERT_TRUE(s.appendRowRecord(std::string(s.rowRecord(r))));
            ref.push_back(ref[r - 1]);
        }
        if (step % 100 == 0 || step == 19999) {
            for (int r = 1; r <= s.rowCount(); ++r) {
                std::string_view rec = s.rowRecord(r);
                ASSERT_EQ(RecordStore::validRecordSize(rec, 9), rec.size()) << "step " << step << " row " << r;
                RecordCells cells(rec);
                for (int c = 1; c <= 9; ++c) ASSERT_EQ(cells.next(), ref[r - 1][c - 1]) << "row " << r << "," << c;
            }
        }
    }
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

// Every row of from, record by record, as the table file carries them.
std::string allRecords(const RecordStore& from) {
    std::string out;
    for (int r = 1; r <= from.rowCount(); ++r) out.append(from.rowRecord(r));
    return out;
}

void expectSameCells(const RecordStore& a, const RecordStore& b) {
    ASSERT_EQ(a.rowCount(), b.rowCount());
    for (int r = 1; r <= a.rowCount(); ++r) {
        for (int c = 1; c <= a.columnCount() + 1; ++c) ASSERT_EQ(a.cell(r, c), b.cell(r, c)) << r << "," << c;
    }
}

TEST(RecordStore, RowRecordsCarryEveryRowIntoAnotherTableExactly) {
    RecordStore s;
    s.setColumnCount(12);
    for (int i = 0; i < 5000; ++i) appendTypicalRow(s, i);
    s.setCell(7, 12, "第十二列");
    s.setCell(8, 3, std::string(300, 'L'));  // a length of two varint bytes
    s.setCell(9, 9, "");                    // an empty cell kept inside the count
    s.appendRow();                          // a row with no cells at all
    s.setCell(2, 1, "rewritten elsewhere");  // its record leaves the arena's order

    CountingObserver o;
    RecordStore copy;
    copy.setColumnCount(12);
    copy.addObserver(&o);
    const std::string records = allRecords(s);
    ASSERT_TRUE(copy.appendRowRecords(records, static_cast<std::size_t>(s.rowCount())));
    ASSERT_EQ(o.appended.size(), 1u);
    EXPECT_EQ(o.appended[0], std::make_pair(1, s.rowCount()));
    expectSameCells(s, copy);
    EXPECT_EQ(allRecords(copy), records);

    // The copy goes on like any table: its newest row grows in place, old rows change.
    copy.setCell(copy.rowCount(), 4, "tail");
    copy.setCell(1, 1, "head");
    ASSERT_TRUE(copy.appendRowRecord(s.rowRecord(7)));
    EXPECT_EQ(copy.cell(copy.rowCount() - 1, 4), "tail");
    EXPECT_EQ(copy.cell(1, 1), "head");
    EXPECT_EQ(copy.cell(copy.rowCount(), 12), "第十二列");
    EXPECT_EQ(copy.cell(3, 2), "-12.345");

    // A large buffer taken over rather than copied reads the same and stays usable.
    std::string owned = "head" + records;
    RecordStore taken;
    taken.setColumnCount(12);
    ASSERT_TRUE(taken.adoptRowRecords(std::move(owned), 4, records.size(), static_cast<std::size_t>(s.rowCount())));
    expectSameCells(s, taken);
    taken.setCell(taken.rowCount(), 2, "grown");
    taken.setCell(3, 5, std::string(500, 'z'));
    taken.appendRow();
    taken.setCell(taken.rowCount(), 1, "new");
    EXPECT_EQ(taken.cell(taken.rowCount() - 1, 2), "grown");
    EXPECT_EQ(taken.cell(3, 5), std::string(500, 'z'));
    EXPECT_EQ(taken.cell(3, 6), "-12.345");
    EXPECT_EQ(taken.cell(taken.rowCount(), 1), "new");
}

TEST(RecordStore, MalformedRowRecordsAreRefusedAndTheTableLeftAsItWas) {
    RecordStore s;
    s.setColumnCount(9);
    appendTypicalRow(s, 1);
    const std::string before = allRecords(s);
    const std::string good = std::string("\x02\x01" "a" "\x00", 4);
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t count;
    } cases[] = {
        {"more cells than columns", std::string("\x0A") + std::string(10, '\0'), 1},
        {"a length past the end", std::string("\x01\x05" "abc", 5), 1},
        {"a length past the end of a long buffer", good + std::string("\x01\xFF\xFF\xFF\x0F" "x", 6), 2},
        {"an overlong cell count", std::string("\x81\x00", 2), 1},
        {"an overlong length", std::string("\x01\x80\x00", 3), 1},
        {"a truncated varint", std::string("\x01\x80", 2), 1},
        {"bytes left over", good + std::string(1, '\0'), 1},
        {"fewer records than counted", good, 2},
        {"more rows than bytes", good, 5},
        {"nothing for one row", "", 1},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(s.appendRowRecords(c.bytes, c.count)) << c.what;
        std::string owned = std::string(70000, '#') + c.bytes;  // large enough to be taken over
        EXPECT_FALSE(s.adoptRowRecords(std::move(owned), 70000, c.bytes.size(), c.count)) << c.what;
        EXPECT_EQ(owned.size(), 70000 + c.bytes.size()) << c.what << ": refused bytes are left alone";
        ASSERT_EQ(s.rowCount(), 1) << c.what;
        ASSERT_EQ(allRecords(s), before) << c.what;
    }
    EXPECT_EQ(RecordStore::validRecordSize(std::string("\x0A") + std::string(10, '\0'), 10), 11u);
    // After all those refusals the arena still appends where it should.
    ASSERT_TRUE(s.appendRowRecords(good + good, 2));
    appendTypicalRow(s, 2);
    EXPECT_EQ(s.cell(1, 9), "-12.345");
    EXPECT_EQ(s.cell(2, 1), "a");
    EXPECT_EQ(s.cell(3, 2), "");
    EXPECT_EQ(s.cell(4, 1), typicalTime(2));
}

}  // namespace
}  // namespace keldrin
