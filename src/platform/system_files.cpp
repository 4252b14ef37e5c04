#include "platform/system_files.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <algorithm>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#endif

namespace keldrin {

namespace {
namespace os {

using Handle = SystemFiles::Handle;

#ifdef _WIN32

const Handle kNone = INVALID_HANDLE_VALUE;
// The lock is taken on one byte far past any journal's end: Windows' byte-range locks
// also keep others from reading and writing the bytes they cover.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

std::wstring native(const QString& path) { return QDir::toNativeSeparators(path).toStdWString(); }

bool lockNow(Handle h) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// A regular file at path, opened and locked; kNone with the reason otherwise.
Handle openLocked(const QString& path, bool create, JournalOpenError* error) {
    const std::wstring name = native(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        *error = JournalOpenError::NotRegular;
        return kNone;
    }
    // Shared for deleting too, so that a replacement can be renamed over it.
    Handle h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == kNone) {
        *error = JournalOpenError::Failed;
        return kNone;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        *error = JournalOpenError::NotRegular;
        return kNone;
    }
    if (!lockNow(h)) {
        *error = GetLastError() == ERROR_LOCK_VIOLATION ? JournalOpenError::Locked : JournalOpenError::Failed;
        CloseHandle(h);
        return kNone;
    }
    return h;
}

void closeHandle(Handle h) {
    if (h != kNone) CloseHandle(h);
}

struct Identity {
    DWORD volume = 0, high = 0, low = 0, links = 0;
};

bool identity(Handle h, Identity& id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, info.nNumberOfLinks};
    return true;
}

// True when path names the file h has open. A path that cannot be looked at counts as
// the same file: only a name that is gone or names another file counts as moved.
bool sameFile(Handle h, const QString& path) {
    Identity mine;
    if (!identity(h, mine)) return true;
    Handle there = CreateFileW(native(path).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (there == kNone) {
        const DWORD why = GetLastError();
        return why != ERROR_FILE_NOT_FOUND && why != ERROR_PATH_NOT_FOUND;
    }
    Identity at;
    const bool known = identity(there, at);
    CloseHandle(there);
    // Wine reports volume 0 for a handle whose file was renamed since it was opened
    // (the journal made again beside its name): then the file index alone decides.
    const bool sameVolume = mine.volume == at.volume || mine.volume == 0;
    return !known || (mine.links > 0 && sameVolume && mine.high == at.high && mine.low == at.low);
}

bool writeAll(Handle h, std::string_view bytes) {
    while (!bytes.empty()) {
        // Both offsets all ones: at the end of the file, whatever the file pointer.
        OVERLAPPED at{};
        at.Offset = 0xFFFFFFFF;
        at.OffsetHigh = 0xFFFFFFFF;
        const DWORD n = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD wrote = 0;
        if (!WriteFile(h, bytes.data(), n, &wrote, &at) || wrote == 0) return false;
        bytes.remove_prefix(wrote);
    }
    return true;
}

std::int64_t readAt(Handle h, std::uint64_t offset, std::span<char> to) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD n = static_cast<DWORD>(std::min<std::size_t>(to.size(), 1u << 30));
    if (!ReadFile(h, to.data(), n, &got, &at)) return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return static_cast<std::int64_t>(got);
}

bool truncateAll(Handle h) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) && SetEndOfFile(h);
}

bool dataSync(Handle h) { return FlushFileBuffers(h) != 0; }

