#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/disk_files.h"
#include "support/full_disk.h"
#include "store/record_store.h"
#include "store/table_file.h"

namespace keldrin {
namespace {

using test::FullDiskFiles;
using tablefile::Refusal;

// The refusals the operator reads as "文件内容无效（…）".
bool invalidContent(Refusal r) {
    return r == Refusal::TooManyColumns || r == Refusal::RowCount || r == Refusal::BadRows;
}

void fill(RecordStore& s, int rows, int cols) {
    s.setColumnCount(cols);
    for (int r = 1; r <= rows; ++r) {
        s.appendRow();
        for (int c = 1; c <= cols; ++c) {
            if ((r + c) % 3 == 0) continue;  // empty cells on purpose
            s.setCell(r, c, c == 2 ? "温度 " + std::to_string(r) : std::to_string(r * 100 + c) + ".5");
        }
    }
}

void expectSame(const RecordStore& a, const RecordStore& b) {
    ASSERT_EQ(a.rowCount(), b.rowCount());
    ASSERT_EQ(a.columnCount(), b.columnCount());
    for (int r = 1; r <= a.rowCount(); ++r) {
        for (int c = 1; c <= a.columnCount(); ++c) ASSERT_EQ(a.cell(r, c), b.cell(r, c)) << r << "," << c;
    }
}

std::string setU32(std::string bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
    return bytes;
}

// Recomputes the checksum, as a hostile file would.
std::string reseal(std::string bytes) {
    std::uint64_t sum = tablefile::checksum(std::string_view(bytes).substr(0, bytes.size() - 8));
    for (int i = 0; i < 8; ++i) bytes[bytes.size() - 8 + i] = static_cast<char>(sum >> (8 * i));
    return bytes;
}

TEST(TableFile, RoundTripKeepsEveryCellExactly) {
    RecordStore original;
    fill(original, 50, 12);  // more than the nine recorded columns
    original.setCell(1, 1, std::string("a,b\r\n\"c\"\0d", 11));
    original.setCell(2, 3, std::string(3 << 20, 'q'));  // larger than the write buffer
    original.setCell(3, 4, "\xCE\xC2\xB6\xC8");          // bytes that are not UTF-8 survive too
    std::string bytes = tablefile::encode(original);
    RecordStore back;
    ASSERT_EQ(tablefile::read(bytes, back), Refusal::None);
    expectSame(original, back);
    EXPECT_EQ(tablefile::encode(back), bytes);

    RecordStore empty;
    empty.setColumnCount(9);
    RecordStore emptyBack;
    ASSERT_EQ(tablefile::read(tablefile::encode(empty), emptyBack), Refusal::None);
    EXPECT_EQ(emptyBack.rowCount(), 0);
    EXPECT_EQ(emptyBack.columnCount(), 9);
}

TEST(TableFile, RefusesEveryTruncationAndEverySingleByteCorruption) {
    RecordStore original;
    fill(original, 6, 9);
    const std::string bytes = tablefile::encode(original);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        RecordStore into;
        ASSERT_NE(tablefile::read(std::string_view(bytes).substr(0, n), into), Refusal::None) << n;
        EXPECT_EQ(into.rowCount(), 0);
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string bad = bytes;
        bad[i] = static_cast<char>(bad[i] ^ 0x20);
        RecordStore into;
        ASSERT_NE(tablefile::read(bad, into), Refusal::None) << i;
        EXPECT_EQ(into.rowCount(), 0);
    }
}

TEST(TableFile, RefusesForeignAndHostileFilesWithAReason) {
    RecordStore into;
    EXPECT_EQ(tablefile::read(std::string_view("时间,1,2,3,4,5,6,7,8,\r\n"), into), Refusal::Foreign);

    RecordStore small;
    fill(small, 2, 9);
    const std::string good = tablefile::encode(small);
    // Four billion rows, or rows times columns beyond the file, with a valid checksum.
    for (auto [rows, cols] : {std::pair<std::uint32_t, std::uint32_t>{0xFFFFFFFFu, 9}, {2, 0x7FFFFFFFu},
                              {0x10000u, 0x10000u}, {3, 9}}) {
        std::string hostile = reseal(setU32(setU32(good, 12, rows), 16, cols));
        Refusal why = tablefile::read(hostile, into);
        EXPECT_TRUE(invalidContent(why)) << rows << "x" << cols << ": " << static_cast<int>(why);
    }
    for (std::uint32_t version : {1u, tablefile::kVersion + 1}) {  // an older layout, a newer one
        EXPECT_EQ(tablefile::read(reseal(setU32(good, 8, version)), into), Refusal::Version);
    }
    // A cell claiming more bytes than the file holds.
    std::string overlong = good;
    overlong[20 + 1] = 0x7F;
    EXPECT_NE(tablefile::read(reseal(overlong), into), Refusal::None);
    EXPECT_EQ(into.rowCount(), 0);
    // A row claiming more cells than the table has columns, every byte of it present.
    RecordStore narrow;
    narrow.setColumnCount(9);
    narrow.appendRow();
    for (int c = 1; c <= 9; ++c) narrow.setCell(1, c, "v");
    std::string wide = tablefile::encode(narrow);
    wide.insert(20 + 1 + 9 * 2, "\x01w", 2);
    wide[20] = 10;
    ASSERT_EQ(wide.size(), tablefile::encode(narrow).size() + 2);
    EXPECT_TRUE(invalidContent(tablefile::read(reseal(wide), into)));
    EXPECT_EQ(tablefile::read(reseal(setU32(wide, 16, 10)), into), Refusal::None);  // fine with ten columns
    EXPECT_EQ(into.cell(1, 10), "w");
}

// A table file of the given counts around body, its checksum right.
std::string fileOf(std::uint32_t rows, std::uint32_t cols, const std::string& body) {
    std::string bytes(tablefile::kMagic);
    bytes.append(12, '\0');
    bytes = setU32(setU32(setU32(bytes, 8, tablefile::kVersion), 12, rows), 16, cols);
    return reseal(bytes + body + std::string(tablefile::kEndMarker) + std::string(8, '\0'));
}

TEST(TableFile, MalformedRowsAreRefusedAndTheTableLeftAsItWas) {
    RecordStore table;
    fill(table, 2, 9);
    const std::string before = tablefile::encode(table);
    const std::string good = std::string("\x02\x01" "a" "\x00", 4);
    ASSERT_EQ(tablefile::read(fileOf(1, 9, good), table), Refusal::None);  // the shape is right
    ASSERT_EQ(tablefile::read(before, table), Refusal::None);
    struct Case {
        const char* what;
        std::string body;
        std::uint32_t rows;
    } cases[] = {
        {"more cells than columns", std::string("\x0A") + std::string(10, '\0'), 1},
        {"a length past the end", std::string("\x01\x05" "abc", 5), 1},
        {"a length past the end of a long buffer", good + std::string("\x01\xFF\xFF\xFF\x0F" "x", 6), 2},
        {"an overlong cell count", std::string("\x81\x00", 2), 1},
        {"an overlong length", std::string("\x01\x80\x00", 3), 1},
        {"a truncated number", std::string("\x01\x80", 2), 1},
        {"bytes left over", good + std::string(1, '\0'), 1},
        {"fewer rows than counted", good, 2},
        {"more rows than bytes", good, 5},
        {"nothing for one row", "", 1},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(invalidContent(tablefile::read(fileOf(c.rows, 9, c.body), table))) << c.what;
        ASSERT_EQ(tablefile::encode(table), before) << c.what;
    }
}

TEST(TableFile, LoadLetsTheOldTableGoOnlyForAGoodFileAndBeforeTakingTheNewOne) {
    QTemporaryDir dir;
    DiskFiles files(dir.path().toStdString());
    RecordStore fileTable;
    fill(fileTable, 3000, 9);  // large enough for its bytes to be taken over, not copied
    ASSERT_TRUE(files.writeAll("day.tbl", tablefile::encode(fileTable)));

    struct Resets : StoreObserver {
        RecordStore* table = nullptr;
        std::vector<int> rowsSeen;
        void rowsAppended(int, int) override {}
        void cellChanged(int, int) override {}
        void tableReset() override { rowsSeen.push_back(table->rowCount()); }
    } resets;
    RecordStore table;
    fill(table, 10, 9);
    resets.table = &table;
    table.addObserver(&resets);
    DataSource ds;
    ds.bind(&table);
    TableError why;
    ASSERT_TRUE(ds.load(files, "day.tbl", &why)) << static_cast<int>(why.step);
    // Emptied first, its memory to be filled with the new table; then the new table in
    // one piece.
    EXPECT_EQ(resets.rowsSeen, (std::vector<int>{0, 3000}));
    expectSame(fileTable, table);

    // A file whose every byte is there and whose checksum matches, but with a row that
    // does not fit the columns: refused, and the table not even emptied for a moment.
    std::string bytes = tablefile::encode(fileTable);
    bytes[20] = 10;  // the first row claims ten cells
    ASSERT_TRUE(files.writeAll("bad.tbl", reseal(bytes)));
    resets.rowsSeen.clear();
    EXPECT_FALSE(ds.load(files, "bad.tbl", &why));
    EXPECT_EQ(why.step, TableError::Step::Refused);
    EXPECT_TRUE(invalidContent(why.refusal));
    EXPECT_TRUE(resets.rowsSeen.empty());
    expectSame(fileTable, table);
}

TEST(TableFile, FailedLoadLeavesTheTableAsItWas) {
    QTemporaryDir dir;
    DiskFiles files(dir.path().toStdString());
    RecordStore table;
    fill(table, 4, 9);
    DataSource ds;
    ds.bind(&table);
    std::string bytes = tablefile::encode(table);
    files.writeAll("cut.tbl", std::string_view(bytes).substr(0, bytes.size() / 2));
    TableError why;
    EXPECT_FALSE(ds.load(files, "cut.tbl", &why));
    EXPECT_EQ(why.step, TableError::Step::Refused);
    EXPECT_TRUE(why.refusal == Refusal::NoEndMarker || why.refusal == Refusal::Truncated);  // "文件不完整…"
    EXPECT_FALSE(ds.load(files, "missing.tbl", &why));
    EXPECT_EQ(why.step, TableError::Step::Read);
    // A table too large for memory: refused like a bad file, the program goes on.
    struct NoMemory : FullDiskFiles {
        using FullDiskFiles::FullDiskFiles;
        std::optional<std::string> readAll(const std::string&, std::uint64_t, FileError*) override {
            throw std::bad_alloc();
        }
    } noMemory(files, 0);
    files.writeAll("day.tbl", bytes);
    EXPECT_FALSE(ds.load(noMemory, "day.tbl", &why));
    EXPECT_EQ(why.step, TableError::Step::OutOfMemory);
    EXPECT_EQ(table.rowCount(), 4);
    EXPECT_EQ(table.cell(1, 3), "103.5");
    EXPECT_EQ(table.cell(2, 2), "温度 2");
}

TEST(TableFile, SaveFailingHalfWayLeavesTheOldFileIntact) {
    QTemporaryDir dir;
    DiskFiles disk(dir.path().toStdString());
    RecordStore oldTable;
    fill(oldTable, 10, 9);
    DataSource ds;
    ds.bind(&oldTable);
    TableError why;
    ASSERT_TRUE(ds.save(disk, "day.tbl", &why));
    const std::optional<std::string> before = disk.readAll("day.tbl");

    RecordStore bigger;
    fill(bigger, 200000, 9);  // several write buffers' worth
    ds.bind(&bigger);
    FullDiskFiles full(disk, 1500000);
    EXPECT_FALSE(ds.save(full, "day.tbl", &why));
    EXPECT_EQ(why.step, TableError::Step::Write);  // "写入文件失败（磁盘可能已满），原文件未改动"
    EXPECT_EQ(disk.readAll("day.tbl"), before);
    // No half-written leftovers beside it either.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);

    // And the same table saved without a limit reads back whole.
    ASSERT_TRUE(ds.save(disk, "day.tbl", &why));
    RecordStore back;
    DataSource reader;
    reader.bind(&back);
    ASSERT_TRUE(reader.load(disk, "day.tbl", &why));
    expectSame(bigger, back);
}

TEST(TableFile, CorpusFilesAreReadWithoutHarmAndValidOnesLoad) {
    std::filesystem::path corpus = std::filesystem::path(KELDRIN_SOURCE_DIR) / "fuzz/corpus/table_file";
    ASSERT_TRUE(std::filesystem::is_directory(corpus));
    int files = 0, valid = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        RecordStore into;
        const Refusal why = tablefile::read(content.str(), into);
        const bool ok = why == Refusal::None;
        ++files;
        if (entry.path().filename().string().rfind("valid", 0) == 0) {
            EXPECT_TRUE(ok) << entry.path() << ": " << static_cast<int>(why);
            EXPECT_EQ(tablefile::encode(into), content.str()) << entry.path();
            ++valid;
        }
        if (entry.path().filename().string().rfind("bad", 0) == 0) {
            EXPECT_FALSE(ok) << entry.path() << " is kept as a fault the reader must refuse";
        }
        if (!ok) {
            EXPECT_EQ(into.rowCount(), 0);
        }
    }
    EXPECT_GE(files, 4);
    EXPECT_GE(valid, 2);
}

}  // namespace
}  // namespace keldrin
