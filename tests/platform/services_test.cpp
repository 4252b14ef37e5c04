// Timers, pauses, message boxes and the file filter on Qt.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QMessageBox>
#include <QThread>
#include <QPushButton>
#include <algorithm>

#include "common/texts.h"
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
    EXPECT_EQ(scheduler.qtTimer(running)->timerType(), Qt::PreciseTimer);
    ASSERT_TRUE(processUntil([&] { return ticks >= 3; }));

    running.setInterval(0);
    EXPECT_FALSE(scheduler.qtTimer(running)->isActive());
    const int before = ticks;
    processFor(40);
    EXPECT_EQ(ticks, before);

    stopped.setInterval(5000);
    EXPECT_EQ(scheduler.qtTimer(stopped)->interval(), 5000);
    EXPECT_TRUE(scheduler.qtTimer(stopped)->isActive());
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
    fast.setInterval(0);
    // Ticks that came due during the pause ran afterwards, none inside.
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
              (std::vector<std::string>{"handler", "handler done", "tick"}));
    EXPECT_EQ(std::count(log.begin(), log.end(), "tick inside pause"), 0);
}

// The local time is worked out once a second and the milliseconds added: the text
// stays the instant's own across second boundaries.
TEST(QtClock, ShowsTheLocalTimeToTheMillisecondAcrossSeconds) {
    QtClock clock;
    const QString format = QString::fromLatin1(kDateTimeFormat);
    for (int i = 0; i < 30; ++i) {
        const QDateTime before = QDateTime::currentDateTime();
        const std::string text = clock.nowText();
        const QDateTime after = QDateTime::currentDateTime();
        const QDateTime shown = QDateTime::fromString(QString::fromStdString(text), format);
        ASSERT_TRUE(shown.isValid()) << text;
        EXPECT_LE(before, shown) << text;
        EXPECT_LE(shown, after) << text;
        QThread::msleep(47);
    }
}

TEST(QtMessageBoxes, ShowsTextButtonsIconAndTitleAndReturnsTheAnswer) {
    qtApp();
    QtMessageBoxes boxes;
    std::vector<std::string> seen;
    ModalAnswerer answerer([&](QWidget& modal) {
        auto& box = static_cast<QMessageBox&>(modal);
        seen.push_back(box.text().toStdString() + "|" + box.windowTitle().toStdString() + "|" +
                       std::to_string(box.icon()) + "|" + std::to_string(box.button(QMessageBox::Cancel) != nullptr));
        box.button(seen.size() == 1 ? QMessageBox::Cancel : QMessageBox::Ok)->click();
    });
    EXPECT_EQ(boxes.show("确定清空？", Buttons::OkCancel, Icon::Warning, ""), Answer::Cancel);
    EXPECT_EQ(boxes.show("保存成功", Buttons::Ok, Icon::Information, "提示"), Answer::Ok);
    EXPECT_EQ(seen, (std::vector<std::string>{"确定清空？||" + std::to_string(QMessageBox::Warning) + "|1",
                                              "保存成功|提示|" + std::to_string(QMessageBox::Information) + "|0"}));
}

TEST(QtFileDialog, FilterShowsDescriptionWithPattern) {
#ifndef Q_OS_WIN
    EXPECT_EQ(QtFileDialog::qtFilter("所以文件 *.*|*.*"), QStringLiteral("所以文件 *.* (*)"));
#endif
    EXPECT_EQ(QtFileDialog::qtFilter("表格|*.csv;*.txt"), QStringLiteral("表格 (*.csv *.txt)"));
}

}  // namespace
}  // namespace keldrin::test
