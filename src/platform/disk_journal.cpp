#include "platform/disk_journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "platform/disk_sync.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace keldrin {

namespace {

constexpr auto kSyncSpacing = std::chrono::seconds(1);
using Handle = DiskJournal::Handle;

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

}  // namespace

// The journal's next content, written beside it under the name with ".new" added and
// locked from the start, so that the lock is already on it when it takes the name.
class DiskJournal::Replacement : public OutFile {
public:
    Replacement(DiskJournal& journal, Handle h, QString path) : journal_(journal), handle_(h), path_(std::move(path)) {}
    ~Replacement() override {
        if (handle_ == kNone) return;
        closeHandle(handle_);
        QFile::remove(path_);
    }
    bool write(std::string_view bytes) override { return ok_ = ok_ && writeAll(handle_, bytes); }
    bool commit(FileError* error) override {
        auto fail = [&](FileFault why) {
            if (error) *error = {why, {}};
            return false;
        };
        if (!ok_ || !dataSync(handle_)) return fail(FileFault::Write);
        if (journal_.heldByAnother()) return fail(FileFault::Exists);
        bool renamed = renameOver(path_, journal_.path_);
#ifdef _WIN32
        if (!renamed) {
            // Older Windows will not rename over a file that is open, shared for
            // deleting or not: let go of the old one and try once more.
            journal_.take(kNone);
            renamed = renameOver(path_, journal_.path_);
            if (!renamed) {
                JournalOpenError ignored;
                journal_.take(openLocked(journal_.path_, false, &ignored));
                return fail(FileFault::Rename);
            }
        }
#endif
        if (!renamed) return fail(FileFault::Rename);
        disk::syncFolderOf(journal_.path_);
        journal_.take(handle_);
        handle_ = kNone;
        return true;
    }

private:
    DiskJournal& journal_;
    Handle handle_;
    QString path_;
    bool ok_ = true;
};

std::unique_ptr<DiskJournal> DiskJournal::open(const QString& path, JournalOpenError* error) {
    JournalOpenError why = JournalOpenError::Failed;
    // A program making a replacement may rename it over the name between the open and
    // the lock: what is locked must be what is at the name.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const Handle h = openLocked(path, true, &why);
        if (h == kNone) break;
        if (!sameFile(h, path)) {
            closeHandle(h);
            continue;
        }
        std::unique_ptr<DiskJournal> journal(new DiskJournal(path, h, sizeOf(h)));
        journal->syncer_ = std::thread([j = journal.get()] { j->syncLoop(); });
        if (error) *error = JournalOpenError::None;
        return journal;
    }
    if (error) *error = why;
    return nullptr;
}

DiskJournal::DiskJournal(const QString& path, Handle h, std::uint64_t size)
    : path_(path), handle_(h), previousSize_(size) {}

DiskJournal::~DiskJournal() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (syncer_.joinable()) syncer_.join();
    closeHandle(handle_);
}

std::int64_t DiskJournal::readPrevious(std::uint64_t offset, std::span<char> to) {
    if (handle_ == kNone) return -1;
    if (offset >= previousSize_) return 0;
    return readAt(handle_, offset, to.first(static_cast<std::size_t>(std::min<std::uint64_t>(to.size(), previousSize_ - offset))));
}

bool DiskJournal::append(std::string_view bytes) { return handle_ != kNone && writeAll(handle_, bytes); }

bool DiskJournal::restart(std::string_view bytes) {
    if (handle_ == kNone || !truncateAll(handle_)) return false;
    if (!append(bytes)) return false;
    syncSoon();
    return true;
}

std::unique_ptr<OutFile> DiskJournal::replacement(FileError* error) {
    const QString temp = path_ + QStringLiteral(".new");
    JournalOpenError why = JournalOpenError::Failed;
    const Handle h = openLocked(temp, true, &why);
    if (h == kNone || !truncateAll(h)) {
        closeHandle(h);
        if (error) *error = {why == JournalOpenError::Locked ? FileFault::Exists : FileFault::Open, {}};
        return nullptr;
    }
    return std::make_unique<Replacement>(*this, h, temp);
}

void DiskJournal::syncSoon() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        wanted_ = true;
    }
    wake_.notify_one();
}

bool DiskJournal::syncNow() { return handle_ != kNone && dataSync(handle_); }

bool DiskJournal::atItsName() { return handle_ != kNone && sameFile(handle_, path_); }

bool DiskJournal::heldByAnother() { return handle_ != kNone && heldByOther(path_, handle_); }

bool DiskJournal::keepAside(const std::string& name) {
    if (heldByAnother()) return false;
    const QString aside = QFileInfo(path_).dir().filePath(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    if (!disk::renameNoReplace(path_, aside)) return false;
    disk::syncFolderOf(path_);
    return true;
}

void DiskJournal::take(Handle h) {
    Handle old;
    {
        std::unique_lock<std::mutex> hold(mutex_);
        wake_.wait(hold, [this] { return !syncing_; });
        old = handle_;
        handle_ = h;
    }
    closeHandle(old);
}

std::chrono::microseconds DiskJournal::longestSync() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return longestSync_;
}

void DiskJournal::syncLoop() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        wake_.wait(hold, [this] { return wanted_ || stopping_; });
        if (stopping_ && !wanted_) break;
        wanted_ = false;
        const Handle h = handle_;
        syncing_ = true;
        hold.unlock();
        const auto start = std::chrono::steady_clock::now();
        if (h != kNone) dataSync(h);
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        hold.lock();
        syncing_ = false;
        wake_.notify_all();
        if (took > longestSync_) longestSync_ = took;
        // At most once a second: rows wanting a sync meanwhile wait for the next one.
        wake_.wait_for(hold, kSyncSpacing - took, [this] { return stopping_; });
        if (stopping_) break;
    }
    // The last rows before a normal close.
    if (handle_ != kNone) dataSync(handle_);
}

}  // namespace keldrin
