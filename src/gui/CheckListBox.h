#pragma once
// A check-list box backed by a list model: items with check marks, a pop-up menu with
// "Select All" and "Deselect All". Only the operator's clicks on a mark emit clickCheck();
// marks set by the program do not.

#include <QAbstractListModel>
#include <QListView>
#include <QVector>

class QAction;
class QMenu;

class CheckListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int count() const { return static_cast<int>(texts_.size()); }
    const QString& item(int i) const;
    const QVector<QString>& items() const { return texts_; }
    bool isChecked(int i) const;
    void setChecked(int i, bool on);
    void setAllChecked(bool on);
    void addItem(const QString& text, bool checked = false);
    void setItems(const QVector<QString>& texts, bool checked = false);
    void deleteItem(int i);
    void clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    void userToggled(int i);

private:
    void check(int i) const;
    QVector<QString> texts_;
    QVector<char> checked_;
};

class CheckListBox : public QListView {
    Q_OBJECT
public:
    explicit CheckListBox(QWidget* parent = nullptr);

    CheckListModel* listModel() const { return model_; }
    int count() const { return model_->count(); }
    QString item(int i) const { return model_->item(i); }
    const QVector<QString>& items() const { return model_->items(); }
    bool isChecked(int i) const { return model_->isChecked(i); }
    void setChecked(int i, bool on) { model_->setChecked(i, on); }
    void setAllChecked(bool on) { model_->setAllChecked(on); }
    void addItem(const QString& text, bool checked = false) { model_->addItem(text, checked); }
    void setItems(const QVector<QString>& texts, bool checked = false) { model_->setItems(texts, checked); }
    void deleteItem(int i) { model_->deleteItem(i); }
    void clear() { model_->clear(); }
    QStringList checkedItems() const;

    QMenu* popupMenu() const { return menu_; }
    QAction* selectAllAction() const { return selectAll_; }
    QAction* deselectAllAction() const { return deselectAll_; }

Q_SIGNALS:
    void clickCheck(int index);

protected:
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    CheckListModel* model_;
    QMenu* menu_;
    QAction* selectAll_;
    QAction* deselectAll_;
};
