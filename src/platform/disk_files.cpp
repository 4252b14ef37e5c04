#include "platform/disk_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace keldrin {

namespace {

QString q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A plain Chinese reason for a failed file operation.
std::string reason(QFileDevice::FileError e, const QString& detail) {
    std::string why;
    switch (e) {
        case QFileDevice::OpenError: why = "无法打开文件"; break;
        case QFileDevice::WriteError: why = "写入失败（磁盘可能已满）"; break;
        case QFileDevice::ReadError: why = "读取失败"; break;
        case QFileDevice::PermissionsError: why = "没有权限"; break;
        case QFileDevice::RenameError: why = "无法替换原文件"; break;
        default: why = "文件操作失败"; break;
    }
    if (!detail.isEmpty()) why += "：" + detail.toStdString();
    return why;
}

class AtomicOut : public OutFile {
public:
    explicit AtomicOut(const QString& path) : file_(path) {}
    bool open(std::string* error) {
        if (file_.open(QIODevice::WriteOnly)) return true;
        if (error) *error = reason(file_.error(), file_.errorString());
        return false;
    }
    bool write(std::string_view bytes) override {
        return file_.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
               static_cast<qint64>(bytes.size());
    }
    bool commit(std::string* error) override {
        if (file_.commit()) return true;  // flushes, then renames over the target
        if (error) *error = reason(file_.error(), file_.errorString());
        return false;
    }

private:
    QSaveFile file_;
};

class NewOut : public OutFile {
public:
    explicit NewOut(const QString& path) : file_(path) {}
    bool open(std::string* error) {
        if (file_.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return true;
        if (error) {
            *error = file_.exists() ? std::string("文件已存在") : reason(file_.error(), file_.errorString());
        }
        return false;
    }
    bool write(std::string_view bytes) override {
        return file_.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
               static_cast<qint64>(bytes.size());
    }
    bool commit(std::string* error) override {
        bool ok = file_.flush();
        if (!ok && error) *error = reason(file_.error(), file_.errorString());
        file_.close();
        return ok && file_.error() == QFileDevice::NoError;
    }

private:
    QFile file_;
};

}  // namespace

std::string DiskFiles::path(const std::string& name) const {
    if (base_.empty() || QDir::isAbsolutePath(q(name))) return name;
    return QDir(q(base_)).filePath(q(name)).toStdString();
}

std::optional<std::string> DiskFiles::readAll(const std::string& name) {
    QFile f(q(path(name)));
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    // Read straight into the result: a large table file is held once, not twice.
    std::string data;
    const qint64 size = f.size();
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
    // Files whose size is not known up front (pipes, some special files).
    for (char buf[65536];;) {
        qint64 n = f.read(buf, sizeof buf);
        if (n <= 0) break;
        data.append(buf, static_cast<std::size_t>(n));
    }
    if (f.error() != QFileDevice::NoError) return std::nullopt;
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

std::unique_ptr<OutFile> DiskFiles::createAtomic(const std::string& name, std::string* error) {
    auto out = std::make_unique<AtomicOut>(q(path(name)));
    if (!out->open(error)) return nullptr;
    return out;
}

std::unique_ptr<OutFile> DiskFiles::createNew(const std::string& name, std::string* error) {
    auto out = std::make_unique<NewOut>(q(path(name)));
    if (!out->open(error)) return nullptr;
    return out;
}

}  // namespace keldrin
