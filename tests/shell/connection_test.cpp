#include <gtest/gtest.h>

#include <climits>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "support/harness.h"

namespace keldrin::test {
namespace {

const std::vector<std::uint8_t> kGreeting = {0x5C, 0xA5, 0x00, 0x00};

TEST(StartUpConnection, OpensThePortFromTheSettingsFilesAndGreetsAfter100ms) {
    Harness h;
    h.port.devices = {4};
    h.writeFile("端口号.txt", "4");
    h.writeFile("波特率.txt", "115200");
    h.start();
    EXPECT_TRUE(h.boxes.shown.empty());
    EXPECT_TRUE(h.port.isOpen());
    EXPECT_EQ(h.port.portNumber(), 4);
    EXPECT_EQ(h.port.baudRate(), 115200);
    EXPECT_EQ(h.w.编辑框3.text(), "115200");
    ASSERT_EQ(h.port.sent.size(), 1u);
    EXPECT_EQ(h.port.sent[0].bytes, kGreeting);
    EXPECT_EQ(h.port.sent[0].time, 100);
    EXPECT_EQ(h.w.title(), "Keldrin3.0              已连接COM4");
    // Steps after the connection still ran.
    EXPECT_EQ(h.w.通用提供者1.columnCount(), 9);
}

TEST(StartUpConnection, BaudTextGoesIntoTheBoxUnchanged) {
    Harness h;
    h.writeFile("端口号.txt", "3");
    h.writeFile("波特率.txt", " 9600abc");
    h.start();
    EXPECT_EQ(h.w.编辑框3.text(), " 9600abc");
    EXPECT_EQ(h.port.baudRate(), 9600);
    EXPECT_TRUE(h.port.isOpen());
}

TEST(StartUpConnection, OnlyTheStartOfASettingsFileIsReadAndAFifoIsNotWaitedFor) {
    Harness h;
    h.writeFile("端口号.txt", "3");
    h.writeFile("波特率.txt", std::string(8 << 20, '9'));
    h.start();
    EXPECT_EQ(h.w.编辑框3.text(), std::string(Files::kSettingBytes, '9'));
    EXPECT_EQ(h.port.baudRate(), INT_MAX);
#ifdef Q_OS_UNIX
    Harness fifo;
    ASSERT_EQ(::mkfifo(fifo.path("波特率.txt").c_str(), 0600), 0);
    fifo.writeFile("端口号.txt", "3");
    fifo.start();  // would wait here for a writer
    EXPECT_EQ(fifo.w.编辑框3.text(), "");
    EXPECT_EQ(fifo.port.baudRate(), 0);
#endif
}

TEST(StartUpConnection, TimerTicksDueDuringTheGreetingWaitRunOnceAfterwards) {
    Harness h;
    h.writeFile("端口号.txt", "3");
    h.writeFile("波特率.txt", "9600");
    int ticks = 0;
    std::string titleAtFirstTick;
    h.w.时钟1.tick = [&] {
        if (ticks++ == 0) titleAtFirstTick = h.w.title();
    };
    h.start();
    // 50 ms and 100 ms came due inside the pause: one tick once start-up had finished.
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(titleAtFirstTick, "Keldrin3.0              已连接COM3");
}

TEST(Reconnect, FailureKeepsTheConnectingTitleAndSaysSo) {
    Harness h;
    h.start();  // no settings: port 0
    h.boxes.shown.clear();
    h.chooseMenu("连接");
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, "请选择正确的端口");
    EXPECT_EQ(h.boxes.shown[0].title, "");
    EXPECT_EQ(h.w.title(), "Keldrin              加油连接中。。。");
    EXPECT_TRUE(h.port.sent.empty());
}

TEST(Reconnect, SuccessGreetsAtOnceWithoutTheVersionInTheTitle) {
    Harness h;
    h.writeFile("端口号.txt", "3");
    h.writeFile("波特率.txt", "9600");
    h.start();
    h.advance(1000);
    std::int64_t clicked = h.time.now();
    h.chooseMenu("连接");
    ASSERT_EQ(h.port.sent.size(), 2u);
    EXPECT_EQ(h.port.sent[1].bytes, kGreeting);
    EXPECT_EQ(h.port.sent[1].time, clicked);
    EXPECT_EQ(h.w.title(), "Keldrin              已连接COM3");
    // Closed before it was reopened.
    ASSERT_GE(h.port.events.size(), 2u);
    EXPECT_EQ(h.port.events[h.port.events.size() - 2].what, "close");
    EXPECT_EQ(h.port.events.back().what, "open ok");
}

TEST(PortDialog, ScanListsOpenablePortsAndLeavesTheConnectionAlone) {
    Harness h;
    h.port.devices = {1, 3, 7, 200};
    h.port.held = {7};
    h.writeFile("端口号.txt", "3");
    h.writeFile("波特率.txt", "9600");
    h.start();
    h.chooseMenu("端口设置");
    EXPECT_EQ(h.dialogs.shownCount, 1);
    EXPECT_EQ(h.dialogs.lastItems, (std::vector<std::string>{"COM1", "COM3", "COM200"}));
    EXPECT_EQ(h.port.portNumber(), 3);
    EXPECT_TRUE(h.port.isOpen());
    // No file was touched by merely opening the dialog.
    EXPECT_EQ(h.readFile("端口号.txt"), "3");
}

TEST(PortDialog, ChoosingAPortThatFailsStillStoresIt) {
    Harness h;
    h.port.devices = {3, 7};
    h.start();
    h.boxes.shown.clear();
    std::vector<std::string> titlesSeen;
    h.dialogs.script = [&](PortWin& d) {
        h.port.devices = {3};  // COM7 went away after the scan
        h.choose(d.组合框1, 1);
        titlesSeen.push_back(h.w.title());
        h.click(d.按钮1);
        EXPECT_TRUE(d.closeRequested());
    };
    h.chooseMenu("端口设置");
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, "请选择正确的端口");
    EXPECT_EQ(h.readFile("端口号.txt"), "7");
    EXPECT_EQ(titlesSeen, std::vector<std::string>{"Keldrin             7"});
    EXPECT_EQ(h.port.portNumber(), 7);
    EXPECT_TRUE(h.port.sent.empty());  // no greeting after a port choice
}

TEST(PortDialog, ChoosingAWorkingPortOpensItWithoutGreeting) {
    Harness h;
    h.port.devices = {3, 5};
    h.writeFile("波特率.txt", "19200");
    h.start();
    h.dialogs.script = [&](PortWin& d) { h.choose(d.组合框1, 1); };
    h.chooseMenu("端口设置");
    EXPECT_TRUE(h.port.isOpen());
    EXPECT_EQ(h.port.portNumber(), 5);
    EXPECT_EQ(h.port.baudRate(), 19200);
    EXPECT_EQ(h.readFile("端口号.txt"), "5");
    EXPECT_EQ(h.w.title(), "Keldrin             5");
    EXPECT_TRUE(h.port.sent.empty());
}

TEST(PortDialog, NoOpenablePortGivesAnEmptyList) {
    Harness h;
    h.port.devices = {};
    h.start();
    h.dialogs.script = [&](PortWin& d) { h.click(d.按钮1); };
    h.chooseMenu("端口设置");
    EXPECT_TRUE(h.dialogs.lastItems.empty());
    EXPECT_FALSE(h.readFile("端口号.txt").has_value());
}

}  // namespace
}  // namespace keldrin::test
