// Saving, reading and exporting the record table.
#include <QStringEncoder>
#include <memory>

#include "shell/handlers.h"

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
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// Texts are UTF-8 in the program; the export is in GBK. ASCII is the same in both,
// which covers the time stamps and readings, so only the rest goes through Qt.
class GbkWriter {
public:
    explicit GbkWriter(OutFile& out) : out_(out), encoder_("GBK") { buf_.reserve(kExportFlushAt + 4096); }
    bool valid() const { return encoder_.isValid(); }

    void text(std::string_view s) {
        if (isAscii(s)) {
            buf_.append(s);
        } else {
            QByteArray b = encoder_.encode(QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())));
            buf_.append(b.constData(), static_cast<std::size_t>(b.size()));
        }
    }
    void raw(std::string_view s) { buf_.append(s); }
    // Ends a line; hands the buffer over when it is full. False once a write failed.
    bool endLine() {
        buf_.append("\r\n");
        if (buf_.size() >= kExportFlushAt) return flush();
        return ok_;
    }
    bool flush() {
        if (ok_ && !buf_.empty()) ok_ = out_.write(buf_);
        buf_.clear();
        return ok_;
    }

private:
    OutFile& out_;
    QStringEncoder encoder_;
    std::string buf_;
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
    bool ok = csv.endLine();
    const DataSource& ds = a.w.数据源1;
    const int rows = ds.rowCount();
    for (int r = 1; ok && r <= rows; ++r) {
        for (int c = 1; c <= 9; ++c) {
            csv.text(ds.cell(r, c));
            csv.raw(",");
        }
        ok = csv.endLine();
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
