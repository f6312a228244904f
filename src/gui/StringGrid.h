#pragma once
// A string grid in the manner of the program's original design: cells addressed as
// (column, row), row 0 and column 0 fixed (shown as the headers). Backed by a table model, so
// tens of thousands of rows cost one string per cell and nothing per widget.

#include <QAbstractTableModel>
#include <QTableView>
#include <QVector>

class QLabel;

class StringGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit StringGridModel(int cols, int rows, QObject* parent = nullptr);

    int colCount() const { return cols_; }
    int gridRowCount() const { return rows_; }
    void setColCount(int cols);
    void setGridRowCount(int rows);
    // Out of range raises AppError "Grid index out of range".
    const QString& cell(int col, int row) const;
    void setCell(int col, int row, const QString& text);
    void clearRow(int row);
    void clearRows(int from, int to); // rows from..to-1, all columns
    // Bulk changes: signals are held back and one reset is announced at the end.
    void beginUpdate();
    void endUpdate();
    void setEditable(bool on) { editable_ = on; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    void cellEdited(int col, int row);

private:
    void check(int col, int row) const;
    int cols_;
    // All cells in one array, row after row: a change of the row count is one allocation.
    QVector<QString> cells_;
    int rows_;
    int updating_ = 0;
    bool editable_ = false;
};

class StringGrid : public QTableView {
    Q_OBJECT
public:
    StringGrid(int cols, int rows, QWidget* parent = nullptr);

    StringGridModel* gridModel() const { return model_; }
    QString cell(int col, int row) const { return model_->cell(col, row); }
    void setCell(int col, int row, const QString& text) { model_->setCell(col, row, text); }
    int rowCount() const { return model_->gridRowCount(); }
    int colCount() const { return model_->colCount(); }
    void setRowCount(int rows) { model_->setGridRowCount(rows); }
    void setColCount(int cols);
    void setColWidth(int col, int width);
    int colWidth(int col) const;
    void setDefaultRowHeight(int h);
    void beginUpdate() { model_->beginUpdate(); }
    void endUpdate();
    // The current cell; (1, 1) when none is current, as a grid always has one.
    int row() const;
    int col() const;
    void setRow(int row);
    void setCurrentCell(int col, int row);

Q_SIGNALS:
    // The operator selected a cell: a mouse click, or a key that moved the current cell.
    void userSelect();
    void userDoubleClick();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool viewportEvent(QEvent* e) override;

private:
    void placeCorner();
    StringGridModel* model_;
    QLabel* corner_;
    QVector<int> widths_;
};
