#pragma once
// The names of the files the program keeps in its working folder, written once: the
// handlers open them by these names and the messages name them from here.

namespace keldrin {

// Settings: each holds one decimal integer as text.
inline constexpr const char* kPortFile = "端口号.txt";
inline constexpr const char* kBaudFile = "波特率.txt";
inline constexpr const char* kZoomFile = "缩放.txt";
// Publishing to an MQTT broker: QSettings' INI format, group [mqtt].
inline constexpr const char* kPublishSettingsFile = "发布.ini";
// Rows the broker has not yet acknowledged, beside the journal.
inline constexpr const char* kOutboxFolder = "发布队列";

// The journal of rows not yet saved.
inline constexpr const char* kJournalName = "未保存记录.dat";
// What a previous run's rows are rescued to: the stem, then "yyyyMMdd_HHmmss.csv".
inline constexpr const char* kRescueStem = "恢复记录_";
// A journal whose start was damaged is kept aside as this stem, then "yyyyMMdd_HHmmss.dat".
inline constexpr const char* kDamagedJournalStem = "未保存记录_损坏_";

}  // namespace keldrin
