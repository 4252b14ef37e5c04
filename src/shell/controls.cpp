#include "shell/controls.h"

#include <algorithm>

namespace keldrin {

Control::Control(Kind kind, std::string name, Control* parent, Rect r, std::string text)
    : text_(std::move(text)), kind_(kind), name_(std::move(name)), parent_(parent), rect_(r) {}

void Control::notify(Prop p, const std::string& piece, std::size_t count) {
    if (observer_) observer_->controlChanged(*this, p, piece, count);
}

void Control::setTop(int top) {
    if (rect_.top == top) return;
    rect_.top = top;
    notify(Prop::Geometry);
}

void Control::setHeight(int height) {
    height = std::clamp(height, 0, kMaxExtent);
    if (rect_.height == height) return;
    rect_.height = height;
    notify(Prop::Geometry);
}

void Control::setText(std::string text) {
    if (text_ == text) return;
    text_ = std::move(text);
    notify(Prop::Text);
}

void Control::setEnabled(bool on) {
    if (enabled_ == on) return;
    enabled_ = on;
    notify(Prop::Enabled);
}

void Control::setVisible(bool on) {
    if (visible_ == on) return;
    visible_ = on;
    notify(Prop::Visible);
}

void Control::setStale(bool on) {
    if (stale_ == on) return;
    stale_ = on;
    notify(Prop::Stale);
}

void Control::setToolTip(std::string tip) {
    if (toolTip_ == tip) return;
    toolTip_ = std::move(tip);
    notify(Prop::ToolTip);
}

void EditBox::appendText(const std::string& piece) {
    text_ += piece;
    notify(Prop::TextAppended, piece);
    if (limit_ == 0 || text_.size() <= limit_) return;
    std::size_t keep = limit_ - limit_ / 4;
    std::size_t from = text_.size() - keep;
    // Cut after a line break at or beyond `from`; in one long line, after a space.
    std::size_t cut = text_.find('\n', from);
    if (cut == std::string::npos) cut = text_.find(' ', from);
    if (cut == std::string::npos) cut = from;
    else ++cut;
    // Never split a UTF-8 sequence.
    while (cut < text_.size() && (static_cast<unsigned char>(text_[cut]) & 0xC0) == 0x80) ++cut;
    const std::string removed = text_.substr(0, cut);
    text_.erase(0, cut);
    notify(Prop::TextTrimmed, removed, cut);
}

void CheckBox::setChecked(bool on) {
    if (checked_ == on) return;
    checked_ = on;
    notify(Prop::Checked);
}

void ComboBox::addItem(ComboItem item) {
    items_.push_back(std::move(item));
    notify(Prop::Text);  // item list changed
}

void ComboBox::setSelectedIndex(int index) {
    if (index < -1 || index >= static_cast<int>(items_.size())) index = -1;
    if (selected_ == index) return;
    selected_ = index;
    notify(Prop::Selected);
}

int ComboBox::selectedValue() const {
    if (selected_ < 0 || selected_ >= static_cast<int>(items_.size())) return 0;
    return items_[static_cast<std::size_t>(selected_)].value;
}

void Grid::setZoom(int level) {
    level = std::clamp(level, kMinZoom, kMaxZoom);
    if (zoom_ == level) return;
    zoom_ = level;
    notify(Prop::Zoom);
}

void Timer::setInterval(int ms) {
    if (ms < 0) ms = 0;
    if (ms == interval_) return;
    interval_ = ms;
    if (intervalChanged) intervalChanged(*this);
}

}  // namespace keldrin
