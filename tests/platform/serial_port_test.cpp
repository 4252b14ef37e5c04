// The serial service on a real pseudo-terminal: the test holds the master side (the
// receiver box's end), a COMn link in a temporary working folder names the slave.
#if defined(__unix__)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <utility>
#include <vector>

#include "platform/qt/desktop_services.h"
#include "platform/qt/port_naming.h"
#include "platform/qt/serial_port.h"
#include "qt_test_app.h"

namespace keldrin::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Pty {
    int master = -1;
    QString slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slave = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty() { closeMaster(); }
    void closeMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void write(const Bytes& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the program sent, read while events keep running.
    Bytes read(std::size_t expected) const {
        Bytes got;
        processUntil([&] {
            pollfd p{master, POLLIN, 0};
            std::uint8_t buf[256];
            ssize_t n = 0;
            while (got.size() < expected && ::poll(&p, 1, 0) > 0 && (n = ::read(master, buf, sizeof buf)) > 0) {
                got.insert(got.end(), buf, buf + n);
            }
            return got.size() >= expected;
        }, 1000);
        return got;
    }
};

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        qtApp();
        ASSERT_TRUE(dir.isValid());
        ASSERT_FALSE(pty.slave.isEmpty());
        link(7, pty.slave);
        link(9, dir.filePath(QStringLiteral("no-such-device")));
        port.connectBytes(dispatcher, [this](int b) { received.push_back(b); });
        port.setPortNumber(7);
    }
    void link(int n, const QString& target) {
        const QString name = dir.filePath(QStringLiteral("COM%1").arg(n));
        QFile::remove(name);
        ASSERT_TRUE(QFile::link(target, name));
    }
    // Waits until n bytes have been delivered and returns them, forgetting them.
    std::vector<int> take(std::size_t n) {
        processUntil([&] { return received.size() >= n; });
        return std::exchange(received, {});
    }

    QTemporaryDir dir;
    Pty pty;
    Dispatcher dispatcher;
    QtPauser pauser;
    QtSerialPort port{dir.path()};
    std::vector<int> received;  // one entry per call of the byte handler
};

TEST_F(SerialPortTest, OpensClosesAndReopensAtNewRateDeliveringEveryByteInOrder) {
    ASSERT_TRUE(port.open());
    EXPECT_EQ(port.openDevice(), QFileInfo(pty.slave).canonicalFilePath());
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    pty.write({all.begin(), all.begin() + 100});
    pty.write({all.begin() + 100, all.end()});
    EXPECT_EQ(take(256), std::vector<int>(all.begin(), all.end()));

    port.close();
    EXPECT_FALSE(port.isOpen());
    port.close();  // harmless when closed
    port.setBaudRate(115200);
    ASSERT_TRUE(port.open());
    EXPECT_EQ(port.baudRate(), 115200);
    pty.write({0x5C, 0xA5, 0x00, 0x00});
    EXPECT_EQ(take(4), (std::vector<int>{0x5C, 0xA5, 0x00, 0x00}));
}

TEST_F(SerialPortTest, BytesArrivingDuringAPauseWaitAndKeepTheirOrder) {
    dispatcher.setPauser(&pauser);
    int depth = 0, deepest = 0;
    port.connectBytes(dispatcher, [&](int b) {
        deepest = std::max(deepest, ++depth);
        received.push_back(b);
        if (b == 1) {
            // More bytes come while the handler of byte 1 is paused.
            QTimer::singleShot(5, [&] { pty.write({4, 5}); });
            dispatcher.pause(80);
        }
        --depth;
    });
    ASSERT_TRUE(port.open());
    pty.write({1, 2, 3});
    EXPECT_EQ(take(5), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(deepest, 1);  // no byte handler ran inside another
}

TEST_F(SerialPortTest, SendGoesOutInOrderAndIsIgnoredWhileClosed) {
    ASSERT_TRUE(port.open());
    port.send(Bytes{0x5C, 0xA5, 0x00, 0x00});
    EXPECT_EQ(pty.read(4), (Bytes{0x5C, 0xA5, 0x00, 0x00}));
    port.close();
    port.send(Bytes{0x99});  // ignored, no crash
    ASSERT_TRUE(port.open());
    port.send(Bytes{0x01, 0x03});
    EXPECT_EQ(pty.read(2), (Bytes{0x01, 0x03}));
}

TEST_F(SerialPortTest, VanishedDeviceClosesThePortOnceWithoutSpinningAndAReopenWorks) {
    SerialErrorCount errors(port);
    int lost = 0;
    port.connectLost(dispatcher, [&] {
        EXPECT_FALSE(port.isOpen());
        ++lost;
    });
    ASSERT_TRUE(port.open());
    pty.closeMaster();  // the adapter is pulled
    ASSERT_TRUE(processUntil([&] { return !port.isOpen(); }));
    processFor(150);  // a hot error loop would pile up reports here
    EXPECT_GE(errors.count(), 1);
    EXPECT_LE(errors.count(), 5);
    EXPECT_EQ(lost, 1);
    port.close();  // a close by the program is no loss
    port.send(Bytes{0x01});

    Pty replugged;
    link(7, replugged.slave);
    ASSERT_TRUE(port.open());
    replugged.write({0x42});
    EXPECT_EQ(take(1), std::vector<int>{0x42});
}

TEST_F(SerialPortTest, MissingDevicesAndBadRatesFailAndLeaveThePortClosed) {
    for (const auto& [number, baud] : {std::pair{0, 9600}, {-3, 9600}, {9, 9600}, {200, 9600}, {256, 9600},
                                        {7, 0}, {7, -9600}}) {
        port.setPortNumber(number);
        port.setBaudRate(baud);
        EXPECT_FALSE(port.open()) << number << " " << baud;
        EXPECT_FALSE(port.isOpen());
    }
}

TEST_F(SerialPortTest, CanOpenUsesATrialHandleAndCountsTheHeldPort) {
    EXPECT_TRUE(port.canOpen(7));
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.canOpen(200));
    EXPECT_FALSE(port.canOpen(9));
    port.setBaudRate(19200);
    ASSERT_TRUE(port.open());
    EXPECT_TRUE(port.canOpen(7));  // held by this service, still listed
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.baudRate(), 19200);
    // The held connection still works after the probe.
    pty.write({0x11});
    EXPECT_EQ(take(1), std::vector<int>{0x11});
}

