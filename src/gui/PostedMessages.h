#pragma once
// The window's messages that may not open a box where they arise (start-up, a tick, a run's
// start or end): each is shown in a box (an error box unless told otherwise) once the current handler has returned, one box
// at a time; a text already waiting or shown is not repeated.

#include "Dialogs.h"

#include <QObject>
#include <QPair>
#include <QList>
#include <QString>

class QWidget;

class PostedMessages : public QObject {
    Q_OBJECT
public:
    explicit PostedMessages(QWidget* window);
    void post(const QString& text, MsgKind kind = MsgKind::Error);

private:
    void showNext();

    QWidget* window_;
    QList<QPair<QString, MsgKind>> queue_; // the first one is shown while showing_
    bool showing_ = false;
    bool scheduled_ = false;
};
