#include "StringGrid.h"

#include "core/AppError.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QStyleOptionHeader>

namespace {
// The header row: the style's frame, and the text placed so that a narrow column still shows
// it whole. The style's padding would cut "31" in a 16-pixel day column.
class GridHeader : public QHeaderView {
public:
    explicit GridHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        if (!rect.isValid())
            return;
        QStyleOptionHeader opt;
        initStyleOption(&opt);
        opt.rect = rect;
        opt.section = logicalIndex;
        opt.state |= isEnabled() ? QStyle::State_Enabled : QStyle::State_None;
        style()->drawControl(QStyle::CE_HeaderSection, &opt, painter, this);
        const QString text =
            model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
        if (text.isEmpty())
            return;
        painter->save();
        QFont f = font();
        constexpr int kPad = 3;
        const QRect inner = rect.adjusted(1, 0, -1, 0);
        int width = QFontMetrics(f).horizontalAdvance(text);
        // Too wide even without padding: a smaller font, down to 6 points.
        while (width > inner.width() && f.pointSizeF() > 6) {
            f.setPointSizeF(f.pointSizeF() - 0.5);
            width = QFontMetrics(f).horizontalAdvance(text);
        }
        painter->setFont(f);
        painter->setPen(palette().color(QPalette::ButtonText));
        painter->setClipRect(inner);
        // Wide columns keep the grid's left-aligned captions; narrow ones (the days) are centred.
        if (width + 2 * kPad <= rect.width() && rect.width() >= 24)
            painter->drawText(rect.adjusted(kPad, 0, -kPad, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
        else
            painter->drawText(inner, Qt::AlignHCenter | Qt::AlignVCenter, text);
        painter->restore();
    }
};
} // namespace

StringGridModel::StringGridModel(int cols, int rows, QObject* parent)
    : QAbstractTableModel(parent), cols_(cols), cells_(qsizetype(cols) * rows), rows_(rows) {}

void StringGridModel::check(int col, int row) const {
    if (col < 0 || col >= cols_ || row < 0 || row >= rows_)
        throw AppError(QStringLiteral("Grid index out of range"));
}

const QString& StringGridModel::cell(int col, int row) const {
    check(col, row);
    return cells_[qsizetype(row) * cols_ + col];
}

void StringGridModel::setCell(int col, int row, const QString& text) {
    check(col, row);
    QString& c = cells_[qsizetype(row) * cols_ + col];
    if (c == text)
        return;
    c = text;
    if (updating_)
        return;
    if (row == 0 && col == 0)
        return;
    if (row == 0)
        Q_EMIT headerDataChanged(Qt::Horizontal, col - 1, col - 1);
    else if (col == 0)
        Q_EMIT headerDataChanged(Qt::Vertical, row - 1, row - 1);
    else
        Q_EMIT dataChanged(index(row - 1, col - 1), index(row - 1, col - 1));
}

void StringGridModel::clearRow(int row) {
    check(0, row);
    for (int c = 0; c < cols_; ++c)
        setCell(c, row, QString());
}

void StringGridModel::clearRows(int from, int to) {
    from = qMax(from, 0);
    to = qMin(to, rows_);
    if (from >= to)
        return;
    for (qsizetype i = qsizetype(from) * cols_, end = qsizetype(to) * cols_; i < end; ++i)
        cells_[i].clear();
    if (updating_ || cols_ < 2)
        return;
    if (from == 0)
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, cols_ - 2);
    const int first = qMax(from, 1);
    if (first < to) {
        Q_EMIT headerDataChanged(Qt::Vertical, first - 1, to - 2);
        Q_EMIT dataChanged(index(first - 1, 0), index(to - 2, cols_ - 2));
    }
}

void StringGridModel::setGridRowCount(int rows) {
    if (rows < 1)
        rows = 1;
    const int old = gridRowCount();
    if (rows == old)
        return;
    if (updating_) {
        cells_.resize(qsizetype(rows) * cols_);
        rows_ = rows;
        return;
    }
    if (rows > old) {
        beginInsertRows({}, old - 1, rows - 2);
        cells_.resize(qsizetype(rows) * cols_);
        rows_ = rows;
        endInsertRows();
    } else {
        beginRemoveRows({}, rows - 1, old - 2);
        cells_.resize(qsizetype(rows) * cols_);
        rows_ = rows;
        endRemoveRows();
    }
}

void StringGridModel::setColCount(int cols) {
    if (cols < 1)
        cols = 1;
    if (cols == cols_)
        return;
    const bool announce = !updating_;
    if (announce)
        beginResetModel();
    QVector<QString> cells(qsizetype(cols) * rows_);
    const int keep = qMin(cols, cols_);
    for (int r = 0; r < rows_; ++r)
        for (int c = 0; c < keep; ++c)
            cells[qsizetype(r) * cols + c] = std::move(cells_[qsizetype(r) * cols_ + c]);
    cells_ = std::move(cells);
    cols_ = cols;
    if (announce)
        endResetModel();
}

