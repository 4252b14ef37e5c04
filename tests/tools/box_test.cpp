// The simulated receiver box as a model: what it answers, when, and how its faults
// look on the wire.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "common/crc.h"
#include "sim/box.h"

namespace {

using keldrin::sim::Box;
using keldrin::sim::Bytes;
using keldrin::sim::Chunk;
using keldrin::sim::Options;
using keldrin::sim::Presence;

Bytes pollRequest(int address, int channel) {
    return {static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF),
            static_cast<std::uint8_t>(channel), 0x03, 0x00, 0x00, 0x00, 0x03, 0x20, 0x01};
}

Bytes zeroCommand(int address, int channel) {
    return {static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF),
            static_cast<std::uint8_t>(channel), 0x06, 0x00, 0x00, 0x00, 0x00, 0xAC, 0x00};
}

Bytes bindCommand(int address, int channel, int receiver, int receiverChannel, bool rightCrc = true) {
    Bytes b{static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF),
            static_cast<std::uint8_t>(channel), 0x10, 0x30, 0x39, 0x00, 0x02, 0x04,
            static_cast<std::uint8_t>(receiver >> 8), static_cast<std::uint8_t>(receiver & 0xFF), 0x00,
            static_cast<std::uint8_t>(receiverChannel), 0, 0};
    std::uint16_t crc = keldrin::modbusCrc16(std::span(b).subspan(3, 10));
    if (!rightCrc) crc ^= 0x0100;
    b[13] = static_cast<std::uint8_t>(crc & 0xFF);
    b[14] = static_cast<std::uint8_t>(crc >> 8);
    return b;
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

// Probes that read exactly their base value, so answers can be checked to the digit.
Box steadyBox(std::initializer_list<double> bases, Options o = {}) {
    o.probes = static_cast<int>(bases.size());
    Box box(o);
    int i = 0;
    for (double base : bases) {
        box.probes()[i].gauge = {base, 0, 60000, 0, 0};
        ++i;
    }
    return box;
}

Bytes joined(const std::vector<Chunk>& chunks) {
    Bytes all;
    for (const Chunk& c : chunks) all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    return all;
}

TEST(SimBox, AnswersAKnownProbeAfterTheRadioDelay) {
    Box box = steadyBox({12345, 7});
    const auto out = box.feed(pollRequest(1, 28), 1000, 9600);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].dueMs, 1020);
    const Bytes& f = out[0].bytes;
    ASSERT_EQ(f.size(), 12u);
    EXPECT_EQ(f[0], 0x00);
    EXPECT_EQ(f[1], 0x01);
    EXPECT_EQ(f[2], 28);
    EXPECT_EQ(f[3], 0x06);
    EXPECT_EQ(decode(f), 12345);

    const auto second = box.feed(pollRequest(2, 28), 1100, 9600);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].bytes[1], 0x02);
    EXPECT_EQ(decode(second[0].bytes), 7);
}

TEST(SimBox, NegativeReadingsComeInBothFormsAndSaturate) {
    Box box = steadyBox({-1500, 80000, -80000});
    std::set<int> signs;
    for (int i = 0; i < 4; ++i) {
        const auto out = box.feed(pollRequest(1, 28), 1000 + 100 * i, 9600);
        ASSERT_EQ(out.size(), 1u);
        signs.insert(out[0].bytes[5]);
        EXPECT_EQ(decode(out[0].bytes), -1500);
    }
    EXPECT_EQ(signs, (std::set<int>{0x01, 0xFF}));

    EXPECT_EQ(decode(box.feed(pollRequest(2, 28), 2000, 9600)[0].bytes), 65535);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(decode(box.feed(pollRequest(3, 28), 2100 + 100 * i, 9600)[0].bytes), -65535);
    }
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
        const auto first = a.feed(pollRequest(p, 28), 1000 * p, 9600);
        const auto again = b.feed(pollRequest(p, 28), 1000 * p, 9600);
        ASSERT_EQ(first.size(), 1u) << "probe " << p;
        EXPECT_EQ(first[0].bytes, again[0].bytes) << "same seed, same answers";
        differs |= other.feed(pollRequest(p, 28), 1000 * p, 9600)[0].bytes != first[0].bytes;
        const int r1 = decode(first[0].bytes);
        const Bytes later = a.feed(pollRequest(p, 28), 1000 * p + 1000, 9600)[0].bytes;
        EXPECT_EQ(b.feed(pollRequest(p, 28), 1000 * p + 1000, 9600)[0].bytes, later);
        const int r2 = decode(later);
        negatives += r1 < 0;
        EXPECT_NE(r1, 0);
        EXPECT_LT(std::abs(r2 - r1), 100) << "a second later the gauge has barely moved";
        EXPECT_EQ((r1 < 0), (r2 < 0));
    }
    EXPECT_GE(negatives, 1);
    EXPECT_LE(negatives, 4);
    EXPECT_TRUE(differs);

    // Over minutes the drift shows.
    const int early = decode(a.feed(pollRequest(1, 28), 10000, 9600)[0].bytes);
    const int late = decode(a.feed(pollRequest(1, 28), 100000, 9600)[0].bytes);
    EXPECT_GT(std::abs(late - early), 6);
}

