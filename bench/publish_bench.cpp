// Publishing under load, against Debian's own broker started here on a loopback port
// with its package's persistence (saved every 30 minutes and when it stops) and no log,
// and one collector subscribed at QoS 1 to keldrin/+/rows:
//
// - Rigs: KELDRIN_PUBLISH_RIGS (default 50) MqttPublishers in this process, each with
//   its own folder and rig name, each given an 8-channel row every 100 ms, for
//   KELDRIN_PUBLISH_SECONDS (default 20). Rows a second published and received, rows
//   missing or received twice, the time from a row's clock to its arrival, and the CPU
//   a row costs the publishers (this process less the collector's thread), the broker
//   (its own process) and the collector.
// - ExtraCpu: one program's loop at 100 ms with publishing on, against the same loop
//   with publishing off (no 发布.ini), alternately, KELDRIN_PUBLISH_ROUNDS (default 4)
//   rounds of KELDRIN_PUBLISH_ROUND_SECONDS (default 7) each: the difference in CPU as
//   percentage points of one core; and connected with no rows to send (the program
//   between recordings) against off.
// - HourQueue: KELDRIN_PUBLISH_QUEUE_ROWS (default 36000, an hour at 0.1 s) queued while
//   the broker is down, its size on disk, then the broker started and the time until
//   the queue is empty and the collector has every row: once taken up at the program's
//   next start, once by the program that kept running through the outage (its first
//   KELDRIN_PUBLISH_OUTAGE_PACED_SECONDS, default 20, at the program's own pace).
#include <benchmark/benchmark.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mosquitto.h>
#include <mutex>
#include <pthread.h>
#include <pwd.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "common/file_names.h"
#include "common/texts.h"
#include "e2e/mosquitto_broker.h"
#include "platform/mqtt_publisher.h"
#include "platform/publish_settings_file.h"
#include "platform/qstring_utf8.h"
#include "publish/messages.h"

