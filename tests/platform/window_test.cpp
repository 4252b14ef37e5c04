// The real window offscreen: the widgets stand where the model says, model changes
// reach them and operator input reaches the model.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextDocument>
#include <QWindow>
#include <QTemporaryDir>

#include "common/echo.h"
#include "platform/qt/control_binder.h"
#include "platform/qt/main_window.h"
#include "platform/qt/qt_program.h"
#include "platform/qt/record_grid.h"
#include "qt_test_app.h"

namespace keldrin::test {
namespace {

class WindowTest : public ::testing::Test {
protected:
    // Starts the program answering every message box with OK, recording text and title.
    void start() {
        answerer.answerWith([this](QWidget& modal) {
            auto* box = qobject_cast<QMessageBox*>(&modal);
            ASSERT_NE(box, nullptr);
            boxes.push_back(box->text().toStdString() + "|" + box->windowTitle().toStdString());
            // What the window system shows: never the application's name for no title.
            if (box->windowTitle().isEmpty()) {
                EXPECT_EQ(box->windowHandle()->title(), QStringLiteral(" "));
            }
            box->button(QMessageBox::Ok)->click();
        });
        program.start();
        QCoreApplication::processEvents();
    }
    template <class T>
    T* widget(const std::string& name) {
        return qobject_cast<T*>(program.widget(name));
    }
    QAction* action(const char* name) { return program.window().findChild<QAction*>(QString::fromUtf8(name)); }

