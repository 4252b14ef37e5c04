// Feeds arbitrary bytes to the table-file reader, twice: as they are, and with the
// checksum made to match, so that mutations reach the structure behind the checksum.
// A file the reader accepts must also be written back byte for byte and read the same
// way when its bytes are taken over; a refused one must leave the table empty and give
// a reason. The same bytes also go to the store as raw row records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/record_store.h"
#include "platform/table_file.h"

namespace {

void check(const std::string& bytes) {
    keldrin::RecordStore table;
    std::string why;
    if (!keldrin::tablefile::read(bytes, table, &why)) {
        if (why.empty() || table.rowCount() != 0) std::abort();
        return;
    }
    if (keldrin::tablefile::encode(table) != bytes) std::abort();
    keldrin::RecordStore taken;
    std::string copy = bytes;
    if (!keldrin::tablefile::readOwned(std::move(copy), taken, &why)) std::abort();
    if (keldrin::tablefile::encode(taken) != bytes) std::abort();
}

// The first byte gives the column count and the second the row count; the rest must be
// exactly that many records, or nothing is appended.
void records(std::string_view bytes) {
    if (bytes.size() < 2) return;
    keldrin::RecordStore table;
    table.setColumnCount(static_cast<unsigned char>(bytes[0]) % 16);
    table.appendRow();  // rows already there must survive a refusal untouched
    table.setCell(1, 1, "x");
    const std::size_t count = static_cast<unsigned char>(bytes[1]);
    std::string_view recs = bytes.substr(2);
    const bool hasColumn = table.columnCount() > 0;
    if (!table.appendRowRecords(recs, count)) {
        if (table.rowCount() != 1 || table.rowRecord(1) != (hasColumn ? std::string_view("\x01\x01x", 3) : std::string_view("\0", 1))) {
            std::abort();
        }
        return;
    }
    std::string back;
    for (int r = 2; r <= table.rowCount(); ++r) {
        back.append(table.rowRecord(r));
        for (int c = 1; c <= table.columnCount(); ++c) (void)table.cell(r, c).size();
    }
    if (back != recs || table.rowCount() != static_cast<int>(count) + 1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    check(bytes);
    records(bytes);
    if (bytes.size() >= 8) {
        std::uint64_t sum = keldrin::tablefile::checksum(std::string_view(bytes).substr(0, bytes.size() - 8));
        for (int i = 0; i < 8; ++i) bytes[bytes.size() - 8 + i] = static_cast<char>(sum >> (8 * i));
        check(bytes);
    }
    return 0;
}
