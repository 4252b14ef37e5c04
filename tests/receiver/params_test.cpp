#include <gtest/gtest.h>

#include "receiver/receiver_support.h"

namespace keldrin::test {
namespace {

const Bytes kReply4660 = {0xC1, 0x00, 0x06, 0x12, 0x34, 0x65, 0x00, 0x17, 0x00};

struct Params : Connected {
    // Fills the write row as an operator would and clicks 修改; returns the bytes sent.
    Bytes write(const std::string& address, int rateItem, int airItem, const std::string& channel) {
        h.type(h.w.编辑框5, address);
        h.choose(h.w.组合框1, rateItem);
        h.choose(h.w.组合框2, airItem);
        h.type(h.w.编辑框6, channel);
        h.port.sent.clear();
        h.click(h.w.按钮4);
        EXPECT_EQ(h.port.sent.size(), 1u);
        return h.port.sent.empty() ? Bytes(9) : h.port.sent.back().bytes;
    }
};
using ParameterWrite = Params;
using ParameterRead = Params;

TEST_F(ParameterWrite, WorkedExampleAtNineSixHundredWithItsEcho) {
    h.port.setBaudRate(115200);  // the box only listens at 9600 while configuring
    const std::int64_t t0 = h.time.now();
    EXPECT_EQ(write("1", 0, 0, "28"), (Bytes{0xC0, 0x00, 0x06, 0x00, 0x01, 0x65, 0x00, 0x1C, 0x40}));
    EXPECT_EQ(h.port.sent.back().baud, 9600);
    EXPECT_EQ(h.port.sent.back().time, t0 + 300);
    EXPECT_EQ(h.w.编辑框发送.text(), "C0 0 6 0 1 65 0 1C 40 ");
    EXPECT_EQ(h.g.awaitingParameterReply, 1);
}

TEST_F(ParameterWrite, AddressAndRateBytes) {
    const struct {
        const char* address;
        int rateItem, airItem;
        std::uint8_t high, low, rate;
    } cases[] = {
        {"4660", 3, 2, 0x12, 0x34, 0xE7},  // 115200 + 高
        {"70000", 2, 1, 0x11, 0x70, 0xA6},  // low bits of quotient and remainder; 38400 + 中
        {"65535", 0, 0, 0xFF, 0xFF, 0x65},
        {"-1", -1, -1, 0x00, 0xFF, 0x00},  // quotient truncated toward zero; unselected boxes contribute 0
        {"-256", -1, 2, 0xFF, 0x00, 0x07},
        {"-257", 0, 0, 0xFF, 0xFF, 0x65},
        {"", 0, 0, 0x00, 0x00, 0x65},
    };
    for (const auto& c : cases) {
        const Bytes sent = write(c.address, c.rateItem, c.airItem, "1");
        EXPECT_EQ(sent[3], c.high) << c.address;
        EXPECT_EQ(sent[4], c.low) << c.address;
        EXPECT_EQ(sent[5], c.rate) << c.address;
    }
}

TEST_F(ParameterWrite, ChannelIsCutToAByteThenClampedToFifty) {
    const struct {
        const char* text;
        std::uint8_t sent;
        const char* boxAfter;
    } cases[] = {{"51", 0x32, "50"},   {"50", 0x32, "50"},   {"050", 0x32, "050"}, {"300", 0x2C, "300"},
                 {"306", 0x32, "306"}, {"307", 0x32, "50"},  {"-1", 0x32, "50"},   {"0", 0x00, "0"}};
    for (const auto& c : cases) {
        TextLog log(h.w.编辑框6);
        EXPECT_EQ(write("1", 0, 0, c.text)[7], c.sent) << c.text;
        EXPECT_EQ(h.w.编辑框6.text(), c.boxAfter) << c.text;
        // The box is rewritten only when the value was really changed.
        EXPECT_EQ(log.texts.size(), std::string(c.boxAfter) == c.text ? 0u : 1u) << c.text;
    }
}

TEST_F(ParameterRead, SendsTheFixedCommandAfterReopeningAtNineSixHundred) {
    h.port.setBaudRate(38400);
    h.type(h.w.编辑框5, "999");  // whatever the write row holds
    h.choose(h.w.组合框1, 3);
    h.port.events.clear();
    const std::int64_t t0 = h.time.now();
    h.click(h.w.按钮3);
    ASSERT_EQ(h.port.sent.size(), 1u);
    EXPECT_EQ(h.port.sent[0].bytes, (Bytes{0xC1, 0x00, 0x06}));
    EXPECT_EQ(h.port.sent[0].baud, 9600);
    EXPECT_EQ(h.port.sent[0].time, t0 + 300);
    EXPECT_EQ(h.w.编辑框发送.text(), "C1 0 6");
    EXPECT_EQ(eventsSince(t0), (std::vector<std::string>{"0 baud 9600", "100 close", "200 open ok"}));
}

TEST_F(Params, BothCommandsDiscardAHalfReceivedFrameSoTheReplyIsReadAligned) {
    for (Button* command : {&h.w.按钮3, &h.w.按钮4}) {
        h.w.编辑框1.setText("");
        h.port.receive({0x00, 0x01, 0x1C, 0x06, 0x00});
        h.click(*command);
        EXPECT_TRUE(h.g.receiveBuffer.empty()) << command->name();
        EXPECT_EQ(h.g.awaitingParameterReply, 1);
        h.port.receive(kReply4660);
        EXPECT_EQ(h.g.awaitingParameterReply, 0);
        EXPECT_EQ(h.w.编辑框1.text(), "4660") << command->name();
    }
}

}  // namespace
}  // namespace keldrin::test