    QApplication& app = qtApp();  // before anything that needs it
    QTemporaryDir dir;
    QtProgram program{dir.path()};
    MainWin& w = program.model();
    std::vector<std::string> boxes;
    ModalAnswerer answerer{[](QWidget&) {}};
};

const char* qtClass(const Control& c) {
    switch (c.kind()) {
        case Kind::Label: return "QLabel";
        case Kind::Button: return "QPushButton";
        case Kind::EditBox: return static_cast<const EditBox&>(c).multiLine ? "QPlainTextEdit" : "QLineEdit";
        case Kind::CheckBox: return "QCheckBox";
        case Kind::ComboBox: return "QComboBox";
        case Kind::GroupBox: return "QGroupBox";
        case Kind::PictureBox: return "QFrame";
        case Kind::Grid: return "QTableView";
    }
    return "?";
}

TEST_F(WindowTest, EveryControlIsARealWidgetOfItsKindAtItsPlace) {
    MainWindow& win = program.window();
    EXPECT_EQ(win.geometry(), QRect(50, 50, 1080, 730));
    const int menuHeight = win.menuBar()->height();
    EXPECT_EQ(win.clientArea()->geometry(), QRect(0, menuHeight, 1080, 730 - menuHeight));
    EXPECT_FALSE(win.windowIcon().isNull());
    for (Control* c : w.controls()) {
        SCOPED_TRACE(c->name());
        QWidget* widget = program.widget(c->name());
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(widget->inherits(qtClass(*c))) << widget->metaObject()->className();
        EXPECT_EQ(widget->objectName().toStdString(), c->name());
        EXPECT_EQ(widget->geometry(), QRect(c->left(), c->top(), c->width(), c->height()));
        EXPECT_EQ(widget->parentWidget(), c->parent() == &w.client ? win.clientArea() : program.widget(c->parent()->name()));
        EXPECT_EQ(widget->isEnabled(), c->enabled());
        EXPECT_EQ(widget->isHidden(), !c->visible());
        if (c->kind() == Kind::EditBox || c->kind() == Kind::ComboBox) {
            EXPECT_EQ(widget->accessibleName().toStdString(), c->name());
        }
    }
    // A sample of what the model fixes at creation.
    EXPECT_EQ(widget<QLabel>("CT1")->font().pixelSize(), 19);
    EXPECT_EQ(widget<QLabel>("CT6")->text(), QStringLiteral("-1.000"));
    EXPECT_EQ(widget<QFrame>("图片框3")->palette().color(QPalette::Window), QColor(0x00, 0xFF, 0x00));
    EXPECT_EQ(widget<QLineEdit>("表4")->palette().color(QPalette::Base), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(widget<QGroupBox>("分组框1")->title(), QStringLiteral("主机参数"));
    EXPECT_TRUE(widget<QCheckBox>("选择框4")->isChecked());
    EXPECT_FALSE(widget<QCheckBox>("选择框5")->isChecked());
    QComboBox* interval = widget<QComboBox>("组合框3");
    EXPECT_EQ(interval->currentIndex(), -1);
    ASSERT_EQ(interval->count(), 10);
    EXPECT_EQ(interval->itemText(6), QStringLiteral("一分钟"));
    EXPECT_EQ(interval->itemData(6).toInt(), 60000);
}

TEST_F(WindowTest, MenusHoldEveryItemEnabledAndTheIdleOnesDoNothing) {
    QStringList menus;
    for (QAction* a : program.window().menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{QStringLiteral("管理"), QStringLiteral("联机"), QStringLiteral("系统"),
                                  QStringLiteral("查看")}));
    for (const char* name : {"连接", "端口设置", "密码管理", "数据备份", "关机", "重启", "休眠", "趋势图"}) {
        ASSERT_NE(action(name), nullptr) << name;
        EXPECT_TRUE(action(name)->isEnabled() && action(name)->isVisible()) << name;
    }
    for (const char* idle : {"密码管理", "数据备份", "关机", "重启", "休眠"}) action(idle)->trigger();
    EXPECT_TRUE(program.window().isEnabled());
    EXPECT_EQ(w.title(), "");
}

TEST_F(WindowTest, ModelChangesReachTheWidgetsAndOperatorInputReachesTheModel) {
    start();
    widget<QPushButton>("按钮2")->click();  // untick all
    for (int i = 1; i <= 8; ++i) EXPECT_FALSE(widget<QCheckBox>("选择框" + std::to_string(i))->isChecked()) << i;
    widget<QCheckBox>("选择框6")->click();
    EXPECT_TRUE(w.选择框6.checked());
    widget<QPushButton>("按钮1")->click();  // tick all
    for (int i = 1; i <= 8; ++i) EXPECT_TRUE(widget<QCheckBox>("选择框" + std::to_string(i))->isChecked()) << i;

    w.编辑框发送.setText("0 0 0 3 ");
    EXPECT_EQ(widget<QLineEdit>("编辑框发送")->text(), QStringLiteral("0 0 0 3 "));
    w.CT2.setText("12.345");
    EXPECT_EQ(widget<QLabel>("CT2")->text(), QStringLiteral("12.345"));
    // A stale reading: its text and its bar grey, its tip read by assistive tools too.
    const QColor green = widget<QFrame>("图片框2")->palette().color(QPalette::Window);
    w.CT2.setStale(true);
    w.图片框2.setStale(true);
    w.CT2.setToolTip("最后读数 10:00:01.234");
    EXPECT_EQ(widget<QLabel>("CT2")->foregroundRole(), QPalette::PlaceholderText);
    EXPECT_NE(widget<QFrame>("图片框2")->palette().color(QPalette::Window), green);
    EXPECT_EQ(widget<QLabel>("CT2")->toolTip(), QStringLiteral("最后读数 10:00:01.234"));
    EXPECT_EQ(widget<QLabel>("CT2")->accessibleDescription(), QStringLiteral("最后读数 10:00:01.234"));
    w.CT2.setStale(false);
    w.图片框2.setStale(false);
    EXPECT_EQ(widget<QLabel>("CT2")->foregroundRole(), QPalette::WindowText);
    EXPECT_EQ(widget<QFrame>("图片框2")->palette().color(QPalette::Window), green);
    w.图片框2.setTop(100);
    w.图片框2.setHeight(20);
    EXPECT_EQ(widget<QFrame>("图片框2")->geometry(), QRect(142, 100, 120, 20));
    w.按钮4.setEnabled(true);
    EXPECT_TRUE(widget<QPushButton>("按钮4")->isEnabled());
    w.屏幕高度.setVisible(true);
    EXPECT_FALSE(widget<QLabel>("屏幕高度")->isHidden());
    w.报警.setChecked(false);
    EXPECT_FALSE(widget<QCheckBox>("报警")->isChecked());
    for (int index : {3, -1}) {
        w.组合框1.setSelectedIndex(index);
        EXPECT_EQ(widget<QComboBox>("组合框1")->currentIndex(), index);
    }

    // The operator types a 5 after "200"; a model change is not an operator edit.
    int edits = 0;
    w.间隔时间.textChanged = [&] { ++edits; };
    QLineEdit* edit = widget<QLineEdit>("间隔时间");
    edit->setCursorPosition(3);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, QStringLiteral("5"));
    QCoreApplication::sendEvent(edit, &key);
    EXPECT_EQ(w.间隔时间.text(), "2005");
    w.间隔时间.setText("300");
    EXPECT_EQ(edit->text(), QStringLiteral("300"));
    EXPECT_EQ(edits, 1);

