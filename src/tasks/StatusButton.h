#pragma once
// The status button of the task table: its caption for each task status, and what a click on it
// does to the selected task.

#include "tasks/Task.h"

#include <QString>
#include <optional>

namespace StatusButton {

inline const QString CaptionDisable = QStringLiteral("Забрани");
inline const QString CaptionEnable = QStringLiteral("Разреши");
inline const QString CaptionStop = QStringLiteral("Спри");
inline const QString CaptionWait = QStringLiteral("Почакай!");

// The button's caption for the stored `status`; an unknown status keeps `current`.
QString captionFor(const QString& status, const QString& current);

struct Action {
    std::optional<TaskStatus> newStatus; // none: the file stays as it is
    bool requestStop = false;            // the running task is asked to stop
};

// What a click does, by the caption the button shows. `isRunning`: the selected task is the
// one the active run is testing. A task left "Стартирана" or "В процес на спиране" by an
// earlier run is not running: its stop or wait returns it to "Чакаща", so that it can be run
// again, and the active run (if any) is not asked to stop.
Action clickAction(const QString& caption, bool isRunning);

} // namespace StatusButton
