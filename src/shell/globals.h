#pragma once
// The program-wide variables, created before the main window and living until the
// process ends. One instance, passed by reference to every handler.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/journal_file.h"

namespace keldrin {

// The journal of rows not yet saved (recording/unsaved_rows.h).
struct UnsavedRowJournal {
    std::unique_ptr<JournalFile> file;    // none: rows are kept in memory only
    std::array<std::string, 8> headings;  // as last written to the file
    bool headingsWritten = false;
    // Rows 1 to savedRows of the table are saved (or were read from a file); the rest
    // are the unsaved rows the file holds.
    int savedRows = 0;
    // A previous run's rows are being rescued from the file: it is appended to, never
    // emptied or replaced, until they are safe elsewhere.
    bool rescuing = false;
    // Writing failed: nothing is appended until the file has been made again, with
    // every unsaved row, which is tried again every retryEvery rows.
    bool failing = false;
    int retryIn = 0;
    int retryEvery = 1;
    bool told = false;           // the operator knows that rows are kept in memory only
    bool toldRecreated = false;  // ... that the file was deleted or replaced and made again
};

struct Globals {
    std::int32_t silenceTicks = 0;
    std::vector<std::int32_t> receiveBuffer;  // one element per received byte, 0..255
    std::int32_t awaitingParameterReply = 0;
    std::array<float, 9> channelValues{};  // channels 1..8; element 0 unused
    std::int64_t sentFrameCount = 0;
    std::int64_t receivedFrameCount = 0;
    std::int32_t nextPollChannel = 0;
    std::vector<std::uint8_t> pollFrame;  // set to its template at start-up
    std::vector<std::uint8_t> bindPayload = std::vector<std::uint8_t>(128, 0);
    std::int32_t crcLength = 0;
    std::int32_t crcValue = 0;
    UnsavedRowJournal unsavedRows;
};

}  // namespace keldrin
