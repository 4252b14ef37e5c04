#include "records/table_file.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "records/record_store.h"

namespace keldrin::tablefile {

namespace {

constexpr std::uint64_t kP1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kP2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t kP3 = 0x165667B19E3779F9ull;
constexpr std::uint64_t kP4 = 0x85EBCA77C2B2AE63ull;
constexpr std::uint64_t kP5 = 0x27D4EB2F165667C5ull;

constexpr std::size_t kTrailerSize = 4 + 8;
constexpr std::size_t kPiece = 1 << 20;
// Records that lie apart in the store (rewritten rows) are gathered below this size.
constexpr std::size_t kGatherBelow = 16 << 10;
// No table of this program comes near it; a file claiming more is hostile, even with
// no rows to hold the cells, because the grid would lay out every column.
constexpr std::uint32_t kMaxColumns = 16384;

inline std::uint64_t rotl(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// Little-endian words, whatever the machine: the checksum is part of the file.
inline std::uint64_t load64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) {
        v = ((v & 0x00000000FFFFFFFFull) << 32) | ((v & 0xFFFFFFFF00000000ull) >> 32);
        v = ((v & 0x0000FFFF0000FFFFull) << 16) | ((v & 0xFFFF0000FFFF0000ull) >> 16);
        v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v & 0xFF00FF00FF00FF00ull) >> 8);
    }
    return v;
}

inline std::uint32_t load32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint64_t mix(std::uint64_t acc, std::uint64_t input) { return rotl(acc + input * kP2, 31) * kP1; }

inline std::uint64_t mergeRound(std::uint64_t acc, std::uint64_t lane) {
    return (acc ^ mix(0, lane)) * kP1 + kP4;
}

// Whole 32-byte stripes of p into the lanes; returns how many bytes it took.
std::size_t stripes(std::uint64_t (&lane)[4], const unsigned char* p, std::size_t n) {
    std::uint64_t a = lane[0], b = lane[1], c = lane[2], d = lane[3];
    std::size_t done = 0;
    for (; n - done >= 32; done += 32) {
        a = mix(a, load64(p + done));
        b = mix(b, load64(p + done + 8));
        c = mix(c, load64(p + done + 16));
        d = mix(d, load64(p + done + 24));
    }
    lane[0] = a;
    lane[1] = b;
    lane[2] = c;
    lane[3] = d;
    return done;
}

void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

void putU64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

std::uint32_t getU32(const char* p) { return load32(reinterpret_cast<const unsigned char*>(p)); }
std::uint64_t getU64(const char* p) { return load64(reinterpret_cast<const unsigned char*>(p)); }

bool fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
}

struct Layout {
    std::uint32_t rows = 0;
    std::uint32_t cols = 0;
    std::string_view records;
};

// The header, the counts and the checksum checked, without allocating anything.
bool checkFrame(std::string_view bytes, Layout& out, std::string* error) {
    if (!checkHeader(bytes.substr(0, kHeaderSize), bytes.size(), error)) return false;
    const std::size_t size = bytes.size();
    const char* data = bytes.data();
    if (bytes.substr(size - kTrailerSize, kEndMarker.size()) != kEndMarker) {
        return fail(error, "文件不完整（可能被截断）或已损坏");
    }
    if (checksum(bytes.substr(0, size - 8)) != getU64(data + size - 8)) {
        return fail(error, "文件已损坏（校验和不符）");
    }
    out = {getU32(data + 12), getU32(data + 16), bytes.substr(kHeaderSize, size - kHeaderSize - kTrailerSize)};
    return true;
}

constexpr const char* kBadRecords = "文件内容无效（行数据不完整或与列数不符）";

// The whole file checked, every record included, without allocating anything.
bool check(std::string_view bytes, Layout& out, std::string* error) {
    if (!checkFrame(bytes, out, error)) return false;
    std::string_view rest = out.records;
    for (std::uint32_t r = 0; r < out.rows; ++r) {
        std::size_t n = RecordStore::validRecordSize(rest, static_cast<int>(out.cols));
        if (n == 0) return fail(error, kBadRecords);
        rest.remove_prefix(n);
    }
    if (!rest.empty()) return fail(error, "文件内容无效（多余的数据）");
    return true;
}

}  // namespace

bool checkHeader(std::string_view head, std::uint64_t size, std::string* error) {
    if (size == 0) return fail(error, "文件为空，不是数据表文件");
    const std::size_t magicPart = std::min(head.size(), kMagic.size());
    if (head.substr(0, magicPart) != kMagic.substr(0, magicPart)) {
        return fail(error, "不是本程序保存的数据表文件");
    }
    if (size < kHeaderSize + kTrailerSize || head.size() < kHeaderSize) {
        return fail(error, "文件不完整（可能被截断）");
    }
    if (getU32(head.data() + 8) != kVersion) return fail(error, "数据表文件的版本不受支持");
    if (size > kMaxFileSize) return fail(error, "文件过大（超过4GB），无法作为数据表读入");
    const std::uint32_t rows = getU32(head.data() + 12);
    const std::uint32_t cols = getU32(head.data() + 16);
    const std::uint64_t records = size - kHeaderSize - kTrailerSize;
    if (cols > kMaxColumns) return fail(error, "文件内容无效（列数过多）");
    // Every row takes at least one byte; a row of a table without columns exactly one,
    // and a table without rows has nothing between header and trailer.
    if (rows > static_cast<std::uint32_t>(INT_MAX) || rows > records || ((cols == 0 || rows == 0) && records != rows)) {
        return fail(error, "文件内容无效（行数与数据不符）");
    }
    return true;
}

