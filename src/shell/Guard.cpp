#include "Guard.h"

#include "AppError.h"
#include "Dialogs.h"

#include <QString>
#include <new>

void Guarded(QWidget* parent, const std::function<void()>& body) {
    try {
        body();
    } catch (const AppError& e) {
        ShowMessage(parent, MsgKind::Error, e.text());
    } catch (const std::bad_alloc&) {
        ShowMessage(parent, MsgKind::Error, QStringLiteral("Out of memory"));
    } catch (const std::exception& e) {
        ShowMessage(parent, MsgKind::Error, QString::fromLocal8Bit(e.what()));
    }
}
