// keldrin-sim: a simulated receiver box on a pseudo-terminal (or a serial device),
// so the program can be run and tested without hardware.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "sim/box.h"

namespace {

using keldrin::sim::Box;
using keldrin::sim::Chunk;
using keldrin::sim::Presence;

volatile std::sig_atomic_t gStop = 0;
volatile std::sig_atomic_t gToggleSilence = 0;

void onStop(int) { gStop = 1; }
void onToggle(int) { gToggleSilence = 1; }

const char kUsage[] =
    "usage: keldrin-sim [options]\n"
    "  --dir DIR            folder for the COMn link (default: current folder)\n"
    "  --com N              link name COMn (default 3)\n"
    "  --device PATH        serve this serial device instead of a new pseudo-terminal\n"
    "  --probes N           number of probes, 0..8 (default 8; addresses 1..N, channel 28)\n"
    "  --delay-ms MS        radio delay before a probe answers (default 20)\n"
    "  --seed S             seed of the readings and faults (default 1)\n"
    "  --address A          receiver address (default 2)\n"
    "  --channel C          receiver radio channel (default 23)\n"
    "  --rate R             receiver rate byte, e.g. 0x65 (default 0x65: 9600, air rate low)\n"
    "  --no-key             the configuration key is not held: parameter commands go unanswered\n"
    "  --drop P             share of answers dropped (0..1)\n"
    "  --corrupt P          share of measurement frames with byte 3 spoilt\n"
    "  --split P            share of answers split in two writes\n"
    "  --split-delay-ms MS  pause between the two parts (default 30)\n"
    "  --stray P            share of answers preceded by stray bytes\n"
    "  --silent-after MS    answer nothing from then on (SIGUSR1 toggles silence at any time)\n"
    "  --vanish-after MS    close the terminal then, and exit\n"
    "  --return-after MS    with --vanish-after: come back on a new terminal after MS\n"
    "  --noise-after MS     send random bytes from then on (a box left at another baud rate)\n"
    "  --noise-for MS       for this long (default: without end)\n"
    "  --noise-rate B       bytes per second (default 11520, the 115200-baud line rate;\n"
    "                       0: as fast as the terminal takes them)\n";

[[noreturn]] void usage(const char* problem) {
    if (problem) std::fprintf(stderr, "keldrin-sim: %s\n", problem);
    std::fputs(kUsage, stderr);
    std::exit(2);
}

long long toInteger(const char* text, long long lo, long long hi, const char* option) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) {
        usage((std::string("bad value for ") + option).c_str());
    }
    return v;
}

double toShare(const char* text, const char* option) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= 0 && v <= 1)) usage((std::string("bad share for ") + option).c_str());
    return v;
}

struct Noise {
    std::int64_t afterMs = -1;  // -1: none
    std::int64_t forMs = -1;    // -1: without end
    std::int64_t rate = 11520;  // bytes per second; 0: as fast as the terminal takes them
    std::int64_t sent = 0;
    std::uint64_t state = 0x9E3779B97F4A7C15ull;

    bool on(std::int64_t t) const { return afterMs >= 0 && t >= afterMs && (forMs < 0 || t < afterMs + forMs); }
    // Random bytes due by t (xorshift: cheap and repeatable).
    keldrin::sim::Bytes due(std::int64_t t) {
        std::int64_t n = 4096;
        if (rate > 0) n = std::min<std::int64_t>((t - afterMs) * rate / 1000 - sent, 4096);
        keldrin::sim::Bytes out(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
        for (std::uint8_t& b : out) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            b = static_cast<std::uint8_t>(state >> 24);
        }
        sent += static_cast<std::int64_t>(out.size());
        return out;
    }
};

struct Settings {
    Noise noise;
    std::string dir = ".";
    int com = 3;
    bool linkAsked = false;
    std::string device;
    keldrin::sim::Options box;
};

