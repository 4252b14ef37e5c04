#include "platform/qt/control_binder.h"
#include "platform/qstring_utf8.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "platform/qt/record_grid.h"

namespace keldrin {

namespace {

QRect rectOf(const Control& c) { return {c.left(), c.top(), c.width(), c.height()}; }

void paintBackground(QWidget* w, std::int64_t rgb, bool editable) {
    if (rgb == kNoColour) return;
    QPalette pal = w->palette();
    const QColor colour = QColor::fromRgb(static_cast<QRgb>(rgb));
    if (editable) {
        pal.setColor(QPalette::Base, colour);
    } else {
        pal.setColor(QPalette::Window, colour);
        pal.setColor(QPalette::Button, colour);
        w->setAutoFillBackground(true);
    }
    w->setPalette(pal);
}

// A stale reading keeps its place: its label's text and its bar turn grey.
void showStale(const Control& c, QWidget* w) {
    if (c.kind() == Kind::PictureBox) {
        constexpr QRgb kStaleBar = 0xA0A0A0;
        QPalette pal = w->palette();
        const auto own = c.background == kNoColour ? pal.color(QPalette::Window)
                                                    : QColor::fromRgb(static_cast<QRgb>(c.background));
        pal.setColor(QPalette::Window, c.stale() ? QColor::fromRgb(kStaleBar) : own);
        w->setPalette(pal);
        w->setAutoFillBackground(true);
    } else {
        w->setForegroundRole(c.stale() ? QPalette::PlaceholderText : QPalette::WindowText);
        w->update();
    }
}

// Stays at the end when the operator was looking at the end.
class FollowEnd {
public:
    explicit FollowEnd(QPlainTextEdit* e) : bar_(e->verticalScrollBar()), atEnd_(bar_->value() == bar_->maximum()) {}
    ~FollowEnd() {
        if (atEnd_) bar_->setValue(bar_->maximum());
    }

private:
    QScrollBar* bar_;
    bool atEnd_;
};

}  // namespace

qsizetype shownLength(const std::string& text) {
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // The widget keeps one paragraph break for each "\r\n", "\r" or "\n".
    return shown.size() - shown.count(QStringLiteral("\r\n"));
}

ControlBinder::ControlBinder(Dispatcher& d, const Control& root, QWidget* rootWidget,
                             const std::vector<Control*>& controls, GridFactory makeGrid)
    : dispatcher_(d), makeGrid_(std::move(makeGrid)), controls_(controls) {
    widgets_[&root] = rootWidget;
    for (Control* c : controls_) {
        auto parent = widgets_.find(c->parent());
        QWidget* parentWidget = parent != widgets_.end() ? parent->second : rootWidget;
        QWidget* w = create(*c, parentWidget);
        w->setObjectName(q(c->name()));
        w->setGeometry(rectOf(*c));
        if (c->fontPixels > 0) {
            QFont f = w->font();
            f.setPixelSize(c->fontPixels);
            w->setFont(f);
        }
        w->setEnabled(c->enabled());
        w->setHidden(!c->visible());
        widgets_[c] = w;
        byName_.emplace(c->name(), w);
        connectInput(*c, w);
        c->setObserver(this);
    }
    appendWait_.setSingleShot(true);
    appendWait_.setInterval(kAppendWaitMs);
    appendWait_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&appendWait_, &QTimer::timeout, [this] { insertAllQueued(); });
}

ControlBinder::~ControlBinder() {
    for (Control* c : controls_) c->setObserver(nullptr);
}

QWidget* ControlBinder::widget(const std::string& name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

QWidget* ControlBinder::widget(const Control& c) const {
    auto it = widgets_.find(&c);
    return it == widgets_.end() ? nullptr : it->second;
}

QWidget* ControlBinder::create(Control& c, QWidget* parent) {
    switch (c.kind()) {
        case Kind::Label: {
            auto* w = new QLabel(parent);
            w->setTextFormat(Qt::PlainText);
            w->setText(q(c.text()));
            paintBackground(w, c.background, false);
            return w;
        }
        case Kind::Button: {
            auto* w = new QPushButton(q(c.text()), parent);
            w->setAutoDefault(false);
            paintBackground(w, c.background, false);
            return w;
        }
        case Kind::EditBox: {
            auto& e = static_cast<EditBox&>(c);
            QWidget* w = nullptr;
            if (e.multiLine) {
                auto* edit = new QPlainTextEdit(parent);
                edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                // Echo boxes take endless appends: no undo history to grow without bound.
                edit->setUndoRedoEnabled(false);
                edit->setPlainText(q(e.text()));
                w = edit;
            } else {
                auto* edit = new QLineEdit(parent);
                edit->setMaxLength(QWIDGETSIZE_MAX);  // the default would cut at 32767
                edit->setText(q(e.text()));
                w = edit;
            }
            w->setAccessibleName(q(c.name()));
            paintBackground(w, c.background, true);
            return w;
        }
        case Kind::CheckBox: {
            auto& box = static_cast<CheckBox&>(c);
            auto* w = new QCheckBox(q(c.text()), parent);
            w->setChecked(box.checked());
            paintBackground(w, c.background, false);
            return w;
        }
        case Kind::ComboBox: {
            auto* w = new QComboBox(parent);
            w->setAccessibleName(q(c.name()));
            showText(c, w);
            paintBackground(w, c.background, false);
            return w;
        }
        case Kind::GroupBox: {
            auto* w = new QGroupBox(q(c.text()), parent);
            paintBackground(w, c.background, false);
            return w;
        }
        case Kind::PictureBox: {
            auto* w = new QFrame(parent);
            w->setFrameShape(QFrame::NoFrame);
            paintBackground(w, c.background, false);
            return w;
        }
        case Kind::Grid: {
            if (makeGrid_) return makeGrid_(static_cast<Grid&>(c), parent);
            return new QTableView(parent);
        }
    }
    return new QWidget(parent);
}

void ControlBinder::connectInput(Control& c, QWidget* w) {
    Control* model = &c;
    Dispatcher* d = &dispatcher_;
    switch (c.kind()) {
        case Kind::Button:
            QObject::connect(static_cast<QPushButton*>(w), &QPushButton::clicked, [model, d] {
                auto* b = static_cast<Button*>(model);
                d->post([b] {
                    if (b->clicked) b->clicked();
                });
            });
            break;
        case Kind::EditBox: {
            auto* e = static_cast<EditBox*>(model);
            auto edited = [e, d](std::string text) {
                e->userSetText(std::move(text));
                d->post([e] {
                    if (e->textChanged) e->textChanged();
                });
            };
            if (auto* line = qobject_cast<QLineEdit*>(w)) {
                QObject::connect(line, &QLineEdit::textEdited,
                                 [edited](const QString& t) { edited(t.toStdString()); });
            } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
                // textChanged also fires for model changes shown here: only operator edits count.
                QObject::connect(plain, &QPlainTextEdit::textChanged, [this, plain, edited] {
                    if (!updating_) edited(plain->toPlainText().toStdString());
                });
            }
            break;
        }
        case Kind::CheckBox:
            QObject::connect(static_cast<QCheckBox*>(w), &QCheckBox::clicked,
                             [model](bool on) { static_cast<CheckBox*>(model)->userSetChecked(on); });
            break;
        case Kind::ComboBox:
            QObject::connect(static_cast<QComboBox*>(w), &QComboBox::activated, [model, d](int index) {
                auto* combo = static_cast<ComboBox*>(model);
                combo->userSetSelectedIndex(index);
                d->post([combo] {
                    if (combo->itemChosen) combo->itemChosen();
                });
            });
            break;
        default:
            break;
    }
}

