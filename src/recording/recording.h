#pragma once
// Acquisition control and recording, and the file buttons: save, read, export.
#include <array>
#include <string>

#include "core/services.h"
#include "records/record_store.h"
#include "shell/app.h"

namespace keldrin {

void 启动_clicked(App& a);
void 时钟5_tick(App& a);
void 时钟3_tick(App& a);
void 间隔时间_textChanged(App& a);
void 清空按钮_clicked(App& a);
void 存到文件按钮_clicked(App& a);
void 从文件读按钮_clicked(App& a);
void 按钮6_clicked(App& a);

// The operator's words for why a file, the table file or saving or reading the table
// failed.
std::string fileErrorText(const FileError& error);
std::string refusalText(tablefile::Refusal refusal);
std::string tableErrorText(const TableError& error);

// The export's layout (GBK, a heading line from headings, nine cells and a comma each
// per row, CR LF) of every row of table; false when writing failed.
bool writeCsv(OutFile& out, const std::array<std::string, 8>& headings, const RecordStore& table);

}  // namespace keldrin
