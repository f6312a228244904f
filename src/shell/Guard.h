#pragma once
// The application's default error handler: a handler's body runs through Guarded(), which
// shows any error in a message box; the rest of the handler is skipped and the program goes on.

#include <functional>

class QWidget;

void Guarded(QWidget* parent, const std::function<void()>& body);
