#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/harness.h"

namespace keldrin::test {
namespace {

struct Poller : ::testing::Test {
    Harness h;
    void SetUp() override {
        h.startConnected();
        ASSERT_TRUE(h.port.isOpen());
        // Settle the tick phase so that each advance of one interval gives one tick.
        h.advance(h.time.nextDue(h.w.时钟2) - h.time.now() - 1);
        h.port.sent.clear();
    }
    void run() { h.w.启动.setText("停止"); }
    void tickOnly(const std::vector<int>& channels) {
        for (int i = 1; i <= 8; ++i) h.w.选择框(i).setChecked(false);
        for (int c : channels) h.w.选择框(c).setChecked(true);
    }
    // One poll interval; the channel the request went to, read from its address byte
    // (the default addresses are the channel numbers), or 0 when nothing went out.
    int pollOnce() {
        const std::size_t before = h.port.sent.size();
        h.advance(h.w.时钟2.interval());
        if (h.port.sent.size() == before) return 0;
        EXPECT_EQ(h.port.sent.size(), before + 1);
        return h.port.sent.back().bytes[1];
    }
    std::vector<int> polls(std::size_t n) {
        std::vector<int> out;
        while (out.size() < n) out.push_back(pollOnce());
        return out;
    }
};

TEST_F(Poller, RotationGoesRoundTheTickedChannels) {
    run();
    const struct {
        const char* name;
        std::vector<int> ticked;
        int from;
        std::vector<int> polls;
        int nextAfter;
    } cases[] = {
        {"only 3: the search falls back to 1..8", {3}, 0, {3, 3, 3, 3}, 4},
        {"2, 5, 8 from 0", {2, 5, 8}, 0, {2, 5, 8, 2, 5, 8, 2}, 3},
        {"8 polled: next is 1", {8}, 8, {8}, 1},
        {"after 8 the search starts at 1", {1, 8}, 8, {8, 1}, 2},
        {"beyond 8 acts as 1", {1, 8}, 42, {1}, 2},
        {"nothing ticked: nothing sent, rotation kept", {}, 5, {0, 0, 0}, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tickOnly(c.ticked);
        h.g.nextPollChannel = c.from;
        h.w.编辑框发送.setText("keep");
        const std::int64_t sent = h.g.sentFrameCount;
        EXPECT_EQ(polls(c.polls.size()), c.polls);
        EXPECT_EQ(h.g.nextPollChannel, c.nextAfter);
        const int last = c.polls.back();
        EXPECT_EQ(h.g.sentFrameCount, sent + (last ? static_cast<std::int64_t>(c.polls.size()) : 0));
        EXPECT_EQ(h.w.编辑框发送.text(), last ? "0 " + std::to_string(last) + " 1C 3 0 0 0 3 20 1 " : "keep");
    }
}

TEST_F(Poller, TickChangesTakeEffectAtTheNextTick) {
    run();
    tickOnly({1, 4, 6});
    h.g.nextPollChannel = 1;
    EXPECT_EQ(pollOnce(), 1);
    h.w.选择框(4).setChecked(false);  // the next one due: skipped at once
    EXPECT_EQ(pollOnce(), 6);
    h.w.选择框(2).setChecked(true);  // due as soon as the rotation reaches it
    EXPECT_EQ(polls(3), (std::vector<int>{1, 2, 6}));
}

TEST_F(Poller, RequestCarriesTheTruncatedAddressAndChannel) {
    run();
    tickOnly({5});
    const struct {
        const char* address;
        const char* channel;
        std::uint8_t b0, b1, b2;
    } cases[] = {
        {"300", "28", 0x01, 0x2C, 0x1C},       // the worked request
        {"70000.9", "300", 0x11, 0x70, 0x2C},  // low bits only, fraction dropped
        {"1e3", "-1", 0x03, 0xE8, 0xFF},       // floating-point conversion; two's complement
        {"abc", "", 0x00, 0x00, 0x00},         // not a number: 0
        {"-0.9", "28.99", 0x00, 0x00, 0x1C},   // toward zero
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        h.w.地址(5).setText(c.address);
        h.w.信道(5).setText(c.channel);
        pollOnce();
        EXPECT_EQ(h.port.sent.back().bytes,
                  (std::vector<std::uint8_t>{c.b0, c.b1, c.b2, 0x03, 0x00, 0x00, 0x00, 0x03, 0x20, 0x01}));
    }
    EXPECT_EQ(h.w.编辑框发送.text(), "0 0 1C 3 0 0 0 3 20 1 ");
}

TEST_F(Poller, AClosedPortStillCountsAndEchoes) {
    run();
    tickOnly({2});
    h.port.close();
    h.w.编辑框发送.setText("");
    EXPECT_EQ(pollOnce(), 0);
    EXPECT_EQ(h.g.sentFrameCount, 1);
    EXPECT_EQ(h.w.编辑框发送.text(), "0 2 1C 3 0 0 0 3 20 1 ");
}

TEST_F(Poller, StoppedBuildsAndRotatesButSendsNothingWhileRunningHoldsOffConfiguration) {
    tickOnly({2, 5});
    h.g.nextPollChannel = 1;
    h.w.编辑框发送.setText("before");
    h.w.按钮3.setEnabled(false);
    h.w.按钮4.setEnabled(false);
    h.w.按钮5.setEnabled(true);
    EXPECT_EQ(pollOnce(), 0);
    EXPECT_EQ(h.g.nextPollChannel, 3);
    EXPECT_EQ(h.g.pollFrame[1], 2);
    EXPECT_EQ(h.g.sentFrameCount, 0);
    EXPECT_EQ(h.w.编辑框发送.text(), "before");
    EXPECT_TRUE(h.w.按钮3.enabled());
    EXPECT_FALSE(h.w.按钮4.enabled());  // 按钮4 and 按钮5 left as they were
    EXPECT_TRUE(h.w.按钮5.enabled());

    // The first request after a start goes to whichever channel is due.
    run();
    h.w.按钮4.setEnabled(true);
    EXPECT_EQ(pollOnce(), 5);
    EXPECT_FALSE(h.w.按钮3.enabled());
    EXPECT_FALSE(h.w.按钮4.enabled());
    EXPECT_FALSE(h.w.按钮5.enabled());
}

}  // namespace
}  // namespace keldrin::test
