#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/harness.h"

namespace keldrin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

void row(Harness& h, int i, const std::string& address, const std::string& channel) {
    h.w.地址(i).setText(address);
    h.w.信道(i).setText(channel);
}

// Started on COM3 at the given rate, row 1 watching probe 10 on radio channel 3.
void start(Harness& h, const std::string& baud = "9600") {
    h.writeFile("端口号.txt", "3");
    h.writeFile("波特率.txt", baud);
    h.start();
    ASSERT_TRUE(h.port.isOpen());
    h.port.events.clear();
    row(h, 1, "10", "3");
}

// Row 1's reading, the silence count, frames processed, bytes waiting, reply expected.
std::string rx(Harness& h) {
    std::ostringstream s;
    s << "v1=" << h.g.channelValues[1] << " silence=" << h.g.silenceTicks << " frames=" << h.g.receivedFrameCount
      << " waiting=" << h.g.receiveBuffer.size() << " awaiting=" << h.g.awaitingParameterReply;
    return s.str();
}

// The host-parameter group, the port's rate, the remembered rate and 按钮4/按钮5.
std::string hostGroup(Harness& h) {
    MainWin& w = h.w;
    std::ostringstream s;
    s << w.编辑框1.text() << ' ' << w.编辑框2.text() << ' ' << w.编辑框3.text() << ' ' << w.编辑框4.text() << " | "
      << w.编辑框5.text() << ' ' << w.编辑框6.text() << ' ' << w.组合框1.selectedIndex() << ' '
      << w.组合框2.selectedIndex() << " | " << h.port.baudRate() << ' ' << h.readFile("波特率.txt").value_or("-") << ' '
      << w.按钮4.enabled() << w.按钮5.enabled();
    return s.str();
}

Bytes frame(std::uint8_t addrHi, std::uint8_t addrLo, std::uint8_t channel, std::uint8_t sign,
            std::uint8_t magHi, std::uint8_t magLo, std::uint8_t count = 0x06) {
    return {addrHi, addrLo, channel, count, 0x00, sign, magHi, magLo, 0x00, 0x00, 0x00, 0x00};
}

TEST(Decoder, WorkedFrameDecodesOnItsTwelfthByteOnly) {
    Harness h;
    start(h);
    h.g.silenceTicks = 5;
    const Bytes f = {0x00, 0x0A, 0x03, 0x06, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x00, 0x00};
    h.port.receive(Bytes(f.begin(), f.end() - 1));
    // Eleven bytes are echoed, nothing more: not even the line break.
    EXPECT_EQ(h.w.编辑框接收.text(), "0 A 3 6 0 0 3 E8 0 0 0 ");
    EXPECT_EQ(rx(h), "v1=0 silence=5 frames=0 waiting=11 awaiting=0");
    h.port.receive({0x00});
    EXPECT_EQ(h.w.编辑框接收.text(), "0 A 3 6 0 0 3 E8 0 0 0 0 \r\n");
    EXPECT_EQ(rx(h), "v1=1 silence=0 frames=1 waiting=0 awaiting=0");
    for (int i = 2; i <= 8; ++i) EXPECT_EQ(h.g.channelValues[i], 0.0f) << i;
}

TEST(Decoder, SignFormsGiveTheWorkedReadings) {
    const struct {
        std::uint8_t sign, hi, lo;
        float expected;
    } cases[] = {
        {0x00, 0x03, 0xE8, 1.0f},     {0x01, 0x03, 0xE8, -1.0f},  {0xFF, 0xFC, 0x18, -1.0f},
        {0xFF, 0x00, 0x00, -65.536f}, {0x02, 0xFF, 0xFF, 65.535f}, {0x01, 0x00, 0x00, 0.0f},
        {0xFE, 0x00, 0x01, 0.001f},
    };
    Harness h;
    start(h);
    for (const auto& c : cases) {
        h.port.receive(frame(0x00, 0x0A, 0x03, c.sign, c.hi, c.lo));
        EXPECT_EQ(h.g.channelValues[1], c.expected) << int(c.sign) << " " << int(c.hi) << " " << int(c.lo);
    }
}

