#include "platform/qt/record_grid.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "shell/controls.h"

namespace keldrin {

RecordTableModel::RecordTableModel(RecordStore& store, QObject* parent)
    : QAbstractTableModel(parent),
      store_(store),
      rows_(store.rowCount()),
      columns_(store.columnCount()),
      appended_(rows_) {
    batch_.setSingleShot(true);
    batch_.setInterval(kBatchMs);
    batch_.setTimerType(Qt::PreciseTimer);
    connect(&batch_, &QTimer::timeout, this, [this] { showAppendedRows(); });
    store_.addObserver(this);
}

RecordTableModel::~RecordTableModel() { store_.removeObserver(this); }

int RecordTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int RecordTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const std::string_view text = store_.cell(above_ + index.row() + 1, index.column() + 1);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    return orientation == Qt::Vertical ? above_ + section + 1 : section + 1;
}

void RecordTableModel::rowsAppended(int first, int last) {
    const int now = store_.rowCount();
    if (first != appended_ + 1 || last < first || now != last || columns_ != store_.columnCount()) {
        tableReset();  // not a plain append of what we know: start over
        return;
    }
    appended_ = last;
    if (!batch_.isActive()) batch_.start();
}

void RecordTableModel::showDueRows() {
    // The batch timer runs from the batch's first row: what it has left tells its age.
    if (batch_.isActive() && batch_.remainingTime() <= kBatchMs - kTickBatchMs) showAppendedRows();
}

void RecordTableModel::showAppendedRows() {
    batch_.stop();
    const int rows = appended_ - above_;
    if (rows <= rows_) return;
    if (newestOnly_ && rows > 2 * kNewestRows) {
        showFrom(appended_);  // once every kNewestRows rows
        return;
    }
    beginInsertRows({}, rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
}

void RecordTableModel::cellChanged(int row, int column) {
    const int r = row - above_;
    if (r < 1 || r > rows_ || column < 1 || column > columns_) return;
    const QModelIndex i = index(r - 1, column - 1);
    emit dataChanged(i, i, {Qt::DisplayRole});
}

void RecordTableModel::tableReset() { showFrom(store_.rowCount()); }

void RecordTableModel::setNewestOnly(bool newestOnly) {
    if (newestOnly == newestOnly_) return;
    newestOnly_ = newestOnly;
    showFrom(appended_);
}

void RecordTableModel::showFrom(int storeRows) {
    batch_.stop();
    beginResetModel();
    appended_ = storeRows;
    above_ = newestOnly_ ? std::max(0, (storeRows - kNewestRows) & ~1) : 0;
    rows_ = storeRows - above_;
    columns_ = store_.columnCount();
    endResetModel();
}

NewestRowScrollBar::Look NewestRowScrollBar::look() const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    return {opt.rect,
            style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this),
            static_cast<int>(opt.state),
            static_cast<int>(opt.activeSubControls),
            opt.sliderPosition <= opt.minimum,
            opt.sliderPosition >= opt.maximum};
}

void NewestRowScrollBar::sliderChange(SliderChange change) {
    if (held_) {
        changed_ = true;
    } else if (look() != shown_) {
        QScrollBar::sliderChange(change);
    }
}

void NewestRowScrollBar::release() {
    held_ = false;
    if (std::exchange(changed_, false) && look() != shown_) update();
}

void NewestRowScrollBar::paintEvent(QPaintEvent* event) {
    shown_ = look();
    QScrollBar::paintEvent(event);
}

void PaddedDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear();
    const QWidget* w = opt.widget;
    QStyle* style = w ? w->style() : QApplication::style();
    // Background (selection, alternating shade) over the whole cell, text inset.
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, w);
    const QRect r = opt.rect.adjusted(padding_, 0, -padding_, 0);
    if (r.width() <= 0 || text.isEmpty()) return;
    const QPalette::ColorGroup group = (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    const QPalette::ColorRole role = (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text;
    painter->save();
    painter->setPen(opt.palette.color(group, role));
    painter->setFont(opt.font);
    // Measuring is the dear part of a cell: a text short enough to fit at the font's
    // widest character needs none, and only a text that does not fit is elided.
    const QFontMetrics& fm = opt.fontMetrics;
    const bool fits = text.size() * fm.maxWidth() <= r.width() || fm.horizontalAdvance(text) <= r.width();
    painter->drawText(r, Qt::AlignLeft | Qt::AlignVCenter, fits ? text : fm.elidedText(text, Qt::ElideRight, r.width()));
    painter->restore();
}

RecordGridView::RecordGridView(Grid& grid, RecordStore& store, std::vector<QRect> headings, QWidget* parent)
    : QTableView(parent),
      grid_(grid),
      model_(store),
      delegate_(this),
      bar_(new NewestRowScrollBar(Qt::Vertical, this)),
      headings_(std::move(headings)) {
    auto* numbers = new RowNumberHeader(this);  // owned by the view
    numbers->setSectionsClickable(true);        // as the view's own header was
    setVerticalHeader(numbers);
    setModel(&model_);
    setItemDelegate(&delegate_);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setVerticalScrollBar(bar_);
    // Fixed sizes everywhere: nothing is measured per row, which keeps a million rows cheap.
    QHeaderView* rowsHeader = verticalHeader();
    QHeaderView* columnsHeader = horizontalHeader();
    rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
    columnsHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowsHeader->setMinimumSectionSize(1);
    columnsHeader->setHighlightSections(false);
    rowsHeader->setHighlightSections(false);
    // The headers keep their own font: the zoom scales the cells only.
    rowsHeader->setFont(font());
    columnsHeader->setFont(font());
    rowsHeader->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);

    connect(&model_, &QAbstractItemModel::modelReset, this, [this] {
        firstNewRow_ = -1;
        placeColumns();
        // Straight to the newest row: the rows left out above must not show for a pass.
        if (model_.rowCount() > 0) scrollToBottom();
    });
    connect(&model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int) {
        if (firstNewRow_ < 0) firstNewRow_ = first;
        followNewestRow();
    });
    placeColumns();
    applyZoom(grid.zoom());
    model_.setNewestOnly(!isEnabled());
}

