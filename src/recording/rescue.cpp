// The rescue of a previous run's rows: what a crash, a kill or a power cut left in the
// journal is written to a new CSV file at the next start, in slices between other
// events, once and only once.
#include <algorithm>
#include <array>
#include <memory>
#include <string>

#include "common/file_names.h"
#include "common/messages.h"
#include "common/texts.h"
#include "recording/journal_steps.h"
#include "recording/recording.h"
#include "recording/unsaved_rows.h"
#include "store/journal.h"
#include "store/record_store.h"

namespace keldrin {

namespace {

// Of the journal per slice of a rescue: a few milliseconds' work, so that the window
// answers between slices whatever the journal's size.
constexpr std::uint64_t kSliceBytes = 256 << 10;

// "恢复记录_yyyyMMdd_HHmmss.csv" from the clock's "yyyy-MM-dd HH:mm:ss.zzz".
std::string stampedName(App& a, std::string_view stem, std::string_view ext, int attempt) {
    std::string name = std::string(stem) + fileStamp(a.s.clock.nowText());
    if (attempt > 0) name += "_" + std::to_string(attempt);
    return name + std::string(ext);
}

// A name of that form no file has yet: a second one within the same second takes the
// next suffix.
std::string freeName(App& a, std::string_view stem, std::string_view ext) {
    std::string name;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = stampedName(a, stem, ext, attempt);
        if (!a.s.files.exists(name)) break;
    }
    return name;
}

// Only a name this program gives a rescue file, in the working folder, is taken from
// the journal.
bool isRescueName(std::string_view name) {
    return name.rfind(kRescueStem, 0) == 0 && name.find_first_of("/\\:") == std::string_view::npos;
}

// A previous run's rows, rescued from the journal in two streaming passes: the first
// finds where the rows still to rescue begin (past any already in a rescue file) and
// the headings of the last of them, the second writes them to a new CSV file. Memory
// stays bounded by the journal reader's window and the CSV writer's buffer.
struct Rescue {
    explicit Rescue(App& app) : a(app) {}
    App& a;
    std::unique_ptr<journal::Scanner> scan;
    bool writing = false;
    // From the first pass.
    std::uint64_t from = 0;   // rows before this offset are in keptIn already
    std::string keptIn;
    std::size_t keptRows = 0;
    std::size_t rows = 0;     // rows after `from`
    std::string headings;     // the headings record in force
    std::uint64_t headingsAt = 0, rowHeadingsAt = 0;
    std::string rowHeadings;  // ... at the last row after `from`
    std::size_t damaged = 0;
    bool badHeader = false;
    // The second pass.
    std::string name;
    std::unique_ptr<OutFile> out;
    std::unique_ptr<CsvWriter> csv;
    std::size_t written = 0;
};

journal::Scanner::Source sourceOf(JournalFile& file) {
    return [&file](std::uint64_t at, char* to, std::size_t n) { return file.readPrevious(at, {to, n}); };
}

Headings headingsOf(std::string_view payload) {
    Headings h;
    std::size_t i = 0;
    journal::Scanner::eachCell(payload, [&](std::string_view c) { h[i++] = std::string(c); });
    return h;
}

// The rescue is over, one way or the other: the journal holds this run's rows only.
void endRescue(App& a) {
    UnsavedRowJournal& j = journalOf(a);
    j.rescuing = false;
    if (j.file && !rebuild(a)) startFailing(a);
}

void rescueFailed(App& a, const std::string& path, const FileError& why) {
    UnsavedRowJournal& j = journalOf(a);
    j.rescuing = false;
    j.told = true;
    // The journal stays as it is, for the next start; this run keeps out of it.
    j.file.reset();
    j.failing = false;
    a.s.boxes.show(msg::fileFailure(msg::kRescueFailed, path, fileErrorText(why)), Buttons::Ok, Icon::Critical,
                   std::string(msg::kErrorTitle));
}

void announce(App& a, const Rescue& r, const std::string& csvName, std::size_t rows, const std::string& aside) {
    std::string text;
    if (!csvName.empty()) text = msg::rescued(csvName, rows, r.damaged);
    if (!aside.empty()) text += (text.empty() ? "" : "\r\n") + msg::journalKeptAside(aside);
    if (!text.empty()) a.s.boxes.show(text, Buttons::Ok, Icon::Information, std::string(msg::kInfoTitle));
}

// After the rows are safe in their CSV file (or there were none): a damaged journal is
// kept aside, the journal is made again with this run's rows, and then the operator is
// told, so that a kill while the box is open rescues nothing twice.
void finishRescue(App& a, Rescue& r, const std::string& csvName, std::size_t rows) {
    std::string aside;
    if (r.badHeader) {
        aside = freeName(a, kDamagedJournalStem, ".dat");
        if (!journalOf(a).file->keepAside(aside)) {
            journalOf(a).rescuing = false;
            announce(a, r, csvName, rows, {});
            keepInMemoryOnly(a, msg::kJournalNotKeptAside);
            return;
        }
    }
    endRescue(a);
    announce(a, r, csvName, rows, aside);
}

void rescueSlice(const std::shared_ptr<Rescue>& r);

void nextSlice(const std::shared_ptr<Rescue>& r) {
    r->a.s.later.post([r] { rescueSlice(r); });
}

// The first pass is done: decides what is left to rescue and starts writing it.
void startWriting(const std::shared_ptr<Rescue>& r) {
    App& a = r->a;
    UnsavedRowJournal& j = journalOf(a);
    if (r->rows == 0 && r->damaged == 0) {
        // Nothing left: a clean journal, or one whose rows a killed run had already
        // rescued (the operator may not have seen that box).
        finishRescue(a, *r, r->keptIn, r->keptRows);
        return;
    }
    FileError why;
    r->out = a.s.files.createNew(r->name, &why);
    if (!r->out) {
        rescueFailed(a, r->name, why);
        return;
    }
    r->csv = std::make_unique<CsvWriter>(*r->out, r->a.s.gbk);
    if (!r->csv->valid()) {
        r->csv.reset();
        r->out.reset();
        rescueFailed(a, r->name, FileError{FileFault::Other, std::string(msg::kNoGbk)});
        return;
    }
    r->csv->heading(headingsOf(r->rows > 0 ? r->rowHeadings : r->headings));
    r->writing = true;
    r->scan = std::make_unique<journal::Scanner>(sourceOf(*j.file), r->from, j.file->previousSize());
    nextSlice(r);
}

void rescueSlice(const std::shared_ptr<Rescue>& r) {
    App& a = r->a;
    UnsavedRowJournal& j = journalOf(a);
    if (!j.file) return;
    journal::Scanner& scan = *r->scan;
    const std::uint64_t sliceEnd = scan.offset() + kSliceBytes;
    std::array<std::string_view, kRecordColumns> cells;
    bool flushed = true;
    while (flushed && !scan.done() && scan.offset() < sliceEnd) {
        std::optional<journal::Scanner::Item> item = scan.next();
        if (!item) continue;
        if (!r->writing) {
            if (item->type == journal::kHeadingsType) {
                r->headings.assign(item->payload);
                r->headingsAt = item->end;
            } else if (item->type == journal::kRowType) {
                ++r->rows;
                if (r->rowHeadingsAt != r->headingsAt) {
                    r->rowHeadings = r->headings;
                    r->rowHeadingsAt = r->headingsAt;
                }
            } else {
                std::string kept;
                journal::Scanner::eachCell(item->payload, [&](std::string_view c) { kept = c; });
                if (isRescueName(kept) && a.s.files.exists(kept)) {
                    r->from = item->end;
                    r->keptIn = kept;
                    r->keptRows += r->rows;
                    r->rows = 0;
                }
            }
        } else if (item->type == journal::kRowType) {
            std::size_t n = 0;
            journal::Scanner::eachCell(item->payload, [&](std::string_view c) {
                if (n < cells.size()) cells[n] = c;
                ++n;
            });
            r->csv->row(std::span<const std::string_view>(cells.data(), std::min(n, cells.size())));
            ++r->written;
            flushed = r->csv->flushIfFull();
        }
    }
    if (scan.readFailed()) {
        r->csv.reset();
        r->out.reset();
        rescueFailed(a, kJournalName, FileError{FileFault::Read, {}});
        return;
    }
    if (!r->writing) {
        if (!scan.done()) return nextSlice(r);
        r->damaged = scan.damaged();
        r->badHeader = scan.badHeader();
        startWriting(r);
        return;
    }
    FileError why;
    if (flushed && !scan.done()) return nextSlice(r);
    const bool written = flushed && r->csv->finish() && r->out->commit(&why);
    r->csv.reset();
    r->out.reset();
    if (!written) {
        if (why.fault == FileFault::None) why = {FileFault::Write, {}};
        rescueFailed(a, r->name, why);
        return;
    }
    finishRescue(a, *r, r->name, r->written);
}

}  // namespace

void rescuePreviousRun(App& a) {
    UnsavedRowJournal& j = journalOf(a);
    j.rescuing = true;
    auto r = std::make_shared<Rescue>(a);
    // Noted in the journal before any row of this run follows and before the file can
    // appear: once it exists, no later start rescues these rows again, and the rows
    // after the note are this run's.
    r->name = freeName(a, kRescueStem, ".csv");
    if (!j.file->append(journal::keptRecord(r->name)) || !j.file->syncNow()) {
        rescueFailed(a, kJournalName, FileError{FileFault::Write, {}});
        return;
    }
    r->scan = std::make_unique<journal::Scanner>(sourceOf(*j.file), 0, j.file->previousSize());
    rescueSlice(r);
}

}  // namespace keldrin
