#include "recording/unsaved_rows.h"

#include <array>
#include <string>
#include <vector>

#include "common/messages.h"
#include "records/journal.h"
#include "records/record_store.h"
#include "recording/recording.h"

namespace keldrin {

namespace {

constexpr int kJournalColumns = 9;  // the date and time, and eight readings

// Brings the headings last written up to date; true when they changed. Compared in
// place: this runs for every recorded row.
bool headingsChanged(App& a, std::array<std::string, 8>& written) {
    bool changed = false;
    for (int i = 1; i <= 8; ++i) {
        std::string& w = written[static_cast<std::size_t>(i - 1)];
        if (w == a.w.表(i).text()) continue;
        w = a.w.表(i).text();
        changed = true;
    }
    return changed;
}

// Recording goes on in memory, as it always did; the operator hears of it once.
void keepInMemoryOnly(App& a, std::string_view why) {
    UnsavedRowJournal& j = a.g.unsavedRows;
    j.file.reset();
    if (j.told) return;
    j.told = true;
    a.s.boxes.show(std::string(why), Buttons::Ok, Icon::Warning, std::string(msg::kWarningTitle));
}

// "恢复记录_yyyyMMdd_HHmmss.csv" from the clock's "yyyy-MM-dd HH:mm:ss.zzz".
std::string rescueName(App& a, int attempt) {
    std::string digits;
    for (char c : a.s.clock.nowText().substr(0, 19)) {
        if (c >= '0' && c <= '9') digits += c;
    }
    std::string name = "恢复记录_" + digits.substr(0, 8) + "_" + digits.substr(8);
    if (attempt > 0) name += "_" + std::to_string(attempt);
    return name + ".csv";
}

// Writes the rescued rows in the export's layout to a new file; false (after saying
// why) when it could not.
bool rescue(App& a, const journal::Recovered& r) {
    std::string path;
    FileError why;
    std::unique_ptr<OutFile> out;
    // Never over an existing file: a second start within the same second takes the next name.
    for (int attempt = 0; attempt < 100 && !out; ++attempt) {
        path = rescueName(a, attempt);
        out = a.s.files.createNew(path, &why);
        if (!out && !a.s.files.exists(path)) break;
    }
    auto failed = [&] {
        a.s.boxes.show(msg::fileFailure(msg::kRescueFailed, path, fileErrorText(why)), Buttons::Ok, Icon::Critical,
                       std::string(msg::kErrorTitle));
        return false;
    };
    if (!out) return failed();
    RecordStore rows;
    rows.setColumnCount(kJournalColumns);
    for (const std::vector<std::string>& row : r.rows) {
        rows.appendRow();
        for (std::size_t c = 0; c < row.size() && c < kJournalColumns; ++c) {
            rows.setCell(rows.rowCount(), static_cast<int>(c) + 1, row[c]);
        }
    }
    if (!writeCsv(*out, r.headings, rows) || !out->commit(&why)) {
        a.s.files.remove(path);
        return failed();
    }
    a.s.boxes.show(msg::rescued(path, r.rows.size(), r.damaged), Buttons::Ok, Icon::Information,
                   std::string(msg::kInfoTitle));
    return true;
}

}  // namespace

void openUnsavedRows(App& a) {
    std::string previous;
    JournalOpenError why = JournalOpenError::None;
    std::unique_ptr<JournalFile> file = a.s.files.openJournal(kJournalName, &previous, &why);
    if (!file) {
        keepInMemoryOnly(a, why == JournalOpenError::Locked ? msg::kJournalInUse : msg::kJournalUnavailable);
        return;
    }
    const journal::Recovered r = journal::read(previous);
    if (!previous.empty() && r.badHeader) {
        // Not ours, or of a later version: left alone.
        keepInMemoryOnly(a, msg::kJournalUnavailable);
        return;
    }
    // Rows that could not be rescued stay for the next start; this run's rows follow them.
    const bool keepOld = (!r.rows.empty() || r.damaged > 0) && !rescue(a, r);
    a.g.unsavedRows.file = std::move(file);
    if (!keepOld) forgetUnsavedRows(a);
}

void keepUnsavedRow(App& a, int r) {
    UnsavedRowJournal& j = a.g.unsavedRows;
    const RecordStore* table = a.w.数据源1.store();
    if (!j.file || !table) return;
    std::string bytes;
    if (headingsChanged(a, j.headings) || !j.headingsWritten) bytes += journal::headingsRecord(j.headings);
    std::array<std::string_view, kJournalColumns> cells;
    for (int c = 1; c <= kJournalColumns; ++c) cells[static_cast<std::size_t>(c - 1)] = table->cell(r, c);
    bytes += journal::rowRecord(cells);
    if (!j.file->append(bytes)) {
        keepInMemoryOnly(a, msg::kJournalWriteFailed);
        return;
    }
    j.headingsWritten = true;
    j.file->syncSoon();
}

void forgetUnsavedRows(App& a) {
    UnsavedRowJournal& j = a.g.unsavedRows;
    if (!j.file) return;
    j.headingsWritten = false;
    if (!j.file->restart(journal::header())) keepInMemoryOnly(a, msg::kJournalWriteFailed);
}

}  // namespace keldrin
