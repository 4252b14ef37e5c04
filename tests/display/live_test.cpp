#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"

namespace keldrin::test {
namespace {

// Lets the next tick of 时钟1 run.
void nextDisplayTick(Harness& h) { h.advance(h.time.nextDue(h.w.时钟1) - h.time.now()); }

// Caption, bar height, bar top and label top of channel i.
std::string shown(Harness& h, int i) {
    return h.w.CT(i).text() + " " + std::to_string(h.w.图片框(i).height()) + " " +
           std::to_string(h.w.图片框(i).top()) + " " + std::to_string(h.w.CT(i).top());
}

TEST(LiveDisplay, WorkedValuesGiveTheirBarsAndLabelPlaces) {
    const struct {
        float v;
        const char* shown;
    } rows[] = {
        {0.0f, "0.000 1 231 191"},       {1.234f, "1.234 4 228 188"},   {10.5f, "10.500 32 200 160"},
        {65.535f, "65.535 197 35 -5"},   {-0.001f, "-0.001 1 232 243"}, {-2.0f, "-2.000 7 232 249"},
        {-65.536f, "-65.536 197 232 439"}, {0.333f, "0.333 1 231 191"},
    };
    Harness h;
    for (int i = 1; i <= 8; ++i) h.g.channelValues[i] = rows[i - 1].v;
    nextDisplayTick(h);
    for (int i = 1; i <= 8; ++i) {
        EXPECT_EQ(shown(h, i), rows[i - 1].shown);
        EXPECT_EQ(h.w.图片框(i).width(), 120) << i;  // only height and top move
    }
    // Negative zero stands on the line, also where a bar hung down before.
    h.g.channelValues[7] = -0.0f;
    nextDisplayTick(h);
    EXPECT_EQ(shown(h, 7), "0.000 1 231 191");
}

TEST(LiveDisplay, ZeroLineFollowsTheAddressBoxAndPlacesComeFromTheHeightKept) {
    Harness h;
    h.g.channelValues[1] = 1e9f;
    h.g.channelValues[2] = -1e9f;
    h.g.channelValues[3] = 2.0f;
    h.g.channelValues[6] = -2.0f;
    nextDisplayTick(h);
    h.w.地址(3).setTop(300);
    h.w.地址(6).setTop(100);
    nextDisplayTick(h);
    EXPECT_EQ(shown(h, 3), "2.000 7 305 265");
    EXPECT_EQ(shown(h, 6), "-2.000 7 112 129");
    const int kept = Control::kMaxExtent;
    EXPECT_EQ(h.w.图片框(1).height(), kept);
    EXPECT_EQ(h.w.图片框(1).top(), 232 - kept);
    EXPECT_EQ(h.w.CT(1).top(), 232 - kept - 40);
    EXPECT_EQ(h.w.图片框(2).height(), kept);
    EXPECT_EQ(h.w.图片框(2).top(), 232);
    EXPECT_EQ(h.w.CT(2).top(), 220 + kept + 22);
}

TEST(LiveDisplay, ClockAndCountersWithTheirSuffixes) {
    Harness h;
    h.g.sentFrameCount = 12;
    h.g.receivedFrameCount = 9876543210;
    nextDisplayTick(h);
    EXPECT_EQ(h.w.标签发送.text(), "12   发送：");
    EXPECT_EQ(h.w.标签接收.text(), "9876543210   接收：");
    EXPECT_EQ(h.w.系统时间.text(), h.clock.nowText());
    const std::string first = h.w.系统时间.text();
    nextDisplayTick(h);
    EXPECT_NE(h.w.系统时间.text(), first);  // 50 ms later, to the millisecond
}

TEST(LiveDisplay, ADecodedReadingReachesItsLabelOnTheNextTick) {
    Harness h;
    h.startConnected();
    h.w.选择框(2).setChecked(false);  // unticked channels are shown all the same
    h.port.receive({0x00, 0x02, 0x1C, 0x06, 0x00, 0xFF, 0xFC, 0x18, 0x00, 0x00, 0x00, 0x00});
    nextDisplayTick(h);
    EXPECT_EQ(shown(h, 2), "-1.000 4 232 246");
    EXPECT_EQ(h.w.CT(1).text(), "0.000");
}

TEST(LiveDisplay, AStaleReadingIsGreyedWhileAcquiringAndItsTipSaysWhenItCame) {
    Harness h;
    h.startConnected();
    for (int i = 1; i <= 8; ++i) h.w.选择框(i).setChecked(i <= 2);
    nextDisplayTick(h);
    EXPECT_FALSE(h.w.CT(1).stale());  // stopped: as ever
    EXPECT_EQ(h.w.CT(1).toolTip(), "无读数\n自启动：轮询 0 次，收到 0 帧");

    h.click(h.w.启动);
    h.advance(450);  // polls go to probes 1 and 2 in turn; probe 1 answers once
    const std::string answeredAt = h.clock.nowText();
    h.port.receive({0x00, 0x01, 0x1C, 0x06, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x00, 0x00});
    nextDisplayTick(h);
    EXPECT_FALSE(h.w.CT(1).stale());
    EXPECT_EQ(h.w.CT(1).toolTip(), "最后读数 " + answeredAt.substr(11) + "\n自启动：轮询 2 次，收到 1 帧");
    EXPECT_TRUE(h.w.CT(2).stale());  // never answered
    EXPECT_TRUE(h.w.图片框(2).stale());
    EXPECT_FALSE(h.w.CT(3).stale());  // not ticked

    h.advance(2100);  // two polling rounds are 0.8 s: the floor of 2 s holds
    EXPECT_TRUE(h.w.CT(1).stale());
    EXPECT_TRUE(h.w.图片框(1).stale());
    EXPECT_EQ(h.w.CT(1).text(), "1.000");  // its last value, greyed
    h.click(h.w.启动);
    nextDisplayTick(h);
    EXPECT_FALSE(h.w.CT(1).stale());
}

}  // namespace
}  // namespace keldrin::test
