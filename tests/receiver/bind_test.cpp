#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "protocol/crc.h"
#include "common/echo.h"
#include "receiver/receiver_support.h"

namespace keldrin::test {
namespace {

const Bytes kRead = {0xC1, 0x00, 0x06};

struct Bind : Connected {
    // The receiver values as a decoded reply would have left them, and the ticked channels.
    void prepare(const std::string& address, const std::string& channel, const std::string& baud,
                 std::initializer_list<int> ticked) {
        h.w.编辑框1.setText(address);
        h.w.编辑框2.setText(channel);
        h.w.编辑框3.setText(baud);
        h.w.按钮5.setEnabled(true);
        for (int i = 1; i <= 8; ++i) h.w.选择框(i).userSetChecked(false);
        for (int i : ticked) h.w.选择框(i).userSetChecked(true);
    }
    void probe(int i, const char* address, const char* channel) {
        h.w.地址(i).setText(address);
        h.w.信道(i).setText(channel);
    }
};

TEST(BindCrc, RoutineCoversTheFirstCrcLengthBytesOfThePayload) {
    Globals g;
    g.bindPayload = {0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x02, 0x00, 0x17, 0xAA, 0xBB};
    g.crcLength = 10;
    const auto crc = [&] {
        modbusCrc16(g);
        return g.crcValue;
    };
    EXPECT_EQ(crc(), 0x01F7);  // the template's own payload: F7 01
    g.bindPayload[7] = 0x01;
    EXPECT_EQ(crc(), 0x0107);  // receiver address 1: 07 01
    g.bindPayload[10] = 0x00;
    EXPECT_EQ(crc(), 0x0107);  // the stored CRC bytes are not covered
    g.crcLength = 1000;        // never reads past the list
    EXPECT_EQ(crc(), modbusCrc16(std::span<const std::uint8_t>(g.bindPayload)));
}

TEST_F(Bind, WorkedExampleSendsOneCommandAndShowsItsEcho) {
    prepare("1", "23", "9600", {1});
    probe(1, "1", "28");
    h.click(h.w.按钮5);
    ASSERT_EQ(h.port.sent.size(), 2u);
    EXPECT_EQ(h.port.sent[0].bytes, kRead);
    EXPECT_EQ(h.port.sent[1].bytes,
              (Bytes{0x00, 0x01, 0x1C, 0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x17, 0x07, 0x01}));
    EXPECT_EQ(h.w.编辑框发送.text(), "0 1 1C 10 30 39 0 2 4 0 1 0 17 7 1 ");
    // The click leaves the read's expectation in place for the reply still to come.
    EXPECT_EQ(h.g.awaitingParameterReply, 1);
}

TEST_F(Bind, ValuesKeepOnlyTheBitsTheFrameHasRoomFor) {
    prepare("70000", "300", "9600", {2});  // 0x11170 and 0x12C
    probe(2, "-1", "257");
    h.click(h.w.按钮5);
    ASSERT_EQ(h.port.sent.size(), 2u);
    const Bytes& f = h.port.sent[1].bytes;
    ASSERT_EQ(f.size(), 15u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 13),
              (Bytes{0xFF, 0xFF, 0x01, 0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x11, 0x70, 0x00, 0x2C}));
    const std::uint16_t crc = modbusCrc16(std::span<const std::uint8_t>(f.data() + 3, 10));
    EXPECT_EQ(f[13] | f[14] << 8, crc);
}

TEST_F(Bind, NoChannelTickedSendsOnlyTheReadAndShowsTheTemplate) {
    prepare("2", "23", "9600", {});
    h.click(h.w.按钮5);
    ASSERT_EQ(h.port.sent.size(), 1u);
    EXPECT_EQ(h.port.sent[0].bytes, kRead);
    // Receiver 2 on channel 23 reproduces the template, CRC included.
    EXPECT_EQ(h.w.编辑框发送.text(), "0 3 1C 10 30 39 0 2 4 0 2 0 17 F7 1 ");
}

TEST_F(Bind, ChannelsOneAndThreeAtTheReceiversRateWithTheirEchoes) {
    prepare("1", "23", "19200", {1, 3});
    probe(1, "1", "28");
    probe(3, "300", "29");
    TextLog log(h.w.编辑框发送);
    const std::int64_t t0 = h.time.now();
    h.click(h.w.按钮5);

    const Bytes payload = {0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x17, 0x07, 0x01};
    Bytes one = {0x00, 0x01, 0x1C}, three = {0x01, 0x2C, 0x1D};
    one.insert(one.end(), payload.begin(), payload.end());
    three.insert(three.end(), payload.begin(), payload.end());
    // Every channel empties the echo and re-shows the frame as it stands: channel 2 still shows channel 1's.
    std::vector<std::string> expected = {"C1 0 6"};
    for (int i = 1; i <= 8; ++i) {
        expected.push_back("");
        expected.push_back(frameEcho(i < 3 ? one : three));
    }
    EXPECT_EQ(log.texts, expected);

    // The read at 9600 after the 300 ms reopening, 400 ms to switch to the receiver's
    // rate, then 50 ms per channel, ticked or not.
    ASSERT_EQ(h.port.sent.size(), 3u);
    const std::vector<std::tuple<Bytes, std::int64_t, int>> sent = {
        {kRead, 300, 9600}, {one, 700, 19200}, {three, 800, 19200}};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(std::make_tuple(h.port.sent[k].bytes, h.port.sent[k].time - t0, h.port.sent[k].baud), sent[k]) << k;
    }
    EXPECT_GE(h.time.now() - t0, 1100);
    EXPECT_EQ(eventsSince(t0), (std::vector<std::string>{"0 baud 9600", "100 close", "200 open ok", "300 baud 19200",
                                                         "400 close", "500 open ok"}));
    EXPECT_TRUE(h.port.isOpen());
}

TEST_F(Bind, BytesArrivingDuringTheClickAreDecodedAfterIt) {
    prepare("1", "23", "9600", {1});
    const std::int64_t t0 = h.time.now();
    // The box answers the read while the click is still pausing.
    h.port.receiveAt(t0 + 350, {0xC1, 0x00, 0x06, 0x12, 0x34, 0x65, 0x00, 0x17, 0x00});
    h.click(h.w.按钮5);
    ASSERT_EQ(h.port.sent.size(), 2u);
    // Built from the values before the reply, which was decoded once the click had returned.
    EXPECT_EQ(h.port.sent[1].bytes[10], 0x01);
    EXPECT_EQ(h.w.编辑框1.text(), "4660");
    EXPECT_EQ(h.g.awaitingParameterReply, 0);
    EXPECT_GE(h.time.now() - t0, 1100);
}

}  // namespace
}  // namespace keldrin::test
