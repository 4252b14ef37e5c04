#include "sim/box.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>

#include "protocol/frames.h"
#include "protocol/rates.h"

namespace keldrin::sim {

namespace {

constexpr int kAny = -1;
constexpr std::int32_t kFullScale = 65535;  // thousandths a frame can carry either way

enum class Kind { Poll, Zero, Bind, ParamRead, ParamWrite, Greeting };

// The host's requests have no start byte, so they are told apart by their form:
// fixed bytes where the request has constants, anything where it carries values.
struct Form {
    Kind kind;
    std::size_t length;
    std::array<int, kBindLength> bytes;
};

// A form of the given length whose bytes from `at` on are `fixed`, the rest anything.
constexpr Form form(Kind kind, std::size_t length, std::size_t at, std::span<const std::uint8_t> fixed) {
    Form f{kind, length, {}};
    for (std::size_t i = 0; i < length; ++i) {
        f.bytes[i] = i >= at && i < at + fixed.size() ? fixed[i - at] : kAny;
    }
    return f;
}

constexpr Form kForms[] = {
    form(Kind::Poll, kPollLength, kProbeHeadLength, std::span(kPollTemplate).subspan(kProbeHeadLength)),
    form(Kind::Zero, kZeroLength, kProbeHeadLength, std::span(kZeroTemplate).subspan(kProbeHeadLength)),
    form(Kind::Bind, kBindLength, kProbeHeadLength,
         std::span(kBindTemplate).subspan(kProbeHeadLength, kBindValuesAt - kProbeHeadLength)),
    form(Kind::ParamRead, kParameterReadLength, 0, kParameterRead),
    form(Kind::ParamWrite, kParameterWriteLength, 0, kParameterWriteHead),
    form(Kind::Greeting, kGreetingLength, 0, kConnectGreeting),
};

enum class Fit { None, Partial, Whole };

Fit fit(const Form& form, const Bytes& buffer) {
    const std::size_t n = std::min(buffer.size(), form.length);
    for (std::size_t i = 0; i < n; ++i) {
        if (form.bytes[i] != kAny && buffer[i] != form.bytes[i]) return Fit::None;
    }
    return buffer.size() >= form.length ? Fit::Whole : Fit::Partial;
}

std::uint16_t word(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

}  // namespace

std::uint64_t Box::Rng::next() {
    // splitmix64: the same sequence on every compiler and library.
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Box::Rng::unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

Box::Box(const Options& options)
    : options_(options),
      address_(options.address),
      channel_(options.channel),
      rateByte_(options.rateByte),
      noise_{options.seed * 0x2545F4914F6CDD1Dull + 1},
      faultRng_{options.seed * 0x9E3779B97F4A7C15ull + 7} {
    Rng setup{options.seed};
    const int count = std::clamp(options.probes, 0, 8);
    for (int i = 0; i < count; ++i) {
        Probe p;
        p.address = static_cast<std::uint16_t>(i + 1);
        p.boundAddress = address_;
        p.boundChannel = channel_;
        // Between 2 and 30 units, every third probe below zero; the drift never
        // crosses zero so each probe keeps its sign, as a loaded gauge would.
        const double magnitude = 2000 + setup.unit() * 28000;
        p.gauge.base = i % 3 == 1 ? -magnitude : magnitude;
        p.gauge.amplitude = 50 + setup.unit() * 450;
        p.gauge.periodMs = 120000 + setup.unit() * 480000;
        p.gauge.phase = setup.unit() * 2 * std::numbers::pi;
        p.gauge.noise = 3;
        probes_.push_back(p);
    }
}

bool Box::silent(std::int64_t nowMs) const {
    const auto after = options_.faults.silentAfterMs;
    return silent_ || (after >= 0 && nowMs >= after);
}

Presence Box::presence(std::int64_t nowMs) const {
    const Faults& f = options_.faults;
    if (f.vanishAfterMs < 0 || nowMs < f.vanishAfterMs) return Presence::Here;
    if (f.returnAfterMs < 0) return Presence::Exit;
    return nowMs < f.vanishAfterMs + f.returnAfterMs ? Presence::Gone : Presence::Here;
}

std::int32_t Box::raw(Probe& probe, std::int64_t nowMs) {
    const Gauge& g = probe.gauge;
    double v = g.base;
    if (g.amplitude != 0 && g.periodMs > 0) {
        v += g.amplitude * std::sin(2 * std::numbers::pi * static_cast<double>(nowMs) / g.periodMs + g.phase);
    }
    v = std::clamp(v, -1e9, 1e9);
    auto r = static_cast<std::int32_t>(std::llround(v));
    if (g.noise > 0) r += noise_.below(2 * g.noise + 1) - g.noise;
    return r;
}

std::int32_t Box::sample(Probe& probe, std::int64_t nowMs) {
    const std::int64_t r = static_cast<std::int64_t>(raw(probe, nowMs)) - probe.zero;
    probe.lastReading = static_cast<std::int32_t>(std::clamp<std::int64_t>(r, -kFullScale, kFullScale));
    return probe.lastReading;
}

std::vector<Chunk> Box::feed(std::span<const std::uint8_t> bytes, std::int64_t nowMs, int lineBaud) {
    std::vector<Chunk> out;
    if (bytes.empty()) return out;
    if (!pending_.empty() && nowMs - lastByteMs_ > options_.requestGapMs) pending_.clear();
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    lastByteMs_ = nowMs;
    while (takeRequest(nowMs, lineBaud, out)) {
    }
    return out;
}

bool Box::takeRequest(std::int64_t nowMs, int lineBaud, std::vector<Chunk>& out) {
    while (!pending_.empty()) {
        const Form* whole = nullptr;
        bool partial = false;
        for (const Form& form : kForms) {
            switch (fit(form, pending_)) {
            case Fit::Whole:
                // The shortest complete form wins: a parameter read must not wait
                // for bytes that would make it a probe request.
                if (!whole || form.length < whole->length) whole = &form;
                break;
            case Fit::Partial: partial = true; break;
            case Fit::None: break;
            }
        }
        if (whole) {
            Bytes request(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole->length));
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole->length));
            handle(request, nowMs, lineBaud, out);
            return true;
        }
        if (partial) return false;
        pending_.erase(pending_.begin());  // garbage: slide by one byte and look again
    }
    return false;
}

