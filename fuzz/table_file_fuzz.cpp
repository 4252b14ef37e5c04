// Feeds arbitrary bytes to the table-file reader. A file it accepts must also survive
// a write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/record_store.h"
#include "platform/table_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    keldrin::RecordStore table;
    std::string why;
    if (!keldrin::tablefile::read(bytes, table, &why)) {
        if (why.empty() || table.rowCount() != 0) std::abort();
        return 0;
    }
    // The format has one encoding per table, so an accepted file is written back byte for byte.
    if (keldrin::tablefile::encode(table) != bytes) std::abort();
    return 0;
}
