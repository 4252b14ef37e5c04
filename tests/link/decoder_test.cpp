#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "support/harness.h"

namespace keldrin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The program started on COM3 at the given rate, with nothing else going on.
void startConnected(Harness& h, const std::string& baud = "9600") {
    h.writeFile("端口号.txt", "3");
    h.writeFile("波特率.txt", baud);
    h.start();
    ASSERT_TRUE(h.port.isOpen());
    h.port.sent.clear();
    h.port.events.clear();
}

Bytes frame(std::uint8_t addrHi, std::uint8_t addrLo, std::uint8_t channel, std::uint8_t sign,
            std::uint8_t magHi, std::uint8_t magLo, std::uint8_t count = 0x06) {
    return {addrHi, addrLo, channel, count, 0x00, sign, magHi, magLo, 0x00, 0x00, 0x00, 0x00};
}

void configureRow(Harness& h, int i, const std::string& address, const std::string& channel) {
    h.w.地址(i).setText(address);
    h.w.信道(i).setText(channel);
}

TEST(Decoder, WorkedMeasurementFrameSetsTheRowEchoesAndCompletes) {
    Harness h;
    startConnected(h);
    configureRow(h, 1, "10", "3");
    h.g.silenceTicks = 5;
    const std::string before = h.w.编辑框接收.text();
    const std::int64_t frames = h.g.receivedFrameCount;

    h.port.receive({0x00, 0x0A, 0x03, 0x06, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x00, 0x00});

    EXPECT_EQ(h.g.channelValues[1], 1.0f);
    EXPECT_EQ(h.g.silenceTicks, 0);
    EXPECT_EQ(h.w.编辑框接收.text(), before + "0 A 3 6 0 0 3 E8 0 0 0 0 \r\n");
    EXPECT_EQ(h.g.receivedFrameCount, frames + 1);
    EXPECT_TRUE(h.g.receiveBuffer.empty());
    for (int i = 2; i <= 8; ++i) EXPECT_EQ(h.g.channelValues[static_cast<std::size_t>(i)], 0.0f) << i;
}

TEST(Decoder, SignFormsGiveTheWorkedReadings) {
    struct Case {
        std::uint8_t sign, hi, lo;
        float expected;
    };
    const Case cases[] = {
        {0x00, 0x03, 0xE8, 1.0f},     {0x01, 0x03, 0xE8, -1.0f},  {0xFF, 0xFC, 0x18, -1.0f},
        {0xFF, 0x00, 0x00, -65.536f}, {0x02, 0xFF, 0xFF, 65.535f}, {0x01, 0x00, 0x00, 0.0f},
        {0xFE, 0x00, 0x01, 0.001f},
    };
    Harness h;
    startConnected(h);
    configureRow(h, 1, "10", "3");
    for (const Case& c : cases) {
        h.port.receive(frame(0x00, 0x0A, 0x03, c.sign, c.hi, c.lo));
        EXPECT_EQ(h.g.channelValues[1], c.expected) << int(c.sign) << " " << int(c.hi) << " " << int(c.lo);
    }
}

TEST(Decoder, EveryMatchingRowTakesTheReadingAndOnlyThose) {
    Harness h;
    startConnected(h);
    configureRow(h, 1, "300", "28");
    configureRow(h, 2, "10.5", "28");         // never a whole number: never matches
    configureRow(h, 3, "300", "27");          // right probe address, other radio channel
    configureRow(h, 4, "300.00001", "28");    // the same number once taken as single precision
    configureRow(h, 5, "300.00002", "28");    // the next single-precision number up
    configureRow(h, 6, "300", "28.9");        // the channel is read as an integer
    configureRow(h, 7, "", "0");
    configureRow(h, 8, "300", "28");

    h.port.receive(frame(0x01, 0x2C, 28, 0x00, 0x07, 0xD0));  // 2.000

    const float expected[9] = {0, 2.0f, 0, 0, 2.0f, 0, 2.0f, 0, 2.0f};
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(h.g.channelValues[static_cast<std::size_t>(i)], expected[i]) << i;

    // An empty address box converts to 0 and so takes probe 0 on its channel.
    h.port.receive(frame(0x00, 0x00, 0x00, 0x01, 0x00, 0x05));
    EXPECT_EQ(h.g.channelValues[7], -0.005f);
}

