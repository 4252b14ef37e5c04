// The real program (offscreen, QSerialPort) against keldrin-sim sending random bytes,
// as a receiver box left at another baud rate does: at the 115200-baud line rate for
// 60 s, and as fast as the pseudo-terminal takes them for 10 s. Reports the longest
// pass of the event loop (the longest an operator's click can wait), the growth of
// this process's memory, and how long readings take to come back once the noise stops.
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

#include "e2e/sim_process.h"
#include "platform/qt/qt_program.h"
#include "support/process_memory.h"

namespace {

using keldrin::test::SimProcess;

void writeFile(const QTemporaryDir& dir, const char* name, const char* text) {
    QFile f(dir.filePath(QString::fromUtf8(name)));
    if (f.open(QIODevice::WriteOnly)) f.write(text);
}

void Noise(benchmark::State& state, int noiseSeconds, const char* rate) {
    keldrin::test::qtApp();
    for (auto _ : state) {
        QTemporaryDir dir;
        writeFile(dir, "端口号.txt", "3");
        writeFile(dir, "波特率.txt", "9600");
        const int startMs = 3000;
        SimProcess sim(dir.path(), {"--noise-after", QString::number(startMs), "--noise-for",
                                    QString::number(noiseSeconds * 1000), "--noise-rate", QString::fromLatin1(rate)});
        QElapsedTimer since;
        since.start();
        auto program = std::make_unique<keldrin::QtProgram>(dir.path());
        keldrin::MainWin& w = program->model();
        keldrin::Globals& g = program->globals();
        program->start();
        keldrin::test::processUntil([&] { return w.title() == "Keldrin3.0              已连接COM3"; });
        program->dispatcher().post([&] { w.启动.clicked(); });
        keldrin::test::processUntil([&] { return since.elapsed() > startMs; }, startMs + 1000);
        const long rssBefore = keldrin::test::statusKb("VmRSS:");

        qint64 longest = 0;
        int clicks = 0, clicksTaken = 0;
        const qint64 noiseEnd = startMs + noiseSeconds * 1000;
        while (since.elapsed() < noiseEnd) {
            // A click every half second; it must take effect at once.
            const std::string before = w.启动.text();
            program->dispatcher().post([&] { w.启动.clicked(); });
            ++clicks;
            if (w.启动.text() != before) ++clicksTaken;
            longest = std::max(longest, keldrin::test::longestEventLoopPassMs(500));
        }
        const long rssGrowth = keldrin::test::statusKb("VmRSS:") - rssBefore;
        if (w.启动.text() != "停止") program->dispatcher().post([&] { w.启动.clicked(); });
        for (int i = 1; i <= 4; ++i) g.channelValues[static_cast<std::size_t>(i)] = 0.0f;
        const std::int64_t framesBefore = g.receivedFrameCount;
        QElapsedTimer back;
        back.start();
        keldrin::test::processUntil(
            [&] {
                for (int i = 1; i <= 4; ++i) {
                    if (g.channelValues[static_cast<std::size_t>(i)] == 0.0f) return false;
                }
                return true;
            },
            20000);
        state.SetIterationTime(static_cast<double>(since.elapsed()) / 1000.0);
        state.counters["longest_pass_ms"] = static_cast<double>(longest);
        state.counters["rss_growth_MB"] = static_cast<double>(rssGrowth) / 1024.0;
        state.counters["readings_back_ms"] = static_cast<double>(back.elapsed());
        state.counters["clicks_taken_pct"] = 100.0 * clicksTaken / std::max(clicks, 1);
        state.counters["dropped_MB"] =
            static_cast<double>(program->port().discardedBytes() + program->port().overflowedBytes()) / 1e6;
        state.counters["frames_after"] = static_cast<double>(g.receivedFrameCount - framesBefore);
        program.reset();
    }
}

BENCHMARK_CAPTURE(Noise, line_rate_60s, 60, "11520")->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Noise, flood_10s, 10, "0")->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
