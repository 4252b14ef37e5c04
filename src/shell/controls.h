#pragma once
// The window model: plain C++ controls carrying the properties the handlers use.
// A platform adapter observes them to keep real widgets in step, and feeds operator
// input back through the user* setters, which do not echo to the observer.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace keldrin {

enum class Kind { Label, Button, EditBox, CheckBox, ComboBox, GroupBox, PictureBox, Grid };

enum class Prop {
    Text,          // whole text or caption replaced
    TextAppended,  // piece appended at the end (piece given)
    TextTrimmed,   // the front of the text removed (given, with its byte count)
    Geometry,
    Enabled,
    Visible,
    Checked,
    Selected,
    Zoom,
    Stale,    // shown greyed: what it shows is out of date
    ToolTip,  // its tip, which is also its description for assistive tools
};

class Control;

class ControlObserver {
public:
    virtual ~ControlObserver() = default;
    // piece: the appended text for TextAppended, the removed text for TextTrimmed;
    // count: bytes removed for TextTrimmed.
    virtual void controlChanged(Control& c, Prop p, const std::string& piece, std::size_t count) = 0;
};

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
};

inline constexpr std::int64_t kNoColour = -1;

class Control {
public:
    Control(Kind kind, std::string name, Control* parent, Rect r, std::string text = {});
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    Kind kind() const { return kind_; }
    const std::string& name() const { return name_; }
    Control* parent() const { return parent_; }

    int left() const { return rect_.left; }
    int top() const { return rect_.top; }
    int width() const { return rect_.width; }
    int height() const { return rect_.height; }
    Rect rect() const { return rect_; }
    void setTop(int top);
    // Heights are limited to 0..kMaxExtent like a real widget's; read back what was kept.
    void setHeight(int height);
    static constexpr int kMaxExtent = 16777215;

    // Caption (labels, buttons, check boxes, group boxes) or text (edit boxes).
    const std::string& text() const { return text_; }
    void setText(std::string text);
    void userSetText(std::string text) { text_ = std::move(text); }

    bool enabled() const { return enabled_; }
    void setEnabled(bool on);
    bool visible() const { return visible_; }
    void setVisible(bool on);
    // A reading that is no longer current keeps its place but is shown greyed.
    bool stale() const { return stale_; }
    void setStale(bool on);
    const std::string& toolTip() const { return toolTip_; }
    void setToolTip(std::string tip);

    // Presentation fixed at creation.
    std::int64_t background = kNoColour;  // 0xRRGGBB
    int fontPixels = 0;                   // 0: the window's font

    void setObserver(ControlObserver* o) { observer_ = o; }

protected:
    void notify(Prop p, const std::string& piece = {}, std::size_t count = 0);
    std::string text_;

private:
    Kind kind_;
    std::string name_;
    Control* parent_;
    Rect rect_;
    bool enabled_ = true;
    bool visible_ = true;
    bool stale_ = false;
    std::string toolTip_;
    ControlObserver* observer_ = nullptr;
};

class Label : public Control {
public:
    Label(std::string name, Control* parent, Rect r, std::string caption = {})
        : Control(Kind::Label, std::move(name), parent, r, std::move(caption)) {}
};

class Button : public Control {
public:
    Button(std::string name, Control* parent, Rect r, std::string caption)
        : Control(Kind::Button, std::move(name), parent, r, std::move(caption)) {}
    std::function<void()> clicked;
};

class GroupBox : public Control {
public:
    GroupBox(std::string name, Control* parent, Rect r, std::string caption = {})
        : Control(Kind::GroupBox, std::move(name), parent, r, std::move(caption)) {}
};

class PictureBox : public Control {
public:
    PictureBox(std::string name, Control* parent, Rect r)
        : Control(Kind::PictureBox, std::move(name), parent, r) {}
};

class EditBox : public Control {
public:
    EditBox(std::string name, Control* parent, Rect r, std::string text = {}, bool multiLine = false)
        : Control(Kind::EditBox, std::move(name), parent, r, std::move(text)), multiLine(multiLine) {}
    const bool multiLine;

    // Appends without rewriting the whole text. When a limit is set and the text
    // grows past it, whole old lines are dropped from the front down to about three
    // quarters of the limit, so the cost per appended piece stays flat.
    void appendText(const std::string& piece);
    void setTextLimit(std::size_t bytes) { limit_ = bytes; }
    std::size_t textLimit() const { return limit_; }

    std::function<void()> textChanged;  // operator edits

private:
    std::size_t limit_ = 0;  // 0: no limit
};

class CheckBox : public Control {
public:
    CheckBox(std::string name, Control* parent, Rect r, std::string caption, bool checked)
        : Control(Kind::CheckBox, std::move(name), parent, r, std::move(caption)), checked_(checked) {}
    bool checked() const { return checked_; }
    void setChecked(bool on);
    void userSetChecked(bool on) { checked_ = on; }

private:
    bool checked_;
};

struct ComboItem {
    std::string text;
    int value = 0;
};

class ComboBox : public Control {
public:
    ComboBox(std::string name, Control* parent, Rect r, std::vector<ComboItem> items = {})
        : Control(Kind::ComboBox, std::move(name), parent, r), items_(std::move(items)) {}
    const std::vector<ComboItem>& items() const { return items_; }
    void addItem(ComboItem item);
    // -1: no item selected.
    int selectedIndex() const { return selected_; }
    void setSelectedIndex(int index);
    void userSetSelectedIndex(int index) { selected_ = index; }
    // The item value of the selected item, 0 when none is selected.
    int selectedValue() const;

    std::function<void()> itemChosen;  // operator picks an item

private:
    std::vector<ComboItem> items_;
    int selected_ = -1;
};

class DataSource;

class Grid : public Control {
public:
    Grid(std::string name, Control* parent, Rect r) : Control(Kind::Grid, std::move(name), parent, r) {}
    // The zoom levels the grid accepts; a level outside is clamped into this range.
    static constexpr int kMinZoom = -6;
    static constexpr int kMaxZoom = 20;
    int zoom() const { return zoom_; }
    void setZoom(int level);

    void bind(DataSource* source) { source_ = source; }
    DataSource* source() const { return source_; }

private:
    int zoom_ = 0;
    DataSource* source_ = nullptr;
};

// A timer of the window. Interval 0 (or less) stops it. Assigning the interval it
// already has leaves its countdown alone; a different interval restarts it.
class Timer {
public:
    Timer(std::string name, int interval) : name_(std::move(name)), interval_(interval < 0 ? 0 : interval) {}
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
    const std::string& name() const { return name_; }
    int interval() const { return interval_; }
    void setInterval(int ms);

    std::function<void()> tick;
    std::function<void(Timer&)> intervalChanged;  // set by the scheduler that drives it

private:
    std::string name_;
    int interval_;
};

struct MenuItem {
    std::string name;  // also its caption
    std::function<void()> chosen;
};

struct Menu {
    std::string name;
    std::vector<MenuItem> items;
};

}  // namespace keldrin
