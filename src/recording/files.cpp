// Saving, reading and exporting the record table.
#include <array>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/messages.h"
#include "store/record_store.h"
#include "recording/recording.h"
#include "recording/unsaved_rows.h"

namespace keldrin {

namespace {

const std::string kFilter(msg::kFileFilter);
const std::string kInfoTitle(msg::kInfoTitle);
const std::string kErrorTitle(msg::kErrorTitle);
constexpr std::size_t kExportFlushAt = 1 << 20;
// Room a row is first tried in: a typical one takes about a tenth of it.
constexpr std::size_t kRowRoom = 1024;

void showError(App& a, std::string_view what, const std::string& name, std::string_view why) {
    a.s.boxes.show(msg::fileFailure(what, name, why), Buttons::Ok, Icon::Critical, kErrorTitle);
}

// Copies a cell's text to to, and returns its bytes' high bits gathered. Cells are
// mostly a few bytes long: fixed-size moves that overlap in the middle beat a call to
// memcpy for them, and looking at the bytes as they pass beats reading back what was
// just written.
inline std::uint64_t put(char* to, std::string_view s) {
    const char* from = s.data();
    const std::size_t n = s.size();
    std::uint64_t a[2], b[2];
    if (n >= 4 && n < 8) {  // a reading
        std::uint32_t x, y;
        std::memcpy(&x, from, 4);
        std::memcpy(&y, from + n - 4, 4);
        std::memcpy(to, &x, 4);
        std::memcpy(to + n - 4, &y, 4);
        return x | y;
    }
    if (n > 32) {
        std::memcpy(to, from, n);
        std::uint64_t high = 0;
        for (std::size_t i = 0; i < n; ++i) high |= static_cast<unsigned char>(from[i]);
        return high;
    }
    if (n > 16) {  // a time stamp
        std::memcpy(a, from, 16);
        std::memcpy(b, from + n - 16, 16);
        std::memcpy(to, a, 16);
        std::memcpy(to + n - 16, b, 16);
        return a[0] | a[1] | b[0] | b[1];
    }
    if (n >= 8) {
        std::memcpy(a, from, 8);
        std::memcpy(b, from + n - 8, 8);
        std::memcpy(to, a, 8);
        std::memcpy(to + n - 8, b, 8);
        return a[0] | b[0];
    }
    std::uint64_t high = 0;
    for (std::size_t i = 0; i < n; ++i) {
        to[i] = from[i];
        high |= static_cast<unsigned char>(from[i]);
    }
    return high;
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

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
    return (high & kHighBits) == 0;
}

}  // namespace

// Texts are UTF-8 in the program; the export is in GBK. ASCII is the same in both,
// which covers the time stamps and readings, so only the rest is converted.
class GbkWriter {
public:
    GbkWriter(OutFile& out, Gbk& gbk) : out_(out), gbk_(gbk) { buf_.resize(kExportFlushAt + 4096); }
    bool valid() const { return gbk_.available(); }

