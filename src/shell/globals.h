#pragma once
// The program-wide variables, created before the main window and living until the
// process ends. One instance, passed by reference to every handler.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/channels.h"
#include "core/journal_file.h"

namespace keldrin {

// The journal of rows not yet saved (recording/unsaved_rows.h).
struct UnsavedRowJournal {
    std::unique_ptr<JournalFile> file;    // none: rows are kept in memory only
    Headings headings;  // as last written to the file
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

// The serial link's own upkeep (shell/port_healing.cpp): a port whose device went
// away is opened again by itself, and a link that stays quiet is opened afresh.
struct LinkUpkeep {
    // The device went away: its port is tried again about once a second until it opens
    // or the operator connects by hand.
    bool healing = false;
    std::uint64_t bytesReceived = 0;  // every byte handed to the decoder
    std::uint64_t bytesSeen = 0;      // ... as of the last look
    // Since when no byte has arrived while acquisition runs, on Clock::elapsedMs.
    std::int64_t quietSince = 0;
};

// channelReadAt of a channel that has had no reading: before any time of the clock.
inline constexpr std::int64_t kNeverRead = INT64_MIN;

struct Globals {
    std::int32_t silenceTicks = 0;
    std::vector<std::int32_t> receiveBuffer;  // one element per received byte, 0..255
    std::int32_t awaitingParameterReply = 0;
    PerChannel<float> channelValues{};  // channels 1..8; element 0 unused
    // When each channel last accepted a reading: on the steady clock, and as the local
    // time the operator is shown. A recorded cell is only as good as its age.
    PerChannel<std::int64_t> channelReadAt = [] {
        PerChannel<std::int64_t> never;
        never.fill(kNeverRead);
        return never;
    }();
    PerChannel<std::string> channelReadTime{};
    // The link to each probe since acquisition last started: polls sent, frames accepted.
    PerChannel<std::int64_t> probePolls{};
    PerChannel<std::int64_t> probeFrames{};
    std::int64_t acquisitionStartedAt = 0;  // on the steady clock
    std::int64_t sentFrameCount = 0;
    std::int64_t receivedFrameCount = 0;
    std::int32_t nextPollChannel = 0;
    std::vector<std::uint8_t> pollFrame;  // set to its template at start-up
    std::vector<std::uint8_t> bindPayload = std::vector<std::uint8_t>(128, 0);
    std::int32_t crcLength = 0;
    std::int32_t crcValue = 0;
    UnsavedRowJournal unsavedRows;
    LinkUpkeep link;
    // The acquisition run as published: its id, new at each 启动, and its rows so far.
    std::string publishedRun;
    std::int64_t publishedRows = 0;
};

}  // namespace keldrin
