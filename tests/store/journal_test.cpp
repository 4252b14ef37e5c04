#include "store/journal.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace keldrin {
namespace {

using Row = std::vector<std::string>;
using Headings = std::array<std::string, 8>;

std::string rowRecord(const Row& cells) {
    const std::vector<std::string_view> views(cells.begin(), cells.end());
    return journal::rowRecord(views);
}

const Headings kA{"压力1", "压力2", "", "温度", "5", "6", "7", "8"};
const Headings kB{"B1", "B2", "B3", "B4", "B5", "B6", "B7", std::string(300, 'h')};
const Headings kC{"C1", "", "", "", "", "", "", ""};
const std::vector<Row> kRows{
    {"2024-05-01 08:00:00.0", "1.25", "-0.5", "", "", "", "", "", "12"},
    {"2024-05-01 08:00:00.1", "1.26", "-0.5", "", "", "", "", "", "12"},
    {"2024-05-01 08:00:00.2", std::string("\xFF\x52\x00\xFF", 4), std::string(200, '9')},  // marker bytes in text
    {},
    {"2024-05-01 08:00:00.4", "1.30", "-0.4", "0", "0", "0", "0", "0", "12"},
};

// Headings A, three rows, headings B, two rows; where each record starts.
struct Sample {
    std::string bytes;
    std::vector<std::size_t> rowAt;
};

Sample sample() {
    Sample s{journal::header() + journal::headingsRecord(kA), {}};
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        if (i == 3) s.bytes += journal::headingsRecord(kB);
        s.rowAt.push_back(s.bytes.size());
        s.bytes += rowRecord(kRows[i]);
    }
    return s;
}

std::vector<Row> rowsBut(std::size_t dropped) {
    std::vector<Row> rows = kRows;
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(dropped));
    return rows;
}

void expectRecovered(const journal::Recovered& r, const std::vector<Row>& rows, const Headings& headings,
                     std::size_t damaged, bool torn, bool bad) {
    EXPECT_EQ(r.rows, rows);
    EXPECT_EQ(r.headings, headings);
    EXPECT_EQ(r.damaged, damaged);
    EXPECT_EQ(r.tornTail, torn);
    EXPECT_EQ(r.badHeader, bad);
}

TEST(Journal, ReadsEveryRecordThatChecks) {
    // The layout, byte for byte.
    const std::string literal("KLDJ\x01\0\0\0" "\xFF\x52\x06\0\0\0\x02\x01" "1" "\x02" "ab" "\xCD\x3C\xAA\xA2", 24);
    EXPECT_EQ(journal::header() + rowRecord({"1", "ab"}), literal);
    EXPECT_THROW(rowRecord(Row(journal::kMaxCells + 1)), std::length_error);
    EXPECT_THROW(rowRecord({std::string(journal::kMaxPayload, 'x')}), std::length_error);

    const Sample s = sample();
    const std::string h = journal::header();
    std::string otherVersion = s.bytes;
    otherVersion[4] = 2;
    std::string corruptHeadings = h + journal::headingsRecord(kA) + rowRecord(kRows[0]) + journal::headingsRecord(kB);
    corruptHeadings.back() ^= 1;
    const Row wide(journal::kMaxCells, "");
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<Row> rows;
        Headings headings;
        std::size_t damaged;
        bool torn, bad;
    } cases[] = {
        {"layout", literal, {{"1", "ab"}}, {}, 0, false, false},
        {"round trip", s.bytes, kRows, kB, 0, false, false},
        {"headings after the last row are not the rows'", s.bytes + journal::headingsRecord(kC), kRows, kB, 0, false, false},
        {"no rows: the last headings", h + journal::headingsRecord(kA) + journal::headingsRecord(kC), {}, kC, 0, false, false},
        {"no headings record", h + rowRecord(kRows[0]), {kRows[0]}, {}, 0, false, false},
        {"as many cells as may be", h + rowRecord(wide), {wide}, {}, 0, false, false},
        {"header only", h, {}, {}, 0, false, false},
        {"zero-filled after a power cut", s.bytes + std::string(4096, '\0'), kRows, kB, 0, true, false},
        {"damaged headings: the earlier ones stay", corruptHeadings + rowRecord(kRows[1]), {kRows[0], kRows[1]}, kA, 1, false, false},
        {"length past the cap", h + "\xFF" "R" + std::string("\x01\x00\x10\x00", 4) + std::string(1 << 20, 'x') + rowRecord(kRows[0]),
         {kRows[0]}, {}, 1, false, false},
        {"empty file", "", {}, {}, 0, false, false},
        {"cut in the header", h.substr(0, 7), {}, {}, 0, false, false},
        // A damaged header strands no row: the records check themselves.
        {"other version", otherVersion, kRows, kB, 0, false, true},
        {"damaged header", std::string(8, '\xFF') + s.bytes.substr(8), kRows, kB, 0, false, true},
        {"foreign", "not a journal at all", {}, {}, 0, true, true},
        // Rows a rescue file holds are not read again once that file exists.
        {"rows kept elsewhere", s.bytes + journal::keptRecord("kept.csv") + rowRecord(kRows[0]), {kRows[0]}, kB, 0, false, false},
        {"kept in a file that never appeared", s.bytes + journal::keptRecord("gone.csv"), kRows, kB, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectRecovered(journal::read(c.bytes, [](const std::string& n) { return n == "kept.csv"; }), c.rows,
                        c.headings, c.damaged, c.torn, c.bad);
    }
}

TEST(Journal, DamageCostsOnlyTheRecordItTouches) {
    const Sample s = sample();
    const std::size_t last = s.rowAt.back();
    for (std::size_t cut = last; cut < s.bytes.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        expectRecovered(journal::read(std::string_view(s.bytes).substr(0, cut)), rowsBut(kRows.size() - 1), kB, 0,
                        cut > last, false);
    }
    // Every byte of a middle row, each way of changing it.
    const std::size_t middle = 2;
    for (std::size_t at = s.rowAt[middle]; at < s.rowAt[middle + 1] - journal::headingsRecord(kB).size(); ++at) {
        for (unsigned char flip : {0x01, 0x80, 0xFF}) {
            SCOPED_TRACE("byte " + std::to_string(at) + " ^ " + std::to_string(flip));
            std::string bytes = s.bytes;
            bytes[at] = static_cast<char>(bytes[at] ^ flip);
            expectRecovered(journal::read(bytes), rowsBut(middle), kB, 1, false, false);
        }
    }
}

}  // namespace
}  // namespace keldrin
