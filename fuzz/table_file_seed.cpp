// Writes the table-file seed of exactly 64 KiB: recorder-like rows (a time and eight
// readings) with the last row's first cell padded to land on the size. Deterministic;
// run as
//   make_table_file_seed > fuzz/corpus/table_file/valid_64k_taken_over
#include <cstdint>
#include <cstdio>
#include <string>

#include "store/record_store.h"
#include "store/table_file.h"

int main() {
    constexpr std::size_t kSize = 64 * 1024;
    keldrin::RecordStore table;
    table.setColumnCount(9);
    std::uint32_t x = 12345;
    auto reading = [&x]() {
        x = x * 1103515245u + 12345u;
        const int v = static_cast<int>((x >> 8) % 200001) - 100000;
        char text[16];
        std::snprintf(text, sizeof text, "%.3f", v / 1000.0);
        return std::string(text);
    };
    // Leaves room for the last row, whose one cell then takes up what is left.
    for (int r = 1; keldrin::tablefile::encode(table).size() < kSize - 200; ++r) {
        table.appendRow();
        char time[32];
        std::snprintf(time, sizeof time, "2026-12-08 10:%02d:%02d.%d00", r / 600 % 60, r / 10 % 60, r % 10);
        table.setCell(r, 1, time);
        for (int c = 2; c <= 9; ++c) table.setCell(r, c, reading());
    }
    table.appendRow();
    const std::size_t empty = keldrin::tablefile::encode(table).size();
    // The empty row's record is its count alone; one cell of n bytes adds its length
    // (1 byte below 128, else 2) and the n bytes.
    const std::size_t left = kSize - empty;
    const std::size_t n = left - 1 < 128 ? left - 1 : left - 2;
    table.setCell(table.rowCount(), 1, std::string(n, 'p'));
    const std::string file = keldrin::tablefile::encode(table);
    if (file.size() != kSize) return 1;
    std::fwrite(file.data(), 1, file.size(), stdout);
    return 0;
}