TEST(Decoder, ElevenBytesDoNothingButEcho) {
    Harness h;
    startConnected(h);
    configureRow(h, 1, "10", "3");
    const std::int64_t frames = h.g.receivedFrameCount;
    Bytes f = frame(0x00, 0x0A, 0x03, 0x00, 0x03, 0xE8);
    f.pop_back();
    h.port.receive(f);
    EXPECT_EQ(h.g.receiveBuffer.size(), 11u);
    EXPECT_EQ(h.g.receivedFrameCount, frames);
    EXPECT_EQ(h.g.channelValues[1], 0.0f);
    EXPECT_EQ(h.w.编辑框接收.text().find('\n'), std::string::npos);
    EXPECT_EQ(h.w.编辑框接收.text(), "0 A 3 6 0 0 3 E8 0 0 0 ");
}

struct Outcome {
    std::array<float, 9> values;
    std::string echo;
    std::int64_t frames;
    std::vector<std::int32_t> buffer;
    bool operator==(const Outcome&) const = default;
};

Outcome runSplit(const Bytes& stream, std::size_t cut) {
    Harness h;
    startConnected(h);
    configureRow(h, 1, "10", "3");
    configureRow(h, 2, "11", "3");
    configureRow(h, 3, "10", "4");
    h.port.receive(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut)));
    h.advance(7);
    h.port.receive(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(cut), stream.end()));
    return {h.g.channelValues, h.w.编辑框接收.text(), h.g.receivedFrameCount, h.g.receiveBuffer};
}

TEST(Decoder, AStreamSplitAtAnyPointDecodesAlike) {
    Bytes stream;
    for (const Bytes& f : {frame(0, 10, 3, 0x00, 0x04, 0xD2), frame(0, 11, 3, 0xFF, 0xFF, 0x38),
                           frame(0, 10, 4, 0x01, 0x00, 0x07)}) {
        stream.insert(stream.end(), f.begin(), f.end());
    }
    stream.push_back(0x42);  // the start of a fourth frame
    const Outcome whole = runSplit(stream, stream.size());
    EXPECT_EQ(whole.values[1], 1.234f);
    EXPECT_EQ(whole.values[2], -0.2f);
    EXPECT_EQ(whole.values[3], -0.007f);
    EXPECT_EQ(whole.buffer, std::vector<std::int32_t>{0x42});
    for (std::size_t cut = 0; cut < stream.size(); ++cut) {
        EXPECT_EQ(runSplit(stream, cut), whole) << "cut at " << cut;
    }
}

TEST(Decoder, VoidFramePausesThenBytesThatCameMeanwhileFollowInOrder) {
    Harness h;
    startConnected(h);
    configureRow(h, 1, "10", "3");
    h.g.channelValues[1] = 4.0f;
    const std::int64_t frames = h.g.receivedFrameCount;
    const std::string before = h.w.编辑框接收.text();
    const std::int64_t t0 = h.time.now();

    // A good frame for the same probe arrives 40 ms into the pause.
    h.port.receiveAt(t0 + 40, frame(0, 10, 3, 0x00, 0x00, 0x09));
    h.port.receive(frame(0, 10, 3, 0x00, 0x03, 0xE8, 0x05));

    EXPECT_EQ(h.time.now(), t0 + 100);
    EXPECT_EQ(h.g.receivedFrameCount, frames + 2);
    EXPECT_EQ(h.g.channelValues[1], 0.009f);  // not 1.0: the void frame set nothing
    EXPECT_TRUE(h.g.receiveBuffer.empty());
    EXPECT_EQ(h.w.编辑框接收.text(), before + "0 A 3 5 0 0 3 E8 0 0 0 0 \r\n0 A 3 6 0 0 0 9 0 0 0 0 \r\n");
}