int RecordGridView::pixelsForZoom(int level) { return std::max(6, kBasePixels + level); }

void RecordGridView::applyZoom(int level) {
    firstNewRow_ = -1;  // every row changes size: the next layout paints them all
    QFont f = font();
    const int px = pixelsForZoom(level);
    f.setPixelSize(px);
    setFont(f);
    verticalHeader()->setDefaultSectionSize(px + 6);
    followNewestRow();
}

void RecordGridView::placeColumns() {
    // Row-number header as wide as the gap before 表0, header row as high as the boxes,
    // then one column under each heading box: column 1 under 表0, column i+1 under 表i.
    const int frame = frameWidth();
    if (!headings_.empty()) {
        const QRect first = headings_.front();
        const int gridLeft = grid_.left();
        verticalHeader()->setFixedWidth(std::max(0, first.left() - gridLeft - frame));
        horizontalHeader()->setFixedHeight(std::max(1, first.bottom() + 1 - grid_.top() - frame));
    }
    QHeaderView* columns = horizontalHeader();
    for (int c = 0; c < model_.columnCount(); ++c) {
        const int width = c < static_cast<int>(headings_.size()) ? headings_[static_cast<std::size_t>(c)].width()
                                                                 : columns->defaultSectionSize();
        columns->resizeSection(c, width);
    }
    refreshStyle();
}

void RecordGridView::refreshStyle() {
    const DataSource* source = grid_.source();
    if (!source || !source->style().applied) return;
    const TableStyle& s = source->style();
    if (shownStyle_.applied && shownStyle_.gridLineColour == s.gridLineColour &&
        shownStyle_.cellPadding == s.cellPadding && shownStyle_.alternatingRows == s.alternatingRows) {
        return;
    }
    shownStyle_ = s;
    const QString colour = QColor::fromRgb(static_cast<QRgb>(s.gridLineColour)).name();
    setStyleSheet(QStringLiteral("QTableView { gridline-color: %1; }"
                                 "QHeaderView::section { background-color: %1; border: 0px; }")
                      .arg(colour));
    delegate_.setPadding(std::max(0, s.cellPadding));
    setAlternatingRowColors(s.alternatingRows);
    viewport()->update();
}

void RecordGridView::doItemsLayout() {
    // Rows are only ever appended (anything else resets the model): the rows already
    // shown keep their pixels, and the scroll to the newest row moves them on screen.
    // Only what lies from the first new row down is painted afresh, by followNewestRow.
    if (firstNewRow_ < 0) {
        QTableView::doItemsLayout();
        return;
    }
    const int offset = verticalHeader()->offset();
    bar_->hold();  // until the scroll to the newest row
    updateGeometries();
    // A scroll bar that was at its end no longer is, and the rows' offset moves with it:
    // their pixels move too.
    if (const int dy = offset - verticalHeader()->offset()) viewport()->scroll(0, dy);
}

void RecordGridView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) model_.setNewestOnly(!isEnabled());
}

void RecordGridView::followNewestRow() {
    // The operator cannot scroll a disabled grid, so the newest row stays in view. One
    // scroll per burst of appends, after the layout has caught up.
    if (scrollQueued_) return;
    scrollQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        scrollQueued_ = false;
        if (model_.rowCount() > 0) scrollToBottom();
        bar_->release();
        if (firstNewRow_ >= 0) {
            // Where the new rows now lie, and any empty space beneath the old last row
            // that the scroll carried up into their place.
            const int top = std::max(0, rowViewportPosition(firstNewRow_));
            firstNewRow_ = -1;
            viewport()->update(0, top, viewport()->width(), viewport()->height() - top);
        }
    });
}

}  // namespace keldrin