    void text(std::string_view s) {
        if (isAscii(s)) {
            raw(s);
        } else {
            converted_.clear();
            gbk_.append(converted_, s);
            raw(converted_);
        }
    }
    void raw(std::string_view s) {
        if (s.empty()) return;  // an empty view may have no data at all
        std::memcpy(room(s.size()), s.data(), s.size());
        used_ += s.size();
    }
    // One row of the table: its first nine cells, each followed by a comma, then CR LF.
    void row(RowCells cells) {
        // Copied as they are, which is right when they are all ASCII, as time stamps and
        // readings are; otherwise, or when they are long, written again cell by cell.
        const RowCells again = cells;
        char* const out = room(kRowRoom);
        char* const end = out + kRowRoom - 11;
        char* o = out;
        bool fits = true;
        std::uint64_t high = 0;
        for (int c = 0; c < kRecordColumns; ++c) {
            const std::string_view cell = cells.next();
            if (cell.size() > static_cast<std::size_t>(end - o)) {
                fits = false;
                break;
            }
            high |= put(o, cell);
            o += cell.size();
            *o++ = ',';
        }
        if (fits && (high & kHighBits) == 0) {
            *o++ = '\r';
            *o++ = '\n';
            used_ += static_cast<std::size_t>(o - out);
            return;
        }
        cells = again;
        for (int c = 0; c < kRecordColumns; ++c) {
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
    Gbk& gbk_;
    std::string buf_;
    std::string converted_;
    std::size_t used_ = 0;
    bool ok_ = true;
};


std::string fileErrorText(const FileError& error) {
    std::string_view reason;
    switch (error.fault) {
        case FileFault::None: return {};
        case FileFault::Open: reason = msg::kFileOpen; break;
        case FileFault::Write: reason = msg::kFileWrite; break;
        case FileFault::Read: reason = msg::kFileRead; break;
        case FileFault::Permissions: reason = msg::kFilePermissions; break;
        case FileFault::Rename: reason = msg::kFileRename; break;
        case FileFault::Other: reason = msg::kFileOther; break;
        case FileFault::Exists: return std::string(msg::kFileExists);
        case FileFault::Directory: return std::string(msg::kFileDirectory);
        case FileFault::Fifo: return std::string(msg::kFileFifo);
        case FileFault::Device: return std::string(msg::kFileDevice);
        case FileFault::NotRegular: return std::string(msg::kFileNotRegular);
        case FileFault::TooLarge: return std::string(msg::kFileTooLarge);
    }
    return msg::withDetail(reason, error.detail);
}

std::string refusalText(tablefile::Refusal refusal) {
    using tablefile::Refusal;
    switch (refusal) {
        case Refusal::None: break;
        case Refusal::Empty: return std::string(msg::kTableEmpty);
        case Refusal::Foreign: return std::string(msg::kTableForeign);
        case Refusal::Truncated: return std::string(msg::kTableTruncated);
        case Refusal::Version: return std::string(msg::kTableVersion);
        case Refusal::TooLarge: return std::string(msg::kTableTooLarge);
        case Refusal::TooManyColumns: return std::string(msg::kTableTooManyColumns);
        case Refusal::RowCount: return std::string(msg::kTableRowCount);
        case Refusal::NoEndMarker: return std::string(msg::kTableNoEnd);
        case Refusal::Checksum: return std::string(msg::kTableChecksum);
        case Refusal::BadRows: return std::string(msg::kTableBadRows);
    }
    return {};
}

std::string tableErrorText(const TableError& error) {
    using Step = TableError::Step;
    switch (error.step) {
        case Step::None: break;
        case Step::Unbound: return std::string(msg::kUnbound);
        case Step::Create: return msg::cannotCreate(fileErrorText(error.file));
        case Step::Write: return std::string(msg::kSaveWriteFailed);
        case Step::Finish: return msg::cannotFinish(fileErrorText(error.file));
        case Step::Read:
            return error.file.fault == FileFault::None ? std::string(msg::kUnreadable) : fileErrorText(error.file);
        case Step::Refused: return refusalText(error.refusal);
        case Step::OutOfMemory: return std::string(msg::kOutOfMemory);
    }
    return {};
}

void 存到文件按钮_clicked(App& a) {
    std::optional<std::string> name = a.s.fileDialog.choose(DialogMode::SaveAskBeforeReplacing, kFilter);
    if (!name) return;
    TableError why;
    if (a.w.数据源1.save(a.s.files, *name, &why)) {
        // Before the box: rows recorded while it is open are not in the file.
        forgetUnsavedRows(a);
        a.s.boxes.show(msg::saved(*name), Buttons::Ok, Icon::Information, kInfoTitle);
    } else {
        showError(a, msg::kSaveFailed, *name, tableErrorText(why));
    }
}

void 从文件读按钮_clicked(App& a) {
    std::optional<std::string> name = a.s.fileDialog.choose(DialogMode::Open, kFilter);
    if (!name) return;
    // The rows read replace the table's: rows not yet saved would be gone.
    if (const int unsaved = unsavedRowCount(a); unsaved > 0) {
        if (a.s.boxes.show(msg::confirmReadOverUnsaved(unsaved), Buttons::OkCancel, Icon::None, "") != Answer::Ok) return;
    }
    TableError why;
    if (a.w.数据源1.load(a.s.files, *name, &why)) {
        forgetUnsavedRows(a);
        a.s.boxes.show(std::string(msg::kReadDone), Buttons::Ok, Icon::Information, kInfoTitle);
    } else {
        showError(a, msg::kReadFailed, *name, tableErrorText(why));
    }
}

namespace {

// The heading line and every row of table, as the export lays them out.
bool writeCsvBody(GbkWriter& csv, const Headings& headings, const RecordStore* table) {
    csv.text("时间,");
    for (const std::string& h : headings) {
        csv.text(h);
        csv.raw(",");
    }
    csv.raw("\r\n");
    bool ok = true;
    if (table) {
        ok = table->forEachRow([&csv](RowCells cells) {
            csv.row(cells);
            return csv.maybeFlush();
        });
    }
    return csv.flush() && ok;
}

}  // namespace

CsvWriter::CsvWriter(OutFile& out, Gbk& gbk) : w_(std::make_unique<GbkWriter>(out, gbk)) {}
CsvWriter::~CsvWriter() = default;
bool CsvWriter::valid() const { return w_->valid(); }

void CsvWriter::heading(const Headings& headings) {
    w_->text("时间,");
    for (const std::string& h : headings) {
        w_->text(h);
        w_->raw(",");
    }
    w_->raw("\r\n");
}

void CsvWriter::row(std::span<const std::string_view> cells) {
    for (std::size_t c = 0; c < static_cast<std::size_t>(kRecordColumns); ++c) {
        if (c < cells.size()) w_->text(cells[c]);
        w_->raw(",");
    }
    w_->raw("\r\n");
}

bool CsvWriter::flushIfFull() { return w_->maybeFlush(); }
bool CsvWriter::finish() { return w_->flush(); }

void 按钮6_clicked(App& a) {
    std::optional<std::string> name = a.s.fileDialog.choose(DialogMode::Save, kFilter);
    if (!name) return;
    const std::string path = *name + ".csv";

    // Created exclusively before anything is announced: an existing file is never
    // touched, and there is no gap between a check and the creation.
    FileError why;
    std::unique_ptr<OutFile> out = a.s.files.createNew(path, &why);
    if (!out) {
        if (a.s.files.exists(path)) {
            a.s.boxes.show(std::string(msg::kExportExists), Buttons::Ok, Icon::None, "");
        } else {
            showError(a, msg::kExportCannotCreate, path, fileErrorText(why));
        }
        return;
    }
    GbkWriter csv(*out, a.s.gbk);
    if (!csv.valid()) {
        out.reset();  // nothing was written: nothing takes the name
        showError(a, msg::kExportFailed, path, msg::kNoGbk);
        return;
    }

    a.s.boxes.show(msg::exported(*name), Buttons::Ok, Icon::Information, kInfoTitle);

    // Headings and rows are taken now, after the box: rows recorded while it was open
    // are included. Nothing below yields to other events.
    Headings headings;
    for (int i = 1; i <= kChannels; ++i) headings[static_cast<std::size_t>(i - 1)] = a.w.表(i).text();
    bool ok = writeCsvBody(csv, headings, a.w.数据源1.store());
    FileError closeWhy;
    bool closed = ok && out->commit(&closeWhy);
    if (!ok || !closed) {
        // A truncated CSV could pass for a whole day's records: it never takes the name.
        out.reset();
        showError(a, msg::kExportCutRemoved, path, ok ? fileErrorText(closeWhy) : std::string(msg::kExportWriteFailed));
        return;
    }
    // The file is on the disk, under its name: only now are its rows saved.
    forgetUnsavedRows(a);
}

}  // namespace keldrin
