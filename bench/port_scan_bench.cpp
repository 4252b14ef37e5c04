// The port dialog's scan: canOpen for COM1..COM255 on this machine, against a naive
// scan that tries a QSerialPort open on every mapped device name, in the same run.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QSerialPort>

#include "platform/qt/port_naming.h"
#include "platform/qt/serial_port.h"

namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "port_scan_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

void BM_ScanWithCanOpen(benchmark::State& state) {
    app();
    keldrin::QtSerialPort port(QDir::currentPath());
    int found = 0;
    for (auto _ : state) {
        found = 0;
        for (int n = 1; n <= 255; ++n) found += port.canOpen(n) ? 1 : 0;
        benchmark::DoNotOptimize(found);
    }
    state.counters["openable"] = found;
    state.counters["per_port_us"] = benchmark::Counter(255.0 * static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ScanWithCanOpen)->Unit(benchmark::kMillisecond);

// The naive way: a QSerialPort open attempt for every candidate, existing or not.
void BM_ScanNaiveQSerialPort(benchmark::State& state) {
    app();
    int found = 0;
    for (auto _ : state) {
        found = 0;
        for (int n = 1; n <= 255; ++n) {
            const std::optional<QString> path = keldrin::portDevicePath(n, QDir::currentPath());
            QSerialPort trial(path.value_or(QStringLiteral("/dev/nonexistent-COM%1").arg(n)));
            if (trial.open(QIODevice::ReadWrite)) {
                ++found;
                trial.close();
            }
        }
        benchmark::DoNotOptimize(found);
    }
    state.counters["openable"] = found;
}
BENCHMARK(BM_ScanNaiveQSerialPort)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
