#pragma once
// The table file written by 存到文件 and read by 从文件读.
//
// Layout (integers little-endian):
//   8 bytes  magic  89 4B 4C 44 54 0D 0A 1A  ("\x89KLDT\r\n\x1A")
//   u32      format version (2)
//   u32      row count, u32 column count
//   per row: varint(cell count), at most the column count, then per cell varint(byte
//            length) and the text; cells past the count are empty. Varints are
//            little-endian base 128 in their shortest form.
//   4 bytes  end marker "KEND"
//   u64      checksum (below) of every byte before it
// The magic's high byte and CR LF catch text-mode transfers; the checksum catches the
// rest. Every row takes at least one byte, so a row count that the file cannot really
// hold is refused before anything is allocated for it.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace keldrin {

class RecordStore;

namespace tablefile {

inline constexpr std::string_view kMagic{"\x89KLDT\r\n\x1A", 8};
inline constexpr std::string_view kEndMarker{"KEND", 4};
inline constexpr std::uint32_t kVersion = 2;
inline constexpr std::size_t kHeaderSize = 8 + 4 + 4 + 4;
// Larger files are refused unread: no recording comes near it.
inline constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFu;

// Why a file is not taken as a table. The handlers word it for the operator.
enum class Refusal {
    None,            // taken
    Empty,           // no bytes at all
    Foreign,         // not this program's table file
    Truncated,       // shorter than a header and trailer
    Version,         // another version of the format
    TooLarge,        // beyond kMaxFileSize
    TooManyColumns,  // more columns than any table of this program
    RowCount,        // more or fewer rows than the bytes can hold
    NoEndMarker,     // cut short, or damaged at its end
    Checksum,        // damaged
    BadRows,         // rows that do not fill the file or do not fit the columns
};

// What can be told from the first kHeaderSize bytes and the file's size alone: that it
// is this program's table file, of this version, within kMaxFileSize, and with counts
// its size can hold. Lets a reader refuse a file before reading the bulk of it.
Refusal checkHeader(std::string_view head, std::uint64_t size);

// Streams the whole table to sink in pieces; false as soon as sink fails.
bool write(const RecordStore& table, const std::function<bool(std::string_view)>& sink);
// The whole file in memory (for small tables and tests).
std::string encode(const RecordStore& table);

// Checks bytes as a whole and replaces into's table with the file's, whose memory the
// bytes then are (see RecordStore::replaceWithRows). Refused, into and bytes are left as
// they were.
Refusal read(std::string&& bytes, RecordStore& into);
// The same for bytes that stay the caller's: they are copied first.
Refusal read(std::string_view bytes, RecordStore& into);

// XXH64 with seed 0: four independent multiply-and-rotate lanes over 8-byte words, so
// it keeps up with memory where a byte-wise CRC does not. Fed in pieces of any size, it
// gives what one call over the whole would.
class Checksum {
public:
    Checksum();
    void update(std::string_view bytes);
    std::uint64_t digest() const;

private:
    std::uint64_t lane_[4];
    std::uint64_t total_ = 0;
    unsigned char held_[32];
    std::size_t heldSize_ = 0;
};

std::uint64_t checksum(std::string_view bytes);

}  // namespace tablefile
}  // namespace keldrin