    // The operator picks an item.
    int chosen = 0;
    w.组合框3.itemChosen = [&] { ++chosen; };
    QComboBox* combo = widget<QComboBox>("组合框3");
    combo->setCurrentIndex(2);
    emit combo->activated(2);
    EXPECT_EQ(w.组合框3.selectedValue(), 1000);
    EXPECT_EQ(chosen, 1);
}

TEST_F(WindowTest, EchoBoxFollowsAppendsAndTrimsByteForByte) {
    int edits = 0;
    w.编辑框接收.textChanged = [&] { ++edits; };
    // Real frames (each line ends "\r\n", which the widget keeps as one break) and
    // multi-byte text, across several trims of the 64 KiB limit.
    const std::vector<std::uint8_t> frame{0x00, 0x0A, 0x03, 0x06, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x00, 0x00};
    for (int i = 0; i < 6000; ++i) {
        for (std::uint8_t b : frame) w.编辑框接收.appendText(frameEcho(std::span(&b, 1)));
        w.编辑框接收.appendText(i % 7 == 6 ? "中文\r\n" : "\r\n");
    }
    processUntil([] { return false; }, ControlBinder::kAppendWaitMs + 40);  // the appends go in at the latest then
    EXPECT_LE(w.编辑框接收.text().size(), w.编辑框接收.textLimit());
    QString expected = QString::fromStdString(w.编辑框接收.text());
    expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_TRUE(expected.startsWith(QStringLiteral("0 A 3 6 ")));
    EXPECT_EQ(widget<QPlainTextEdit>("编辑框接收")->toPlainText(), expected);
    // A frame's dozen appends go in with one insertion, together with the next display
    // tick's change, so that one pass paints both.
    int insertions = 0;
    QObject::connect(widget<QPlainTextEdit>("编辑框接收")->document(), &QTextDocument::contentsChange,
                     [&] { ++insertions; });
    for (std::uint8_t b : frame) w.编辑框接收.appendText(frameEcho(std::span(&b, 1)));
    w.编辑框接收.appendText("\r\n");
    QCoreApplication::processEvents();
    EXPECT_EQ(insertions, 0);
    w.系统时间.setText("2026-12-09 10:00:00.050");
    EXPECT_EQ(insertions, 1);
    w.编辑框接收.appendText("lost ");  // replaced before it was shown
    w.编辑框接收.setText("");
    processUntil([] { return false; }, ControlBinder::kAppendWaitMs + 40);
    EXPECT_TRUE(widget<QPlainTextEdit>("编辑框接收")->toPlainText().isEmpty());
    EXPECT_EQ(edits, 0);

    EXPECT_EQ(shownLength("a中\r\nb\n"), 5);
    EXPECT_EQ(shownLength("\U0001F600"), 2);  // a surrogate pair
}

TEST_F(WindowTest, StartUpWithoutSettingsReportsFailureAndShowsTheEmptyTable) {
    start();
    EXPECT_EQ(boxes, std::vector<std::string>{"连接失败|"});
    EXPECT_EQ(program.window().windowTitle(), QString());
    EXPECT_EQ(program.window().windowHandle()->title(), QStringLiteral(" "));
    RecordGridView* grid = program.window().grid();
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->model()->columnCount(), 9);
    EXPECT_EQ(grid->model()->rowCount(), 0);
    EXPECT_EQ(widget<QLabel>("屏幕宽度")->text().toInt(), QGuiApplication::primaryScreen()->size().width());
}

