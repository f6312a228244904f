#include "CheckListBox.h"

#include "core/AppError.h"

#include <QContextMenuEvent>
#include <QMenu>

void CheckListModel::check(int i) const {
    if (i < 0 || i >= count())
        throw AppError(QStringLiteral("List index out of bounds (%1)").arg(i));
}

const QString& CheckListModel::item(int i) const {
    check(i);
    return texts_[i];
}

bool CheckListModel::isChecked(int i) const {
    check(i);
    return checked_[i] != 0;
}

void CheckListModel::setChecked(int i, bool on) {
    check(i);
    if ((checked_[i] != 0) == on)
        return;
    checked_[i] = on ? 1 : 0;
    const QModelIndex ix = index(i);
    Q_EMIT dataChanged(ix, ix, {Qt::CheckStateRole});
}

void CheckListModel::setAllChecked(bool on) {
    if (texts_.isEmpty())
        return;
    checked_.fill(on ? 1 : 0);
    Q_EMIT dataChanged(index(0), index(count() - 1), {Qt::CheckStateRole});
}

void CheckListModel::addItem(const QString& text, bool checked) {
    beginInsertRows({}, count(), count());
    texts_.append(text);
    checked_.append(checked ? 1 : 0);
    endInsertRows();
}

void CheckListModel::setItems(const QVector<QString>& texts, bool checked) {
    beginResetModel();
    texts_ = texts;
    checked_ = QVector<char>(texts.size(), checked ? 1 : 0);
    endResetModel();
}

void CheckListModel::deleteItem(int i) {
    check(i);
    beginRemoveRows({}, i, i);
    texts_.removeAt(i);
    checked_.removeAt(i);
    endRemoveRows();
}

void CheckListModel::clear() {
    if (texts_.isEmpty())
        return;
    beginResetModel();
    texts_.clear();
    checked_.clear();
    endResetModel();
}

int CheckListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant CheckListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role == Qt::DisplayRole)
        return texts_[index.row()];
    if (role == Qt::CheckStateRole)
        return checked_[index.row()] ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool CheckListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= count())
        return false;
    // Only views call this: it is the operator's click on a mark.
    setChecked(index.row(), value.toInt() == Qt::Checked);
    Q_EMIT userToggled(index.row());
    return true;
}

Qt::ItemFlags CheckListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

CheckListBox::CheckListBox(QWidget* parent)
    : QListView(parent), model_(new CheckListModel(this)), menu_(new QMenu(this)) {
    setModel(model_);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    selectAll_ = menu_->addAction(QStringLiteral("Select All"));
    deselectAll_ = menu_->addAction(QStringLiteral("Deselect All"));
    connect(model_, &CheckListModel::userToggled, this, &CheckListBox::clickCheck);
}

QStringList CheckListBox::checkedItems() const {
    QStringList out;
    for (int i = 0; i < count(); ++i)
        if (model_->isChecked(i))
            out.append(model_->item(i));
    return out;
}

void CheckListBox::contextMenuEvent(QContextMenuEvent* e) {
    menu_->popup(e->globalPos());
}
