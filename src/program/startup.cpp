// The start-up sequence: poll template, connection, record table, screen, zoom.
#include <string>

#include "common/messages.h"
#include "program/program.h"
#include "protocol/frames.h"

namespace keldrin {

void startUpSequence(App& a) {
    a.g.pollFrame.assign(kPollTemplate.begin(), kPollTemplate.end());
    startUpConnection(a);
    MainWin& w = a.w;
    w.数据表格.bind(&w.数据源1);
    w.数据源1.bind(&w.通用提供者1);
    w.数据源1.applyStyle(0xC0C0C0, 5, true);
    w.通用提供者1.setRowCount(0);
    w.通用提供者1.setColumnCount(kRecordColumns);
    w.屏幕宽度.setText(std::to_string(a.s.screen.width()));
    w.屏幕高度.setText(std::to_string(a.s.screen.height()));
    loadZoom(a);
}

void startPublishing(App& a) {
    if (const std::optional<std::string> problem = a.s.publisher.start()) {
        a.s.boxes.show(msg::publishSettingsRefused(*problem), Buttons::Ok, Icon::Warning,
                       std::string(msg::kErrorTitle));
    }
    a.w.发布状态.setVisible(a.s.publisher.enabled());
}

}  // namespace keldrin