TEST(SimBox, UnknownProbesAndOtherLineRatesGetNoAnswer) {
    Box box;
    EXPECT_TRUE(box.feed(pollRequest(9, 28), 0, 9600).empty());
    EXPECT_TRUE(box.feed(pollRequest(1, 27), 100, 9600).empty());
    EXPECT_TRUE(box.feed(pollRequest(0x100 + 1, 28), 200, 9600).empty());
    EXPECT_TRUE(box.feed(pollRequest(1, 28), 300, 19200).empty());
    EXPECT_TRUE(box.feed(pollRequest(1, 28), 400, 0).empty());
    EXPECT_EQ(box.feed(pollRequest(1, 28), 500, 9600).size(), 1u);
}

TEST(SimBox, ZeroCommandMakesThePresentReadingTheZero) {
    Box box = steadyBox({2500, -4000});
    EXPECT_TRUE(box.feed(zeroCommand(2, 28), 1000, 9600).empty()) << "the probe does not acknowledge";
    EXPECT_EQ(decode(box.feed(pollRequest(2, 28), 1100, 9600)[0].bytes), 0);
    EXPECT_EQ(decode(box.feed(pollRequest(1, 28), 1200, 9600)[0].bytes), 2500) << "only the addressed probe";
    box.probes()[1].gauge.base = -3000;  // the load changes after zeroing
    EXPECT_EQ(decode(box.feed(pollRequest(2, 28), 1300, 9600)[0].bytes), 1000);

    // Noisy default probe: near zero afterwards.
    Box noisy;
    noisy.feed(zeroCommand(5, 28), 5000, 9600);
    EXPECT_LE(std::abs(decode(noisy.feed(pollRequest(5, 28), 5100, 9600)[0].bytes)), 10);
}

TEST(SimBox, ParameterReadOnlyWithTheKeyHeldAndAt9600) {
    Box box;
    const auto out = box.feed(kParamRead, 0, 9600);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, (Bytes{0xC1, 0x00, 0x06, 0x00, 0x02, 0x65, 0x00, 0x17, 0x40}));
    EXPECT_TRUE(box.feed(kParamRead, 100, 19200).empty());
    box.setKeyHeld(false);
    EXPECT_TRUE(box.feed(kParamRead, 200, 9600).empty());
    EXPECT_EQ(box.feed(pollRequest(1, 28), 300, 9600).size(), 1u) << "measuring needs no key";
}

