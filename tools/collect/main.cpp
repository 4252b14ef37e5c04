// keldrin-collect: gathers the rows every rig's Keldrin publishes into CSV files, one per
// rig and day, and optionally into InfluxDB.
//   keldrin-collect --broker HOST[:PORT] --dir DIR [--influx URL --db NAME]
//                   [--user NAME] [--password-file FILE] [--tls --ca FILE] [--id CLIENT-ID]
// It holds a persistent session at QoS 1: rows published while it was away wait at the
// broker and arrive when it is back.
#include <QCoreApplication>
#include <QFile>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mosquitto.h>
#include <string>
#include <thread>

#include "collector.h"

namespace {

std::atomic<bool> stopping{false};

int usage(const char* why) {
    std::fprintf(stderr,
                 "keldrin-collect: %s\n"
                 "usage: keldrin-collect --broker HOST[:PORT] --dir DIR [--influx URL --db NAME]\n"
                 "                       [--user NAME] [--password-file FILE] [--tls --ca FILE] [--id CLIENT-ID]\n",
                 why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // Qt's text codecs and files
    std::string broker, dir, influxUrl, db, user, passwordFile, ca, id;
    bool tls = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        bool ok = true;
        if (a == "--broker") ok = value(broker);
        else if (a == "--dir") ok = value(dir);
        else if (a == "--influx") ok = value(influxUrl);
        else if (a == "--db") ok = value(db);
        else if (a == "--user") ok = value(user);
        else if (a == "--password-file") ok = value(passwordFile);
        else if (a == "--ca") ok = value(ca);
        else if (a == "--id") ok = value(id);
        else if (a == "--tls") tls = true;
        else return usage(("unknown argument " + a).c_str());
        if (!ok) return usage((a + " needs a value").c_str());
    }
    if (broker.empty() || dir.empty()) return usage("--broker and --dir are needed");
    if (influxUrl.empty() != db.empty()) return usage("--influx and --db go together");
    if (tls && ca.empty()) return usage("--tls needs --ca");
    std::string host = broker;
    int port = tls ? 8883 : 1883;
    if (const std::size_t colon = broker.rfind(':'); colon != std::string::npos) {
        host = broker.substr(0, colon);
        try {
            port = std::stoi(broker.substr(colon + 1));
        } catch (...) {
            return usage("the broker's port is not a number");
        }
    }
    std::string password;
    if (!passwordFile.empty()) {
        QFile f(QString::fromStdString(passwordFile));
        if (!f.open(QIODevice::ReadOnly)) return usage("cannot read the password file");
        password = f.readLine().trimmed().toStdString();
    }
    if (id.empty()) {
        char name[256] = {};
        ::gethostname(name, sizeof name - 1);
        id = "keldrin-collect-" + std::string(name);
    }

    std::optional<keldrin::collect::Influx> influx;
    if (!influxUrl.empty()) {
        const std::optional<keldrin::collect::HttpTarget> target = keldrin::collect::parseHttpUrl(influxUrl);
        if (!target) return usage("--influx takes http://HOST[:PORT]");
        influx = keldrin::collect::Influx{*target, db};
    }
    keldrin::collect::Collector collector(QString::fromStdString(dir), influx);
    std::string why;
    if (!collector.open(&why)) {
        std::fprintf(stderr, "keldrin-collect: %s\n", why.c_str());
        return 1;
    }

    std::signal(SIGINT, [](int) { stopping = true; });
    std::signal(SIGTERM, [](int) { stopping = true; });
    mosquitto_lib_init();
    mosquitto* m = mosquitto_new(id.c_str(), false, &collector);
    if (!m) return usage("cannot make an MQTT client");
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (!user.empty()) mosquitto_username_pw_set(m, user.c_str(), password.c_str());
    if (tls && mosquitto_tls_set(m, ca.c_str(), nullptr, nullptr, nullptr, nullptr) != MOSQ_ERR_SUCCESS) {
        return usage("the CA file cannot be used");
    }
    mosquitto_connect_callback_set(m, [](mosquitto* c, void*, int rc) {
        if (rc != 0) {
            std::fprintf(stderr, "keldrin-collect: the broker refused: %s\n", mosquitto_connack_string(rc));
            return;
        }
        mosquitto_subscribe(c, nullptr, "keldrin/+/rows", 1);
        std::fprintf(stderr, "keldrin-collect: connected\n");
    });
    // The acknowledgement leaves after this returns (the client is threaded): a row is
    // on disk before the broker forgets it.
    mosquitto_message_callback_set(m, [](mosquitto*, void* self, const mosquitto_message* msg) {
        static_cast<keldrin::collect::Collector*>(self)->take(
            msg->topic, std::string(static_cast<const char*>(msg->payload), static_cast<std::size_t>(msg->payloadlen)));
    });
    mosquitto_reconnect_delay_set(m, 1, 30, true);
    mosquitto_connect_async(m, host.c_str(), port, 30);
    mosquitto_loop_start(m);

    bool databaseMade = false;
    auto lastFlush = std::chrono::steady_clock::now() - std::chrono::seconds(10);
    while (!stopping) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (!influx || std::chrono::steady_clock::now() - lastFlush < std::chrono::seconds(1)) continue;
        lastFlush = std::chrono::steady_clock::now();
        if (!databaseMade) {
            const keldrin::collect::HttpReply r =
                keldrin::collect::httpRequest(influx->target, "POST", "/query?q=" + keldrin::collect::urlEncode("CREATE DATABASE \"" + db + "\""), "");
            databaseMade = r.status / 100 == 2;
            if (!databaseMade) continue;
        }
        collector.flushInflux();
    }
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, false);
    mosquitto_destroy(m);
    if (influx) collector.flushInflux();
    std::fprintf(stderr, "keldrin-collect: %llu rows written, %llu repeats dropped, %llu messages refused\n",
                 static_cast<unsigned long long>(collector.rowsWritten()),
                 static_cast<unsigned long long>(collector.duplicates()),
                 static_cast<unsigned long long>(collector.refused()));
    return 0;
}
