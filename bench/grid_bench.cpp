// Appending records with the real grid attached and kept on the newest row, as at
// "0.1秒": two records, then the event loop until the grid has shown them (one batch,
// or now and then the move of the rows it holds).
// The CPU time of 100 batches at row 1,000,000 against the same at row 1, side by side
// in one run (offscreen). The waits between batches cost no CPU.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <ctime>
#include <memory>

#include "platform/qt/record_grid.h"
#include "shell/controls.h"

namespace {

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
    // One record as the recorder writes it.
    void record() {
        store.appendRow();
        const int r = store.rowCount();
        store.setCell(r, 1, "2026-12-08 10:00:00.000");
        for (int c = 2; c <= 9; ++c) store.setCell(r, c, "-12.345");
    }
    // Two records, then the event loop until the grid has taken them in and painted.
    void batch() {
        record();
        record();
        QEventLoop loop;
        const auto quit = [&loop] { QTimer::singleShot(0, &loop, &QEventLoop::quit); };
        auto inserted = QObject::connect(view->model(), &QAbstractItemModel::rowsInserted, &loop, quit);
        auto reset = QObject::connect(view->model(), &QAbstractItemModel::modelReset, &loop, quit);
        loop.exec();
        QObject::disconnect(inserted);
        QObject::disconnect(reset);
        QCoreApplication::processEvents();  // the scroll to the newest row and its painting
    }
    double cpuSecondsFor(int batches) {
        const std::clock_t t0 = std::clock();
        for (int i = 0; i < batches; ++i) batch();
        return static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
    }
};

void BM_GridAppendNewestRow(benchmark::State& state) {
    app();
    constexpr int kBatches = 100;
    constexpr int kRows = 1000000;
    for (auto _ : state) {
        Shown first;
        const double early = first.cpuSecondsFor(kBatches);  // rows 1..200
        Shown full;
        for (int r = 0; r < kRows - 2 * kBatches; ++r) full.store.appendRow();
        QCoreApplication::processEvents();
        full.cpuSecondsFor(1);  // the batch that takes in the rows added above
        const double late = full.cpuSecondsFor(kBatches);  // rows 999,801..1,000,000 and a few
        state.counters["first_batches_us_per_row"] = early / (2 * kBatches) * 1e6;
        state.counters["last_batches_us_per_row"] = late / (2 * kBatches) * 1e6;
        state.counters["last_over_first"] = late / early;
    }
}
BENCHMARK(BM_GridAppendNewestRow)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
