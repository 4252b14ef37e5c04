#pragma once
// Every call the program makes of the operating system's file interface, on POSIX and
// on Windows: opening with a lock, a file's identity, reading and writing, data sync of
// a file and of a folder, renaming. DiskFiles and DiskJournal make them through one
// SystemFiles (the system's own unless they are given another), so that what reaches
// the disk, and in which order, can be watched.
#include <QString>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/journal_file.h"

class QFile;
class QFileDevice;

namespace keldrin {

class SystemFiles {
public:
#ifdef _WIN32
    using Handle = void*;
#else
    using Handle = int;
#endif
    virtual ~SystemFiles() = default;
    // The operating system's own calls.
    static SystemFiles& system();
    // The handle that stands for no file.
    static Handle none();

    // A regular file at path, opened for appending and locked with a lock that ends with
    // the process (flock; LockFileEx); none() with the reason otherwise.
    virtual Handle openLocked(const QString& path, bool create, JournalOpenError* error);
    // Closes h, releasing its lock; harmless for none().
    virtual void close(Handle h);
    // True when path names the file h has open. A path that cannot be looked at counts
    // as the same file: only a name that is gone or names another file counts as moved.
    virtual bool sameFile(Handle h, const QString& path);
    // Appends all of bytes at the file's end; false when the system took less.
    virtual bool write(Handle h, std::string_view bytes);
    // Up to to.size() bytes at offset: the count, 0 at the end, -1 on failure.
    virtual std::int64_t readAt(Handle h, std::uint64_t offset, std::span<char> to);
    // Empties the file in place.
    virtual bool truncate(Handle h);
    // Brings the file's data to the disk.
    virtual bool dataSync(Handle h);
    virtual std::uint64_t size(Handle h);
    // Whether another program holds the file at path locked (mine being ours).
    virtual bool heldByOther(const QString& path, Handle mine);
    // Renames from over to in one step (written through on Windows).
    virtual bool renameOver(const QString& from, const QString& to);

    // Opens path for reading into file when it is a regular file. The type is looked at
    // before the open, because opening is itself the harm: a FIFO waits for a writer, a
    // serial device changes its modem lines. False with nothing in *error when the file
    // is missing or cannot be opened, with the reason when it is no regular file.
    virtual bool openRegular(QFile& file, const QString& path, FileError* error);
    // Data sync of a file Qt has open; false when the system reports a failure.
    virtual bool syncData(QFileDevice& file);
    // Brings the entries of the folder holding path (a file just created, renamed or
    // removed there) to the disk. Windows keeps them with the rename itself
    // (renameNoReplace asks for write-through), so there it does nothing.
    virtual bool syncFolderOf(const QString& path);
    // Renames from to to, failing when to exists; on Windows the rename is written
    // through before it returns.
    virtual bool renameNoReplace(const QString& from, const QString& to);
};

}  // namespace keldrin
