#pragma once
// Publishing to an MQTT broker with libmosquitto. Rows go to the Outbox first and are
// sent from it in order, at QoS 1, a bounded number at a time; a row leaves the Outbox
// only once the broker has acknowledged it. Readings and the rig's state are retained
// messages; a last will says "offline" when the program or its network dies.
//
// Threads: the connection (name lookup, connect, TLS, reconnects) runs on a thread of
// its own; the GUI thread appends rows and, every kBatchMs while any wait, hands them
// to libmosquitto and takes the broker's acknowledgements, so no call here waits on
// the network.
#include <QString>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/services.h"
#include "platform/outbox.h"
#include "publish/settings.h"

struct mosquitto;

namespace keldrin {

class MqttPublisher : public Publisher {
public:
    // How soon the queue is looked at again: while a backlog drains, and otherwise while
    // rows wait to be sent, for the broker or for its acknowledgement.
    static constexpr int kDrainMs = 10;
    static constexpr int kBatchMs = 500;
    // Rows handed to libmosquitto and not yet acknowledged, at most.
    static constexpr std::size_t kWindow = 1024;
    static constexpr int kKeepAliveSeconds = 10;

    // workDir: where 发布.ini is and the queue's folder goes.
    explicit MqttPublisher(QString workDir);
    ~MqttPublisher() override;
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    std::optional<std::string> start() override;
    bool enabled() const override { return c_ != nullptr; }
    void row(const PublishedRow& r) override;
    void reading(int channel, double value, const std::string& time) override;
    void portState(const std::string& name, const std::string& state) override;
    std::string stateText() override;
    std::optional<std::string> takeNotice() override;

    // Takes the broker's acknowledgements and hands queued rows to libmosquitto; the
    // timer calls it.
    void pump();
    // Stops: "offline" published when connected, then disconnected.
    void stop();

    std::uint64_t queued() const { return outbox_ ? outbox_->queued() : 0; }
    bool connected() const { return c_ && c_->connected; }

private:
    enum class State { Connecting, Connected, Waiting, Refused };
    // What the connection's thread shares with the GUI thread. Owned by both: the
    // program may end while a connect still waits on an unreachable host.
    struct Connection {
        mosquitto* client = nullptr;
        std::string host, rig;
        int port = 0;
        std::mutex mutex;
        std::condition_variable wake;
        std::vector<int> acks;  // message ids the broker acknowledged
        State state = State::Connecting;
        std::string why;
        std::string lastError;  // the library's last error or warning, for a failed TLS handshake
        std::string portName, portState = "closed";
        std::atomic<bool> connected{false};
        std::atomic<bool> stopping{false};
        std::atomic<bool> finished{false};
        // The thread and stop() each count one on leaving; the second frees the client.
        std::atomic<int> leaving{0};

        void setState(State s, std::string w);
        // The rig's state, retained; mid: the message's id, to wait for.
        void publishStatus(bool online, int* mid = nullptr);
    };
    static void run(const std::shared_ptr<Connection>& c);
    static void onConnect(mosquitto* m, void* self, int rc);
    static void onDisconnect(mosquitto* m, void* self, int rc);
    static void onPublish(mosquitto* m, void* self, int mid);
    static void onLog(mosquitto* m, void* self, int level, const char* text);
    std::string iso(const std::string& time);

    QString workDir_;
    publish::Settings settings_;
    std::unique_ptr<Outbox> outbox_;
    std::shared_ptr<Connection> c_;  // while publishing
    QTimer timer_;
    std::thread thread_;

    // The GUI thread's own.
    std::map<int, std::uint64_t> inFlight_;  // message id → the row's number in the Outbox
    std::uint64_t droppedSaid_ = 0;
    bool appendFailed_ = false;
    std::optional<std::string> notice_;
    std::string portName_, portState_ = "closed";  // as last told, for the next start
    std::string offsetMinute_;  // the minute utcOffset_ was looked up for
    int utcOffset_ = 0;
};

}  // namespace keldrin
