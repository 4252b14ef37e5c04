// The keldrin-sim program itself on a pseudo-terminal: the link, the answers on a
// real line, surviving the program closing and reopening its port, a clean exit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Reads until n bytes came or the guard runs out; the guard only keeps a broken
// simulator from hanging the test.
Bytes readBytes(int fd, std::size_t n, int guardMs = 5000) {
    Bytes out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(guardMs);
    while (out.size() < n && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        std::uint8_t buf[64];
        const ssize_t got = ::read(fd, buf, std::min(sizeof buf, n - out.size()));
        if (got > 0) out.insert(out.end(), buf, buf + got);
    }
    return out;
}

// Opens the line raw at the given speed, sends the request and reads up to n bytes of answer.
Bytes exchange(const fs::path& link, speed_t speed, const Bytes& request, std::size_t n, int guardMs = 5000) {
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return {0xEE};  // never an answer
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
    Bytes got;
    if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) got = readBytes(fd, n, guardMs);
    ::close(fd);
    return got;
}

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~SimProcess() {
        if (pid_ > 0) stop(SIGKILL);
        if (out_ >= 0) ::close(out_);
    }
    std::string line() {
        std::string s;
        for (Bytes b = readBytes(out_, 1); !b.empty() && b[0] != '\n'; b = readBytes(out_, 1)) s += static_cast<char>(b[0]);
        return s;
    }
    int stop(int signal = SIGTERM) {
        int status = -1;
        ::kill(pid_, signal);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

TEST(SimProgram, ServesAPseudoTerminalLinkedAsComN) {
    // The test executable lives in build/tests, the simulator in build/tools.
    const fs::path sim = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools" / "keldrin-sim";
    if (!fs::exists(sim)) GTEST_SKIP() << "keldrin-sim not built next to the tests";
    const fs::path dir = fs::temp_directory_path() / ("keldrin-sim-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path link = dir / "COM9";
    fs::create_symlink("/nonexistent-old-target", link);  // left over from an earlier run

    SimProcess proc({sim.string(), "--dir", dir.string(), "--com", "9", "--seed", "5"});
    const std::string device = proc.line();
    ASSERT_FALSE(device.empty());
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link).string(), device);

    const Bytes poll{0x00, 0x03, 0x1C, 0x03, 0x00, 0x00, 0x00, 0x03, 0x20, 0x01};
    const Bytes frame = exchange(link, B9600, poll, 12);
    ASSERT_EQ(frame.size(), 12u);
    EXPECT_EQ(frame[1], 0x03);
    EXPECT_EQ(frame[3], 0x06);
    EXPECT_EQ(exchange(link, B9600, {0xC1, 0x00, 0x06}, 9),
              (Bytes{0xC1, 0x00, 0x06, 0x00, 0x02, 0x65, 0x00, 0x17, 0x40}));
    // The program reopens its port at another rate, which the box does not speak, then at 9600.
    EXPECT_TRUE(exchange(link, B19200, poll, 12, 300).empty());
    EXPECT_EQ(exchange(link, B9600, poll, 12).size(), 12u);

    const int status = proc.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    fs::remove_all(dir);
}

}  // namespace
