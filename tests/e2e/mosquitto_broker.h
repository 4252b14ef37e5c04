#pragma once
// Debian's own MQTT broker for the tests that need one: /usr/sbin/mosquitto on a free
// loopback port with a configuration of the test's, persisting every change at once so
// that even a kill loses nothing it acknowledged. And a subscriber that collects what
// arrives. POSIX only.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <arpa/inet.h>
#include <mosquitto.h>
#include <atomic>
#include <mutex>
#include <utility>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "../platform/qt_test_app.h"

namespace keldrin::test {

inline int freeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
        port = ntohs(a.sin_port);
    }
    ::close(s);
    return port;
}

inline bool acceptsConnections(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

class MosquittoBroker {
public:
    // extra: more lines of configuration (a password file, say). everyChange: saved
    // after every change (a test's durability), or as Debian's package saves it.
    explicit MosquittoBroker(const QString& dir, const std::string& extra = "allow_anonymous true\n",
                             bool everyChange = true)
        : dir_(dir), port_(freeLoopbackPort()) {
        QDir().mkpath(dir_);
        QFile conf(dir_ + "/mosquitto.conf");
        conf.open(QIODevice::WriteOnly);
        // Started as root, it would become the user "mosquitto", who may not read the
        // test's folder: it stays who started it.
        const passwd* me = ::getpwuid(::getuid());
        const std::string text = "listener " + std::to_string(port_) + " 127.0.0.1\n" + extra +
                                 (me ? "user " + std::string(me->pw_name) + "\n" : std::string()) +
                                 "persistence true\npersistence_location " + dir_.toStdString() + "/\n" +
                                 (everyChange ? "autosave_interval 1\nautosave_on_changes true\n" : "") +
                                 "log_dest none\n";
        conf.write(text.data(), static_cast<qint64>(text.size()));
    }
    ~MosquittoBroker() { stop(); }

    int port() const { return port_; }
    qint64 pid() const { return process_.processId(); }
    bool start() {
        process_.setProgram(QStringLiteral("/usr/sbin/mosquitto"));
        process_.setArguments({QStringLiteral("-c"), dir_ + "/mosquitto.conf"});
        process_.start();
        if (!process_.waitForStarted(5000)) return false;
        return processUntil([&] { return acceptsConnections(port_); }, 10000);
    }
    // As a service manager stops it: its state saved.
    void stop() {
        if (process_.state() == QProcess::NotRunning) return;
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        process_.waitForFinished(5000);
    }
    // As a crash or a power cut would.
    void kill() {
        if (process_.state() == QProcess::NotRunning) return;
        ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished(5000);
    }

private:
    QString dir_;
    int port_;
    QProcess process_;
};

// A client with a persistent session, subscribed at QoS 1, that keeps every message.
class Subscriber {
public:
    Subscriber(int port, const std::string& id, std::string filter) : filter_(std::move(filter)) {
        mosquitto_lib_init();
        m_ = mosquitto_new(id.c_str(), false, this);
        mosquitto_connect_callback_set(m_, [](mosquitto* m, void* self, int rc) {
            if (rc == 0) mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->filter_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(m_, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed_ = true;
        });
        mosquitto_message_callback_set(m_, [](mosquitto*, void* self, const mosquitto_message* msg) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard lock(s->mutex_);
            s->messages_.emplace_back(msg->topic, std::string(static_cast<const char*>(msg->payload),
                                                              static_cast<std::size_t>(msg->payloadlen)));
        });
        mosquitto_reconnect_delay_set(m_, 1, 1, false);
        mosquitto_connect(m_, "127.0.0.1", port, 10);
        mosquitto_loop_start(m_);
    }
    ~Subscriber() {
        mosquitto_disconnect(m_);
        mosquitto_loop_stop(m_, false);
        mosquitto_destroy(m_);
    }
    bool subscribed() const { return subscribed_; }
    std::vector<std::pair<std::string, std::string>> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    std::string filter_;
    mosquitto* m_ = nullptr;
    std::atomic<bool> subscribed_{false};
    std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> messages_;
};

}  // namespace keldrin::test
