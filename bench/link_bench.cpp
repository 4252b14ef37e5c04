// The receive path under a steady stream of measurement frames, against the line
// rate, and the echo's per-byte cost full against empty.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "program/program.h"
#include "support/harness.h"

namespace {

using keldrin::test::Harness;

constexpr double kLineRateBytesPerSecond = 115200.0 / 10.0;  // 8N1: ten bits a byte

// What eight probes on the default rows (addresses 1..8, channel 28) answer: drifting
// readings in all three sign forms.
std::vector<std::uint8_t> measurementStream(int frames) {
    std::vector<std::uint8_t> s;
    s.reserve(static_cast<std::size_t>(frames) * 12);
    for (int k = 0; k < frames; ++k) {
        const int probe = 1 + k % 8;
        const int m = (k * 37) % 65536;
        const std::uint8_t sign = probe % 3 == 0 ? 0x01 : probe % 3 == 1 ? 0xFF : 0x00;
        const std::uint8_t f[12] = {0x00, static_cast<std::uint8_t>(probe), 28, 0x06, 0x00, sign,
                                    static_cast<std::uint8_t>(m >> 8), static_cast<std::uint8_t>(m),
                                    0x00, 0x00, 0x4A, 0x2B};
        s.insert(s.end(), f, f + 12);
    }
    return s;
}

void startConnected(Harness& h) {
    h.writeFile("端口号.txt", "3");
    h.writeFile("波特率.txt", "115200");
    h.start();
}

void addLineRateCounters(benchmark::State& state, std::int64_t bytes) {
    state.SetBytesProcessed(bytes);
    state.counters["x_line_rate"] =
        benchmark::Counter(static_cast<double>(bytes) / kLineRateBytesPerSecond, benchmark::Counter::kIsRate);
}

// The handler itself: echo, buffer, decode.
void BM_ByteHandler(benchmark::State& state) {
    Harness h;
    startConnected(h);
    const std::vector<std::uint8_t> stream = measurementStream(800);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        for (std::uint8_t b : stream) keldrin::端口1_byteReceived(h.app, b);
        bytes += static_cast<std::int64_t>(stream.size());
    }
    benchmark::DoNotOptimize(h.g.channelValues);
    addLineRateCounters(state, bytes);
}
BENCHMARK(BM_ByteHandler)->Unit(benchmark::kMicrosecond);

// The same stream through the serial service: one queued event per byte, as the
// port delivers them.
void BM_ByteThroughPort(benchmark::State& state) {
    Harness h;
    startConnected(h);
    const std::vector<std::uint8_t> stream = measurementStream(800);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < stream.size(); i += 12) {
            h.port.receive({stream.begin() + static_cast<std::ptrdiff_t>(i),
                            stream.begin() + static_cast<std::ptrdiff_t>(i + 12)});
        }
        bytes += static_cast<std::int64_t>(stream.size());
    }
    addLineRateCounters(state, bytes);
}
BENCHMARK(BM_ByteThroughPort)->Unit(benchmark::kMicrosecond);

// Per-byte cost with the echo at its 64 KiB limit against an empty echo, batch by
// batch in alternation so both see the same machine state.
void BM_EchoFullAgainstEmpty(benchmark::State& state) {
    Harness empty, full;
    startConnected(empty);
    startConnected(full);
    const std::vector<std::uint8_t> batch = measurementStream(100);
    keldrin::EditBox& fullEcho = full.w.编辑框接收;
    while (fullEcho.text().size() + 4096 < fullEcho.textLimit()) {
        for (std::uint8_t b : batch) keldrin::端口1_byteReceived(full.app, b);
    }
    using Clock = std::chrono::steady_clock;
    double emptyNs = 0, fullNs = 0;
    std::int64_t bytes = 0;
    std::size_t smallestFull = fullEcho.text().size();
    for (auto _ : state) {
        empty.w.编辑框接收.setText("");
        auto t0 = Clock::now();
        for (std::uint8_t b : batch) keldrin::端口1_byteReceived(empty.app, b);
        auto t1 = Clock::now();
        for (std::uint8_t b : batch) keldrin::端口1_byteReceived(full.app, b);
        auto t2 = Clock::now();
        emptyNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
        fullNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
        bytes += static_cast<std::int64_t>(batch.size());
        smallestFull = std::min(smallestFull, fullEcho.text().size());
    }
    state.counters["ns_per_byte_empty"] = emptyNs / static_cast<double>(bytes);
    state.counters["ns_per_byte_full"] = fullNs / static_cast<double>(bytes);
    state.counters["full_over_empty"] = fullNs / emptyNs;
    state.counters["full_echo_min_bytes"] = static_cast<double>(smallestFull);
}
BENCHMARK(BM_EchoFullAgainstEmpty)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
