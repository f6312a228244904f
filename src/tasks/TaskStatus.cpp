#include "TaskStatus.h"

namespace TaskStatus {

QString captionFor(const QString& status, const QString& current) {
    if (status == Waiting)
        return CaptionDisable;
    if (status == Disabled)
        return CaptionEnable;
    if (status == Started)
        return CaptionStop;
    if (status == Stopping)
        return CaptionWait;
    return current;
}

Action clickAction(const QString& caption, bool isRunning) {
    if (caption == CaptionDisable)
        return {Disabled, false};
    if (caption == CaptionEnable)
        return {Waiting, false};
    if (caption == CaptionStop)
        return isRunning ? Action{Stopping, true} : Action{Waiting, false};
    if (caption == CaptionWait)
        return isRunning ? Action{} : Action{Waiting, false};
    return {};
}

} // namespace TaskStatus