void StringGridModel::beginUpdate() {
    if (updating_++ == 0)
        beginResetModel();
}

void StringGridModel::endUpdate() {
    if (updating_ > 0 && --updating_ == 0)
        endResetModel();
}

int StringGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : gridRowCount() - 1;
}

int StringGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cols_ - 1;
}

QVariant StringGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() + 1 >= gridRowCount() || index.column() + 1 >= cols_)
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return cells_[qsizetype(index.row() + 1) * cols_ + index.column() + 1];
    return {};
}

bool StringGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.row() + 1 >= gridRowCount() ||
        index.column() + 1 >= cols_)
        return false;
    setCell(index.column() + 1, index.row() + 1, value.toString());
    Q_EMIT cellEdited(index.column() + 1, index.row() + 1);
    return true;
}

QVariant StringGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section + 1 < cols_ ? QVariant(cells_[section + 1]) : QVariant();
    return section + 1 < gridRowCount() ? QVariant(cells_[qsizetype(section + 1) * cols_]) : QVariant();
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (editable_ && index.isValid())
        f |= Qt::ItemIsEditable;
    return f;
}

StringGrid::StringGrid(int cols, int rows, QWidget* parent)
    : QTableView(parent), model_(new StringGridModel(cols, rows, this)), corner_(new QLabel(this)) {
    setHorizontalHeader(new GridHeader(this));
    setModel(model_);
    widths_.resize(cols, 64);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setMinimumSectionSize(4);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setHighlightSections(false);
    setCornerButtonEnabled(false);
    setWordWrap(false);
    setDefaultRowHeight(18);
    corner_->setIndent(2);
    setColWidth(0, 64);
    connect(model_, &QAbstractItemModel::headerDataChanged, this, [this](Qt::Orientation o, int, int) {
        if (o == Qt::Horizontal)
            corner_->setText(model_->cell(0, 0));
    });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        corner_->setText(model_->cell(0, 0));
        for (int c = 1; c < widths_.size() && c < model_->colCount(); ++c)
            horizontalHeader()->resizeSection(c - 1, widths_[c]);
    });
}

void StringGrid::setColCount(int cols) {
    model_->setColCount(cols);
    const int old = static_cast<int>(widths_.size());
    widths_.resize(cols, old > 0 ? widths_.last() : 64);
    for (int c = 1; c < cols; ++c)
        horizontalHeader()->resizeSection(c - 1, widths_[c]);
}

void StringGrid::setColWidth(int col, int width) {
    if (col < 0 || col >= colCount())
        throw AppError(QStringLiteral("Grid index out of range"));
    widths_[col] = width;
    if (col == 0) {
        verticalHeader()->setFixedWidth(width);
        placeCorner();
    } else {
        horizontalHeader()->resizeSection(col - 1, width);
    }
}

int StringGrid::colWidth(int col) const {
    if (col < 0 || col >= colCount())
        throw AppError(QStringLiteral("Grid index out of range"));
    return col == 0 ? verticalHeader()->width() : horizontalHeader()->sectionSize(col - 1);
}

void StringGrid::setDefaultRowHeight(int h) {
    verticalHeader()->setMinimumSectionSize(h);
    verticalHeader()->setDefaultSectionSize(h);
    horizontalHeader()->setFixedHeight(h + 2);
    placeCorner();
}

void StringGrid::endUpdate() {
    const int r = row(), c = col();
    model_->endUpdate();
    if (r < rowCount() && c < colCount())
        setCurrentCell(c, r);
}

int StringGrid::row() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() + 1 : 1;
}

int StringGrid::col() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.column() + 1 : 1;
}

void StringGrid::setRow(int row) {
    setCurrentCell(col(), row);
}

void StringGrid::setCurrentCell(int col, int row) {
    if (row < 1 || row >= rowCount() || col < 1 || col >= colCount())
        throw AppError(QStringLiteral("Grid index out of range"));
    const QModelIndex i = model_->index(row - 1, col - 1);
    setCurrentIndex(i);
}

void StringGrid::mousePressEvent(QMouseEvent* e) {
    QTableView::mousePressEvent(e);
    if (indexAt(e->position().toPoint()).isValid())
        Q_EMIT userSelect();
}

void StringGrid::mouseDoubleClickEvent(QMouseEvent* e) {
    QTableView::mouseDoubleClickEvent(e);
    if (indexAt(e->position().toPoint()).isValid())
        Q_EMIT userDoubleClick();
}

void StringGrid::keyPressEvent(QKeyEvent* e) {
    const QModelIndex before = currentIndex();
    QTableView::keyPressEvent(e);
    if (currentIndex() != before)
        Q_EMIT userSelect();
}

void StringGrid::resizeEvent(QResizeEvent* e) {
    QTableView::resizeEvent(e);
    placeCorner();
}

bool StringGrid::viewportEvent(QEvent* e) {
    return QTableView::viewportEvent(e);
}

void StringGrid::placeCorner() {
    corner_->setGeometry(frameWidth(), frameWidth(), verticalHeader()->width(), horizontalHeader()->height());
    corner_->raise();
}