TEST(PortNaming, NumbersMapToBoardUsbAndModemDevicesOrToAFileInTheWorkingFolder) {
    const std::pair<int, const char*> standard[] = {{1, "/dev/ttyS0"},    {32, "/dev/ttyS31"},  {33, "/dev/ttyUSB0"},
                                                    {64, "/dev/ttyUSB31"}, {65, "/dev/ttyACM0"}, {96, "/dev/ttyACM31"}};
    for (const auto& [n, path] : standard) EXPECT_EQ(standardDevicePath(n), QString::fromLatin1(path)) << n;
    for (int n : {-1, 0, 97, 255, 1000}) EXPECT_FALSE(standardDevicePath(n).has_value()) << n;

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDir d(dir.path());
    EXPECT_EQ(portDevicePath(4, dir.path()), QStringLiteral("/dev/ttyS3"));  // nothing local
    // A chain of links is followed to the end.
    ASSERT_TRUE(QFile(d.filePath(QStringLiteral("device"))).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::link(d.filePath(QStringLiteral("device")), d.filePath(QStringLiteral("middle"))));
    ASSERT_TRUE(QFile::link(d.filePath(QStringLiteral("middle")), d.filePath(QStringLiteral("COM4"))));
    EXPECT_EQ(portDevicePath(4, dir.path()), QFileInfo(d.filePath(QStringLiteral("device"))).canonicalFilePath());
    // A plain file named COM120 gives a device even beyond the standard numbers.
    ASSERT_TRUE(QFile(d.filePath(QStringLiteral("COM120"))).open(QIODevice::WriteOnly));
    EXPECT_EQ(portDevicePath(120, dir.path()), QFileInfo(d.filePath(QStringLiteral("COM120"))).absoluteFilePath());
    EXPECT_FALSE(portDevicePath(121, dir.path()).has_value());
    EXPECT_FALSE(portDevicePath(0, dir.path()).has_value());
}

}  // namespace
}  // namespace keldrin::test

#elif defined(_WIN32)
#include <gtest/gtest.h>

#include <QSerialPort>

#include "platform/qt/port_naming.h"

namespace keldrin::test {
namespace {

// Each port by its own name in the device namespace, which COM10 and above need; a file
// named COMn in the working folder means nothing here.
TEST(PortNaming, NumbersAreThePortsOwnNamesOnWindows) {
    EXPECT_EQ(portDevicePath(3, QString()), QStringLiteral("\\\\.\\COM3"));
    EXPECT_EQ(portDevicePath(12, QStringLiteral("C:/work")), QStringLiteral("\\\\.\\COM12"));
    QSerialPort port;
    port.setPortName(*portDevicePath(255, QString()));
    EXPECT_EQ(port.portName(), QStringLiteral("COM255"));
    for (int n : {-1, 0}) EXPECT_FALSE(portDevicePath(n, QString()).has_value()) << n;
}

}  // namespace
}  // namespace keldrin::test
#endif

// How a reported error is read, for both systems on either: Windows' USB-serial drivers
// report an unplug in several ways, some of which also happen on a port that is fine.
#include <gtest/gtest.h>

#include <QSerialPort>

#include "platform/qt/serial_port.h"

namespace keldrin::test {
namespace {

TEST(SerialErrors, AnUnplugIsToldFromOtherFailuresOnEachSystem) {
    using E = QSerialPort::SerialPortError;
    using M = ErrorMeaning;
    const struct {
        E error;
        M posix;
        M windows;
    } rows[] = {
        {E::NoError, M::Other, M::Other},
        {E::ResourceError, M::Gone, M::Gone},  // EIO; ERROR_DEVICE_REMOVED, ERROR_INVALID_HANDLE
        {E::ReadError, M::Gone, M::GoneIfUnlisted},  // a hang-up on POSIX
        {E::PermissionError, M::Other, M::GoneIfUnlisted},  // ERROR_ACCESS_DENIED after an unplug
        {E::UnknownError, M::Other, M::GoneIfUnlisted},
        {E::WriteError, M::Other, M::GoneIfUnlisted},
        {E::TimeoutError, M::Other, M::Other},
        {E::DeviceNotFoundError, M::Other, M::Other},  // a failed open, not a lost port
        {E::OpenError, M::Other, M::Other},
        {E::NotOpenError, M::Other, M::Other},
        {E::UnsupportedOperationError, M::Other, M::Other},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(meaningOf(r.error, SerialSystem::Posix), r.posix) << r.error;
        EXPECT_EQ(meaningOf(r.error, SerialSystem::Windows), r.windows) << r.error;
    }
}

}  // namespace
}  // namespace keldrin::test
