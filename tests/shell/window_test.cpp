#include <gtest/gtest.h>

#include "support/harness.h"

namespace keldrin::test {
namespace {

TEST(MainWindow, StateAtLaunch) {
    Harness h;
    MainWin& w = h.w;
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(w.选择框(i).checked(), i <= 4) << i;
    EXPECT_TRUE(w.报警.checked());
    EXPECT_FALSE(w.按钮4.enabled());
    EXPECT_FALSE(w.按钮5.enabled());
    EXPECT_TRUE(w.按钮3.enabled());
    for (EditBox* e : {&w.编辑框1, &w.编辑框2, &w.编辑框3, &w.编辑框4}) EXPECT_FALSE(e->enabled());
    for (ComboBox* c : {&w.组合框1, &w.组合框2, &w.组合框3}) EXPECT_EQ(c->selectedIndex(), -1);
    EXPECT_FALSE(w.屏幕高度.visible());
    EXPECT_EQ(w.时钟5.interval(), 0);
    // Every control is reachable by its name, once.
    for (Control* c : w.controls()) EXPECT_EQ(w.find(c->name()), c);
}

TEST(MainWindow, SelectAllAndNoneTouchOnlyTheBoxes) {
    Harness h;
    h.start();
    h.w.通用提供者1.appendRow();
    h.w.选择框(6).setChecked(true);
    h.click(h.w.按钮1);
    for (int i = 1; i <= 8; ++i) EXPECT_TRUE(h.w.选择框(i).checked());
    h.click(h.w.按钮2);
    for (int i = 1; i <= 8; ++i) EXPECT_FALSE(h.w.选择框(i).checked());
    EXPECT_EQ(h.w.通用提供者1.rowCount(), 1);
}

TEST(MainWindow, IdleMenuItemsExistAndDoNothing) {
    Harness h;
    h.start();
    std::string title = h.w.title();
    for (const char* name : {"密码管理", "数据备份", "关机", "重启", "休眠"}) {
        ASSERT_NE(h.w.menuItem(name), nullptr) << name;
        h.chooseMenu(name);
    }
    EXPECT_EQ(h.w.title(), title);
    EXPECT_EQ(h.boxes.shown.size(), 1u);  // only start-up's "连接失败"
}

TEST(MainWindow, ClearEchoResetsBothCounters) {
    Harness h;
    h.start();
    h.g.sentFrameCount = 12;
    h.g.receivedFrameCount = 7;
    h.w.编辑框接收.appendText("1 2 3 ");
    h.click(h.w.按钮清空);
    EXPECT_EQ(h.w.编辑框接收.text(), "");
    EXPECT_EQ(h.g.sentFrameCount, 0);
    EXPECT_EQ(h.g.receivedFrameCount, 0);
}

TEST(EchoBox, KeepsOnlyTheNewestWholeLinesWithinItsLimit) {
    Harness h;
    EditBox& e = h.w.编辑框接收;
    std::string line = "0 A 3 6 0 0 3 E8 0 0 0 0 \r\n";
    for (int i = 0; i < 20000; ++i) e.appendText(line);
    EXPECT_LE(e.text().size(), e.textLimit());
    EXPECT_GT(e.text().size(), e.textLimit() / 2);
    EXPECT_EQ(e.text().substr(0, line.size()), line);  // starts on a line boundary
    // A long stream without line breaks is cut at a byte boundary.
    e.setText("");
    for (int i = 0; i < 40000; ++i) e.appendText("E8 ");
    EXPECT_LE(e.text().size(), e.textLimit());
    EXPECT_EQ(e.text().substr(0, 3), "E8 ");
}

TEST(Timers, SameIntervalKeepsTheCountdownAndADifferentOneRestartsIt) {
    Harness h;
    h.w.时钟4.tick = nullptr;  // the sync timer would re-assign 时钟5 from 组合框3
    h.w.时钟5.setInterval(1000);
    h.advance(600);
    h.w.时钟5.setInterval(1000);
    EXPECT_EQ(h.time.nextDue(h.w.时钟5), 1000);
    h.w.时钟5.setInterval(500);
    EXPECT_EQ(h.time.nextDue(h.w.时钟5), 1100);
    h.w.时钟5.setInterval(-20);
    EXPECT_EQ(h.w.时钟5.interval(), 0);
    EXPECT_EQ(h.time.nextDue(h.w.时钟5), -1);
}

}  // namespace
}  // namespace keldrin::test
