#include "platform/disk_files.h"
#include "platform/qstring_utf8.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QRandomGenerator>
#include <algorithm>

#include "platform/disk_journal.h"


namespace keldrin {

namespace {

// What went wrong, as Qt reports it.
FileError fault(const QFileDevice& f) {
    FileFault why;
    switch (f.error()) {
        case QFileDevice::OpenError: why = FileFault::Open; break;
        case QFileDevice::WriteError: why = FileFault::Write; break;
        case QFileDevice::ReadError: why = FileFault::Read; break;
        case QFileDevice::PermissionsError: why = FileFault::Permissions; break;
        case QFileDevice::RenameError: why = FileFault::Rename; break;
        default: why = FileFault::Other; break;
    }
    return {why, f.errorString().toStdString()};
}

bool refuse(FileError* error, FileFault why) {
    if (error) *error = {why, {}};
    return false;
}

// The one way a written file reaches its name: written beside it, brought to the disk,
// then given the name, and the name brought to the disk before commit() returns, so
// that the caller may then forget what the file holds (the journal's rows).
class CommittedOut : public OutFile {
public:
    bool write(std::string_view bytes) override {
        return file().write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
    }
    bool commit(FileError* error) override {
        if (!sys_.syncData(file())) {
            if (error) *error = {FileFault::Write, syncFailure()};
            abandon();
            return false;
        }
        if (!takeName(error)) return false;
        // Should this fail, the file is whole under its name all the same; only a power
        // cut in the next moments could take the name back.
        sys_.syncFolderOf(path_);
        return true;
    }

protected:
    CommittedOut(SystemFiles& sys, const QString& path) : sys_(sys), path_(path) {}
    virtual QFileDevice& file() = 0;
    // What the system said when the data would not reach the disk.
    virtual std::string syncFailure() { return {}; }
    virtual void abandon() {}
    // Gives the synced file its name; false with the reason when that failed.
    virtual bool takeName(FileError* error) = 0;