Settings parse(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (opt == "--no-key") {
            s.box.keyHeld = false;
            continue;
        }
        static const std::string kValued[] = {"--dir", "--com", "--device", "--probes", "--delay-ms", "--seed",
                                              "--address", "--channel", "--rate", "--drop", "--corrupt", "--split",
                                              "--split-delay-ms", "--stray", "--silent-after", "--vanish-after",
                                              "--return-after", "--noise-after", "--noise-for", "--noise-rate"};
        if (std::find(std::begin(kValued), std::end(kValued), opt) == std::end(kValued)) {
            usage(("unknown option " + opt).c_str());
        }
        if (i + 1 >= argc) usage(("missing value for " + opt).c_str());
        const char* v = argv[++i];
        const char* o = opt.c_str();
        auto& f = s.box.faults;
        constexpr long long kDay = 86400000;
        if (opt == "--dir") s.dir = v, s.linkAsked = true;
        else if (opt == "--com") s.com = static_cast<int>(toInteger(v, 1, 255, o)), s.linkAsked = true;
        else if (opt == "--device") s.device = v;
        else if (opt == "--probes") s.box.probes = static_cast<int>(toInteger(v, 0, 8, o));
        else if (opt == "--delay-ms") s.box.radioDelayMs = toInteger(v, 0, kDay, o);
        else if (opt == "--seed") s.box.seed = static_cast<std::uint64_t>(toInteger(v, 0, INT64_MAX, o));
        else if (opt == "--address") s.box.address = static_cast<std::uint16_t>(toInteger(v, 0, 65535, o));
        else if (opt == "--channel") s.box.channel = static_cast<std::uint8_t>(toInteger(v, 0, 255, o));
        else if (opt == "--rate") s.box.rateByte = static_cast<std::uint8_t>(toInteger(v, 0, 255, o));
        else if (opt == "--drop") f.drop = toShare(v, o);
        else if (opt == "--corrupt") f.corrupt = toShare(v, o);
        else if (opt == "--split") f.split = toShare(v, o);
        else if (opt == "--split-delay-ms") f.splitDelayMs = toInteger(v, 0, kDay, o);
        else if (opt == "--stray") f.stray = toShare(v, o);
        else if (opt == "--silent-after") f.silentAfterMs = toInteger(v, 0, INT64_MAX / 2, o);
        else if (opt == "--vanish-after") f.vanishAfterMs = toInteger(v, 0, INT64_MAX / 2, o);
        else if (opt == "--return-after") f.returnAfterMs = toInteger(v, 0, INT64_MAX / 2, o);
        else if (opt == "--noise-after") s.noise.afterMs = toInteger(v, 0, INT64_MAX / 4, o);
        else if (opt == "--noise-for") s.noise.forMs = toInteger(v, 0, INT64_MAX / 4, o);
        else if (opt == "--noise-rate") s.noise.rate = toInteger(v, 0, 100000000, o);
        else usage(("unknown option " + opt).c_str());
    }
    if (s.device.empty()) s.linkAsked = true;  // a new terminal is useless unless the program can find it
    return s;
}

speed_t speedConstant(int baud) {
    switch (baud) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 115200: return B115200;
    default: return B9600;
    }
}

int baudOf(speed_t s) {
    switch (s) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

// On a pseudo-terminal the master sees the settings the program made on its side,
// so this is the rate the program's port is open at.
int lineBaud(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return 0;
    return baudOf(cfgetospeed(&t));
}

bool makeRaw(int fd, int baud) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, speedConstant(baud));
    cfsetospeed(&t, speedConstant(baud));
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

struct Line {
    int fd = -1;
    std::string path;
    bool peerGone = false;  // nobody holds the other end of the terminal just now
};

