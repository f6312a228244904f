#pragma once
// A titled group of mutually exclusive radio buttons with an item index (-1: none chosen).
// Only the operator's choices emit clicked(): a click, a key, or a toggle through an
// accessibility tool; the program's own setItemIndex() does not.

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString& name, const QString& title, const QStringList& items,
               QWidget* parent = nullptr);

    int itemIndex() const;
    void setItemIndex(int index); // -1 clears the choice
    int count() const { return static_cast<int>(buttons_.size()); }
    QString itemText(int index) const;
    // The index of the item whose text equals `text` ignoring letter case, or -1.
    int indexOfText(const QString& text) const;
    QRadioButton* button(int index) const;

Q_SIGNALS:
    void clicked();

private:
    QButtonGroup* group_;
    QList<QRadioButton*> buttons_;
    bool settingIndex_ = false;
};
