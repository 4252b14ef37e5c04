// 时钟5's tick with and without the journal of unsaved rows, side by side in one run:
// the cost per recorded row, the longest tick, and the longest data sync (which runs on
// the journal's own thread, so the window never waits on it).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

#include "platform/disk_journal.h"
#include "program/program.h"
#include "support/harness.h"

namespace {

using Clock = std::chrono::steady_clock;
using keldrin::test::Harness;

void startRecording(Harness& h) {
    h.start();
    h.click(h.w.启动);
}

void RecordTickWithAndWithoutJournal(benchmark::State& state) {
    Harness with, without;
    startRecording(with);
    startRecording(without);
    without.g.unsavedRows.file.reset();  // rows in memory only
    auto* journal = dynamic_cast<keldrin::DiskJournal*>(with.g.unsavedRows.file.get());
    double withNs = 0, withoutNs = 0, longestWithUs = 0;
    std::int64_t ticks = 0;
    for (auto _ : state) {
        // Blocks of ticks taken in turn, so that both see the same machine.
        for (int block = 0; block < 20; ++block) {
            for (Harness* h : {&with, &without}) {
                for (int i = 0; i < 1000; ++i) {
                    const auto t0 = Clock::now();
                    keldrin::时钟5_tick(h->app);
                    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
                    if (h == &with) {
                        withNs += ns;
                        longestWithUs = std::max(longestWithUs, ns / 1000.0);
                    } else {
                        withoutNs += ns;
                    }
                }
            }
            ticks += 1000;
        }
    }
    state.counters["with_us_per_row"] = withNs / static_cast<double>(ticks) / 1000.0;
    state.counters["without_us_per_row"] = withoutNs / static_cast<double>(ticks) / 1000.0;
    state.counters["ratio"] = withNs / withoutNs;
    state.counters["longest_tick_with_us"] = longestWithUs;
    if (journal) {
        state.counters["longest_sync_ms"] =
            static_cast<double>(journal->longestSync().count()) / 1000.0;
    }
}
BENCHMARK(RecordTickWithAndWithoutJournal)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
