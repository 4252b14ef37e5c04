#pragma once
// The grid 数据表格: a QTableView over a model that reads the record store directly
// (no item per cell), sized so that its columns lie under the heading boxes 表0..表8.
#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>

#include "records/record_store.h"

namespace keldrin {

class Grid;

class RecordTableModel : public QAbstractTableModel, public StoreObserver {
    Q_OBJECT
public:
    explicit RecordTableModel(RecordStore& store, QObject* parent = nullptr);
    ~RecordTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void rowsAppended(int first, int last) override;
    void cellChanged(int row, int column) override;
    void tableReset() override;

private:
    RecordStore& store_;
    // The counts the views were last told about; the store changes before it notifies.
    int rows_ = 0;
    int columns_ = 0;
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

private:
    void placeColumns();
    void followNewestRow();

    Grid& grid_;
    RecordTableModel model_;
    PaddedDelegate delegate_;
    std::vector<QRect> headings_;
    TableStyle shownStyle_;
    bool scrollQueued_ = false;
};

}  // namespace keldrin