std::uint64_t sizeOf(Handle h) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(h, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

bool heldByOther(const QString& path, Handle mine) {
    if (sameFile(mine, path)) return false;
    Handle h = CreateFileW(native(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == kNone) return false;
    const bool held = !lockNow(h) && GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(h);  // releases the lock when it was taken
    return held;
}

bool renameOver(const QString& from, const QString& to) {
    return MoveFileExW(native(from).c_str(), native(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

#else

const Handle kNone = -1;

Handle openLocked(const QString& path, bool create, JournalOpenError* error) {
    const QByteArray name = QFile::encodeName(path);
    // Looked at before opening: opening a FIFO waits for a writer, opening a device may
    // change it.
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *error = JournalOpenError::NotRegular;
        return kNone;
    }
    Handle fd;
    do {
        fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (create ? O_CREAT : 0),
                    0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *error = JournalOpenError::Failed;
        return kNone;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // replaced in between
        ::close(fd);
        *error = JournalOpenError::NotRegular;
        return kNone;
    }
    if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *error = errno == EWOULDBLOCK ? JournalOpenError::Locked : JournalOpenError::Failed;
        ::close(fd);
        return kNone;
    }
    return fd;
}

void closeHandle(Handle h) {
    if (h != kNone) ::close(h);
}

// True when path names the file h has open. A path that cannot be looked at counts as
// the same file: only a name that is gone or names another file counts as moved.
bool sameFile(Handle h, const QString& path) {
    struct stat mine {}, there {};
    if (::fstat(h, &mine) != 0) return true;
    if (::stat(QFile::encodeName(path).constData(), &there) != 0) return errno != ENOENT && errno != ENOTDIR;
    return mine.st_nlink > 0 && mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
}

bool writeAll(Handle h, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(h, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::int64_t readAt(Handle h, std::uint64_t offset, std::span<char> to) {
    for (;;) {
        const ssize_t n = ::pread(h, to.data(), to.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

bool truncateAll(Handle h) { return ::ftruncate(h, 0) == 0; }

bool dataSync(Handle h) {
#ifdef __APPLE__
    return ::fsync(h) == 0;
#else
    return ::fdatasync(h) == 0;
#endif
}

std::uint64_t sizeOf(Handle h) {
    struct stat st {};
    return ::fstat(h, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

bool heldByOther(const QString& path, Handle mine) {
    if (sameFile(mine, path)) return false;
    const Handle fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // releases the lock when it was taken
    return held;
}

bool renameOver(const QString& from, const QString& to) {
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

#endif

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

bool refuse(FileError* error, FileFault why) {
    if (error) *error = {why, {}};
    return false;
}

#ifdef Q_OS_UNIX
bool refuseType(FileError* error, mode_t mode) {
    if (S_ISDIR(mode)) return refuse(error, FileFault::Directory);
    if (S_ISFIFO(mode)) return refuse(error, FileFault::Fifo);
    if (S_ISCHR(mode) || S_ISBLK(mode)) return refuse(error, FileFault::Device);
    return refuse(error, FileFault::NotRegular);
}
#endif

// Opens path for reading when it is a regular file. The type is looked at before the
// open, because opening is itself the harm: a FIFO waits for a writer, a serial device
// changes its modem lines. What was opened is looked at again, and opened without
// waiting, in case the name was replaced in between. False with nothing in *error when
// the file is missing or cannot be opened.
bool openRegular(QFile& f, const QString& path, FileError* error) {
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) return refuseType(error, st.st_mode);
    int fd;
    do {
        fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuseType(error, st.st_mode);
    }
    if (int flags = ::fcntl(fd, F_GETFL); flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    const QFileInfo info(path);
    if (!info.exists()) return false;
    if (info.isDir()) return refuse(error, FileFault::Directory);
    if (!info.isFile()) return refuse(error, FileFault::NotRegular);
    f.setFileName(path);
    return f.open(QIODevice::ReadOnly);
#endif
}

}  // namespace os
}  // namespace

SystemFiles& SystemFiles::system() {
    static SystemFiles theSystem;
    return theSystem;
}

SystemFiles::Handle SystemFiles::none() { return os::kNone; }

SystemFiles::Handle SystemFiles::openLocked(const QString& path, bool create, JournalOpenError* error) {
    return os::openLocked(path, create, error);
}
void SystemFiles::close(Handle h) { os::closeHandle(h); }
bool SystemFiles::sameFile(Handle h, const QString& path) { return os::sameFile(h, path); }
bool SystemFiles::write(Handle h, std::string_view bytes) { return os::writeAll(h, bytes); }
std::int64_t SystemFiles::readAt(Handle h, std::uint64_t offset, std::span<char> to) { return os::readAt(h, offset, to); }
bool SystemFiles::truncate(Handle h) { return os::truncateAll(h); }
bool SystemFiles::dataSync(Handle h) { return os::dataSync(h); }
std::uint64_t SystemFiles::size(Handle h) { return os::sizeOf(h); }
bool SystemFiles::heldByOther(const QString& path, Handle mine) { return os::heldByOther(path, mine); }
bool SystemFiles::renameOver(const QString& from, const QString& to) { return os::renameOver(from, to); }
bool SystemFiles::openRegular(QFile& file, const QString& path, FileError* error) {
    return os::openRegular(file, path, error);
}
bool SystemFiles::syncData(QFileDevice& file) { return os::syncData(file); }
bool SystemFiles::syncFolderOf(const QString& path) { return os::syncFolderOf(path); }
bool SystemFiles::renameNoReplace(const QString& from, const QString& to) { return os::renameNoReplace(from, to); }

}  // namespace keldrin