Probe* Box::findProbe(const Bytes& request) {
    const std::uint16_t addr = word(request, 0);
    for (Probe& p : probes_) {
        if (p.address == addr && p.channel == request[2]) return &p;
    }
    return nullptr;
}

void Box::handle(const Bytes& request, std::int64_t nowMs, int lineBaud, std::vector<Chunk>& out) {
    const Kind kind = [&] {
        for (const Form& form : kForms) {
            if (form.length == request.size() && fit(form, request) == Fit::Whole) return form.kind;
        }
        return Kind::Greeting;
    }();
    // Probe traffic is understood only at the box's own rate; configuration only in
    // key mode, which always talks at 9600.
    const bool probeLine = lineBaud != 0 && lineBaud == baud();
    const bool configLine = options_.keyHeld && lineBaud == kParameterBaud;
    switch (kind) {
    case Kind::Poll: {
        if (!probeLine) return;
        Probe* p = findProbe(request);
        if (!p || p->boundAddress != address_ || p->boundChannel != channel_) return;
        if (silent(nowMs)) return;
        answer(measurementFrame(*p, nowMs), nowMs, options_.radioDelayMs, true, out);
        return;
    }
    case Kind::Zero: {
        // The probe hears commands on its own channel whoever it reports to.
        if (!probeLine) return;
        if (Probe* p = findProbe(request)) p->zero = raw(*p, nowMs);
        return;
    }
    case Kind::Bind: {
        if (!probeLine) return;
        const std::optional<Binding> binding = parseBindCommand(std::span<const std::uint8_t, kBindLength>(request));
        if (!binding) return;
        if (Probe* p = findProbe(request)) {
            p->boundAddress = binding->receiver;
            p->boundChannel = binding->receiverChannel;
        }
        return;
    }
    case Kind::ParamRead:
        if (!configLine) return;
        answer(parameterReply(), nowMs, options_.configDelayMs, false, out);
        return;
    case Kind::ParamWrite:
        if (!configLine) return;
        if (const std::optional<BoxParameters> written =
                parseParameterWrite(std::span<const std::uint8_t, kParameterWriteLength>(request))) {
            address_ = static_cast<std::uint16_t>(written->address);
            rateByte_ = static_cast<std::uint8_t>(written->rateByte);
            channel_ = static_cast<std::uint8_t>(written->channel);
        }
        answer(parameterReply(), nowMs, options_.configDelayMs, false, out);
        return;
    case Kind::Greeting: return;
    }
}

Bytes Box::measurementFrame(Probe& probe, std::int64_t nowMs) {
    const std::int32_t r = sample(probe, nowMs);
    bool twosComplement = false;
    if (r < 0) {
        // Real probes send negatives both ways; alternate so both reach the host.
        twosComplement = nextNegativeTwosComplement_;
        nextNegativeTwosComplement_ = !nextNegativeTwosComplement_;
    }
    const auto f = keldrin::measurementFrame(probe.address, probe.channel, r, twosComplement);
    return Bytes(f.begin(), f.end());
}

Bytes Box::parameterReply() const {
    const auto f = keldrin::parameterReply(address_, rateByte_, channel_);
    return Bytes(f.begin(), f.end());
}

void Box::answer(Bytes frame, std::int64_t nowMs, std::int64_t delayMs, bool measurement, std::vector<Chunk>& out) {
    const Faults& f = options_.faults;
    if (silent(nowMs)) return;
    if (faultRng_.chance(f.drop)) return;
    if (measurement && faultRng_.chance(f.corrupt)) frame[3] ^= static_cast<std::uint8_t>(1 + faultRng_.below(255));
    if (faultRng_.chance(f.stray)) {
        Bytes stray(static_cast<std::size_t>(1 + faultRng_.below(4)));
        for (auto& b : stray) b = static_cast<std::uint8_t>(faultRng_.below(256));
        frame.insert(frame.begin(), stray.begin(), stray.end());
    }
    // One radio: an answer never overtakes an earlier one.
    std::int64_t dueMs = std::max(nowMs + delayMs, lastDueMs_);
    if (frame.size() >= 2 && faultRng_.chance(f.split)) {
        const auto cut = static_cast<std::ptrdiff_t>(1 + faultRng_.below(static_cast<int>(frame.size()) - 1));
        out.push_back({dueMs, Bytes(frame.begin(), frame.begin() + cut)});
        dueMs += std::max<std::int64_t>(f.splitDelayMs, 0);
        out.push_back({dueMs, Bytes(frame.begin() + cut, frame.end())});
    } else {
        out.push_back({dueMs, std::move(frame)});
    }
    lastDueMs_ = dueMs;
}

}  // namespace keldrin::sim
