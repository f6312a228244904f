#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {
class QtDialogs : public Dialogs {
public:
    MsgAnswer message(QWidget* parent, MsgKind kind, const QString& text, bool yesNo) override {
        QMessageBox box(parent);
        box.setWindowTitle(QApplication::applicationDisplayName());
        box.setText(text);
        switch (kind) {
        case MsgKind::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MsgKind::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MsgKind::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MsgKind::Confirmation:
            box.setIcon(QMessageBox::Question);
            break;
        }
        if (yesNo) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::No);
            return box.exec() == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
        }
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return MsgAnswer::Ok;
    }
    QString openFileName(QWidget* parent, const QString& dir, const QString& filter) override {
        return QFileDialog::getOpenFileName(parent, QString(), dir, filter);
    }
    QString saveFileName(QWidget* parent, const QString& dir, const QString& filter,
                         const QString& suffix) override {
        QFileDialog dialog(parent, QString(), dir, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(suffix);
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    }
};

Dialogs* g_override = nullptr;
} // namespace

Dialogs& Dialogs::instance() {
    static QtDialogs real;
    return g_override ? *g_override : real;
}

void Dialogs::setInstance(Dialogs* dialogs) {
    g_override = dialogs;
}

void ShowMessage(QWidget* parent, MsgKind kind, const QString& text) {
    Dialogs::instance().message(parent, kind, text, false);
}

bool AskYesNo(QWidget* parent, const QString& text) {
    return Dialogs::instance().message(parent, MsgKind::Confirmation, text, true) == MsgAnswer::Yes;
}
