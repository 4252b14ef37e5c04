#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "receiver/receiver_support.h"

namespace keldrin::test {
namespace {

// Address 1, channel 28 (channel row 1 as shipped), reading 1.000.
const Bytes kReadingForRow1 = {0x00, 0x01, 0x1C, 0x06, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x00, 0x00};

struct Housekeeping : Connected {
    // Runs up to and including the watchdog's next tick.
    void nextWatchdogTick() {
        const std::int64_t due = h.time.nextDue(h.w.时钟4清屏);
        ASSERT_GE(due, h.time.now()) << "the watchdog has stopped";
        h.time.advanceTo(due);
    }
    void startAcquiring() {
        h.w.启动.setText("停止");
        h.g.silenceTicks = 0;
    }
};
using Watchdog = Housekeeping;
using SyncTimer = Housekeeping;

TEST_F(Watchdog, IdleWhileStoppedThenCountsAndFlushesFromTheThirdSilentTick) {
    h.g.receiveBuffer = {1, 2, 3};
    h.advance(3000);
    EXPECT_EQ(h.w.时钟4清屏.interval(), 200);  // its first tick, at 100 ms, took up the poll interval
    EXPECT_EQ(h.g.silenceTicks, 0);
    EXPECT_EQ(h.w.编辑框7.text(), "0");
    EXPECT_EQ(h.g.receiveBuffer.size(), 3u);
    EXPECT_TRUE(h.beeper.beeps.empty());

    startAcquiring();
    std::vector<std::string> shown;
    std::vector<bool> flushed;
    std::vector<std::int64_t> gaps;
    for (int tick = 0; tick < 5; ++tick) {
        h.g.receiveBuffer = {1, 2, 3};  // a partial frame waiting for bytes that never come
        const std::int64_t before = h.time.now();
        nextWatchdogTick();
        if (tick > 0) gaps.push_back(h.time.now() - before);
        shown.push_back(h.w.编辑框7.text());
        flushed.push_back(h.g.receiveBuffer.empty());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"0", "1", "2", "3", "4"}));
    EXPECT_EQ(flushed, (std::vector<bool>{false, false, true, true, true}));
    EXPECT_EQ(gaps, (std::vector<std::int64_t>{200, 200, 200, 200}));
}

TEST_F(Watchdog, FollowsThePollIntervalAndSurvivesAnEmptiedBox) {
    nextWatchdogTick();
    startAcquiring();
    // The operator clears the box to type a new interval: the watchdog keeps going.
    for (const char* typing : {"", "0", "-5", "abc"}) {
        h.type(h.w.间隔时间, typing);
        const int before = h.g.silenceTicks;
        h.advance(1000);
        EXPECT_EQ(h.w.时钟4清屏.interval(), 200) << typing;
        EXPECT_EQ(h.g.silenceTicks, before + 5) << typing;
    }
    h.type(h.w.间隔时间, "400");
    nextWatchdogTick();  // still due on the old countdown, takes up the new interval
    const std::int64_t t = h.time.now();
    nextWatchdogTick();
    EXPECT_EQ(h.time.now() - t, 400);
}

TEST_F(Watchdog, OnlyAnAcceptedReadingResetsTheCount) {
    nextWatchdogTick();
    startAcquiring();
    for (int i = 0; i < 4; ++i) nextWatchdogTick();
    ASSERT_EQ(h.g.silenceTicks, 4);
    // A frame for a probe no row watches is not a sign of life.
    Bytes nobody = kReadingForRow1;
    nobody[1] = 0x63;
    h.port.receive(nobody);
    EXPECT_EQ(h.g.silenceTicks, 4);

    h.port.receive(kReadingForRow1);
    EXPECT_EQ(h.g.silenceTicks, 0);
    nextWatchdogTick();
    EXPECT_EQ(h.w.编辑框7.text(), "0");
    EXPECT_EQ(h.g.silenceTicks, 1);
}

TEST_F(Housekeeping, AlarmBeepsOncePerSecondOnlyAfterSilenceAndOnlyWhileTicked) {
    // Acquisition starts at 800 ms: the alarm's tick at 1000 ms finds a count of 1.
    h.time.advanceTo(800);
    startAcquiring();
    h.time.advanceTo(2500);
    EXPECT_EQ(h.beeper.beeps, (std::vector<std::int64_t>{2000}));

    // Unticked: silent, but the stream is still realigned.
    h.w.报警.userSetChecked(false);
    h.time.advanceTo(3500);
    EXPECT_EQ(h.beeper.beeps.size(), 1u);
    h.g.receiveBuffer = {1, 2, 3, 4, 5};
    nextWatchdogTick();
    EXPECT_TRUE(h.g.receiveBuffer.empty());

    h.w.报警.userSetChecked(true);
    h.time.advanceTo(4500);
    EXPECT_EQ(h.beeper.beeps, (std::vector<std::int64_t>{2000, 4000}));
    // A reading ends it.
    h.port.receive(kReadingForRow1);
    h.time.advanceTo(5100);
    EXPECT_EQ(h.beeper.beeps.size(), 2u);
}

TEST_F(SyncTimer, HeadingsFollowTheAddressesAndTheGridIsDisabled) {
    const std::string timeHeading = h.w.表(0).text();
    h.type(h.w.地址(3), "12");
    h.time.advanceTo(499);
    EXPECT_EQ(h.w.表(3).text(), "3");
    EXPECT_TRUE(h.w.数据表格.enabled());
    h.time.advanceTo(500);
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(h.w.表(i).text(), i == 3 ? "12" : std::to_string(i)) << i;
    EXPECT_EQ(h.w.表(0).text(), timeHeading);  // the time column has no probe
    EXPECT_FALSE(h.w.数据表格.enabled());
    // Stays disabled whether acquisition runs or not.
    h.w.数据表格.setEnabled(true);
    startAcquiring();
    h.advance(500);
    EXPECT_FALSE(h.w.数据表格.enabled());
}

TEST_F(SyncTimer, RecordingIntervalSurvivesTheRepeatedAssignment) {
    std::vector<std::int64_t> ticks;
    std::function<void()> record = h.w.时钟5.tick;
    h.w.时钟5.tick = [&] {
        ticks.push_back(h.time.now());
        if (record) record();
    };
    h.time.advanceTo(250);
    h.choose(h.w.组合框3, 2);
    ASSERT_EQ(h.w.组合框3.items()[2].text, "1秒");
    h.time.advanceTo(4600);
    // Taken up at the sync tick of 500 ms, then every second although re-assigned every 500 ms.
    EXPECT_EQ(ticks, (std::vector<std::int64_t>{1500, 2500, 3500, 4500}));

    h.choose(h.w.组合框3, 9);
    ASSERT_EQ(h.w.组合框3.items()[9].text, "从不");
    h.time.advanceTo(10000);
    EXPECT_EQ(h.w.时钟5.interval(), 0);
    EXPECT_EQ(ticks.size(), 4u);
}

}  // namespace
}  // namespace keldrin::test
