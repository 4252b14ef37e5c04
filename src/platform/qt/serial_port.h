#pragma once
// The serial port 端口1 on QSerialPort: 8 data bits, no parity, 1 stop bit, no flow control.
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <functional>

#include "core/services.h"

namespace keldrin {

// What an error QSerialPort reports says of the device behind an open port.
enum class SerialSystem { Posix, Windows };
enum class ErrorMeaning {
    Other,           // the port stays open
    Gone,            // the device went away
    GoneIfUnlisted,  // ... when the system no longer lists the port
};
ErrorMeaning meaningOf(QSerialPort::SerialPortError error, SerialSystem system);

class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT
public:
    // workDir: where links named COMn are looked for (empty: the current directory).
    explicit QtSerialPort(QString workDir, QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setPortNumber(int n) override { number_ = n; }
    int portNumber() const override { return number_; }
    void setBaudRate(int baud) override { baud_ = baud; }
    int baudRate() const override { return baud_; }
    bool open() override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    void send(std::span<const std::uint8_t> bytes) override;
    bool canOpen(int n) override;

    // The device path that is open, empty when closed.
    QString openDevice() const { return isOpen() ? openPath_ : QString(); }

private:
    void readIncoming();
    void flushIncoming();
    void handleError(QSerialPort::SerialPortError error);
    void closeLost(quint64 opening);

    QString workDir_;
    QSerialPort port_{this};  // a child, so that it can be found and watched
    QString openPath_;
    int number_ = 3;
    int baud_ = 9600;
    int openBaud_ = 0;
    int openNumber_ = 0;
    QByteArray incoming_;
    bool flushQueued_ = false;
    bool closeQueued_ = false;
    quint64 openings_ = 0;  // successful opens: a queued close is for one of them
};

}  // namespace keldrin
