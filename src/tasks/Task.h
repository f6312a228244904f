#pragma once
// A task's time type and status, and the texts its file and the task table hold for them: the
// one place where these texts are written.

#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

// In the order of the time type radio group's items.
enum class TaskType { Immediate, AtTime, Daily };
enum class TaskStatus { Waiting, Disabled, Started, Stopping };

// "Веднага", "По време", "Всеки ден".
QString text(TaskType type);
// "Чакаща", "Забранена", "Стартирана", "В процес на спиране".
QString text(TaskStatus status);
// The value a stored text names, compared exactly (letter case included); none for another text.
std::optional<TaskType> taskTypeOf(QStringView text);
std::optional<TaskStatus> taskStatusOf(QStringView text);
// Every time type in the radio group's order.
const QList<TaskType>& taskTypes();
