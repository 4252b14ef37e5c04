#include "platform/qt/port_naming.h"

#include <QDir>
#include <QFileInfo>

namespace keldrin {

std::optional<QString> standardDevicePath(int n) {
    struct Range {
        int first;
        const char* prefix;
    };
    // Serial ports on the board first, then USB adapters, then USB modems (CDC ACM).
    static constexpr Range kRanges[] = {{1, "/dev/ttyS"}, {33, "/dev/ttyUSB"}, {65, "/dev/ttyACM"}};
    for (const Range& r : kRanges) {
        if (n >= r.first && n < r.first + 32) return QString::fromLatin1(r.prefix) + QString::number(n - r.first);
    }
    return std::nullopt;
}

std::optional<QString> portDevicePath(int n, const QString& workDir) {
    if (n <= 0) return std::nullopt;
#ifdef Q_OS_WIN
    Q_UNUSED(workDir);
    // The port's own name in the device namespace, which COM10 and above need.
    return QStringLiteral("\\\\.\\COM") + QString::number(n);
#else
    const QString name = QStringLiteral("COM") + QString::number(n);
    const QFileInfo local(workDir.isEmpty() ? name : QDir(workDir).filePath(name));
    if (local.isSymLink()) {
        // canonicalFilePath follows a chain of links, but is empty for a dangling one;
        // then the link's own target names a device that will simply fail to open.
        const QString resolved = local.canonicalFilePath();
        return resolved.isEmpty() ? local.symLinkTarget() : resolved;
    }
    if (local.exists()) return local.absoluteFilePath();
    return standardDevicePath(n);
#endif
}

}  // namespace keldrin
