#pragma once
// The journal file on disk: appended through the operating system at once, locked
// against a second program in the same folder, synced by a worker thread.
#include <QFile>
#include <QLockFile>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/journal_file.h"

namespace keldrin {

class DiskJournal : public JournalFile {
public:
    // Opens path (creating it) and locks it; previous receives what it held. nullptr
    // with the reason when it is locked by another program or cannot be opened.
    static std::unique_ptr<DiskJournal> open(const QString& path, std::string* previous, JournalOpenError* error);
    ~DiskJournal() override;

    bool append(std::string_view bytes) override;
    bool restart(std::string_view bytes) override;
    void syncSoon() override;

    // The longest a data sync took so far (on the worker thread, never the caller's).
    std::chrono::microseconds longestSync() const;

    DiskJournal(const QString& path, std::unique_ptr<QLockFile> lock);

private:
    void syncLoop();

    std::unique_ptr<QLockFile> lock_;
    QFile file_;
    int fd_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool wanted_ = false;
    bool stopping_ = false;
    std::chrono::microseconds longestSync_{0};
    std::thread syncer_;
};

}  // namespace keldrin
