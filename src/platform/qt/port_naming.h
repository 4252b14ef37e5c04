#pragma once
// Which device a port number n (COMn) stands for on this machine.
#include <QString>
#include <optional>

namespace keldrin {

// The fixed Linux mapping: COM1-COM32 are /dev/ttyS0-31, COM33-COM64 /dev/ttyUSB0-31,
// COM65-COM96 /dev/ttyACM0-31; other numbers have no device. No file system access.
std::optional<QString> standardDevicePath(int n);

// The device of port n. On Windows it is "\\.\COMn". Elsewhere a link or file named COMn
// in workDir, when present, names the device (a link is followed to its target, so a
// dangling link names a device that does not exist); otherwise standardDevicePath.
// nullopt when the number has no device at all.
std::optional<QString> portDevicePath(int n, const QString& workDir);

}  // namespace keldrin