    SystemFiles& sys_;
    const QString path_;
};

// Replaces a file whole: QSaveFile writes beside it and renames over it.
class AtomicOut : public CommittedOut {
public:
    AtomicOut(SystemFiles& sys, const QString& path) : CommittedOut(sys, path), file_(path) {}
    bool open(FileError* error) {
        if (file_.open(QIODevice::WriteOnly)) return true;
        if (error) *error = fault(file_);
        return false;
    }

private:
    QFileDevice& file() override { return file_; }
    void abandon() override { file_.cancelWriting(); }  // the temporary file goes with file_
    bool takeName(FileError* error) override {
        if (file_.commit()) return true;  // renames over the target
        if (error) *error = fault(file_);
        return false;
    }
    QSaveFile file_;
};

// A new file: written under a temporary name beside it, and never over a file that
// appeared meanwhile; a kill or a full disk never leaves part of a file under its name.
class NewOut : public CommittedOut {
public:
    NewOut(SystemFiles& sys, const QString& path) : CommittedOut(sys, path) {}
    ~NewOut() override {
        if (committed_ || file_.fileName().isEmpty()) return;
        file_.close();
        QFile::remove(file_.fileName());  // never left behind under any name
    }
    bool open(FileError* error) {
        if (QFileInfo::exists(path_) || QFileInfo(path_).isSymLink()) {
            if (error) *error = {FileFault::Exists, {}};
            return false;
        }
        // Written beside its name, which it takes only when whole. A plain file rather
        // than a QTemporaryFile, which keeps its handle open after close(): Windows
        // cannot rename an open file.
        for (int attempt = 0; attempt < 16; ++attempt) {
            file_.setFileName(path_ + QStringLiteral(".") +
                              QString::number(QRandomGenerator::global()->generate() % 0x1000000, 36));
            if (file_.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return true;
            if (!file_.exists()) break;  // not the name's fault
        }
        if (error) *error = fault(file_);
        file_.setFileName(QString());
        return false;
    }

private:
    QFileDevice& file() override { return file_; }
    std::string syncFailure() override { return file_.errorString().toStdString(); }
    bool takeName(FileError* error) override {
        file_.close();
        if (!sys_.renameNoReplace(file_.fileName(), path_)) {
            if (error) *error = QFileInfo::exists(path_) ? FileError{FileFault::Exists, {}} : FileError{FileFault::Rename, {}};
            return false;  // the file beside goes with this object
        }
        committed_ = true;
        return true;
    }
    QFile file_;
    bool committed_ = false;
};

}  // namespace

std::string DiskFiles::path(const std::string& name) const {
    if (base_.empty() || QDir::isAbsolutePath(q(name))) return name;
    return QDir(q(base_)).filePath(q(name)).toStdString();
}

std::optional<std::string> DiskFiles::readAll(const std::string& name, std::uint64_t maxBytes, FileError* error) {
    QFile f;
    if (!sys_.openRegular(f, q(path(name)), error)) return std::nullopt;
    const qint64 size = f.size();
    if (static_cast<std::uint64_t>(std::max<qint64>(size, 0)) > maxBytes) {
        refuse(error, FileFault::TooLarge);
        return std::nullopt;
    }
    // Read straight into the result: a large table file is held once, not twice.
    std::string data;
    if (size > 0) {
        data.resize(static_cast<std::size_t>(size));
        qint64 got = 0;
        while (got < size) {
            qint64 n = f.read(data.data() + got, size - got);
            if (n <= 0) break;
            got += n;
        }
        data.resize(static_cast<std::size_t>(got));
    }
    // Whatever lies past the size found at the open (a file still growing, or one whose
    // size reads as 0, as under /proc), within the same limit.
    for (char buf[65536];;) {
        qint64 n = f.read(buf, sizeof buf);
        if (n <= 0) break;
        if (static_cast<std::uint64_t>(n) > maxBytes - data.size()) {
            refuse(error, FileFault::TooLarge);
            return std::nullopt;
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
    if (f.error() != QFileDevice::NoError) {
        if (error) *error = fault(f);
        return std::nullopt;
    }
    return data;
}

std::optional<std::string> DiskFiles::readPrefix(const std::string& name, std::size_t maxBytes, FileError* error,
                                                 std::uint64_t* size) {
    QFile f;
    if (!sys_.openRegular(f, q(path(name)), error)) return std::nullopt;
    if (size) *size = static_cast<std::uint64_t>(std::max<qint64>(f.size(), 0));
    std::string data;
    for (char buf[4096]; data.size() < maxBytes;) {
        qint64 n = f.read(buf, static_cast<qint64>(std::min(sizeof buf, maxBytes - data.size())));
        if (n <= 0) break;
        data.append(buf, static_cast<std::size_t>(n));
    }
    if (f.error() != QFileDevice::NoError) {
        if (error) *error = fault(f);
        return std::nullopt;
    }
    return data;
}

bool DiskFiles::remove(const std::string& name) { return QFile::remove(q(path(name))); }

bool DiskFiles::writeAll(const std::string& name, std::string_view bytes) {
    QFile f(q(path(name)));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    bool ok = f.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
    return f.flush() && ok;
}

bool DiskFiles::exists(const std::string& name) { return QFileInfo::exists(q(path(name))); }

std::unique_ptr<OutFile> DiskFiles::createAtomic(const std::string& name, FileError* error) {
    auto out = std::make_unique<AtomicOut>(sys_, q(path(name)));
    if (!out->open(error)) return nullptr;
    return out;
}

std::unique_ptr<OutFile> DiskFiles::createNew(const std::string& name, FileError* error) {
    auto out = std::make_unique<NewOut>(sys_, q(path(name)));
    if (!out->open(error)) return nullptr;
    return out;
}

std::unique_ptr<JournalFile> DiskFiles::openJournal(const std::string& name, JournalOpenError* error) {
    return DiskJournal::open(q(path(name)), error, sys_);
}

}  // namespace keldrin
