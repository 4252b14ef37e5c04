#pragma once
// GBK (code page 936), the encoding the CSV files are written in for the Chinese
// spreadsheet programs our operators open them with. The conversion is the system's
// own: ICU through Qt on Linux, the code page on Windows (where Qt has no ICU).
#include <string>
#include <string_view>

namespace keldrin::gbk {

// Whether this system can write GBK at all.
bool available();

// Appends utf8 to out in GBK. A character GBK cannot hold becomes one "?", the same on
// every system, so that a file's bytes never depend on where it was written.
void append(std::string& out, std::string_view utf8);

}  // namespace keldrin::gbk
