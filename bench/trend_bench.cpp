// The trend window at a week of rows recorded at 0.1 s (6,048,000 rows of 8 channels),
// with the real widget offscreen: building the summaries as after reading a table
// file, their memory against the record store's, a full-range redraw and redraws after
// zooms and pans (median and worst of 20 each), a redraw while following, and what
// appending a row costs with the summaries attached, against a store without them.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "core/dispatcher.h"
#include "platform/disk_files.h"
#include "platform/qt/trend_window.h"
#include "store/trend_summary.h"
#include "shell/mainwin.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWeekRows = 7 * 24 * 3600 * 10;
constexpr std::int64_t kStart = 1796724000000;  // 2026-12-08 10:00:00.000

QApplication& app() {
    static int argc = 1;
    static char name[] = "trend_bench";
    static char* argv[] = {name, nullptr};
    static QApplication* a = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *a;
}

double ms(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

struct Stats {
    double median, worst;
};
Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.back()};
}

// Readings that drift like gauges, with a spike now and then, written as the display does.
class Rows {
public:
    void append(keldrin::RecordStore& s, int i) {
        // From 2026-12-08 10:00:00.000, as the program's clock writes it.
        const std::int64_t sinceMidnight = 10LL * 3600000 + static_cast<std::int64_t>(i) * 100;
        const std::int64_t day = sinceMidnight / 86400000, inDay = sinceMidnight % 86400000;
        char buf[40];
        std::snprintf(buf, sizeof buf, "2026-12-%02d %02d:%02d:%02d.%03d", 8 + static_cast<int>(day),
                      static_cast<int>(inDay / 3600000),
                      static_cast<int>(inDay / 60000 % 60), static_cast<int>(inDay / 1000 % 60),
                      static_cast<int>(inDay % 1000));
        s.appendRow();
        const int r = s.rowCount();
        s.setCell(r, 1, buf);
        for (int c = 0; c < 8; ++c) {
            level_[c] += noise_(rng_) * 0.01;
            double v = 10.0 * (c + 1) + 5 * std::sin(i / (20000.0 + 5000 * c)) + level_[c];
            if (i % 100003 == c * 7) v += 500;  // a spike
            std::snprintf(buf, sizeof buf, "%.3f", v);
            s.setCell(r, c + 2, buf);
        }
    }

private:
    std::mt19937 rng_{7};
    std::normal_distribution<double> noise_{0, 1};
    double level_[8] = {};
};

void BM_TrendWeek(benchmark::State& state) {
    app();
    for (auto _ : state) {
        keldrin::MainWin model;
        keldrin::RecordStore& store = model.通用提供者1;
        store.setColumnCount(9);
        Rows rows;
        for (int i = 0; i < kWeekRows; ++i) rows.append(store, i);

        // The summaries as after reading a table file: built from nothing.
        {
            keldrin::trend::TrendSummary summary(store);
            const auto t0 = Clock::now();
            summary.update();
            state.counters["build_ms"] = ms(t0);
            state.counters["summary_MB"] = summary.memoryBytes() / 1e6;
            state.counters["store_MB"] = store.memoryBytes() / 1e6;
            state.counters["summary_percent_of_store"] = 100.0 * summary.memoryBytes() / store.memoryBytes();
            // The columns of the whole week alone, without drawing them.
            const auto span = summary.timeSpan();
            const keldrin::trend::Columns cols(span->first, span->second + 1, 1000);
            std::vector<keldrin::trend::Span> spans;
            std::vector<double> times;
            for (int k = 0; k < 20; ++k) {
                const auto t1 = Clock::now();
                summary.columns(cols, spans);
                times.push_back(ms(t1));
            }
            state.counters["columns_only_full_range_median_ms"] = stats(times).median;
        }

        QTemporaryDir dir;
        keldrin::DiskFiles files(dir.path().toStdString());
        keldrin::Dispatcher dispatcher;
        keldrin::QtClock clock;
        keldrin::TrendWindow trend(model, files, dispatcher, clock, dir.path());
        trend.resize(1000, 700);
        trend.show();
        QCoreApplication::processEvents();
        QMetaObject::invokeMethod(trend.findChild<QObject*>(QStringLiteral("全部")), "click");
        trend.redraw();  // the first one also brings the summaries up to date

        std::vector<double> full, moved, following;
        for (int k = 0; k < 20; ++k) {
            const auto t0 = Clock::now();
            trend.redraw();
            full.push_back(ms(t0));
        }
        // Zooms and pans: views from a minute to three days anywhere in the week.
        std::mt19937 rng(11);
        std::uniform_real_distribution<double> logWidth(std::log(60e3), std::log(3 * 86400e3));
        const double week = static_cast<double>(kWeekRows) * 100;
        for (int k = 0; k < 20; ++k) {
            const double width = std::exp(logWidth(rng));
            const double from = kStart + std::uniform_real_distribution<double>(0, week - width)(rng);
            trend.showRange(from, from + width);
            const auto t0 = Clock::now();
            trend.redraw();
            moved.push_back(ms(t0));
        }
        // Following the last ten minutes while rows arrive, one redraw a row (0.1 s).
        QMetaObject::invokeMethod(trend.findChild<QObject*>(QStringLiteral("10分钟")), "click");
        for (int k = 0; k < 20; ++k) {
            rows.append(store, kWeekRows + k);
            const auto t0 = Clock::now();
            trend.redrawIfChanged();
            following.push_back(ms(t0));
        }
        const Stats f = stats(full), m = stats(moved), l = stats(following);
        state.counters["full_redraw_median_ms"] = f.median;
        state.counters["full_redraw_worst_ms"] = f.worst;
        state.counters["zoom_pan_redraw_median_ms"] = m.median;
        state.counters["zoom_pan_redraw_worst_ms"] = m.worst;
        state.counters["follow_redraw_median_ms"] = l.median;
        state.counters["follow_redraw_worst_ms"] = l.worst;
    }
}
BENCHMARK(BM_TrendWeek)->Iterations(1)->Unit(benchmark::kMillisecond);

// Appending rows as the recorder does, with the summaries attached and brought up to
// date as often as the window would (every row), against the same without them.
void BM_TrendAppendCost(benchmark::State& state) {
    constexpr int kRowsBefore = 1000000, kRowsTimed = 200000;
    for (auto _ : state) {
        double perRow[2];
        for (int with = 0; with < 2; ++with) {
            keldrin::RecordStore store;
            store.setColumnCount(9);
            Rows rows;
            for (int i = 0; i < kRowsBefore; ++i) rows.append(store, i);
            std::unique_ptr<keldrin::trend::TrendSummary> summary;
            if (with) {
                summary = std::make_unique<keldrin::trend::TrendSummary>(store);
                summary->update();
            }
            const auto t0 = Clock::now();
            for (int i = kRowsBefore; i < kRowsBefore + kRowsTimed; ++i) {
                rows.append(store, i);
                if (summary) summary->update();
            }
            perRow[with] = ms(t0) * 1000 / kRowsTimed;
        }
        state.counters["append_us_per_row_without"] = perRow[0];
        state.counters["append_us_per_row_with_summaries"] = perRow[1];
        state.counters["extra_us_per_row"] = perRow[1] - perRow[0];
    }
}
BENCHMARK(BM_TrendAppendCost)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