namespace {

using keldrin::MqttPublisher;
using keldrin::PublishedRow;
namespace test = keldrin::test;

constexpr int kTickMs = 100;
constexpr int kChannels = 8;

int envInt(const char* name, int fallback) {
    const int v = qEnvironmentVariableIntValue(name);
    return v > 0 ? v : fallback;
}

double seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
double processCpu() { return seconds(CLOCK_PROCESS_CPUTIME_ID); }
double threadCpu() { return seconds(CLOCK_THREAD_CPUTIME_ID); }
double wall() { return seconds(CLOCK_MONOTONIC); }

// Runs the event loop for ms without spinning: the CPU measured is what the timers and
// sockets cost.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until cond holds, looking every pollMs; false after limitMs.
bool waitUntil(const std::function<bool()>& cond, int limitMs, int pollMs = 10) {
    QElapsedTimer clock;
    clock.start();
    while (!cond()) {
        if (clock.elapsed() > limitMs) return false;
        runFor(pollMs);
    }
    return true;
}

// Debian's broker with its package's persistence, on a free loopback port; its CPU
// from /proc.
class Broker : public test::MosquittoBroker {
public:
    explicit Broker(const QString& dir) : MosquittoBroker(dir, "allow_anonymous true\n", false) {}
    // User and system time so far, in seconds.
    double cpu() const {
        std::ifstream f("/proc/" + std::to_string(pid()) + "/stat");
        std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        const auto paren = text.rfind(')');
        if (paren == std::string::npos) return 0;
        std::istringstream in(text.substr(paren + 2));
        std::string field;
        double utime = 0, stime = 0;
        // After the name: state is field 3, utime 14, stime 15.
        for (int i = 3; i <= 15 && in >> field; ++i) {
            if (i == 14) utime = std::stod(field);
            if (i == 15) stime = std::stod(field);
        }
        return (utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
};

// A collector as a site would run one: a persistent session subscribed at QoS 1 to
// every rig's rows, counting each rig's rows by number. Its network loop is a thread
// of its own, so that its CPU can be told apart from the publishers'.
class Collector {
public:
    Collector(int port, const std::string& id) {
        mosquitto_lib_init();
        m_ = mosquitto_new(id.c_str(), false, this);
        mosquitto_threaded_set(m_, true);
        mosquitto_int_option(m_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_connect_callback_set(m_, [](mosquitto* m, void*, int rc) {
            if (rc == 0) mosquitto_subscribe(m, nullptr, "keldrin/+/rows", 1);
        });
        mosquitto_subscribe_callback_set(m_, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Collector*>(self)->subscribed_ = true;
        });
        mosquitto_message_callback_set(m_, [](mosquitto*, void* self, const mosquitto_message* msg) {
            static_cast<Collector*>(self)->take(*msg);
        });
        mosquitto_reconnect_delay_set(m_, 1, 1, false);
        mosquitto_connect(m_, "127.0.0.1", port, 60);
        thread_ = std::thread([this] { mosquitto_loop_forever(m_, 1000, 1); });
        pthread_getcpuclockid(thread_.native_handle(), &clock_);
    }
    ~Collector() {
        mosquitto_disconnect(m_);
        thread_.join();
        mosquitto_destroy(m_);
    }
    bool subscribed() const { return subscribed_; }
    double cpu() const { return seconds(clock_); }

    std::uint64_t distinct() {
        std::lock_guard lock(mutex_);
        return distinct_;
    }
    std::uint64_t distinct(const std::string& rig) {
        std::lock_guard lock(mutex_);
        return byRig_[rig].distinct;
    }
    std::uint64_t duplicates() {
        std::lock_guard lock(mutex_);
        return duplicates_;
    }
    std::uint64_t messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    // The most times one row arrived.
    unsigned mostCopies() {
        std::lock_guard lock(mutex_);
        return mostCopies_;
    }
    std::uint64_t unreadable() {
        std::lock_guard lock(mutex_);
        return unreadable_;
    }
    // From a row's own time to its arrival, in ms, for rows timed as they were made.
    std::vector<std::int64_t> takeLatencies() {
        std::lock_guard lock(mutex_);
        return std::exchange(latencies_, {});
    }

private:
    struct Rig {
        std::vector<std::uint32_t> seen;  // by row number
        std::uint64_t distinct = 0;
    };
    void take(const mosquitto_message& msg) {
        const auto r = keldrin::publish::parseRowPayload(
            std::string_view(static_cast<const char*>(msg.payload), static_cast<std::size_t>(msg.payloadlen)));
        const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
        std::lock_guard lock(mutex_);
        ++messages_;
        if (!r) {
            ++unreadable_;
            return;
        }
        Rig& rig = byRig_[r->rig];
        const auto n = static_cast<std::size_t>(r->row);
        if (rig.seen.size() <= n) rig.seen.resize(std::max(n + 1, rig.seen.size() * 2), 0);
        mostCopies_ = std::max(mostCopies_, ++rig.seen[n]);
        if (rig.seen[n] == 1) {
            ++rig.distinct;
            ++distinct_;
        } else {
            ++duplicates_;
        }
        if (const auto t = keldrin::publish::isoToEpochMs(r->iso)) latencies_.push_back(now - *t);
    }

    mosquitto* m_ = nullptr;
    std::thread thread_;
    clockid_t clock_{};
    std::atomic<bool> subscribed_{false};
    std::mutex mutex_;
    std::map<std::string, Rig> byRig_;
    std::uint64_t messages_ = 0, distinct_ = 0, duplicates_ = 0, unreadable_ = 0;
    unsigned mostCopies_ = 0;
    std::vector<std::int64_t> latencies_;
};

// A rig's recording: each tick the time's text and eight readings as the table holds
// them, drifting like gauges; and the row the recorder hands over from them.
class RowMaker {
public:
    explicit RowMaker(unsigned seed) : phase_(seed * 0.37) {}
    void tick(std::int64_t epochMs) {
        const std::time_t s = static_cast<std::time_t>(epochMs / 1000);
        std::tm tm{};
        localtime_r(&s, &tm);
        char buf[80];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(epochMs % 1000));
        time_ = buf;
        ++ticks_;
        for (int c = 0; c < kChannels; ++c) {
            const double v = 20.0 + 7.5 * c + 4.0 * std::sin(phase_ + ticks_ / (300.0 + 40.0 * c)) -
                             (c == 7 ? 60.0 : 0.0) + 0.001 * static_cast<double>((ticks_ * 7919 + c * 104729) % 997);
            cells_[c] = keldrin::readingText(v);
        }
    }
    PublishedRow row(const std::string& run, std::int64_t n) const {
        PublishedRow r;
        r.run = run;
        r.row = n;
        r.time = time_;
        // The program's default headings: the channels' numbers.
        for (int c = 0; c < kChannels; ++c) r.values.emplace_back(std::to_string(c + 1), cells_[c]);
        return r;
    }
    const std::string& time() const { return time_; }

private:
    double phase_;
    std::int64_t ticks_ = 0;
    std::string time_;
    std::string cells_[kChannels];
};

std::string runOf(const std::string& time) {
    std::string id;
    for (const char c : time) {
        if (c == ' ') id += 'T';
        else if (c >= '0' && c <= '9') id += c;
    }
    return id;
}

bool writeSettings(const QString& dir, int port, const std::string& rig) {
    keldrin::publish::Settings s;
    s.enabled = true;
    s.host = "127.0.0.1";
    s.port = port;
    s.rig = rig;
    std::string why;
    QDir().mkpath(dir);
    const bool ok = keldrin::writePublishSettings(dir + '/' + keldrin::q(keldrin::kPublishSettingsFile), s, &why);
    if (!ok) std::fprintf(stderr, "发布.ini: %s\n", why.c_str());
    return ok;
}

struct DiskUse {
    std::uint64_t bytes = 0, allocated = 0;
};
DiskUse diskUse(const QString& folder) {
    DiskUse d;
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files)) {
        d.bytes += static_cast<std::uint64_t>(f.size());
        struct stat st {};
        if (::stat(QFile::encodeName(f.filePath()).constData(), &st) == 0) {
            d.allocated += static_cast<std::uint64_t>(st.st_blocks) * 512;
        }
    }
    return d;
}

