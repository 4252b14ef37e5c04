#pragma once
// The file of rows recorded but not yet saved. One program at a time holds it open and
// locked; rows are appended as they are recorded and brought to the disk in the
// background, so that a crash or a power cut costs at most the last second.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace keldrin {

// Why a file could not be read or written. The adapters report these; the handlers
// word them for the operator.
enum class FileFault {
    None,         // no reason known: the file is missing or cannot be opened
    Open,         // as the system reports them, with its own words in detail
    Write,
    Read,
    Permissions,
    Rename,
    Other,
    Exists,       // to be created exclusively, but the name is taken
    Directory,    // not a regular file: a folder,
    Fifo,         // a pipe,
    Device,       // a device,
    NotRegular,   // or something else
    TooLarge,     // larger than the caller takes
};

struct FileError {
    FileFault fault = FileFault::None;
    std::string detail;  // the system's description, when it gave one
};

// A file being written. Nothing is visible under the final name until commit()
// succeeds; what commit() put there is on the disk. Dropped uncommitted, it leaves
// nothing behind.
class OutFile {
public:
    virtual ~OutFile() = default;
    virtual bool write(std::string_view bytes) = 0;
    // Flushes, syncs and names the file; false with the reason when that fails.
    virtual bool commit(FileError* error) = 0;
};

class JournalFile {
public:
    virtual ~JournalFile() = default;
    // What the file held when it was opened (a previous run's rows), read in pieces:
    // never whole, whatever its size. Reads up to to.size() bytes at offset; the count,
    // 0 at the end, -1 when reading failed.
    virtual std::uint64_t previousSize() const = 0;
    virtual std::int64_t readPrevious(std::uint64_t offset, std::span<char> to) = 0;
    // Handed to the operating system before it returns, so a killed process loses
    // nothing appended; false when that failed (a full disk).
    virtual bool append(std::string_view bytes) = 0;
    // Empties the file in place and makes bytes its new start; needs no free space to
    // empty it. False when that failed.
    virtual bool restart(std::string_view bytes) = 0;
    // A whole new content, written beside the journal: its commit() syncs it, puts it
    // at the journal's name in one step (so a kill leaves the old content or the new
    // one there, never a mix) and makes it this journal, lock and all. Also brings the
    // journal back when its file was deleted or replaced; fails when another program
    // holds what is at the name now.
    virtual std::unique_ptr<OutFile> replacement(FileError* error) = 0;
    // Asks for what was appended to reach the disk: done in the background, at most
    // once a second, so the caller never waits on the disk.
    virtual void syncSoon() = 0;
    // Brings what was appended to the disk before it returns; false when that failed.
    virtual bool syncNow() = 0;
    // False when the file at the journal's name is no longer this one: deleted, renamed
    // away or replaced.
    virtual bool atItsName() = 0;
    // Renames what is at the journal's name to name (not over an existing file) and
    // syncs the folder; this journal keeps its file until a replacement takes the name.
    virtual bool keepAside(const std::string& name) = 0;
};

enum class JournalOpenError { None, Locked, NotRegular, Failed };

}  // namespace keldrin
