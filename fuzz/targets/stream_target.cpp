// The byte stream fuzzed against a model of what the program must do with it.
//
// Every byte the decoder is handed is checked on the spot: appended to the window, or
// completing a frame whose effect (the readings of the matching rows, the receiver's
// parameters, the pause after a void window) is worked out here independently. The
// bytes handed over must be the bytes received, in order; the only ones that may go
// missing are those still waiting when a void window ends. After every operation the
// blocks sent are checked as whole frames: commands as the clicked button builds them,
// then poll requests to the ticked rows in rotation.
//
// Each input is kept cheap: steps of time and clicks that pause stop taking effect after
// three seconds of virtual time.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/harness.h"
#include "targets/targets.h"

namespace keldrin::fuzz {

namespace {

// A broken invariant must crash the fuzzer, also in builds without assertions.
void require(bool ok) {
    if (!ok) std::abort();
}

// Time operations and pausing clicks stop taking effect beyond this much virtual time.
constexpr std::int64_t kTimeBudgetMs = 3000;
// Far below the port's backlog limit: no byte is ever dropped for lack of room.
constexpr std::size_t kMaxReceived = 2048;

using Frame = std::vector<std::uint8_t>;

// The input as a stream of bytes; reading past its end gives zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }
    Frame take(std::size_t n) {
        Frame out;
        while (n-- > 0 && !done()) out.push_back(next());
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Texts the program itself writes into a box are plain decimal integers; an empty box
// reads as 0. Anything else is not expected here.
std::optional<std::int64_t> plainInt(const std::string& s) {
    if (s.empty()) return 0;
    std::size_t i = s[0] == '-' ? 1 : 0;
    if (i == s.size() || s.size() > 12) return std::nullopt;
    std::int64_t v = 0;
    for (std::size_t k = i; k < s.size(); ++k) {
        if (s[k] < '0' || s[k] > '9') return std::nullopt;
        v = v * 10 + (s[k] - '0');
    }
    return i ? -v : v;
}

std::int64_t mustBeInt(const std::string& s) {
    std::optional<std::int64_t> v = plainInt(s);
    require(v.has_value());
    return *v;
}

std::string hexEcho(std::uint8_t b) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string s;
    if (b >= 0x10) s.push_back(kHex[b >> 4]);
    s.push_back(kHex[b & 0x0F]);
    s.push_back(' ');
    return s;
}

std::uint16_t modbusCrc(const std::uint8_t* p, std::size_t n) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

std::uint8_t hi(std::int64_t v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }
std::uint8_t lo(std::int64_t v) { return static_cast<std::uint8_t>(v & 0xFF); }

float reading(std::uint8_t sign, std::uint8_t high, std::uint8_t low) {
    const int m = high * 256 + low;
    double v = m / 1000.0;
    if (sign == 0x01) v = -m / 1000.0;
    if (sign == 0xFF) v = -(65536 - m) / 1000.0;
    return static_cast<float>(v);
}

struct Row {
    std::int64_t address = 0;
    std::int64_t channel = 0;
    bool ticked = false;
};

struct Baud {
    int code;
    const char* text;
    int baud;
};
constexpr Baud kBauds[] = {{6, "9600", 9600}, {8, "19200", 19200}, {10, "38400", 38400}, {14, "115200", 115200}};
struct Air {
    int code;
    const char* text;
};
constexpr Air kAirs[] = {{5, "低"}, {6, "中"}, {7, "高"}};

enum class Click { None, Read, Write, Bind, Zero, Start };

class Model {
public:
    explicit Model(test::Harness& h) : h_(h), w_(h.w), g_(h.g) {
        // Handed every received byte in place of the wired handler, to look before and after.
        h_.port.connectBytes(h_.dispatcher, [this](int b) { byte(static_cast<std::uint8_t>(b)); });
    }

