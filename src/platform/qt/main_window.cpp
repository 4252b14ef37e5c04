#include "platform/qt/main_window.h"
#include "platform/qstring_utf8.h"

#include <QLayout>
#include <QMenuBar>
#include <QPainter>

#include "platform/qt/desktop_services.h"
#include "platform/qt/record_grid.h"

namespace keldrin {

MainWindow::MainWindow(MainWin& model, Dispatcher& dispatcher) : model_(model), dispatcher_(dispatcher) {
    setObjectName(QStringLiteral("MainWin"));
    setWindowIcon(QIcon(iconPixmap()));
    buildMenus();
    auto* client = new QWidget(this);
    client->setObjectName(q(model_.client.name()));
    setCentralWidget(client);

    std::vector<QRect> headings;
    for (int i = 0; i <= kChannels; ++i) {
        const EditBox& h = model_.表(i);
        headings.emplace_back(h.left(), h.top(), h.width(), h.height());
    }
    auto makeGrid = [this, headings](Grid& g, QWidget* parent) -> QWidget* {
        grid_ = new RecordGridView(g, model_.通用提供者1, headings, parent);
        return grid_;
    };
    binder_ = std::make_unique<ControlBinder>(dispatcher_, model_.client, client, model_.controls(), makeGrid);
    binder_->setFrameListener([this] {
        if (grid_) grid_->showDueRows();
    });

    // The clock's text changes on every tick, 20 times a second. Filled with the window's
    // own colour it is opaque, so Qt repaints just its rectangle instead of composing the
    // window beneath it; at the bottom of the stack, a reading label that rises over it
    // is still drawn over it, as when it was transparent.
    if (QWidget* clock = binder_->widget(model_.系统时间)) {
        clock->setAutoFillBackground(true);
        clock->lower();
    }

    // The client area, menu bar included, is the model's size; controls are placed
    // relative to the area below the menu bar.
    setGeometry(MainWin::kLeft, MainWin::kTop, MainWin::kWidth, MainWin::kHeight);
    setFixedSize(MainWin::kWidth, MainWin::kHeight);
    layout()->activate();  // menu bar and client area in place before the first show
    titleChanged();
    model_.setObserver(this);
}

MainWindow::~MainWindow() {
    model_.setObserver(nullptr);
    binder_.reset();
}

void MainWindow::titleChanged() { setWindowTitleAsShown(*this, q(model_.title())); }

void MainWindow::buildMenus() {
    for (Menu& menu : model_.menus) {
        QMenu* m = menuBar()->addMenu(q(menu.name));
        m->setObjectName(q(menu.name));
        for (MenuItem& item : menu.items) {
            QAction* action = m->addAction(q(item.name));
            action->setObjectName(q(item.name));
            MenuItem* chosen = &item;
            connect(action, &QAction::triggered, this, [this, chosen] {
                dispatcher_.post([chosen] {
                    if (chosen->chosen) chosen->chosen();
                });
            });
        }
    }
}

QPixmap MainWindow::iconPixmap() {
    // Three green bars on a dark panel, like the channel strip.
    QPixmap pm(MainWin::kIconSize, MainWin::kIconSize);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x00, 0x60, 0xC0));
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 5, 5);
    p.setBrush(QColor(0x00, 0xFF, 0x00));
    p.drawRect(6, 14, 5, 13);
    p.drawRect(13, 7, 5, 20);
    p.drawRect(20, 18, 5, 9);
    p.end();
    return pm;
}

}  // namespace keldrin
