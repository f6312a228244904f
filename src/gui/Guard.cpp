#include "Guard.h"

#include "core/AppError.h"
#include "Dialogs.h"

#include <QString>
#include <new>

QString ErrorTextOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const AppError& e) {
        return e.text();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    }
    return {};
}

void Guarded(QWidget* parent, const std::function<void()>& body) {
    const QString error = ErrorTextOf(body);
    if (!error.isEmpty())
        ShowMessage(parent, MsgKind::Error, error);
}
