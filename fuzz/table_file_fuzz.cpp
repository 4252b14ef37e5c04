// Feeds arbitrary bytes to the table-file reader, twice: as they are, and with the
// checksum made to match, so that mutations reach the structure behind the checksum.
// A file the reader accepts must also be written back byte for byte (one encoding
// per table) and a refused one must leave the table empty and give a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/record_store.h"
#include "platform/table_file.h"

namespace {

void check(std::string_view bytes) {
    keldrin::RecordStore table;
    std::string why;
    if (!keldrin::tablefile::read(bytes, table, &why)) {
        if (why.empty() || table.rowCount() != 0) std::abort();
        return;
    }
    if (keldrin::tablefile::encode(table) != bytes) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    check(bytes);
    if (bytes.size() >= 4) {
        std::uint32_t crc = keldrin::tablefile::crc32(0, std::string_view(bytes).substr(0, bytes.size() - 4));
        for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = static_cast<char>(crc >> (8 * i));
        check(bytes);
    }
    return 0;
}
