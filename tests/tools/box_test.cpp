// The simulated receiver box as a model: what it answers, when, and how its faults
// look on the wire.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <set>
#include <tuple>

#include "protocol/crc.h"
#include "sim/box.h"

namespace {

using keldrin::sim::Box;
using keldrin::sim::Bytes;
using keldrin::sim::Chunk;
using keldrin::sim::Options;
using keldrin::sim::Presence;
using Chunks = std::vector<Chunk>;

// Probe address and radio channel, then the request proper.
Bytes probeFrame(int address, int channel, const Bytes& request) {
    Bytes b{static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF),
            static_cast<std::uint8_t>(channel)};
    b.insert(b.end(), request.begin(), request.end());
    return b;
}
Bytes pollRequest(int address, int channel = 28) {
    return probeFrame(address, channel, {0x03, 0x00, 0x00, 0x00, 0x03, 0x20, 0x01});
}
Bytes zeroCommand(int address) { return probeFrame(address, 28, {0x06, 0x00, 0x00, 0x00, 0x00, 0xAC, 0x00}); }
Bytes bindCommand(int address, int receiver, int receiverChannel, bool rightCrc = true) {
    Bytes b = probeFrame(address, 28, {0x10, 0x30, 0x39, 0x00, 0x02, 0x04, static_cast<std::uint8_t>(receiver >> 8),
                                       static_cast<std::uint8_t>(receiver & 0xFF), 0x00,
                                       static_cast<std::uint8_t>(receiverChannel), 0, 0});
    std::uint16_t crc = keldrin::modbusCrc16(std::span(b).subspan(3, 10));
    if (!rightCrc) crc ^= 0x0100;
    b[13] = static_cast<std::uint8_t>(crc & 0xFF);
    b[14] = static_cast<std::uint8_t>(crc >> 8);
    return b;
}
Bytes paramWrite(std::uint8_t addrHi, std::uint8_t addrLo, std::uint8_t rate, std::uint8_t channel) {
    return {0xC0, 0x00, 0x06, addrHi, addrLo, rate, 0x00, channel, 0x40};
}
const Bytes kParamRead{0xC1, 0x00, 0x06};

// The reading a measurement frame carries, in thousandths, read the way the
// program's decoder reads it.
int decode(const Bytes& f) {
    const int m = f[6] * 256 + f[7];
    if (f[5] == 0x01) return -m;
    if (f[5] == 0xFF) return -(65536 - m);
    return m;
}

// The reading of the one answer to a poll; kNone when there is none (or more than one).
constexpr int kNone = INT_MIN;
int reading(Box& box, int probe, std::int64_t t, int baud = 9600, int channel = 28) {
    const Chunks out = box.feed(pollRequest(probe, channel), t, baud);
    return out.size() == 1 ? decode(out[0].bytes) : kNone;
}

// Probes that read exactly their base value, so answers can be checked to the digit.
Box steadyBox(std::initializer_list<double> bases, Options o = {}) {
    o.probes = static_cast<int>(bases.size());
    Box box(o);
    int i = 0;
    for (double base : bases) box.probes()[i++].gauge = {base, 0, 60000, 0, 0};
    return box;
}

Bytes joined(const Chunks& chunks) {
    Bytes all;
    for (const Chunk& c : chunks) all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    return all;
}

TEST(SimBox, AnswersAKnownProbeAfterTheRadioDelay) {
    Box box = steadyBox({12345, 7});
    const Chunks out = box.feed(pollRequest(1), 1000, 9600);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].dueMs, 1020);
    ASSERT_EQ(out[0].bytes.size(), 12u);
    EXPECT_EQ(Bytes(out[0].bytes.begin(), out[0].bytes.begin() + 4), (Bytes{0x00, 0x01, 28, 0x06}));
    EXPECT_EQ(decode(out[0].bytes), 12345);
    EXPECT_EQ(reading(box, 2, 1100), 7);
    // Unknown probes, other radio channels and other line rates get no answer.
    for (const auto& [probe, baud, channel] : {std::tuple{9, 9600, 28}, {1, 9600, 27}, {0x101, 9600, 28},
                                               {1, 19200, 28}, {1, 0, 28}}) {
        EXPECT_EQ(reading(box, probe, 1200, baud, channel), kNone) << probe << " " << baud << " " << channel;
    }
}

