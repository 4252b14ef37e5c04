// One tick of the live display, beside the clock text it contains and against the
// 50 ms the timer allows it.
#include <benchmark/benchmark.h>

#include "program/program.h"
#include "support/harness.h"

namespace {

using keldrin::test::Harness;

constexpr double kTickIntervalNs = 50e6;

void BM_DisplayTick(benchmark::State& state) {
    Harness h;
    int k = 0;
    for (auto _ : state) {
        // New readings every tick, both signs, so every caption and bar changes.
        for (int i = 1; i <= 8; ++i) {
            const int m = (k * 131 + i * 977) % 65536;
            h.g.channelValues[static_cast<std::size_t>(i)] = static_cast<float>((i % 2 ? m : -m) / 1000.0);
        }
        ++h.g.sentFrameCount;
        ++h.g.receivedFrameCount;
        ++k;
        keldrin::时钟1_tick(h.app);
    }
    benchmark::DoNotOptimize(h.w.CT(1).text());
    // Iteration time over the interval: the share of the GUI thread the display takes.
    state.counters["share_of_interval"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kTickIntervalNs / 1e9,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DisplayTick);

void BM_ClockText(benchmark::State& state) {
    Harness h;
    for (auto _ : state) benchmark::DoNotOptimize(h.services.clock.nowText());
}
BENCHMARK(BM_ClockText);

}  // namespace

BENCHMARK_MAIN();