    void start() {
        h_.startConnected();
        h_.choose(w_.组合框3, 0);  // record at 0.1 s while acquiring
        for (int i = 1; i <= 8; ++i) {
            rows_[i] = {mustBeInt(w_.地址(i).text()), mustBeInt(w_.信道(i).text()), w_.选择框(i).checked()};
        }
        values_ = g_.channelValues;
        awaiting_ = g_.awaitingParameterReply;
        start_ = h_.time.now();
        sentSeen_ = h_.port.sent.size();
        settle();
    }

    void run(Input& in) {
        while (!in.done() && received_.size() < kMaxReceived) {
            step(in);
            settle();
        }
    }

private:
    bool timeLeft() const { return h_.time.now() - start_ < kTimeBudgetMs; }

    // Bytes arriving from the receiver box now; dropped by a closed port.
    void receive(const Frame& bytes) {
        if (bytes.empty()) return;
        if (h_.port.isOpen()) received_.insert(received_.end(), bytes.begin(), bytes.end());
        h_.port.receive(bytes);
    }

    void step(Input& in) {
        const std::uint8_t op = in.next();
        const std::uint8_t arg = in.next();
        Click click = Click::None;
        preStep();
        switch (op % 12) {
            case 0: case 1: case 2:
                receive({arg});
                break;
            case 3:
                receive(in.take(1 + arg % 12));
                break;
            case 4:
                if (timeLeft()) h_.advance(arg);
                break;
            case 5:
                click = Click::Start;
                h_.click(w_.启动);
                break;
            case 6: {
                Button* buttons[] = {&w_.按钮3, &w_.按钮4, &w_.按钮5, &w_.按钮发送};
                const Click kinds[] = {Click::Read, Click::Write, Click::Bind, Click::Zero};
                Button& b = *buttons[arg % 4];
                // Only what the operator could click: a disabled button does nothing.
                if (!b.enabled() || !timeLeft()) break;
                click = kinds[arg % 4];
                expectCommand(click);
                // A parameter command leaves a reply expected; bytes that arrive while
                // it pauses are handled only after it has returned, as part of that reply.
                if (click != Click::Zero) awaiting_ = 1;
                h_.click(b);
                break;
            }
            case 7: {
                const int row = arg % 8 + 1;
                const unsigned raw = static_cast<unsigned>(in.next()) << 8 | in.next();
                std::int64_t v = raw & 0xFF;
                if (arg & 0x10) v = raw;
                if (arg & 0x20) v = static_cast<std::int16_t>(raw);
                if (arg & 8) {
                    rows_[row].channel = v;
                    h_.type(w_.信道(row), std::to_string(v));
                } else {
                    rows_[row].address = v;
                    h_.type(w_.地址(row), std::to_string(v));
                }
                break;
            }
            case 8: {
                Frame reply = {0xC1, 0x00, 0x06, arg};
                Frame rest = in.take(5);
                reply.insert(reply.end(), rest.begin(), rest.end());
                receive(reply);
                break;
            }
            case 9: {
                const int row = arg % 8 + 1;
                rows_[row].ticked = (arg & 0x80) != 0;
                w_.选择框(row).setChecked(rows_[row].ticked);
                break;
            }
            case 10: {
                // A reading addressed to one row, as the probe would send it.
                const Row& r = rows_[arg % 8 + 1];
                const std::uint8_t signs[] = {0x00, 0x01, 0xFF, in.next()};
                const std::uint8_t sign = signs[(arg >> 3) & 3];
                const std::uint8_t high = in.next();
                const std::uint8_t low = in.next();
                receive({hi(r.address), lo(r.address), lo(r.channel), 0x06, static_cast<std::uint8_t>(arg >> 5), sign,
                         high, low, 0, 0, 0, 0});
                break;
            }
            case 11: {
                // Bytes that arrive later, possibly while a handler pauses.
                const std::int64_t at = h_.time.now() + arg;
                Frame bytes = in.take(1 + in.next() % 12);
                h_.time.at(at, [this, bytes] {
                    ++arrivals_;
                    receive(bytes);
                });
                break;
            }
        }
        postStep(click);
    }

