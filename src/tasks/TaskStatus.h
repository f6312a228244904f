#pragma once
// The task statuses, the caption of the status button for each, and what a click on the button
// does to the selected task.

#include <QString>

namespace TaskStatus {

inline const QString Waiting = QStringLiteral("Чакаща");
inline const QString Disabled = QStringLiteral("Забранена");
inline const QString Started = QStringLiteral("Стартирана");
inline const QString Stopping = QStringLiteral("В процес на спиране");

inline const QString CaptionDisable = QStringLiteral("Забрани");
inline const QString CaptionEnable = QStringLiteral("Разреши");
inline const QString CaptionStop = QStringLiteral("Спри");
inline const QString CaptionWait = QStringLiteral("Почакай!");

// The button's caption for `status`; an unknown status keeps `current`.
QString captionFor(const QString& status, const QString& current);

struct Action {
    QString newStatus;        // empty: the file stays as it is
    bool requestStop = false; // the running task is asked to stop
};

// What a click does, by the caption the button shows. `isRunning`: the selected task is the
// one the active run is testing. A task left "Стартирана" or "В процес на спиране" by an
// earlier run is not running: its stop or wait returns it to "Чакаща", so that it can be run
// again, and the active run (if any) is not asked to stop.
Action clickAction(const QString& caption, bool isRunning);

} // namespace TaskStatus
