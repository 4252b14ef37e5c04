// The crash-journal reader fed arbitrary bytes, twice: as they are, and with the CRC of
// every record-shaped stretch made to match, so that mutations reach the payloads and
// the order of records behind it. What it recovers must have been written there: every
// row is a record of the input, in order, and so are the headings; and the recovered
// journal written again reads back the same, clean.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "store/journal.h"
#include "targets/targets.h"

namespace keldrin::fuzz {

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

std::string rowRecord(const std::vector<std::string>& cells) {
    const std::vector<std::string_view> views(cells.begin(), cells.end());
    return journal::rowRecord(views);
}

void check(std::string_view bytes) {
    const journal::Recovered r = journal::read(bytes);
    // A damaged header costs no record: those that check are read all the same.
    if (!r.badHeader) require(bytes.substr(0, std::min(bytes.size(), journal::kHeaderSize)) == journal::header().substr(0, std::min(bytes.size(), journal::kHeaderSize)));
    // Each damaged stretch lies between two records and takes a byte at least.
    require(r.damaged <= bytes.size());

    std::size_t at = 0;
    for (const auto& row : r.rows) {
        const std::string record = rowRecord(row);
        const std::size_t found = bytes.find(record, at);
        require(found != std::string_view::npos);
        at = found + record.size();
    }
    const std::string headings = journal::headingsRecord(r.headings);
    bool anyHeading = false;
    for (const std::string& h : r.headings) anyHeading = anyHeading || !h.empty();
    if (anyHeading) require(bytes.find(headings) != std::string_view::npos);

    std::string again = journal::header() + headings;
    for (const auto& row : r.rows) again += rowRecord(row);
    const journal::Recovered back = journal::read(again);
    require(!back.badHeader && !back.tornTail && back.damaged == 0);
    require(back.rows == r.rows && back.headings == r.headings);
}

// Writes the right CRC into every stretch that has a record's frame: a marker, and a
// length that the bytes after it can hold.
std::string reseal(std::string bytes) {
    std::size_t pos = journal::kHeaderSize;
    while (pos < bytes.size() && bytes.size() - pos >= journal::kFrameSize) {
        std::uint32_t length = 0;
        for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(bytes[pos + 2 + static_cast<std::size_t>(i)]);
        if (static_cast<unsigned char>(bytes[pos]) != journal::kMarker ||
            length > bytes.size() - pos - journal::kFrameSize) {
            ++pos;
            continue;
        }
        const std::uint32_t sum = static_cast<std::uint32_t>(
            crc32(0L, reinterpret_cast<const Bytef*>(bytes.data() + pos + 1), static_cast<uInt>(5 + length)));
        for (int i = 0; i < 4; ++i) bytes[pos + 6 + length + static_cast<std::size_t>(i)] = static_cast<char>(sum >> (8 * i));
        pos += journal::kFrameSize + length;
    }
    return bytes;
}

}  // namespace

void journalOne(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    check(bytes);
    const std::string sealed = reseal(bytes);
    if (sealed != bytes) check(sealed);
}

}  // namespace keldrin::fuzz
