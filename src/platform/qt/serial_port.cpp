#include "platform/qt/serial_port.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QMetaObject>
#include <QSerialPortInfo>
#include <QStringList>

#include "platform/qt/port_naming.h"

namespace keldrin {

namespace {

void configure(QSerialPort& p, const QString& path, int baud) {
    p.setPortName(path);
    p.setBaudRate(baud);
    p.setDataBits(QSerialPort::Data8);
    p.setParity(QSerialPort::NoParity);
    p.setStopBits(QSerialPort::OneStop);
    p.setFlowControl(QSerialPort::NoFlowControl);
}

// A missing device node fails here, fast, without QSerialPort's lock-file dance. On
// Windows a port name such as COM3 is no file, so QSerialPort itself decides there.
bool deviceMayExist(const QString& path) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return true;
#else
    return QFileInfo::exists(path);
#endif
}

// Whether the system lists the port among its own (Windows' device list). A scan asks
// for 255 numbers, and a port in trouble may report an error on every event-loop pass:
// the list is read at most once a second, not once each.
bool systemListsPort(const QString& path) {
#ifdef Q_OS_WIN
    static QStringList listed;
    static QDeadlineTimer fresh;
    if (fresh.hasExpired()) {
        listed.clear();
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) listed << info.portName();
        fresh.setRemainingTime(1000);
    }
    // The list holds names (COM3), the path is in the device namespace (\\.\COM3).
    return listed.contains(path.mid(path.lastIndexOf(u'\\') + 1), Qt::CaseInsensitive);
#else
    return deviceMayExist(path);
#endif
}

#ifdef Q_OS_WIN
constexpr SerialSystem kThisSystem = SerialSystem::Windows;
#else
constexpr SerialSystem kThisSystem = SerialSystem::Posix;
#endif

}  // namespace

ErrorMeaning meaningOf(QSerialPort::SerialPortError error, SerialSystem system) {
    switch (error) {
        case QSerialPort::ResourceError:  // EIO, ENXIO; ERROR_DEVICE_REMOVED and the like
            return ErrorMeaning::Gone;
        case QSerialPort::ReadError:
            // POSIX: a read that found the line ready but got nothing is a hang-up.
            return system == SerialSystem::Posix ? ErrorMeaning::Gone : ErrorMeaning::GoneIfUnlisted;
        case QSerialPort::PermissionError:
        case QSerialPort::UnknownError:
        case QSerialPort::WriteError:
            // Some USB-serial drivers on Windows report an unplug so; taken as one only
            // once the system's port list confirms it.
            return system == SerialSystem::Windows ? ErrorMeaning::GoneIfUnlisted : ErrorMeaning::Other;
        default:
            return ErrorMeaning::Other;
    }
}

QtSerialPort::QtSerialPort(QString workDir, QObject* parent)
    : QObject(parent), workDir_(std::move(workDir)) {
    connect(&port_, &QSerialPort::readyRead, this, [this] { readIncoming(); });
    connect(&port_, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { handleError(e); });
}

QtSerialPort::~QtSerialPort() { close(); }

bool QtSerialPort::open() {
    if (isOpen()) {
        if (number_ == openNumber_ && baud_ == openBaud_) return true;
        close();
    }
    if (baud_ <= 0) return false;
    const std::optional<QString> path = portDevicePath(number_, workDir_);
    if (!path || !deviceMayExist(*path)) return false;
    configure(port_, *path, baud_);
    if (!port_.open(QIODevice::ReadWrite)) {
        port_.clearError();
        return false;
    }
    ++openings_;
    openPath_ = *path;
    openBaud_ = baud_;
    openNumber_ = number_;
    return true;
}

void QtSerialPort::close() {
    if (!port_.isOpen()) return;
    // Bytes already read were received while the port was open: they still go out.
    readIncoming();
    port_.close();
    port_.clearError();
    openPath_.clear();
    openBaud_ = 0;
    openNumber_ = 0;
}

void QtSerialPort::send(std::span<const std::uint8_t> bytes) {
    if (!isOpen() || bytes.empty()) return;
    port_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    // Push the bytes to the driver now rather than at the next event-loop pass, so a
    // pause that follows a send starts after the bytes have left.
    port_.flush();
}

bool QtSerialPort::canOpen(int n) {
    const std::optional<QString> path = portDevicePath(n, workDir_);
    if (!path) return false;
    if (isOpen() && (n == number_ || *path == openPath_)) return true;
    if (!systemListsPort(*path)) return false;
    QSerialPort trial;
    configure(trial, *path, baud_ > 0 ? baud_ : 9600);
    if (!trial.open(QIODevice::ReadWrite)) return false;
    trial.close();
    return true;
}

void QtSerialPort::readIncoming() {
    if (!port_.isOpen()) return;
    const QByteArray data = port_.readAll();
    if (data.isEmpty()) return;
    incoming_.append(data);
    // Handlers run from a queued call, not inside QSerialPort's readyRead: a handler
    // that pauses or reopens the port would otherwise run within the port's own
    // notification, where Qt suppresses further readyRead signals.
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, [this] { flushIncoming(); }, Qt::QueuedConnection);
    }
}

void QtSerialPort::flushIncoming() {
    flushQueued_ = false;
    if (incoming_.isEmpty()) return;
    const QByteArray batch = std::move(incoming_);
    incoming_.clear();
    deliver({reinterpret_cast<const std::uint8_t*>(batch.constData()), static_cast<std::size_t>(batch.size())});
}

void QtSerialPort::handleError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || !port_.isOpen() || closeQueued_) return;
    const ErrorMeaning meaning = meaningOf(error, kThisSystem);
    if (meaning == ErrorMeaning::Other) return;
    // The list is read at most once a second: a port that is fine may repeat its error
    // on every pass of the event loop, and one that is gone keeps reporting until the
    // list no longer holds it.
    if (meaning == ErrorMeaning::GoneIfUnlisted && systemListsPort(openPath_)) return;
    // Closed from a queued call, never inside QSerialPort's own report, which can loop
    // on Windows; and at once, since Windows gives a returning adapter its old COM name
    // only once the old handle is closed. The device keeps reporting until then.
    closeQueued_ = true;
    const quint64 opening = openings_;
    QMetaObject::invokeMethod(this, [this, opening] { closeLost(opening); }, Qt::QueuedConnection);
}

void QtSerialPort::closeLost(quint64 opening) {
    // The program may have closed the port, or opened it again, meanwhile: then the
    // loss is its business already.
    const bool lost = opening == openings_ && port_.isOpen();
    if (lost) close();
    closeQueued_ = false;
    if (lost) reportLost();
}

}  // namespace keldrin