TEST(SimBox, NegativeReadingsComeInBothFormsAndSaturate) {
    Box box = steadyBox({-1500, 80000, -80000});
    std::set<int> signs;
    for (int i = 0; i < 4; ++i) {
        const Bytes f = box.feed(pollRequest(1), 1000 + 100 * i, 9600).at(0).bytes;
        signs.insert(f[5]);
        EXPECT_EQ(decode(f), -1500);
    }
    EXPECT_EQ(signs, (std::set<int>{0x01, 0xFF}));
    EXPECT_EQ(reading(box, 2, 2000), 65535);
    EXPECT_EQ(reading(box, 3, 2100), -65535);
    EXPECT_EQ(reading(box, 3, 2200), -65535);
}

TEST(SimBox, DefaultProbesDriftSlowlySomeBelowZeroAndRepeatWithTheSeed) {
    Options o;
    o.seed = 42;
    Box a(o), b(o);
    o.seed = 43;
    Box other(o);
    int negatives = 0;
    bool differs = false;
    for (int p = 1; p <= 8; ++p) {
        SCOPED_TRACE(p);
        const int r1 = reading(a, p, 1000 * p), r2 = reading(a, p, 1000 * p + 1000);
        ASSERT_TRUE(r1 != kNone && r2 != kNone);
        EXPECT_EQ(reading(b, p, 1000 * p), r1) << "same seed, same answers";
        EXPECT_EQ(reading(b, p, 1000 * p + 1000), r2);
        differs |= reading(other, p, 1000 * p) != r1;
        negatives += r1 < 0;
        EXPECT_NE(r1, 0);
        EXPECT_LT(std::abs(r2 - r1), 100) << "a second later the gauge has barely moved";
        EXPECT_EQ((r1 < 0), (r2 < 0));
    }
    EXPECT_GE(negatives, 1);
    EXPECT_LE(negatives, 4);
    EXPECT_TRUE(differs);
    // Over minutes the drift shows.
    const int early = reading(a, 1, 10000);
    EXPECT_GT(std::abs(reading(a, 1, 100000) - early), 6);
}

TEST(SimBox, ZeroCommandMakesThePresentReadingTheZero) {
    Box box = steadyBox({2500, -4000});
    EXPECT_TRUE(box.feed(zeroCommand(2), 1000, 9600).empty()) << "the probe does not acknowledge";
    EXPECT_EQ(reading(box, 2, 1100), 0);
    EXPECT_EQ(reading(box, 1, 1200), 2500) << "only the addressed probe";
    box.probes()[1].gauge.base = -3000;  // the load changes after zeroing
    EXPECT_EQ(reading(box, 2, 1300), 1000);

    Box noisy;  // default probes: near zero afterwards
    noisy.feed(zeroCommand(5), 5000, 9600);
    EXPECT_LE(std::abs(reading(noisy, 5, 5100)), 10);
}

