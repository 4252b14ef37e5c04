#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/harness.h"

namespace keldrin::test {
namespace {

// Every non-empty text 编辑框发送 is given, with its virtual time.
struct EchoLog : ControlObserver {
    Harness& h;
    std::vector<std::pair<std::int64_t, std::string>> texts;
    explicit EchoLog(Harness& harness) : h(harness) { h.w.编辑框发送.setObserver(this); }
    ~EchoLog() override { h.w.编辑框发送.setObserver(nullptr); }
    void controlChanged(Control& c, Prop p, const std::string&, std::size_t) override {
        if (p == Prop::Text && !c.text().empty()) texts.emplace_back(h.time.now(), c.text());
    }
};

struct ZeroCommand : ::testing::Test {
    Harness h;
    std::int64_t t0 = 0;
    void SetUp() override {
        h.startConnected();
        ASSERT_TRUE(h.port.isOpen());
        for (int i = 1; i <= 8; ++i) h.w.选择框(i).setChecked(false);
        h.port.sent.clear();
        t0 = h.time.now();
    }
    void tick(int i, const char* address, const char* channel) {
        h.w.选择框(i).setChecked(true);
        h.w.地址(i).setText(address);
        h.w.信道(i).setText(channel);
    }
};

TEST_F(ZeroCommand, NoRowTickedSendsNothingAndEchoesTheTemplate) {
    h.click(h.w.按钮发送);  // runs to its end, pauses included
    EXPECT_TRUE(h.port.sent.empty());
    EXPECT_EQ(h.time.now(), t0 + 600);
    EXPECT_EQ(h.w.编辑框发送.text(), "0 6 1C 6 0 0 0 0 AC 0 ");
}

TEST_F(ZeroCommand, TickedRowsGetTheirCommandsInRowOrderFiftyMillisecondsApart) {
    tick(1, "1", "28");
    tick(2, "300", "5");
    tick(7, "70000", "257");  // only the low bits reach the wire
    EchoLog log(h);
    h.click(h.w.按钮发送);

    using Bytes = std::vector<std::uint8_t>;
    ASSERT_EQ(h.port.sent.size(), 3u);
    EXPECT_EQ(h.port.sent[0].bytes, (Bytes{0x00, 0x01, 0x1C, 0x06, 0x00, 0x00, 0x00, 0x00, 0xAC, 0x00}));
    EXPECT_EQ(h.port.sent[1].bytes, (Bytes{0x01, 0x2C, 0x05, 0x06, 0x00, 0x00, 0x00, 0x00, 0xAC, 0x00}));
    EXPECT_EQ(h.port.sent[2].bytes, (Bytes{0x11, 0x70, 0x01, 0x06, 0x00, 0x00, 0x00, 0x00, 0xAC, 0x00}));
    // 50 ms for every row, ticked or not.
    EXPECT_EQ(h.port.sent[0].time, t0 + 100);
    EXPECT_EQ(h.port.sent[1].time, t0 + 150);
    EXPECT_EQ(h.port.sent[2].time, t0 + 400);
    EXPECT_EQ(h.time.now(), t0 + 600);
    EXPECT_EQ(h.g.sentFrameCount, 0);  // zero commands are not polls

    // The echo is renewed after every row's pause; unticked rows re-show the last command.
    ASSERT_EQ(log.texts.size(), 8u);
    for (int row = 1; row <= 8; ++row) {
        const char* echo = row == 1 ? "0 1 1C 6 0 0 0 0 AC 0 " : row < 7 ? "1 2C 5 6 0 0 0 0 AC 0 " : "11 70 1 6 0 0 0 0 AC 0 ";
        EXPECT_EQ(log.texts[static_cast<std::size_t>(row - 1)], std::make_pair(t0 + 100 + 50 * row, std::string(echo)))
            << row;
    }
}

TEST_F(ZeroCommand, LeavesTheReceiveStateAloneAndBytesMeanwhileAreDecodedAfter) {
    h.w.选择框(1).setChecked(true);
    h.g.awaitingParameterReply = 1;
    h.g.receiveBuffer = {0xC1, 0x00};
    // A reply finishing during the click is taken once the click is over.
    h.port.receiveAt(t0 + 300, {0x06, 0x00, 0x01, 0x65, 0x00, 0x02, 0x00});
    h.click(h.w.按钮发送);
    EXPECT_EQ(h.time.now(), t0 + 600 + 300);  // then the reply's port reopening
    EXPECT_EQ(h.g.awaitingParameterReply, 0);
    EXPECT_EQ(h.w.编辑框1.text(), "1");
    EXPECT_EQ(h.w.编辑框2.text(), "2");
}

TEST_F(ZeroCommand, DuringAcquisitionTheTicksMissedInItsPausesComeOnce) {
    tick(1, "1", "28");
    h.click(h.w.启动);
    h.advance(1000);
    const std::int64_t silenceBefore = h.g.silenceTicks;
    h.port.sent.clear();
    const std::int64_t t1 = h.time.now();
    h.click(h.w.按钮发送);  // 600 ms of pauses: three poll ticks and six watchdog ticks came due
    h.advance(1);
    std::vector<std::int64_t> polls;
    for (const SentBlock& b : h.port.sent) {
        if (b.bytes.size() == 10 && b.bytes[3] == 0x03) polls.push_back(b.time);
    }
    // One poll when the click is over, not three at once on the radio.
    EXPECT_EQ(polls, std::vector<std::int64_t>{t1 + 600});
    EXPECT_EQ(h.g.silenceTicks, silenceBefore + 1);
}

}  // namespace
}  // namespace keldrin::test
