#pragma once
// A simulated receiver box with its probes, as a pure model driven by time: the
// host's bytes go in with the current time and the line's baud rate, the bytes the
// box answers come out with the time each is due. No I/O, so tests can drive it on
// a virtual clock and the terminal program only moves bytes.
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/rates.h"

namespace keldrin::sim {

using Bytes = std::vector<std::uint8_t>;

// Bytes to write to the line once the clock reaches dueMs.
struct Chunk {
    std::int64_t dueMs = 0;
    Bytes bytes;
};

// How a probe's reading moves: a slow sine drift around a base value plus a little
// noise. Values in thousandths of the probe's unit.
struct Gauge {
    double base = 0;
    double amplitude = 0;
    double periodMs = 60000;
    double phase = 0;
    int noise = 0;  // each reading is off by up to this much, either way
};

struct Probe {
    std::uint16_t address = 1;
    std::uint8_t channel = 28;
    // The receiver this probe reports to; it answers no other.
    std::uint16_t boundAddress = 0;
    std::uint8_t boundChannel = 0;
    Gauge gauge;
    std::int32_t zero = 0;         // raw reading taken as zero, thousandths
    std::int32_t lastReading = 0;  // the value of the last answer, thousandths
};

struct Faults {
    double drop = 0;     // share of answers never sent
    double corrupt = 0;  // share of measurement frames whose byte 3 is spoilt
    double split = 0;    // share of answers sent in two writes
    std::int64_t splitDelayMs = 30;
    double stray = 0;  // share of answers preceded by a few stray bytes
    std::int64_t silentAfterMs = -1;  // from then on nothing is answered; <0: never
    std::int64_t vanishAfterMs = -1;  // the line disappears then; <0: never
    std::int64_t returnAfterMs = -1;  // and comes back this long after; <0: for good
};

struct Options {
    std::uint16_t address = 2;
    std::uint8_t channel = 23;
    std::uint8_t rateByte = 0x65;  // 9600 baud, air rate "低"
    bool keyHeld = true;
    int probes = 8;
    std::int64_t radioDelayMs = 20;
    std::int64_t configDelayMs = 5;
    // A request left unfinished for longer than this is given up, as a real box's
    // receive time-out would, so a lost byte cannot shift every later request.
    std::int64_t requestGapMs = 100;
    std::uint64_t seed = 1;
    Faults faults;
};

// Whether the line exists at a given time (the vanish fault).
enum class Presence { Here, Gone, Exit };

class Box {
public:
    explicit Box(const Options& options = {});

    // Takes bytes the host sent at nowMs with the line at lineBaud; returns what the
    // box will answer, in order of due time (never earlier than earlier answers).
    std::vector<Chunk> feed(std::span<const std::uint8_t> bytes, std::int64_t nowMs, int lineBaud);

    std::uint16_t address() const { return address_; }
    std::uint8_t channel() const { return channel_; }
    std::uint8_t rateByte() const { return rateByte_; }
    int baud() const { return baudForCode(baudCodeOf(rateByte_)); }

    std::vector<Probe>& probes() { return probes_; }
    const std::vector<Probe>& probes() const { return probes_; }
    Faults& faults() { return options_.faults; }
    void setKeyHeld(bool held) { options_.keyHeld = held; }
    void setSilent(bool silent) { silent_ = silent; }
    bool silent(std::int64_t nowMs) const;
    Presence presence(std::int64_t nowMs) const;

    // The probe's reading now, relative to its zero, in thousandths (noise drawn).
    std::int32_t sample(Probe& probe, std::int64_t nowMs);

private:
    struct Rng {
        std::uint64_t state;
        std::uint64_t next();
        double unit();  // [0, 1)
        bool chance(double share) { return share > 0 && unit() < share; }
        int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    };

    std::int32_t raw(Probe& probe, std::int64_t nowMs);
    bool takeRequest(std::int64_t nowMs, int lineBaud, std::vector<Chunk>& out);
    void handle(const Bytes& request, std::int64_t nowMs, int lineBaud, std::vector<Chunk>& out);
    Probe* findProbe(const Bytes& request);
    Bytes measurementFrame(Probe& probe, std::int64_t nowMs);
    Bytes parameterReply() const;
    void answer(Bytes frame, std::int64_t nowMs, std::int64_t delayMs, bool measurement, std::vector<Chunk>& out);

    Options options_;
    std::uint16_t address_;
    std::uint8_t channel_;
    std::uint8_t rateByte_;
    std::vector<Probe> probes_;
    Bytes pending_;
    std::int64_t lastByteMs_ = 0;
    std::int64_t lastDueMs_ = 0;
    bool silent_ = false;
    bool nextNegativeTwosComplement_ = false;
    Rng noise_;
    Rng faultRng_;
};

}  // namespace keldrin::sim
