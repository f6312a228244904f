#include "ReportShared.h"

#include <QDir>

namespace report {

QString Counted(qint64 n, const QString& one, const QString& many) {
    return QString::number(n) + u' ' + (n % 10 == 1 && n % 100 != 11 ? one : many);
}

QString DayText(const Month& m, int day) {
    return m.date(day).toString(QStringLiteral("dd.MM.yyyy"));
}

QString EndText(const Period& p) {
    return p.end.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

QString ShownPath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString JournalText(const Month& m) {
    return QStringLiteral("%1 (%2)").arg(
        ShownPath(m.journalPath), Counted(m.journalRecords, QStringLiteral("тест"), QStringLiteral("теста")));
}

const Source* FirstRead(const QVector<Source>& sources) {
    for (const Source& s : sources)
        if (s.ok())
            return &s;
    return nullptr;
}

bool KeptAsFailed(const Source& s, int c, const Options& o, Span span) {
    if (o.minDays > 1)
        return s.streaks.value(c) >= o.minDays;
    for (int d = span.from; d <= span.to && d <= s.month->days; ++d)
        if (s.month->dayMark(c, d) == Mark::Failure)
            return true;
    return false;
}

bool TimeDigits(QStringView ts) {
    for (int i = 6; i < 10; ++i)
        if (ts[i].unicode() < u'0' || ts[i].unicode() > u'9')
            return false;
    return true;
}

void PutTime(Sink& out, QStringView ts) {
    out.put(ts.mid(6, 2));
    out << ':';
    out.put(ts.mid(8, 2));
}

QVector<QByteArray> IsoDates(const Month& m, const QByteArray& after) {
    QVector<QByteArray> dates(m.days + 1);
    for (int d = 1; d <= m.days; ++d)
        dates[d] = m.date(d).toString(Qt::ISODate).toLatin1() + after;
    return dates;
}

QString Percent(qint64 part, qint64 whole) {
    if (whole == 0)
        return QStringLiteral("—");
    return QString::number(100.0 * double(part) / double(whole), 'f', 1).replace(u'.', u',') +
           QStringLiteral(" %");
}

QString DelayPercentileText(const CallCounts& c, int percent) {
    const int d = c.delayPercentile(percent);
    return d < 0 ? QStringLiteral("—") : monthfile::DelayWithComma(QString::number(d));
}

const char* MarkBytes(QChar mark) {
    return mark == monthfile::kMarkConnect ? "\xD0\xA0" : mark == monthfile::kMarkBusy ? "\xD0\x97" : "\xD0\x93";
}

} // namespace report