    // ---- Per byte: what the decoder must make of it. --------------------------------

    void byte(std::uint8_t b) {
        // It was received, and nothing before it was skipped but what a discard allowed.
        std::vector<std::size_t> next;
        for (std::size_t p : positions_) {
            if (p < received_.size() && received_[p] == b && std::find(next.begin(), next.end(), p + 1) == next.end()) {
                next.push_back(p + 1);
            }
        }
        require(!next.empty());
        positions_ = std::move(next);

        const std::vector<std::int32_t> before = g_.receiveBuffer;
        const int awaiting = g_.awaitingParameterReply;
        const std::int64_t frames = g_.receivedFrameCount;
        const std::int64_t t0 = h_.time.now();
        const std::size_t echoSize = w_.编辑框接收.text().size();
        const std::size_t window = awaiting ? 9 : 12;
        require(awaiting == awaiting_);
        require(before.size() < window);
        const bool completes = before.size() + 1 == window;
        std::array<std::string, 7> boxes;
        if (completes && awaiting) {
            for (int i = 1; i <= 6; ++i) boxes[static_cast<std::size_t>(i)] = box(i).text();
        }
        const int baud = h_.port.baudRate();

        端口1_byteReceived(h_.app, b);

        std::vector<std::int32_t> all = before;
        all.push_back(b);
        std::string appended = hexEcho(b);
        if (!completes) {
            require(g_.receiveBuffer == all);
            require(g_.receivedFrameCount == frames && g_.awaitingParameterReply == awaiting);
            require(h_.time.now() == t0);
        } else {
            appended += "\r\n";
            require(g_.receivedFrameCount == frames + 1);
            require(g_.receiveBuffer.empty());
            require(g_.awaitingParameterReply == 0);
            awaiting_ = 0;
            if (awaiting) {
                parameterReply(all, boxes, baud, t0);
            } else {
                measurement(all, t0);
            }
        }
        require(g_.channelValues == values_);
        // The echo grows by the byte in hex, and a line break after a frame; old lines
        // are dropped from the front only past the box's limit.
        const std::string& echo = w_.编辑框接收.text();
        const std::size_t limit = w_.编辑框接收.textLimit();
        require(echo.size() >= appended.size() &&
                echo.compare(echo.size() - appended.size(), appended.size(), appended) == 0);
        if (limit == 0 || echoSize + appended.size() <= limit) {
            require(echo.size() == echoSize + appended.size());
        } else {
            require(echo.size() <= limit);
        }
    }

    void measurement(const std::vector<std::int32_t>& f, std::int64_t t0) {
        if (f[3] != 0x06) {
            // A void window: the program waits out the burst; what arrived meanwhile may go.
            require(h_.time.now() == t0 + 100);
            positions_.push_back(received_.size());
            return;
        }
        require(h_.time.now() == t0);
        const std::int64_t address = f[0] * 256 + f[1];
        const float v = reading(static_cast<std::uint8_t>(f[5]), static_cast<std::uint8_t>(f[6]),
                                static_cast<std::uint8_t>(f[7]));
        bool matched = false;
        for (int i = 1; i <= 8; ++i) {
            if (rows_[i].address != address || rows_[i].channel != f[2]) continue;
            values_[static_cast<std::size_t>(i)] = v;
            matched = true;
        }
        if (matched) require(g_.silenceTicks == 0);
    }

