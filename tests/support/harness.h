#pragma once
// Fakes of every service on a virtual clock, and the whole program model wired on
// them: a test of a 1.1 s command advances virtual time and never sleeps.
#include <QTemporaryDir>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/disk_files.h"
#include "platform/gbk.h"
#include "core/services.h"
#include "program/program.h"

namespace keldrin::test {

class VirtualTime : public Pauser {
public:
    explicit VirtualTime(Dispatcher& d) : dispatcher_(d) {}
    std::int64_t now() const { return now_; }
    // Lets ms pass, delivering every tick and scheduled event in time order.
    void advance(std::int64_t ms) { advanceTo(now_ + ms); }
    void advanceTo(std::int64_t t);
    void waitFor(int ms) override { advanceTo(now_ + ms); }

    // Drives a model timer: ticks every interval from the last (re)start.
    void watch(Timer& t);
    // Runs fn at virtual time t (>= now) as the platform would, outside any handler:
    // fn should post or deliver events, not act as a handler itself.
    void at(std::int64_t t, std::function<void()> fn);
    std::int64_t nextDue(const Timer& t) const;

private:
    struct Watched {
        Timer* timer;
        std::int64_t due;  // -1: stopped
    };
    struct Scheduled {
        std::int64_t time;
        std::uint64_t seq;
        std::function<void()> fn;
    };
    Dispatcher& dispatcher_;
    std::int64_t now_ = 0;
    std::uint64_t seq_ = 0;
    std::vector<Watched> timers_;
    std::vector<Scheduled> scheduled_;
};

struct SentBlock {
    std::int64_t time;
    std::vector<std::uint8_t> bytes;
    int baud;
};

struct PortEvent {
    std::int64_t time;
    std::string what;  // "open ok", "open fail", "close", "baud N", "port N"
};

class FakeSerialPort : public SerialPort {
public:
    explicit FakeSerialPort(VirtualTime& t) : time_(t) {}
    std::set<int> devices{3};  // ports that exist
    std::set<int> held;        // ports another program holds
    std::vector<SentBlock> sent;
    std::vector<PortEvent> events;
    std::function<void(std::span<const std::uint8_t>)> peer;  // sees every sent block

    void setPortNumber(int n) override;
    int portNumber() const override { return number_; }
    void setBaudRate(int baud) override;
    int baudRate() const override { return baud_; }
    bool open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    void send(std::span<const std::uint8_t> bytes) override;
    bool canOpen(int n) override;

