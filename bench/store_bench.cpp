// The record store against a QStandardItemModel holding the same million rows, and the
// cost of appending the millionth row against the first, measured in one run.
#include <benchmark/benchmark.h>

#include <QStandardItemModel>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "store/record_store.h"
#include "support/process_memory.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRows = 1000000;

using keldrin::test::statusKb;

std::string timeText(int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "2026-12-08 %02d:%02d:%02d.%03d", (i / 3600000) % 24, (i / 60000) % 60,
                  (i / 1000) % 60, i % 1000);
    return buf;
}

const char* kReadings[8] = {"-12.345", "1.000", "23.456", "-0.001", "65.535", "-3.210", "7.777", "0.000"};

void appendTypical(keldrin::RecordStore& s, int i) {
    s.appendRow();
    int r = s.rowCount();
    s.setCell(r, 1, timeText(i * 100));
    for (int c = 2; c <= 9; ++c) s.setCell(r, c, kReadings[(i + c) % 8]);
}

struct GridLike : keldrin::StoreObserver {
    long long seen = 0;
    void rowsAppended(int, int last) override { seen += last; }
    void cellChanged(int row, int) override { seen += row; }
    void tableReset() override {}
};

void StoreVersusStandardItemModel(benchmark::State& state) {
    for (auto _ : state) {
        long rss0 = statusKb("VmRSS:");
        auto t0 = Clock::now();
        keldrin::RecordStore store;
        store.setColumnCount(9);
        for (int i = 0; i < kRows; ++i) appendTypical(store, i);
        double storeSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
        long storeRssKb = statusKb("VmRSS:") - rss0;

        long rss1 = statusKb("VmRSS:");
        auto t1 = Clock::now();
        auto* model = new QStandardItemModel(0, 9);
        for (int i = 0; i < kRows; ++i) {
            QList<QStandardItem*> items;
            items.reserve(9);
            items.append(new QStandardItem(QString::fromLatin1(timeText(i * 100).c_str())));
            for (int c = 2; c <= 9; ++c) items.append(new QStandardItem(QString::fromLatin1(kReadings[(i + c) % 8])));
            model->appendRow(items);
        }
        double modelSeconds = std::chrono::duration<double>(Clock::now() - t1).count();
        long modelRssKb = statusKb("VmRSS:") - rss1;

        state.counters["store_s"] = storeSeconds;
        state.counters["model_s"] = modelSeconds;
        state.counters["speed_ratio"] = modelSeconds / storeSeconds;
        state.counters["store_bytes_per_row"] = static_cast<double>(store.memoryBytes()) / kRows;
        state.counters["store_rss_bytes_per_row"] = storeRssKb * 1024.0 / kRows;
        state.counters["model_rss_bytes_per_row"] = modelRssKb * 1024.0 / kRows;
        state.counters["memory_ratio"] = static_cast<double>(modelRssKb) / storeRssKb;
        delete model;
        benchmark::DoNotOptimize(store.rowCount());
    }
}
BENCHMARK(StoreVersusStandardItemModel)->Iterations(1)->Unit(benchmark::kMillisecond);

// Appending with an observer attached (as the grid is): rows 1..1000 against rows
// 999,001..1,000,000 of the same table.
void AppendCostOfLastRowsVersusFirst(benchmark::State& state) {
    for (auto _ : state) {
        keldrin::RecordStore store;
        GridLike grid;
        store.addObserver(&grid);
        store.setColumnCount(9);
        constexpr int kBatch = 1000;
        auto t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) appendTypical(store, i);
        double first = std::chrono::duration<double>(Clock::now() - t0).count();
        for (int i = kBatch; i < kRows - kBatch; ++i) appendTypical(store, i);
        auto t1 = Clock::now();
        for (int i = kRows - kBatch; i < kRows; ++i) appendTypical(store, i);
        double last = std::chrono::duration<double>(Clock::now() - t1).count();
        state.counters["first_1000_us_per_row"] = first / kBatch * 1e6;
        state.counters["last_1000_us_per_row"] = last / kBatch * 1e6;
        state.counters["last_over_first"] = last / first;
        benchmark::DoNotOptimize(grid.seen);
    }
}
BENCHMARK(AppendCostOfLastRowsVersusFirst)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
