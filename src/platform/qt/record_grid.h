#pragma once
// The grid 数据表格: a QTableView over a model that reads the record store directly
// (no item per cell), sized so that its columns lie under the heading boxes 表0..表8.
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>

#include "store/record_store.h"

namespace keldrin {

class Grid;

// Appended rows reach the views in batches, at most about five times a second: one
// insertion notice and one scroll for every row recorded since, whatever the
// recording interval.
//
// A grid the operator cannot scroll shows only the newest rows: the model then holds
// the store's last kNewestRows to 2 * kNewestRows rows (row numbers and cells are the
// store's own), so that the view's per-row bookkeeping, which Qt redoes for every
// insertion, stays the same size with a week of rows.
class RecordTableModel : public QAbstractTableModel, public StoreObserver {
    Q_OBJECT
public:
    static constexpr int kBatchMs = 180;  // a recorded row is shown within 0.2 s
    // A batch this old is shown with the next display tick, painted in the tick's pass.
    static constexpr int kTickBatchMs = 120;
    // Even, so that the rows left out above are even too and the alternating shade of
    // every row stays the same.
    static constexpr int kNewestRows = 10000;

    explicit RecordTableModel(RecordStore& store, QObject* parent = nullptr);
    ~RecordTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void rowsAppended(int first, int last) override;
    void cellChanged(int row, int column) override;
    void tableReset() override;

    // Shows the batch if it has waited kTickBatchMs.
    void showDueRows();
    // Whether the model holds only the newest rows (see above).
    void setNewestOnly(bool newestOnly);

private:
    void showAppendedRows();
    void showFrom(int storeRows);

    RecordStore& store_;
    bool newestOnly_ = false;
    // The store's rows above the model's first row.
    int above_ = 0;
    // The counts the views were last told about; the store changes before it notifies.
    int rows_ = 0;
    int columns_ = 0;
    int appended_ = 0;  // the store's rows as its notices told them: above_ + rows_ plus the batch
    QTimer batch_;
};

// The row-number header: its width is the one the layout fixes, so a row insertion
// never measures the numbers' texts again.
class RowNumberHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit RowNumberHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {}
    QSize sizeHint() const override { return {minimumWidth(), length()}; }
};

// The grid's scroll bar: repainted only when what it shows changes. Following the
// newest row, its range and then its value change with every batch while its handle,
// once at its smallest, stays at the end; between hold() and release() the changes
// are only noted, and release() repaints if the two together changed the look.
class NewestRowScrollBar : public QScrollBar {
    Q_OBJECT
public:
    using QScrollBar::QScrollBar;
    void hold() { held_ = true; }
    void release();

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Look {
        QRect rect, handle;
        int state = 0, active = 0;
        bool atStart = false, atEnd = false;
        bool operator==(const Look&) const = default;
    };
    Look look() const;
    Look shown_;  // as last painted
    bool held_ = false;
    bool changed_ = false;  // while held
};

// Draws the cell text inset by the table style's padding.
class PaddedDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setPadding(int px) { padding_ = px; }
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    int padding_ = 0;
};

class RecordGridView : public QTableView {
    Q_OBJECT
public:
    // headings: the heading boxes 表0..表8, relative to the grid's parent.
    RecordGridView(Grid& grid, RecordStore& store, std::vector<QRect> headings, QWidget* parent);

    static constexpr int kBasePixels = 12;  // font pixel size at zoom level 0
    // Font pixel size for a zoom level (never below 6).
    static int pixelsForZoom(int level);
    void applyZoom(int level);
    // Takes up the table style of the grid's data source once it has been applied.
    void refreshStyle();
    void showDueRows() { model_.showDueRows(); }

protected:
    void doItemsLayout() override;
    void changeEvent(QEvent* event) override;

private:
    void placeColumns();
    void followNewestRow();

    Grid& grid_;
    RecordTableModel model_;
    PaddedDelegate delegate_;
    NewestRowScrollBar* bar_;
    std::vector<QRect> headings_;
    TableStyle shownStyle_;
    bool scrollQueued_ = false;
    int firstNewRow_ = -1;  // the first appended row not yet painted, or -1
};

}  // namespace keldrin
