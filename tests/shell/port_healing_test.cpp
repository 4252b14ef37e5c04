// The link's upkeep on the virtual clock: a port whose device went away comes back by
// itself, a quiet link is opened afresh, and the operator's own connection wins.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/harness.h"

namespace keldrin::test {
namespace {

const std::vector<std::uint8_t> kGreeting{0x5C, 0xA5, 0x00, 0x00};
const std::string kLostTitle = "Keldrin              连接断开COM3，重连中。。。";
const std::string kConnectedTitle = "Keldrin              已连接COM3";

// Recording all eight probes at "1秒", connected on COM3.
struct Healing : ::testing::Test {
    Harness h;
    AnsweringProbes probes{h};
    void SetUp() override {
        h.startConnected();
        h.click(h.w.按钮1);
        h.choose(h.w.组合框3, 2);
        h.advance(1000);
        h.click(h.w.启动);
        h.advance(5000);
    }
    int countEvents(const std::string& what, std::int64_t from) const {
        return static_cast<int>(std::count_if(h.port.events.begin(), h.port.events.end(), [&](const PortEvent& e) {
            return e.time >= from && e.what == what;
        }));
    }
    std::int64_t firstEvent(const std::string& what, std::int64_t from) const {
        for (const PortEvent& e : h.port.events) {
            if (e.time >= from && e.what == what) return e.time;
        }
        return -1;
    }
    int greetingsSince(std::int64_t from) const {
        return static_cast<int>(std::count_if(h.port.sent.begin(), h.port.sent.end(), [&](const SentBlock& s) {
            return s.time >= from && s.bytes == kGreeting;
        }));
    }
    std::size_t sentSince(std::int64_t from) const {
        return static_cast<std::size_t>(std::count_if(h.port.sent.begin(), h.port.sent.end(),
                                                      [&](const SentBlock& s) { return s.time >= from; }));
    }
    RecordStore& table() { return h.w.通用提供者1; }
    std::int64_t acceptedFrames() const {
        std::int64_t n = 0;
        for (std::int64_t f : h.g.probeFrames) n += f;
        return n;
    }
};

TEST_F(Healing, AnUnpluggedPortSaysSoKeepsRecordingGapsAndComesBackWithinASecondOfItsDevice) {
    const int rowsBefore = table().rowCount();
    const std::int64_t lostAt = h.time.now();
    h.port.unplug(3);
    h.advance(10);
    EXPECT_EQ(h.w.title(), kLostTitle);
    EXPECT_EQ(h.w.title().find("已连接"), std::string::npos);

    h.advance(10000);
    // Sends go nowhere, the port is tried about once a second, and rows go on: a gap in
    // every cell once the readings are three rounds (4.8 s) old.
    EXPECT_EQ(sentSince(lostAt), 0u);
    EXPECT_GE(countEvents("open fail", lostAt), 9);
    EXPECT_LE(countEvents("open fail", lostAt), 11);
    ASSERT_EQ(table().rowCount(), rowsBefore + 10);
    for (int c = 2; c <= 9; ++c) EXPECT_EQ(table().cell(table().rowCount(), c), "") << c;
    EXPECT_TRUE(h.w.CT(1).stale());

    h.g.receiveBuffer = {0x00, 0x01, 0x1C};  // half a frame from before the loss
    const std::int64_t backAt = h.time.now() + 300;
    std::int64_t framesAtReturn = 0, answersAtReturn = 0;
    h.time.at(backAt, [&] {
        h.port.plug(3);
        framesAtReturn = acceptedFrames();
        answersAtReturn = probes.answers;
    });
    h.advance(1500);
    const std::int64_t healedAt = firstEvent("open ok", backAt);
    ASSERT_GE(healedAt, backAt);
    EXPECT_LE(healedAt - backAt, 1000);
    EXPECT_EQ(h.w.title(), kConnectedTitle);
    // What 连接 does: the greeting first, then polling goes on, frames aligned afresh.
    const auto first = std::find_if(h.port.sent.begin(), h.port.sent.end(),
                                    [&](const SentBlock& s) { return s.time >= healedAt; });
    ASSERT_NE(first, h.port.sent.end());
    EXPECT_EQ(first->bytes, kGreeting);
    h.advance(3000);
    EXPECT_FALSE(h.w.CT(1).stale());
    for (int c = 2; c <= 9; ++c) EXPECT_NE(table().cell(table().rowCount(), c), "") << c;
    EXPECT_EQ(countEvents("open fail", healedAt), 0);
    // Every answer since is taken, the first one too: nothing from before was kept.
    h.click(h.w.启动);
    h.advance(100);
    EXPECT_EQ(acceptedFrames() - framesAtReturn, probes.answers - answersAtReturn);
}

TEST_F(Healing, TheOperatorsConnectEndsHealingAndBehavesAsBefore) {
    h.port.unplug(3);
    h.advance(2500);
    h.chooseMenu("连接");
    ASSERT_EQ(h.boxes.shown.size(), 1u);
    EXPECT_EQ(h.boxes.shown[0].text, "请选择正确的端口");
    EXPECT_EQ(h.w.title(), "Keldrin              加油连接中。。。");
    const std::size_t eventsBefore = h.port.events.size();
    h.port.plug(3);
    h.advance(5000);
    EXPECT_EQ(h.port.events.size(), eventsBefore);  // nothing tried by itself
    EXPECT_FALSE(h.port.isOpen());
    h.chooseMenu("连接");
    EXPECT_TRUE(h.port.isOpen());
    EXPECT_EQ(h.w.title(), kConnectedTitle);
}

TEST_F(Healing, AQuietLinkIsOpenedAfreshEveryThirtySecondsWhileAcquiringOnly) {
    // Probes answering: nothing is reopened.
    std::int64_t t0 = h.time.now();
    h.advance(100000);
    EXPECT_EQ(countEvents("close", t0), 0);

    // A box switched off and on answers nothing on a port that stays open.
    for (int a = 1; a <= 8; ++a) probes.silent.insert(a);
    t0 = h.time.now();
    h.advance(95000);
    EXPECT_EQ(greetingsSince(t0), 3);  // after about 30, 60 and 90 s of silence
    EXPECT_EQ(countEvents("close", t0), 3);
    EXPECT_EQ(h.w.title(), kConnectedTitle);

    // Never while a parameter command waits for its reply, nor while stopped.
    h.g.awaitingParameterReply = 1;
    t0 = h.time.now();
    h.advance(65000);
    EXPECT_EQ(countEvents("close", t0), 0);
    h.g.awaitingParameterReply = 0;
    h.click(h.w.启动);
    h.advance(65000);
    EXPECT_EQ(countEvents("close", t0), 0);

    // A quiet reopen that finds the device gone heals it as a loss.
    h.click(h.w.启动);
    h.port.devices.erase(3);
    h.advance(31000);
    EXPECT_EQ(h.w.title(), kLostTitle);
    h.port.plug(3);
    h.advance(1000);
    EXPECT_EQ(h.w.title(), kConnectedTitle);
}

TEST_F(Healing, APortLostDuringAParameterCommandsPausesComesBackAtTheRateHeld) {
    h.click(h.w.启动);  // stopped: the parameter commands are offered
    h.port.setBaudRate(115200);
    h.chooseMenu("连接");
    ASSERT_EQ(h.port.baudRate(), 115200);
    const std::int64_t clickedAt = h.time.now();
    h.time.at(clickedAt + 50, [this] { h.port.unplug(3); });  // inside its first pause
    h.click(h.w.按钮3);
    EXPECT_EQ(h.time.now(), clickedAt + 300);
    EXPECT_FALSE(h.port.isOpen());
    EXPECT_EQ(h.w.title(), kLostTitle);
    h.port.plug(3);
    h.advance(1000);
    ASSERT_TRUE(h.port.isOpen());
    EXPECT_EQ(h.port.baudRate(), 9600);  // where the command had set it
    EXPECT_EQ(h.w.title(), kConnectedTitle);
}

}  // namespace
}  // namespace keldrin::test
