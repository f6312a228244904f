#include "ResultGroups.h"

#include "MonthResults.h"

#include <QDate>
#include <limits>

namespace monthfile {

bool ParseInt(QStringView text, int& value) {
    // Most fields are a few plain digits: read them without trimming first.
    if (const qsizetype n = text.size(); n > 0 && n <= 9) {
        int v = 0;
        qsizetype i = 0;
        for (; i < n && text[i].unicode() >= u'0' && text[i].unicode() <= u'9'; ++i)
            v = v * 10 + (text[i].unicode() - u'0');
        if (i == n) {
            value = v;
            return true;
        }
    }
    text = text.trimmed();
    if (text.isEmpty())
        return false;
    bool negative = false;
    qsizetype i = 0;
    if (text[0] == u'-' || text[0] == u'+') {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return false;
    qint64 v = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
        if (v > qint64(std::numeric_limits<int>::max()) + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min())
        return false;
    value = static_cast<int>(v);
    return true;
}

QVector<ResultGroup> ResultGroups(QStringView line) {
    // Field k lies between caret k and caret k+1, the last one after the last caret, exactly as
    // ExtractField reads them; the groups are the first carets / 3 triples after field 0.
    const char16_t* const p = line.utf16();
    const qsizetype n = line.size();
    qsizetype carets = 0;
    for (qsizetype i = 0; i < n; ++i)
        carets += p[i] == u'^';
    const qsizetype groups = carets / 3;
    QVector<ResultGroup> out;
    out.reserve(groups);
    qsizetype start = line.indexOf(u'^') + 1; // field 1
    const auto next = [&](QStringView& field) {
        qsizetype end = start;
        while (end < n && p[end] != u'^')
            ++end;
        field = line.mid(start, end - start);
        start = end + 1;
    };
    for (qsizetype j = 0; j < groups; ++j) {
        ResultGroup g;
        next(g.answer);
        next(g.delay);
        next(g.timestamp);
        if (g.timestamp.size() < 10 || !ParseInt(g.timestamp.mid(4, 2), g.day) || g.day < 1 || g.day > 31)
            continue;
        g.delayIsNumber = ParseInt(g.delay, g.delayValue);
        if (!g.delayIsNumber) {
            g.delayValue = 0;
            if (g.answer == u"BUSY")
                continue;
        }
        out.append(g);
    }
    return out;
}

QChar MarkChar(Mark m) {
    return m == Mark::Connect   ? kMarkConnect
           : m == Mark::Busy    ? kMarkBusy
           : m == Mark::Failure ? kMarkFailure
                                : QChar();
}

Mark MarkOf(QChar mark) {
    return mark == kMarkConnect   ? Mark::Connect
           : mark == kMarkBusy    ? Mark::Busy
           : mark == kMarkFailure ? Mark::Failure
                                  : Mark::None;
}

QVector<QChar> DayMarks(const QVector<ResultGroup>& groups, int lastDay) {
    QVector<Mark> marks(std::max(lastDay, 0) + 1, Mark::None);
    for (const ResultGroup& g : groups)
        if (g.day <= lastDay)
            MarkDay(marks[g.day], AnswerMark(g.answer, g.delayValue));
    QVector<QChar> out(marks.size());
    for (qsizetype d = 1; d < marks.size(); ++d)
        out[d] = MarkChar(marks[d]);
    return out;
}

int MinuteOfDay(QStringView timestamp) {
    int hh = 0, nn = 0;
    if (!ParseInt(timestamp.mid(6, 2), hh) || !ParseInt(timestamp.mid(8, 2), nn) || hh < 0 || hh > 23 ||
        nn < 0 || nn > 59)
        return 0;
    return hh * 60 + nn;
}

QString DelayWithComma(QStringView delay) {
    const qsizetype n = delay.size();
    if (n <= 2)
        return QLatin1Char(',') + delay.toString();
    return delay.left(n - 2).toString() + QLatin1Char(',') + delay.right(2).toString();
}

QString ShownDelay(const ResultGroup& g) {
    return g.delayIsNumber ? DelayWithComma(g.delay) : g.delay.toString();
}

QString TestTime(QStringView timestamp) {
    return timestamp.mid(6, 2).toString() + QLatin1Char(':') + timestamp.mid(8, 2).toString();
}


int DaysInMonth(int year, int month) {
    return QDate(year, month, 1).daysInMonth();
}

QString MonthFileName(const QString& resultsDir, int year, int month) {
    return resultsDir + QLatin1Char('/') + MonthResults::fileName(QDate(year, month, 1));
}

QString MonthTitle(const QString& monthName, int year) {
    return QStringLiteral("Данни за месец ") + monthName + QLatin1Char(' ') + QString::number(year) +
           QStringLiteral(" г.");
}

QString MonthName(int month) {
    static const char16_t* const names[] = {u"Януари", u"Февруари", u"Март",     u"Април",
                                            u"Май",    u"Юни",      u"Юли",      u"Август",
                                            u"Септември", u"Октомври", u"Ноември", u"Декември"};
    return month >= 1 && month <= 12 ? QString::fromUtf16(names[month - 1]) : QString();
}

} // namespace monthfile
