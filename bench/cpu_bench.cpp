// The CPU an operator's PC spends on the real program: the window (on the display the
// environment gives, an Xvfb for bench/cpu_usage.sh), QSerialPort and keldrin-sim with
// 8 probes on a pseudo-terminal. For each state, the CPU time this process used over
// KELDRIN_CPU_SECONDS (default 60) of running its event loop, as a share of one core:
// stopped, acquiring 8 probes at the default poll, the same recording at "0.1秒",
// and the same with 100,000 rows already held.
#include <benchmark/benchmark.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <ctime>
#include <memory>

#include "e2e/sim_process.h"
#include "platform/qt/qt_program.h"

namespace {

using keldrin::test::SimProcess;

void writeFile(const QTemporaryDir& dir, const char* name, const char* text) {
    QFile f(dir.filePath(QString::fromUtf8(name)));
    if (f.open(QIODevice::WriteOnly)) f.write(text);
}

int seconds() {
    const int s = qEnvironmentVariableIntValue("KELDRIN_CPU_SECONDS");
    return s > 0 ? s : 60;
}

// Runs the event loop for ms and returns the share of one core this process used.
double cpuShareOver(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    QElapsedTimer wall;
    wall.start();
    const std::clock_t cpu0 = std::clock();
    loop.exec();
    const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    return cpu / (static_cast<double>(wall.elapsed()) / 1000.0);
}

enum class State { Stopped, Acquiring, Recording, RecordingWithRows };

void Cpu(benchmark::State& state, State what) {
    keldrin::test::qtApp();
    for (auto _ : state) {
        QTemporaryDir dir;
        writeFile(dir, "端口号.txt", "3");
        writeFile(dir, "波特率.txt", "9600");
        SimProcess sim(dir.path(), {"--probes", "8"});
        auto program = std::make_unique<keldrin::QtProgram>(dir.path());
        keldrin::MainWin& w = program->model();
        program->start();
        keldrin::test::processUntil([&] { return w.title() == "Keldrin3.0              已连接COM3"; }, 10000);
        // As the operator does: tick probes 5 to 8 (1 to 4 are ticked), choose the interval.
        for (int i = 1; i <= 8; ++i) {
            auto* box = qobject_cast<QCheckBox*>(program->widget("选择框" + std::to_string(i)));
            if (box && !box->isChecked()) box->click();
        }
        if (what == State::RecordingWithRows) {
            // As after reading a table file of 100,000 rows.
            keldrin::RecordStore& rows = w.通用提供者1;
            for (int r = 1; r <= 100000; ++r) {
                rows.appendRow();
                rows.setCell(r, 1, "2026-12-08 10:00:00.000");
                for (int c = 2; c <= 9; ++c) rows.setCell(r, c, "-12.345");
            }
        }
        if (what == State::Recording || what == State::RecordingWithRows) {
            program->dispatcher().post([&] { w.组合框3.userSetSelectedIndex(0); });  // "0.1秒"
        }
        if (what != State::Stopped) program->dispatcher().post([&] { w.启动.clicked(); });
        keldrin::test::processUntil([] { return false; }, 2000);  // settle: first answers, first rows
        const int rowsBefore = w.通用提供者1.rowCount();
        const double share = cpuShareOver(seconds() * 1000);
        state.counters["cpu_percent"] = share * 100.0;
        state.counters["rows_recorded"] = w.通用提供者1.rowCount() - rowsBefore;
    }
}

BENCHMARK_CAPTURE(Cpu, stopped, State::Stopped)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Cpu, acquiring_8_probes, State::Acquiring)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Cpu, recording_0_1s, State::Recording)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Cpu, recording_0_1s_100k_rows, State::RecordingWithRows)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
