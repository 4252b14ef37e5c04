#include "platform/disk_journal.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace keldrin {

namespace {

constexpr auto kSyncSpacing = std::chrono::seconds(1);

void dataSync(int fd) {
#ifdef _WIN32
    _commit(fd);
#elif defined(__APPLE__)
    fsync(fd);
#else
    fdatasync(fd);
#endif
}

}  // namespace

std::unique_ptr<DiskJournal> DiskJournal::open(const QString& path, std::string* previous, JournalOpenError* error) {
    auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    // A lock left by a program that was killed is stale (its process is gone) and is
    // taken over; a running program's lock is not.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (error) *error = lock->error() == QLockFile::LockFailedError ? JournalOpenError::Locked : JournalOpenError::Failed;
        return nullptr;
    }
    auto journal = std::make_unique<DiskJournal>(path, std::move(lock));
    QFile& f = journal->file_;
    if (!f.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error) *error = JournalOpenError::Failed;
        return nullptr;
    }
    if (previous) {
        f.seek(0);
        const QByteArray all = f.readAll();
        previous->assign(all.constData(), static_cast<std::size_t>(all.size()));
    }
    journal->fd_ = f.handle();
    journal->syncer_ = std::thread([j = journal.get()] { j->syncLoop(); });
    if (error) *error = JournalOpenError::None;
    return journal;
}

DiskJournal::DiskJournal(const QString& path, std::unique_ptr<QLockFile> lock) : lock_(std::move(lock)), file_(path) {}

DiskJournal::~DiskJournal() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (syncer_.joinable()) syncer_.join();
    file_.close();
}

bool DiskJournal::append(std::string_view bytes) {
    // Unbuffered: the bytes are in the operating system when write() returns.
    return file_.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
}

bool DiskJournal::restart(std::string_view bytes) {
    if (!file_.resize(0)) return false;
    if (!append(bytes)) return false;
    syncSoon();
    return true;
}

void DiskJournal::syncSoon() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        wanted_ = true;
    }
    wake_.notify_one();
}

std::chrono::microseconds DiskJournal::longestSync() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return longestSync_;
}

void DiskJournal::syncLoop() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        wake_.wait(hold, [this] { return wanted_ || stopping_; });
        if (stopping_ && !wanted_) return;
        wanted_ = false;
        hold.unlock();
        const auto start = std::chrono::steady_clock::now();
        dataSync(fd_);
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        hold.lock();
        if (took > longestSync_) longestSync_ = took;
        // At most once a second: rows wanting a sync meanwhile wait for the next one.
        wake_.wait_for(hold, kSyncSpacing - took, [this] { return stopping_; });
        if (stopping_) {
            hold.unlock();
            dataSync(fd_);  // the last rows before a normal close
            return;
        }
    }
}

}  // namespace keldrin
