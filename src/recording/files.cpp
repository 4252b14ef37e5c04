// Saving, reading and exporting the record table.
#include <QStringEncoder>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "records/record_store.h"
#include "recording/recording.h"

namespace keldrin {

namespace {

const std::string kFilter = "所以文件 *.*|*.*";
const std::string kInfoTitle = "信息";
const std::string kErrorTitle = "错误";
constexpr std::size_t kExportFlushAt = 1 << 20;

void showError(App& a, const std::string& what, const std::string& name, const std::string& why) {
    a.s.boxes.show(what + "\r\n文件路径为：" + name + "\r\n原因：" + why, Buttons::Ok, Icon::Critical, kErrorTitle);
}

bool isAscii(std::string_view s) {
    const char* p = s.data();
    std::size_t n = s.size();
    std::uint64_t high = 0;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        high |= w;
    }
    for (; n > 0; ++p, --n) high |= static_cast<unsigned char>(*p);
    return (high & 0x8080808080808080ull) == 0;
}

// Texts are UTF-8 in the program; the export is in GBK. ASCII is the same in both,
// which covers the time stamps and readings, so only the rest goes through Qt.
class GbkWriter {
public:
    explicit GbkWriter(OutFile& out) : out_(out), encoder_("GBK") { buf_.resize(kExportFlushAt + 4096); }
    bool valid() const { return encoder_.isValid(); }

    void text(std::string_view s) {
        if (isAscii(s)) {
            raw(s);
        } else {
            QByteArray b = encoder_.encode(QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())));
            raw(std::string_view(b.constData(), static_cast<std::size_t>(b.size())));
        }
    }
    void raw(std::string_view s) {
        if (s.empty()) return;  // an empty view may have no data at all
        std::memcpy(room(s.size()), s.data(), s.size());
        used_ += s.size();
    }
    // One row of the table: its first nine cells, each followed by a comma, then CR LF.
    void row(std::string_view record) {
        if (record.empty()) {  // no row: nine empty cells
            raw(",,,,,,,,,\r\n");
            return;
        }
        if (isAscii(record)) {
            // Every length in the record is then one byte below 0x80 and every text is
            // ASCII. The first nine cells lie side by side, each after its length: they
            // are copied in one piece and each length in between becomes the comma that
            // ends the cell before it.
            const char* first = record.data() + 1;
            std::size_t cells = std::min<std::size_t>(static_cast<unsigned char>(record[0]), 9);
            const char* end = first;
            for (std::size_t c = 0; c < cells; ++c) end += 1 + static_cast<unsigned char>(*end);
            char* out = room(record.size() + 9 + 2);
            char* o = out;
            if (cells > 0) {
                auto n = static_cast<std::size_t>(end - first - 1);
                std::memcpy(o, first + 1, n);
                for (const char* len = first + 1 + static_cast<unsigned char>(*first); len < end;
                     len += 1 + static_cast<unsigned char>(*len)) {
                    o[len - first - 1] = ',';
                }
                o += n;
                *o++ = ',';
            }
            for (std::size_t c = cells; c < 9; ++c) *o++ = ',';
            *o++ = '\r';
            *o++ = '\n';
            used_ += static_cast<std::size_t>(o - out);
            return;
        }
        RecordCells cells(record);
        for (int c = 1; c <= 9; ++c) {
            text(cells.next());
            raw(",");
        }
        raw("\r\n");
    }
    // Hands the buffer over when it is full. False once a write failed.
    bool maybeFlush() {
        if (used_ >= kExportFlushAt) return flush();
        return ok_;
    }
    bool flush() {
        if (ok_ && used_ > 0) ok_ = out_.write(std::string_view(buf_.data(), used_));
        used_ = 0;
        return ok_;
    }

private:
    // Room for n more bytes at the end of the buffer.
    char* room(std::size_t n) {
        if (buf_.size() - used_ < n) {
            if (used_ >= kExportFlushAt) flush();
            if (buf_.size() - used_ < n) buf_.resize(used_ + n);
        }
        return buf_.data() + used_;
    }

    OutFile& out_;
    QStringEncoder encoder_;
    std::string buf_;
    std::size_t used_ = 0;
    bool ok_ = true;
};

}  // namespace

void 存到文件按钮_clicked(App& a) {
    std::optional<std::string> name = a.s.fileDialog.choose(DialogMode::SaveAskBeforeReplacing, kFilter);
    if (!name) return;
    std::string why;
    if (a.w.数据源1.save(a.s.files, *name, &why)) {
        a.s.boxes.show("存到文件成功。\r\n文件路径为：" + *name, Buttons::Ok, Icon::Information, kInfoTitle);
    } else {
        showError(a, "存到文件失败。", *name, why);
    }
}

void 从文件读按钮_clicked(App& a) {
    std::optional<std::string> name = a.s.fileDialog.choose(DialogMode::Open, kFilter);
    if (!name) return;
    std::string why;
    if (a.w.数据源1.load(a.s.files, *name, &why)) {
        a.s.boxes.show("从文件读成功。", Buttons::Ok, Icon::Information, kInfoTitle);
    } else {
        showError(a, "从文件读失败，数据表未改动。", *name, why);
    }
}

void 按钮6_clicked(App& a) {
    std::optional<std::string> name = a.s.fileDialog.choose(DialogMode::Save, kFilter);
    if (!name) return;
    const std::string path = *name + ".csv";

    // Created exclusively before anything is announced: an existing file is never
    // touched, and there is no gap between a check and the creation.
    std::string why;
    std::unique_ptr<OutFile> out = a.s.files.createNew(path, &why);
    if (!out) {
        if (a.s.files.exists(path)) {
            a.s.boxes.show("文件已存在导出失败", Buttons::Ok, Icon::None, "");
        } else {
            showError(a, "数据导出失败，无法创建文件。", path, why);
        }
        return;
    }
    GbkWriter csv(*out);
    if (!csv.valid()) {
        out->commit(&why);
        a.s.files.remove(path);
        showError(a, "数据导出失败。", path, "系统不支持GBK编码");
        return;
    }

    a.s.boxes.show("数据导出成功。\r\n文件路径为：" + *name, Buttons::Ok, Icon::Information, kInfoTitle);

    // Headings and rows are taken now, after the box: rows recorded while it was open
    // are included. Nothing below yields to other events.
    csv.text("时间,");
    for (int i = 1; i <= 8; ++i) {
        csv.text(a.w.表(i).text());
        csv.raw(",");
    }
    csv.raw("\r\n");
    bool ok = true;
    if (const RecordStore* table = a.w.数据源1.store()) {
        const int rows = table->rowCount();
        for (int r = 1; ok && r <= rows; ++r) {
            csv.row(table->rowRecord(r));
            ok = csv.maybeFlush();
        }
    }
    ok = csv.flush() && ok;
    std::string closeWhy;
    bool closed = out->commit(&closeWhy);
    if (!ok || !closed) {
        // A truncated CSV could pass for a whole day's records: take it away.
        bool removed = a.s.files.remove(path);
        showError(a,
                  removed ? "数据导出失败：写入文件时出错（磁盘可能已满），未完成的文件已删除。"
                          : "数据导出未完成：写入文件时出错（磁盘可能已满），文件内容不完整。",
                  path, closed ? "写入失败" : closeWhy);
    }
}

}  // namespace keldrin
