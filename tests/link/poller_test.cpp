#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/harness.h"

namespace keldrin::test {
namespace {

void startConnected(Harness& h) {
    h.writeFile("端口号.txt", "3");
    h.writeFile("波特率.txt", "9600");
    h.start();
    ASSERT_TRUE(h.port.isOpen());
    h.port.sent.clear();
}

void tickOnly(Harness& h, std::initializer_list<int> channels) {
    for (int i = 1; i <= 8; ++i) h.w.选择框(i).setChecked(false);
    for (int c : channels) h.w.选择框(c).setChecked(true);
}

// Lets one poll interval pass and returns the channel the request went to, read from
// its address byte (the default addresses are the channel numbers); 0 when nothing went out.
int pollOnce(Harness& h) {
    const std::size_t before = h.port.sent.size();
    h.advance(h.w.时钟2.interval());
    if (h.port.sent.size() == before) return 0;
    EXPECT_EQ(h.port.sent.size(), before + 1);
    return h.port.sent.back().bytes[1];
}

std::vector<int> polls(Harness& h, int n) {
    std::vector<int> out;
    for (int k = 0; k < n; ++k) out.push_back(pollOnce(h));
    return out;
}

struct Running : ::testing::Test {
    Harness h;
    void SetUp() override {
        startConnected(h);
        h.w.启动.setText("停止");
        // Let the tick phase settle so that each advance of one interval gives one tick.
        h.advance(h.time.nextDue(h.w.时钟2) - h.time.now() - 1);
        h.port.sent.clear();
    }
};

TEST_F(Running, OnlyChannelThreeIsPolledAgainAndAgain) {
    tickOnly(h, {3});
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(pollOnce(h), 3);
        EXPECT_EQ(h.g.nextPollChannel, 4);
    }
}

TEST_F(Running, RotationGoesRoundTheTickedChannelsFromZero) {
    tickOnly(h, {2, 5, 8});
    h.g.nextPollChannel = 0;
    EXPECT_EQ(polls(h, 7), (std::vector<int>{2, 5, 8, 2, 5, 8, 2}));
}

TEST_F(Running, AfterChannelEightTheSearchStartsAtOne) {
    tickOnly(h, {1, 8});
    h.g.nextPollChannel = 8;
    EXPECT_EQ(pollOnce(h), 8);
    EXPECT_EQ(h.g.nextPollChannel, 1);
    EXPECT_EQ(pollOnce(h), 1);
    // A value beyond 8 acts as 1.
    h.g.nextPollChannel = 42;
    EXPECT_EQ(pollOnce(h), 1);
    EXPECT_EQ(h.g.nextPollChannel, 2);
}

TEST_F(Running, TickChangesTakeEffectAtTheNextTick) {
    tickOnly(h, {1, 4, 6});
    h.g.nextPollChannel = 1;
    EXPECT_EQ(pollOnce(h), 1);
    h.w.选择框(4).setChecked(false);  // the next one due: skipped at once
    EXPECT_EQ(pollOnce(h), 6);
    h.w.选择框(2).setChecked(true);  // due as soon as the rotation reaches it
    EXPECT_EQ(pollOnce(h), 1);
    EXPECT_EQ(pollOnce(h), 2);
    EXPECT_EQ(pollOnce(h), 6);
}

TEST_F(Running, RequestCarriesTheTruncatedAddressAndChannelAndIsEchoed) {
    tickOnly(h, {5});
    h.w.地址(5).setText("300");
    h.w.信道(5).setText("28");
    const std::int64_t sent = h.g.sentFrameCount;
    pollOnce(h);
    EXPECT_EQ(h.port.sent.back().bytes,
              (std::vector<std::uint8_t>{0x01, 0x2C, 0x1C, 0x03, 0x00, 0x00, 0x00, 0x03, 0x20, 0x01}));
    EXPECT_EQ(h.w.编辑框发送.text(), "1 2C 1C 3 0 0 0 3 20 1 ");
    EXPECT_EQ(h.g.sentFrameCount, sent + 1);

    const struct {
        const char* address;
        const char* channel;
        std::uint8_t b0, b1, b2;
    } cases[] = {
        {"70000.9", "300", 0x11, 0x70, 0x2C},  // low bits only, fraction dropped
        {"1e3", "-1", 0x03, 0xE8, 0xFF},       // floating-point conversion; two's complement
        {"abc", "", 0x00, 0x00, 0x00},         // not a number: 0
        {"-0.9", "28.99", 0x00, 0x00, 0x1C},   // toward zero
    };
    for (const auto& c : cases) {
        h.w.地址(5).setText(c.address);
        h.w.信道(5).setText(c.channel);
        pollOnce(h);
        const std::vector<std::uint8_t>& b = h.port.sent.back().bytes;
        EXPECT_EQ(b[0], c.b0) << c.address;
        EXPECT_EQ(b[1], c.b1) << c.address;
        EXPECT_EQ(b[2], c.b2) << c.channel;
    }
}

TEST_F(Running, NothingTickedSendsNothingAndKeepsTheEcho) {
    tickOnly(h, {});
    h.w.编辑框发送.setText("keep");
    h.g.nextPollChannel = 5;
    const std::int64_t sent = h.g.sentFrameCount;
    EXPECT_EQ(polls(h, 3), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(h.w.编辑框发送.text(), "keep");
    EXPECT_EQ(h.g.sentFrameCount, sent);
    EXPECT_EQ(h.g.nextPollChannel, 5);
}

TEST_F(Running, ParameterButtonsAreHeldDisabled) {
    tickOnly(h, {1});
    h.w.按钮3.setEnabled(true);
    h.w.按钮4.setEnabled(true);
    h.w.按钮5.setEnabled(true);
    pollOnce(h);
    EXPECT_FALSE(h.w.按钮3.enabled());
    EXPECT_FALSE(h.w.按钮4.enabled());
    EXPECT_FALSE(h.w.按钮5.enabled());
}

TEST_F(Running, AClosedPortStillCountsAndEchoes) {
    tickOnly(h, {2});
    h.port.close();
    const std::int64_t sent = h.g.sentFrameCount;
    h.w.编辑框发送.setText("");
    EXPECT_EQ(pollOnce(h), 0);
    EXPECT_EQ(h.g.sentFrameCount, sent + 1);
    EXPECT_EQ(h.w.编辑框发送.text(), "0 2 1C 3 0 0 0 3 20 1 ");
}

TEST(Poller, StoppedBuildsAndRotatesButSendsNothing) {
    Harness h;
    startConnected(h);
    ASSERT_FALSE(h.app.acquiring());
    tickOnly(h, {2, 5});
    h.g.nextPollChannel = 1;
    h.w.编辑框发送.setText("before");
    h.w.按钮3.setEnabled(false);
    h.w.按钮4.setEnabled(true);
    h.w.按钮5.setEnabled(false);
    const std::int64_t sent = h.g.sentFrameCount;

    h.advance(h.time.nextDue(h.w.时钟2) - h.time.now());
    EXPECT_EQ(h.g.nextPollChannel, 3);
    EXPECT_EQ(h.g.pollFrame[1], 2);
    EXPECT_TRUE(h.port.sent.empty());
    EXPECT_EQ(h.g.sentFrameCount, sent);
    EXPECT_EQ(h.w.编辑框发送.text(), "before");
    EXPECT_TRUE(h.w.按钮3.enabled());
    EXPECT_TRUE(h.w.按钮4.enabled());  // left as they were
    EXPECT_FALSE(h.w.按钮5.enabled());

    // The first request after a start goes to whichever channel is due.
    h.w.启动.setText("停止");
    h.advance(h.w.时钟2.interval());
    ASSERT_EQ(h.port.sent.size(), 1u);
    EXPECT_EQ(h.port.sent[0].bytes[1], 5);
}

}  // namespace
}  // namespace keldrin::test
