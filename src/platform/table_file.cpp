#include "platform/table_file.h"

#include <array>
#include <climits>
#include <cstring>

#include "platform/record_store.h"

namespace keldrin::tablefile {

namespace {

using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables makeCrcTables() {
    CrcTables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i) {
        for (int s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
    return t;
}

constexpr CrcTables kCrc = makeCrcTables();

constexpr std::size_t kHeaderSize = 8 + 4 + 4 + 4;
constexpr std::size_t kTrailerSize = 4 + 4;
constexpr std::size_t kFlushAt = 1 << 20;
// No table of this program comes near it; a file claiming more is hostile, even with
// no rows to hold the cells, because the grid would lay out every column.
constexpr std::uint32_t kMaxColumns = 16384;

void putU32(std::string& out, std::uint32_t v) {
    char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                 static_cast<char>(v >> 24)};
    out.append(b, 4);
}

std::uint32_t getU32(const char* p) {
    auto b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

std::size_t varintSize(std::uint64_t v) {
    std::size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

void putVarint(std::string& out, std::uint64_t v) {
    char b[10];
    std::size_t n = 0;
    while (v >= 0x80) {
        b[n++] = static_cast<char>((v & 0x7F) | 0x80);
        v >>= 7;
    }
    b[n++] = static_cast<char>(v);
    out.append(b, n);
}

// Reads a length from [p, end): a varint no larger than what remains after it. False
// for a truncated or overlong varint, or a length running past end.
bool getLength(const char*& p, const char* end, std::uint64_t& v) {
    std::uint64_t result = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (p == end) return false;
        auto b = static_cast<unsigned char>(*p++);
        std::uint64_t bits = b & 0x7F;
        if (shift == 63 && bits > 1) return false;
        result |= bits << shift;
        if (!(b & 0x80)) {
            // One encoding per value: an overlong form is as foreign as a wrong magic.
            if ((b == 0 && shift > 0) || result > static_cast<std::uint64_t>(end - p)) return false;
            v = result;
            return true;
        }
    }
    return false;
}

bool fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
}

}  // namespace

std::uint32_t crc32(std::uint32_t crc, std::string_view bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    crc = ~crc;
    while (n >= 8) {
        std::uint32_t lo = crc ^ (static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                  static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
        crc = kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^ kCrc[4][lo >> 24] ^
              kCrc[3][p[4]] ^ kCrc[2][p[5]] ^ kCrc[1][p[6]] ^ kCrc[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n--) crc = (crc >> 8) ^ kCrc[0][(crc ^ *p++) & 0xFF];
    return ~crc;
}

bool write(const RecordStore& table, const std::function<bool(std::string_view)>& sink) {
    const int rows = table.rowCount();
    const int cols = table.columnCount();
    std::string buf;
    buf.reserve(kFlushAt + 4096);
    std::uint32_t crc = 0;
    auto flush = [&]() {
        crc = crc32(crc, buf);
        bool ok = sink(buf);
        buf.clear();
        return ok;
    };

    buf.append(kMagic);
    putU32(buf, kVersion);
    putU32(buf, static_cast<std::uint32_t>(rows));
    putU32(buf, static_cast<std::uint32_t>(cols));

    // Two passes over each row, both sequential and so cheap for the store's cursor;
    // nothing is allocated per column.
    for (int r = 1; r <= rows; ++r) {
        std::uint64_t rowBytes = 0;
        for (int c = 1; c <= cols; ++c) {
            std::size_t n = table.cell(r, c).size();
            rowBytes += varintSize(n) + n;
        }
        putVarint(buf, rowBytes);
        for (int c = 1; c <= cols; ++c) {
            std::string_view t = table.cell(r, c);
            putVarint(buf, t.size());
            if (buf.size() + t.size() > kFlushAt && !flush()) return false;
            if (t.size() >= kFlushAt) {
                // A huge cell goes out directly rather than through the buffer.
                if (!buf.empty() && !flush()) return false;
                crc = crc32(crc, t);
                if (!sink(t)) return false;
            } else {
                buf.append(t);
            }
        }
        if (buf.size() >= kFlushAt && !flush()) return false;
    }
    buf.append(kEndMarker);
    crc = crc32(crc, buf);
    putU32(buf, crc);
    return sink(buf);
}

std::string encode(const RecordStore& table) {
    std::string out;
    write(table, [&out](std::string_view b) {
        out.append(b);
        return true;
    });
    return out;
}

bool read(std::string_view bytes, RecordStore& into, std::string* error) {
    const std::size_t size = bytes.size();
    const char* data = bytes.data();
    if (size == 0) return fail(error, "文件为空，不是数据表文件");
    std::size_t magicPart = std::min(size, kMagic.size());
    if (bytes.substr(0, magicPart) != kMagic.substr(0, magicPart)) {
        return fail(error, "不是本程序保存的数据表文件");
    }
    if (size < kHeaderSize + kTrailerSize) return fail(error, "文件不完整（可能被截断）");
    if (getU32(data + 8) != kVersion) return fail(error, "数据表文件的版本不受支持");
    if (bytes.substr(size - kTrailerSize, kEndMarker.size()) != kEndMarker) {
        return fail(error, "文件不完整（可能被截断）或已损坏");
    }
    if (crc32(0, bytes.substr(0, size - 4)) != getU32(data + size - 4)) {
        return fail(error, "文件已损坏（校验和不符）");
    }
    const std::uint32_t rows = getU32(data + 12);
    const std::uint32_t cols = getU32(data + 16);
    const char* p = data + kHeaderSize;
    const char* const end = data + size - kTrailerSize;
    const auto payload = static_cast<std::uint64_t>(end - p);
    // Every row takes at least one byte and every cell at least one more: counts the
    // file cannot hold are refused before anything is allocated for them.
    if (cols > kMaxColumns) return fail(error, "文件内容无效（列数过多）");
    if (rows > static_cast<std::uint32_t>(INT_MAX) || rows > payload || static_cast<std::uint64_t>(rows) * cols > payload) {
        return fail(error, "文件内容无效（行数或列数与数据不符）");
    }

    RecordStore table;
    table.setColumnCount(static_cast<int>(cols));
    for (std::uint32_t r = 1; r <= rows; ++r) {
        std::uint64_t rowBytes;
        if (!getLength(p, end, rowBytes)) {
            return fail(error, "文件内容无效（数据不完整）");
        }
        const char* rowEnd = p + rowBytes;
        table.appendRow();
        for (std::uint32_t c = 1; c <= cols; ++c) {
            std::uint64_t len;
            if (!getLength(p, rowEnd, len)) {
                return fail(error, "文件内容无效（单元格数据不完整）");
            }
            if (len > 0) {
                table.setCell(static_cast<int>(r), static_cast<int>(c),
                              std::string_view(p, static_cast<std::size_t>(len)));
            }
            p += len;
        }
        if (p != rowEnd) return fail(error, "文件内容无效（行长度不符）");
    }
    if (p != end) return fail(error, "文件内容无效（多余的数据）");
    into.replaceWith(std::move(table));
    return true;
}

}  // namespace keldrin::tablefile
