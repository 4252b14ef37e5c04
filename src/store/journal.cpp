#include "store/journal.h"

#include <zlib.h>

#include <algorithm>
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
    if (type != kHeadingsType && type != kRowType && type != kKeptType) return std::nullopt;
    const std::uint32_t length = getU32(file, pos + 2);
    if (length > kMaxPayload || length > file.size() - pos - kFrameSize) return std::nullopt;
    const std::string_view payload = file.substr(pos + 6, length);
    const auto cells = cellCount(payload, type == kHeadingsType ? kChannels : type == kKeptType ? 1 : kMaxCells);
    if (!cells || (type == kHeadingsType && *cells != kChannels)) return std::nullopt;
    if (crc(file.substr(pos + 1, 5 + length)) != getU32(file, pos + 6 + length)) return std::nullopt;
    return Record{type, payload, *cells, pos + kFrameSize + length};
}

}  // namespace

std::string header() {
    std::string out(kMagic);
    putU32(out, kVersion);
    return out;
}

std::string headingsRecord(const Headings& headings) {
    std::array<std::string_view, kChannels> cells;
    for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = headings[i];
    return record(kHeadingsType, cells);
}

std::string rowRecord(std::span<const std::string_view> cells) { return record(kRowType, cells); }

std::string keptRecord(std::string_view rescueFile) {
    if (rescueFile.empty()) return record(kKeptType, {});
    const std::string_view cells[] = {rescueFile};
    return record(kKeptType, cells);
}

Scanner::Scanner(Source source, std::uint64_t start, std::uint64_t end)
    : source_(std::move(source)), end_(end), bufAt_(start) {
    buf_.reserve(kWindow);
    if (start != 0) return;
    fill();
    const std::string h = header();
    const std::size_t n = std::min(buf_.size(), h.size());
    if (std::string_view(buf_).substr(0, n) != std::string_view(h).substr(0, n)) {
        // Read as records from the first byte: they check themselves. The stretch up to
        // the first of them is the header's damage, not a record's.
        badHeader_ = true;
        countDamage_ = false;
    } else if (buf_.size() < h.size()) {
        onlyHeader_ = buf_.size() > 0 || !readFailed_;
        pos_ = buf_.size();
    } else {
        onlyHeader_ = buf_.size() == h.size() && eof_;
        pos_ = h.size();
    }
}

// Keeps a whole record's worth of bytes after pos_ in the window, unless the end comes first.
bool Scanner::fill() {
    if (eof_ || buf_.size() - pos_ >= kFrameSize + kMaxPayload) return true;
    buf_.erase(0, pos_);
    bufAt_ += pos_;
    pos_ = 0;
    while (!eof_ && buf_.size() < kWindow) {
        const std::uint64_t at = bufAt_ + buf_.size();
        if (at >= end_) {
            eof_ = true;
            break;
        }
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow - buf_.size(), end_ - at));
        const std::size_t had = buf_.size();
        buf_.resize(had + want);
        const std::int64_t got = source_(at, buf_.data() + had, want);
        buf_.resize(had + static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
        if (got <= 0) {
            eof_ = true;
            readFailed_ = got < 0;
        }
    }
    return !readFailed_;
}

std::optional<Scanner::Item> Scanner::next() {
    for (std::size_t skipped = 0; skipped < kWindow;) {
        if (!fill()) {
            done_ = true;
            return std::nullopt;
        }
        if (pos_ >= buf_.size()) {
            done_ = true;
            // What follows the last record that checks is no whole record.
            if (inDamage_) tornTail_ = true;
            inDamage_ = false;
            return std::nullopt;
        }
        const std::string_view window = std::string_view(buf_).substr(pos_);
        if (std::optional<Record> r = recordAt(window, 0)) {
            if (inDamage_ && countDamage_) ++damaged_;
            inDamage_ = false;
            countDamage_ = true;
            pos_ += r->end;
            return Item{r->type, r->payload, r->cells, bufAt_ + pos_};
        }
        // Damage: on to the next marker byte.
        inDamage_ = true;
        const void* hit = std::memchr(window.data() + 1, kMarker, window.size() - 1);
        const std::size_t to = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - buf_.data()) : buf_.size();
        skipped += to - pos_;
        pos_ = to;
    }
    return std::nullopt;
}

void Scanner::eachCell(std::string_view payload, const std::function<void(std::string_view)>& f) {
    journal::eachCell(payload, f);
}

Recovered read(std::string_view file, const std::function<bool(const std::string&)>& exists) {
    Recovered out;
    Scanner scan(
        [file](std::uint64_t at, char* to, std::size_t n) -> std::int64_t {
            if (at >= file.size()) return 0;
            n = std::min<std::size_t>(n, file.size() - static_cast<std::size_t>(at));
            std::memcpy(to, file.data() + at, n);
            return static_cast<std::int64_t>(n);
        },
        0, file.size());
    // Headings are decoded only when a row comes under them (or at the end, with no
    // rows), not at every change.
    std::string headings;
    bool headingsPending = false;
    auto takeHeadings = [&] {
        std::size_t i = 0;
        eachCell(headings, [&](std::string_view c) { out.headings[i++] = std::string(c); });
        headingsPending = false;
    };
    while (!scan.done()) {
        std::optional<Scanner::Item> r = scan.next();
        if (!r) continue;
        if (r->type == kHeadingsType) {
            headings.assign(r->payload);
            headingsPending = true;
        } else if (r->type == kKeptType) {
            std::string name;
            eachCell(r->payload, [&](std::string_view c) { name = c; });
            if (r->cells == 0 || (exists && exists(name))) out.rows.clear();
        } else {
            if (headingsPending) takeHeadings();
            std::vector<std::string>& row = out.rows.emplace_back();
            row.reserve(r->cells);
            eachCell(r->payload, [&](std::string_view c) { row.emplace_back(c); });
        }
    }
    if (out.rows.empty() && headingsPending) takeHeadings();
    out.damaged = scan.damaged();
    out.tornTail = scan.tornTail();
    out.badHeader = scan.badHeader();
    return out;
}

}  // namespace keldrin::journal
