#pragma once
// The system's file calls, done as ever and written down in order: which file was
// written, synced or renamed, by its name, so that a test can check that nothing takes
// a name before what it depends on is on the disk.
#include <QFileDevice>
#include <QFileInfo>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system_files.h"

namespace keldrin::test {

class WatchedFiles : public SystemFiles {
public:
    // "write NAME", "sync NAME", "rename FROM TO" and "rename-new FROM TO", names
    // without their folder; copied, as the journal's sync thread adds to it.
    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return calls_;
    }

    Handle openLocked(const QString& path, bool create, JournalOpenError* error) override {
        const Handle h = SystemFiles::openLocked(path, create, error);
        std::lock_guard<std::mutex> hold(mutex_);
        if (h != none()) names_[h] = name(path);
        return h;
    }
    bool write(Handle h, std::string_view bytes) override {
        note("write " + nameOf(h));
        return SystemFiles::write(h, bytes);
    }
    bool dataSync(Handle h) override {
        const bool ok = SystemFiles::dataSync(h);
        note("sync " + nameOf(h));
        return ok;
    }
    bool syncData(QFileDevice& file) override {
        const bool ok = SystemFiles::syncData(file);
        note("sync " + name(file.fileName()));
        return ok;
    }
    bool renameOver(const QString& from, const QString& to) override {
        note("rename " + name(from) + " " + name(to));
        return SystemFiles::renameOver(from, to);
    }
    bool renameNoReplace(const QString& from, const QString& to) override {
        note("rename-new " + name(from) + " " + name(to));
        return SystemFiles::renameNoReplace(from, to);
    }

private:
    static std::string name(const QString& path) { return QFileInfo(path).fileName().toStdString(); }
    std::string nameOf(Handle h) {
        std::lock_guard<std::mutex> hold(mutex_);
        auto it = names_.find(h);
        return it == names_.end() ? std::string("?") : it->second;
    }
    void note(std::string call) {
        std::lock_guard<std::mutex> hold(mutex_);
        calls_.push_back(std::move(call));
    }
    mutable std::mutex mutex_;
    std::map<Handle, std::string> names_;
    std::vector<std::string> calls_;
};

}  // namespace keldrin::test