    void parameterReply(const std::vector<std::int32_t>& f, const std::array<std::string, 7>& boxes, int baud,
                        std::int64_t t0) {
        if (f[0] != 0xC1 || f[1] != 0x00 || f[2] != 0x06) {
            require(h_.time.now() == t0);
            for (int i = 1; i <= 6; ++i) require(box(i).text() == boxes[static_cast<std::size_t>(i)]);
            return;
        }
        // The port is reopened: three pauses of 100 ms.
        require(h_.time.now() == t0 + 300);
        require(w_.编辑框1.text() == std::to_string(f[3] * 256 + f[4]));
        require(w_.编辑框2.text() == std::to_string(f[7]));
        require(w_.编辑框5.text() == w_.编辑框1.text() && w_.编辑框6.text() == w_.编辑框2.text());
        std::string baudText = boxes[3];
        for (const Baud& b : kBauds) {
            if (b.code == f[5] >> 4) {
                baudText = b.text;
                baud = b.baud;
            }
        }
        require(w_.编辑框3.text() == baudText && h_.port.baudRate() == baud);
        require(h_.port.isOpen() == (baud > 0));
        std::string airText = boxes[4];
        for (const Air& a : kAirs) {
            if (a.code == (f[5] & 0x0F)) airText = a.text;
        }
        require(w_.编辑框4.text() == airText);
        require(w_.按钮4.enabled() && w_.按钮5.enabled());
        if (!h_.port.isOpen()) portWasLost_ = true;
    }

    EditBox& box(int i) {
        EditBox* b[] = {nullptr, &w_.编辑框1, &w_.编辑框2, &w_.编辑框3, &w_.编辑框4, &w_.编辑框5, &w_.编辑框6};
        return *b[i];
    }

    // ---- Per operation: the frames sent. ---------------------------------------------

    void preStep() {
        arrivals_ = 0;
        portWasLost_ = false;
        commands_.clear();
        sentFrames0_ = g_.sentFrameCount;
        nextPoll0_ = g_.nextPollChannel;
        portOpen0_ = h_.port.isOpen();
    }

    // The command frames a click must send, worked out from what the boxes show now.
    void expectCommand(Click click) {
        const std::int64_t portBaud = h_.port.baudRate();
        const bool open = h_.port.isOpen();
        auto add = [this](Frame f, int baud) { commands_.push_back({std::move(f), baud}); };
        switch (click) {
            case Click::Read:
                add({0xC1, 0x00, 0x06}, 9600);
                break;
            case Click::Write: {
                const std::int64_t address = mustBeInt(w_.编辑框5.text());
                std::int64_t channel = mustBeInt(w_.编辑框6.text()) & 0xFF;
                if (channel > 50) channel = 50;
                const int mode = w_.组合框1.selectedValue() + w_.组合框2.selectedValue();
                require(address >= 0 && address <= 65535);
                add({0xC0, 0x00, 0x06, hi(address), lo(address), lo(mode), 0x00, lo(channel), 0x40}, 9600);
                break;
            }
            case Click::Bind: {
                add({0xC1, 0x00, 0x06}, 9600);
                const std::int64_t baud = mustBeInt(w_.编辑框3.text());
                if (baud <= 0) break;  // the port does not reopen: nothing goes out
                const std::int64_t receiver = mustBeInt(w_.编辑框1.text());
                const std::int64_t channel = mustBeInt(w_.编辑框2.text());
                for (int i = 1; i <= 8; ++i) {
                    if (!rows_[i].ticked) continue;
                    Frame f = {hi(rows_[i].address), lo(rows_[i].address), lo(rows_[i].channel), 0x10, 0x30, 0x39, 0x00,
                               0x02, 0x04, hi(receiver), lo(receiver), 0x00, lo(channel)};
                    const std::uint16_t crc = modbusCrc(f.data() + 3, 10);
                    f.push_back(lo(crc));
                    f.push_back(hi(crc));
                    add(std::move(f), static_cast<int>(baud));
                }
                break;
            }
            case Click::Zero:
                if (!open) break;
                for (int i = 1; i <= 8; ++i) {
                    if (!rows_[i].ticked) continue;
                    add({hi(rows_[i].address), lo(rows_[i].address), lo(rows_[i].channel), 0x06, 0, 0, 0, 0, 0xAC, 0x00},
                        static_cast<int>(portBaud));
                }
                break;
            default:
                break;
        }
    }

