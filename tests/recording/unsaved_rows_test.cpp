// The journal of unsaved rows: written as rows are recorded, emptied only by a
// successful save, export, emptying or read, and rescued as a CSV at the next start.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "common/messages.h"
#include "platform/disk_files.h"
#include "store/journal.h"
#include "recording/unsaved_rows.h"
#include "support/full_disk.h"
#include "support/harness.h"
#include "support/watched_files.h"

namespace keldrin::test {
namespace {

journal::Recovered journalOf(Harness& h) { return journal::read(h.readFile(kJournalName).value_or("")); }

// A journal as a previous run leaves it, with rows rows.
std::string journalWithRows(int rows) {
    std::string file = journal::header() + journal::headingsRecord({"1", "2", "3", "4", "5", "6", "7", "8"});
    for (int i = 0; i < rows; ++i) {
        const std::string time = "2026-12-08 09:00:0" + std::to_string(i) + ".000";
        file += journal::rowRecord(std::vector<std::string_view>{time, "1.500", "", "", "", "", "", "", ""});
    }
    return file;
}

const std::string kRescueCsv = "恢复记录_20261208_100000.csv";

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
        {"export failing part-way",
         [](Harness& x) {
             FullDiskFiles full(x.files, 40);
             Services s{x.port, x.boxes, x.fileDialog, x.clock, x.beeper, x.screen, full, x.gbk, x.dialogs, x.dispatcher, x.later, x.publisher};
             App exporting{x.g, x.w, s};
             x.fileDialog.answers = {std::string("part")};
             x.dispatcher.post([&] { 按钮6_clicked(exporting); });
         },
         3},
        {"save", [](Harness& x) { x.fileDialog.answers = {std::string("t")}; x.click(x.w.存到文件按钮); }, 0},
        {"reading cancelled over unsaved rows",
         [](Harness& x) {
             x.fileDialog.answers = {std::string("t")};  // saved by the case before
             x.boxes.answers = {Answer::Cancel};
             x.click(x.w.从文件读按钮);
         },
         3},
        {"export", [](Harness& x) { x.fileDialog.answers = {std::string("e")}; x.click(x.w.按钮6); }, 0},
        {"read", [](Harness& x) { x.fileDialog.answers = {std::string("t")}; x.click(x.w.从文件读按钮); }, 0},
        {"emptying", [](Harness& x) { x.click(x.w.清空按钮); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (journalOf(h).rows.empty()) {
            // Put rows back after the previous case emptied it.
            h.click(h.w.启动);
            h.advance(1000);
            h.click(h.w.启动);
        }
        const std::size_t before = journalOf(h).rows.size();
        ASSERT_GT(before, 0u);
        SCOPED_TRACE(before);
        c.act(h);
        EXPECT_EQ(journalOf(h).rows.size(), c.rowsLeft == 0 ? 0u : before);
    }
    EXPECT_TRUE(std::none_of(h.boxes.shown.begin(), h.boxes.shown.end(),
                             [](const ShownBox& b) { return b.icon == Icon::Warning; }));
    // The journal restarted by the last emptying names the headings again before its
    // first row.
    h.click(h.w.启动);
    h.advance(1000);
    const journal::Recovered r = journalOf(h);
    ASSERT_EQ(r.rows.size(), 1u);
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(r.headings[static_cast<std::size_t>(i - 1)], h.w.表(i).text());
}

// Deleted, or renamed away and replaced, while recording: the next row makes it again
// with every row not yet saved, and the operator hears of it once.
TEST_F(UnsavedRows, AJournalDeletedOrReplacedIsMadeAgainWithEveryUnsavedRow) {
    const std::string path = h.path(kJournalName);
    const struct {
        const char* what;
        std::function<void()> act;
    } cases[] = {
        {"deleted", [&] { ASSERT_TRUE(QFile::remove(QString::fromStdString(path))); }},
        {"replaced", [&] {
             ASSERT_TRUE(QFile::rename(QString::fromStdString(path), QString::fromStdString(path + ".away")));
             h.writeFile(kJournalName, journalWithRows(20));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.act();
        h.click(h.w.启动);
        h.advance(2000);
        h.click(h.w.启动);
        const journal::Recovered r = journalOf(h);
        ASSERT_EQ(r.rows.size(), static_cast<std::size_t>(h.w.通用提供者1.rowCount()));
        for (std::size_t i = 0; i < r.rows.size(); ++i) {
            EXPECT_EQ(r.rows[i][0], h.w.通用提供者1.cell(static_cast<int>(i) + 1, 1));
        }
        // Made again with its headings, or a rescue of it would lose the columns' names.
        for (int i = 1; i <= 8; ++i) EXPECT_EQ(r.headings[static_cast<std::size_t>(i - 1)], h.w.表(i).text()) << i;
    }
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, msg::kJournalRecreated);
    EXPECT_EQ(h.boxes.shown[0].icon, Icon::Warning);
}

// A full disk while recording: the warning comes once (from inside 时钟5's tick, with
// rows still recorded while it is open); a save empties the journal even while the disk
// is full; once there is room again the journal is made again with every unsaved row.
TEST(UnsavedRowsFullDisk, AFailedWriteIsRetriedAndASaveStillEmptiesTheJournal) {
    Harness h;
    bool diskFull = false;
    FullDiskFiles full(h.files, SIZE_MAX);
    full.journalFull = &diskFull;
    Services services{h.port, h.boxes, h.fileDialog, h.clock, h.beeper, h.screen, full, h.gbk, h.dialogs, h.dispatcher, h.later, h.publisher};
    Program p(services);
    for (Timer* t : p.w.timers()) h.time.watch(*t);
    p.start();
    h.time.advance(0);
    h.boxes.shown.clear();
    auto table = [&] { return p.w.通用提供者1.rowCount(); };
    h.dispatcher.post([&] {
        p.w.组合框3.setSelectedIndex(2);
        p.w.时钟5.setInterval(1000);
        p.w.启动.clicked();
    });
    h.advance(2000);
    diskFull = true;
    h.boxes.whileOpen = [&] { h.advance(3000); };
    h.advance(1000);
    h.boxes.whileOpen = nullptr;
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, msg::kJournalWriteFailed);
    EXPECT_EQ(table(), 6);
    EXPECT_EQ(journalOf(h).rows.size(), 2u);

    diskFull = false;
    h.advance(20000);
    EXPECT_EQ(journalOf(h).rows.size(), static_cast<std::size_t>(table()));

    diskFull = true;
    h.advance(1000);
    h.fileDialog.answers = {std::string("saved.tbl")};
    h.dispatcher.post([&] { p.w.存到文件按钮.clicked(); });
    EXPECT_TRUE(journalOf(h).rows.empty());
    h.advance(3000);
    EXPECT_TRUE(journalOf(h).rows.empty());
    diskFull = false;
    h.advance(20000);
    EXPECT_EQ(journalOf(h).rows.size(), 23u);
    EXPECT_EQ(h.boxes.shown.size(), 2u);  // the warning, and the save's own box
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

// Journals a hostile folder may hold: each ends with no row lost, none rescued twice,
// no hang and an honest box.
TEST(UnsavedRowsAtStart, EveryJournalFoundIsRescuedOnceOrRefusedWithoutWaiting) {
    const std::string aside = "未保存记录_损坏_20261208_100000.dat";
    const std::string earlier = "恢复记录_20261207_090000.csv";
    struct Case {
        const char* what;
        std::function<bool(Harness&)> make;  // false: cannot be set up here
        std::string box;                     // after "连接失败"; empty: none
        std::vector<std::string> present, absent;
    } cases[] = {
#ifdef Q_OS_UNIX
        {"a FIFO (opening it would wait for a writer)",
         [](Harness& h) { return ::mkfifo(h.path(kJournalName).c_str(), 0600) == 0; },
         std::string(msg::kJournalNotRegular), {}, {kRescueCsv}},
        {"a link to a device",
         [](Harness& h) { return ::symlink("/dev/zero", h.path(kJournalName).c_str()) == 0; },
         std::string(msg::kJournalNotRegular), {}, {kRescueCsv}},
#endif
        {"a damaged header: its rows rescued, the file kept aside",
         [](Harness& h) {
             h.writeFile(kJournalName, "DAMAGED!" + journalWithRows(2).substr(journal::kHeaderSize));
             return true;
         },
         msg::rescued(kRescueCsv, 2, 0) + "\r\n" + msg::journalKeptAside(aside), {kRescueCsv, aside}, {}},
        {"an old lock file that is a folder",
         [](Harness& h) {
             h.writeFile(kJournalName, journalWithRows(2));
             return QDir(h.dir.path()).mkdir(QString::fromStdString(std::string(kJournalName) + ".lock"));
         },
         msg::rescued(kRescueCsv, 2, 0), {kRescueCsv}, {}},
        {"rows a killed run had rescued already",
         [&](Harness& h) {
             h.writeFile(earlier, "complete");
             h.writeFile(kJournalName, journalWithRows(2) + journal::keptRecord(earlier));
             return true;
         },
         msg::rescued(earlier, 2, 0), {earlier}, {kRescueCsv}},
        {"rows whose rescue file never appeared",
         [](Harness& h) {
             h.writeFile(kJournalName, journalWithRows(2) + journal::keptRecord("恢复记录_20261207_090000.csv"));
             return true;
         },
         msg::rescued(kRescueCsv, 2, 0), {kRescueCsv}, {earlier}},
        {"a second rescue within the same second",
         [](Harness& h) {
             h.writeFile(kRescueCsv, "first");
             h.writeFile(kJournalName, journalWithRows(3));
             return true;
         },
         msg::rescued("恢复记录_20261208_100000_1.csv", 3, 0), {kRescueCsv, "恢复记录_20261208_100000_1.csv"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h;
        if (!c.make(h)) {
            ADD_FAILURE() << "could not set up";
            continue;
        }
        h.start();
        ASSERT_EQ(h.boxes.shown.size(), c.box.empty() ? 1u : 2u);
        if (!c.box.empty()) {
            EXPECT_EQ(h.boxes.shown[1].text, c.box);
        }
        for (const std::string& f : c.present) EXPECT_TRUE(h.files.exists(f)) << f;
        for (const std::string& f : c.absent) EXPECT_FALSE(h.files.exists(f)) << f;
        if (c.box.rfind("上次运行", 0) == 0) {
            const journal::Recovered left = journalOf(h);
            EXPECT_FALSE(left.badHeader);
            EXPECT_TRUE(left.rows.empty());
        }
    }
}

// What reaches the disk, in order: the note naming the rescue file is synced before the
// file takes its name, and the journal made again afterwards is synced before it takes
// the journal's name. A power cut between any two steps leaves the rows in the journal
// or in the rescue file, once.
TEST(UnsavedRowsAtStart, EachStepOfARescueIsOnTheDiskBeforeTheNextTakesAName) {
    Harness h;
    h.writeFile(kJournalName, journalWithRows(3));
    WatchedFiles watched;
    DiskFiles files(h.dir.path().toStdString(), watched);
    Services services{h.port, h.boxes, h.fileDialog, h.clock, h.beeper, h.screen, files, h.gbk, h.dialogs, h.dispatcher, h.later, h.publisher};
    Program p(services);
    p.start();
    h.time.advance(0);
    ASSERT_TRUE(h.files.exists(kRescueCsv));
    const std::vector<std::string> calls = watched.calls();
    const auto index = [&](auto matches, std::ptrdiff_t from = 0) {
        const auto it = std::find_if(calls.begin() + from, calls.end(), matches);
        return it == calls.end() ? static_cast<std::ptrdiff_t>(-1) : it - calls.begin();
    };
    const auto is = [](std::string call) { return [call](const std::string& c) { return c == call; }; };
    const std::string journal = kJournalName, fresh = journal + ".new";

    const auto noted = index(is("write " + journal));
    const auto named = index([](const std::string& c) { return c.starts_with("rename-new ") && c.ends_with(kRescueCsv); });
    ASSERT_GE(noted, 0);
    ASSERT_GT(named, noted);
    const auto noteSynced = index(is("sync " + journal), noted);
    EXPECT_GT(noteSynced, noted);
    EXPECT_LT(noteSynced, named) << "the rescue file was named before the note naming it was on the disk";

    const auto replaced = index(is("rename " + fresh + " " + journal), named);
    ASSERT_GT(replaced, named);
    std::ptrdiff_t lastWrite = -1;
    for (auto i = named; i < replaced; ++i) {
        if (calls[static_cast<std::size_t>(i)] == "write " + fresh) lastWrite = i;
    }
    ASSERT_GE(lastWrite, 0);
    const auto freshSynced = index(is("sync " + fresh), lastWrite);
    EXPECT_GT(freshSynced, lastWrite);
    EXPECT_LT(freshSynced, replaced) << "the journal made again took its name before it was on the disk";
}

// A rescue that cannot be written leaves the journal as it was, for the next start,
// and this run keeps out of it.
TEST(UnsavedRowsAtStart, ARescueThatFailsKeepsTheJournalWhole) {
    Harness h;
    h.writeFile(kJournalName, journalWithRows(3));
    FullDiskFiles full(h.files, 0);
    Services services{h.port, h.boxes, h.fileDialog, h.clock, h.beeper, h.screen, full, h.gbk, h.dialogs, h.dispatcher, h.later, h.publisher};
    Program p(services);
    p.start();
    h.time.advance(0);
    ASSERT_EQ(h.boxes.shown.size(), 2u);
    EXPECT_EQ(h.boxes.shown[1].text, msg::fileFailure(msg::kRescueFailed, kRescueCsv, "写入失败（磁盘可能已满）"));
    EXPECT_EQ(h.boxes.shown[1].icon, Icon::Critical);
    EXPECT_FALSE(h.files.exists(kRescueCsv));
    EXPECT_EQ(journalOf(h).rows.size(), 3u);
    // The rescue was noted before its file could appear: had it appeared and the
    // program been killed then, the next start would not rescue these rows again.
    EXPECT_NE(h.readFile(kJournalName).value_or("").find(journal::keptRecord(kRescueCsv)), std::string::npos);
    EXPECT_EQ(p.g.unsavedRows.file, nullptr);
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
