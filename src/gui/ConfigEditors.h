#pragma once
// Input guards of the settings page: a validator that silently drops characters a data file
// cannot hold, and the in-place cell editor of the channel base grid that uses it.

#include <QStyledItemDelegate>
#include <QValidator>

// Drops every character of `forbidden` from what is typed or pasted; everything else passes.
class DropCharsValidator : public QValidator {
    Q_OBJECT
public:
    DropCharsValidator(QString forbidden, QObject* parent = nullptr);
    State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

private:
    QString forbidden_;
};

// Line edits as cell editors that refuse the field separator and line breaks and hand every
// change to the grid at once, so the grid always holds what the operator sees.
class FieldCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
};

// The characters a field of a caret-separated line cannot hold, and those no line can hold.
QString fieldForbiddenChars();
QString lineForbiddenChars();
