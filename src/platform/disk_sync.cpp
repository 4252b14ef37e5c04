#include "platform/disk_sync.h"

#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <cerrno>
#endif

namespace keldrin::disk {

bool syncData(QFileDevice& file) {
    if (!file.flush()) return false;
    const int fd = file.handle();
    if (fd < 0) return false;
#ifdef _WIN32
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != 0;
#elif defined(__APPLE__)
    return ::fsync(fd) == 0;
#else
    return ::fdatasync(fd) == 0;
#endif
}

bool syncFolderOf(const QString& path) {
#ifdef _WIN32
    Q_UNUSED(path);
    return true;
#else
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    ::close(fd);
    return rc == 0;
#endif
}

bool renameNoReplace(const QString& from, const QString& to) {
#ifdef _WIN32
    // Without MOVEFILE_REPLACE_EXISTING the move fails when to exists.
    return MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()), reinterpret_cast<const wchar_t*>(to.utf16()),
                       MOVEFILE_WRITE_THROUGH) != 0;
#else
    // Not QFile::rename: where a rename fails it falls back to copying, which would
    // show a half-written file under its name.
    const QByteArray f = QFile::encodeName(from), t = QFile::encodeName(to);
#ifdef __linux__
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
    if (::link(f.constData(), t.constData()) == 0) {
        ::unlink(f.constData());
        return true;
    }
    if (errno == EEXIST) return false;
    // A file system without hard links: look, then rename.
    struct stat st {};
    if (::lstat(t.constData(), &st) == 0 || errno != ENOENT) return false;
    return ::rename(f.constData(), t.constData()) == 0;
#endif
}

}  // namespace keldrin::disk
