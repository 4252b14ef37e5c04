// A million records through the real recorder, then save, read and export, each
// against one plain buffered write of the same number of bytes in the same run, and
// the peak memory of the process holding them.
#include <benchmark/benchmark.h>

#include <QFile>
#include <chrono>
#include <fstream>
#include <string>

#ifdef __unix__
#include <unistd.h>
#endif

#include "support/harness.h"
#include "support/process_memory.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRows = 1000000;

using keldrin::test::statusKb;

double seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Dirty pages left by the step before would otherwise slow whichever write comes next;
// every timed step, and every baseline, starts from a clean page cache.
void settle() {
#ifdef __unix__
    ::sync();
#endif
}

// The disk's speed varies from one write to the next by more than the steps measured
// here: each baseline is the fastest of three, which makes every ratio the strictest.
double bestPlainWrite(const std::string& path, std::size_t n, bool synced = false);

// One buffered write of n bytes in 1 MiB pieces, as a baseline for the disk; synced,
// it also waits for the disk as a save does before it replaces the old file.
double plainWrite(const std::string& path, std::size_t n, bool synced = false) {
    std::string piece(1 << 20, 'x');
    auto t0 = Clock::now();
    QFile f(QString::fromStdString(path));
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    for (std::size_t left = n; left > 0;) {
        std::size_t k = std::min(left, piece.size());
        f.write(piece.data(), static_cast<qint64>(k));
        left -= k;
    }
    f.flush();
#ifdef __unix__
    if (synced) ::fdatasync(f.handle());
#endif
    f.close();
    return seconds(t0);
}

double bestPlainWrite(const std::string& path, std::size_t n, bool synced) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        settle();
        best = std::min(best, plainWrite(path, n, synced));
        QFile::remove(QString::fromStdString(path));
    }
    return best;
}

void RecordSaveReadExportMillionRows(benchmark::State& state) {
    for (auto _ : state) {
        keldrin::test::Harness h;
        h.start();
        for (int i = 1; i <= 8; ++i) {
            h.w.选择框(i).setChecked(true);
            h.g.channelValues[static_cast<std::size_t>(i)] = i % 2 ? -12.345f : 1.0f;
        }
        h.click(h.w.启动);
        // Every probe has just answered, and virtual time stands still: no cell goes stale.
        h.g.channelReadAt.fill(h.clock.elapsedMs());
        long rss0 = statusKb("VmRSS:");
        auto t0 = Clock::now();
        for (int i = 0; i < kRows; ++i) {
            h.clock.epochMs += 100;  // a "0.1秒" recording
            keldrin::时钟5_tick(h.app);
        }
        double recordS = seconds(t0);
        long holdKb = statusKb("VmRSS:") - rss0;
        long peakAfterRecordKb = statusKb("VmHWM:");

        keldrin::TableError why;
        settle();
        t0 = Clock::now();
        bool saved = h.w.数据源1.save(h.files, "day.tbl", &why);
        double saveS = seconds(t0);
        std::size_t tableBytes = h.readFile("day.tbl").value_or("").size();
        double saveBase = bestPlainWrite(h.path("plain1.bin"), tableBytes);
        double saveSyncedBase = bestPlainWrite(h.path("plain1s.bin"), tableBytes, true);

        settle();
        t0 = Clock::now();
        bool loaded = h.w.数据源1.load(h.files, "day.tbl", &why);
        double readS = seconds(t0);
        long peakAfterReadKb = statusKb("VmHWM:");

        h.fileDialog.answers = {std::string("day")};
        settle();
        t0 = Clock::now();
        keldrin::按钮6_clicked(h.app);
        double exportS = seconds(t0);
        std::size_t csvBytes = h.readFile("day.csv").value_or("").size();
        double exportBase = bestPlainWrite(h.path("plain2.bin"), csvBytes);

        if (!saved || !loaded || h.w.通用提供者1.rowCount() != kRows) state.SkipWithError(keldrin::tableErrorText(why).c_str());
        state.counters["record_s"] = recordS;
        state.counters["save_s"] = saveS;
        state.counters["read_s"] = readS;
        state.counters["export_s"] = exportS;
        state.counters["plain_write_table_s"] = saveBase;
        state.counters["plain_write_csv_s"] = exportBase;
        state.counters["save_over_plain"] = saveS / saveBase;
        state.counters["plain_write_synced_table_s"] = saveSyncedBase;
        state.counters["save_over_plain_synced"] = saveS / saveSyncedBase;
        state.counters["read_over_plain"] = readS / saveBase;
        state.counters["export_over_plain"] = exportS / exportBase;
        state.counters["table_MB"] = tableBytes / 1e6;
        state.counters["csv_MB"] = csvBytes / 1e6;
        state.counters["store_bytes_per_row"] = static_cast<double>(h.w.通用提供者1.memoryBytes()) / kRows;
        state.counters["rss_held_MB"] = holdKb / 1024.0;
        state.counters["VmHWM_after_record_MB"] = peakAfterRecordKb / 1024.0;
        state.counters["VmHWM_after_read_MB"] = peakAfterReadKb / 1024.0;
    }
}
BENCHMARK(RecordSaveReadExportMillionRows)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
