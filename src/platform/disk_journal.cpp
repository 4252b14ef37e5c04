#include "platform/disk_journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>


namespace keldrin {

namespace {

constexpr auto kSyncSpacing = std::chrono::seconds(1);
using Handle = DiskJournal::Handle;
const Handle kNone = SystemFiles::none();


}  // namespace

// The journal's next content, written beside it under the name with ".new" added and
// locked from the start, so that the lock is already on it when it takes the name.
class DiskJournal::Replacement : public OutFile {
public:
    Replacement(DiskJournal& journal, Handle h, QString path) : journal_(journal), handle_(h), path_(std::move(path)) {}
    ~Replacement() override {
        if (handle_ == kNone) return;
        journal_.sys_.close(handle_);
        QFile::remove(path_);
    }
    bool write(std::string_view bytes) override { return ok_ = ok_ && journal_.sys_.write(handle_, bytes); }
    bool commit(FileError* error) override {
        auto fail = [&](FileFault why) {
            if (error) *error = {why, {}};
            return false;
        };
        if (!ok_ || !journal_.sys_.dataSync(handle_)) return fail(FileFault::Write);
        if (journal_.heldByAnother()) return fail(FileFault::Exists);
        bool renamed = journal_.sys_.renameOver(path_, journal_.path_);
#ifdef _WIN32
        if (!renamed) {
            // Older Windows will not rename over a file that is open, shared for
            // deleting or not: let go of the old one and try once more.
            journal_.take(kNone);
            renamed = journal_.sys_.renameOver(path_, journal_.path_);
            if (!renamed) {
                JournalOpenError ignored;
                journal_.take(journal_.sys_.openLocked(journal_.path_, false, &ignored));
                return fail(FileFault::Rename);
            }
        }
#endif
        if (!renamed) return fail(FileFault::Rename);
        journal_.sys_.syncFolderOf(journal_.path_);
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

std::unique_ptr<DiskJournal> DiskJournal::open(const QString& path, JournalOpenError* error, SystemFiles& sys) {
    JournalOpenError why = JournalOpenError::Failed;
    // A program making a replacement may rename it over the name between the open and
    // the lock: what is locked must be what is at the name.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const Handle h = sys.openLocked(path, true, &why);
        if (h == kNone) break;
        if (!sys.sameFile(h, path)) {
            sys.close(h);
            continue;
        }
        std::unique_ptr<DiskJournal> journal(new DiskJournal(sys, path, h, sys.size(h)));
        journal->syncer_ = std::thread([j = journal.get()] { j->syncLoop(); });
        if (error) *error = JournalOpenError::None;
        return journal;
    }
    if (error) *error = why;
    return nullptr;
}

DiskJournal::DiskJournal(SystemFiles& sys, const QString& path, Handle h, std::uint64_t size)
    : sys_(sys), path_(path), handle_(h), previousSize_(size) {}

DiskJournal::~DiskJournal() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (syncer_.joinable()) syncer_.join();
    sys_.close(handle_);
}

std::int64_t DiskJournal::readPrevious(std::uint64_t offset, std::span<char> to) {
    if (handle_ == kNone) return -1;
    if (offset >= previousSize_) return 0;
    return sys_.readAt(handle_, offset, to.first(static_cast<std::size_t>(std::min<std::uint64_t>(to.size(), previousSize_ - offset))));
}

bool DiskJournal::append(std::string_view bytes) { return handle_ != kNone && sys_.write(handle_, bytes); }

bool DiskJournal::restart(std::string_view bytes) {
    if (handle_ == kNone || !sys_.truncate(handle_)) return false;
    if (!append(bytes)) return false;
    syncSoon();
    return true;
}

std::unique_ptr<OutFile> DiskJournal::replacement(FileError* error) {
    const QString temp = path_ + QStringLiteral(".new");
    JournalOpenError why = JournalOpenError::Failed;
    const Handle h = sys_.openLocked(temp, true, &why);
    if (h == kNone || !sys_.truncate(h)) {
        sys_.close(h);
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

bool DiskJournal::syncNow() { return handle_ != kNone && sys_.dataSync(handle_); }

bool DiskJournal::atItsName() { return handle_ != kNone && sys_.sameFile(handle_, path_); }

bool DiskJournal::heldByAnother() { return handle_ != kNone && sys_.heldByOther(path_, handle_); }

bool DiskJournal::keepAside(const std::string& name) {
    if (heldByAnother()) return false;
    const QString aside = QFileInfo(path_).dir().filePath(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    if (!sys_.renameNoReplace(path_, aside)) return false;
    sys_.syncFolderOf(path_);
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
    sys_.close(old);
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
        if (h != kNone) sys_.dataSync(h);
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
    if (handle_ != kNone) sys_.dataSync(handle_);
}

}  // namespace keldrin
