// The grid zoom: one step per click, remembered in 缩放.txt for the next start.
#include <string>

#include "common/file_names.h"
#include "common/textnum.h"
#include "display/display.h"

namespace keldrin {

namespace {

void stepZoom(App& a, int step) {
    Grid& grid = a.w.数据表格;
    grid.setZoom(grid.zoom() + step);
    // Store what the grid accepted, not what was asked for.
    a.s.files.writeAll(kZoomFile, std::to_string(grid.zoom()));
}

}  // namespace

void 按钮7_clicked(App& a) { stepZoom(a, +1); }

void 按钮8_clicked(App& a) { stepZoom(a, -1); }

void loadZoom(App& a) {
    a.w.数据表格.setZoom(textToInt(a.s.files.readPrefix(kZoomFile, Files::kSettingBytes).value_or(std::string())));
}

}  // namespace keldrin