TEST(Decoder, AwaitedReplyCutsAMeasurementFrameAtNine) {
    Harness h;
    startConnected(h, "38400");
    configureRow(h, 1, "10", "3");
    h.g.awaitingParameterReply = 1;
    const std::int64_t frames = h.g.receivedFrameCount;
    const Bytes f = frame(0, 10, 3, 0x00, 0x03, 0xE8);

    h.port.receive(Bytes(f.begin(), f.begin() + 9));
    EXPECT_EQ(h.g.awaitingParameterReply, 0);
    EXPECT_EQ(h.g.receivedFrameCount, frames + 1);
    EXPECT_TRUE(h.g.receiveBuffer.empty());
    EXPECT_EQ(h.w.编辑框1.text(), "");
    EXPECT_FALSE(h.w.按钮4.enabled());
    EXPECT_FALSE(h.w.按钮5.enabled());
    EXPECT_TRUE(h.port.events.empty());
    EXPECT_EQ(h.readFile("波特率.txt"), "38400");
    EXPECT_EQ(h.w.编辑框接收.text(), "0 A 3 6 0 0 3 E8 0 \r\n");

    // The last three bytes begin the next 12-byte window.
    h.port.receive(Bytes(f.begin() + 9, f.end()));
    EXPECT_EQ(h.g.receiveBuffer.size(), 3u);
    h.port.receive(Bytes(f.begin(), f.begin() + 9));
    EXPECT_EQ(h.g.receivedFrameCount, frames + 2);
    EXPECT_EQ(h.g.channelValues[1], 0.0f);  // 00 00 00 00 0A ...: byte 3 is 0, void
}

// A reply with the given rate byte, after the program switched to 38400 and chose
// 38400 in both baud controls.
struct ReplyRun {
    Harness h;
    std::int64_t t0 = 0;
    std::int64_t frames = 0;
    explicit ReplyRun(std::uint8_t rate, std::uint8_t headerLast = 0x06) {
        startConnected(h, "38400");
        h.w.组合框1.setSelectedIndex(2);
        h.w.组合框2.setSelectedIndex(2);
        h.w.编辑框4.setText("高");
        h.writeFile("波特率.txt", "stale");
        h.g.awaitingParameterReply = 1;
        t0 = h.time.now();
        frames = h.g.receivedFrameCount;
        h.port.receive({0xC1, 0x00, headerLast, 0x12, 0x34, rate, 0x00, 0x17, 0x00});
    }
};

TEST(Decoder, ParameterReplyFillsTheHostControlsAndReopensThePort) {
    ReplyRun r(0x65);
    Harness& h = r.h;
    EXPECT_EQ(h.w.编辑框1.text(), "4660");
    EXPECT_EQ(h.w.编辑框5.text(), "4660");
    EXPECT_EQ(h.w.编辑框2.text(), "23");
    EXPECT_EQ(h.w.编辑框6.text(), "23");
    EXPECT_EQ(h.w.编辑框3.text(), "9600");
    EXPECT_EQ(h.w.组合框1.selectedIndex(), 0);
    EXPECT_EQ(h.port.baudRate(), 9600);
    EXPECT_EQ(h.w.编辑框4.text(), "低");
    EXPECT_EQ(h.w.组合框2.selectedIndex(), 0);
    EXPECT_EQ(h.readFile("波特率.txt"), "9600");
    EXPECT_TRUE(h.w.按钮4.enabled());
    EXPECT_TRUE(h.w.按钮5.enabled());
    EXPECT_EQ(h.g.awaitingParameterReply, 0);
    EXPECT_EQ(h.g.receivedFrameCount, r.frames + 1);
    EXPECT_TRUE(h.g.receiveBuffer.empty());
    // Reopened at the reported rate: close after 100 ms, open after 200, done at 300.
    ASSERT_GE(h.port.events.size(), 2u);
    const PortEvent& close = h.port.events[h.port.events.size() - 2];
    const PortEvent& open = h.port.events.back();
    EXPECT_EQ(close.what, "close");
    EXPECT_EQ(close.time, r.t0 + 100);
    EXPECT_EQ(open.what, "open ok");
    EXPECT_EQ(open.time, r.t0 + 200);
    EXPECT_EQ(h.time.now(), r.t0 + 300);
    EXPECT_TRUE(h.port.isOpen());
}

TEST(Decoder, UnknownBaudCodeKeepsTheBaudControlsButAppliesTheRest) {
    ReplyRun r(0x75);  // code 7
    Harness& h = r.h;
    EXPECT_EQ(h.w.编辑框3.text(), "38400");
    EXPECT_EQ(h.w.组合框1.selectedIndex(), 2);
    EXPECT_EQ(h.port.baudRate(), 38400);
    EXPECT_EQ(h.w.编辑框4.text(), "低");
    EXPECT_EQ(h.w.组合框2.selectedIndex(), 0);
    EXPECT_EQ(h.readFile("波特率.txt"), "38400");  // written all the same
    EXPECT_EQ(h.w.编辑框1.text(), "4660");
    EXPECT_TRUE(h.w.按钮4.enabled());
    EXPECT_EQ(h.port.events.back().what, "open ok");
    EXPECT_EQ(h.time.now(), r.t0 + 300);
}

