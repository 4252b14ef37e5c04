// The frame builders and parsers against literal bytes, and the rate tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/frames.h"
#include "protocol/rates.h"

namespace keldrin {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes bytes(const std::array<std::uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

TEST(ProtocolBuilders, ProduceTheLiteralFrames) {
    const struct {
        const char* what;
        Bytes built, expected;
    } cases[] = {
        {"poll 10/3", bytes(pollRequest(10, 3)), {0x00, 0x0A, 0x03, 0x03, 0x00, 0x00, 0x00, 0x03, 0x20, 0x01}},
        {"poll cut to bytes", bytes(pollRequest(0x12345, 0x11C)),
         {0x23, 0x45, 0x1C, 0x03, 0x00, 0x00, 0x00, 0x03, 0x20, 0x01}},
        {"poll -1", bytes(pollRequest(-1, -1)), {0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x03, 0x20, 0x01}},
        {"zero template", bytes(kZeroTemplate), {0x00, 0x06, 0x1C, 0x06, 0x00, 0x00, 0x00, 0x00, 0xAC, 0x00}},
        {"bind template", bytes(kBindTemplate),
         {0x00, 0x03, 0x1C, 0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x02, 0x00, 0x17, 0xF7, 0x01}},
        {"bind 3/28 to 2/23", bytes(bindCommand(3, 28, 2, 23)), bytes(kBindTemplate)},
        {"bind 1/28 to 1/23", bytes(bindCommand(1, 28, 1, 23)),
         {0x00, 0x01, 0x1C, 0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x17, 0x07, 0x01}},
        {"parameter read", bytes(kParameterRead), {0xC1, 0x00, 0x06}},
        {"parameter write", bytes(parameterWrite(1, 0x65, 28)), {0xC0, 0x00, 0x06, 0x00, 0x01, 0x65, 0x00, 0x1C, 0x40}},
        {"parameter write 70000", bytes(parameterWrite(70000, 0xA6, 50)),
         {0xC0, 0x00, 0x06, 0x11, 0x70, 0xA6, 0x00, 0x32, 0x40}},
        {"parameter write -1", bytes(parameterWrite(-1, 0, 0)), {0xC0, 0x00, 0x06, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x40}},
        {"parameter write -256", bytes(parameterWrite(-256, 7, 0)),
         {0xC0, 0x00, 0x06, 0xFF, 0x00, 0x07, 0x00, 0x00, 0x40}},
        {"parameter write -257", bytes(parameterWrite(-257, 0x165, 0)),
         {0xC0, 0x00, 0x06, 0xFF, 0xFF, 0x65, 0x00, 0x00, 0x40}},
        {"parameter reply", bytes(parameterReply(0x1234, 0x65, 23)),
         {0xC1, 0x00, 0x06, 0x12, 0x34, 0x65, 0x00, 0x17, 0x40}},
        {"measurement 1.000", bytes(measurementFrame(10, 3, 1000, false)),
         {0x00, 0x0A, 0x03, 0x06, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0xFD, 0x70}},
        {"measurement -1.500", bytes(measurementFrame(1, 28, -1500, false)),
         {0x00, 0x01, 0x1C, 0x06, 0x00, 0x01, 0x05, 0xDC, 0x00, 0x00, 0x81, 0xF6}},
        {"measurement -1.500 two's", bytes(measurementFrame(1, 28, -1500, true)),
         {0x00, 0x01, 0x1C, 0x06, 0x00, 0xFF, 0xFA, 0x24, 0x00, 0x00, 0x19, 0xC7}},
        {"measurement cut", bytes(measurementFrame(1, 28, -80000, true)),
         {0x00, 0x01, 0x1C, 0x06, 0x00, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x38, 0xD4}},
        {"greeting", bytes(kConnectGreeting), {0x5C, 0xA5, 0x00, 0x00}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.built, c.expected) << c.what;
}

TEST(ProtocolBuilders, BindPayloadIsSealedSeparately) {
    BindPayload p = bindPayload(0x11170, 0x12C);
    EXPECT_EQ(bytes(p), (Bytes{0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x11, 0x70, 0x00, 0x2C, 0xF7, 0x01}));
    sealBindPayload(p, 0xBEEF);
    EXPECT_EQ(p[10], 0xEF);
    EXPECT_EQ(p[11], 0xBE);
}

TEST(ProtocolParsers, Measurement) {
    const struct {
        Bytes frame;
        std::optional<int> address, channel;
        float reading;
    } cases[] = {
        {{0x00, 0x0A, 0x03, 0x06, 0x00, 0x00, 0x03, 0xE8, 0, 0, 0, 0}, 10, 3, 1.0f},
        {{0x01, 0x2C, 0x1D, 0x06, 0x00, 0x01, 0x05, 0xDC, 0, 0, 0, 0}, 300, 29, -1.5f},
        {{0xFF, 0xFF, 0xFF, 0x06, 0x00, 0xFF, 0xFA, 0x24, 0, 0, 0, 0}, 65535, 255, -1.5f},
        {{0x00, 0x01, 0x1C, 0x06, 0x00, 0xFF, 0x00, 0x00, 0, 0, 0, 0}, 1, 28, -65.536f},
        {{0x00, 0x01, 0x1C, 0x06, 0x00, 0x02, 0xFF, 0xFF, 0, 0, 0, 0}, 1, 28, 65.535f},  // other signs count as +
        {{0x00, 0x01, 0x1C, 0x07, 0x00, 0x00, 0x03, 0xE8, 0, 0, 0, 0}, std::nullopt, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        const auto m = parseMeasurement(std::span<const std::uint8_t, kMeasurementLength>(c.frame));
        ASSERT_EQ(m.has_value(), c.address.has_value());
        if (!m) continue;
        EXPECT_EQ(m->address, *c.address);
        EXPECT_EQ(m->channel, *c.channel);
        EXPECT_EQ(m->reading, c.reading);
    }
}

TEST(ProtocolParsers, ReadingIsWorkedOutInDoubleThenNarrowed) {
    EXPECT_EQ(readingOf(0x00, 1), static_cast<float>(1 / 1000.0));
    EXPECT_EQ(readingOf(0x01, 1), static_cast<float>(-(1 / 1000.0)));
    EXPECT_EQ(readingOf(0xFF, 65535), static_cast<float>(-1 / 1000.0));
    EXPECT_EQ(readingOf(0xFF, 0), static_cast<float>(-65536 / 1000.0));
}

TEST(ProtocolParsers, ParameterReplyAndWrite) {
    const Bytes reply = {0xC1, 0x00, 0x06, 0x12, 0x34, 0x65, 0x00, 0x17, 0x00};
    const auto r = parseParameterReply(std::span<const std::uint8_t, kParameterReplyLength>(reply));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->address, 0x1234);
    EXPECT_EQ(r->rateByte, 0x65);
    EXPECT_EQ(r->channel, 23);
    for (std::size_t i = 0; i < 3; ++i) {
        Bytes wrong = reply;
        wrong[i] ^= 0x01;
        EXPECT_FALSE(parseParameterReply(std::span<const std::uint8_t, kParameterReplyLength>(wrong))) << i;
    }

    const Bytes write = {0xC0, 0x00, 0x06, 0xAB, 0xCD, 0xE7, 0x00, 0x32, 0x40};
    const auto w = parseParameterWrite(std::span<const std::uint8_t, kParameterWriteLength>(write));
    ASSERT_TRUE(w);
    EXPECT_EQ(w->address, 0xABCD);
    EXPECT_EQ(w->rateByte, 0xE7);
    EXPECT_EQ(w->channel, 50);
    EXPECT_FALSE(parseParameterWrite(std::span<const std::uint8_t, kParameterWriteLength>(reply)));
}

TEST(ProtocolParsers, BindCommandNeedsItsFixedBytesAndCrc) {
    const Bytes frame = {0x01, 0x2C, 0x1D, 0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x17, 0x07, 0x01};
    const auto b = parseBindCommand(std::span<const std::uint8_t, kBindLength>(frame));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->probe, 300);
    EXPECT_EQ(b->probeChannel, 29);
    EXPECT_EQ(b->receiver, 1);
    EXPECT_EQ(b->receiverChannel, 23);
    for (std::size_t i : {3, 8, 10, 13, 14}) {
        Bytes wrong = frame;
        wrong[i] ^= 0x01;
        EXPECT_FALSE(parseBindCommand(std::span<const std::uint8_t, kBindLength>(wrong))) << i;
    }
}

TEST(ProtocolRates, CodesTextsBaudsAndItems) {
    const struct {
        int rateByte;
        const char* baudText;
        int baud, baudItem;
        const char* airText;
        int airItem;
    } cases[] = {
        {0x65, "9600", 9600, 0, "低", 0},   {0x86, "19200", 19200, 1, "中", 1},
        {0xA7, "38400", 38400, 2, "高", 2}, {0xE5, "115200", 115200, 3, "低", 0},
        {0x78, nullptr, 0, -1, nullptr, -1},
    };
    for (const auto& c : cases) {
        const BaudCode* b = findBaudCode(baudCodeOf(c.rateByte));
        const AirCode* a = findAirCode(airCodeOf(c.rateByte));
        EXPECT_EQ(baudForCode(baudCodeOf(c.rateByte)), c.baud) << c.rateByte;
        ASSERT_EQ(b != nullptr, c.baudText != nullptr) << c.rateByte;
        ASSERT_EQ(a != nullptr, c.airText != nullptr) << c.rateByte;
        if (b) {
            EXPECT_EQ(std::string(b->text), c.baudText);
            EXPECT_EQ(b->baud, c.baud);
            EXPECT_EQ(b->item, c.baudItem);
        }
        if (a) {
            EXPECT_EQ(std::string(a->text), c.airText);
            EXPECT_EQ(a->item, c.airItem);
        }
    }
}

}  // namespace
}  // namespace keldrin
