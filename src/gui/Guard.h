#pragma once
// The application's default error handler: a handler's body runs through Guarded(), which
// shows any error in a message box; the rest of the handler is skipped and the program goes on.

#include <QString>
#include <functional>

class QWidget;

void Guarded(QWidget* parent, const std::function<void()>& body);
// The same error handling without the box: the error's text, empty when the body succeeded.
// For handlers that must not open a modal box (start-up, timer ticks): they post the text.
QString ErrorTextOf(const std::function<void()>& body);
