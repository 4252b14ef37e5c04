#include <gtest/gtest.h>

#include "receiver/receiver_support.h"

namespace keldrin::test {
namespace {

const Bytes kReply4660 = {0xC1, 0x00, 0x06, 0x12, 0x34, 0x65, 0x00, 0x17, 0x00};

// Fills the write row as an operator would and clicks 修改; returns the bytes sent.
Bytes write(Harness& h, const std::string& address, int rateItem, int airItem, const std::string& channel) {
    h.type(h.w.编辑框5, address);
    if (rateItem >= 0) h.choose(h.w.组合框1, rateItem);
    if (airItem >= 0) h.choose(h.w.组合框2, airItem);
    h.type(h.w.编辑框6, channel);
    h.port.sent.clear();
    h.click(h.w.按钮4);
    EXPECT_EQ(h.port.sent.size(), 1u);
    return h.port.sent.empty() ? Bytes{} : h.port.sent.back().bytes;
}

TEST(ParameterWrite, WorkedExampleAtNineSixHundredWithItsEcho) {
    Harness h;
    startConnected(h, "115200");  // the box only listens at 9600 while configuring
    const std::int64_t t0 = h.time.now();
    Bytes sent = write(h, "1", 0, 0, "28");
    EXPECT_EQ(sent, (Bytes{0xC0, 0x00, 0x06, 0x00, 0x01, 0x65, 0x00, 0x1C, 0x40}));
    EXPECT_EQ(h.port.sent.back().baud, 9600);
    EXPECT_EQ(h.port.sent.back().time, t0 + 300);
    EXPECT_EQ(h.w.编辑框发送.text(), "C0 0 6 0 1 65 0 1C 40 ");
    EXPECT_EQ(h.g.awaitingParameterReply, 1);
}

TEST(ParameterWrite, AddressKeepsTheLowBitsOfQuotientAndRemainder) {
    struct Case {
        const char* text;
        std::uint8_t high, low;
    };
    for (const Case& c : {Case{"4660", 0x12, 0x34}, Case{"70000", 0x11, 0x70}, Case{"65535", 0xFF, 0xFF},
                          Case{"-1", 0xFF, 0xFF}, Case{"-256", 0xFF, 0x00}, Case{"", 0x00, 0x00}}) {
        Harness h;
        startConnected(h);
        Bytes sent = write(h, c.text, 0, 0, "1");
        ASSERT_EQ(sent.size(), 9u) << c.text;
        EXPECT_EQ(sent[3], c.high) << c.text;
        EXPECT_EQ(sent[4], c.low) << c.text;
    }
}

TEST(ParameterWrite, RateByteIsTheSumOfTheItemValuesAndZeroWhenUnselected) {
    Harness h;
    startConnected(h);
    EXPECT_EQ(write(h, "1", 3, 2, "1").at(5), 0xE7);  // 115200 + 高
    EXPECT_EQ(write(h, "1", 2, 1, "1").at(5), 0xA6);  // 38400 + 中
    h.choose(h.w.组合框1, -1);
    h.choose(h.w.组合框2, -1);
    EXPECT_EQ(write(h, "1", -1, -1, "1").at(5), 0x00);
    EXPECT_EQ(write(h, "1", -1, 2, "1").at(5), 0x07);
}

TEST(ParameterWrite, ChannelIsCutToAByteThenClampedToFifty) {
    struct Case {
        const char* text;
        std::uint8_t sent;
        const char* boxAfter;
    };
    for (const Case& c : {Case{"51", 0x32, "50"}, Case{"50", 0x32, "50"}, Case{"050", 0x32, "050"},
                          Case{"300", 0x2C, "300"}, Case{"306", 0x32, "306"}, Case{"307", 0x32, "50"}, Case{"-1", 0x32, "50"},
                          Case{"0", 0x00, "0"}}) {
        Harness h;
        startConnected(h);
        TextLog log(h.w.编辑框6);
        Bytes sent = write(h, "1", 0, 0, c.text);
        ASSERT_EQ(sent.size(), 9u) << c.text;
        EXPECT_EQ(sent[7], c.sent) << c.text;
        EXPECT_EQ(h.w.编辑框6.text(), c.boxAfter) << c.text;
        // The box is rewritten only when the value was really changed.
        EXPECT_EQ(log.texts.size(), std::string(c.boxAfter) == c.text ? 0u : 1u) << c.text;
    }
}

TEST(ParameterRead, SendsTheFixedCommandAfterReopeningAtNineSixHundred) {
    Harness h;
    startConnected(h, "38400");
    // Whatever the write row holds, the read is always the same three bytes.
    h.type(h.w.编辑框5, "999");
    h.choose(h.w.组合框1, 3);
    const std::int64_t t0 = h.time.now();
    h.click(h.w.按钮3);
    ASSERT_EQ(h.port.sent.size(), 1u);
    EXPECT_EQ(h.port.sent[0].bytes, (Bytes{0xC1, 0x00, 0x06}));
    EXPECT_EQ(h.port.sent[0].baud, 9600);
    EXPECT_EQ(h.port.sent[0].time, t0 + 300);
    EXPECT_EQ(h.w.编辑框发送.text(), "C1 0 6");
    ASSERT_EQ(h.port.events.size(), 3u);
    EXPECT_EQ(h.port.events[0].what, "baud 9600");
    EXPECT_EQ(h.port.events[0].time, t0);
    EXPECT_EQ(h.port.events[1].what, "close");
    EXPECT_EQ(h.port.events[1].time, t0 + 100);
    EXPECT_EQ(h.port.events[2].what, "open ok");
    EXPECT_EQ(h.port.events[2].time, t0 + 200);
}

TEST(ParameterRead, DiscardsAHalfReceivedFrameSoTheReplyIsReadAligned) {
    Harness h;
    startConnected(h);
    h.port.receive({0x00, 0x01, 0x1C, 0x06, 0x00});
    ASSERT_EQ(h.g.receiveBuffer.size(), 5u);
    h.click(h.w.按钮3);
    EXPECT_TRUE(h.g.receiveBuffer.empty());
    EXPECT_EQ(h.g.awaitingParameterReply, 1);

    h.port.receive(kReply4660);
    EXPECT_EQ(h.g.awaitingParameterReply, 0);
    EXPECT_EQ(h.w.编辑框1.text(), "4660");
    EXPECT_EQ(h.w.编辑框6.text(), "23");
}

TEST(ParameterWrite, AlsoDiscardsAHalfReceivedFrame) {
    Harness h;
    startConnected(h);
    h.port.receive({0x01, 0x02, 0x03});
    write(h, "1", 0, 0, "1");
    EXPECT_TRUE(h.g.receiveBuffer.empty());
    h.port.receive(kReply4660);
    EXPECT_EQ(h.w.编辑框1.text(), "4660");
}

TEST(ParameterButtons, EnabledByAReplyAndHeldOffWhileAcquiring) {
    Harness h;
    startConnected(h);
    MainWin& w = h.w;
    EXPECT_TRUE(w.按钮3.enabled());
    EXPECT_FALSE(w.按钮4.enabled());
    EXPECT_FALSE(w.按钮5.enabled());

    // A reply with a wrong header uses up the expectation but enables nothing.
    h.click(w.按钮3);
    h.port.receive({0xC1, 0x00, 0x07, 0x12, 0x34, 0x65, 0x00, 0x17, 0x00});
    EXPECT_EQ(h.g.awaitingParameterReply, 0);
    EXPECT_FALSE(w.按钮4.enabled());
    EXPECT_FALSE(w.按钮5.enabled());

    h.click(w.按钮3);
    h.port.receive(kReply4660);
    EXPECT_TRUE(w.按钮4.enabled());
    EXPECT_TRUE(w.按钮5.enabled());

    // Configuration would fight the polling for the port.
    w.启动.setText("停止");
    h.advance(250);
    EXPECT_FALSE(w.按钮3.enabled());
    EXPECT_FALSE(w.按钮4.enabled());
    EXPECT_FALSE(w.按钮5.enabled());

    // After a stop only the read comes back; a write needs a fresh read.
    w.启动.setText("启动");
    h.advance(250);
    EXPECT_TRUE(w.按钮3.enabled());
    EXPECT_FALSE(w.按钮4.enabled());
    EXPECT_FALSE(w.按钮5.enabled());

    h.click(w.按钮3);
    h.port.receive(kReply4660);
    EXPECT_TRUE(w.按钮4.enabled());
    EXPECT_TRUE(w.按钮5.enabled());
}

}  // namespace
}  // namespace keldrin::test
