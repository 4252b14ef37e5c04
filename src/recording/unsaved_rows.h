#pragma once
// The journal of rows recorded since the table was last saved, exported, emptied or
// replaced: every row 时钟5 appends is written to 未保存记录.dat before the tick
// returns, so a crash, a power cut or a kill costs no recorded row. Nothing of it shows
// while all goes well; the next start rescues what a crash left as a CSV file.
#include "common/file_names.h"
#include "shell/app.h"

namespace keldrin {


// After the start-up sequence: opens the journal and rescues the rows a previous run
// left in it, in slices between other events, then keeps only this run's rows there.
void openUnsavedRows(App& a);
// After 时钟5 appended row r.
void keepUnsavedRow(App& a, int r);
// After the table was saved, exported, emptied or replaced: none of its rows is
// unsaved any more.
void forgetUnsavedRows(App& a);
// How many rows of the table are not saved.
int unsavedRowCount(App& a);

}  // namespace keldrin
