#pragma once
// The channel display: live numbers and bars, clock and counters, grid zoom.
#include "shell/app.h"

namespace keldrin {

void 时钟1_tick(App& a);
void 按钮7_clicked(App& a);
void 按钮8_clicked(App& a);
void loadZoom(App& a);

}  // namespace keldrin
