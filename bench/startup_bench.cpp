// Start-up with a journal of unsaved rows left by a killed run, as a week at "0.1秒"
// leaves it: 10 thousand, 1 million and 5 million rows. The real program (offscreen)
// rescues them while the window keeps answering. Reports how long start() holds the
// caller, the longest pass of the event loop until the rescue box (the longest a click
// can wait), the time to the rescue box, and this process's memory: its peak while
// starting (VmHWM, reset first) and what it still holds once the box is closed. Peak
// figures are only this size's own when each size runs alone:
//   build/bench/startup_bench --benchmark_filter='StartUp/5000000$'
#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <memory>

#include "platform/system_files.h"
#include "platform/qt/qt_program.h"
#include "platform/qt_test_app.h"
#include "store/journal.h"
#include "support/process_memory.h"

namespace {

// The journal a killed run leaves: rows of a date and time and four readings.
bool writeJournal(const QString& path, std::int64_t rows) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    std::string bytes = keldrin::journal::header() +
                        keldrin::journal::headingsRecord({"1", "2", "3", "4", "5", "6", "7", "8"});
    char time[32], reading[4][16];
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::int64_t ms = r * 100;
        std::snprintf(time, sizeof time, "2026-12-%02d %02d:%02d:%02d.%03d", 1 + static_cast<int>(ms / 86400000 % 28),
                      static_cast<int>(ms / 3600000 % 24), static_cast<int>(ms / 60000 % 60),
                      static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
        for (int i = 0; i < 4; ++i) std::snprintf(reading[i], sizeof reading[i], "%d.%03d", i + 1, static_cast<int>(r % 1000));
        const std::string_view cells[] = {time, reading[0], reading[1], reading[2], reading[3], "", "", "", ""};
        bytes += keldrin::journal::rowRecord(cells);
        if (bytes.size() > (4 << 20)) {
            if (f.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) return false;
            bytes.clear();
        }
    }
    if (f.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) return false;
    // On the disk, as the killed run's own syncs had left it: the start is not charged
    // with writing back what this bench just wrote.
    return f.flush() && keldrin::SystemFiles::system().syncData(f);
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void StartUp(benchmark::State& state) {
    keldrin::test::qtApp();
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        if (!writeJournal(dir.filePath(QStringLiteral("未保存记录.dat")), state.range(0))) {
            state.SkipWithError("could not write the journal");
            return;
        }
        state.ResumeTiming();
        qint64 boxMs = -1;
        QElapsedTimer since;
        keldrin::test::ModalAnswerer answerer([&](QWidget& modal) {
            auto* box = qobject_cast<QMessageBox*>(&modal);
            if (!box) return;
            if (box->text().startsWith(QStringLiteral("上次运行"))) boxMs = since.elapsed();
            box->button(QMessageBox::Ok)->click();
        });
        const long rssBefore = keldrin::test::statusKb("VmRSS:");
        resetPeak();
        since.start();
        auto program = std::make_unique<keldrin::QtProgram>(dir.path());
        program->start();
        const qint64 startMs = since.elapsed();
        qint64 longest = 0;
        QElapsedTimer pass;
        while (boxMs < 0 && since.elapsed() < 600000) {
            pass.start();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            longest = std::max(longest, pass.elapsed());
        }
        keldrin::test::processFor(200);
        state.counters["start_returns_ms"] = static_cast<double>(startMs);
        state.counters["longest_pass_ms"] = static_cast<double>(longest);
        state.counters["box_ms"] = static_cast<double>(boxMs);
        state.counters["peak_rss_MB"] = static_cast<double>(keldrin::test::statusKb("VmHWM:")) / 1024.0;
        state.counters["peak_growth_MB"] =
            static_cast<double>(keldrin::test::statusKb("VmHWM:") - rssBefore) / 1024.0;
        state.counters["held_after_box_MB"] =
            static_cast<double>(keldrin::test::statusKb("VmRSS:") - rssBefore) / 1024.0;
        program.reset();
    }
}
BENCHMARK(StartUp)->Arg(10000)->Arg(1000000)->Arg(5000000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
