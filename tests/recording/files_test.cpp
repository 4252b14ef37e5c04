#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <functional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "store/table_file.h"
#include "support/full_disk.h"
#include "support/harness.h"

namespace keldrin::test {
namespace {

const std::string kFilter = "所以文件 *.*|*.*";
const std::string kTimeGbk = "\xCA\xB1\xBC\xE4";  // 时间
const std::string kHeading = kTimeGbk + ",1,2,3,4,5,6,7,8,\r\n";

struct Files_ : ::testing::Test {
    Harness h;
    void SetUp() override {
        h.start();
        h.boxes.shown.clear();
    }
    RecordStore& table() { return h.w.通用提供者1; }
    void addRow(std::initializer_list<std::string> cells) {
        table().appendRow();
        int c = 1;
        for (const std::string& t : cells) table().setCell(table().rowCount(), c++, t);
    }
    void expectBox(std::size_t i, const std::string& text, Buttons b, Icon icon, const std::string& title) {
        ASSERT_GT(h.boxes.shown.size(), i);
        EXPECT_EQ(h.boxes.shown[i].text, text);
        EXPECT_EQ(h.boxes.shown[i].buttons, b);
        EXPECT_EQ(h.boxes.shown[i].icon, icon);
        EXPECT_EQ(h.boxes.shown[i].title, title);
    }
};

TEST_F(Files_, SaveAndReadBackRestoreEveryCellAndReplaceNewerRows) {
    table().setColumnCount(11);
    addRow({"2026-12-08 10:00:00.000", "1.500", "", "温度", "", "", "", "", "", "", "extra"});
    addRow({});
    h.fileDialog.answers = {std::string("day.tbl")};
    h.click(h.w.存到文件按钮);
    ASSERT_EQ(h.fileDialog.requests.size(), 1u);
    EXPECT_EQ(h.fileDialog.requests[0].mode, DialogMode::SaveAskBeforeReplacing);
    EXPECT_EQ(h.fileDialog.requests[0].filter, kFilter);
    expectBox(0, "存到文件成功。\r\n文件路径为：day.tbl", Buttons::Ok, Icon::Information, "信息");

    addRow({"recorded later"});
    table().setCell(1, 2, "changed");
    // The row not yet saved would be gone: asked first, and Cancel keeps everything.
    h.boxes.answers = {Answer::Cancel};
    h.fileDialog.answers = {std::string("day.tbl"), std::string("day.tbl")};
    h.click(h.w.从文件读按钮);
    expectBox(1, "表中有 1 行记录尚未保存，读入文件后将不再保留。确认读入吗？", Buttons::OkCancel, Icon::None, "");
    ASSERT_EQ(table().rowCount(), 3);
    h.click(h.w.从文件读按钮);
    EXPECT_EQ(h.fileDialog.requests[1].mode, DialogMode::Open);
    EXPECT_EQ(h.fileDialog.requests[1].filter, kFilter);
    expectBox(3, "从文件读成功。", Buttons::Ok, Icon::Information, "信息");
    ASSERT_EQ(table().rowCount(), 2);
    ASSERT_EQ(table().columnCount(), 11);
    EXPECT_EQ(table().cell(1, 2), "1.500");
    EXPECT_EQ(table().cell(1, 4), "温度");
    EXPECT_EQ(table().cell(1, 11), "extra");
    EXPECT_EQ(table().cell(2, 1), "");
}

TEST_F(Files_, ExportFailingPartWayRemovesTheIncompleteFileAndSaysSo) {
    for (int i = 0; i < 50000; ++i) addRow({"2026-12-08 10:00:00.000", "1.000"});
    FullDiskFiles full(h.files, 1200000);  // the disk fills up after 1.2 MB of about 1.8
    Services services{h.port, h.boxes, h.fileDialog, h.clock, h.beeper, h.screen, full, h.gbk, h.dialogs, h.dispatcher, h.later, h.publisher};
    App exporting{h.g, h.w, services};
    h.fileDialog.answers = {std::string("big")};
    h.dispatcher.post([&] { 按钮6_clicked(exporting); });
    ASSERT_EQ(h.boxes.shown.size(), 2u);
    EXPECT_EQ(h.boxes.shown[0].text, "数据导出成功。\r\n文件路径为：big");
    EXPECT_EQ(h.boxes.shown[1].icon, Icon::Critical);
    EXPECT_EQ(h.boxes.shown[1].text.rfind("数据导出失败：写入文件时出错", 0), 0u) << h.boxes.shown[1].text;
    EXPECT_FALSE(h.files.exists("big.csv"));
    EXPECT_EQ(table().rowCount(), 50000);
}

TEST_F(Files_, FailuresSayWhyAndLeaveTableAndFilesAlone) {
    addRow({"t", "1.000"});
    h.fileDialog.answers = {std::string("kept.tbl")};
    h.click(h.w.存到文件按钮);  // saved: reading asks nothing
    h.boxes.shown.clear();
    h.writeFile("notes.txt", "时间,1,2\r\n");
    h.fileDialog.answers = {std::string("notes.txt"), std::string("no/such/folder/day.tbl"), std::nullopt,
                            std::nullopt};
    h.click(h.w.从文件读按钮);
    expectBox(0, "从文件读失败，数据表未改动。\r\n文件路径为：notes.txt\r\n原因：不是本程序保存的数据表文件", Buttons::Ok,
              Icon::Critical, "错误");
    EXPECT_EQ(table().rowCount(), 1);
    EXPECT_EQ(table().cell(1, 2), "1.000");
    h.click(h.w.存到文件按钮);
    ASSERT_EQ(h.boxes.shown.size(), 2u);
    EXPECT_EQ(h.boxes.shown[1].icon, Icon::Critical);
    EXPECT_EQ(h.boxes.shown[1].text.rfind("存到文件失败。\r\n文件路径为：no/such/folder/day.tbl\r\n原因：", 0), 0u)
        << h.boxes.shown[1].text;
    // Cancelled dialogs: nothing at all.
    h.click(h.w.存到文件按钮);
    h.click(h.w.从文件读按钮);
    EXPECT_EQ(h.boxes.shown.size(), 2u);
    EXPECT_EQ(h.readFile("notes.txt"), "时间,1,2\r\n");
}

TEST_F(Files_, ReadRefusesFilesThatAreNotTablesItCouldHoldWithoutReadingThemAndKeepsTheTable) {
    addRow({"t", "1.000"});
    h.fileDialog.answers = {std::string("kept.tbl")};
    h.click(h.w.存到文件按钮);  // saved: reading asks nothing
    const std::string saved = tablefile::encode(table());
    auto sparse = [this](const std::string& name, const std::string& start) {
        h.writeFile(name, start);
        QFile f(QString::fromStdString(h.path(name)));
        return f.open(QIODevice::ReadWrite) && f.resize(qint64{100} << 30);  // 100 GB, none of it on disk
    };
    struct Case {
        std::string name;
        std::function<bool()> make;  // false: the case cannot be set up here
        std::string why;
    };
    std::vector<Case> cases = {
        {"zeros.tbl", [&] { return sparse("zeros.tbl", ""); }, "不是本程序保存的数据表文件"},
        {"padded.tbl", [&] { return sparse("padded.tbl", saved); }, "文件过大（超过4GB），无法作为数据表读入"},
        {"folder.tbl", [&] { return QDir(h.dir.path()).mkdir("folder.tbl"); }, "这是一个文件夹，不是文件"},
#ifdef Q_OS_UNIX
        // Opening it for reading would wait for a writer that never comes.
        {"pipe.tbl", [&] { return ::mkfifo(h.path("pipe.tbl").c_str(), 0600) == 0; },
         "这是一个管道（FIFO），不是普通文件"},
        {"/dev/zero", [] { return QFileInfo::exists("/dev/zero"); }, "这是一个设备，不是普通文件"},
#endif
    };
    for (const Case& c : cases) {
        if (!c.make()) {
            ADD_FAILURE() << "could not set up " << c.name;
            continue;
        }
        h.boxes.shown.clear();
        h.fileDialog.answers = {c.name};
        h.click(h.w.从文件读按钮);
        ASSERT_EQ(h.boxes.shown.size(), 1u) << c.name;
        expectBox(0, "从文件读失败，数据表未改动。\r\n文件路径为：" + c.name + "\r\n原因：" + c.why, Buttons::Ok,
                  Icon::Critical, "错误");
        EXPECT_EQ(table().rowCount(), 1) << c.name;
        EXPECT_EQ(table().cell(1, 2), "1.000") << c.name;
    }
}

TEST_F(Files_, ExportOfAnEmptyTableIsTheHeadingLineOnly) {
    h.fileDialog.answers = {std::string("data.csv")};
    h.click(h.w.按钮6);
    EXPECT_EQ(h.fileDialog.requests[0].mode, DialogMode::Save);
    EXPECT_EQ(h.fileDialog.requests[0].filter, kFilter);
    expectBox(0, "数据导出成功。\r\n文件路径为：data.csv", Buttons::Ok, Icon::Information, "信息");
    EXPECT_EQ(h.readFile("data.csv.csv"), kHeading);
    EXPECT_FALSE(h.readFile("data.csv").has_value());
}

TEST_F(Files_, ExportWritesNineCellsPerRowInGbkWithoutQuoting) {
    table().setColumnCount(12);
    addRow({"2026-12-08 10:00:00.000", "1.5"});
    addRow({"T", "", "a,b", "", "", "", "", "", "温度", "col10", "col11"});
    addRow({"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"});  // plain text past column 9
    addRow({std::string(200, 'x'), "y", ""});                         // a text longer than 127 bytes
    addRow({});
    addRow({"温度😀ก€·"});  // one "?" for each character GBK has not, on every system
    h.w.表(3).setText("探头");
    h.fileDialog.answers = {std::string("out")};
    h.click(h.w.按钮6);
    std::string expected = kTimeGbk + ",1,2,\xCC\xBD\xCD\xB7,4,5,6,7,8,\r\n" +
                           "2026-12-08 10:00:00.000,1.5,,,,,,,,\r\n" +
                           "T,,a,b,,,,,,\xCE\xC2\xB6\xC8,\r\n" + "a,b,c,d,e,f,g,h,i,\r\n" +
                           std::string(200, 'x') + ",y,,,,,,,,\r\n" + ",,,,,,,,,\r\n" +
                           "\xCE\xC2\xB6\xC8??\x80\xA1\xA4,,,,,,,,,\r\n";
    EXPECT_EQ(h.readFile("out.csv"), expected);
}

TEST_F(Files_, SecondExportIsRefusedAndTheFirstFileKept) {
    addRow({"first"});
    h.fileDialog.answers = {std::string("data"), std::string("data")};
    h.click(h.w.按钮6);
    const std::optional<std::string> first = h.readFile("data.csv");
    ASSERT_TRUE(first.has_value());
    addRow({"second"});
    h.click(h.w.按钮6);
    expectBox(1, "文件已存在导出失败", Buttons::Ok, Icon::None, "");
    EXPECT_EQ(h.boxes.shown.size(), 2u);
    EXPECT_EQ(h.readFile("data.csv"), first);
}

TEST_F(Files_, ExportIncludesRowsRecordedWhileTheSuccessBoxIsOpen) {
    for (int i = 1; i <= 8; ++i) h.w.选择框(i).setChecked(i == 1);
    h.w.组合框3.setSelectedIndex(2);  // "1秒", so that the sync timer keeps it
    h.w.时钟5.setInterval(1000);
    h.click(h.w.启动);
    h.advance(2000);
    ASSERT_EQ(table().rowCount(), 2);
    h.boxes.whileOpen = [this] { h.advance(3000); };
    h.fileDialog.answers = {std::string("live")};
    h.click(h.w.按钮6);
    h.boxes.whileOpen = nullptr;
    ASSERT_EQ(table().rowCount(), 5);
    std::optional<std::string> csv = h.readFile("live.csv");
    ASSERT_TRUE(csv.has_value());
    std::size_t lines = 0;
    for (std::size_t p = csv->find("\r\n"); p != std::string::npos; p = csv->find("\r\n", p + 2)) ++lines;
    EXPECT_EQ(lines, 6u);
    std::string last = std::string(table().cell(5, 1)) + "," + std::string(table().cell(5, 2)) + ",,,,,,,,\r\n";
    EXPECT_EQ(csv->substr(csv->size() - last.size()), last);
}

TEST_F(Files_, ExportThatCannotCreateItsFileSaysSoInsteadOfSuccess) {
    h.fileDialog.answers = {std::string("no/such/folder/data")};
    h.click(h.w.按钮6);
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].icon, Icon::Critical);
    EXPECT_EQ(h.boxes.shown[0].title, "错误");
    EXPECT_EQ(h.boxes.shown[0].text.rfind("数据导出失败，无法创建文件。", 0), 0u) << h.boxes.shown[0].text;
}