double percentile(std::vector<std::int64_t> v, double p) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return static_cast<double>(v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))]);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? NAN : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Rig {
    std::string name, run;
    QString dir;
    std::unique_ptr<MqttPublisher> publisher;
    RowMaker maker;
    std::int64_t rows = 0;
    QTimer timer;
    explicit Rig(unsigned i) : maker(i) {}
};

void Rigs(benchmark::State& state) {
    test::qtApp();
    const int rigCount = envInt("KELDRIN_PUBLISH_RIGS", 50);
    const int period = envInt("KELDRIN_PUBLISH_SECONDS", 20);
    for (auto _ : state) {
        QTemporaryDir dir;
        Broker broker(dir.path() + "/broker");
        if (!broker.start()) return state.SkipWithError("the broker did not start");
        Collector collector(broker.port(), "collector-rigs");
        if (!waitUntil([&] { return collector.subscribed(); }, 10000)) return state.SkipWithError("not subscribed");

        // What making a row costs the recording itself, to tell it apart below.
        double makingUs = 0;
        {
            RowMaker m(99);
            const double t0 = processCpu();
            std::size_t sink = 0;
            for (int i = 0; i < 20000; ++i) {
                m.tick(QDateTime::currentMSecsSinceEpoch());
                sink += m.row("run", i + 1).values.size();
            }
            makingUs = (processCpu() - t0) / 20000 * 1e6;
            benchmark::DoNotOptimize(sink);
        }

        std::vector<std::unique_ptr<Rig>> rigs;
        for (int i = 1; i <= rigCount; ++i) {
            auto r = std::make_unique<Rig>(static_cast<unsigned>(i));
            char name[16];
            std::snprintf(name, sizeof name, "rig-%02d", i);
            r->name = name;
            r->dir = dir.path() + "/" + name;
            if (!writeSettings(r->dir, broker.port(), r->name)) return state.SkipWithError("settings");
            r->publisher = std::make_unique<MqttPublisher>(r->dir);
            if (r->publisher->start()) return state.SkipWithError("a publisher did not start");
            r->maker.tick(QDateTime::currentMSecsSinceEpoch());
            r->run = runOf(r->maker.time());
            r->timer.setTimerType(Qt::PreciseTimer);
            r->timer.setInterval(kTickMs);
            Rig* rig = r.get();
            QObject::connect(&r->timer, &QTimer::timeout, [rig] {
                rig->maker.tick(QDateTime::currentMSecsSinceEpoch());
                rig->publisher->row(rig->maker.row(rig->run, ++rig->rows));
            });
            rigs.push_back(std::move(r));
        }
        if (!waitUntil([&] { return std::all_of(rigs.begin(), rigs.end(), [](auto& r) { return r->publisher->connected(); }); },
                       30000)) {
            return state.SkipWithError("not every publisher connected");
        }
        runFor(1000);
        // Rigs do not tick in step: their recordings started whenever they were started.
        for (int i = 0; i < rigCount; ++i) {
            Rig* rig = rigs[static_cast<std::size_t>(i)].get();
            QTimer::singleShot(i * kTickMs / rigCount, Qt::PreciseTimer, [rig] { rig->timer.start(); });
        }
        runFor(kTickMs);
        collector.takeLatencies();

        const double wall0 = wall(), cpu0 = processCpu(), broker0 = broker.cpu(), collector0 = collector.cpu();
        const std::uint64_t received0 = collector.distinct();
        std::int64_t published0 = 0;
        for (auto& r : rigs) published0 += r->rows;
        std::uint64_t backlog = 0;
        for (int s = 0; s < period; ++s) {
            runFor(1000);
            std::uint64_t queued = 0;
            for (auto& r : rigs) queued += r->publisher->queued();
            backlog = std::max(backlog, queued);
        }
        for (auto& r : rigs) r->timer.stop();
        const double wall1 = wall(), cpu1 = processCpu(), broker1 = broker.cpu(), collector1 = collector.cpu();
        const std::uint64_t received1 = collector.distinct();
        std::int64_t published = 0;
        for (auto& r : rigs) published += r->rows;
        const std::vector<std::int64_t> latencies = collector.takeLatencies();

        // The rows still on their way, then every rig's rows counted.
        waitUntil([&] { return collector.distinct() == static_cast<std::uint64_t>(published); }, 30000, 50);
        std::int64_t missing = 0;
        for (auto& r : rigs) missing += r->rows - static_cast<std::int64_t>(collector.distinct(r->name));

        const double secs = wall1 - wall0;
        const double rows = static_cast<double>(published - published0);
        const double publisherCpu = (cpu1 - cpu0) - (collector1 - collector0);
        state.counters["rigs"] = rigCount;
        state.counters["seconds"] = secs;
        state.counters["published_rows_per_s"] = rows / secs;
        state.counters["received_rows_per_s"] = static_cast<double>(received1 - received0) / secs;
        state.counters["missing"] = static_cast<double>(missing);
        state.counters["duplicates"] = static_cast<double>(collector.duplicates());
        state.counters["unreadable"] = static_cast<double>(collector.unreadable());
        state.counters["backlog_max_rows"] = static_cast<double>(backlog);
        state.counters["latency_median_ms"] = percentile(latencies, 0.5);
        state.counters["latency_p99_ms"] = percentile(latencies, 0.99);
        state.counters["publishers_cpu_percent"] = 100 * publisherCpu / secs;
        state.counters["publishers_us_per_row"] = publisherCpu / rows * 1e6;
        state.counters["making_us_per_row"] = makingUs;
        state.counters["broker_cpu_percent"] = 100 * (broker1 - broker0) / secs;
        state.counters["broker_us_per_row"] = (broker1 - broker0) / rows * 1e6;
        state.counters["collector_us_per_row"] = (collector1 - collector0) / rows * 1e6;
        for (auto& r : rigs) r->publisher->stop();
    }
}

