#pragma once
// The crash journal: every row recorded since the last save, appended one record at a
// time as it is recorded, so that a crash or a power cut loses at most the record being
// written. This module only turns records into bytes and bytes back into records.
//
// Layout (integers little-endian):
//   header   "KLDJ", u32 format version (1)
//   records, one after another:
//     u8     start marker FF
//     u8     type: 'H' (48) the eight column headings, 'R' (52) one table row,
//            'K' (4B) the rows before it are kept elsewhere (below)
//     u32    payload length, at most kMaxPayload
//     payload: varint(cell count), then per cell varint(byte length) and the text;
//            a headings record holds exactly eight cells, a row at most kMaxCells.
//            Varints are little-endian base 128 in their shortest form.
//     u32    CRC-32 (zlib's) of the type, the length and the payload
// FF never occurs in UTF-8 or GBK text, and a tail the file system left zero-filled
// fails at its first byte, so a reader looking for the next record after damage stops
// at few false starts. Every byte of a record has one meaning (shortest varints, a
// payload filled exactly), so a record that checks is the one that was written.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/channels.h"

namespace keldrin::journal {

inline constexpr std::string_view kMagic{"KLDJ", 4};
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kHeaderSize = 4 + 4;
inline constexpr unsigned char kMarker = 0xFF;
inline constexpr char kHeadingsType = 'H';
inline constexpr char kRowType = 'R';
// Marker, type, length and CRC around the payload.
inline constexpr std::size_t kFrameSize = 1 + 1 + 4 + 4;
// Far beyond any row this program records (nine short cells); a length past it is
// damage, not data.
inline constexpr std::size_t kMaxPayload = std::size_t{1} << 20;
inline constexpr std::size_t kMaxCells = 1024;

// The first bytes of a journal file.
std::string header();

// The column headings (the texts of the eight heading boxes) in force from now on.
// Throws std::length_error past kMaxPayload.
std::string headingsRecord(const Headings& headings);

// One table row, normally the date and time and eight readings. Throws
// std::length_error past kMaxCells cells or kMaxPayload bytes.
std::string rowRecord(std::span<const std::string_view> cells);

// A record saying that the rows before it are kept elsewhere, so that no later reading
// takes them again: with no cell, they were saved (the table was saved, exported,
// emptied or replaced while a previous journal was still being rescued); with one
// cell, the name of the rescue file they were written to, which holds only once that
// file exists (it appears complete or not at all).
inline constexpr char kKeptType = 'K';
std::string keptRecord(std::string_view rescueFile = {});

struct Recovered {
    // The headings in force at the last recovered row (with no rows, the last ones in
    // the file); empty where the file holds none.
    Headings headings;
    std::vector<std::vector<std::string>> rows;
    // Stretches of damaged bytes between records that check, each dropped.
    std::size_t damaged = 0;
    // The file ends in bytes that are no whole record (cut short while being written,
    // or garbage after a power cut); they are dropped.
    bool tornTail = false;
    // The file does not start with this version's header (damaged, or not a journal):
    // the records that check in it are read all the same.
    bool badHeader = false;
};

// Reads a journal front to back through a bounded window, never whole: a record is at
// most kFrameSize + kMaxPayload bytes, so a window of twice that always holds the next
// one whole. Damage costs the records it touches and no others.
class Scanner {
public:
    // Reads up to n bytes at offset into to; the count, 0 at the end, -1 on failure.
    using Source = std::function<std::int64_t(std::uint64_t offset, char* to, std::size_t n)>;
    // Reads [start, end) of what source gives; start 0 looks at the header first.
    Scanner(Source source, std::uint64_t start, std::uint64_t end);

    struct Item {
        char type;                 // kHeadingsType, kRowType or kKeptType
        std::string_view payload;  // valid until the next call
        std::size_t cells;
        std::uint64_t end;         // the offset just past the record
    };
    // The next record that checks; nullopt at the end, when reading failed, or after a
    // window's worth of damage (done() tells which), so that no call takes long.
    std::optional<Item> next();
    bool done() const { return done_; }
    // The file offset reached.
    std::uint64_t offset() const { return bufAt_ + pos_; }

    bool readFailed() const { return readFailed_; }
    bool badHeader() const { return badHeader_; }
    // The file holds nothing but (a beginning of) the header: a journal cut while it
    // was being created.
    bool onlyHeader() const { return onlyHeader_; }
    std::size_t damaged() const { return damaged_; }
    bool tornTail() const { return tornTail_; }

    // Calls f with each cell of a payload next() gave.
    static void eachCell(std::string_view payload, const std::function<void(std::string_view)>& f);

    static constexpr std::size_t kWindow = 2 * (kFrameSize + kMaxPayload);

private:
    bool fill();

    Source source_;
    std::uint64_t end_;
    std::uint64_t bufAt_;  // the file offset of buf_[0]
    std::string buf_;
    std::size_t pos_ = 0;  // the next byte to look at, in buf_
    bool eof_ = false;
    bool done_ = false;
    bool readFailed_ = false;
    bool badHeader_ = false;
    bool onlyHeader_ = false;
    bool inDamage_ = false;
    bool countDamage_ = true;
    std::size_t damaged_ = 0;
    bool tornTail_ = false;
};

// Every record in the file that checks, in order. Rows before a record that keeps them
// elsewhere are dropped when exists says the rescue file it names exists.
Recovered read(std::string_view file, const std::function<bool(const std::string&)>& exists = {});

}  // namespace keldrin::journal
