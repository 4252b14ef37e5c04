#pragma once
// The journal file on disk: appended through the operating system at once, locked with
// an operating-system lock that ends with the process (flock on POSIX, LockFileEx on
// Windows), so no lock outlives a crash; synced by a worker thread.
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/journal_file.h"
#include "platform/system_files.h"

namespace keldrin {

class DiskJournal : public JournalFile {
public:
    using Handle = SystemFiles::Handle;
    // Opens path (creating it) when it is a regular file, and locks it. nullptr with
    // the reason when another program holds it, it is not a regular file or it cannot
    // be opened. Every call it makes of the system goes through sys.
    static std::unique_ptr<DiskJournal> open(const QString& path, JournalOpenError* error,
                                             SystemFiles& sys = SystemFiles::system());
    ~DiskJournal() override;
    DiskJournal(const DiskJournal&) = delete;
    DiskJournal& operator=(const DiskJournal&) = delete;

    std::uint64_t previousSize() const override { return previousSize_; }
    std::int64_t readPrevious(std::uint64_t offset, std::span<char> to) override;
    bool append(std::string_view bytes) override;
    bool restart(std::string_view bytes) override;
    std::unique_ptr<OutFile> replacement(FileError* error) override;
    void syncSoon() override;
    bool syncNow() override;
    bool atItsName() override;
    bool keepAside(const std::string& name) override;

    // The longest a data sync took so far (on the worker thread, never the caller's).
    std::chrono::microseconds longestSync() const;

private:
    class Replacement;
    DiskJournal(SystemFiles& sys, const QString& path, Handle h, std::uint64_t size);
    void syncLoop();
    // Makes h the journal's file; the old one is closed (and its lock released) once
    // the worker thread is not syncing it.
    void take(Handle h);
    // Whether a program other than this one holds the file at the journal's name.
    bool heldByAnother();

    SystemFiles& sys_;
    QString path_;
    Handle handle_;
    std::uint64_t previousSize_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool wanted_ = false;
    bool stopping_ = false;
    bool syncing_ = false;
    std::chrono::microseconds longestSync_{0};
    std::thread syncer_;
};

}  // namespace keldrin