// One program's loop at 100 ms: the recorder's texts every tick, and the row handed
// over as the recorder does, only when publishing is on and rows are being recorded.
enum class Mode { Off, ConnectedNoRows, Publishing };

struct Share {
    double process = NAN, mainThread = NAN;  // of one core
};

Share loopShare(const QString& workDir, Mode mode, int ms, std::int64_t* rowsOut) {
    MqttPublisher publisher(workDir);
    publisher.start();
    if (mode == Mode::Off ? publisher.enabled() : !waitUntil([&] { return publisher.connected(); }, 10000)) return {};
    RowMaker maker(1);
    maker.tick(QDateTime::currentMSecsSinceEpoch());
    const std::string run = runOf(maker.time());
    const bool recording = mode != Mode::ConnectedNoRows;
    std::int64_t rows = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(kTickMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        maker.tick(QDateTime::currentMSecsSinceEpoch());
        if (recording && publisher.enabled()) publisher.row(maker.row(run, ++rows));
    });
    timer.start();
    runFor(500);
    const double wall0 = wall(), cpu0 = processCpu(), main0 = threadCpu();
    const std::int64_t rows0 = rows;
    runFor(ms);
    const double secs = wall() - wall0;
    const Share share{(processCpu() - cpu0) / secs, (threadCpu() - main0) / secs};
    *rowsOut = rows - rows0;
    timer.stop();
    publisher.stop();
    return share;
}

