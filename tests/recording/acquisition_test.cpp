#include <gtest/gtest.h>

#include "support/comma_locale.h"
#include "support/harness.h"

namespace keldrin::test {
namespace {

struct Acquisition : ::testing::Test {
    Harness h;
    void SetUp() override {
        h.start();
        h.boxes.shown.clear();  // the start-up's "连接失败"
    }
    void tickOnly(std::initializer_list<int> channels) {
        for (int i = 1; i <= 8; ++i) h.w.选择框(i).setChecked(false);
        for (int i : channels) h.w.选择框(i).setChecked(true);
    }
    // The recording interval as the sync timer would apply it from 组合框3.
    void recordEvery(int itemIndex) {
        h.choose(h.w.组合框3, itemIndex);
        h.w.时钟5.setInterval(h.w.组合框3.selectedValue());
    }
    RecordStore& table() { return h.w.通用提供者1; }
};

TEST_F(Acquisition, EachClickTogglesAndRealignsTheStream) {
    for (const char* expected : {"停止", "启动"}) {
        h.g.receiveBuffer = {0x01, 0x02, 0x03};
        h.g.silenceTicks = 7;
        h.click(h.w.启动);
        EXPECT_EQ(h.w.启动.text(), expected);
        EXPECT_TRUE(h.g.receiveBuffer.empty());
        EXPECT_EQ(h.g.silenceTicks, 0);
    }
}

TEST_F(Acquisition, RecordsTimeAndTheTickedChannelsOnly) {
    AnsweringProbes probes(h);
    h.port.setPortNumber(3);
    h.port.setBaudRate(9600);
    h.chooseMenu("连接");
    ASSERT_TRUE(h.port.isOpen());
    tickOnly({1, 3});
    recordEvery(2);  // "1秒"
    ASSERT_EQ(h.w.组合框3.items()[2].text, "1秒");
    h.click(h.w.启动);
    h.advance(3000);
    ASSERT_EQ(table().rowCount(), 3);
    ASSERT_EQ(probes.answers, 15);
    std::string previous;
    for (int r = 1; r <= 3; ++r) {
        std::string time(table().cell(r, 1));
        EXPECT_EQ(time.size(), 23u) << time;  // yyyy-MM-dd HH:mm:ss.zzz
        EXPECT_GT(time, previous);
        previous = time;
        // Probes 1 and 3 answer with 1.xxx and 3.xxx, new on every answer.
        EXPECT_EQ(table().cell(r, 2).substr(0, 2), "1.") << r;
        EXPECT_EQ(table().cell(r, 4).substr(0, 2), "3.") << r;
        if (r > 1) {
            EXPECT_NE(table().cell(r, 2), table().cell(r - 1, 2));
        }
        for (int c : {3, 5, 6, 7, 8, 9}) EXPECT_EQ(table().cell(r, c), "") << "row " << r << " column " << c;
    }
    // Stopping keeps the rows; starting again appends after them.
    h.click(h.w.启动);
    h.advance(5000);
    EXPECT_EQ(table().rowCount(), 3);
    h.click(h.w.启动);
    h.advance(1000);
    EXPECT_EQ(table().rowCount(), 4);
}

// With publishing on, every recorded row is handed over as the table holds it, under a
// run id new at each 启动 and numbered from 1; a stale cell goes as nothing, and equal or
// empty headings still give each channel a key of its own.
TEST_F(Acquisition, EachRecordedRowIsPublishedAsTheTableHoldsIt) {
    h.publisher.on = true;
    AnsweringProbes probes(h);
    probes.silent = {0};
    h.port.setPortNumber(3);
    h.port.setBaudRate(9600);
    h.chooseMenu("连接");
    tickOnly({1, 2, 3});
    // The headings follow the addresses: row 2 set up for probe 1 too, row 3 for a
    // silent one with none.
    h.type(h.w.地址(2), h.w.地址(1).text());
    h.type(h.w.信道(2), h.w.信道(1).text());
    h.type(h.w.地址(3), "");
    recordEvery(2);  // "1秒"
    std::vector<std::string> runs;
    for (int run = 0; run < 2; ++run) {
        h.publisher.rows.clear();
        h.click(h.w.启动);
        h.advance(3000);
        h.click(h.w.启动);
        ASSERT_EQ(h.publisher.rows.size(), 3u);
        const int first = table().rowCount() - 2;
        for (int k = 0; k < 3; ++k) {
            const PublishedRow& p = h.publisher.rows[static_cast<std::size_t>(k)];
            EXPECT_EQ(p.row, k + 1);
            EXPECT_EQ(p.time, table().cell(first + k, 1));
            ASSERT_EQ(p.values.size(), 3u);
            EXPECT_EQ(p.values[0], std::make_pair(std::string("1"), std::optional<std::string>(table().cell(first + k, 2))));
            EXPECT_EQ(p.values[1], std::make_pair(std::string("1_2"), std::optional<std::string>(table().cell(first + k, 3))));
            EXPECT_EQ(p.values[2], std::make_pair(std::string("3"), std::optional<std::string>()));  // never read
        }
        runs.push_back(h.publisher.rows[0].run);
    }
    EXPECT_NE(runs[0], runs[1]);
    EXPECT_FALSE(h.publisher.readings.empty());
    EXPECT_FALSE(h.publisher.portStates.empty());
}

TEST_F(Acquisition, NoRowsWithoutARecordingInterval) {
    h.click(h.w.启动);
    h.advance(5000);  // no item chosen
    recordEvery(9);   // "从不"
    ASSERT_EQ(h.w.组合框3.items()[9].text, "从不");
    h.advance(5000);
    EXPECT_EQ(table().rowCount(), 0);
}

TEST_F(Acquisition, ReceiveEchoIsEmptiedOnlyWhileAcquiring) {
    recordEvery(2);
    h.w.编辑框接收.setText("1 2 3 ");
    h.advance(20000);  // two 时钟3 ticks while stopped
    EXPECT_EQ(h.w.编辑框接收.text(), "1 2 3 ");
    EXPECT_EQ(table().rowCount(), 0);
    h.click(h.w.启动);
    h.advance(10000);
    EXPECT_EQ(h.w.编辑框接收.text(), "");
}

TEST_F(Acquisition, ClearAsksAndEmptiesOnlyOnOk) {
    table().setColumnCount(12);  // as after reading a wider file
    for (int i = 0; i < 5; ++i) table().appendRow();
    table().setCell(5, 12, "x");
    h.boxes.answers = {Answer::Cancel};
    h.click(h.w.清空按钮);
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, "确认清空全部数据吗？");
    EXPECT_EQ(h.boxes.shown[0].buttons, Buttons::OkCancel);
    EXPECT_EQ(h.boxes.shown[0].icon, Icon::None);
    EXPECT_EQ(h.boxes.shown[0].title, "");
    EXPECT_EQ(table().rowCount(), 5);
    EXPECT_EQ(table().cell(5, 12), "x");
    h.click(h.w.清空按钮);  // OK
    EXPECT_EQ(table().rowCount(), 0);
    EXPECT_EQ(table().columnCount(), 9);
}

TEST_F(Acquisition, PollIntervalFollowsEveryEdit) {
    h.type(h.w.间隔时间, "12.9");
    EXPECT_EQ(h.w.时钟2.interval(), 12);
    h.type(h.w.间隔时间, "5");
    EXPECT_EQ(h.w.时钟2.interval(), 5);
    h.type(h.w.间隔时间, "50");
    EXPECT_EQ(h.w.时钟2.interval(), 50);
    h.type(h.w.间隔时间, "");
    EXPECT_EQ(h.w.时钟2.interval(), 0);
    EXPECT_EQ(h.time.nextDue(h.w.时钟2), -1);
    h.type(h.w.间隔时间, "200");
    h.type(h.w.间隔时间, "-5");
    EXPECT_EQ(h.w.时钟2.interval(), 0);
    EXPECT_EQ(h.time.nextDue(h.w.时钟2), -1);
}

// A decimal comma in the user's locale must change no number the program reads or
// writes: a "1,500" reading would shift every CSV column after it.
TEST(DecimalCommaLocale, TypedNumbersReadingsRecordsAndExportKeepThePoint) {
    CommaLocale comma;
    ASSERT_TRUE(comma.active());
    Harness h;
    h.startConnected();
    h.boxes.shown.clear();
    for (int i = 1; i <= 8; ++i) h.w.选择框(i).setChecked(i <= 2);
    h.w.地址(1).setText("10");
    h.w.地址(2).setText("10.5");  // read to its point, it is not the probe's whole number
    h.w.信道(1).setText("3");
    h.w.信道(2).setText("3");
    h.type(h.w.间隔时间, "2.5e2");
    EXPECT_EQ(h.w.时钟2.interval(), 250);
    h.click(h.w.启动);
    h.port.receive({0x00, 0x0A, 0x03, 0x06, 0x00, 0x00, 0x05, 0xDC, 0x00, 0x00, 0x00, 0x00});
    h.advance(50);
    EXPECT_EQ(h.w.CT(1).text(), "1.500");
    EXPECT_EQ(h.w.CT(2).text(), "0.000");

    h.w.组合框3.setSelectedIndex(2);  // "1秒"
    h.w.时钟5.setInterval(1000);
    h.advance(1000);  // the row comes 1.05 s after the reading: still current
    ASSERT_EQ(h.w.通用提供者1.rowCount(), 1);
    h.fileDialog.answers = {std::string("comma")};
    h.click(h.w.按钮6);
    const std::optional<std::string> csv = h.readFile("comma.csv");
    ASSERT_TRUE(csv.has_value());
    // Channel 2's probe never answered: a gap, not a zero.
    const std::string row = std::string(h.w.通用提供者1.cell(1, 1)) + ",1.500,,,,,,,,\r\n";
    ASSERT_GE(csv->size(), row.size());
    EXPECT_EQ(csv->substr(csv->size() - row.size()), row);
}

}  // namespace
}  // namespace keldrin::test
