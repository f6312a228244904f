#include "PostedMessages.h"

#include "Dialogs.h"

#include <QTimer>
#include <QWidget>

PostedMessages::PostedMessages(QWidget* window) : QObject(window), window_(window) {}

void PostedMessages::post(const QString& text) {
    if (text.isEmpty() || queue_.contains(text))
        return;
    queue_.append(text);
    if (!showing_ && !scheduled_) {
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] { showNext(); });
    }
}

void PostedMessages::showNext() {
    scheduled_ = false;
    if (showing_ || queue_.isEmpty())
        return;
    showing_ = true;
    ShowMessage(window_, MsgKind::Error, queue_.first());
    queue_.removeFirst();
    showing_ = false;
    if (!queue_.isEmpty()) {
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] { showNext(); });
    }
}
