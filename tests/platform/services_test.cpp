// Timers, pauses, message boxes and the file filter on Qt.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>

#include "platform/qt/desktop_services.h"
#include "shell/controls.h"
#include "qt_test_app.h"

namespace keldrin::test {
namespace {

TEST(QtScheduler, IntervalZeroStopsAndADifferentIntervalRestarts) {
    qtApp();
    Dispatcher d;
    QtScheduler scheduler(d);
    Timer stopped("stopped", 0), running("running", 10);
    int ticks = 0;
    running.tick = [&] { ++ticks; };
    scheduler.drive(stopped);
    scheduler.drive(running);
    EXPECT_FALSE(scheduler.qtTimer(stopped)->isActive());  // never a spinning 0 ms QTimer
    EXPECT_TRUE(scheduler.qtTimer(running)->isActive());
    EXPECT_EQ(scheduler.qtTimer(running)->timerType(), Qt::PreciseTimer);
    ASSERT_TRUE(processUntil([&] { return ticks >= 3; }));

    running.setInterval(0);
    EXPECT_FALSE(scheduler.qtTimer(running)->isActive());
    const int before = ticks;
    processFor(40);
    EXPECT_EQ(ticks, before);

    stopped.setInterval(5000);
    EXPECT_TRUE(scheduler.qtTimer(stopped)->isActive());
    EXPECT_EQ(scheduler.qtTimer(stopped)->interval(), 5000);
    processFor(30);
    const int left = scheduler.qtTimer(stopped)->remainingTime();
    stopped.setInterval(5000);  // the same interval: the countdown goes on
    EXPECT_LE(scheduler.qtTimer(stopped)->remainingTime(), left);
}

TEST(QtPauser, TicksDuringAPauseRunAfterThePausingHandlerInOrder) {
    qtApp();
    Dispatcher d;
    QtPauser pauser;
    d.setPauser(&pauser);
    QtScheduler scheduler(d);
    Timer fast("fast", 10);
    std::vector<std::string> log;
    bool pausing = false;
    fast.tick = [&] { log.push_back(pausing ? "tick inside pause" : "tick"); };
    scheduler.drive(fast);
    d.post([&] {
        log.push_back("handler");
        pausing = true;
        d.pause(60);
        pausing = false;
        log.push_back("handler done");
    });
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "handler");
    EXPECT_EQ(log[1], "handler done");
    fast.setInterval(0);
    // Ticks that came due during the pause ran afterwards, none inside.
    EXPECT_GE(log.size(), 3u);
    for (const std::string& entry : log) EXPECT_NE(entry, "tick inside pause");
}

TEST(QtMessageBoxes, ShowsTextButtonsIconAndTitleAndReturnsTheAnswer) {
    qtApp();
    QtMessageBoxes boxes;
    std::vector<std::string> seen;
    boxes.onShown = [&](QMessageBox& box) {
        seen.push_back(box.text().toStdString());
        EXPECT_TRUE(box.windowTitle().isEmpty());
        EXPECT_EQ(box.icon(), QMessageBox::Warning);
        ASSERT_NE(box.button(QMessageBox::Cancel), nullptr);
        box.button(QMessageBox::Cancel)->click();
    };
    EXPECT_EQ(boxes.show("确定清空？", Buttons::OkCancel, Icon::Warning, ""), Answer::Cancel);
    boxes.onShown = [&](QMessageBox& box) {
        EXPECT_EQ(box.windowTitle(), QStringLiteral("提示"));
        EXPECT_EQ(box.button(QMessageBox::Cancel), nullptr);
        box.button(QMessageBox::Ok)->click();
    };
    EXPECT_EQ(boxes.show("保存成功", Buttons::Ok, Icon::Information, "提示"), Answer::Ok);
    EXPECT_EQ(seen, std::vector<std::string>{"确定清空？"});
}

TEST(QtFileDialog, FilterShowsDescriptionWithPattern) {
#ifndef Q_OS_WIN
    EXPECT_EQ(QtFileDialog::qtFilter("所以文件 *.*|*.*"), QStringLiteral("所以文件 *.* (*)"));
#endif
    EXPECT_EQ(QtFileDialog::qtFilter("表格|*.csv;*.txt"), QStringLiteral("表格 (*.csv *.txt)"));
}

}  // namespace
}  // namespace keldrin::test