void ControlBinder::showText(Control& c, QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(q(c.text()));
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        button->setText(q(c.text()));
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        check->setText(q(c.text()));
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(q(c.text()));
    } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
        line->setText(q(c.text()));
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
        FollowEnd follow(plain);
        plain->setPlainText(q(c.text()));
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        // The item list changed: rebuild it, keeping the model's selection.
        auto& model = static_cast<ComboBox&>(c);
        const QSignalBlocker block(combo);
        combo->clear();
        for (const ComboItem& item : model.items()) combo->addItem(q(item.text), item.value);
        combo->setCurrentIndex(model.selectedIndex());
    }
}

void ControlBinder::queueAppend(QWidget* w, const std::string& piece) {
    queued_[w] += piece;
    if (!appendWait_.isActive()) appendWait_.start();
}

void ControlBinder::insertAllQueued() {
    appendWait_.stop();
    while (!queued_.empty()) insertQueued(queued_.begin()->first);
}

void ControlBinder::insertQueued(QWidget* w) {
    auto it = queued_.find(w);
    if (it == queued_.end()) return;
    const std::string text = std::move(it->second);
    queued_.erase(it);
    auto* plain = static_cast<QPlainTextEdit*>(w);
    const bool wasUpdating = updating_;
    updating_ = true;
    {
        FollowEnd follow(plain);
        QTextCursor end(plain->document());
        end.movePosition(QTextCursor::End);
        end.insertText(q(text));
    }
    updating_ = wasUpdating;
}

void ControlBinder::controlChanged(Control& c, Prop p, const std::string& piece, std::size_t) {
    QWidget* w = widget(c);
    if (!w) return;
    if (p == Prop::Text) queued_.erase(w);  // the whole text is shown anew
    if (p != Prop::TextAppended) {
        insertAllQueued();  // what was appended goes in first, and is painted with this
        if (frame_) frame_();
    }
    const bool wasUpdating = updating_;
    updating_ = true;
    switch (p) {
        case Prop::Text:
            showText(c, w);
            break;
        case Prop::TextAppended:
            if (qobject_cast<QPlainTextEdit*>(w)) {
                queueAppend(w, piece);
            } else {
                showText(c, w);
            }
            break;
        case Prop::TextTrimmed:
            if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
                QTextCursor front(plain->document());
                front.setPosition(0);
                front.setPosition(static_cast<int>(shownLength(piece)), QTextCursor::KeepAnchor);
                front.removeSelectedText();
            } else {
                showText(c, w);
            }
            break;
        case Prop::Geometry:
            w->setGeometry(rectOf(c));
            break;
        case Prop::Enabled:
            w->setEnabled(c.enabled());
            break;
        case Prop::Visible:
            w->setVisible(c.visible());
            break;
        case Prop::Checked:
            if (auto* check = qobject_cast<QCheckBox*>(w)) check->setChecked(static_cast<CheckBox&>(c).checked());
            break;
        case Prop::Selected:
            if (auto* combo = qobject_cast<QComboBox*>(w)) {
                const QSignalBlocker block(combo);
                combo->setCurrentIndex(static_cast<ComboBox&>(c).selectedIndex());
            }
            break;
        case Prop::Zoom:
            if (auto* grid = qobject_cast<RecordGridView*>(w)) grid->applyZoom(static_cast<Grid&>(c).zoom());
            break;
        case Prop::Stale:
            showStale(c, w);
            break;
        case Prop::ToolTip:
            // What the operator reads on hovering, assistive tools read as its description.
            w->setToolTip(q(c.toolTip()));
            w->setAccessibleDescription(q(c.toolTip()));
            break;
    }
    updating_ = wasUpdating;
}

}  // namespace keldrin
