#include "RadioGroup.h"

#include "core/AppError.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QScopeGuard>
#include <QVBoxLayout>

RadioGroup::RadioGroup(const QString& name, const QString& title, const QStringList& items, QWidget* parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)) {
    setObjectName(name);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 2, 4, 2);
    layout->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        b->setObjectName(QStringLiteral("%1_%2").arg(objectName()).arg(i));
        group_->addButton(b, i);
        buttons_.append(b);
        layout->addWidget(b);
    }
    connect(group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked && !settingIndex_)
            Q_EMIT clicked();
    });
    if (!buttons_.isEmpty())
        buttons_[0]->setChecked(true);
}

int RadioGroup::itemIndex() const {
    return group_->checkedId();
}

void RadioGroup::setItemIndex(int index) {
    if (index < -1 || index >= count())
        throw AppError(QStringLiteral("List index out of bounds (%1)").arg(index));
    settingIndex_ = true;
    const auto done = qScopeGuard([this] { settingIndex_ = false; });
    if (index == -1) {
        group_->setExclusive(false);
        for (auto* b : buttons_)
            b->setChecked(false);
        group_->setExclusive(true);
        return;
    }
    buttons_[index]->setChecked(true);
}

QString RadioGroup::itemText(int index) const {
    if (index < 0 || index >= count())
        throw AppError(QStringLiteral("List index out of bounds (%1)").arg(index));
    return buttons_[index]->text();
}

int RadioGroup::indexOfText(const QString& text) const {
    for (int i = 0; i < count(); ++i)
        if (buttons_[i]->text().compare(text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QRadioButton* RadioGroup::button(int index) const {
    if (index < 0 || index >= count())
        throw AppError(QStringLiteral("List index out of bounds (%1)").arg(index));
    return buttons_[index];
}
