#include "Task.h"

namespace {
const char16_t* const kTypes[] = {u"Веднага", u"По време", u"Всеки ден"};
const char16_t* const kStatuses[] = {u"Чакаща", u"Забранена", u"Стартирана", u"В процес на спиране"};

template <class E, size_t N> std::optional<E> find(const char16_t* const (&texts)[N], QStringView text) {
    for (size_t i = 0; i < N; ++i)
        if (text == QStringView(texts[i]))
            return E(i);
    return std::nullopt;
}
} // namespace

QString text(TaskType type) {
    return QString::fromUtf16(kTypes[int(type)]);
}

QString text(TaskStatus status) {
    return QString::fromUtf16(kStatuses[int(status)]);
}

std::optional<TaskType> taskTypeOf(QStringView text) {
    return find<TaskType>(kTypes, text);
}

std::optional<TaskStatus> taskStatusOf(QStringView text) {
    return find<TaskStatus>(kStatuses, text);
}

const QList<TaskType>& taskTypes() {
    static const QList<TaskType> all{TaskType::Immediate, TaskType::AtTime, TaskType::Daily};
    return all;
}
