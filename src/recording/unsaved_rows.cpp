#include "recording/unsaved_rows.h"
#include "recording/journal_steps.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "common/messages.h"
#include "store/journal.h"
#include "store/record_store.h"
#include "recording/recording.h"

namespace keldrin {

namespace {

// After a write failure, the journal is made again after 1, 2, 4 ... rows, then every
// this many rows: a full disk costs a failed try now and then, not one per row.
constexpr int kRetryEveryMost = 16;
// A replacement is written in pieces of about this size.
constexpr std::size_t kPieceBytes = 1 << 20;

Headings currentHeadings(App& a) {
    Headings h;
    for (int i = 1; i <= kChannels; ++i) h[static_cast<std::size_t>(i - 1)] = a.w.表(i).text();
    return h;
}

// Brings the headings last written up to date; true when they changed. Compared in
// place: this runs for every recorded row.
bool headingsChanged(App& a, Headings& written) {
    bool changed = false;
    for (int i = 1; i <= kChannels; ++i) {
        std::string& w = written[static_cast<std::size_t>(i - 1)];
        if (w == a.w.表(i).text()) continue;
        w = a.w.表(i).text();
        changed = true;
    }
    return changed;
}

std::string rowBytes(const RecordStore& table, int r) {
    std::array<std::string_view, kRecordColumns> cells;
    for (int c = 1; c <= kRecordColumns; ++c) cells[static_cast<std::size_t>(c - 1)] = table.cell(r, c);
    return journal::rowRecord(cells);
}

}  // namespace

void tellOnce(App& a, bool& told, std::string_view why) {
    if (told) return;
    told = true;
    a.s.boxes.show(std::string(why), Buttons::Ok, Icon::Warning, std::string(msg::kWarningTitle));
}

// Recording goes on in memory, as it always did; the operator hears of it once.
void keepInMemoryOnly(App& a, std::string_view why) {
    UnsavedRowJournal& j = journalOf(a);
    j.file.reset();
    j.failing = false;
    tellOnce(a, j.told, why);
}


void startFailing(App& a) {
    UnsavedRowJournal& j = journalOf(a);
    j.failing = true;
    j.retryEvery = 1;
    j.retryIn = 1;
    tellOnce(a, j.told, msg::kJournalWriteFailed);
}

// Makes the journal again, in one step, as the headings and every unsaved row of the
// table; false (the old file unchanged) when that failed.
bool rebuild(App& a) {
    UnsavedRowJournal& j = journalOf(a);
    const RecordStore* table = a.w.数据源1.store();
    if (!j.file) return false;
    FileError why;
    std::unique_ptr<OutFile> out = j.file->replacement(&why);
    if (!out) return false;
    Headings headings = currentHeadings(a);
    std::string bytes = journal::header() + journal::headingsRecord(headings);
    bool ok = true;
    const int rows = table ? table->rowCount() : 0;
    for (int r = std::max(j.savedRows, 0) + 1; r <= rows && ok; ++r) {
        bytes += rowBytes(*table, r);
        if (bytes.size() >= kPieceBytes) {
            ok = out->write(bytes);
            bytes.clear();
        }
    }
    if (!ok || !out->write(bytes) || !out->commit(&why)) return false;
    j.headings = std::move(headings);
    j.headingsWritten = true;
    j.failing = false;
    return true;
}

void openUnsavedRows(App& a) {
    UnsavedRowJournal& j = journalOf(a);
    JournalOpenError why = JournalOpenError::None;
    j.file = a.s.files.openJournal(kJournalName, &why);
    if (!j.file) {
        keepInMemoryOnly(a, why == JournalOpenError::Locked       ? msg::kJournalInUse
                            : why == JournalOpenError::NotRegular ? msg::kJournalNotRegular
                                                                  : msg::kJournalUnavailable);
        return;
    }
    const RecordStore* table = a.w.数据源1.store();
    j.savedRows = table ? table->rowCount() : 0;
    if (j.file->previousSize() < journal::kHeaderSize + journal::kFrameSize) {
        // Empty, or too short to hold a record: cut while it was being made.
        forgetUnsavedRows(a);
        return;
    }
    rescuePreviousRun(a);
}

void keepUnsavedRow(App& a, int r) {
    UnsavedRowJournal& j = journalOf(a);
    const RecordStore* table = a.w.数据源1.store();
    if (!j.file || !table) return;
    if (j.failing) {
        // Tried again now and then; while a rescue reads the file, only at its end.
        if (j.rescuing || --j.retryIn > 0) return;
        if (!rebuild(a)) {
            j.retryEvery = std::min(j.retryEvery * 2, kRetryEveryMost);
            j.retryIn = j.retryEvery;
        }
        return;
    }
    if (!j.rescuing && !j.file->atItsName()) {
        // Deleted, or renamed away and replaced: made again with every unsaved row,
        // this one included.
        if (rebuild(a)) {
            tellOnce(a, j.toldRecreated, msg::kJournalRecreated);
        } else {
            startFailing(a);
        }
        return;
    }
    std::string bytes;
    if (headingsChanged(a, j.headings) || !j.headingsWritten) bytes += journal::headingsRecord(j.headings);
    bytes += rowBytes(*table, r);
    if (!j.file->append(bytes)) {
        startFailing(a);
        return;
    }
    j.headingsWritten = true;
    j.file->syncSoon();
}

void forgetUnsavedRows(App& a) {
    UnsavedRowJournal& j = journalOf(a);
    const RecordStore* table = a.w.数据源1.store();
    j.savedRows = table ? table->rowCount() : 0;
    // While a rescue reads the file it is not emptied: its end makes the journal again
    // with the rows still unsaved then.
    if (!j.file || j.rescuing) return;
    j.headingsWritten = false;
    if (!j.file->atItsName()) {
        if (!rebuild(a)) startFailing(a);
        return;
    }
    // Emptied in place, which needs no free space: even on a full disk, saved rows
    // are never rescued as if they were not.
    if (j.file->restart(journal::header())) {
        j.failing = false;
    } else {
        startFailing(a);
    }
}

int unsavedRowCount(App& a) {
    const RecordStore* table = a.w.数据源1.store();
    const int rows = table ? table->rowCount() : 0;
    return std::max(0, rows - journalOf(a).savedRows);
}

}  // namespace keldrin
