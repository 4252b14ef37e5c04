#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "receiver/receiver_support.h"

namespace keldrin::test {
namespace {

// Address 1, channel 28 (channel row 1 as shipped), reading 1.000.
const Bytes kReadingForRow1 = {0x00, 0x01, 0x1C, 0x06, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x00, 0x00};
// A probe no row is set up for.
const Bytes kReadingForNobody = {0x00, 0x63, 0x1C, 0x06, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x00, 0x00};

// Runs up to and including the watchdog's next tick.
void nextWatchdogTick(Harness& h) {
    const std::int64_t due = h.time.nextDue(h.w.时钟4清屏);
    ASSERT_GE(due, h.time.now()) << "the watchdog has stopped";
    h.time.advanceTo(due);
}

void startAcquiring(Harness& h) {
    h.w.启动.setText("停止");
    h.g.silenceTicks = 0;
}

TEST(Watchdog, CountsWhileAcquiringAndFlushesFromTheThirdSilentTick) {
    Harness h;
    startConnected(h);
    nextWatchdogTick(h);  // the first one, at 100 ms, only takes up the poll interval
    EXPECT_EQ(h.w.时钟4清屏.interval(), 200);
    startAcquiring(h);

    std::vector<std::string> shown;
    std::vector<bool> flushed;
    std::vector<std::int64_t> times;
    for (int tick = 0; tick < 5; ++tick) {
        h.g.receiveBuffer = {1, 2, 3};  // a partial frame waiting for bytes that never come
        nextWatchdogTick(h);
        times.push_back(h.time.now());
        shown.push_back(h.w.编辑框7.text());
        flushed.push_back(h.g.receiveBuffer.empty());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"0", "1", "2", "3", "4"}));
    EXPECT_EQ(flushed, (std::vector<bool>{false, false, true, true, true}));
    for (std::size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 200);
}

TEST(Watchdog, IdleWhileStopped) {
    Harness h;
    startConnected(h);
    h.advance(3000);
    h.g.receiveBuffer = {1, 2, 3};
    nextWatchdogTick(h);
    EXPECT_EQ(h.g.silenceTicks, 0);
    EXPECT_EQ(h.w.编辑框7.text(), "0");
    EXPECT_EQ(h.g.receiveBuffer.size(), 3u);
    EXPECT_TRUE(h.beeper.beeps.empty());
}

TEST(Watchdog, FollowsThePollIntervalAndSurvivesAnEmptiedBox) {
    Harness h;
    startConnected(h);
    nextWatchdogTick(h);
    startAcquiring(h);

    // The operator clears the box to type a new interval: the watchdog keeps going.
    for (const char* typing : {"", "0", "-5", "abc"}) {
        h.type(h.w.间隔时间, typing);
        const int before = h.g.silenceTicks;
        h.advance(1000);
        EXPECT_EQ(h.w.时钟4清屏.interval(), 200) << typing;
        EXPECT_EQ(h.g.silenceTicks, before + 5) << typing;
    }
    h.type(h.w.间隔时间, "400");
    nextWatchdogTick(h);  // still due on the old countdown, takes up the new interval
    const std::int64_t t = h.time.now();
    nextWatchdogTick(h);
    EXPECT_EQ(h.time.now() - t, 400);
}

TEST(Watchdog, AnAcceptedReadingResetsTheCount) {
    Harness h;
    startConnected(h);
    nextWatchdogTick(h);
    startAcquiring(h);
    for (int i = 0; i < 4; ++i) nextWatchdogTick(h);
    ASSERT_EQ(h.g.silenceTicks, 4);

    // A frame for a probe no row watches is not a sign of life.
    h.port.receive(kReadingForNobody);
    EXPECT_EQ(h.g.silenceTicks, 4);

    h.port.receive(kReadingForRow1);
    EXPECT_FLOAT_EQ(h.g.channelValues[1], 1.0f);
    EXPECT_EQ(h.g.silenceTicks, 0);
    nextWatchdogTick(h);
    EXPECT_EQ(h.w.编辑框7.text(), "0");
    EXPECT_EQ(h.g.silenceTicks, 1);
}

TEST(Alarm, BeepsOncePerSecondOnlyAfterSilenceAndOnlyWhileTicked) {
    Harness h;
    startConnected(h);
    // Acquisition starts at 800 ms: the alarm's tick at 1000 ms finds a count of 1.
    h.time.advanceTo(800);
    startAcquiring(h);
    h.time.advanceTo(2500);
    EXPECT_EQ(h.beeper.beeps, (std::vector<std::int64_t>{2000}));

    // Unticked: silent, but the stream is still realigned.
    h.w.报警.userSetChecked(false);
    h.time.advanceTo(3500);
    EXPECT_EQ(h.beeper.beeps.size(), 1u);
    h.g.receiveBuffer = {1, 2, 3, 4, 5};
    nextWatchdogTick(h);
    EXPECT_TRUE(h.g.receiveBuffer.empty());

    h.w.报警.userSetChecked(true);
    h.time.advanceTo(4500);
    EXPECT_EQ(h.beeper.beeps, (std::vector<std::int64_t>{2000, 4000}));

    // A reading ends it.
    h.port.receive(kReadingForRow1);
    h.time.advanceTo(5100);
    EXPECT_EQ(h.beeper.beeps.size(), 2u);
}

TEST(SyncTimer, HeadingsFollowTheAddressesAndTheGridIsDisabled) {
    Harness h;
    startConnected(h);
    const std::string timeHeading = h.w.表(0).text();
    h.type(h.w.地址(3), "12");
    h.time.advanceTo(499);
    EXPECT_EQ(h.w.表(3).text(), "3");
    EXPECT_TRUE(h.w.数据表格.enabled());
    h.time.advanceTo(500);
    EXPECT_EQ(h.w.表(3).text(), "12");
    EXPECT_FALSE(h.w.数据表格.enabled());
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(h.w.表(i).text(), h.w.地址(i).text()) << i;
    EXPECT_EQ(h.w.表(0).text(), timeHeading);  // the time column has no probe

    // Stays disabled whether acquisition runs or not.
    h.w.数据表格.setEnabled(true);
    startAcquiring(h);
    h.advance(500);
    EXPECT_FALSE(h.w.数据表格.enabled());
}

TEST(SyncTimer, RecordingIntervalSurvivesTheRepeatedAssignment) {
    Harness h;
    startConnected(h);
    std::vector<std::int64_t> ticks;
    std::function<void()> record = h.w.时钟5.tick;
    h.w.时钟5.tick = [&] {
        ticks.push_back(h.time.now());
        if (record) record();
    };

    h.time.advanceTo(250);
    h.choose(h.w.组合框3, 2);  // "1秒"
    ASSERT_EQ(h.w.组合框3.items()[2].text, "1秒");
    h.time.advanceTo(4600);
    // Taken up at the sync tick of 500 ms, then every second although re-assigned every 500 ms.
    EXPECT_EQ(ticks, (std::vector<std::int64_t>{1500, 2500, 3500, 4500}));

    h.choose(h.w.组合框3, 9);  // "从不"
    ASSERT_EQ(h.w.组合框3.items()[9].text, "从不");
    h.time.advanceTo(10000);
    EXPECT_EQ(h.w.时钟5.interval(), 0);
    EXPECT_EQ(ticks.size(), 4u);
}

}  // namespace
}  // namespace keldrin::test
