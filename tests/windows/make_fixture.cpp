// Writes, with the Linux build, what the Windows build must reproduce byte for byte: a
// table file (fixture.tbl) and the CSV export of the same rows (linux.csv), through the
// program's own buttons. Usage: make_fixture FOLDER
#include <QDir>
#include <cstdio>

#include "support/harness.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fixture FOLDER\n");
        return 2;
    }
    const std::string folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath().toStdString();
    keldrin::test::Harness h;
    h.start();
    keldrin::RecordStore& table = h.w.通用提供者1;
    // Readings, gaps, a negative, and text GBK holds and text it does not.
    const char* rows[][9] = {
        {"2026-12-08 10:00:00.000", "1.500", "-0.250", "", "12.000", "", "", "", "3.125"},
        {"2026-12-08 10:00:00.100", "1.501", "", "", "", "", "", "", ""},
        {"2026-12-08 10:00:00.200", "温度", "😀ก€·", "", "", "", "", "", "0.000"},
    };
    for (const auto& row : rows) {
        table.appendRow();
        for (int c = 0; c < 9; ++c) table.setCell(table.rowCount(), c + 1, row[c]);
    }
    h.fileDialog.answers = {folder + "/fixture.tbl", folder + "/linux"};
    h.click(h.w.存到文件按钮);
    h.click(h.w.按钮6);
    for (const auto& box : h.boxes.shown) std::printf("%s\n", box.text.c_str());
    return QDir(QString::fromStdString(folder)).exists(QStringLiteral("linux.csv")) ? 0 : 1;
}
