#include "ReportCalls.h"

#include <algorithm>
#include <cmath>

namespace report {

namespace {
constexpr int kDelayStep = 20;     // hundredths of a second: one tick of the test cycle
constexpr int kDelayLimit = 18000; // the answer time-out
} // namespace

CallAnswer CallAnswerOf(const monthfile::ResultGroup& g) {
    // The day marks' own rule tells a connection and a busy far end.
    const QChar mark = monthfile::DayMark(g);
    if (mark == monthfile::kMarkConnect)
        return CallAnswer::Connected;
    if (mark == monthfile::kMarkBusy)
        return CallAnswer::Busy;
    return g.answer == u"NO ANSWER" ? CallAnswer::NoAnswer : CallAnswer::Other;
}

void CallCounts::add(const monthfile::ResultGroup& g) {
    ++tests;
    switch (CallAnswerOf(g)) {
    case CallAnswer::Connected:
        ++connected;
        if (g.delayIsNumber)
            addDelay(g.delayValue, 1);
        break;
    case CallAnswer::Busy:
        ++busy;
        break;
    case CallAnswer::NoAnswer:
        ++noAnswer;
        break;
    case CallAnswer::Other:
        break;
    }
}

void CallCounts::addDelay(int hundredths, qint64 n) {
    delayCount_ += n;
    if (hundredths >= 0 && hundredths <= kDelayLimit && hundredths % kDelayStep == 0) {
        const size_t i = size_t(hundredths / kDelayStep);
        if (steps_.size() <= i)
            steps_.resize(i + 1);
        steps_[i] += n;
    } else {
        others_[hundredths] += n;
    }
}

CallCounts& CallCounts::operator+=(const CallCounts& o) {
    tests += o.tests;
    connected += o.connected;
    busy += o.busy;
    noAnswer += o.noAnswer;
    for (size_t i = 0; i < o.steps_.size(); ++i)
        if (o.steps_[i])
            addDelay(int(i) * kDelayStep, o.steps_[i]);
    for (const auto& [value, n] : o.others_)
        addDelay(value, n);
    return *this;
}

double CallCounts::asr() const {
    return tests ? double(connected) / double(tests) : std::nan("");
}

double CallCounts::ner() const {
    return tests ? double(carried()) / double(tests) : std::nan("");
}

int CallCounts::delayPercentile(int percent) const {
    if (delayCount_ == 0)
        return -1;
    // The rank ⌈percent × n / 100⌉, at least the first: whole numbers, so no rounding decides it.
    const qint64 rank = std::max<qint64>(1, (qint64(percent) * delayCount_ + 99) / 100);
    std::vector<std::pair<int, qint64>> values(others_.begin(), others_.end());
    for (size_t i = 0; i < steps_.size(); ++i)
        if (steps_[i])
            values.push_back({int(i) * kDelayStep, steps_[i]});
    std::sort(values.begin(), values.end());
    qint64 seen = 0;
    for (const auto& [value, n] : values)
        if ((seen += n) >= rank)
            return value;
    return values.back().first;
}

CallCounts& CallTable::of(QStringView label) {
    const ChannelParts p = SplitKey(label.trimmed());
    const QString key = QString::number(p.direction.size()) + u':' + p.direction + p.exchange;
    auto it = rowOf_.constFind(key);
    if (it == rowOf_.constEnd()) {
        it = rowOf_.insert(key, rows_.size());
        rows_.append({p.direction, p.exchange, {}});
    }
    return rows_[*it].counts;
}

CallCounts CallTable::total() const {
    CallCounts t;
    for (const Row& r : rows_)
        t += r.counts;
    return t;
}

void CallTable::add(CallCounts*& row, QStringView label, const monthfile::ResultGroup& g) {
    if (!row)
        row = &of(label);
    row->add(g);
}

void CallTable::add(QStringView label, const QVector<monthfile::ResultGroup>& tests, int from, int to) {
    CallCounts* row = nullptr;
    for (const monthfile::ResultGroup& g : tests)
        if (g.day >= from && g.day <= to)
            add(row, label, g);
}

void CallTable::add(QStringView label, const QVector<monthfile::ResultGroup>& tests, const Period& p,
                    const Month& m) {
    const qint64 first = m.firstMinute();
    const qint64 lo = std::max(p.from, first), hi = std::min(p.to, first + qint64(m.days) * 1440 - 1);
    if (lo > hi)
        return;
    const int dayLo = int((lo - first) / 1440) + 1, dayHi = int((hi - first) / 1440) + 1;
    CallCounts* row = nullptr;
    for (const monthfile::ResultGroup& g : tests) {
        if (g.day < dayLo || g.day > dayHi)
            continue;
        // Only on a day the period cuts do hours and minutes matter.
        if (g.day == dayLo || g.day == dayHi) {
            const qint64 t = m.minuteOf(g);
            if (t < lo || t > hi)
                continue;
        }
        add(row, label, g);
    }
}

} // namespace report
