#pragma once
// The small interfaces through which the handlers reach the outside world. The Qt
// adapters implement them for the real program; tests implement them as fakes on a
// virtual clock.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/dispatcher.h"
#include "core/journal_file.h"

namespace keldrin {

// The serial port: 8 data bits, 1 stop bit, no parity, no flow control.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Takes effect at the next open.
    virtual void setPortNumber(int n) = 0;
    virtual int portNumber() const = 0;
    virtual void setBaudRate(int baud) = 0;
    virtual int baudRate() const = 0;
    // True only when the port is open at the current settings afterwards. A baud rate
    // of 0 or less, or a port number with no device, fails.
    virtual bool open() = 0;
    // Harmless when closed.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Ignored when closed; bytes go out in order.
    virtual void send(std::span<const std::uint8_t> bytes) = 0;
    // Whether port n can be opened, tried on a trial handle of its own that is closed
    // at once; the port this service holds open counts as openable. Leaves this
    // service's settings and open state alone.
    virtual bool canOpen(int n) = 0;

    // Received bytes go to handler, one call per byte, in order, through the dispatcher.
    void connectBytes(Dispatcher& d, std::function<void(int)> handler) {
        dispatcher_ = &d;
        byteHandler_ = std::move(handler);
    }
    // The device went away while the port was open (an adapter pulled, a box switched
    // off): the port is closed by then, and handler runs through the dispatcher, once
    // per loss. Sends are ignored until a later open succeeds.
    void connectLost(Dispatcher& d, std::function<void()> handler) {
        lostDispatcher_ = &d;
        lostHandler_ = std::move(handler);
    }

    // Received bytes wait here until their handler can run. Past this many the oldest
    // are dropped: line noise at any rate then costs bounded memory and latency.
    static constexpr std::size_t kBacklogLimit = 4096;
    std::size_t backlog() const { return backlog_.size(); }
    // Drops every byte received but not yet handed to the handler (the rest of a
    // garbled burst); returns how many.
    std::size_t discardBacklog() {
        const std::size_t n = backlog_.size();
        backlog_.clear();
        discardedBytes_ += n;
        return n;
    }
    // Bytes dropped unseen: by discardBacklog, and past kBacklogLimit.
    std::uint64_t discardedBytes() const { return discardedBytes_; }
    std::uint64_t overflowedBytes() const { return overflowedBytes_; }

protected:
    // Implementations call this with every batch of received bytes.
    void deliver(std::span<const std::uint8_t> bytes) {
        if (!dispatcher_ || !byteHandler_) return;
        backlog_.insert(backlog_.end(), bytes.begin(), bytes.end());
        if (backlog_.size() > kBacklogLimit) {
            const std::size_t over = backlog_.size() - kBacklogLimit;
            backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(over));
            overflowedBytes_ += over;
        }
        dispatcher_->postOnce(this, [this] { handBacklogOver(); });
    }
    // Implementations call this once they have closed the port of a vanished device.
    void reportLost() {
        if (!lostDispatcher_ || !lostHandler_) return;
        lostDispatcher_->postOnce(&lostHandler_, [this] { lostHandler_(); });
    }

private:
    // One call per byte. Bytes that arrive while a handler pauses join the backlog and
    // are handed over in turn when it returns.
    void handBacklogOver() {
        while (!backlog_.empty()) {
            const int b = backlog_.front();
            backlog_.pop_front();
            byteHandler_(b);
        }
    }

    Dispatcher* dispatcher_ = nullptr;
    std::function<void(int)> byteHandler_;
    Dispatcher* lostDispatcher_ = nullptr;
    std::function<void()> lostHandler_;
    std::deque<std::uint8_t> backlog_;
    std::uint64_t discardedBytes_ = 0;
    std::uint64_t overflowedBytes_ = 0;
};

enum class Buttons { Ok, OkCancel };
enum class Icon { None, Information, Warning, Critical };
enum class Answer { Ok, Cancel };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Modal; timers and the serial port keep delivering while it is open. An empty
    // title means the box is shown without one.
    virtual Answer show(const std::string& text, Buttons buttons, Icon icon, const std::string& title) = 0;
};

enum class DialogMode { Open, Save, SaveAskBeforeReplacing };

class FileDialog {
public:
    virtual ~FileDialog() = default;
    // filter in the form "description|pattern". nullopt when the operator cancels.
    virtual std::optional<std::string> choose(DialogMode mode, const std::string& filter) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Local date and time as "yyyy-MM-dd HH:mm:ss.zzz".
    virtual std::string nowText() = 0;
    // Milliseconds on a steady clock that no change of the date, the time or the zone
    // moves: for measuring ages, never shown.
    virtual std::int64_t elapsedMs() = 0;
};

class Beeper {
public:
    virtual ~Beeper() = default;
    virtual void beep() = 0;
};

class Screen {
public:
    virtual ~Screen() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
};