TEST(Decoder, UnknownAirCodeKeepsTheAirControlsButAppliesTheBaud) {
    ReplyRun r(0x6D);  // baud 6, air 13
    Harness& h = r.h;
    EXPECT_EQ(h.w.编辑框3.text(), "9600");
    EXPECT_EQ(h.w.组合框1.selectedIndex(), 0);
    EXPECT_EQ(h.port.baudRate(), 9600);
    EXPECT_EQ(h.w.编辑框4.text(), "高");
    EXPECT_EQ(h.w.组合框2.selectedIndex(), 2);
    EXPECT_EQ(h.readFile("波特率.txt"), "9600");
}

TEST(Decoder, EveryBaudAndAirCodeOfTheTables) {
    const struct {
        std::uint8_t rate;
        const char* baudText;
        int baud, baudItem;
        const char* airText;
        int airItem;
    } cases[] = {{0x85, "19200", 19200, 1, "低", 0},
                 {0xA6, "38400", 38400, 2, "中", 1},
                 {0xE7, "115200", 115200, 3, "高", 2}};
    for (const auto& c : cases) {
        ReplyRun r(c.rate);
        EXPECT_EQ(r.h.w.编辑框3.text(), c.baudText);
        EXPECT_EQ(r.h.port.baudRate(), c.baud);
        EXPECT_EQ(r.h.w.组合框1.selectedIndex(), c.baudItem);
        EXPECT_EQ(r.h.w.编辑框4.text(), c.airText);
        EXPECT_EQ(r.h.w.组合框2.selectedIndex(), c.airItem);
    }
}

TEST(Decoder, WrongReplyHeaderOnlyClearsTheExpectation) {
    ReplyRun r(0x65, 0x07);
    Harness& h = r.h;
    EXPECT_EQ(h.g.awaitingParameterReply, 0);
    EXPECT_EQ(h.g.receivedFrameCount, r.frames + 1);
    EXPECT_EQ(h.w.编辑框1.text(), "");
    EXPECT_EQ(h.w.编辑框3.text(), "38400");
    EXPECT_FALSE(h.w.按钮4.enabled());
    EXPECT_FALSE(h.w.按钮5.enabled());
    EXPECT_EQ(h.readFile("波特率.txt"), "stale");
    EXPECT_TRUE(h.port.events.empty());
    EXPECT_EQ(h.time.now(), r.t0);
}

TEST(Decoder, EchoStaysBoundedUnderALongStreamWhileStopped) {
    Harness h;
    startConnected(h);
    ASSERT_FALSE(h.app.acquiring());
    const std::size_t limit = h.w.编辑框接收.textLimit();
    ASSERT_GT(limit, 0u);
    const int frames = 20000;  // about 700 KB of echo
    for (int k = 0; k < frames; ++k) {
        h.port.receive(frame(0, static_cast<std::uint8_t>(1 + k % 8), 28, 0x00, static_cast<std::uint8_t>(k >> 8),
                             static_cast<std::uint8_t>(k)));
        ASSERT_LE(h.w.编辑框接收.text().size(), limit);
    }
    const std::string& echo = h.w.编辑框接收.text();
    EXPECT_GT(echo.size(), limit / 2);
    // Whole old lines dropped; the newest frame is the last line.
    EXPECT_EQ(echo.rfind("\r\n", echo.size() - 3) + 2, echo.rfind("0 8 1C 6 0 0 4E 1F 0 0 0 0 \r\n"));
    const std::string firstLine = echo.substr(0, echo.find("\r\n"));
    EXPECT_EQ(std::count(firstLine.begin(), firstLine.end(), ' '), 12) << firstLine;
    EXPECT_EQ(h.g.receivedFrameCount, frames);
    EXPECT_EQ(h.g.channelValues[8], static_cast<float>(19999 / 1000.0));
}

}  // namespace
}  // namespace keldrin::test
