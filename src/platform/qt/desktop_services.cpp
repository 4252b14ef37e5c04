#include "platform/qt/desktop_services.h"
#include "platform/qstring_utf8.h"

#include <QApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QScreen>
#include <QWindow>
#include <string_view>

#include "common/texts.h"
#include "shell/controls.h"

namespace keldrin {

namespace {

void blankEmptyTitle(QWidget& window) {
    QWindow* handle = window.windowHandle();
    if (window.windowTitle().isEmpty() && handle && handle->title() != QStringLiteral(" ")) {
        handle->setTitle(QStringLiteral(" "));
    }
}

// Qt hands the platform window the widget's empty title again at times of its own
// choosing (when it makes that window, when it shows it): blank it after each.
class BlankTitleKeeper : public QObject {
public:
    explicit BlankTitleKeeper(QWidget* window) : QObject(window), window_(window) {
        setObjectName(QStringLiteral("BlankTitleKeeper"));
        window->installEventFilter(this);
        watchHandle();
    }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show || e->type() == QEvent::WinIdChange) watchHandle();
        return false;
    }

private:
    void watchHandle() {
        QWindow* handle = window_->windowHandle();
        if (handle && handle != watched_) {
            watched_ = handle;
            connect(handle, &QWindow::windowTitleChanged, this, [this] { blankEmptyTitle(*window_); });
        }
        blankEmptyTitle(*window_);
    }
    QWidget* window_;
    QPointer<QWindow> watched_;
};

}  // namespace

void setWindowTitleAsShown(QWidget& window, const QString& title) {
    window.setWindowTitle(title);
    const QString keeper = QStringLiteral("BlankTitleKeeper");
    if (!window.findChild<QObject*>(keeper, Qt::FindDirectChildrenOnly)) new BlankTitleKeeper(&window);
    blankEmptyTitle(window);
}

Answer QtMessageBoxes::show(const std::string& text, Buttons buttons, Icon icon, const std::string& title) {
    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    switch (icon) {
        case Icon::None: qicon = QMessageBox::NoIcon; break;
        case Icon::Information: qicon = QMessageBox::Information; break;
        case Icon::Warning: qicon = QMessageBox::Warning; break;
        case Icon::Critical: qicon = QMessageBox::Critical; break;
    }
    const QMessageBox::StandardButtons qbuttons =
        buttons == Buttons::Ok ? QMessageBox::Ok : (QMessageBox::Ok | QMessageBox::Cancel);
    QMessageBox box(qicon, QString(), q(text), qbuttons, parent_);
    setWindowTitleAsShown(box, q(title));
    box.setDefaultButton(QMessageBox::Ok);
    if (buttons == Buttons::OkCancel) box.setEscapeButton(QMessageBox::Cancel);
    const int result = box.exec();
    return result == QMessageBox::Ok ? Answer::Ok : (buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel);
}

QString QtFileDialog::qtFilter(const std::string& filter) {
    const QString f = q(filter);
    const qsizetype bar = f.indexOf(u'|');
    if (bar < 0) return f;
    const QString description = f.left(bar);
    QStringList patterns = f.mid(bar + 1).split(u';', Qt::SkipEmptyParts);
#ifndef Q_OS_WIN
    // On Windows "*.*" matches every file; here it would hide files without a dot.
    for (QString& p : patterns) {
        if (p == QStringLiteral("*.*")) p = QStringLiteral("*");
    }
#endif
    return description + QStringLiteral(" (") + patterns.join(u' ') + u')';
}

std::optional<std::string> QtFileDialog::choose(DialogMode mode, const std::string& filter) {
    const QString qfilter = qtFilter(filter);
    QString chosen;
    switch (mode) {
        case DialogMode::Open:
            chosen = QFileDialog::getOpenFileName(parent_, QString(), startDir_, qfilter);
            break;
        case DialogMode::Save:
            chosen = QFileDialog::getSaveFileName(parent_, QString(), startDir_, qfilter, nullptr,
                                                  QFileDialog::DontConfirmOverwrite);
            break;
        case DialogMode::SaveAskBeforeReplacing:
            chosen = QFileDialog::getSaveFileName(parent_, QString(), startDir_, qfilter);
            break;
    }
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toStdString();
}

std::string QtClock::nowText() {
    static constexpr std::string_view kFormat = kDateTimeFormat;
    static_assert(kFormat.ends_with(".zzz"), "the milliseconds come last");
    static const QString kSecondFormat = QString::fromLatin1(kFormat.substr(0, kFormat.size() - 3));
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    if (second != second_) {
        second_ = second;
        secondText_ = QDateTime::fromMSecsSinceEpoch(second * 1000).toString(kSecondFormat).toStdString();
    }
    const int milli = static_cast<int>(ms - second * 1000);
    std::string text = secondText_;
    text += static_cast<char>('0' + milli / 100);
    text += static_cast<char>('0' + milli / 10 % 10);
    text += static_cast<char>('0' + milli % 10);
    return text;
}

void QtBeeper::beep() { QApplication::beep(); }

int QtScreen::width() const {
    const QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->size().width() : 0;
}

int QtScreen::height() const {
    const QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->size().height() : 0;
}

void QtLater::post(std::function<void()> work) {
    QTimer::singleShot(0, &context_, [this, w = std::move(work)]() mutable { dispatcher_.post(std::move(w)); });
}

void QtPauser::waitFor(int ms) {
    if (ms <= 0) return;
    QEventLoop loop;
    QTimer done;
    done.setSingleShot(true);
    done.setTimerType(Qt::PreciseTimer);
    QObject::connect(&done, &QTimer::timeout, &loop, &QEventLoop::quit);
    done.start(ms);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

QtScheduler::~QtScheduler() {
    for (Driven& d : timers_) d.model->intervalChanged = nullptr;
}

void QtScheduler::drive(Timer& t) {
    auto timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    Timer* model = &t;
    QObject::connect(timer.get(), &QTimer::timeout, [this, model] {
        dispatcher_.postOnce(model, [model] {
            if (model->tick) model->tick();
        });
    });
    timers_.push_back({model, std::move(timer)});
    // The model calls this only for a different interval (the same one leaves the
    // countdown alone), so restarting here is right.
    t.intervalChanged = [this](Timer& changed) {
        for (Driven& d : timers_) {
            if (d.model == &changed) apply(d);
        }
    };
    apply(timers_.back());
}

const QTimer* QtScheduler::qtTimer(const Timer& t) const {
    for (const Driven& d : timers_) {
        if (d.model == &t) return d.timer.get();
    }
    return nullptr;
}

void QtScheduler::apply(Driven& d) {
    // A QTimer with interval 0 fires on every event-loop pass: 0 means stopped here.
    if (d.model->interval() > 0) d.timer->start(d.model->interval());
    else d.timer->stop();
}

}  // namespace keldrin
