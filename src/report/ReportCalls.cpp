#include "ReportCalls.h"

#include <algorithm>
#include <cmath>

namespace report {

namespace {
constexpr int kDelayLimit = 18000; // the answer time-out

// Comparisons in place, without a call into the string library for each: a month has millions
// of tests and tens of thousands of channels.
template <qsizetype N> bool startsWith(QStringView text, const char16_t (&head)[N]) {
    return text.size() >= N - 1 && std::equal(head, head + N - 1, text.utf16());
}

template <qsizetype N> bool endsWith(QStringView text, const char16_t (&tail)[N]) {
    return text.size() >= N - 1 && std::equal(tail, tail + N - 1, text.utf16() + text.size() - (N - 1));
}

template <qsizetype N> qsizetype find(QStringView text, const char16_t (&what)[N], qsizetype from) {
    for (qsizetype i = from; i + (N - 1) <= text.size(); ++i)
        if (std::equal(what, what + N - 1, text.utf16() + i))
            return i;
    return -1;
}
} // namespace

CallAnswer CallAnswerOf(const monthfile::ResultGroup& g) {
    // A connection and a busy far end as monthfile::DayMark tells them (the fuzzer holds the two
    // together).
    const QStringView a = g.answer;
    if (startsWith(a, u"CONNECT"))
        return CallAnswer::Connected;
    if (a.size() == 4 && startsWith(a, u"BUSY"))
        return g.delayValue <= monthfile::kBusyLimit ? CallAnswer::Busy : CallAnswer::Other;
    return a.size() == 9 && startsWith(a, u"NO ANSWER") ? CallAnswer::NoAnswer : CallAnswer::Other;
}

void CallCounts::add(const monthfile::ResultGroup& g) {
    ++tests;
    switch (CallAnswerOf(g)) {
    case CallAnswer::Connected:
        ++connected;
        if (g.delayIsNumber)
            addDelay(g.delayValue);
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

void CallCounts::addDelay(int hundredths) {
    ++delayCount_;
    if (hundredths < 0 || hundredths > kDelayLimit)
        others_.push_back(hundredths);
    else if (byValue_.empty())
        delays_.push_back(quint16(hundredths));
    else
        ++byValue_[size_t(hundredths)];
}

CallCounts& CallCounts::operator+=(const CallCounts& o) {
    tests += o.tests;
    connected += o.connected;
    busy += o.busy;
    noAnswer += o.noAnswer;
    delayCount_ += o.delayCount_;
    if (byValue_.empty()) {
        byValue_.assign(size_t(kDelayLimit) + 1, 0);
        for (const quint16 d : delays_)
            ++byValue_[d];
        std::vector<quint16>().swap(delays_);
    }
    for (const quint16 d : o.delays_)
        ++byValue_[d];
    for (size_t i = 0; i < o.byValue_.size(); ++i)
        byValue_[i] += o.byValue_[i];
    others_.insert(others_.end(), o.others_.begin(), o.others_.end());
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
    // In ascending order: the others below the range, the range counted by value, the others
    // above it.
    std::vector<int> others = others_;
    std::sort(others.begin(), others.end());
    const qint64 below = std::lower_bound(others.begin(), others.end(), 0) - others.begin();
    const qint64 inRange = delayCount_ - qint64(others.size());
    if (rank <= below)
        return others[size_t(rank - 1)];
    if (rank > below + inRange)
        return others[size_t(rank - 1 - inRange)];
    std::vector<quint32> counted;
    int from = 0;
    if (byValue_.empty()) {
        const auto [lo, hi] = std::minmax_element(delays_.begin(), delays_.end());
        from = *lo;
        counted.assign(size_t(*hi - *lo) + 1, 0);
        for (const quint16 d : delays_)
            ++counted[d - from];
    }
    const std::vector<quint32>& counts = byValue_.empty() ? counted : byValue_;
    qint64 seen = below;
    for (size_t i = 0;; ++i)
        if ((seen += counts[i]) >= rank)
            return from + int(i);
}

CallCounts& CallTable::of(QStringView label) {
    // The label up to its channel names the row, as SplitKey() reads it: looked up in place, so
    // that a channel costs no strings of its own.
    QStringView head = label.trimmed();
    if (endsWith(head, u" Ch."))
        head.chop(4);
    if (const qsizetype dash = find(head, u" -- ", 0); dash >= 0)
        if (const qsizetype gap = find(head, u"  ", dash + 4); gap >= 0)
            head.truncate(gap);
    const auto view = [](QStringView v) { return std::u16string_view(v.utf16(), size_t(v.size())); };
    auto it = rowOf_.find(view(head));
    if (it == rowOf_.end()) {
        const ChannelParts p = SplitKey(label.trimmed()); // not of `head`: " Ch." is chopped once
        keys_.append(head.toString());
        it = rowOf_.emplace(view(keys_.last()), rows_.size()).first;
        rows_.append({p.direction, p.exchange, {}});
    }
    return rows_[it->second].counts;
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
        // Hours and minutes matter on the first and the last day only.
        if (g.day == dayLo || g.day == dayHi) {
            const qint64 t = m.minuteOf(g);
            if (t < lo || t > hi)
                continue;
        }
        add(row, label, g);
    }
}

} // namespace report