    int nextTicked(int from) const {
        for (int c = from; c <= 8; ++c) {
            if (rows_[c].ticked) return c;
        }
        for (int c = 1; c <= 8; ++c) {
            if (rows_[c].ticked) return c;
        }
        return 0;
    }

    Frame pollFrame(int c) const {
        return {hi(rows_[c].address), lo(rows_[c].address), lo(rows_[c].channel), 0x03, 0x00, 0x00, 0x00, 0x03, 0x20, 0x01};
    }

    void postStep(Click click) {
        require(g_.awaitingParameterReply == awaiting_);
        const bool command = click == Click::Read || click == Click::Write || click == Click::Bind;
        if (command && arrivals_ == 0) require(g_.receiveBuffer.empty());
        if (click == Click::Start) require(g_.receiveBuffer.empty() && g_.silenceTicks == 0);

        const std::vector<test::SentBlock>& sent = h_.port.sent;
        std::size_t i = sentSeen_;
        for (const auto& [frame, baud] : commands_) {
            require(i < sent.size() && sent[i].bytes == frame && sent[i].baud == baud);
            ++i;
        }
        // Then only poll requests, one per poll tick while acquiring, to the ticked rows
        // in turn from where the rotation stood.
        const std::int64_t polls = g_.sentFrameCount - sentFrames0_;
        const bool acquiring = w_.启动.text() == "停止";
        require(polls >= 0 && (acquiring || polls == 0));
        const bool whole = portOpen0_ && h_.port.isOpen() && !portWasLost_;
        int next = nextPoll0_ > 8 ? 1 : std::max(nextPoll0_, 1);
        std::int64_t counted = 0;
        for (; i < sent.size(); ++i) {
            int c = nextTicked(next);
            require(c != 0);
            if (whole) {
                require(sent[i].bytes == pollFrame(c));
                next = c == 8 ? 1 : c + 1;
            } else {
                bool any = false;
                for (int r = 1; r <= 8; ++r) any = any || (rows_[r].ticked && sent[i].bytes == pollFrame(r));
                require(any);
            }
            ++counted;
        }
        require(counted <= polls);
        if (whole) {
            require(counted == polls);
            if (polls > 0) require(g_.nextPollChannel == next);
        }
        sentSeen_ = sent.size();
    }

    // Between operations nothing runs: every byte received has been handed over or let go.
    void settle() {
        require(std::find(positions_.begin(), positions_.end(), received_.size()) != positions_.end());
        positions_ = {received_.size()};
        require(h_.dispatcher.queued() == 0);
        require(g_.channelValues == values_);
        require(g_.awaitingParameterReply == awaiting_);
        require(g_.receiveBuffer.size() < (awaiting_ ? 9u : 12u));
        require(w_.编辑框接收.text().size() <= w_.编辑框接收.textLimit());
        require(g_.nextPollChannel >= 0 && g_.nextPollChannel <= 8);
        for (int i = 1; i <= 8; ++i) require(w_.选择框(i).checked() == rows_[i].ticked);
    }

    test::Harness& h_;
    MainWin& w_;
    Globals& g_;
    std::array<Row, 9> rows_{};
    std::array<float, 9> values_{};
    int awaiting_ = 0;
    std::int64_t start_ = 0;

    Frame received_;                          // every byte the open port took in
    std::vector<std::size_t> positions_{0};   // where in received_ the decoder may stand
    std::size_t sentSeen_ = 0;
    std::vector<std::pair<Frame, int>> commands_;
    int arrivals_ = 0;
    bool portWasLost_ = false;
    std::int64_t sentFrames0_ = 0;
    int nextPoll0_ = 0;
    bool portOpen0_ = false;
};

}  // namespace

void streamOne(const std::uint8_t* data, std::size_t size) {
    test::Harness h;
    Model model(h);
    model.start();
    Input in(data, size);
    model.run(in);
}

}  // namespace keldrin::fuzz