void ExtraCpu(benchmark::State& state) {
    test::qtApp();
    const int rounds = envInt("KELDRIN_PUBLISH_ROUNDS", 4);
    const int roundMs = envInt("KELDRIN_PUBLISH_ROUND_SECONDS", 7) * 1000;
    for (auto _ : state) {
        QTemporaryDir dir;
        Broker broker(dir.path() + "/broker");
        if (!broker.start()) return state.SkipWithError("the broker did not start");
        const QString on = dir.path() + "/on", off = dir.path() + "/off";
        QDir().mkpath(off);
        if (!writeSettings(on, broker.port(), "rig-A")) return state.SkipWithError("settings");

        constexpr Mode kModes[] = {Mode::Publishing, Mode::Off, Mode::ConnectedNoRows};
        std::vector<double> shares[3], publishing, idle, mainThread, otherThreads;
        double extraCpu = 0;
        std::int64_t publishedRows = 0;
        for (int r = 0; r < rounds; ++r) {
            // Each round starts with another mode, so that a drift of the machine's load
            // falls on all three.
            Share share[3];
            std::int64_t rows = 0, none = 0;
            for (int k = 0; k < 3; ++k) {
                const int m = (r + k) % 3;
                share[m] = loopShare(kModes[m] == Mode::Off ? off : on, kModes[m], roundMs,
                                     kModes[m] == Mode::Publishing ? &rows : &none);
                if (std::isnan(share[m].process)) return state.SkipWithError("a round failed");
                shares[m].push_back(share[m].process);
            }
            const double extra = share[0].process - share[1].process;
            // The GUI thread's part, and the rest: the connection's thread.
            const double extraMain = share[0].mainThread - share[1].mainThread;
            std::printf("round %d: off %.3f %% of a core; publishing %.3f %% (%lld rows), %+.3f points "
                        "(GUI thread %+.3f, other threads %+.3f); connected without rows %.3f %%, %+.3f points\n",
                        r + 1, 100 * share[1].process, 100 * share[0].process, static_cast<long long>(rows),
                        100 * extra, 100 * extraMain, 100 * (extra - extraMain), 100 * share[2].process,
                        100 * (share[2].process - share[1].process));
            publishing.push_back(extra);
            mainThread.push_back(extraMain);
            otherThreads.push_back(extra - extraMain);
            idle.push_back(share[2].process - share[1].process);
            extraCpu += extra * roundMs / 1000.0;
            publishedRows += rows;
        }
        std::fflush(stdout);
        state.counters["off_cpu_percent"] = 100 * median(shares[1]);
        state.counters["publishing_cpu_percent"] = 100 * median(shares[0]);
        state.counters["connected_no_rows_cpu_percent"] = 100 * median(shares[2]);
        state.counters["publishing_extra_points_median"] = 100 * median(publishing);
        state.counters["publishing_extra_points_max"] = 100 * *std::max_element(publishing.begin(), publishing.end());
        state.counters["publishing_extra_gui_thread_points"] = 100 * median(mainThread);
        state.counters["publishing_extra_other_threads_points"] = 100 * median(otherThreads);
        state.counters["connected_no_rows_extra_points_median"] = 100 * median(idle);
        state.counters["publishing_extra_us_per_row"] = extraCpu / static_cast<double>(publishedRows) * 1e6;
    }
}

// Rows queued while the broker is down, one per tick from an hour ago. The first
// pacedMs go at the program's pace on its event loop, the pump timer running and the
// connection retrying as they do in an outage; the rest at once.
void queueHour(MqttPublisher& p, int rows, int pacedMs) {
    RowMaker maker(3);
    const std::int64_t from = QDateTime::currentMSecsSinceEpoch() - static_cast<std::int64_t>(rows) * kTickMs;
    maker.tick(from);
    const std::string run = runOf(maker.time());
    int n = 0;
    auto next = [&] {
        ++n;
        maker.tick(from + static_cast<std::int64_t>(n) * kTickMs);
        p.row(maker.row(run, n));
    };
    if (pacedMs > 0) {
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(kTickMs);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (n < rows) next();
        });
        timer.start();
        runFor(pacedMs);
    }
    while (n < rows) next();
}

enum class Outage { NextStart, KeptRunning };

