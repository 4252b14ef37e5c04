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
#include <vector>

#include "platform/qt/desktop_services.h"
#include "platform/qt/port_naming.h"
#include "platform/qt/serial_port.h"
#include "qt_test_app.h"

namespace keldrin::test {
namespace {

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
    void write(const std::vector<std::uint8_t>& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the program sent, read while events keep running.
    std::vector<std::uint8_t> read(std::size_t expected) const {
        std::vector<std::uint8_t> got;
        processUntil([&] {
            pollfd p{master, POLLIN, 0};
            while (got.size() < expected && ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
                std::uint8_t buf[256];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n <= 0) break;
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
        port.connectBytes(dispatcher, [this](int b) {
            ++calls;
            received.push_back(b);
        });
    }
    void link(int n, const QString& target) {
        const QString name = dir.filePath(QStringLiteral("COM%1").arg(n));
        QFile::remove(name);
        ASSERT_TRUE(QFile::link(target, name));
    }
    bool receivedCount(std::size_t n) {
        return processUntil([&] { return received.size() >= n; });
    }

    QTemporaryDir dir;
    Pty pty;
    Dispatcher dispatcher;
    QtPauser pauser;
    QtSerialPort port{dir.path()};
    std::vector<int> received;
    int calls = 0;
};

TEST_F(SerialPortTest, OpensClosesAndReopensAtNewRateDeliveringEveryByteInOrder) {
    port.setPortNumber(7);
    port.setBaudRate(9600);
    ASSERT_TRUE(port.open());
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.openDevice(), QFileInfo(pty.slave).canonicalFilePath());

    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    pty.write({all.begin(), all.begin() + 100});
    pty.write({all.begin() + 100, all.end()});
    ASSERT_TRUE(receivedCount(256));
    EXPECT_EQ(calls, 256);  // one call per byte
    EXPECT_EQ(received, std::vector<int>(all.begin(), all.end()));

    port.close();
    EXPECT_FALSE(port.isOpen());
    port.close();  // harmless when closed

    received.clear();
    port.setBaudRate(115200);
    ASSERT_TRUE(port.open());
    EXPECT_EQ(port.baudRate(), 115200);
    pty.write({0x5C, 0xA5, 0x00, 0x00});
    ASSERT_TRUE(receivedCount(4));
    EXPECT_EQ(received, (std::vector<int>{0x5C, 0xA5, 0x00, 0x00}));
}

TEST_F(SerialPortTest, BytesArrivingDuringAPauseWaitAndKeepTheirOrder) {
    dispatcher.setPauser(&pauser);
    int depth = 0, deepest = 0;
    std::vector<int> order;
    port.connectBytes(dispatcher, [&](int b) {
        deepest = std::max(deepest, ++depth);
        order.push_back(b);
        if (b == 1) {
            // More bytes come while the handler of byte 1 is paused.
            QTimer::singleShot(5, [&] { pty.write({4, 5}); });
            dispatcher.pause(80);
        }
        --depth;
    });
    port.setPortNumber(7);
    ASSERT_TRUE(port.open());
    pty.write({1, 2, 3});
    ASSERT_TRUE(processUntil([&] { return order.size() >= 5; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(deepest, 1);  // no byte handler ran inside another
}

TEST_F(SerialPortTest, SendGoesOutInOrderAndIsIgnoredWhileClosed) {
    port.setPortNumber(7);
    ASSERT_TRUE(port.open());
    const std::uint8_t greeting[] = {0x5C, 0xA5, 0x00, 0x00};
    port.send(greeting);
    EXPECT_EQ(pty.read(4), (std::vector<std::uint8_t>{0x5C, 0xA5, 0x00, 0x00}));

    port.close();
    const std::uint8_t lost[] = {0x99};
    port.send(lost);  // ignored, no crash
    ASSERT_TRUE(port.open());
    const std::uint8_t after[] = {0x01, 0x03};
    port.send(after);
    EXPECT_EQ(pty.read(2), (std::vector<std::uint8_t>{0x01, 0x03}));
}

TEST_F(SerialPortTest, VanishedDeviceClosesThePortOnceWithoutSpinningAndAReopenWorks) {
    int lost = 0;
    port.onDeviceLost = [&] { ++lost; };
    port.setPortNumber(7);
    ASSERT_TRUE(port.open());
    pty.closeMaster();  // the adapter is pulled
    ASSERT_TRUE(processUntil([&] { return !port.isOpen(); }));
    processFor(150);  // a hot error loop would pile up reports here
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(port.deviceLostCount(), 1);
    EXPECT_LE(port.errorReports(), 5);

    Pty replugged;
    link(7, replugged.slave);
    ASSERT_TRUE(port.open());
    replugged.write({0x42});
    ASSERT_TRUE(receivedCount(1));
    EXPECT_EQ(received.back(), 0x42);
}

TEST_F(SerialPortTest, MissingDevicesAndBadRatesFailAndLeaveThePortClosed) {
    link(9, dir.filePath(QStringLiteral("no-such-device")));
    port.setBaudRate(9600);
    for (int n : {0, -3, 9, 200, 256}) {
        port.setPortNumber(n);
        EXPECT_FALSE(port.open()) << n;
        EXPECT_FALSE(port.isOpen()) << n;
    }
    port.setPortNumber(7);
    for (int baud : {0, -9600}) {
        port.setBaudRate(baud);
        EXPECT_FALSE(port.open()) << baud;
        EXPECT_FALSE(port.isOpen());
    }
}

TEST_F(SerialPortTest, CanOpenUsesATrialHandleAndCountsTheHeldPort) {
    EXPECT_TRUE(port.canOpen(7));
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.canOpen(200));
    link(9, dir.filePath(QStringLiteral("no-such-device")));
    EXPECT_FALSE(port.canOpen(9));

    port.setPortNumber(7);
    port.setBaudRate(19200);
    ASSERT_TRUE(port.open());
    EXPECT_TRUE(port.canOpen(7));  // held by this service, still listed
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.portNumber(), 7);
    EXPECT_EQ(port.baudRate(), 19200);
    // The held connection still works after the probe.
    pty.write({0x11});
    ASSERT_TRUE(receivedCount(1));
    EXPECT_EQ(received.back(), 0x11);
}

TEST(PortNaming, NumbersMapToBoardUsbAndModemDevices) {
    EXPECT_EQ(standardDevicePath(1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(standardDevicePath(32), QStringLiteral("/dev/ttyS31"));
    EXPECT_EQ(standardDevicePath(33), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(standardDevicePath(64), QStringLiteral("/dev/ttyUSB31"));
    EXPECT_EQ(standardDevicePath(65), QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(standardDevicePath(96), QStringLiteral("/dev/ttyACM31"));
    for (int n : {-1, 0, 97, 255, 1000}) EXPECT_FALSE(standardDevicePath(n).has_value()) << n;
}

TEST(PortNaming, ALinkOrFileInTheWorkingFolderNamesTheDevice) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDir d(dir.path());
    EXPECT_EQ(portDevicePath(4, dir.path()), QStringLiteral("/dev/ttyS3"));  // nothing local

    QFile target(d.filePath(QStringLiteral("device")));
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.close();
    // A chain of links is followed to the end.
    ASSERT_TRUE(QFile::link(d.filePath(QStringLiteral("device")), d.filePath(QStringLiteral("middle"))));
    ASSERT_TRUE(QFile::link(d.filePath(QStringLiteral("middle")), d.filePath(QStringLiteral("COM4"))));
    EXPECT_EQ(portDevicePath(4, dir.path()), QFileInfo(d.filePath(QStringLiteral("device"))).canonicalFilePath());

    // A plain file named COM120 gives a device even beyond the standard numbers.
    QFile plain(d.filePath(QStringLiteral("COM120")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(portDevicePath(120, dir.path()), QFileInfo(plain).absoluteFilePath());
    EXPECT_FALSE(portDevicePath(121, dir.path()).has_value());
    EXPECT_FALSE(portDevicePath(0, dir.path()).has_value());
}

}  // namespace
}  // namespace keldrin::test
#endif  // __unix__
