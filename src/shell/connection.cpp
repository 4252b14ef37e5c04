// The serial connection: start-up connection, reconnect, the port dialog.
#include <string>

#include "common/file_names.h"
#include "common/messages.h"
#include "common/textnum.h"
#include "protocol/frames.h"
#include "shell/shell.h"

namespace keldrin {

namespace {

// A settings file holds one decimal integer; missing or empty gives 0. Only its start
// is read, so a huge or endless file cannot hold up start-up.
int readSetting(App& a, const std::string& name, std::string* text = nullptr) {
    std::string content = a.s.files.readPrefix(name, Files::kSettingBytes).value_or(std::string());
    if (text) *text = content;
    return textToInt(content);
}

void showPortError(App& a) { a.s.boxes.show(std::string(msg::kChoosePort), Buttons::Ok, Icon::None, ""); }

}  // namespace

void startUpConnection(App& a) {
    a.s.port.setPortNumber(readSetting(a, kPortFile));
    std::string baudText;
    readSetting(a, kBaudFile, &baudText);
    a.w.编辑框3.setText(baudText);
    a.s.port.setBaudRate(textToInt(a.w.编辑框3.text()));
    if (!a.s.port.open()) {
        a.s.boxes.show(std::string(msg::kConnectFailed), Buttons::Ok, Icon::None, "");
        return;
    }
    a.pause(100);
    a.s.port.send(kConnectGreeting);
    a.w.setTitle(msg::titleConnectedAtStart(a.s.port.portNumber()));
}

void 连接_chosen(App& a) {
    a.g.link.healing = false;  // the operator's choice wins
    a.w.setTitle(std::string(msg::kTitleConnecting));
    a.s.port.close();
    if (!a.s.port.open()) {
        showPortError(a);
        return;
    }
    a.s.port.send(kConnectGreeting);
    a.w.setTitle(msg::titleConnected(a.s.port.portNumber()));
}

void 端口设置_chosen(App& a) {
    PortWin dialog;
    dialog.组合框1.itemChosen = [&a, &dialog] { PortWin_组合框1_itemChosen(a, dialog); };
    dialog.按钮1.clicked = [&a, &dialog] { PortWin_按钮1_clicked(a, dialog); };
    portScan(a, dialog);
    a.s.dialogs.showPortWin(dialog);
}

void portScan(App& a, PortWin& d) {
    // Trial handles only: the connection 端口1 holds stays as it was.
    for (int n = 1; n <= 255; ++n) {
        if (a.s.port.canOpen(n)) d.组合框1.addItem({"COM" + std::to_string(n), n});
    }
}

void PortWin_组合框1_itemChosen(App& a, PortWin& d) {
    int index = d.组合框1.selectedIndex();
    if (index < 0) return;
    int n = d.组合框1.items()[static_cast<std::size_t>(index)].value;
    a.g.link.healing = false;  // the operator's choice wins
    a.s.port.setPortNumber(n);
    d.编辑框1.setText(std::to_string(n));
    a.w.setTitle(std::string(msg::kTitleConnectingChosenPort));
    a.s.port.close();
    if (!a.s.port.open()) showPortError(a);
    a.s.files.writeAll(kPortFile, d.编辑框1.text());
    a.w.setTitle(msg::titlePortSet(a.s.port.portNumber()));
}

void PortWin_按钮1_clicked(App&, PortWin& d) { d.close(); }

void reopenPort(App& a, int baud) {
    a.s.port.setBaudRate(baud);
    a.pause(100);
    // The device may go away during the pauses; then the port is healed at this rate.
    const bool linked = a.s.port.isOpen() || a.g.link.healing;
    a.s.port.close();
    a.pause(100);
    if (a.s.port.open()) {
        if (a.g.link.healing) portBack(a);
    } else if (linked) {
        healPort(a);
    }
    a.pause(100);
}

void 发布设置_chosen(App& a) {
    a.s.dialogs.showPublishSettings();
    a.w.发布状态.setVisible(a.s.publisher.enabled());
}

}  // namespace keldrin