TEST(SimBox, ParameterWriteIsStoredAndTheNewRateRulesLaterTraffic) {
    Box box;
    const Bytes write{0xC0, 0x00, 0x06, 0x00, 0x02, 0xE7, 0x00, 0x17, 0x40};
    const auto out = box.feed(write, 0, 9600);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, (Bytes{0xC1, 0x00, 0x06, 0x00, 0x02, 0xE7, 0x00, 0x17, 0x40}));
    EXPECT_EQ(box.feed(kParamRead, 100, 9600)[0].bytes[5], 0xE7);
    EXPECT_TRUE(box.feed(pollRequest(1, 28), 200, 9600).empty());
    EXPECT_EQ(box.feed(pollRequest(1, 28), 300, 115200).size(), 1u);
    box.setKeyHeld(false);
    EXPECT_TRUE(box.feed(write, 400, 9600).empty());

    // An unknown baud code leaves the box deaf to probe traffic at every rate.
    Box odd;
    odd.feed(Bytes{0xC0, 0x00, 0x06, 0x00, 0x02, 0x75, 0x00, 0x17, 0x40}, 0, 9600);
    for (int baud : {9600, 19200, 38400, 115200}) EXPECT_TRUE(odd.feed(pollRequest(1, 28), 100, baud).empty());
}

TEST(SimBox, NewReceiverAddressSilencesProbesUntilTheyAreBoundAgain) {
    Box box;
    box.feed(Bytes{0xC0, 0x00, 0x06, 0x12, 0x34, 0x65, 0x00, 0x1E, 0x40}, 0, 9600);
    EXPECT_EQ(box.address(), 0x1234);
    EXPECT_EQ(box.channel(), 30);
    EXPECT_TRUE(box.feed(pollRequest(1, 28), 100, 9600).empty());
    box.feed(bindCommand(1, 28, 0x1234, 30), 200, 9600);
    EXPECT_EQ(box.feed(pollRequest(1, 28), 300, 9600).size(), 1u);
    EXPECT_TRUE(box.feed(pollRequest(2, 28), 400, 9600).empty());
}

TEST(SimBox, BindingWithARightCrcMovesTheProbeToAnotherReceiverChannel) {
    Box box;
    EXPECT_TRUE(box.feed(bindCommand(3, 28, 2, 30, false), 0, 9600).empty());
    EXPECT_EQ(box.feed(pollRequest(3, 28), 100, 9600).size(), 1u) << "a wrong CRC is ignored";

    EXPECT_TRUE(box.feed(bindCommand(3, 28, 2, 30), 200, 9600).empty());
    EXPECT_EQ(box.probes()[2].boundChannel, 30);
    EXPECT_TRUE(box.feed(pollRequest(3, 28), 300, 9600).empty());
    EXPECT_EQ(box.feed(pollRequest(4, 28), 400, 9600).size(), 1u) << "other probes stay";

    box.feed(Bytes{0xC0, 0x00, 0x06, 0x00, 0x02, 0x65, 0x00, 0x1E, 0x40}, 500, 9600);
    EXPECT_EQ(box.feed(pollRequest(3, 28), 600, 9600).size(), 1u) << "the box now has that channel";
    EXPECT_TRUE(box.feed(pollRequest(4, 28), 700, 9600).empty());

    // The program's own worked example frame is understood as it stands.
    Box fresh;
    fresh.feed(Bytes{0x00, 0x01, 0x1C, 0x10, 0x30, 0x39, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x17, 0x07, 0x01}, 0, 9600);
    EXPECT_EQ(fresh.probes()[0].boundAddress, 1);
    EXPECT_EQ(fresh.probes()[0].boundChannel, 23);
}

TEST(SimBox, RequestsSplitAtAnyPointAreAnsweredOnce) {
    Bytes stream = kParamRead;
    const Bytes poll = pollRequest(2, 28);
    stream.insert(stream.end(), poll.begin(), poll.end());
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        Box box = steadyBox({1000, -2000});
        auto first = box.feed(std::span(stream).first(cut), 1000, 9600);
        auto rest = box.feed(std::span(stream).subspan(cut), 1010, 9600);
        first.insert(first.end(), rest.begin(), rest.end());
        ASSERT_EQ(first.size(), 2u) << "cut at " << cut;
        EXPECT_EQ(first[0].bytes[0], 0xC1);
        EXPECT_EQ(decode(first[1].bytes), -2000);
        EXPECT_EQ(first[1].dueMs, 1030) << "the delay runs from the last byte";
    }
    Box bytewise = steadyBox({1000});
    const Bytes first = pollRequest(1, 28);
    std::vector<Chunk> out;
    for (std::size_t i = 0; i < first.size(); ++i) {
        auto part = bytewise.feed(std::span(first).subspan(i, 1), 100 + static_cast<int>(i), 9600);
        out.insert(out.end(), part.begin(), part.end());
    }
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].dueMs, 129);
}