TEST(SimBox, ParametersAreReadAndWrittenOnlyWithTheKeyHeldAndAt9600) {
    Box box;
    EXPECT_EQ(box.feed(kParamRead, 0, 9600).at(0).bytes, (Bytes{0xC1, 0x00, 0x06, 0x00, 0x02, 0x65, 0x00, 0x17, 0x40}));
    EXPECT_TRUE(box.feed(kParamRead, 100, 19200).empty());

    // A write is answered like a read, and the new rate rules probe traffic.
    EXPECT_EQ(box.feed(paramWrite(0, 2, 0xE7, 23), 200, 9600).at(0).bytes, (Bytes{0xC1, 0x00, 0x06, 0x00, 0x02, 0xE7, 0x00, 0x17, 0x40}));
    EXPECT_EQ(box.feed(kParamRead, 300, 9600).at(0).bytes[5], 0xE7);
    EXPECT_EQ(reading(box, 1, 400), kNone);
    EXPECT_NE(reading(box, 1, 500, 115200), kNone);

    box.setKeyHeld(false);
    EXPECT_TRUE(box.feed(kParamRead, 600, 9600).empty());
    EXPECT_TRUE(box.feed(paramWrite(0, 2, 0x65, 23), 700, 9600).empty());
    EXPECT_NE(reading(box, 1, 800, 115200), kNone) << "measuring needs no key";

    // An unknown baud code leaves the box deaf to probe traffic at every rate.
    Box odd;
    odd.feed(paramWrite(0, 2, 0x75, 23), 0, 9600);
    for (int baud : {9600, 19200, 38400, 115200}) EXPECT_EQ(reading(odd, 1, 100, baud), kNone) << baud;
}

TEST(SimBox, ProbesAnswerOnlyTheReceiverTheyAreBoundTo) {
    Box box;
    EXPECT_EQ(box.feed(paramWrite(0x12, 0x34, 0x65, 30), 0, 9600).at(0).bytes,
              (Bytes{0xC1, 0x00, 0x06, 0x12, 0x34, 0x65, 0x00, 0x1E, 0x40}));
    EXPECT_EQ(reading(box, 1, 100), kNone) << "a new receiver address silences the probes";
    EXPECT_TRUE(box.feed(bindCommand(1, 0x1234, 30, false), 200, 9600).empty());
    EXPECT_EQ(reading(box, 1, 300), kNone) << "a wrong CRC is ignored";
    EXPECT_TRUE(box.feed(bindCommand(1, 0x1234, 30), 400, 9600).empty());
    EXPECT_NE(reading(box, 1, 500), kNone);
    EXPECT_EQ(reading(box, 2, 600), kNone) << "other probes stay with the old receiver";

    // The program's own worked example frame is understood as it stands.
    Box fresh;
    fresh.feed(Bytes{0x00, 0x01, 0x1C, 0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x17, 0x07, 0x01}, 0, 9600);
    EXPECT_EQ(fresh.probes()[0].boundAddress, 1);
    EXPECT_EQ(fresh.probes()[0].boundChannel, 23);
}

TEST(SimBox, RequestsSplitAtAnyPointAreAnsweredOnce) {
    Bytes stream = kParamRead;
    const Bytes poll = pollRequest(2);
    stream.insert(stream.end(), poll.begin(), poll.end());
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        SCOPED_TRACE(cut);
        Box box = steadyBox({1000, -2000});
        Chunks out = box.feed(std::span(stream).first(cut), 1000, 9600);
        const Chunks rest = box.feed(std::span(stream).subspan(cut), 1010, 9600);
        out.insert(out.end(), rest.begin(), rest.end());
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[0].bytes[0], 0xC1);
        EXPECT_EQ(decode(out[1].bytes), -2000);
        EXPECT_EQ(out[1].dueMs, 1030) << "the delay runs from the last byte";
    }
    Box bytewise = steadyBox({1000, 0});
    Chunks out;
    for (std::size_t i = 0; i < poll.size(); ++i) {
        const Chunks part = bytewise.feed(std::span(poll).subspan(i, 1), 100 + static_cast<int>(i), 9600);
        out.insert(out.end(), part.begin(), part.end());
    }
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].dueMs, 129);
}

TEST(SimBox, ResynchronisesOnGarbageAndAfterAnAbandonedRequest) {
    Box box = steadyBox({1000});
    Bytes stream{0x5C, 0xA5, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x13};  // greeting, then noise
    const Bytes poll = pollRequest(1);
    stream.insert(stream.end(), poll.begin(), poll.end());
    const Chunks out = box.feed(stream, 0, 9600);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(decode(out[0].bytes), 1000);
    // Half a request, then silence: the next request stands on its own.
    box.feed(std::span(poll).first(4), 1000, 9600);
    EXPECT_EQ(box.feed(poll, 1500, 9600).size(), 1u);
}

