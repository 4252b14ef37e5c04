#pragma once
// The table file written by 存到文件 and read by 从文件读.
//
// Layout (integers little-endian):
//   8 bytes  magic  89 4B 4C 44 54 0D 0A 1A  ("\x89KLDT\r\n\x1A")
//   u32      format version (2)
//   u32      row count, u32 column count
//   per row: the row's record as the store holds it: varint(cell count), at most the
//            column count, then per cell varint(byte length) and the text; cells past
//            the count are empty. Varints are in their shortest form.
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
// Larger files are refused unread. The store takes a file's bytes over as one piece,
// addressed with 32-bit offsets, and no recording comes near it.
inline constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFu;

// What can be told from the first kHeaderSize bytes and the file's size alone: that it
// is this program's table file, of this version, within kMaxFileSize, and with counts
// its size can hold. Lets a reader refuse a file before reading the bulk of it.
bool checkHeader(std::string_view head, std::uint64_t size, std::string* error);

// Streams the whole table to sink in pieces; false as soon as sink fails.
bool write(const RecordStore& table, const std::function<bool(std::string_view)>& sink);
// The whole file in memory (for small tables and tests).
std::string encode(const RecordStore& table);

// Validates bytes as a whole and fills into (which must be empty) with its table. On
// failure into is left empty and error says why, in Chinese. accepted, when given,
// runs once the whole file is known good and before the new table is built: the place
// to let go of the table it will replace, so that the old table, the file's bytes and
// the new table are never all held at once. Files beyond kMaxFileSize are refused.
bool read(std::string_view bytes, RecordStore& into, std::string* error,
          const std::function<void()>& accepted = {});
// The same, but a file read whole is taken over as the new table's storage instead of
// copied: bytes is moved from on success only. Nothing is built beside the bytes but
// the rows' index, so accepted runs once that is done.
bool readOwned(std::string&& bytes, RecordStore& into, std::string* error, const std::function<void()>& accepted = {});

// A 64-bit checksum built like XXH64: four independent multiply-and-rotate lanes over
// 8-byte words, so it keeps up with memory where a byte-table CRC does not. Fed in
// pieces of any size, it gives what one call over the whole would.
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
