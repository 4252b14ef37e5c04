// Publishing against Debian's own broker, started and stopped by the tests: rows wait
// out a broker that is down, restarted or killed, and arrive once each and in order; a
// wrong password or a failed TLS handshake is said plainly; an unreachable broker holds
// nothing up; and a kill of the program loses no queued row.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QLabel>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <map>
#include <set>

#include "mosquitto_broker.h"
#include "platform/mqtt_publisher.h"
#include "platform/qt/main_window.h"
#include "platform/publish_settings_file.h"
#include "publish/messages.h"

namespace keldrin::test {
namespace {

publish::Settings settingsFor(int port) {
    publish::Settings s;
    s.enabled = true;
    s.host = "127.0.0.1";
    s.port = port;
    s.rig = "rig-A";
    return s;
}

void writeSettings(const QString& dir, const publish::Settings& s) {
    std::string why;
    ASSERT_TRUE(writePublishSettings(dir + "/发布.ini", s, &why)) << why;
}

PublishedRow rowNumber(std::int64_t n, const std::string& run = "20261210T010000000") {
    PublishedRow r;
    r.run = run;
    r.row = n;
    r.time = "2026-12-10 01:00:00.000";
    r.values = {{"1", std::to_string(n) + ".000"}, {"2", std::nullopt}};
    return r;
}

// The rows a subscriber received: each (run, row) and how often.
std::map<std::pair<std::string, std::int64_t>, int> rowsIn(Subscriber& sub) {
    std::map<std::pair<std::string, std::int64_t>, int> rows;
    for (const auto& [topic, payload] : sub.messages()) {
        if (topic != "keldrin/rig-A/rows") continue;
        const std::optional<publish::ReceivedRow> r = publish::parseRowPayload(payload);
        if (r) ++rows[{r->run, r->row}];
    }
    return rows;
}

std::vector<std::int64_t> orderIn(Subscriber& sub) {
    std::vector<std::int64_t> order;
    for (const auto& [topic, payload] : sub.messages()) {
        if (const auto r = publish::parseRowPayload(payload)) order.push_back(r->row);
    }
    return order;
}

class Publishing : public ::testing::Test {
protected:
    QApplication& app = qtApp();
    QTemporaryDir dir;
    QString work = dir.path() + "/work";
    QString brokerDir = dir.path() + "/broker";
    void SetUp() override { QDir().mkpath(work); }
};

TEST_F(Publishing, RowsWaitOutABrokerDownRestartedOrKilledAndArriveOnceEachInOrder) {
    MosquittoBroker broker(brokerDir);
    ASSERT_TRUE(broker.start());
    // The collector's session exists before any row: the broker keeps its rows for it.
    auto sub = std::make_unique<Subscriber>(broker.port(), "collector", "keldrin/+/rows");
    ASSERT_TRUE(processUntil([&] { return sub->subscribed(); }, 10000));
    broker.stop();

    writeSettings(work, settingsFor(broker.port()));
    MqttPublisher publisher(work);
    ASSERT_EQ(publisher.start(), std::nullopt);
    ASSERT_TRUE(publisher.enabled());
    for (int n = 1; n <= 20; ++n) publisher.row(rowNumber(n));  // the broker is down
    EXPECT_EQ(publisher.queued(), 20u);
    EXPECT_NE(publisher.stateText().find("队列 20 行"), std::string::npos) << publisher.stateText();

    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(processUntil([&] { return publisher.queued() == 0; }, 60000)) << publisher.stateText();
    EXPECT_EQ(publisher.stateText(), "发布：已连接");

    // Restarted as a service manager would, then killed, with rows coming all along.
    for (int n = 21; n <= 40; ++n) publisher.row(rowNumber(n));
    broker.stop();
    for (int n = 41; n <= 60; ++n) publisher.row(rowNumber(n));
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(processUntil([&] { return publisher.queued() == 0; }, 60000)) << publisher.stateText();
    for (int n = 61; n <= 80; ++n) publisher.row(rowNumber(n));
    broker.kill();
    for (int n = 81; n <= 100; ++n) publisher.row(rowNumber(n));
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(processUntil([&] { return publisher.queued() == 0 && rowsIn(*sub).size() == 100; }, 60000))
        << publisher.stateText() << ", received " << rowsIn(*sub).size();

    // Every row, in order. A row in flight when the broker went away may come again,
    // as QoS 1 redelivers; its run and number tell the consumer. Nothing else repeats.
    // A copy from each side of a crash at most: the publisher's resend and the
    // broker's redelivery.
    const auto rows = rowsIn(*sub);
    for (int n = 1; n <= 100; ++n) {
        ASSERT_TRUE(rows.count({"20261210T010000000", n})) << n;
        EXPECT_LE(rows.at({"20261210T010000000", n}), 3) << n;
    }
    std::int64_t highest = 0;
    for (const std::int64_t n : orderIn(*sub)) {
        if (n <= highest) continue;  // a redelivery
        EXPECT_EQ(n, highest + 1) << "a row overtook another";
        highest = n;
    }
    // Nothing is left for the next start to send again.
    publisher.stop();
    MqttPublisher next(work);
    ASSERT_EQ(next.start(), std::nullopt);
    EXPECT_EQ(next.queued(), 0u);
}

TEST_F(Publishing, AWrongPasswordOrAFailedTlsHandshakeIsSaidPlainlyAndRowsWait) {
    QDir().mkpath(brokerDir);
    QProcess passwd;
    passwd.start(QStringLiteral("/usr/bin/mosquitto_passwd"),
                 {QStringLiteral("-c"), QStringLiteral("-b"), brokerDir + "/passwords", QStringLiteral("rig"),
                  QStringLiteral("right")});
    ASSERT_TRUE(passwd.waitForFinished(10000));
    MosquittoBroker broker(brokerDir, "allow_anonymous false\npassword_file " + brokerDir.toStdString() + "/passwords\n");
    ASSERT_TRUE(broker.start());

    struct Case {
        const char* what;
        std::string user, password;
        bool tls;
        const char* says;
    };
    const Case cases[] = {
        {"wrong password", "rig", "wrong", false, "发布：被拒绝（"},
        {"TLS to a plain listener", "rig", "right", true, "发布：等待服务器，队列 3 行（"},
        {"right password", "rig", "right", false, "发布：已连接"},
    };
    // The system's own CAs: a good file, and a handshake the plain listener refuses.
    const QFile ca(QStringLiteral("/etc/ssl/certs/ca-certificates.crt"));
    ASSERT_TRUE(ca.exists()) << "the package ca-certificates";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(work + "/发布队列").removeRecursively();
        publish::Settings s = settingsFor(broker.port());
        s.user = c.user;
        s.password = c.password;
        s.tls = c.tls;
        s.ca = ca.fileName().toStdString();
        writeSettings(work, s);
        MqttPublisher publisher(work);
        const std::optional<std::string> problem = publisher.start();
        ASSERT_EQ(problem, std::nullopt);
        for (int n = 1; n <= 3; ++n) publisher.row(rowNumber(n));
        EXPECT_TRUE(processUntil([&] { return publisher.stateText().rfind(c.says, 0) == 0; }, 20000))
            << publisher.stateText();
        if (std::string(c.says) != "发布：已连接") {
            EXPECT_EQ(publisher.queued(), 3u);
            EXPECT_GT(publisher.stateText().size(), std::string(c.says).size() + 3) << "a reason is given";
        }
    }
}

// A host that never answers: every call returns at once, and stopping does not wait
// for the connect. Should any of them block, the test's time limit fails it.
TEST_F(Publishing, AnUnreachableBrokerHoldsNothingUp) {
    publish::Settings s = settingsFor(1883);
    s.host = "10.255.255.1";  // not routed: a connect waits for its time-out
    writeSettings(work, s);
    for (int round = 0; round < 3; ++round) {
        MqttPublisher publisher(work);
        ASSERT_EQ(publisher.start(), std::nullopt);
        for (int n = 1; n <= 1000; ++n) publisher.row(rowNumber(round * 1000 + n));
        publisher.reading(1, 1.5, "2026-12-10 01:00:00.000");
        publisher.portState("COM3", "connected");
        EXPECT_EQ(publisher.queued(), static_cast<std::uint64_t>((round + 1) * 1000));
        EXPECT_EQ(publisher.stateText().rfind("发布：等待服务器", 0), 0u) << publisher.stateText();
        publisher.stop();
    }
}

// The real window: a broken 发布.ini costs a message at start and nothing else; a good
// one shows publishing's state beside the clock, and the window hears the broker go.
TEST_F(Publishing, TheWindowSaysWhatPublishingDoesAndABrokenFileCostsOnlyAMessage) {
    std::vector<std::string> boxes;
    ModalAnswerer answerer([&](QWidget& modal) { answerOkAndPick(modal, boxes, {}); });
    QFile ini(work + "/发布.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[mqtt]\nenabled=maybe\nhost=h\n");
    ini.close();
    {
        QtProgram program(work);
        program.start();
        ASSERT_TRUE(processUntil([&] {
            return std::any_of(boxes.begin(), boxes.end(), [](const std::string& b) { return b.rfind("发布.ini有误，发布未开启：", 0) == 0; });
        }, 10000));
        EXPECT_FALSE(program.publisher().enabled());
        EXPECT_FALSE(program.widget("发布状态")->isVisible());
        EXPECT_TRUE(program.window().isVisible());
    }

    MosquittoBroker broker(brokerDir);
    ASSERT_TRUE(broker.start());
    writeSettings(work, settingsFor(broker.port()));
    QtProgram program(work);
    program.start();
    auto* state = qobject_cast<QLabel*>(program.widget("发布状态"));
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(processUntil([&] { return state->isVisible() && state->text() == QStringLiteral("发布：已连接"); }, 20000))
        << state->text().toStdString();
    broker.stop();
    EXPECT_TRUE(processUntil([&] { return state->text().startsWith(QStringLiteral("发布：等待服务器，队列 0 行")); }, 20000))
        << state->text().toStdString();
}

// The child of the test below: queues rows for a broker that is down, says so, and
// waits to be killed.
TEST(PublishingKillChild, QueuesRowsUntilKilled) {
    const QString work = qEnvironmentVariable("KELDRIN_PUBLISH_CHILD_DIR");
    if (work.isEmpty()) GTEST_SKIP() << "the child of Publishing.AKilledProgramsQueuedRowsAreSentAtTheNextStart";
    qtApp();
    MqttPublisher publisher(work);
    ASSERT_EQ(publisher.start(), std::nullopt);
    for (int n = 1; n <= 50; ++n) publisher.row(rowNumber(n, "killed"));
    std::printf("QUEUED %llu\n", static_cast<unsigned long long>(publisher.queued()));
    std::fflush(stdout);
    processUntil([] { return false; }, 60000);
}

TEST_F(Publishing, AKilledProgramsQueuedRowsAreSentAtTheNextStart) {
    MosquittoBroker broker(brokerDir);
    writeSettings(work, settingsFor(broker.port()));
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({QStringLiteral("--gtest_filter=PublishingKillChild.*")});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KELDRIN_PUBLISH_CHILD_DIR"), work);
    child.setProcessEnvironment(env);
    child.start();
    QByteArray out;
    ASSERT_TRUE(processUntil([&] { return out += child.readAll(), out.contains("QUEUED 50"); }, 20000)) << out.constData();
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(5000));

    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port(), "collector", "keldrin/+/rows");
    ASSERT_TRUE(processUntil([&] { return sub.subscribed(); }, 10000));
    MqttPublisher next(work);
    ASSERT_EQ(next.start(), std::nullopt);
    EXPECT_EQ(next.queued(), 50u);
    ASSERT_TRUE(processUntil([&] { return rowsIn(sub).size() == 50 && next.queued() == 0; }, 30000))
        << next.stateText();
    const std::vector<std::int64_t> order = orderIn(sub);
    ASSERT_EQ(order.size(), 50u);
    for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], static_cast<std::int64_t>(i) + 1);
}

}  // namespace
}  // namespace keldrin::test
