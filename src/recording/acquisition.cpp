// Acquisition control and recording: the start/stop toggle, the recorder, the periodic
// emptying of the receive echo, the poll interval and clearing the record table.
#include "common/textnum.h"
#include "common/texts.h"
#include "recording/recording.h"
#include "recording/unsaved_rows.h"
#include "common/messages.h"
#include "shell/freshness.h"

namespace keldrin {

void 启动_clicked(App& a) {
    a.w.启动.setText(a.w.启动.text() == "启动" ? "停止" : "启动");
    if (a.acquiring()) {
        // A reading from before this start is no measurement of this run.
        a.g.acquisitionStartedAt = a.s.clock.elapsedMs();
        a.g.link.quietSince = a.g.acquisitionStartedAt;
        a.g.probePolls.fill(0);
        a.g.probeFrames.fill(0);
        a.g.publishedRun = runId(a.s.clock.nowText());
        a.g.publishedRows = 0;
    }
    // Either way the next frame starts aligned and the watchdog starts counting afresh.
    a.g.receiveBuffer.clear();
    a.g.silenceTicks = 0;
}

void 时钟5_tick(App& a) {
    if (!a.acquiring()) return;
    RecordStore* store = a.w.数据源1.store();
    if (!store) return;
    // A table read from a narrower file would silently drop channels: widen it first.
    if (store->columnCount() < kRecordColumns) store->setColumnCount(kRecordColumns);
    DataSource& ds = a.w.数据源1;
    ds.appendRow();
    const int r = ds.rowCount();
    ds.setCell(r, 1, a.s.clock.nowText());
    // A row is appended on every tick whatever the probes do; a ticked channel whose
    // reading is stale gets an empty cell, a gap, never its last value again. A current
    // reading is written as its label shows it, from the reading itself: the label is
    // refreshed only every 50 ms and may still show the value from before a gap.
    const PerChannel<bool> stale = staleChannels(a);
    for (int i = 1; i <= kChannels; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (a.w.选择框(i).checked() && !stale[at]) ds.setCell(r, 1 + i, readingText(static_cast<double>(a.g.channelValues[at])));
    }
    keepUnsavedRow(a, r);
    if (a.s.publisher.enabled()) publishRow(a, r);
}

std::string runId(const std::string& startTime) {
    // "yyyy-MM-dd HH:mm:ss.zzz" as "yyyyMMddTHHmmsszzz": one rig starts no two runs in
    // one millisecond.
    std::string id;
    for (const char c : startTime) {
        if (c == ' ') id += 'T';
        else if (c >= '0' && c <= '9') id += c;
    }
    return id;
}

void publishRow(App& a, int r) {
    const DataSource& ds = a.w.数据源1;
    PublishedRow row;
    row.run = a.g.publishedRun;
    row.row = ++a.g.publishedRows;
    row.time = std::string(ds.cell(r, 1));
    for (int i = 1; i <= kChannels; ++i) {
        if (!a.w.选择框(i).checked()) continue;
        // A key per channel even where headings are empty or alike: a consumer would
        // otherwise keep only one of two equal keys.
        std::string key = a.w.表(i).text();
        if (key.empty()) key = std::to_string(i);
        for (const auto& [taken, cell] : row.values) {
            if (taken == key) key += "_" + std::to_string(i);
        }
        std::string cell(ds.cell(r, 1 + i));
        row.values.emplace_back(std::move(key), cell.empty() ? std::nullopt : std::optional<std::string>(std::move(cell)));
    }
    a.s.publisher.row(row);
}

void 时钟3_tick(App& a) {
    if (a.acquiring()) a.w.编辑框接收.setText("");
}

void 间隔时间_textChanged(App& a) {
    // Called on every keystroke: "5" on the way to "50" polls every 5 ms for a moment.
    // Negative values stop the poll timer like 0.
    int ms = truncToInt(textToDouble(a.w.间隔时间.text()));
    a.w.时钟2.setInterval(ms < 0 ? 0 : ms);
}

void 清空按钮_clicked(App& a) {
    if (a.s.boxes.show(std::string(msg::kConfirmClear), Buttons::OkCancel, Icon::None, "") != Answer::Ok) return;
    a.w.通用提供者1.setRowCount(0);
    a.w.通用提供者1.setColumnCount(kRecordColumns);
    forgetUnsavedRows(a);
}

}  // namespace keldrin
