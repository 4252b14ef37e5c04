#pragma once
// The file of rows recorded but not yet saved. One program at a time holds it open and
// locked; rows are appended as they are recorded and brought to the disk in the
// background, so that a crash or a power cut costs at most the last second.
#include <string_view>

namespace keldrin {

class JournalFile {
public:
    virtual ~JournalFile() = default;
    // Handed to the operating system before it returns, so a killed process loses
    // nothing appended; false when that failed (a full disk).
    virtual bool append(std::string_view bytes) = 0;
    // Empties the file and makes bytes its new start; false when that failed.
    virtual bool restart(std::string_view bytes) = 0;
    // Asks for what was appended to reach the disk: done in the background, at most
    // once a second, so the caller never waits on the disk.
    virtual void syncSoon() = 0;
};

enum class JournalOpenError { None, Locked, Failed };

}  // namespace keldrin
