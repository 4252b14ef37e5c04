// keldrin-collect against Debian's own broker and InfluxDB, both started by the test on
// loopback: what rigs publish reaches one CSV file per rig and day, in the export's
// layout and GBK, and InfluxDB, once each, through a broker restart and its own kill.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <csignal>
#include <set>

#include "http.h"
#include "mosquitto_broker.h"
#include "platform/gbk.h"
#include "platform/mqtt_publisher.h"
#include "platform/publish_settings_file.h"

namespace keldrin::test {
namespace {

class InfluxDb {
public:
    explicit InfluxDb(const QString& dir) : dir_(dir), port_(freeLoopbackPort()) {
        QDir().mkpath(dir_);
        QFile conf(dir_ + "/influxdb.conf");
        conf.open(QIODevice::WriteOnly);
        const std::string d = dir_.toStdString();
        const std::string text = "reporting-disabled = true\nbind-address = \"127.0.0.1:" +
                                 std::to_string(freeLoopbackPort()) + "\"\n[meta]\n  dir = \"" + d +
                                 "/meta\"\n[data]\n  dir = \"" + d + "/data\"\n  wal-dir = \"" + d +
                                 "/wal\"\n  query-log-enabled = false\n[monitor]\n  store-enabled = false\n"
                                 "[http]\n  bind-address = \"127.0.0.1:" + std::to_string(port_) +
                                 "\"\n  log-enabled = false\n[logging]\n  level = \"error\"\n";
        conf.write(text.data(), static_cast<qint64>(text.size()));
    }
    ~InfluxDb() {
        process_.terminate();
        process_.waitForFinished(10000);
    }
    bool start() {
        process_.start(QStringLiteral("/usr/bin/influxd"), {QStringLiteral("-config"), dir_ + "/influxdb.conf"});
        if (!process_.waitForStarted(5000)) return false;
        return processUntil([&] { return acceptsConnections(port_); }, 30000);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // The rows' count in the database, as InfluxDB answers it.
    std::string count() const {
        const collect::HttpReply r = collect::httpRequest(
            *collect::parseHttpUrl(url()), "GET",
            "/query?db=keldrin&q=" + collect::urlEncode("SELECT count(\"row\") FROM keldrin"), "");
        return r.body;
    }

private:
    QString dir_;
    int port_;
    QProcess process_;
};

std::string gbk(const std::string& utf8) {
    SystemGbk g;
    std::string out;
    g.append(out, utf8);
    return out;
}

TEST(Collect, WritesEveryRowOnceToItsDaysFileAndToInfluxThroughRestarts) {
    qtApp();
    QTemporaryDir dir;
    MosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    ASSERT_TRUE(broker.start());
    InfluxDb influx(dir.filePath(QStringLiteral("influx")));
    ASSERT_TRUE(influx.start());
    const QString out = dir.filePath(QStringLiteral("collected"));
    QProcess collector;
    collector.setProgram(QStringLiteral(KELDRIN_COLLECT_PATH));
    collector.setArguments({QStringLiteral("--broker"), QStringLiteral("127.0.0.1:%1").arg(broker.port()),
                            QStringLiteral("--dir"), out, QStringLiteral("--influx"), QString::fromStdString(influx.url()),
                            QStringLiteral("--db"), QStringLiteral("keldrin"), QStringLiteral("--id"), QStringLiteral("lab")});
    collector.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray said;
    auto startCollector = [&] {
        said.clear();
        collector.start();
        return processUntil([&] { return said += collector.readAll(), said.contains("connected"); }, 20000);
    };
    ASSERT_TRUE(startCollector()) << said.constData();

    const QString work = dir.filePath(QStringLiteral("rig"));
    QDir().mkpath(work);
    publish::Settings s;
    s.enabled = true;
    s.host = "127.0.0.1";
    s.port = broker.port();
    s.rig = "试验台:1";  // ':' has no place in a Windows file name
    std::string why;
    ASSERT_TRUE(writePublishSettings(work + "/发布.ini", s, &why)) << why;
    MqttPublisher publisher(work);
    ASSERT_EQ(publisher.start(), std::nullopt);
    // Ten rows before midnight and thirty after it.
    auto publish = [&](int from, int to) {
        for (int n = from; n <= to; ++n) {
            PublishedRow r;
            r.run = "run1";
            r.row = n;
            const int second = 50 + n - 1;  // 23:59:50 onwards
            char time[32];
            std::snprintf(time, sizeof time, "2026-12-%02d %02d:%02d:%02d.000", second < 60 ? 9 : 10,
                          second < 60 ? 23 : 0, second < 60 ? 59 : 0, second % 60);
            r.time = time;
            r.values = {{"压力", std::to_string(n) + ".500"}, {"2", n % 5 == 0 ? std::nullopt : std::optional<std::string>("-1.000")}};
            publisher.row(r);
        }
    };
    publish(1, 15);
    ASSERT_TRUE(processUntil([&] { return publisher.queued() == 0; }, 20000)) << publisher.stateText();
    broker.stop();
    publish(16, 25);
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(processUntil([&] { return publisher.queued() == 0; }, 60000)) << publisher.stateText();
    ::kill(static_cast<pid_t>(collector.processId()), SIGKILL);
    collector.waitForFinished(5000);
    publish(26, 40);  // wait at the broker for the collector's session
    ASSERT_TRUE(processUntil([&] { return publisher.queued() == 0; }, 20000)) << publisher.stateText();
    ASSERT_TRUE(startCollector()) << said.constData();

    const QString before = out + "/试验台_1_2026-12-09.csv", after = out + "/试验台_1_2026-12-10.csv";
    auto lines = [](const QString& path) {
        QFile f(path);
        std::vector<std::string> l;
        if (!f.open(QIODevice::ReadOnly)) return l;
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (!line.isEmpty()) l.push_back(line.toStdString());
        }
        return l;
    };
    ASSERT_TRUE(processUntil([&] { return lines(before).size() + lines(after).size() == 42; }, 30000))
        << lines(before).size() << " + " << lines(after).size();
    ASSERT_TRUE(processUntil([&] { return influx.count().find(",40]") != std::string::npos; }, 30000)) << influx.count();

    const std::vector<std::string> first = lines(before), second = lines(after);
    ASSERT_EQ(first.size(), 11u);
    EXPECT_EQ(first[0], gbk("时间,压力,2,,,,,,,\r"));
    EXPECT_EQ(first[1], "2026-12-09 23:59:50.000,1.500,-1.000,,,,,,,\r");
    EXPECT_EQ(first[5], "2026-12-09 23:59:54.000,5.500,,,,,,,,\r");  // a stale cell is empty
    std::set<std::string> times;
    for (std::size_t i = 1; i < second.size(); ++i) times.insert(second[i].substr(0, 23));
    EXPECT_EQ(times.size(), 30u) << "a row written twice";
    EXPECT_EQ(second.back().substr(0, 30), "2026-12-10 00:00:29.000,40.500");
    collector.terminate();
    collector.waitForFinished(5000);
}

}  // namespace
}  // namespace keldrin::test