TEST(SimBox, ResynchronisesOnGarbageAndAfterAnAbandonedRequest) {
    Box box = steadyBox({1000});
    Bytes stream{0x5C, 0xA5, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x13};  // greeting, then noise
    const Bytes poll = pollRequest(1, 28);
    stream.insert(stream.end(), poll.begin(), poll.end());
    const auto out = box.feed(stream, 0, 9600);
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
    EXPECT_TRUE(mute.feed(pollRequest(1, 28), 0, 9600).empty());
    EXPECT_TRUE(mute.feed(kParamRead, 100, 9600).empty());

    o.faults.drop = 0.3;
    Box some(o);
    int answered = 0;
    for (int i = 0; i < 1000; ++i) answered += static_cast<int>(some.feed(pollRequest(1 + i % 8, 28), i * 50, 9600).size());
    EXPECT_GT(answered, 600);
    EXPECT_LT(answered, 800);

    o.faults.drop = 0;
    o.faults.corrupt = 1;
    Box spoilt = steadyBox({4321}, o);
    const Bytes f = spoilt.feed(pollRequest(1, 28), 0, 9600)[0].bytes;
    ASSERT_EQ(f.size(), 12u);
    EXPECT_NE(f[3], 0x06);
    EXPECT_EQ(decode(f), 4321);
    EXPECT_EQ(spoilt.feed(kParamRead, 100, 9600)[0].bytes[3], 0x00) << "only measurement frames";
}

TEST(SimBoxFaults, SplitAnswersArriveInTwoWritesInOrder) {
    Options o;
    o.faults.split = 1;
    o.faults.splitDelayMs = 30;
    Box box = steadyBox({1000, 2000}, o);
    auto out = box.feed(pollRequest(1, 28), 0, 9600);
    auto more = box.feed(pollRequest(2, 28), 5, 9600);
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
        const Bytes all = joined(box.feed(pollRequest(1, 28), i * 100, 9600));
        ASSERT_GT(all.size(), 12u);
        lengths.insert(all.size());
        const Bytes frame(all.end() - 12, all.end());
        EXPECT_EQ(frame[1], 0x01);
        EXPECT_EQ(frame[3], 0x06);
        EXPECT_EQ(decode(frame), 1234);
    }
    EXPECT_GT(lengths.size(), 1u);
}

TEST(SimBoxFaults, FallsSilentAfterATimeOrWhenToggled) {
    Options o;
    o.faults.silentAfterMs = 5000;
    Box box(o);
    EXPECT_EQ(box.feed(pollRequest(1, 28), 4999, 9600).size(), 1u);
    EXPECT_TRUE(box.feed(pollRequest(1, 28), 5000, 9600).empty());
    EXPECT_TRUE(box.feed(kParamRead, 6000, 9600).empty());

    Box toggled;
    toggled.setSilent(true);
    EXPECT_TRUE(toggled.feed(pollRequest(1, 28), 0, 9600).empty());
    toggled.setSilent(false);
    EXPECT_EQ(toggled.feed(pollRequest(1, 28), 100, 9600).size(), 1u);
}

TEST(SimBoxFaults, VanishesForGoodOrForAWhile) {
    Box stays;
    EXPECT_EQ(stays.presence(1'000'000'000), Presence::Here);

    Options o;
    o.faults.vanishAfterMs = 1000;
    Box gone(o);
    EXPECT_EQ(gone.presence(999), Presence::Here);
    EXPECT_EQ(gone.presence(1000), Presence::Exit);

    o.faults.returnAfterMs = 500;
    Box back(o);
    EXPECT_EQ(back.presence(1000), Presence::Gone);
    EXPECT_EQ(back.presence(1499), Presence::Gone);
    EXPECT_EQ(back.presence(1500), Presence::Here);
}

}  // namespace
