#include "StatusButton.h"

namespace StatusButton {

QString captionFor(const QString& status, const QString& current) {
    const std::optional<TaskStatus> s = taskStatusOf(status);
    if (!s)
        return current;
    switch (*s) {
    case TaskStatus::Waiting:
        return CaptionDisable;
    case TaskStatus::Disabled:
        return CaptionEnable;
    case TaskStatus::Started:
        return CaptionStop;
    case TaskStatus::Stopping:
        return CaptionWait;
    }
    return current;
}

Action clickAction(const QString& caption, bool isRunning) {
    if (caption == CaptionDisable)
        return {TaskStatus::Disabled, false};
    if (caption == CaptionEnable)
        return {TaskStatus::Waiting, false};
    if (caption == CaptionStop)
        return isRunning ? Action{TaskStatus::Stopping, true} : Action{TaskStatus::Waiting, false};
    if (caption == CaptionWait)
        return isRunning ? Action{} : Action{TaskStatus::Waiting, false};
    return {};
}

} // namespace StatusButton