// The adapters report codes and the handlers word them: every code in the words the
// operator has always read.
TEST(FileTexts, EveryCodeReadsAsItAlwaysHas) {
    using tablefile::Refusal;
    using Step = TableError::Step;
    const std::pair<FileError, std::string> files[] = {
        {{FileFault::None, ""}, ""},
        {{FileFault::Open, ""}, "无法打开文件"},
        {{FileFault::Open, "No such file or directory"}, "无法打开文件：No such file or directory"},
        {{FileFault::Write, "No space left on device"}, "写入失败（磁盘可能已满）：No space left on device"},
        {{FileFault::Read, ""}, "读取失败"},
        {{FileFault::Permissions, "Permission denied"}, "没有权限：Permission denied"},
        {{FileFault::Rename, ""}, "无法替换原文件"},
        {{FileFault::Other, "x"}, "文件操作失败：x"},
        {{FileFault::Exists, ""}, "文件已存在"},
        {{FileFault::Directory, ""}, "这是一个文件夹，不是文件"},
        {{FileFault::Fifo, ""}, "这是一个管道（FIFO），不是普通文件"},
        {{FileFault::Device, ""}, "这是一个设备，不是普通文件"},
        {{FileFault::NotRegular, ""}, "不是普通文件"},
        {{FileFault::TooLarge, ""}, "文件过大"},
    };
    for (const auto& [error, text] : files) EXPECT_EQ(fileErrorText(error), text);

    const std::pair<Refusal, std::string> refusals[] = {
        {Refusal::Empty, "文件为空，不是数据表文件"},
        {Refusal::Foreign, "不是本程序保存的数据表文件"},
        {Refusal::Truncated, "文件不完整（可能被截断）"},
        {Refusal::Version, "数据表文件的版本不受支持"},
        {Refusal::TooLarge, "文件过大（超过4GB），无法作为数据表读入"},
        {Refusal::TooManyColumns, "文件内容无效（列数过多）"},
        {Refusal::RowCount, "文件内容无效（行数与数据不符）"},
        {Refusal::NoEndMarker, "文件不完整（可能被截断）或已损坏"},
        {Refusal::Checksum, "文件已损坏（校验和不符）"},
        {Refusal::BadRows, "文件内容无效（行数据不完整或与列数不符）"},
    };
    for (const auto& [refusal, text] : refusals) {
        EXPECT_EQ(refusalText(refusal), text);
        EXPECT_EQ(tableErrorText({Step::Refused, {}, refusal}), text);
    }

    const FileError denied{FileFault::Permissions, "Permission denied"};
    const std::pair<TableError, std::string> tables[] = {
        {{Step::Unbound, {}, Refusal::None}, "数据表未绑定"},
        {{Step::Create, denied, Refusal::None}, "无法创建文件：没有权限：Permission denied"},
        {{Step::Write, {}, Refusal::None}, "写入文件失败（磁盘可能已满），原文件未改动"},
        {{Step::Finish, {FileFault::Rename, ""}, Refusal::None}, "无法完成保存：无法替换原文件，原文件未改动"},
        {{Step::Read, {}, Refusal::None}, "无法读取文件（文件不存在或没有权限）"},
        {{Step::Read, {FileFault::Read, "I/O error"}, Refusal::None}, "读取失败：I/O error"},
        {{Step::OutOfMemory, {}, Refusal::None}, "内存不足，无法读入这么大的数据表"},
    };
    for (const auto& [error, text] : tables) EXPECT_EQ(tableErrorText(error), text);
}

}  // namespace
}  // namespace keldrin::test