TEST(Decoder, EveryMatchingRowTakesTheReadingAndOnlyThose) {
    Harness h;
    start(h);
    row(h, 1, "300", "28");
    row(h, 2, "10.5", "28");       // never a whole number: never matches
    row(h, 3, "300", "27");        // right probe address, other radio channel
    row(h, 4, "300.00001", "28");  // the same number once taken as single precision
    row(h, 5, "300.00002", "28");  // the next single-precision number up
    row(h, 6, "300", "28.9");      // the channel is read as an integer
    row(h, 7, "", "0");
    row(h, 8, "300", "28");

    h.port.receive(frame(0x01, 0x2C, 28, 0x00, 0x07, 0xD0));  // 2.000
    const float expected[9] = {0, 2.0f, 0, 0, 2.0f, 0, 2.0f, 0, 2.0f};
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(h.g.channelValues[i], expected[i]) << i;

    // An empty address box converts to 0 and so takes probe 0 on its channel.
    h.port.receive(frame(0x00, 0x00, 0x00, 0x01, 0x00, 0x05));
    EXPECT_EQ(h.g.channelValues[7], -0.005f);
}

// Every reading, the receive state and the echo after the stream came in two pieces, 7 ms apart.
std::string afterSplit(const Bytes& stream, std::size_t cut) {
    Harness h;
    start(h);
    row(h, 2, "11", "3");
    row(h, 3, "10", "4");
    const auto at = stream.begin() + static_cast<std::ptrdiff_t>(cut);
    h.port.receive(Bytes(stream.begin(), at));
    h.advance(7);
    h.port.receive(Bytes(at, stream.end()));
    std::ostringstream s;
    for (float v : h.g.channelValues) s << v << ' ';
    return s.str() + rx(h) + "\n" + h.w.编辑框接收.text();
}

TEST(Decoder, AStreamSplitAtAnyPointDecodesAlike) {
    Bytes stream;
    for (const Bytes& f : {frame(0, 10, 3, 0x00, 0x04, 0xD2), frame(0, 11, 3, 0xFF, 0xFF, 0x38),
                           frame(0, 10, 4, 0x01, 0x00, 0x07)}) {
        stream.insert(stream.end(), f.begin(), f.end());
    }
    stream.push_back(0x42);  // the start of a fourth frame
    const std::string whole = afterSplit(stream, stream.size());
    EXPECT_TRUE(whole.starts_with("0 1.234 -0.2 -0.007 0 0 0 0 0 v1=1.234 silence=0 frames=3 waiting=1 ")) << whole;
    EXPECT_TRUE(whole.ends_with(" \r\n42 ")) << whole;
    for (std::size_t cut = 0; cut < stream.size(); ++cut) EXPECT_EQ(afterSplit(stream, cut), whole) << "cut at " << cut;
}

TEST(Decoder, VoidFramePausesThenDropsWhatCameMeanwhileAndRealigns) {
    Harness h;
    start(h);
    h.g.channelValues[1] = 4.0f;
    const std::int64_t t0 = h.time.now();
    // The rest of a garbled burst arrives 40 ms into the pause: it is dropped, counted.
    h.port.receiveAt(t0 + 40, frame(0, 10, 3, 0x00, 0x00, 0x09));
    h.port.receive(frame(0, 10, 3, 0x00, 0x03, 0xE8, 0x05));
    EXPECT_EQ(h.time.now(), t0 + 100);
    EXPECT_EQ(rx(h), "v1=4 silence=0 frames=1 waiting=0 awaiting=0");
    EXPECT_EQ(h.port.discardedBytes(), 12u);
    EXPECT_EQ(h.w.编辑框接收.text(), "0 A 3 5 0 0 3 E8 0 0 0 0 \r\n");
    // The next frame starts aligned.
    h.port.receive(frame(0, 10, 3, 0x00, 0x00, 0x09));
    EXPECT_EQ(rx(h), "v1=0.009 silence=0 frames=2 waiting=0 awaiting=0");
}

