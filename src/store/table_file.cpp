#include "store/table_file.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "store/record_store.h"
#include "store/varint.h"

namespace keldrin::tablefile {

namespace {

constexpr std::uint64_t kP1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kP2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t kP3 = 0x165667B19E3779F9ull;
constexpr std::uint64_t kP4 = 0x85EBCA77C2B2AE63ull;
constexpr std::uint64_t kP5 = 0x27D4EB2F165667C5ull;

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

void putU32(char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * i));
}

void putU64(char* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<char>(v >> (8 * i));
}

std::uint32_t getU32(const char* p) { return load32(reinterpret_cast<const unsigned char*>(p)); }
std::uint64_t getU64(const char* p) { return load64(reinterpret_cast<const unsigned char*>(p)); }

constexpr std::size_t kTrailerSize = 4 + 8;
constexpr std::size_t kPiece = 1 << 20;
// Runs of rows smaller than this are gathered into one piece before they go out.
constexpr std::size_t kGatherBelow = 16 << 10;
// No table of this program comes near it; a file claiming more is hostile, even with
// no rows to hold the cells, because the grid would lay out every column.
constexpr std::uint32_t kMaxColumns = 16384;

// The size of the well-formed row at the front of [start, end) for a table of columns
// columns, or 0.
std::size_t checkedRowSize(const char* start, const char* end, std::uint64_t columns) {
    const char* p = start;
    std::uint64_t n;
    if (!varint::getChecked(p, end, columns, n)) return 0;
    for (; n > 0; --n) {
        std::uint64_t len;
        if (!varint::getChecked(p, end, UINT64_MAX, len) || len > static_cast<std::uint64_t>(end - p)) return 0;
        p += len;
    }
    return static_cast<std::size_t>(p - start);
}

}  // namespace

Refusal checkHeader(std::string_view head, std::uint64_t size) {
    if (size == 0) return Refusal::Empty;
    const std::size_t magicPart = std::min(head.size(), kMagic.size());
    if (head.substr(0, magicPart) != kMagic.substr(0, magicPart)) return Refusal::Foreign;
    if (size < kHeaderSize + kTrailerSize || head.size() < kHeaderSize) return Refusal::Truncated;
    if (getU32(head.data() + 8) != kVersion) return Refusal::Version;
    if (size > kMaxFileSize) return Refusal::TooLarge;
    const std::uint32_t rows = getU32(head.data() + 12);
    const std::uint32_t cols = getU32(head.data() + 16);
    const std::uint64_t records = size - kHeaderSize - kTrailerSize;
    if (cols > kMaxColumns) return Refusal::TooManyColumns;
    // Every row takes at least one byte; a row of a table without columns exactly one,
    // and a table without rows has nothing between header and trailer.
    if (rows > static_cast<std::uint32_t>(INT_MAX) || rows > records || ((cols == 0 || rows == 0) && records != rows)) {
        return Refusal::RowCount;
    }
    return Refusal::None;
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
    Checksum sum;
    auto put = [&](std::string_view piece) {
        sum.update(piece);
        return sink(piece);
    };
    std::string small;
    small.reserve(kGatherBelow * 4);
    small.append(kMagic);
    char counts[12];
    putU32(counts, kVersion);
    putU32(counts + 4, static_cast<std::uint32_t>(table.rowCount()));
    putU32(counts + 8, static_cast<std::uint32_t>(table.columnCount()));
    small.append(counts, sizeof counts);
    // The rows go out in the store's own runs, at most kPiece at a time; short runs are
    // gathered first.
    const bool ok = table.forEachRowBytes([&](std::string_view run) {
        if (run.size() < kGatherBelow) {
            small.append(run);
            if (small.size() < kGatherBelow * 3) return true;
            const bool done = put(small);
            small.clear();
            return done;
        }
        if (!small.empty()) {
            if (!put(small)) return false;
            small.clear();
        }
        for (; !run.empty(); run.remove_prefix(std::min(run.size(), kPiece))) {
            if (!put(run.substr(0, kPiece))) return false;
        }
        return true;
    });
    if (!ok) return false;
    small.append(kEndMarker);
    sum.update(small);
    char digest[8];
    putU64(digest, sum.digest());
    small.append(digest, sizeof digest);
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

Refusal read(std::string&& bytes, RecordStore& into) {
    if (Refusal r = checkHeader(std::string_view(bytes).substr(0, kHeaderSize), bytes.size()); r != Refusal::None) {
        return r;
    }
    const std::size_t size = bytes.size();
    const char* const data = bytes.data();
    if (std::string_view(bytes).substr(size - kTrailerSize, kEndMarker.size()) != kEndMarker) {
        return Refusal::NoEndMarker;
    }
    if (checksum(std::string_view(bytes).substr(0, size - 8)) != getU64(data + size - 8)) return Refusal::Checksum;
    const std::uint32_t rows = getU32(data + 12);
    const std::uint32_t cols = getU32(data + 16);
    const bool taken = into.replaceWithRows(static_cast<int>(cols), rows, std::move(bytes), kHeaderSize,
                                            size - kHeaderSize - kTrailerSize, [cols](std::string_view rest) {
                                                return checkedRowSize(rest.data(), rest.data() + rest.size(), cols);
                                            });
    return taken ? Refusal::None : Refusal::BadRows;
}

Refusal read(std::string_view bytes, RecordStore& into) { return read(std::string(bytes), into); }

}  // namespace keldrin::tablefile
