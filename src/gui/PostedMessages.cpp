#include "PostedMessages.h"

#include <QTimer>
#include <algorithm>
#include <QWidget>

PostedMessages::PostedMessages(QWidget* window) : QObject(window), window_(window) {}

void PostedMessages::post(const QString& text, MsgKind kind) {
    if (text.isEmpty() || std::any_of(queue_.begin(), queue_.end(), [&](const auto& m) { return m.first == text; }))
        return;
    queue_.append({text, kind});
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
    ShowMessage(window_, queue_.first().second, queue_.first().first);
    queue_.removeFirst();
    showing_ = false;
    if (!queue_.isEmpty()) {
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] { showNext(); });
    }
}