void HourQueue(benchmark::State& state, Outage how) {
    test::qtApp();
    const int rows = envInt("KELDRIN_PUBLISH_QUEUE_ROWS", 36000);
    const int pacedMs = envInt("KELDRIN_PUBLISH_OUTAGE_PACED_SECONDS", 20) * 1000;
    const std::string rig = "rig-Q";
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString work = dir.path() + "/work";
        Broker broker(dir.path() + "/broker");
        if (!broker.start()) return state.SkipWithError("the broker did not start");
        // The collector's session is there before the outage: the broker keeps rows for it.
        {
            Collector first(broker.port(), "collector-queue");
            if (!waitUntil([&] { return first.subscribed(); }, 10000)) return state.SkipWithError("not subscribed");
        }
        broker.stop();
        if (!writeSettings(work, broker.port(), rig)) return state.SkipWithError("settings");

        auto publisher = std::make_unique<MqttPublisher>(work);
        if (publisher->start()) return state.SkipWithError("the publisher did not start");
        const double queue0 = wall(), queueCpu0 = processCpu();
        queueHour(*publisher, rows, how == Outage::KeptRunning ? pacedMs : 0);
        const double queueSecs = wall() - queue0, queueCpu = processCpu() - queueCpu0;
        if (publisher->queued() != static_cast<std::uint64_t>(rows)) return state.SkipWithError("rows not queued");
        const DiskUse disk = diskUse(work + '/' + keldrin::q(keldrin::kOutboxFolder));
        if (how == Outage::NextStart) publisher->stop();

        if (!broker.start()) return state.SkipWithError("the broker did not restart");
        Collector collector(broker.port(), "collector-queue");
        const double up = wall(), cpu0 = processCpu(), broker0 = broker.cpu(), collector0 = collector.cpu();
        if (how == Outage::NextStart) {
            publisher = std::make_unique<MqttPublisher>(work);
            if (publisher->start()) return state.SkipWithError("the publisher did not restart");
        }
        if (!waitUntil([&] { return publisher->connected(); }, 60000)) return state.SkipWithError("not reconnected");
        const double connected = wall();
        const bool emptied = waitUntil([&] { return publisher->queued() == 0; }, 300000);
        const double empty = wall();
        // Then what the broker still holds for the collector, until every row is there or
        // nothing more comes for 3 s.
        std::uint64_t lastCount = collector.messages();
        double lastChange = wall();
        waitUntil(
            [&] {
                if (collector.distinct(rig) == static_cast<std::uint64_t>(rows)) return true;
                if (collector.messages() != lastCount) {
                    lastCount = collector.messages();
                    lastChange = wall();
                }
                return wall() - lastChange > 3;
            },
            300000);
        const bool complete = collector.distinct(rig) == static_cast<std::uint64_t>(rows);
        const double done = complete ? wall() : lastChange;
        const double cpu = processCpu() - cpu0 - (collector.cpu() - collector0), brokerCpu = broker.cpu() - broker0;
        const DiskUse after = diskUse(work + '/' + keldrin::q(keldrin::kOutboxFolder));

        state.counters["rows"] = rows;
        state.counters["queue_bytes_per_row"] = static_cast<double>(disk.bytes) / rows;
        state.counters["queue_allocated_bytes_per_row"] = static_cast<double>(disk.allocated) / rows;
        state.counters["queue_bytes_after_drain"] = static_cast<double>(after.bytes);
        if (how == Outage::NextStart) {
            state.counters["queueing_us_per_row"] = queueSecs / rows * 1e6;
            state.counters["queueing_cpu_us_per_row"] = queueCpu / rows * 1e6;
        }
        state.counters["reconnect_s"] = connected - up;
        state.counters["queue_emptied_s"] = empty - connected;
        state.counters["all_received_s"] = done - connected;
        state.counters["drain_rows_per_s"] = rows / (done - connected);
        state.counters["missing"] = static_cast<double>(rows) - static_cast<double>(collector.distinct(rig));
        state.counters["messages_received"] = static_cast<double>(collector.messages());
        state.counters["duplicates"] = static_cast<double>(collector.duplicates());
        state.counters["most_copies_of_a_row"] = collector.mostCopies();
        state.counters["drain_cpu_us_per_row"] = cpu / rows * 1e6;
        state.counters["broker_drain_us_per_row"] = brokerCpu / rows * 1e6;
        if (!emptied) std::printf("queue not emptied: %s\n", publisher->stateText().c_str());
        publisher->stop();
    }
}

BENCHMARK(Rigs)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(ExtraCpu)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(HourQueue, next_start, Outage::NextStart)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(HourQueue, kept_running, Outage::KeptRunning)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