TEST(Decoder, AwaitedReplyIsCutAtNineAndAWrongHeaderOnlyEndsTheExpectation) {
    Harness h;
    start(h);
    h.writeFile("波特率.txt", "stale");
    const std::string before = hostGroup(h);
    const std::int64_t t0 = h.time.now();
    h.g.awaitingParameterReply = 1;
    h.port.receive({0xC1, 0x00, 0x07, 0x12, 0x34, 0x65, 0x00, 0x17, 0x00});
    EXPECT_EQ(rx(h), "v1=0 silence=0 frames=1 waiting=0 awaiting=0");
    EXPECT_EQ(hostGroup(h), before);
    EXPECT_TRUE(h.port.events.empty());
    EXPECT_EQ(h.time.now(), t0);

    // A measurement frame arriving while a reply is awaited is cut after 9 bytes.
    h.g.awaitingParameterReply = 1;
    const Bytes f = frame(0, 10, 3, 0x00, 0x03, 0xE8);
    const Bytes head(f.begin(), f.begin() + 9), tail(f.begin() + 9, f.end());
    h.port.receive(head);
    EXPECT_EQ(rx(h), "v1=0 silence=0 frames=2 waiting=0 awaiting=0");
    EXPECT_EQ(h.w.编辑框接收.text(), "C1 0 7 12 34 65 0 17 0 \r\n0 A 3 6 0 0 3 E8 0 \r\n");
    // The last three bytes begin the next 12-byte window: 00 00 00 | 00 0A ... is void.
    h.port.receive(tail);
    EXPECT_EQ(h.g.receiveBuffer.size(), 3u);
    h.port.receive(head);
    EXPECT_EQ(rx(h), "v1=0 silence=0 frames=3 waiting=0 awaiting=0");
}

TEST(Decoder, ParameterReplyAppliesEachKnownCodeAndReopensThePort) {
    const struct {
        std::uint8_t rate;
        const char* group;
    } cases[] = {
        {0x65, "4660 23 9600 低 | 4660 23 0 0 | 9600 9600 11"},
        {0x85, "4660 23 19200 低 | 4660 23 1 0 | 19200 19200 11"},
        {0xA6, "4660 23 38400 中 | 4660 23 2 1 | 38400 38400 11"},
        {0xE7, "4660 23 115200 高 | 4660 23 3 2 | 115200 115200 11"},
        {0x75, "4660 23 38400 低 | 4660 23 2 0 | 38400 38400 11"},  // baud code 7: the baud side stays
        {0x6D, "4660 23 9600 高 | 4660 23 0 2 | 9600 9600 11"},     // air code 13: the air side stays
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.rate));
        Harness h;  // at 38400 with 38400 and 高 chosen
        start(h, "38400");
        h.w.组合框1.setSelectedIndex(2);
        h.w.组合框2.setSelectedIndex(2);
        h.w.编辑框4.setText("高");
        h.writeFile("波特率.txt", "stale");
        h.g.awaitingParameterReply = 1;
        const std::int64_t t0 = h.time.now();
        h.port.receive({0xC1, 0x00, 0x06, 0x12, 0x34, c.rate, 0x00, 0x17, 0x00});
        EXPECT_EQ(hostGroup(h), c.group);
        EXPECT_EQ(rx(h), "v1=0 silence=0 frames=1 waiting=0 awaiting=0");
        // Reopened at the reported rate: close after 100 ms, open after 200, done at 300.
        std::vector<std::string> events;
        for (const PortEvent& e : h.port.events) events.push_back(std::to_string(e.time - t0) + " " + e.what);
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(events.end() - 3, events.end()),
                  (std::vector<std::string>{"0 baud " + std::to_string(h.port.baudRate()), "100 close", "200 open ok"}));
        EXPECT_EQ(h.time.now(), t0 + 300);
        EXPECT_TRUE(h.port.isOpen());
    }
}

TEST(Decoder, EchoStaysBoundedUnderALongStreamWhileStopped) {
    Harness h;
    start(h);
    ASSERT_FALSE(h.app.acquiring());
    const int frames = 20000;  // about 700 KB of echo
    for (int k = 0; k < frames; ++k) {
        h.port.receive(frame(0, static_cast<std::uint8_t>(1 + k % 8), 28, 0x00, static_cast<std::uint8_t>(k >> 8),
                             static_cast<std::uint8_t>(k)));
    }
    const std::string& echo = h.w.编辑框接收.text();
    EXPECT_LE(echo.size(), h.w.编辑框接收.textLimit());
    EXPECT_TRUE(echo.ends_with("\r\n0 8 1C 6 0 0 4E 1F 0 0 0 0 \r\n"));  // the newest frame is the last line
    EXPECT_EQ(h.g.receivedFrameCount, frames);
    EXPECT_EQ(h.g.channelValues[8], static_cast<float>(19999 / 1000.0));
}

}  // namespace
}  // namespace keldrin::test
