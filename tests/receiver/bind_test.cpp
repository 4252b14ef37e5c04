#include <gtest/gtest.h>

#include <string>

#include "common/crc.h"
#include "common/echo.h"
#include "receiver/receiver_support.h"

namespace keldrin::test {
namespace {

const Bytes kRead = {0xC1, 0x00, 0x06};

// The receiver values as a decoded reply would have left them, and the ticked channels.
void prepare(Harness& h, const std::string& address, const std::string& channel, const std::string& baud,
             std::initializer_list<int> ticked) {
    MainWin& w = h.w;
    w.编辑框1.setText(address);
    w.编辑框2.setText(channel);
    w.编辑框3.setText(baud);
    w.按钮5.setEnabled(true);
    for (int i = 1; i <= 8; ++i) w.选择框(i).userSetChecked(false);
    for (int i : ticked) w.选择框(i).userSetChecked(true);
}

TEST(BindCrc, RoutineCoversTheFirstCrcLengthBytesOfThePayload) {
    Globals g;
    // The template's own payload: its CRC is F7 01.
    g.bindPayload = {0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x02, 0x00, 0x17, 0xAA, 0xBB};
    g.crcLength = 10;
    modbusCrc16(g);
    EXPECT_EQ(g.crcValue, 0x01F7);
    // Receiver address 1 instead of 2: 07 01.
    g.bindPayload[7] = 0x01;
    modbusCrc16(g);
    EXPECT_EQ(g.crcValue, 0x0107);
    // The stored CRC bytes are not part of what is covered...
    g.bindPayload[10] = 0x00;
    modbusCrc16(g);
    EXPECT_EQ(g.crcValue, 0x0107);
    // ...and a length beyond the list never reads past it.
    g.crcLength = 1000;
    modbusCrc16(g);
    Globals whole;
    whole.bindPayload = g.bindPayload;
    whole.crcLength = 12;
    modbusCrc16(whole);
    EXPECT_EQ(g.crcValue, whole.crcValue);
}

TEST(Bind, WorkedExampleSendsOneCommandAndShowsItsEcho) {
    Harness h;
    startConnected(h);
    prepare(h, "1", "23", "9600", {1});
    h.w.地址(1).setText("1");
    h.w.信道(1).setText("28");
    h.click(h.w.按钮5);
    ASSERT_EQ(h.port.sent.size(), 2u);
    EXPECT_EQ(h.port.sent[0].bytes, kRead);
    EXPECT_EQ(h.port.sent[1].bytes,
              (Bytes{0x00, 0x01, 0x1C, 0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x17, 0x07, 0x01}));
    EXPECT_EQ(h.w.编辑框发送.text(), "0 1 1C 10 30 39 0 2 4 0 1 0 17 7 1 ");
    EXPECT_EQ(h.g.crcLength, 10);
    EXPECT_EQ(h.g.bindPayload.size(), 12u);
    // The click leaves the read's expectation in place for the reply still to come.
    EXPECT_EQ(h.g.awaitingParameterReply, 1);
}

TEST(Bind, ReceiverValuesKeepOnlyTheBitsTheFrameHasRoomFor) {
    Harness h;
    startConnected(h);
    prepare(h, "70000", "300", "9600", {2});  // 0x11170 and 0x12C
    h.w.地址(2).setText("-1");
    h.w.信道(2).setText("257");
    h.click(h.w.按钮5);
    ASSERT_EQ(h.port.sent.size(), 2u);
    const Bytes& f = h.port.sent[1].bytes;
    ASSERT_EQ(f.size(), 15u);
    EXPECT_EQ(f[0], 0xFF);
    EXPECT_EQ(f[1], 0xFF);
    EXPECT_EQ(f[2], 0x01);
    EXPECT_EQ(f[9], 0x11);
    EXPECT_EQ(f[10], 0x70);
    EXPECT_EQ(f[11], 0x00);
    EXPECT_EQ(f[12], 0x2C);
    const std::uint16_t crc = modbusCrc16(std::span<const std::uint8_t>(f.data() + 3, 10));
    EXPECT_EQ(f[13], crc & 0xFF);
    EXPECT_EQ(f[14], crc >> 8);
}

TEST(Bind, NoChannelTickedSendsOnlyTheReadAndShowsTheTemplateHead) {
    Harness h;
    startConnected(h);
    prepare(h, "2", "23", "9600", {});
    h.click(h.w.按钮5);
    ASSERT_EQ(h.port.sent.size(), 1u);
    EXPECT_EQ(h.port.sent[0].bytes, kRead);
    // Receiver 2 on channel 23 reproduces the template, CRC included.
    EXPECT_EQ(h.w.编辑框发送.text(), "0 3 1C 10 30 39 0 2 4 0 2 0 17 F7 1 ");
}

TEST(Bind, EchoAfterAnUntickedChannelStillCarriesTheLastSentProbe) {
    Harness h;
    startConnected(h);
    prepare(h, "1", "23", "9600", {1, 3});
    h.w.地址(1).setText("1");
    h.w.信道(1).setText("28");
    h.w.地址(3).setText("300");
    h.w.信道(3).setText("29");
    TextLog log(h.w.编辑框发送);
    h.click(h.w.按钮5);

    const Bytes payload = {0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x17, 0x07, 0x01};
    Bytes one = {0x00, 0x01, 0x1C};
    one.insert(one.end(), payload.begin(), payload.end());
    Bytes three = {0x01, 0x2C, 0x1D};
    three.insert(three.end(), payload.begin(), payload.end());

    std::vector<std::string> expected = {"C1 0 6"};
    for (int i = 1; i <= 8; ++i) {
        expected.push_back("");
        expected.push_back(frameEcho(i < 3 ? one : three));
    }
    EXPECT_EQ(log.texts, expected);
    ASSERT_EQ(h.port.sent.size(), 3u);
    EXPECT_EQ(h.port.sent[1].bytes, one);
    EXPECT_EQ(h.port.sent[2].bytes, three);
}

TEST(Bind, TimingAndRatesOnTheVirtualClock) {
    Harness h;
    startConnected(h);
    prepare(h, "1", "23", "19200", {1, 3});
    const std::int64_t t0 = h.time.now();
    h.click(h.w.按钮5);
    ASSERT_EQ(h.port.sent.size(), 3u);
    // The read at 9600 after the 300 ms reopening...
    EXPECT_EQ(h.port.sent[0].time, t0 + 300);
    EXPECT_EQ(h.port.sent[0].baud, 9600);
    // ...then 400 ms to switch to the receiver's rate, and 50 ms per channel.
    EXPECT_EQ(h.port.sent[1].time, t0 + 700);
    EXPECT_EQ(h.port.sent[1].baud, 19200);
    EXPECT_EQ(h.port.sent[2].time, t0 + 800);
    EXPECT_EQ(h.port.sent[2].baud, 19200);
    EXPECT_GE(h.time.now() - t0, 1100);

    std::vector<std::string> events;
    for (const PortEvent& e : h.port.events) events.push_back(std::to_string(e.time - t0) + " " + e.what);
    EXPECT_EQ(events, (std::vector<std::string>{"0 baud 9600", "100 close", "200 open ok", "300 baud 19200",
                                                "400 close", "500 open ok"}));
    EXPECT_TRUE(h.port.isOpen());
    EXPECT_EQ(h.port.baudRate(), 19200);
}

TEST(Bind, BytesArrivingDuringTheClickAreDecodedAfterIt) {
    Harness h;
    startConnected(h);
    prepare(h, "1", "23", "9600", {1});
    const std::int64_t t0 = h.time.now();
    // The box answers the read while the click is still pausing.
    h.port.receiveAt(t0 + 350, {0xC1, 0x00, 0x06, 0x12, 0x34, 0x65, 0x00, 0x17, 0x00});
    h.click(h.w.按钮5);
    ASSERT_EQ(h.port.sent.size(), 2u);
    // Built from the values before the reply...
    EXPECT_EQ(h.port.sent[1].bytes[9], 0x00);
    EXPECT_EQ(h.port.sent[1].bytes[10], 0x01);
    // ...which was decoded once the click had returned.
    EXPECT_EQ(h.w.编辑框1.text(), "4660");
    EXPECT_EQ(h.g.awaitingParameterReply, 0);
    EXPECT_GE(h.time.now() - t0, 1100);
}

}  // namespace
}  // namespace keldrin::test
