// The journal of unsaved rows: written as rows are recorded, emptied only by a
// successful save, export, emptying or read, and rescued as a CSV at the next start.
#include <gtest/gtest.h>

#include "platform/disk_files.h"
#include "records/journal.h"
#include "recording/unsaved_rows.h"
#include "support/harness.h"

namespace keldrin::test {
namespace {

journal::Recovered journalOf(Harness& h) { return journal::read(h.readFile(kJournalName).value_or("")); }

struct UnsavedRows : ::testing::Test {
    Harness h;
    void SetUp() override {
        h.start();
        h.boxes.shown.clear();  // the start-up's "连接失败"
        h.w.组合框3.setSelectedIndex(2);  // "1秒"
        h.w.时钟5.setInterval(1000);
        h.click(h.w.启动);
        h.advance(3000);
        h.click(h.w.启动);
        ASSERT_EQ(h.w.通用提供者1.rowCount(), 3);
    }
};

TEST_F(UnsavedRows, EveryRecordedRowIsInTheJournalWithItsHeadings) {
    const journal::Recovered r = journalOf(h);
    ASSERT_EQ(r.rows.size(), 3u);
    for (int row = 1; row <= 3; ++row) {
        for (int c = 1; c <= 9; ++c) {
            EXPECT_EQ(r.rows[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(c - 1)],
                      h.w.通用提供者1.cell(row, c));
        }
    }
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(r.headings[static_cast<std::size_t>(i - 1)], h.w.表(i).text());
    EXPECT_FALSE(r.tornTail);
}

TEST_F(UnsavedRows, OnlyASuccessfulSaveExportEmptyingOrReadEmptiesTheJournal) {
    const struct {
        const char* what;
        std::function<void(Harness&)> act;
        std::size_t rowsLeft;  // 0: emptied, else kept
    } cases[] = {
        {"failed save", [](Harness& x) { x.fileDialog.answers = {std::string("no/such/folder/t")}; x.click(x.w.存到文件按钮); }, 3},
        {"failed export", [](Harness& x) { x.fileDialog.answers = {std::string("no/such/folder/e")}; x.click(x.w.按钮6); }, 3},
        {"failed read", [](Harness& x) { x.fileDialog.answers = {std::string("missing")}; x.click(x.w.从文件读按钮); }, 3},
        {"emptying cancelled", [](Harness& x) { x.boxes.answers = {Answer::Cancel}; x.click(x.w.清空按钮); }, 3},
        {"save", [](Harness& x) { x.fileDialog.answers = {std::string("t")}; x.click(x.w.存到文件按钮); }, 0},
        {"export", [](Harness& x) { x.fileDialog.answers = {std::string("e")}; x.click(x.w.按钮6); }, 0},
        {"read", [](Harness& x) { x.fileDialog.answers = {std::string("t")}; x.click(x.w.从文件读按钮); }, 0},
        {"emptying", [](Harness& x) { x.click(x.w.清空按钮); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.rowsLeft == 0 && journalOf(h).rows.empty()) {
            // Put rows back after the previous case emptied it.
            h.click(h.w.启动);
            h.advance(1000);
            h.click(h.w.启动);
        }
        const std::size_t before = journalOf(h).rows.size();
        ASSERT_GT(before, 0u);
        c.act(h);
        EXPECT_EQ(journalOf(h).rows.size(), c.rowsLeft == 0 ? 0u : before);
    }
    EXPECT_TRUE(std::none_of(h.boxes.shown.begin(), h.boxes.shown.end(),
                             [](const ShownBox& b) { return b.icon == Icon::Warning; }));
}

TEST(UnsavedRowsAtStart, RowsLeftByACrashAreRescuedInTheExportLayoutAndTheJournalStartsAfresh) {
    Harness h;
    std::array<std::string, 8> headings{"1", "2", "3", "4", "5", "6", "7", "8"};
    std::string file = journal::header() + journal::headingsRecord(headings);
    const std::vector<std::vector<std::string>> rows{
        {"2026-12-08 09:00:00.000", "1.500", "", "-2.250", "", "", "", "", ""},
        {"2026-12-08 09:00:00.100", "1.501", "", "-2.249", "", "", "", "", ""}};
    for (const auto& row : rows) {
        std::vector<std::string_view> cells(row.begin(), row.end());
        file += journal::rowRecord(cells);
    }
    file += journal::rowRecord(std::vector<std::string_view>{"torn"}).substr(0, 7);  // a power cut mid-row
    h.writeFile(kJournalName, file);
    h.start();
    ASSERT_EQ(h.boxes.shown.size(), 2u);  // "连接失败", then the rescue
    const std::string name = "恢复记录_20261208_100000.csv";
    EXPECT_EQ(h.boxes.shown[1].text, "上次运行未保存的记录已恢复。\r\n共 2 行，文件路径为：" + name);
    EXPECT_EQ(h.boxes.shown[1].icon, Icon::Information);
    EXPECT_TRUE(journalOf(h).rows.empty());

    // Byte for byte what an export of the same rows writes.
    for (const auto& row : rows) {
        h.w.通用提供者1.appendRow();
        for (int c = 1; c <= 9; ++c) h.w.通用提供者1.setCell(h.w.通用提供者1.rowCount(), c, row[static_cast<std::size_t>(c - 1)]);
    }
    h.fileDialog.answers = {std::string("same")};
    h.click(h.w.按钮6);
    ASSERT_TRUE(h.readFile("same.csv").has_value());
    EXPECT_EQ(h.readFile(name), h.readFile("same.csv"));
}

TEST(UnsavedRowsAtStart, ASecondProgramInTheFolderRecordsInMemoryAndSaysSoOnce) {
    Harness h;
    DiskFiles first(h.path("."));
    std::unique_ptr<JournalFile> held = first.openJournal(kJournalName, nullptr);
    ASSERT_NE(held, nullptr);
    h.start();
    ASSERT_EQ(h.boxes.shown.size(), 2u);
    EXPECT_EQ(h.boxes.shown[1].icon, Icon::Warning);
    EXPECT_EQ(h.boxes.shown[1].text.rfind("另一个Keldrin正在本文件夹中记录。", 0), 0u) << h.boxes.shown[1].text;
    h.w.时钟5.setInterval(1000);
    h.w.组合框3.setSelectedIndex(2);
    h.click(h.w.启动);
    h.advance(3000);
    EXPECT_EQ(h.w.通用提供者1.rowCount(), 3);
    EXPECT_EQ(h.boxes.shown.size(), 2u);
    EXPECT_TRUE(journal::read(h.readFile(kJournalName).value_or("")).rows.empty());  // the first one's, untouched
}

}  // namespace
}  // namespace keldrin::test
