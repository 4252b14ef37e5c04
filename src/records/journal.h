#pragma once
// The crash journal: every row recorded since the last save, appended one record at a
// time as it is recorded, so that a crash or a power cut loses at most the record being
// written. This module only turns records into bytes and bytes back into records.
//
// Layout (integers little-endian):
//   header   "KLDJ", u32 format version (1)
//   records, one after another:
//     u8     start marker FF
//     u8     type: 'H' (48) the eight column headings, 'R' (52) one table row
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
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
std::string headingsRecord(const std::array<std::string, 8>& headings);

// One table row, normally the date and time and eight readings. Throws
// std::length_error past kMaxCells cells or kMaxPayload bytes.
std::string rowRecord(std::span<const std::string_view> cells);

struct Recovered {
    // The headings in force at the last recovered row (with no rows, the last ones in
    // the file); empty where the file holds none.
    std::array<std::string, 8> headings;
    std::vector<std::vector<std::string>> rows;
    // Stretches of damaged bytes between records that check, each dropped.
    std::size_t damaged = 0;
    // The file ends in bytes that are no whole record (cut short while being written,
    // or garbage after a power cut); they are dropped.
    bool tornTail = false;
    // Not a journal of this version (or cut inside its header): nothing is read.
    bool badHeader = false;
};

// Every record in the file that checks, in order. Never fails: damage costs the records
// it touches and no others.
Recovered read(std::string_view file);

}  // namespace keldrin::journal