// Files by name relative to the working directory; names are UTF-8.
class Files {
public:
    virtual ~Files() = default;
    // Only regular files are read. A FIFO would block the program until something
    // wrote to it, a device may never end and a directory has no content: they are
    // refused without waiting, with the reason in *error. *error stays as it was when
    // the file is merely missing or cannot be opened.
    //
    // The whole content; nullopt when missing, unreadable, not a regular file or
    // larger than maxBytes (refused unread when its size shows it).
    virtual std::optional<std::string> readAll(const std::string& name, std::uint64_t maxBytes = UINT64_MAX,
                                               FileError* error = nullptr) = 0;
    // The first maxBytes at most, and nothing past them is read; size, when given, gets
    // the whole file's size. For a file that should hold a small value but may not, or
    // to look at a header before committing to the rest.
    virtual std::optional<std::string> readPrefix(const std::string& name, std::size_t maxBytes,
                                                  FileError* error = nullptr, std::uint64_t* size = nullptr) = 0;
    // As much of a settings file as is ever read: they hold one small number as text.
    static constexpr std::size_t kSettingBytes = 4096;
    // Replaces the whole content; false on failure.
    virtual bool writeAll(const std::string& name, std::string_view bytes) = 0;
    virtual bool exists(const std::string& name) = 0;
    // Deletes the file; false when it could not be deleted.
    virtual bool remove(const std::string& name) = 0;
    // Writes to a temporary file beside name; commit() flushes it and renames it over
    // name, so a failed or interrupted write leaves the old file untouched.
    virtual std::unique_ptr<OutFile> createAtomic(const std::string& name, FileError* error) = 0;
    // A new file name: fails when it exists. Written beside it; commit() brings it to
    // the disk and only then gives it its name, never over a file that appeared
    // meanwhile, and brings the folder to the disk: the file is complete under its
    // name or not there at all.
    virtual std::unique_ptr<OutFile> createNew(const std::string& name, FileError* error) = 0;
    // Opens the journal name (creating it) for this program alone, with an operating-
    // system lock that ends with the process; what it held is read through
    // JournalFile::readPrevious. nullptr with the reason when another program holds
    // it, it is not a regular file or it cannot be opened.
    virtual std::unique_ptr<JournalFile> openJournal(const std::string& name, JournalOpenError* error) = 0;
};

// GBK (code page 936), the encoding the CSV files are written in for the Chinese
// spreadsheet programs our operators open them with.
class Gbk {
public:
    virtual ~Gbk() = default;
    // Whether this system can write GBK at all.
    virtual bool available() = 0;
    // Appends utf8 to out in GBK. A character GBK cannot hold becomes one "?", the same
    // on every system, so that a file's bytes never depend on where it was written.
    virtual void append(std::string& out, std::string_view utf8) = 0;
};

// Runs work as an event of its own once the events already waiting (input, painting,
// ticks) have had their turn: long work is done in slices this way, so that the window
// stays responsive.
class Later {
public:
    virtual ~Later() = default;
    virtual void post(std::function<void()> work) = 0;
};

class PortWin;

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Shows the port dialog modally over the main window; returns when it is closed.
    virtual void showPortWin(PortWin& dialog) = 0;
    // Shows the trend window of the record table beside the main window, or raises it
    // when it is open; returns at once.
    virtual void showTrend() = 0;
    // Shows the publishing settings modally; saved settings take effect at once (a
    // problem with them is shown there).
    virtual void showPublishSettings() = 0;
};

// A recorded row as it is published: the run's id and the row's number in it, its
// date and time as the table holds it, and each ticked channel's heading with its
// cell (nothing for a stale one).
struct PublishedRow {
    std::string run;
    std::int64_t row = 0;
    std::string time;
    std::vector<std::pair<std::string, std::optional<std::string>>> values;
};

// Publishing to an MQTT broker, off unless its settings turn it on; while off, every
// call does nothing. Never blocks: the network has a thread of its own, and rows wait
// on disk until the broker has them.
class Publisher {
public:
    virtual ~Publisher() = default;
    // Reads the settings and starts when they turn it on. A problem with the settings,
    // to be shown, leaves publishing off.
    virtual std::optional<std::string> start() = 0;
    virtual bool enabled() const = 0;
    virtual void row(const PublishedRow& r) = 0;
    // An accepted reading of channel (1..8) and its local date and time.
    virtual void reading(int channel, double value, const std::string& time) = 0;
    // The serial port's name and state ("connected", "reconnecting", "closed").
    virtual void portState(const std::string& name, const std::string& state) = 0;
    // One line for the window: connected, waiting with rows queued, or refused and why.
    virtual std::string stateText() = 0;
    // Something the operator must be told once (the queue full, rows dropped).
    virtual std::optional<std::string> takeNotice() = 0;
};

// Everything a handler may use of the outside world.
struct Services {
    SerialPort& port;
    MessageBoxes& boxes;
    FileDialog& fileDialog;
    Clock& clock;
    Beeper& beeper;
    Screen& screen;
    Files& files;
    Gbk& gbk;
    Dialogs& dialogs;
    Dispatcher& dispatcher;
    Later& later;
    Publisher& publisher;
};

}  // namespace keldrin