Checksum::Checksum() : lane_{kP1 + kP2, kP2, 0, 0 - kP1} {}

void Checksum::update(std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    total_ += n;
    if (heldSize_) {
        std::size_t take = std::min(n, sizeof held_ - heldSize_);
        std::memcpy(held_ + heldSize_, p, take);
        heldSize_ += take;
        p += take;
        n -= take;
        if (heldSize_ < sizeof held_) return;
        stripes(lane_, held_, sizeof held_);
        heldSize_ = 0;
    }
    std::size_t done = stripes(lane_, p, n);
    std::memcpy(held_, p + done, n - done);
    heldSize_ = n - done;
}

std::uint64_t Checksum::digest() const {
    std::uint64_t h;
    if (total_ >= 32) {
        h = rotl(lane_[0], 1) + rotl(lane_[1], 7) + rotl(lane_[2], 12) + rotl(lane_[3], 18);
        for (std::uint64_t lane : lane_) h = mergeRound(h, lane);
    } else {
        h = lane_[2] + kP5;  // the seed, 0
    }
    h += total_;
    const unsigned char* p = held_;
    std::size_t n = heldSize_;
    for (; n >= 8; p += 8, n -= 8) h = rotl(h ^ mix(0, load64(p)), 27) * kP1 + kP4;
    if (n >= 4) {
        h = rotl(h ^ (static_cast<std::uint64_t>(load32(p)) * kP1), 23) * kP2 + kP3;
        p += 4;
        n -= 4;
    }
    for (; n > 0; ++p, --n) h = rotl(h ^ (*p * kP5), 11) * kP1;
    h ^= h >> 33;
    h *= kP2;
    h ^= h >> 29;
    h *= kP3;
    h ^= h >> 32;
    return h;
}

std::uint64_t checksum(std::string_view bytes) {
    Checksum sum;
    sum.update(bytes);
    return sum.digest();
}

bool write(const RecordStore& table, const std::function<bool(std::string_view)>& sink) {
    const int rows = table.rowCount();
    Checksum sum;
    auto put = [&](std::string_view piece) {
        sum.update(piece);
        return sink(piece);
    };

    std::string small;
    small.reserve(kGatherBelow * 4);
    small.append(kMagic);
    putU32(small, kVersion);
    putU32(small, static_cast<std::uint32_t>(rows));
    putU32(small, static_cast<std::uint32_t>(table.columnCount()));

    // The store's records go out as they lie: rows appended one after another sit side
    // by side in its arena, so most of the file is handed over straight from there.
    const char* from = nullptr;
    const char* to = nullptr;
    auto flushSpan = [&]() {
        auto n = static_cast<std::size_t>(to - from);
        if (n < kGatherBelow) {
            small.append(from, n);
            if (small.size() < kGatherBelow * 3) return true;
            bool ok = put(small);
            small.clear();
            return ok;
        }
        if (!small.empty()) {
            if (!put(small)) return false;
            small.clear();
        }
        return put({from, n});
    };
    for (int r = 1; r <= rows; ++r) {
        std::string_view rec = table.rowRecord(r);
        if (rec.data() == to && static_cast<std::size_t>(to - from) + rec.size() <= kPiece) {
            to += rec.size();
            continue;
        }
        if (from != to && !flushSpan()) return false;
        from = rec.data();
        to = from + rec.size();
    }
    if (from != to && !flushSpan()) return false;
    small.append(kEndMarker);
    sum.update(small);
    putU64(small, sum.digest());
    return sink(small);
}

std::string encode(const RecordStore& table) {
    std::string out;
    write(table, [&out](std::string_view b) {
        out.append(b);
        return true;
    });
    return out;
}

bool read(std::string_view bytes, RecordStore& into, std::string* error, const std::function<void()>& accepted) {
    Layout file;
    if (!check(bytes, file, error)) return false;
    if (accepted) accepted();
    RecordStore table;
    table.setColumnCount(static_cast<int>(file.cols));
    // Checked once more record by record as they are placed: the store trusts nothing.
    if (!table.appendRowRecords(file.records, file.rows)) return fail(error, kBadRecords);
    into.replaceWith(std::move(table));
    return true;
}

bool readOwned(std::string&& bytes, RecordStore& into, std::string* error, const std::function<void()>& accepted) {
    Layout file;
    if (!checkFrame(bytes, file, error)) return false;
    // Taking the bytes over checks every record and indexes the rows in one pass, and
    // copies nothing: the old table is still there, untouched, if the file is refused.
    RecordStore table;
    table.setColumnCount(static_cast<int>(file.cols));
    auto offset = static_cast<std::size_t>(file.records.data() - bytes.data());
    if (!table.adoptRowRecords(std::move(bytes), offset, file.records.size(), file.rows)) {
        return fail(error, kBadRecords);
    }
    if (accepted) accepted();
    into.replaceWith(std::move(table));
    return true;
}

}  // namespace keldrin::tablefile
