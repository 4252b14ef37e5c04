#include "support/harness.h"

#include <QDateTime>
#include <algorithm>

#include "common/texts.h"
#include "protocol/frames.h"
#include <limits>

namespace keldrin::test {

void VirtualTime::watch(Timer& t) {
    timers_.push_back({&t, t.interval() > 0 ? now_ + t.interval() : -1});
    t.intervalChanged = [this](Timer& changed) {
        for (Watched& w : timers_) {
            if (w.timer == &changed) w.due = changed.interval() > 0 ? now_ + changed.interval() : -1;
        }
    };
}

std::int64_t VirtualTime::nextDue(const Timer& t) const {
    for (const Watched& w : timers_) {
        if (w.timer == &t) return w.due;
    }
    return -1;
}

void VirtualTime::at(std::int64_t t, std::function<void()> fn) {
    scheduled_.push_back({std::max(t, now_), seq_++, std::move(fn)});
}

void VirtualTime::advanceTo(std::int64_t target) {
    for (;;) {
        std::int64_t best = std::numeric_limits<std::int64_t>::max();
        Watched* timer = nullptr;
        std::size_t eventIndex = scheduled_.size();
        // Scheduled events first at equal times, then timers in creation order.
        for (std::size_t i = 0; i < scheduled_.size(); ++i) {
            const Scheduled& s = scheduled_[i];
            if (s.time < best || (s.time == best && eventIndex < scheduled_.size() &&
                                  s.seq < scheduled_[eventIndex].seq)) {
                best = s.time;
                eventIndex = i;
            }
        }
        for (Watched& w : timers_) {
            if (w.due >= 0 && w.due < best) {
                best = w.due;
                timer = &w;
                eventIndex = scheduled_.size();
            }
        }
        if (best > target || best == std::numeric_limits<std::int64_t>::max()) break;
        now_ = std::max(now_, best);
        if (timer) {
            timer->due += timer->timer->interval();
            Timer* t = timer->timer;
            dispatcher_.postOnce(t, [t] { if (t->tick) t->tick(); });
        } else {
            std::function<void()> fn = std::move(scheduled_[eventIndex].fn);
            scheduled_.erase(scheduled_.begin() + static_cast<std::ptrdiff_t>(eventIndex));
            fn();  // the platform's own doing, e.g. bytes arriving: it posts what it delivers
        }
    }
    now_ = std::max(now_, target);
}

void FakeSerialPort::setPortNumber(int n) {
    number_ = n;
    events.push_back({time_.now(), "port " + std::to_string(n)});
}

void FakeSerialPort::setBaudRate(int baud) {
    baud_ = baud;
    events.push_back({time_.now(), "baud " + std::to_string(baud)});
}

bool FakeSerialPort::open() {
    open_ = baud_ > 0 && devices.count(number_) && !held.count(number_);
    events.push_back({time_.now(), open_ ? "open ok" : "open fail"});
    return open_;
}

void FakeSerialPort::close() {
    open_ = false;
    events.push_back({time_.now(), "close"});
}

void FakeSerialPort::send(std::span<const std::uint8_t> bytes) {
    if (!open_) return;
    sent.push_back({time_.now(), {bytes.begin(), bytes.end()}, baud_});
    if (peer) peer(bytes);
}

bool FakeSerialPort::canOpen(int n) {
    if (open_ && n == number_) return true;
    return devices.count(n) && !held.count(n);
}

void FakeSerialPort::unplug(int n) {
    devices.erase(n);
    if (!open_ || number_ != n) return;
    open_ = false;
    events.push_back({time_.now(), "lost"});
    reportLost();
}

void FakeSerialPort::receive(std::vector<std::uint8_t> bytes) {
    if (open_) deliver(bytes);
}

void FakeSerialPort::receiveAt(std::int64_t t, std::vector<std::uint8_t> bytes) {
    time_.at(t, [this, b = std::move(bytes)] { receive(b); });
}

std::vector<std::uint8_t> FakeSerialPort::allSent() const {
    std::vector<std::uint8_t> all;
    for (const SentBlock& s : sent) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
    return all;
}

Answer FakeMessageBoxes::show(const std::string& text, Buttons b, Icon i, const std::string& title) {
    shown.push_back({time_.now(), text, b, i, title});
    if (whileOpen) whileOpen();
    if (answers.empty()) return Answer::Ok;
    Answer a = answers.front();
    answers.pop_front();
    return a;
}

std::optional<std::string> FakeFileDialog::choose(DialogMode mode, const std::string& filter) {
    requests.push_back({mode, filter});
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> a = answers.front();
    answers.pop_front();
    return a;
}

std::string FakeClock::nowText() {
    return QDateTime::fromMSecsSinceEpoch(epochMs + time_.now(), Qt::UTC)
        .toString(QString::fromLatin1(kDateTimeFormat))
        .toStdString();
}

void FakeDialogs::showPortWin(PortWin& d) {
    ++shownCount;
    lastItems.clear();
    for (const ComboItem& item : d.组合框1.items()) lastItems.push_back(item.text);
    if (script) script(d);
}

Harness::Harness() {
    dispatcher.setPauser(&time);
    for (Timer* t : w.timers()) time.watch(*t);
}

Harness::~Harness() {
    for (Timer* t : w.timers()) t->intervalChanged = nullptr;
}

void Harness::start() {
    program.start();
    time.advance(0);
}

void Harness::startConnected() {
    writeFile("端口号.txt", "3");
    writeFile("波特率.txt", "9600");
    start();
}

void Harness::type(EditBox& e, const std::string& text) {
    dispatcher.post([&e, text] {
        e.userSetText(text);
        if (e.textChanged) e.textChanged();
    });
}

void Harness::choose(ComboBox& c, int index) {
    dispatcher.post([&c, index] {
        c.userSetSelectedIndex(index);
        if (c.itemChosen) c.itemChosen();
    });
}

void Harness::chooseMenu(const std::string& item) {
    MenuItem* m = w.menuItem(item);
    dispatcher.post([m] { if (m && m->chosen) m->chosen(); });
}

void Harness::writeFile(const std::string& name, const std::string& bytes) { files.writeAll(name, bytes); }

std::optional<std::string> Harness::readFile(const std::string& name) { return files.readAll(name); }

AnsweringProbes::AnsweringProbes(Harness& h, std::int64_t radioDelayMs) : h_(h), delayMs_(radioDelayMs) {
    h.port.peer = [this](std::span<const std::uint8_t> bytes) {
        if (bytes.size() != kPollLength || bytes[3] != 0x03) return;
        const int address = bytes[0] << 8 | bytes[1];
        if (silent.count(address)) return;
        const int m = (address * 1000 + static_cast<int>(++answers % 1000)) & 0xFFFF;
        h_.port.receiveAt(h_.time.now() + delayMs_,
                          {bytes[0], bytes[1], bytes[2], 0x06, 0x00, 0x00, static_cast<std::uint8_t>(m >> 8),
                           static_cast<std::uint8_t>(m & 0xFF), 0x00, 0x00, 0x00, 0x00});
    };
}

}  // namespace keldrin::test
