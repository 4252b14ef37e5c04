// The trend window offscreen, through the real program: opened from 查看 → 趋势图, it
// follows the table as rows arrive, is emptied and read with the table, and answers
// the operator's wheel, drag and buttons. Redraws are asked for directly (the window's
// timer only asks the same, at most ten times a second), so nothing here waits on time.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <cmath>
#include <qcustomplot.h>

#include "platform/qt/main_window.h"
#include "platform/qt/qt_program.h"
#include "platform/qt/trend_window.h"
#include "qt_test_app.h"
#include "store/table_file.h"

namespace keldrin::test {
namespace {

// 2026-12-08 10:00:00.000 as the summaries count it.
constexpr std::int64_t kStart = 1796724000000;

std::string timeText(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toStdString();
}

class TrendTest : public ::testing::Test {
protected:
    void SetUp() override {
        answerer.answerWith([this](QWidget& modal) { answerOkAndPick(modal, boxes, fileToChoose); });
        program.start();
        processUntil([&] { return !boxes.empty(); });  // start-up's "连接失败"
        boxes.clear();
    }
    TrendWindow* open() {
        program.window().findChild<QAction*>(QStringLiteral("趋势图"))->trigger();
        processUntil([&] { return program.trend() && program.trend()->isVisible(); });
        return program.trend();
    }
    // A row as the recorder writes it: channel 1 rises by one a row, channel 2 reads 1000.
    void record(std::int64_t t, const std::string& one, const std::string& two = "1000") {
        RecordStore& s = w.通用提供者1;
        s.appendRow();
        const int r = s.rowCount();
        s.setCell(r, 1, timeText(t));
        s.setCell(r, 2, one);
        s.setCell(r, 3, two);
    }
    template <class T>
    T* child(const char* name) {
        return program.trend()->findChild<T*>(QString::fromUtf8(name));
    }
    QString stat(const char* what, int line) { return child<QLabel>((what + std::to_string(line)).c_str())->text(); }
    void click(const char* name) { child<QPushButton>(name)->click(); }
    double width(TrendWindow* t) { return t->visibleRange().second - t->visibleRange().first; }
    void readTable(const std::vector<std::vector<std::string>>& rows) {
        RecordStore table;
        table.setColumnCount(9);
        for (const auto& row : rows) {
            table.appendRow();
            for (std::size_t c = 0; c < row.size(); ++c) table.setCell(table.rowCount(), static_cast<int>(c) + 1, row[c]);
        }
        QFile f(dir.filePath(QStringLiteral("table")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        tablefile::write(table, [&f](std::string_view b) { return f.write(b.data(), static_cast<qint64>(b.size())) >= 0; });
        f.close();
        fileToChoose = f.fileName();
        boxes.clear();
        program.dispatcher().post([this] { w.从文件读按钮.clicked(); });
        ASSERT_TRUE(processUntil([&] { return !boxes.empty(); }));
        ASSERT_EQ(boxes.back(), "从文件读成功。");
    }

    QApplication& app = qtApp();
    QTemporaryDir dir;
    QtProgram program{dir.path()};
    MainWin& w = program.model();
    std::vector<std::string> boxes;
    QString fileToChoose;
    ModalAnswerer answerer{[](QWidget&) {}};
};

TEST_F(TrendTest, FollowsTheNewestRowsUntilPannedOrZoomedAndAgainOn跟随) {
    TrendWindow* trend = open();
    ASSERT_NE(trend, nullptr);
    EXPECT_EQ(trend->windowTitle(), QStringLiteral("趋势图"));
    for (int i = 0; i < 12000; ++i) record(kStart + i * 100, std::to_string(i % 50));  // twenty minutes at 0.1 s
    ASSERT_TRUE(trend->redrawIfChanged());
    const std::int64_t newest = kStart + 11999 * 100;

    // Following the last ten minutes: the newest row at the right edge.
    EXPECT_TRUE(trend->following());
    EXPECT_NEAR(trend->visibleRange().second, newest + 1, 0.01);
    EXPECT_NEAR(width(trend), 600000, 0.01);
    EXPECT_FALSE(trend->redrawIfChanged());  // nothing changed, nothing drawn
    record(newest + 100, "7");
    EXPECT_TRUE(trend->redrawIfChanged());
    EXPECT_NEAR(trend->visibleRange().second, newest + 101, 0.01);

    // The stretches: each follows, 全部 shows every row.
    click("1分钟");
    trend->redrawIfChanged();
    EXPECT_NEAR(width(trend), 60000, 0.01);
    click("1小时");
    trend->redrawIfChanged();
    EXPECT_NEAR(width(trend), 3600000, 0.01);
    click("全部");
    trend->redrawIfChanged();
    EXPECT_NEAR(trend->visibleRange().first, kStart, 0.01);
    EXPECT_NEAR(trend->visibleRange().second, newest + 101, 0.01);
    EXPECT_TRUE(trend->following());
    click("10分钟");
    trend->redrawIfChanged();

    // The wheel zooms time around the pointer and stops following.
    QCustomPlot* plot = trend->plot();
    const QRect area = plot->axisRect()->rect();
    const QPointF at(area.left() + area.width() * 0.25, area.center().y());
    const double timeAt = plot->xAxis->pixelToCoord(at.x());
    QWheelEvent wheel(at, plot->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot, &wheel);
    EXPECT_FALSE(trend->following());
    EXPECT_FALSE(child<QPushButton>("跟随")->isChecked());
    EXPECT_LT(width(trend), 600000);
    EXPECT_NEAR(plot->xAxis->pixelToCoord(at.x()), timeAt, 1e-3);
    trend->redrawIfChanged();

    // Dragging pans to earlier times; rows recorded meanwhile, out of view, draw nothing.
    const auto before = trend->visibleRange();
    const QPoint from(area.center()), to(area.center() + QPoint(area.width() / 4, 0));
    QMouseEvent press(QEvent::MouseButtonPress, from, plot->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, to, plot->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, to, plot->mapToGlobal(to), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(plot, &press);
    QApplication::sendEvent(plot, &move);
    QApplication::sendEvent(plot, &release);
    EXPECT_LT(trend->visibleRange().first, before.first);
    EXPECT_NEAR(width(trend), before.second - before.first, 1);
    EXPECT_TRUE(trend->redrawIfChanged());
    const auto panned = trend->visibleRange();
    record(newest + 200, "8");
    EXPECT_FALSE(trend->redrawIfChanged());
    EXPECT_EQ(trend->visibleRange(), panned);

    // 跟随 takes up the newest rows again, over the stretch chosen before.
    click("跟随");
    EXPECT_TRUE(trend->redrawIfChanged());
    EXPECT_TRUE(trend->following());
    EXPECT_TRUE(child<QPushButton>("跟随")->isChecked());
    EXPECT_NEAR(trend->visibleRange().second, newest + 201, 0.01);
    EXPECT_NEAR(width(trend), 600000, 0.01);

    // Closed, and chosen again: the same window, shown again.
    trend->close();
    EXPECT_FALSE(trend->isVisible());
    EXPECT_EQ(open(), trend);
    w.通用提供者1.setRowCount(0);  // while it is open, nothing is left of the rows
}

// Rows come ten times a second, faster than pixel columns fill: while following, a row
// that changes no pixel is not drawn yet, and one that changes a pixel is.
TEST_F(TrendTest, FollowingDrawsARowOnlyWhenItChangesAPixel) {
    TrendWindow* trend = open();
    for (int i = 0; i < 6000; ++i) record(kStart + i * 100, "5");
    ASSERT_TRUE(trend->redrawIfChanged());
    // At the newest row's time again, so that the range stays where it is.
    record(kStart + 5999 * 100, "5");
    EXPECT_FALSE(trend->redrawIfChanged());
    record(kStart + 5999 * 100, "9");
    EXPECT_TRUE(trend->redrawIfChanged());
    EXPECT_EQ(stat("行数", 1), QStringLiteral("6002"));
}

TEST_F(TrendTest, LinesStatisticsAndTheYAxisFollowTheLinesShownTheTableClearedAndRead) {
    TrendWindow* trend = open();
    // Ten minutes of rows: channel 1 runs 0..49 over and over, channel 2 reads 1000;
    // channel 1 is empty for five seconds from row 3000, and row 3050 is not a number.
    for (int i = 0; i < 6000; ++i) {
        const std::string one = i >= 3000 && i < 3050 ? "" : i == 3050 ? "x" : std::to_string(i % 50);
        record(kStart + i * 100, one);
    }
    trend->redrawIfChanged();
    EXPECT_EQ(stat("名称", 1), QStringLiteral("1"));  // the column heading, 表1
    EXPECT_EQ(stat("行数", 1), QStringLiteral("5949"));
    EXPECT_EQ(stat("最小", 1), QStringLiteral("0"));
    EXPECT_EQ(stat("最大", 1), QStringLiteral("49"));
    EXPECT_EQ(stat("最后", 1), QStringLiteral("49"));
    const double mean = (119.0 * 1225 - 0) / 5949;  // rows 3000..3049 (0..49) and 3050 (0) have no value
    EXPECT_NEAR(stat("平均", 1).toDouble(), mean, 1e-4);
    EXPECT_EQ(stat("行数", 2), QStringLiteral("6000"));
    EXPECT_EQ(stat("平均", 2), QStringLiteral("1000"));
    EXPECT_EQ(stat("行数", 3), QStringLiteral("0"));
    EXPECT_EQ(stat("最小", 3), QString());
    QCustomPlot* plot = trend->plot();
    EXPECT_GT(plot->yAxis->range().upper, 1000);
    EXPECT_EQ(plot->legend->itemCount(), 8);
    // The gap breaks line 1: a NaN among its points.
    bool broken = false;
    for (auto it = plot->graph(0)->data()->constBegin(); it != plot->graph(0)->data()->constEnd(); ++it) {
        broken = broken || std::isnan(it->value);
    }
    EXPECT_TRUE(broken);

    // Line 2 hidden: out of the legend, the statistics and the y axis.
    child<QCheckBox>("曲线2")->setChecked(false);
    EXPECT_TRUE(trend->redrawIfChanged());
    EXPECT_FALSE(plot->graph(1)->visible());
    EXPECT_EQ(plot->legend->itemCount(), 7);
    EXPECT_FALSE(child<QLabel>("行数2")->isVisible());
    EXPECT_LT(plot->yAxis->range().upper, 60);
    EXPECT_GT(plot->yAxis->range().upper, 49);
    EXPECT_LT(plot->yAxis->range().lower, 0);

    // The statistics are those of the visible range: the last minute.
    trend->showRange(kStart + 5400 * 100, kStart + 6000 * 100);
    trend->redrawIfChanged();
    EXPECT_EQ(stat("行数", 1), QStringLiteral("600"));

    // Emptied with 清空 (answered OK): nothing left to draw.
    boxes.clear();
    program.dispatcher().post([this] { w.清空按钮.clicked(); });
    ASSERT_TRUE(processUntil([&] { return w.通用提供者1.rowCount() == 0; }));
    trend->redrawIfChanged();  // unless the window's own timer was first
    EXPECT_EQ(stat("行数", 1), QStringLiteral("0"));
    EXPECT_TRUE(plot->graph(0)->data()->isEmpty());

    // Read from a file: shown at once, whatever the file holds. Each of these shows
    // what it can and nothing crashes.
    click("全部");
    const std::string t0 = timeText(kStart), t1 = timeText(kStart + 1000), t2 = timeText(kStart + 2000);
    struct Case {
        const char* what;
        std::vector<std::vector<std::string>> rows;
        const char* rowsWithValue;
    };
    const Case cases[] = {
        {"empty cells", {{t0, "1", ""}, {t1, "", ""}, {t2, "3", ""}}, "2"},
        {"non-numbers", {{t0, "abc", "1e999"}, {t1, "2", "nan"}, {t2, "1.5.2", "--1"}}, "1"},
        {"one row", {{t0, "5", "6"}}, "1"},
        {"identical times", {{t0, "1"}, {t0, "2"}, {t0, "3"}}, "3"},
        {"times going backwards", {{t2, "1"}, {t1, "2"}, {t0, "3"}, {"not a time", "4"}, {}}, "3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        readTable(c.rows);
        trend->redrawIfChanged();
        EXPECT_EQ(stat("行数", 1), QString::fromUtf8(c.rowsWithValue));
        EXPECT_FALSE(plot->graph(0)->data()->isEmpty());
        EXPECT_TRUE(std::isfinite(plot->yAxis->range().lower) && std::isfinite(plot->yAxis->range().upper));
    }
    EXPECT_EQ(stat("最后", 1), QStringLiteral("1"));  // the value at the latest time
}

TEST_F(TrendTest, 保存图片WritesAPngOfThePlotAndNeverReplacesAFile) {
    TrendWindow* trend = open();
    for (int i = 0; i < 100; ++i) record(kStart + i * 1000, std::to_string(i));
    trend->redrawIfChanged();
    const QString path = dir.filePath(QStringLiteral("趋势.png"));
    fileToChoose = path;
    click("保存图片");
    ASSERT_TRUE(processUntil([&] { return !boxes.empty(); }));
    EXPECT_EQ(boxes.back(), "图片已保存。\r\n文件路径为：" + path.toStdString());
    QImage picture(path, "PNG");
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), trend->plot()->size());

    // The same name again: refused, the first picture left as it was.
    QFile first(path);
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    const QByteArray bytes = first.readAll();
    first.close();
    for (int i = 100; i < 200; ++i) record(kStart + i * 1000, "-5");
    trend->redrawIfChanged();
    boxes.clear();
    click("保存图片");
    ASSERT_TRUE(processUntil([&] { return !boxes.empty(); }));
    EXPECT_EQ(boxes.back(), "文件已存在，图片未保存");
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    EXPECT_EQ(first.readAll(), bytes);
}

// Run by ctest as platform.TrendOnTwoScreens, on two offscreen screens of ratios 1 and 2
// (two_screens.json): the plot is drawn at the device pixels of the screen it is on.
TEST_F(TrendTest, DrawnAtTheDevicePixelsOfTheScreenItIsOn) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.size() < 2) GTEST_SKIP() << "needs the two screens of two_screens.json";
    TrendWindow* trend = open();
    for (int i = 0; i < 100; ++i) record(kStart + i * 1000, std::to_string(i));
    for (QScreen* screen : {screens[1], screens[0], screens[1]}) {
        SCOPED_TRACE(screen->name().toStdString());
        trend->windowHandle()->setScreen(screen);
        QCoreApplication::processEvents();
        ASSERT_EQ(trend->devicePixelRatioF(), screen->devicePixelRatio());
        EXPECT_EQ(trend->plot()->bufferDevicePixelRatio(), screen->devicePixelRatio());
    }
}

}  // namespace
}  // namespace keldrin::test
