#pragma once
// The steps the running journal of unsaved rows and the rescue of a previous run's rows
// share (unsaved_rows.cpp, rescue.cpp).
#include <string_view>

#include "shell/app.h"

namespace keldrin {

inline UnsavedRowJournal& journalOf(App& a) { return a.g.unsavedRows; }
// Makes the journal again, in one step, as the headings and every unsaved row of the
// table; false (the old file unchanged) when that failed.
bool rebuild(App& a);
// Shows why once: told is set when the operator has heard it.
void tellOnce(App& a, bool& told, std::string_view why);
// Recording goes on in memory only, as it always did; the operator hears of it once.
void keepInMemoryOnly(App& a, std::string_view why);
// Writing failed: nothing is appended until the journal has been made again.
void startFailing(App& a);
// The journal just opened holds a previous run's records: rescues them, in slices.
void rescuePreviousRun(App& a);

}  // namespace keldrin
