#pragma once
// Every text the program shows the operator in a message box, a box's title, the
// window's title or the file dialog: here, and nowhere else. The handlers choose and
// put them together; what lies below them (files, the table file) reports codes.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/file_names.h"

namespace keldrin::msg {

namespace detail {
inline std::string join(std::string_view a, std::string_view b) {
    std::string s(a);
    s += b;
    return s;
}
}  // namespace detail

// Titles of the main window while connecting and once connected.
inline constexpr std::string_view kTitleConnecting = "Keldrin              加油连接中。。。";
inline constexpr std::string_view kTitleConnectingChosenPort = "加油连接中。。。";
inline std::string titleConnectedAtStart(int port) {
    return detail::join("Keldrin3.0              已连接COM", std::to_string(port));
}
inline std::string titleConnected(int port) { return detail::join("Keldrin              已连接COM", std::to_string(port)); }
inline std::string titlePortSet(int port) { return detail::join("Keldrin             ", std::to_string(port)); }
// While the port's device is gone and the port is being opened again by itself.
inline std::string titleLinkLost(int port) {
    return "Keldrin              连接断开COM" + std::to_string(port) + "，重连中。。。";
}

// A value label's tip: when its reading came (timeOfDay: "HH:mm:ss.zzz", empty when it
// has none) and the link to its probe since acquisition last started.
inline std::string readingTip(std::string_view timeOfDay, std::int64_t polls, std::int64_t frames) {
    std::string s = timeOfDay.empty() ? std::string("无读数") : detail::join("最后读数 ", timeOfDay);
    s += "\n自启动：轮询 " + std::to_string(polls) + " 次，收到 " + std::to_string(frames) + " 帧";
    return s;
}

// Connection boxes, shown without a title.
inline constexpr std::string_view kConnectFailed = "连接失败";
inline constexpr std::string_view kChoosePort = "请选择正确的端口";

// Box titles.
inline constexpr std::string_view kInfoTitle = "信息";
inline constexpr std::string_view kErrorTitle = "错误";

// The file dialog's filter, "description|pattern".
inline constexpr std::string_view kFileFilter = "所以文件 *.*|*.*";

// A failed file operation: what failed, on which file, and why.
inline std::string fileFailure(std::string_view what, std::string_view path, std::string_view why) {
    std::string s(what);
    s += "\r\n文件路径为：";
    s += path;
    s += "\r\n原因：";
    s += why;
    return s;
}

// Saving and reading the table.
inline std::string saved(std::string_view path) { return detail::join("存到文件成功。\r\n文件路径为：", path); }
inline constexpr std::string_view kSaveFailed = "存到文件失败。";
inline constexpr std::string_view kReadDone = "从文件读成功。";
inline constexpr std::string_view kReadFailed = "从文件读失败，数据表未改动。";

// Exporting the table as CSV.
inline std::string exported(std::string_view path) { return detail::join("数据导出成功。\r\n文件路径为：", path); }
inline constexpr std::string_view kExportExists = "文件已存在导出失败";
inline constexpr std::string_view kExportCannotCreate = "数据导出失败，无法创建文件。";
inline constexpr std::string_view kExportFailed = "数据导出失败。";
inline constexpr std::string_view kNoGbk = "系统不支持GBK编码";
inline constexpr std::string_view kExportCutRemoved =
    "数据导出失败：写入文件时出错（磁盘可能已满），未完成的文件已删除。";
inline constexpr std::string_view kExportWriteFailed = "写入失败";

// The trend window: its title, its buttons, the heads of its statistics, and saving
// its picture.
inline constexpr std::string_view kTrendTitle = "趋势图";
inline constexpr std::string_view kTrendMinute = "1分钟";
inline constexpr std::string_view kTrendTenMinutes = "10分钟";
inline constexpr std::string_view kTrendHour = "1小时";
inline constexpr std::string_view kTrendAll = "全部";
inline constexpr std::string_view kTrendFollow = "跟随";
inline constexpr std::string_view kTrendSave = "保存图片";
inline constexpr std::string_view kTrendLine = "曲线";
inline constexpr std::string_view kTrendRows = "有值行数";
inline constexpr std::string_view kTrendMin = "最小";
inline constexpr std::string_view kTrendMax = "最大";
inline constexpr std::string_view kTrendMean = "平均";
inline constexpr std::string_view kTrendLast = "最后值";
inline constexpr std::string_view kPictureFilter = "PNG图片 *.png|*.png";
inline std::string pictureSaved(std::string_view path) { return detail::join("图片已保存。\r\n文件路径为：", path); }
inline constexpr std::string_view kPictureExists = "文件已存在，图片未保存";
inline constexpr std::string_view kPictureFailed = "保存图片失败。";

// Emptying the table.
inline constexpr std::string_view kConfirmClear = "确认清空全部数据吗？";

// Reading a table file over rows not yet saved.
inline std::string confirmReadOverUnsaved(int rows) {
    return "表中有 " + std::to_string(rows) + " 行记录尚未保存，读入文件后将不再保留。确认读入吗？";
}

// The journal of rows not yet saved, and rows rescued from it after a crash.
inline constexpr std::string_view kWarningTitle = "警告";
inline std::string rescued(std::string_view path, std::size_t rows, std::size_t damaged) {
    std::string s = "上次运行未保存的记录已恢复。\r\n共 " + std::to_string(rows) + " 行，文件路径为：";
    s += path;
    if (damaged > 0) s += "\r\n另有 " + std::to_string(damaged) + " 处记录已损坏，无法恢复。";
    return s;
}
// The start of the journal was damaged: the file is kept under another name.
inline std::string journalKeptAside(std::string_view aside) {
    return "未保存记录文件（" + std::string(kJournalName) + "）的开头已损坏，原文件已改名保留为：" + std::string(aside);
}
inline const std::string kJournalNotKeptAside =
    "未保存记录文件（" + std::string(kJournalName) + "）的开头已损坏，且无法改名保留。本次的记录只保存在内存中，请及时存到文件。";
inline const std::string kRescueFailed =
    "上次运行未保存的记录无法写入恢复文件，已保留在" + std::string(kJournalName) + "中，下次启动时再恢复。本次的记录只保存在内存中，请及时存到文件。";
inline constexpr std::string_view kJournalInUse =
    "另一个Keldrin正在本文件夹中记录。本程序的记录只保存在内存中，请及时存到文件。";
inline const std::string kJournalUnavailable =
    "无法使用未保存记录文件（" + std::string(kJournalName) + "）。记录只保存在内存中，请及时存到文件。";
inline const std::string kJournalNotRegular =
    std::string(kJournalName) + "不是普通文件（可能是文件夹、管道或设备），无法用作未保存记录文件。记录只保存在内存中，请及时存到文件。";
inline constexpr std::string_view kJournalWriteFailed =
    "写入未保存记录文件失败（磁盘可能已满）。在能再次写入之前，记录只保存在内存中，请及时存到文件。";
inline const std::string kJournalRecreated =
    "未保存记录文件（" + std::string(kJournalName) + "）被删除或替换，已重新建立，表中尚未保存的记录已全部重新写入。";

// Why the table could not be saved or read.
inline constexpr std::string_view kUnbound = "数据表未绑定";
inline std::string cannotCreate(std::string_view why) { return detail::join("无法创建文件：", why); }
inline constexpr std::string_view kSaveWriteFailed = "写入文件失败（磁盘可能已满），原文件未改动";
inline std::string cannotFinish(std::string_view why) {
    return detail::join(detail::join("无法完成保存：", why), "，原文件未改动");
}
inline constexpr std::string_view kUnreadable = "无法读取文件（文件不存在或没有权限）";
inline constexpr std::string_view kOutOfMemory = "内存不足，无法读入这么大的数据表";

// Why a file is not taken as a table.
inline constexpr std::string_view kTableEmpty = "文件为空，不是数据表文件";
inline constexpr std::string_view kTableForeign = "不是本程序保存的数据表文件";
inline constexpr std::string_view kTableTruncated = "文件不完整（可能被截断）";
inline constexpr std::string_view kTableVersion = "数据表文件的版本不受支持";
inline constexpr std::string_view kTableTooLarge = "文件过大（超过4GB），无法作为数据表读入";
inline constexpr std::string_view kTableTooManyColumns = "文件内容无效（列数过多）";
inline constexpr std::string_view kTableRowCount = "文件内容无效（行数与数据不符）";
inline constexpr std::string_view kTableNoEnd = "文件不完整（可能被截断）或已损坏";
inline constexpr std::string_view kTableChecksum = "文件已损坏（校验和不符）";
inline constexpr std::string_view kTableBadRows = "文件内容无效（行数据不完整或与列数不符）";

// Why a file could not be read or written.
inline constexpr std::string_view kFileOpen = "无法打开文件";
inline constexpr std::string_view kFileWrite = "写入失败（磁盘可能已满）";
inline constexpr std::string_view kFileRead = "读取失败";
inline constexpr std::string_view kFilePermissions = "没有权限";
inline constexpr std::string_view kFileRename = "无法替换原文件";
inline constexpr std::string_view kFileOther = "文件操作失败";
inline constexpr std::string_view kFileExists = "文件已存在";
inline constexpr std::string_view kFileDirectory = "这是一个文件夹，不是文件";
inline constexpr std::string_view kFileFifo = "这是一个管道（FIFO），不是普通文件";
inline constexpr std::string_view kFileDevice = "这是一个设备，不是普通文件";
inline constexpr std::string_view kFileNotRegular = "不是普通文件";
inline constexpr std::string_view kFileTooLarge = "文件过大";
// A reason with the system's own words after it, when it gave any.
inline std::string withDetail(std::string_view reason, std::string_view said) {
    return said.empty() ? std::string(reason) : detail::join(detail::join(reason, "："), said);
}

// Publishing to an MQTT broker.
inline std::string publishSettingsRefused(std::string_view problem) {
    return detail::join(detail::join(kPublishSettingsFile, "有误，发布未开启：\r\n"), problem);
}
inline constexpr std::string_view kPublishTitle = "发布设置";
inline constexpr std::string_view kPublishSaved = "发布设置已保存，重启程序后生效。";
inline std::string publishConnected(std::uint64_t queued) {
    return queued == 0 ? std::string("发布：已连接") : "发布：已连接，补发 " + std::to_string(queued) + " 行";
}
// Waiting for the broker, with rows queued.
inline std::string publishWaiting(std::uint64_t queued, std::string_view why) {
    std::string s = "发布：等待服务器，队列 " + std::to_string(queued) + " 行";
    if (!why.empty()) s = detail::join(detail::join(detail::join(s, "（"), why), "）");
    return s;
}
inline std::string publishRefused(std::string_view why) {
    return detail::join(detail::join("发布：被拒绝（", why), "）");
}
// The queue was full: the oldest rows were dropped.
inline std::string publishDropped(std::uint64_t rows) {
    return "发布队列已满，已丢弃最早的 " + std::to_string(rows) + " 行";
}
inline constexpr std::string_view kPublishQueueFailed = "发布队列无法写入磁盘，有行未能发布";
// The state line's tail once rows were dropped.
inline std::string publishDroppedSoFar(std::uint64_t rows) { return "，已丢弃 " + std::to_string(rows) + " 行"; }
// Why publishing could not start.
inline std::string publishQueueUnusable(std::string_view why) { return detail::join("发布队列无法打开：", why); }
inline std::string publishFolderUnmade(std::string_view folder) { return detail::join("无法建立文件夹 ", folder); }
inline std::string publishFileUnopened(std::string_view file) { return detail::join("无法打开 ", file); }
inline constexpr std::string_view kPublishNoClient = "无法建立 MQTT 客户端";
inline std::string publishClientRefused(std::string_view why) { return detail::join("MQTT 设置无效：", why); }
// What is wrong with 发布.ini.
inline constexpr std::string_view kPublishNotSettings = "不是设置文件";
inline constexpr std::string_view kPublishUnreadable = "文件格式无法读取";
inline std::string publishNotTruth(std::string_view key) { return detail::join(key, " 应为 true 或 false"); }
inline std::string publishCaUnreadable(std::string_view ca) { return detail::join("CA 证书文件无法读取：", ca); }
inline std::string publishUnwritten(std::string_view path) { return detail::join("无法写入 ", path); }
inline constexpr std::string_view kPublishNoHost = "没有填写服务器地址（host）";
inline constexpr std::string_view kPublishBadHost = "服务器地址（host）无效";
inline constexpr std::string_view kPublishBadPort = "端口（port）应在 1 到 65535 之间";
inline constexpr std::string_view kPublishBadRig = "试验台名称（rig）不能为空，也不能含有 / + # 或控制字符";
inline constexpr std::string_view kPublishNoCa = "启用 TLS 时需要填写 CA 证书文件（ca）";
inline constexpr std::string_view kPublishBadCredentials = "用户名或密码含有控制字符";

}  // namespace keldrin::msg
