#pragma once
// Acquisition control and recording, and the file buttons: save, read, export.
#include <array>
#include <memory>
#include <span>
#include <string>

#include "common/channels.h"
#include "core/services.h"
#include "store/record_store.h"
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
// The id a run is published under, from the local date and time of its 启动.
std::string runId(const std::string& startTime);
// Publishes row r of the table, just recorded.
void publishRow(App& a, int r);

// The operator's words for why a file, the table file or saving or reading the table
// failed.
std::string fileErrorText(const FileError& error);
std::string refusalText(tablefile::Refusal refusal);
std::string tableErrorText(const TableError& error);

class GbkWriter;

// The export's layout (GBK, a heading line from headings, nine cells and a comma each
// per row, CR LF), written a row at a time through a bounded buffer.
class CsvWriter {
public:
    CsvWriter(OutFile& out, Gbk& gbk);
    ~CsvWriter();
    // False when the system has no GBK converter.
    bool valid() const;
    void heading(const Headings& headings);
    // The first nine cells; missing ones are empty.
    void row(std::span<const std::string_view> cells);
    // Hands the buffer to the file when it is full; false once a write failed.
    bool flushIfFull();
    bool finish();

private:
    std::unique_ptr<GbkWriter> w_;
};

}  // namespace keldrin
