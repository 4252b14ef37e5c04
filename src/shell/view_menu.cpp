// The menu 查看: the trend window of the record table.
#include "shell/shell.h"

namespace keldrin {

void 趋势图_chosen(App& a) { a.s.dialogs.showTrend(); }

}  // namespace keldrin