TEST_F(WindowTest, GridColumnsLieUnderTheHeadingBoxesAndTheNewestRowStaysInView) {
    start();
    RecordGridView* grid = program.window().grid();
    QWidget* group = program.widget("分组框2");
    processUntil([&] { return grid->isVisible(); });
    for (int c = 0; c < 9; ++c) {
        const QPoint left = grid->viewport()->mapTo(group, QPoint(grid->columnViewportPosition(c), 0));
        EXPECT_EQ(left.x(), w.表(c).left()) << c;
        EXPECT_EQ(grid->columnWidth(c), w.表(c).width()) << c;
    }
    // The heading row lies under the boxes.
    EXPECT_LE(grid->viewport()->mapTo(group, QPoint(0, 0)).y(), w.表0.top() + w.表0.height());
    EXPECT_TRUE(grid->alternatingRowColors());  // the table style's flag

    w.数据表格.setEnabled(false);
    // Batch by batch, rows on screen are where a fresh paint of the grid puts them, both
    // in empty space and scrolled.
    auto onScreen = [&](QWidget* part) {
        return program.window().screen()->grabWindow(program.window().winId()).toImage().copy(
            QRect(part->mapTo(&program.window(), QPoint(0, 0)), part->size())).convertToFormat(QImage::Format_RGB32);
    };
    auto looksFresh = [&] {
        processUntil([] { return false; }, 100);  // painted
        QWidget* cells = grid->viewport();
        EXPECT_EQ(onScreen(cells), cells->grab().toImage().convertToFormat(QImage::Format_RGB32));
        QScrollBar* bar = grid->verticalScrollBar();  // not opaque: painted again in place
        const QImage before = onScreen(bar);
        bar->repaint();
        EXPECT_EQ(before, onScreen(bar));
    };
    auto appendInBatches = [&](int first, int last) {
        for (int r = first; r <= last; ++r) {
            w.数据源1.appendRow();
            w.数据源1.setCell(r, 1, "2026-12-08 10:00:0" + std::to_string(r % 10) + ".000");
            if (r % 3 == 0 || r == last) {
                ASSERT_TRUE(processUntil([&] { return grid->model()->rowCount() == r; }));
            }
        }
        looksFresh();
    };
    appendInBatches(1, 4);
    appendInBatches(5, 12);  // the scroll bar comes and its handle shrinks batch by batch
    w.通用提供者1.setRowCount(0);
    int insertions = 0;
    QObject::connect(grid->model(), &QAbstractItemModel::rowsInserted, [&] { ++insertions; });
    for (int r = 1; r <= 500; ++r) {
        w.数据源1.appendRow();
        w.数据源1.setCell(r, 1, "2026-12-08 10:00:00.000");
    }
    QScrollBar* bar = grid->verticalScrollBar();
    ASSERT_TRUE(processUntil([&] {
        return grid->model()->rowCount() == 500 && bar->maximum() > 0 && bar->value() == bar->maximum();
    }));
    EXPECT_EQ(insertions, 1);  // the burst reached the view as one batch
    EXPECT_EQ(grid->rowAt(grid->viewport()->height() - 2), 499);  // the last row is at the bottom of the view
    EXPECT_EQ(grid->model()->data(grid->model()->index(499, 0)).toString(), QStringLiteral("2026-12-08 10:00:00.000"));
    appendInBatches(501, 507);

    // A grid that cannot be scrolled holds only the newest rows, numbered and shaded as
    // the store's own; enabled, it holds them all again.
    const int many = 2 * RecordTableModel::kNewestRows + 1;
    for (int r = 508; r <= many; ++r) w.数据源1.appendRow();
    w.数据源1.setCell(many, 1, "newest");
    QAbstractItemModel* shown = grid->model();
    ASSERT_TRUE(processUntil([&] {
        return shown->rowCount() > 0 && shown->headerData(shown->rowCount() - 1, Qt::Vertical).toInt() == many;
    }));
    const int last = shown->rowCount() - 1;
    EXPECT_LT(last, 2 * RecordTableModel::kNewestRows);
    EXPECT_EQ((many - 1 - last) % 2, 0);  // an even count left out above: every row keeps its shade
    EXPECT_EQ(shown->data(shown->index(last, 0)).toString(), QStringLiteral("newest"));
    EXPECT_EQ(bar->value(), bar->maximum());
    looksFresh();
    w.数据表格.setEnabled(true);
    EXPECT_EQ(shown->rowCount(), many);
    w.数据表格.setEnabled(false);

    w.数据表格.setZoom(3);
    EXPECT_EQ(grid->font().pixelSize(), RecordGridView::kBasePixels + 3);
    EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), RecordGridView::kBasePixels + 3 + 6);
    w.数据表格.setZoom(Grid::kMinZoom);
    EXPECT_GE(grid->font().pixelSize(), 6);
    w.通用提供者1.setRowCount(0);
    EXPECT_EQ(grid->model()->rowCount(), 0);
    EXPECT_EQ(grid->columnWidth(0), w.表0.width());  // widths survive a reset
}

TEST_F(WindowTest, PortDialogListsOnlyOpenablePortsAndItsCloseBoxActsLikeConfirm) {
    start();
    std::vector<QRect> places;
    answerer.answerWith([&](QWidget& d) {
        EXPECT_EQ(d.geometry(), QRect(50, 50, 446, 215));
        EXPECT_TRUE(d.windowTitle().isEmpty());
        EXPECT_EQ(d.windowHandle()->title(), QStringLiteral(" "));
        auto* list = d.findChild<QComboBox*>(QStringLiteral("组合框1"));
        auto* confirm = d.findChild<QPushButton*>(QStringLiteral("按钮1"));
        auto* hidden = d.findChild<QLineEdit*>(QStringLiteral("编辑框1"));
        ASSERT_TRUE(list && confirm && hidden);
        EXPECT_EQ(list->currentIndex(), -1);
        EXPECT_TRUE(hidden->isHidden());
        EXPECT_EQ(confirm->text(), QStringLiteral("确认"));
        places.push_back(list->geometry());
        static_cast<QDialog&>(d).reject();  // the close box
    });
    action("端口设置")->trigger();
    EXPECT_EQ(places, std::vector<QRect>{QRect(88, 56, 264, 20)});
    EXPECT_EQ(program.port().portNumber(), 0);  // the scan left 端口1 alone

    answerer.answerWith([](QWidget& d) { d.findChild<QPushButton*>(QStringLiteral("按钮1"))->click(); });
    action("端口设置")->trigger();  // returns once closed
}

}  // namespace
}  // namespace keldrin::test