TEST(SimBoxFaults, DropAndCorruptAShareOfAnswers) {
    Options o;
    o.faults.drop = 1;
    Box mute(o);
    EXPECT_EQ(reading(mute, 1, 0), kNone);
    EXPECT_TRUE(mute.feed(kParamRead, 100, 9600).empty());

    o.faults.drop = 0.3;
    Box some(o);
    int answered = 0;
    for (int i = 0; i < 1000; ++i) answered += reading(some, 1 + i % 8, i * 50) != kNone;
    EXPECT_GT(answered, 600);
    EXPECT_LT(answered, 800);

    o.faults.drop = 0;
    o.faults.corrupt = 1;
    Box spoilt = steadyBox({4321}, o);
    const Bytes f = spoilt.feed(pollRequest(1), 0, 9600).at(0).bytes;
    ASSERT_EQ(f.size(), 12u);
    EXPECT_NE(f[3], 0x06);
    EXPECT_EQ(decode(f), 4321);
    EXPECT_EQ(spoilt.feed(kParamRead, 100, 9600).at(0).bytes[3], 0x00) << "only measurement frames";
}

TEST(SimBoxFaults, SplitAnswersArriveInTwoWritesInOrder) {
    Options o;
    o.faults.split = 1;
    o.faults.splitDelayMs = 30;
    Box box = steadyBox({1000, 2000}, o);
    const Chunks out = box.feed(pollRequest(1), 0, 9600), more = box.feed(pollRequest(2), 5, 9600);
    ASSERT_EQ(out.size(), 2u);
    ASSERT_EQ(more.size(), 2u);
    EXPECT_EQ(out[1].dueMs - out[0].dueMs, 30);
    EXPECT_EQ(decode(joined(out)), 1000);
    EXPECT_GE(more[0].dueMs, out[1].dueMs) << "a later answer never overtakes the rest of an earlier one";
    EXPECT_EQ(decode(joined(more)), 2000);
}

TEST(SimBoxFaults, StrayBytesComeBeforeAnIntactAnswer) {
    Options o;
    o.faults.stray = 1;
    Box box = steadyBox({1234}, o);
    std::set<std::size_t> lengths;
    for (int i = 0; i < 50; ++i) {
        const Bytes all = joined(box.feed(pollRequest(1), i * 100, 9600));
        ASSERT_GT(all.size(), 12u);
        lengths.insert(all.size());
        const Bytes frame(all.end() - 12, all.end());
        EXPECT_EQ(frame[1], 0x01);
        EXPECT_EQ(frame[3], 0x06);
        EXPECT_EQ(decode(frame), 1234);
    }
    EXPECT_GT(lengths.size(), 1u);
}

TEST(SimBoxFaults, FallsSilentOrVanishesForGoodOrForAWhile) {
    Options o;
    o.faults.silentAfterMs = 5000;
    Box box(o);
    EXPECT_NE(reading(box, 1, 4999), kNone);
    EXPECT_EQ(reading(box, 1, 5000), kNone);
    EXPECT_TRUE(box.feed(kParamRead, 6000, 9600).empty());

    Box toggled;
    toggled.setSilent(true);
    EXPECT_EQ(reading(toggled, 1, 0), kNone);
    toggled.setSilent(false);
    EXPECT_NE(reading(toggled, 1, 100), kNone);

    EXPECT_EQ(Box().presence(1'000'000'000), Presence::Here);
    Options v;
    v.faults.vanishAfterMs = 1000;
    Box gone(v);
    EXPECT_EQ(gone.presence(999), Presence::Here);
    EXPECT_EQ(gone.presence(1000), Presence::Exit);
    v.faults.returnAfterMs = 500;
    Box back(v);
    EXPECT_EQ(back.presence(1000), Presence::Gone);
    EXPECT_EQ(back.presence(1499), Presence::Gone);
    EXPECT_EQ(back.presence(1500), Presence::Here);
}

}  // namespace
