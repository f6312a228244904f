#include "ConfigEditors.h"

#include <QLineEdit>

QString fieldForbiddenChars() {
    return QStringLiteral("^\r\n");
}
QString lineForbiddenChars() {
    return QStringLiteral("\r\n");
}

DropCharsValidator::DropCharsValidator(QString forbidden, QObject* parent)
    : QValidator(parent), forbidden_(std::move(forbidden)) {}

QValidator::State DropCharsValidator::validate(QString& input, int& pos) const {
    // Characters before the cursor that go move the cursor back with them.
    int removedBefore = 0;
    QString kept;
    kept.reserve(input.size());
    for (qsizetype i = 0; i < input.size(); ++i) {
        if (forbidden_.contains(input[i])) {
            if (i < pos)
                ++removedBefore;
            continue;
        }
        kept += input[i];
    }
    if (kept.size() != input.size()) {
        input = kept;
        pos = std::max(0, pos - removedBefore);
    }
    return Acceptable;
}

void DropCharsValidator::fixup(QString& input) const {
    int pos = 0;
    validate(input, pos);
}

QWidget* FieldCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                         const QModelIndex&) const {
    auto* e = new QLineEdit(parent);
    e->setFrame(false);
    e->setValidator(new DropCharsValidator(fieldForbiddenChars(), e));
    connect(e, &QLineEdit::textEdited, this, [this, e] {
        // The view stores the text on every change, not only when the cell is left.
        Q_EMIT const_cast<FieldCellDelegate*>(this)->commitData(e);
    });
    return e;
}

void FieldCellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* e = static_cast<QLineEdit*>(editor);
    const QString text = index.data(Qt::EditRole).toString();
    // The grid echoes every committed keystroke back; resetting equal text would move the cursor.
    if (e->text() != text)
        e->setText(text);
}

void FieldCellDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                     const QModelIndex& index) const {
    auto* e = static_cast<QLineEdit*>(editor);
    if (model->data(index, Qt::EditRole).toString() != e->text())
        model->setData(index, e->text(), Qt::EditRole);
}
