#include "platform/mqtt_publisher.h"

#include <QDateTime>
#include <QDir>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mosquitto.h>

#include "common/file_names.h"
#include "common/messages.h"
#include "platform/publish_settings_file.h"
#include "platform/qstring_utf8.h"
#include "publish/messages.h"

namespace keldrin {

namespace {

std::once_flag libraryReady;

std::string reasonOf(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::string(mosquitto_strerror(rc)) + "：" + std::strerror(errno);
    return mosquitto_strerror(rc);
}

}  // namespace

MqttPublisher::MqttPublisher(QString workDir) : workDir_(std::move(workDir)) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { pump(); });
}

MqttPublisher::~MqttPublisher() { stop(); }

std::optional<std::string> MqttPublisher::start() {
    if (c_) return std::nullopt;
    std::optional<std::string> problem;
    settings_ = readPublishSettings(workDir_ + QLatin1Char('/') + q(kPublishSettingsFile), problem);
    if (problem || !settings_.enabled) return problem;

    auto outbox = std::make_unique<Outbox>(workDir_ + QLatin1Char('/') + q(kOutboxFolder));
    std::string why;
    if (!outbox->open(&why)) return msg::publishQueueUnusable(why);

    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    auto c = std::make_shared<Connection>();
    c->host = settings_.host;
    c->port = settings_.port;
    c->rig = settings_.rig;
    c->portName = portName_;
    c->portState = portState_;
    const std::string id = "keldrin-" + settings_.rig;
    mosquitto* m = mosquitto_new(id.c_str(), true, c.get());
    if (!m) return std::string(msg::kPublishNoClient);
    mosquitto_threaded_set(m, true);
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(m, kWindow);
    mosquitto_reconnect_delay_set(m, 1, 30, true);
    mosquitto_connect_callback_set(m, &MqttPublisher::onConnect);
    mosquitto_disconnect_callback_set(m, &MqttPublisher::onDisconnect);
    mosquitto_publish_callback_set(m, &MqttPublisher::onPublish);
    mosquitto_log_callback_set(m, &MqttPublisher::onLog);
    const std::string will = publish::statusPayload(false, portName_, portState_);
    int rc = mosquitto_will_set(m, publish::statusTopic(settings_.rig).c_str(), static_cast<int>(will.size()),
                                will.data(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !settings_.user.empty()) {
        rc = mosquitto_username_pw_set(m, settings_.user.c_str(), settings_.password.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && settings_.tls) {
        rc = mosquitto_tls_set(m, settings_.ca.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(m);
        return msg::publishClientRefused(reasonOf(rc));
    }
    c->client = m;
    c_ = c;
    outbox_ = std::move(outbox);
    thread_ = std::thread([c] { run(c); });
    timer_.start(kBatchMs);
    return std::nullopt;
}

void MqttPublisher::run(const std::shared_ptr<Connection>& c) {
    int delay = 1;
    while (!c->stopping) {
        // Name lookup and connect wait here, on this thread, never on the window's; the
        // connect itself completes in the loop, so a black-holed port keeps stop() short.
        int rc = mosquitto_connect_async(c->client, c->host.c_str(), c->port, kKeepAliveSeconds);
        if (rc == MOSQ_ERR_SUCCESS) {
            // Reconnects by itself until a fatal error or stop().
            rc = mosquitto_loop_forever(c->client, 1000, 1);
        }
        c->connected = false;
        if (c->stopping) break;
        {
            std::unique_lock lock(c->mutex);
            if (c->state != State::Refused) {
                c->state = State::Waiting;
                c->why = rc == MOSQ_ERR_TLS && !c->lastError.empty() ? c->lastError : reasonOf(rc);
            }
            c->wake.wait_for(lock, std::chrono::seconds(delay), [&] { return c->stopping.load(); });
        }
        delay = std::min(delay * 2, 30);
    }
    c->finished = true;
    if (c->leaving.fetch_add(1) == 1) mosquitto_destroy(c->client);
}

void MqttPublisher::Connection::setState(State s, std::string w) {
    std::lock_guard lock(mutex);
    state = s;
    why = std::move(w);
}

void MqttPublisher::Connection::publishStatus(bool online, int* mid) {
    std::string payload;
    {
        std::lock_guard lock(mutex);
        payload = publish::statusPayload(online, portName, portState);
    }
    mosquitto_publish(client, mid, publish::statusTopic(rig).c_str(), static_cast<int>(payload.size()),
                      payload.data(), 1, true);
}

void MqttPublisher::onConnect(mosquitto*, void* self, int rc) {
    auto* c = static_cast<Connection*>(self);
    if (rc != 0) {
        c->setState(State::Refused, mosquitto_connack_string(rc));
        return;
    }
    c->connected = true;
    c->setState(State::Connected, "");
    c->publishStatus(true);
}

void MqttPublisher::onDisconnect(mosquitto*, void* self, int rc) {
    auto* c = static_cast<Connection*>(self);
    c->connected = false;
    if (c->stopping) return;
    std::lock_guard lock(c->mutex);
    if (c->state == State::Refused) return;
    c->state = State::Waiting;
    c->why = rc == 0 ? std::string() : reasonOf(rc);
}

void MqttPublisher::onPublish(mosquitto*, void* self, int mid) {
    auto* c = static_cast<Connection*>(self);
    std::lock_guard lock(c->mutex);
    c->acks.push_back(mid);
}

void MqttPublisher::onLog(mosquitto*, void* self, int level, const char* text) {
    if (!(level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) || !text) return;
    auto* c = static_cast<Connection*>(self);
    std::lock_guard lock(c->mutex);
    c->lastError = text;
}

std::string MqttPublisher::iso(const std::string& time) {
    // The zone's offset changes on the hour at most: looked up once a minute, not for
    // every row (each lookup reads the zone file's state).
    const std::string_view minute = std::string_view(time).substr(0, 16);
    if (minute != offsetMinute_) {
        offsetMinute_ = std::string(minute);
        utcOffset_ = QDateTime::currentDateTime().offsetFromUtc();
    }
    return publish::isoTime(time, utcOffset_).value_or(time);
}

void MqttPublisher::row(const PublishedRow& r) {
    if (!c_) return;
    if (!outbox_->append(publish::rowPayload(settings_.rig, r, iso(r.time))) && !appendFailed_) {
        appendFailed_ = true;
        notice_ = std::string(msg::kPublishQueueFailed);
    }
    // Sent with the rows that follow it within kBatchMs: the connection's thread then
    // wakes once for them all, and their acknowledgements come together.
    if (!timer_.isActive()) timer_.start(kBatchMs);
}

void MqttPublisher::reading(int channel, double value, const std::string& time) {
    // At QoS 0 only while connected: nothing piles up while the broker is away.
    if (!c_ || !c_->connected) return;
    const std::string payload = publish::readingPayload(value, iso(time));
    mosquitto_publish(c_->client, nullptr, publish::channelTopic(settings_.rig, channel).c_str(),
                      static_cast<int>(payload.size()), payload.data(), 0, true);
}

void MqttPublisher::portState(const std::string& name, const std::string& state) {
    if (name == portName_ && state == portState_) return;
    portName_ = name;
    portState_ = state;
    if (!c_) return;
    {
        std::lock_guard lock(c_->mutex);
        c_->portName = name;
        c_->portState = state;
    }
    if (c_->connected) c_->publishStatus(true);
}

void MqttPublisher::pump() {
    if (!c_) return;
    std::vector<int> acks;
    {
        std::lock_guard lock(c_->mutex);
        acks.swap(c_->acks);
    }
    for (const int mid : acks) {
        const auto at = inFlight_.find(mid);
        if (at == inFlight_.end()) continue;  // the state, or a row of a dropped segment
        outbox_->acknowledge(at->second);
        inFlight_.erase(at);
    }
    // A bounded window: libmosquitto keeps what it was given until acknowledged, and
    // sends it again after a reconnect; the rest waits on disk, and while the broker is
    // away all of it does.
    const std::string topic = publish::rowsTopic(settings_.rig);
    bool more = false;
    while (c_->connected && inFlight_.size() < kWindow) {
        std::optional<Outbox::Message> m = outbox_->peek();
        if (!m) break;
        int mid = 0;
        const int rc = mosquitto_publish(c_->client, &mid, topic.c_str(), static_cast<int>(m->payload.size()),
                                         m->payload.data(), 1, false);
        // A connection lost meanwhile: libmosquitto has queued the row all the same and
        // sends it after the reconnect. Handing it over again would send it twice.
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) break;
        outbox_->take();
        inFlight_[mid] = m->seq;
        more = inFlight_.size() == kWindow;
    }
    if (outbox_->dropped() > 0 && droppedSaid_ == 0) {
        droppedSaid_ = outbox_->dropped();
        notice_ = msg::publishDropped(droppedSaid_);
    }
    // A backlog drains quickly; otherwise the rows, their acknowledgements and the broker's
    // return are looked at every kBatchMs while any wait.
    const bool waiting = !inFlight_.empty() || outbox_->queued() > 0;
    if (more) timer_.start(kDrainMs);
    else if (waiting) timer_.start(kBatchMs);
    else timer_.stop();
}

std::string MqttPublisher::stateText() {
    if (!c_) return {};
    const std::uint64_t queued = outbox_->queued();
    std::string text;
    {
        std::lock_guard lock(c_->mutex);
        switch (c_->state) {
            case State::Connected: text = msg::publishConnected(queued); break;
            case State::Refused: text = msg::publishRefused(c_->why); break;
            case State::Connecting:
            case State::Waiting: text = msg::publishWaiting(queued, c_->why); break;
        }
    }
    if (outbox_->dropped() > 0) text += msg::publishDroppedSoFar(outbox_->dropped());
    return text;
}

std::optional<std::string> MqttPublisher::takeNotice() { return std::exchange(notice_, std::nullopt); }

void MqttPublisher::stop() {
    if (!c_) return;
    timer_.stop();
    pump();
    if (c_->connected) {
        // A clean leave sends no last will: "offline" is said here, and waited for a moment.
        int mid = 0;
        c_->publishStatus(false, &mid);
        for (int i = 0; i < 20 && c_->connected; ++i) {
            {
                std::lock_guard lock(c_->mutex);
                if (std::find(c_->acks.begin(), c_->acks.end(), mid) != c_->acks.end()) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    pump();  // the last acknowledgements, into the queue's file
    c_->stopping = true;
    mosquitto_disconnect(c_->client);
    c_->wake.notify_all();
    // A name lookup that hangs may take long to give up: the program does not wait
    // for it at its end, and the thread cleans up after itself.
    for (int i = 0; i < 40 && !c_->finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (c_->finished) {
        thread_.join();
    } else {
        thread_.detach();
    }
    if (c_->leaving.fetch_add(1) == 1) mosquitto_destroy(c_->client);
    c_.reset();
    outbox_.reset();
    inFlight_.clear();
}

}  // namespace keldrin
