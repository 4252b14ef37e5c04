#include "records/journal.h"

#include <zlib.h>

#include <cstring>
#include <optional>
#include <stdexcept>

namespace keldrin::journal {

namespace {

void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

std::uint32_t getU32(std::string_view b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

std::size_t varintSize(std::uint64_t v) {
    std::size_t n = 1;
    for (; v >= 0x80; v >>= 7) ++n;
    return n;
}

void putVarint(std::string& out, std::uint64_t v) {
    for (; v >= 0x80; v >>= 7) out.push_back(static_cast<char>((v & 0x7F) | 0x80));
    out.push_back(static_cast<char>(v));
}

// A varint in its shortest form from b at `at`, at most max; at moves past it. Values
// here never need more than four bytes (the payload is at most 1 MiB).
bool getVarint(std::string_view b, std::size_t& at, std::uint64_t max, std::uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 28; shift += 7) {
        if (at == b.size()) return false;
        const auto byte = static_cast<unsigned char>(b[at++]);
        v |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return (byte != 0 || shift == 0) && v <= max;
    }
    return false;
}

std::uint32_t crc(std::string_view bytes) {
    // Payloads stay far below uInt's range.
    return static_cast<std::uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string record(char type, std::span<const std::string_view> cells) {
    if (cells.size() > kMaxCells) throw std::length_error("journal record: too many cells");
    std::size_t payload = varintSize(cells.size());
    for (std::string_view c : cells) {
        payload += varintSize(c.size()) + c.size();
        if (payload > kMaxPayload) throw std::length_error("journal record: too large");
    }
    std::string out;
    out.reserve(kFrameSize + payload);
    out.push_back(static_cast<char>(kMarker));
    out.push_back(type);
    putU32(out, static_cast<std::uint32_t>(payload));
    putVarint(out, cells.size());
    for (std::string_view c : cells) {
        putVarint(out, c.size());
        out.append(c);
    }
    putU32(out, crc(std::string_view(out).substr(1)));
    return out;
}

// Walks a payload's cells without copying them: the cell count when they fill the
// payload exactly, at most maxCells of them.
std::optional<std::size_t> cellCount(std::string_view payload, std::size_t maxCells) {
    std::size_t at = 0;
    std::uint64_t count;
    if (!getVarint(payload, at, maxCells, count)) return std::nullopt;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t n;
        if (!getVarint(payload, at, kMaxPayload, n) || n > payload.size() - at) return std::nullopt;
        at += static_cast<std::size_t>(n);
    }
    if (at != payload.size()) return std::nullopt;
    return static_cast<std::size_t>(count);
}

// Calls f with each cell of a payload that cellCount has taken.
template <class F>
void eachCell(std::string_view payload, F&& f) {
    std::size_t at = 0;
    std::uint64_t count, n;
    getVarint(payload, at, kMaxCells, count);
    for (std::uint64_t i = 0; i < count; ++i) {
        getVarint(payload, at, kMaxPayload, n);
        f(payload.substr(at, static_cast<std::size_t>(n)));
        at += static_cast<std::size_t>(n);
    }
}

struct Record {
    char type;
    std::string_view payload;
    std::size_t cells;
    std::size_t end;
};

// The record that starts at pos, if one whole record there checks. The structure is
// walked before the CRC is computed, so most false starts cost a few bytes' look.
std::optional<Record> recordAt(std::string_view file, std::size_t pos) {
    if (file.size() - pos < kFrameSize) return std::nullopt;
    if (static_cast<unsigned char>(file[pos]) != kMarker) return std::nullopt;
    const char type = file[pos + 1];
    if (type != kHeadingsType && type != kRowType) return std::nullopt;
    const std::uint32_t length = getU32(file, pos + 2);
    if (length > kMaxPayload || length > file.size() - pos - kFrameSize) return std::nullopt;
    const std::string_view payload = file.substr(pos + 6, length);
    const auto cells = cellCount(payload, type == kHeadingsType ? 8 : kMaxCells);
    if (!cells || (type == kHeadingsType && *cells != 8)) return std::nullopt;
    if (crc(file.substr(pos + 1, 5 + length)) != getU32(file, pos + 6 + length)) return std::nullopt;
    return Record{type, payload, *cells, pos + kFrameSize + length};
}

// The first record that checks at or after pos.
std::optional<Record> nextRecord(std::string_view file, std::size_t pos) {
    while (pos < file.size()) {
        const void* hit = std::memchr(file.data() + pos, kMarker, file.size() - pos);
        if (!hit) break;
        pos = static_cast<std::size_t>(static_cast<const char*>(hit) - file.data());
        if (auto r = recordAt(file, pos)) return r;
        ++pos;
    }
    return std::nullopt;
}

}  // namespace

std::string header() {
    std::string out(kMagic);
    putU32(out, kVersion);
    return out;
}

std::string headingsRecord(const std::array<std::string, 8>& headings) {
    std::array<std::string_view, 8> cells;
    for (std::size_t i = 0; i < 8; ++i) cells[i] = headings[i];
    return record(kHeadingsType, cells);
}

std::string rowRecord(std::span<const std::string_view> cells) { return record(kRowType, cells); }

Recovered read(std::string_view file) {
    Recovered out;
    if (file.size() < kHeaderSize || file.substr(0, 4) != kMagic || getU32(file, 4) != kVersion) {
        out.badHeader = true;
        return out;
    }
    // Headings are decoded only when a row comes under them (or at the end, with no
    // rows), not at every change.
    std::string_view headings;
    bool headingsPending = false;
    auto takeHeadings = [&] {
        std::size_t i = 0;
        eachCell(headings, [&](std::string_view c) { out.headings[i++] = std::string(c); });
        headingsPending = false;
    };

    std::size_t pos = kHeaderSize;
    while (pos < file.size()) {
        std::optional<Record> r = recordAt(file, pos);
        if (!r) {
            // Damage: skip to the next record that checks. With none, what is left is
            // the record being written when the program stopped, or garbage after it.
            r = nextRecord(file, pos + 1);
            if (!r) {
                out.tornTail = true;
                break;
            }
            ++out.damaged;
        }
        if (r->type == kHeadingsType) {
            headings = r->payload;
            headingsPending = true;
        } else {
            if (headingsPending) takeHeadings();
            std::vector<std::string>& row = out.rows.emplace_back();
            row.reserve(r->cells);
            eachCell(r->payload, [&](std::string_view c) { row.emplace_back(c); });
        }
        pos = r->end;
    }
    if (out.rows.empty() && headingsPending) takeHeadings();
    return out;
}

}  // namespace keldrin::journal