bool openLine(const Settings& s, int baud, Line& line) {
    if (!s.device.empty()) {
        line.fd = ::open(s.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        line.path = s.device;
    } else {
        line.fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (line.fd >= 0 && (grantpt(line.fd) != 0 || unlockpt(line.fd) != 0)) {
            ::close(line.fd);
            line.fd = -1;
        }
        if (line.fd >= 0) {
            const char* name = ptsname(line.fd);
            line.path = name ? name : "";
        }
    }
    if (line.fd < 0 || line.path.empty()) {
        std::fprintf(stderr, "keldrin-sim: cannot open %s: %s\n", s.device.empty() ? "a pseudo-terminal" : s.device.c_str(),
                     std::strerror(errno));
        return false;
    }
    makeRaw(line.fd, baud);
    line.peerGone = false;
    return true;
}

void closeLine(Line& line) {
    if (line.fd >= 0) ::close(line.fd);
    line.fd = -1;
}

std::string linkPath(const Settings& s) { return s.dir + "/COM" + std::to_string(s.com); }

bool makeLink(const Settings& s, const Line& line) {
    if (!s.linkAsked) return true;
    const std::string link = linkPath(s);
    ::unlink(link.c_str());  // an old link from an earlier run is replaced
    if (::symlink(line.path.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "keldrin-sim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void removeLink(const Settings& s, const Line& line) {
    if (!s.linkAsked) return;
    const std::string link = linkPath(s);
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    // Leave a link alone that someone else has pointed elsewhere meanwhile.
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == line.path) ::unlink(link.c_str());
}

void announce(const Line& line) {
    std::printf("%s\n", line.path.c_str());
    std::fflush(stdout);
}

void writeAll(Line& line, const keldrin::sim::Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(line.fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{line.fd, POLLOUT, 0};
            if (::poll(&p, 1, 100) <= 0) return;  // the reader is stuck; the rest is lost as on a real line
        } else {
            line.peerGone = true;
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings = parse(argc, argv);
    Noise& noise = settings.noise;

    struct sigaction sa{};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sa.sa_handler = onToggle;
    sigaction(SIGUSR1, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Box box(settings.box);
    const bool onDevice = !settings.device.empty();
    int deviceBaud = box.baud();
    Line line;
    if (!openLine(settings, deviceBaud ? deviceBaud : 9600, line)) return 1;
    if (!makeLink(settings, line)) {
        closeLine(line);
        return 1;
    }
    announce(line);

    const auto start = std::chrono::steady_clock::now();
    auto now = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    };
    std::deque<Chunk> queue;
    bool vanished = false;
    bool silenced = false;
    std::uint8_t buffer[4096];

    while (!gStop) {
        const std::int64_t t = now();
        if (gToggleSilence) {
            gToggleSilence = 0;
            silenced = !silenced;
            box.setSilent(silenced);
        }

        const Presence presence = box.presence(t);
        if (presence == Presence::Exit) break;
        if (presence == Presence::Gone) {
            if (!vanished) {
                removeLink(settings, line);
                closeLine(line);
                queue.clear();
                vanished = true;
            }
            const auto& f = settings.box.faults;
            const std::int64_t back = f.vanishAfterMs + f.returnAfterMs - t;
            ::poll(nullptr, 0, static_cast<int>(std::clamp<std::int64_t>(back, 1, 200)));
            continue;
        }
        if (vanished) {
            if (!openLine(settings, deviceBaud ? deviceBaud : 9600, line) || !makeLink(settings, line)) break;
            announce(line);
            vanished = false;
        }

        while (!queue.empty() && queue.front().dueMs <= t) {
            // Bytes sent while nobody listens are lost, as on a real serial line.
            if (!line.peerGone) writeAll(line, queue.front().bytes);
            queue.pop_front();
        }

        const bool noisy = noise.on(t);
        if (noisy && !line.peerGone) writeAll(line, noise.due(t));

        std::int64_t wait = 1000;
        if (noisy) wait = noise.rate > 0 ? 2 : 0;
        if (noise.afterMs > t) wait = std::min(wait, noise.afterMs - t);
        if (!queue.empty()) wait = std::min(wait, queue.front().dueMs - t);
        const auto vanishAt = settings.box.faults.vanishAfterMs;
        if (vanishAt >= 0 && t < vanishAt) wait = std::min(wait, vanishAt - t);
        wait = std::max<std::int64_t>(wait, 0);

        if (line.peerGone) {
            // The master reports hang-up without end while the other side is closed;
            // look again now and then instead of spinning on it.
            ::poll(nullptr, 0, static_cast<int>(std::min<std::int64_t>(wait, 50)));
            pollfd p{line.fd, POLLIN, 0};
            if (::poll(&p, 1, 0) >= 0 && !(p.revents & (POLLHUP | POLLERR))) line.peerGone = false;
            continue;
        }

        pollfd p{line.fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(wait));
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "keldrin-sim: poll: %s\n", std::strerror(errno));
            break;
        }
        if (ready == 0) continue;
        if (p.revents & POLLIN) {
            const ssize_t n = ::read(line.fd, buffer, sizeof buffer);
            if (n > 0) {
                const int baud = lineBaud(line.fd);
                for (Chunk& c : box.feed(std::span(buffer, static_cast<std::size_t>(n)), now(), baud)) {
                    auto at = std::upper_bound(queue.begin(), queue.end(), c.dueMs,
                                               [](std::int64_t due, const Chunk& q) { return due < q.dueMs; });
                    queue.insert(at, std::move(c));
                }
                if (onDevice && box.baud() != 0 && box.baud() != deviceBaud) {
                    // A real line has one rate: follow the rate the box was given.
                    deviceBaud = box.baud();
                    makeRaw(line.fd, deviceBaud);
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                line.peerGone = true;
            }
        } else if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            line.peerGone = true;
        }
    }

    if (!vanished) {
        removeLink(settings, line);
        closeLine(line);
    }
    return 0;
}
