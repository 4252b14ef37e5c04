// The CSV export run over a table built from the input, and its file read back here
// on its own terms: CR LF after every line, the heading line, then one line per row
// with the row's first nine cells each followed by a comma (nine commas: ten columns,
// the last empty). Cells in plain ASCII appear byte for byte, others in GBK.
//
// The table comes either from a table file (the rest of the input, its checksum made
// to match) or from edits: rows appended, cells set past the row's end and past the
// columns (and on rows other than the newest, which keep theirs), columns narrowed and
// widened, rows dropped, runs of copies of the newest row appended (enough to cross the
// export's flush size), headings retyped.
#include <QString>
#include <QStringEncoder>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/record_store.h"
#include "store/table_file.h"
#include "support/harness.h"
#include "targets/targets.h"

namespace keldrin::fuzz {

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::string take(std::size_t n) {
        n = std::min(n, size_ - pos_);
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }
    std::string rest() { return take(size_ - pos_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A cell's text: raw bytes, sometimes after Chinese text so that whole rows leave ASCII.
std::string text(Input& in) {
    const std::uint8_t n = in.next();
    std::string s = (n & 0x80) ? "温度" : "";
    return s + in.take(n % 48);
}

void edits(Input& in, RecordStore& t) {
    while (!in.done()) {
        switch (in.next() % 6) {
            case 0:
                t.appendRow();
                break;
            case 1: {
                if (t.rowCount() == 0) t.appendRow();
                const int row = 1 + in.next() % t.rowCount();
                const int column = 1 + in.next() % 12;
                t.setCell(row, column, text(in));
                break;
            }
            case 2:
                t.setColumnCount(in.next() % 14);
                break;
            case 3:
                return;  // the headings follow
            case 4: {
                // Past 4096 rows the table is large enough: more only slows the fuzzer.
                if (t.rowCount() == 0 || t.rowCount() >= 4096) break;
                std::vector<std::string> last;
                for (int c = 1; c <= t.columnCount(); ++c) last.emplace_back(t.cell(t.rowCount(), c));
                const std::size_t count = static_cast<std::size_t>(in.next()) << 4;
                for (std::size_t i = 0; i < count; ++i) {
                    t.appendRow();
                    for (std::size_t c = 0; c < last.size(); ++c) t.setCell(t.rowCount(), static_cast<int>(c + 1), last[c]);
                }
                break;
            }
            case 5:
                t.setRowCount(in.next() % (t.rowCount() + 1));
                break;
        }
    }
}

// Byte scans through the C library: the checks need not show up as coverage.
bool isAscii(std::string_view s) {
    std::uint64_t high = 0;
    for (std::size_t i = 0; i < s.size(); i += 8) {
        std::uint64_t w = 0;
        std::memcpy(&w, s.data() + i, std::min<std::size_t>(8, s.size() - i));
        high |= w;
    }
    return (high & 0x8080808080808080ull) == 0;
}

bool holds(std::string_view s, char c) { return !s.empty() && std::memchr(s.data(), c, s.size()) != nullptr; }

// Reads the file line by line, knowing what each line must hold.
class Reader {
public:
    explicit Reader(std::string_view csv) : csv_(csv) {}

    void line(const std::array<std::string_view, 9>& texts) {
        std::array<std::string, 9> held;
        std::array<std::string_view, 9> want;
        bool plain = true;
        for (std::size_t f = 0; f < 9; ++f) {
            want[f] = exported(texts[f], held[f]);
            plain = plain && !holds(want[f], ',') && !holds(want[f], '\r') && !holds(want[f], '\n');
        }
        if (plain) {
            // Split at CR LF and the commas: ten fields, the last one empty.
            const std::size_t end = csv_.find("\r\n");
            require(end != std::string_view::npos);
            const std::string_view line = csv_.substr(0, end);
            std::size_t at = 0;
            for (std::size_t f = 0; f < 9; ++f) {
                const std::size_t comma = line.find(',', at);
                require(comma != std::string_view::npos && line.substr(at, comma - at) == want[f]);
                at = comma + 1;
            }
            require(at == line.size());
            csv_.remove_prefix(end + 2);
            return;
        }
        // A text holds a comma or a line break: field by field instead.
        for (std::string_view f : want) {
            require(csv_.substr(0, f.size()) == f && csv_.substr(f.size(), 1) == ",");
            csv_.remove_prefix(f.size() + 1);
        }
        require(csv_.substr(0, 2) == "\r\n");
        csv_.remove_prefix(2);
    }

    bool done() const { return csv_.empty(); }

private:
    // How a text must appear: as it is when plain ASCII, else in GBK.
    std::string_view exported(std::string_view s, std::string& held) {
        if (isAscii(s)) return s;
        QByteArray b = gbk_.encode(QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())));
        held.assign(b.constData(), static_cast<std::size_t>(b.size()));
        return held;
    }

    std::string_view csv_;
    QStringEncoder gbk_{"GBK"};
};

}  // namespace

void csvExportOne(const std::uint8_t* data, std::size_t size) {
    test::Harness h;
    MainWin& w = h.w;
    RecordStore& table = w.通用提供者1;
    w.数据源1.bind(&table);
    table.setColumnCount(9);

    Input in(data, size);
    if (in.next() & 1) {
        std::string file = in.rest();
        if (file.size() >= 8) {
            const std::uint64_t sum = tablefile::checksum(std::string_view(file).substr(0, file.size() - 8));
            for (int i = 0; i < 8; ++i) file[file.size() - 8 + static_cast<std::size_t>(i)] = static_cast<char>(sum >> (8 * i));
        }
        tablefile::read(file, table);
    } else {
        edits(in, table);
        while (!in.done()) {
            const int i = 1 + in.next() % 8;
            w.表(i).setText(text(in));
        }
    }

    h.fileDialog.answers.push_back("export");
    h.click(w.按钮6);
    std::optional<std::string> csv = h.readFile("export.csv");
    if (!QStringEncoder("GBK").isValid()) {
        require(!csv && h.boxes.shown.size() == 1 && h.boxes.shown[0].icon == Icon::Critical);
        return;
    }
    require(csv.has_value());
    require(h.boxes.shown.size() == 1 && h.boxes.shown[0].icon == Icon::Information);

    Reader reader(*csv);
    std::array<std::string_view, 9> texts;
    texts[0] = "时间";
    for (int i = 1; i <= 8; ++i) texts[static_cast<std::size_t>(i)] = w.表(i).text();
    reader.line(texts);
    for (int r = 1; r <= table.rowCount(); ++r) {
        for (int c = 1; c <= 9; ++c) texts[static_cast<std::size_t>(c - 1)] = table.cell(r, c);
        reader.line(texts);
    }
    require(reader.done());
}

}  // namespace keldrin::fuzz