    // The device of port n goes away: an open port on it is closed and reported lost,
    // as the real service does; plug brings it back.
    void unplug(int n);
    void plug(int n) { devices.insert(n); }
    // Bytes from the receiver box (dropped while the port is closed).
    void receive(std::vector<std::uint8_t> bytes);
    // The same, arriving at virtual time t.
    void receiveAt(std::int64_t t, std::vector<std::uint8_t> bytes);
    std::vector<std::uint8_t> allSent() const;

private:
    VirtualTime& time_;
    int number_ = 3;
    int baud_ = 9600;
    bool open_ = false;
};

struct ShownBox {
    std::int64_t time;
    std::string text;
    Buttons buttons;
    Icon icon;
    std::string title;
};

class FakeMessageBoxes : public MessageBoxes {
public:
    explicit FakeMessageBoxes(VirtualTime& t) : time_(t) {}
    std::vector<ShownBox> shown;
    std::deque<Answer> answers;           // default Ok
    std::function<void()> whileOpen;      // runs as if the operator took time to answer
    Answer show(const std::string& text, Buttons b, Icon i, const std::string& title) override;

private:
    VirtualTime& time_;
};

struct DialogRequest {
    DialogMode mode;
    std::string filter;
};

class FakeFileDialog : public FileDialog {
public:
    std::vector<DialogRequest> requests;
    std::deque<std::optional<std::string>> answers;  // default: cancelled
    std::optional<std::string> choose(DialogMode mode, const std::string& filter) override;
};

class FakeClock : public Clock {
public:
    explicit FakeClock(VirtualTime& t) : time_(t) {}
    std::int64_t epochMs = 1796724000000;  // 2026-12-08 10:00:00 UTC
    std::string nowText() override;
    std::int64_t elapsedMs() override { return time_.now(); }

private:
    VirtualTime& time_;
};

class FakeBeeper : public Beeper {
public:
    explicit FakeBeeper(VirtualTime& t) : time_(t) {}
    std::vector<std::int64_t> beeps;
    void beep() override { beeps.push_back(time_.now()); }

private:
    VirtualTime& time_;
};

class FakeScreen : public Screen {
public:
    int w = 1920, h = 1080;
    int width() const override { return w; }
    int height() const override { return h; }
};

class FakeDialogs : public Dialogs {
public:
    std::function<void(PortWin&)> script;  // what the operator does while it is open
    int shownCount = 0;
    std::vector<std::string> lastItems;
    void showPortWin(PortWin& d) override;
    int trendShown = 0;
    void showTrend() override { ++trendShown; }
    int publishSettingsShown = 0;
    void showPublishSettings() override { ++publishSettingsShown; }
};

// Work posted for later runs at the current virtual time, after what is already due.
class FakeLater : public Later {
public:
    FakeLater(VirtualTime& t, Dispatcher& d) : time_(t), dispatcher_(d) {}
    std::size_t posted = 0;
    void post(std::function<void()> work) override {
        ++posted;
        time_.at(time_.now(), [this, w = std::move(work)]() mutable { dispatcher_.post(std::move(w)); });
    }

private:
    VirtualTime& time_;
    Dispatcher& dispatcher_;
};

// The program on fakes. Construct, put settings files in place, then start().
// Publishing as the handlers see it: what they handed over, in order. The real
// publisher is tested against a real broker.
class FakePublisher : public Publisher {
public:
    bool on = false;
    std::optional<std::string> problem;
    std::vector<PublishedRow> rows;
    std::vector<std::tuple<int, double, std::string>> readings;
    std::vector<std::pair<std::string, std::string>> portStates;
    std::optional<std::string> start() override { return problem; }
    bool enabled() const override { return on; }
    void row(const PublishedRow& r) override { rows.push_back(r); }
    void reading(int channel, double value, const std::string& time) override { readings.emplace_back(channel, value, time); }
    void portState(const std::string& name, const std::string& state) override { portStates.emplace_back(name, state); }
    std::string stateText() override { return "发布：已连接"; }
    std::optional<std::string> notice;
    std::optional<std::string> takeNotice() override { return std::exchange(notice, std::nullopt); }
};

class Harness {
public:
    Harness();
    ~Harness();
    // Runs the start-up sequence, and the work it left for later (a rescue).
    void start();
    // Starts connected: the receiver box on COM3 (present by default) at 9600 baud.
    void startConnected();

    void click(Button& b) { dispatcher.post([&b] { if (b.clicked) b.clicked(); }); }
    void type(EditBox& e, const std::string& text);
    void choose(ComboBox& c, int index);
    void chooseMenu(const std::string& item);
    void advance(std::int64_t ms) { time.advance(ms); }

    void writeFile(const std::string& name, const std::string& bytes);
    std::optional<std::string> readFile(const std::string& name);
    std::string path(const std::string& name) const { return files.path(name); }

    Dispatcher dispatcher;
    VirtualTime time{dispatcher};
    FakeSerialPort port{time};
    FakeMessageBoxes boxes{time};
    FakeFileDialog fileDialog;
    FakeClock clock{time};
    FakeBeeper beeper{time};
    FakeScreen screen;
    QTemporaryDir dir;
    DiskFiles files{dir.path().toStdString()};
    SystemGbk gbk;
    FakeDialogs dialogs;
    FakeLater later{time, dispatcher};
    FakePublisher publisher;
    Services services{port, boxes, fileDialog, clock, beeper, screen, files, gbk, dialogs, dispatcher, later, publisher};
    Program program{services};
    Globals& g = program.g;
    MainWin& w = program.w;
    App& app = program.app;
};

// Probes that answer every poll request after radioDelayMs, unless silenced: probe a
// reads a thousandths plus its count of answers, so that no two readings are alike and
// a value repeated in a record is a frozen one. Installs itself as h.port.peer.
class AnsweringProbes {
public:
    explicit AnsweringProbes(Harness& h, std::int64_t radioDelayMs = 20);
    std::set<int> silent;  // addresses that answer nothing
    std::int64_t answers = 0;

private:
    Harness& h_;
    std::int64_t delayMs_;
};

}  // namespace keldrin::test
