#pragma once
// The small services on Qt: message boxes, the file dialog, clock, beep, screen size,
// the pause of a handler and the timers of the window.
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "core/services.h"

class QMessageBox;

namespace keldrin {

class Timer;

// Sets a window's title. Qt puts the application's name in the title bar of a window
// whose title is empty; an empty title must look empty there too, so the window
// system is given a blank one while the widget's own title stays empty.
void setWindowTitleAsShown(QWidget& window, const QString& title);

class QtMessageBoxes : public MessageBoxes {
public:
    Answer show(const std::string& text, Buttons buttons, Icon icon, const std::string& title) override;
    void setParent(QWidget* parent) { parent_ = parent; }

private:
    QPointer<QWidget> parent_;
};

class QtFileDialog : public FileDialog {
public:
    explicit QtFileDialog(QString startDir) : startDir_(std::move(startDir)) {}
    std::optional<std::string> choose(DialogMode mode, const std::string& filter) override;
    void setParent(QWidget* parent) { parent_ = parent; }
    // "description|pattern;pattern" to Qt's "description (patterns)".
    static QString qtFilter(const std::string& filter);

private:
    QString startDir_;
    QPointer<QWidget> parent_;
};

// The local time as the display shows it 20 times a second: the conversion to local
// time (time zone rules, a look at the zone file) is done once a second, as the offset
// only ever changes on a whole second.
class QtClock : public Clock {
public:
    QtClock() { steady_.start(); }
    std::string nowText() override;
    std::int64_t elapsedMs() override { return steady_.elapsed(); }

private:
    qint64 second_ = -1;  // seconds since the epoch of secondText_
    std::string secondText_;  // the text up to the milliseconds
    QElapsedTimer steady_;
};

class QtBeeper : public Beeper {
public:
    void beep() override;
};

class QtScreen : public Screen {
public:
    int width() const override;
    int height() const override;
};

// Work posted for later goes through Qt's own queue of events, behind input and
// painting, and then through the dispatcher. Dropped with this object.
class QtLater : public Later {
public:
    explicit QtLater(Dispatcher& d) : dispatcher_(d) {}
    void post(std::function<void()> work) override;

private:
    Dispatcher& dispatcher_;
    QObject context_;
};

// Lets time pass inside a handler: a nested event loop that takes no operator input,
// while timers and the serial port keep arriving (the dispatcher queues them).
class QtPauser : public Pauser {
public:
    void waitFor(int ms) override;
};

// One QTimer per model timer. Ticks go through the dispatcher.
class QtScheduler {
public:
    explicit QtScheduler(Dispatcher& d) : dispatcher_(d) {}
    ~QtScheduler();
    QtScheduler(const QtScheduler&) = delete;
    QtScheduler& operator=(const QtScheduler&) = delete;

    // Takes over t (its intervalChanged); starts it at once when its interval is above 0.
    void drive(Timer& t);
    // The QTimer behind t (nullptr when t is not driven here).
    const QTimer* qtTimer(const Timer& t) const;

private:
    struct Driven {
        Timer* model;
        std::unique_ptr<QTimer> timer;
    };
    void apply(Driven& d);
    Dispatcher& dispatcher_;
    std::vector<Driven> timers_;
};

}  // namespace keldrin
