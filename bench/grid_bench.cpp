// Appending a record with the real grid attached and kept on the newest row: the cost
// of row 1,000,000 against row 1, side by side in one run (offscreen).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <memory>

#include "platform/qt/record_grid.h"
#include "shell/controls.h"

namespace {

using Clock = std::chrono::steady_clock;

QApplication& app() {
    static int argc = 1;
    static char name[] = "grid_bench";
    static char* argv[] = {name, nullptr};
    static QApplication* a = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *a;
}

struct Shown {
    keldrin::GroupBox area{"分组框2", nullptr, {8, 440, 1056, 137}};
    keldrin::Grid grid{"数据表格", &area, {8, 11, 856, 120}};
    keldrin::RecordStore store;
    QWidget parent;
    std::unique_ptr<keldrin::RecordGridView> view;
    Shown() {
        store.setColumnCount(9);
        std::vector<QRect> headings{{52, 11, 88, 18}};
        for (int i = 0; i < 8; ++i) headings.emplace_back(140 + 87 * i, 11, 87, 18);
        parent.resize(1056, 137);
        view = std::make_unique<keldrin::RecordGridView>(grid, store, headings, &parent);
        view->setGeometry(8, 11, 856, 120);
        view->setEnabled(false);
        parent.show();
    }
    // One record as the recorder writes it, then the event loop as after a tick.
    void record() {
        store.appendRow();
        const int r = store.rowCount();
        store.setCell(r, 1, "2026-12-08 10:00:00.000");
        for (int c = 2; c <= 9; ++c) store.setCell(r, c, "-12.345");
        QCoreApplication::processEvents();
    }
    double secondsFor(int n) {
        auto t0 = Clock::now();
        for (int i = 0; i < n; ++i) record();
        return std::chrono::duration<double>(Clock::now() - t0).count();
    }
};

void BM_GridAppendNewestRow(benchmark::State& state) {
    app();
    constexpr int kSample = 1000;
    constexpr int kRows = 1000000;
    for (auto _ : state) {
        Shown first;
        double early = first.secondsFor(kSample);  // rows 1..1000
        Shown full;
        for (int r = 0; r < kRows - kSample; ++r) {
            full.store.appendRow();
            if (r % 10000 == 0) QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
        double late = full.secondsFor(kSample);  // rows 999,001..1,000,000
        state.counters["first_1000_us_per_row"] = early / kSample * 1e6;
        state.counters["last_1000_us_per_row"] = late / kSample * 1e6;
        state.counters["last_over_first"] = late / early;
    }
}
BENCHMARK(BM_GridAppendNewestRow)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
