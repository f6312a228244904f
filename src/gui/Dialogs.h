#pragma once
// Every message box and file dialog of the program goes through this interface, so that
// tests can answer them.

#include <QString>

class QWidget;

enum class MsgKind { Error, Warning, Information, Confirmation };
enum class MsgAnswer { Ok, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // yesNo: the buttons Yes and No, otherwise OK alone.
    virtual MsgAnswer message(QWidget* parent, MsgKind kind, const QString& text, bool yesNo) = 0;
    // Empty text: cancelled.
    virtual QString openFileName(QWidget* parent, const QString& dir, const QString& filter) = 0;
    // `suffix` is added to a name typed without one before the dialog asks about replacing it.
    virtual QString saveFileName(QWidget* parent, const QString& dir, const QString& filter,
                                 const QString& suffix) = 0;

    static Dialogs& instance();
    // Replaces the dialogs used (tests); nullptr restores the real ones. Not owned.
    static void setInstance(Dialogs* dialogs);
};

// Shortcuts used by the handlers.
void ShowMessage(QWidget* parent, MsgKind kind, const QString& text);
bool AskYesNo(QWidget* parent, const QString& text);
