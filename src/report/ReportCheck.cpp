#include "ReportCheck.h"

#include "ReportShared.h"
#include "monthfile/ResultGroups.h"

namespace report {

using monthfile::kMarkFailure;

QLatin1StringView StateText(CheckState state) {
    static const char* const texts[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    return QLatin1StringView(texts[state]);
}

bool Threshold::exceeded(int failed, int tested) const {
    if (!set)
        return false;
    if (!percent)
        return failed > value;
    return tested > 0 && 100.0 * failed / tested > value;
}

bool ParseThreshold(const QString& text, Threshold& out) {
    out = {};
    QString t = text.trimmed();
    const bool percent = t.endsWith(u'%');
    if (percent)
        t.chop(1);
    if (t.isEmpty())
        return false;
    if (!percent) {
        int n = 0;
        for (QChar c : t)
            if (!c.isDigit() || c.unicode() > 0x7F)
                return false;
        if (!monthfile::ParseInt(t, n))
            return false;
        out = {true, false, double(n)};
        return true;
    }
    // A share may have a fraction, with a point or a comma.
    int dots = 0;
    for (QChar& c : t) {
        if (c == u',')
            c = u'.';
        if (c == u'.')
            ++dots;
        else if (c.unicode() < u'0' || c.unicode() > u'9')
            return false;
    }
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (dots > 1 || !ok || v < 0 || v > 100)
        return false;
    out = {true, true, v};
    return true;
}

CheckState ThresholdState(const Threshold& warning, const Threshold& critical, int failed, int tested) {
    return critical.exceeded(failed, tested) ? kCheckCritical
           : warning.exceeded(failed, tested) ? kCheckWarning
                                              : kCheckOk;
}

QByteArray CheckOutput(const QString& statusLine, const QStringList& after) {
    QString text = statusLine + u'\n';
    for (const QString& l : after)
        text += l + u'\n';
    return text.toUtf8();
}

namespace {
QString statusLine(CheckState state, const QString& text) {
    return QStringLiteral("CHANTEST ") + StateText(state) + QStringLiteral(" - ") + text;
}

// A text for a status line or its long output: one line, and no '|' that would start the
// performance data.
QString oneLine(const QString& text) {
    QString t = text;
    for (QChar& c : t)
        if (c.unicode() < 0x20 || c == u'|' || c.unicode() == 0x7F)
            c = u'?';
    return t;
}
} // namespace

QString UnknownLine(const QString& why) {
    return statusLine(kCheckUnknown, oneLine(why.left(200)));
}

namespace {
QString shareText(double share) {
    QString s = QString::number(share, 'f', 1);
    if (s.endsWith(QLatin1String(".0")))
        s.chop(2);
    return s;
}
QString countLimit(const Threshold& t) {
    return t.set && !t.percent ? QString::number(qint64(t.value)) : QString();
}
QString shareLimit(const Threshold& t) {
    return t.set && t.percent ? shareText(t.value) : QString();
}
QString checkPeriod(const Period& p) {
    return p.day ? QStringLiteral("on ") + DayText(*p.months.last(), p.day)
                 : QStringLiteral("in the %1 h to %2").arg(QString::number(p.hours), EndText(p));
}
} // namespace

CheckOptions CheckOptions::of(const Options& o) {
    return {o.warning, o.critical, o.maxAgeHours, o.minDays, ShowStations(o)};
}

CheckResult Check(const QVector<Source>& sources, const CheckOptions& o, const QDateTime& now) {
    const bool stations = o.stations;
    const int k = o.minDays;
    // With --min-days the thresholds count the channels failed that many days in a row.
    const QString counted = k > 1 ? QStringLiteral("failed_%1d").arg(k) : QStringLiteral("failed");
    CheckResult r;
    DayCounts n;
    int persistent = 0, read = 0;
    const Source* stale = nullptr;
    QDateTime staleSince;
    for (const Source& s : sources) {
        if (!s.ok()) {
            r.details.append(oneLine(QStringLiteral("%1: skipped, %2").arg(s.name, s.status)));
            continue;
        }
        ++read;
        DayCounts sn;
        int sp = 0;
        for (const PeriodChannel& c : s.channels.rows) {
            sn.add(c.mark);
            sp += c.mark == kMarkFailure && c.streak >= k;
        }
        n += sn;
        persistent += sp;
        const QDateTime latest = s.period.months.last()->latestTest();
        if (o.maxAgeHours > 0 && latest.isValid() && latest.secsTo(now) > qint64(o.maxAgeHours) * 3600 &&
            (!stale || latest < staleSince)) {
            stale = &s;
            staleSince = latest;
        }
        if (stations)
            // One arg() for all, so that a "%2" in a station's name stays as it is.
            r.details.append(oneLine(QStringLiteral("%1: %2 of %3 channels failed%4 %5")
                                         .arg(s.name, QString::number(k > 1 ? sp : sn.failed),
                                              QString::number(sn.tested()),
                                              k > 1 ? QStringLiteral(" %1+ days in a row").arg(k) : QString(),
                                              checkPeriod(s.period))));
    }
    const int failed = k > 1 ? persistent : n.failed;
    QString perf = k > 1 ? QStringLiteral("failed=%1;;;0;%2 ").arg(n.failed).arg(n.tested()) : QString();
    perf += QStringLiteral("%1=%2;%3;%4;0;%5 busy=%6 connected=%7")
                .arg(counted)
                .arg(failed)
                .arg(countLimit(o.warning), countLimit(o.critical))
                .arg(n.tested())
                .arg(n.busy)
                .arg(n.connected);
    if (o.warning.percent || o.critical.percent) {
        const double share = n.tested() ? 100.0 * failed / n.tested() : 0.0;
        perf += QStringLiteral(" %1_share=%2%;%3;%4;0;100")
                    .arg(counted, shareText(share), shareLimit(o.warning), shareLimit(o.critical));
    }
    if (stale) {
        r.code = kCheckCritical;
        r.line = statusLine(r.code, QStringLiteral("no test since %1%2 | %3")
                                        .arg(staleSince.toString(QStringLiteral("dd.MM.yyyy HH:mm")),
                                             stations ? oneLine(QStringLiteral(" at station ") + stale->name)
                                                      : QString(),
                                             perf));
        return r;
    }
    r.code = ThresholdState(o.warning, o.critical, failed, n.tested());
    const Period& p = FirstRead(sources)->period;
    const QString period =
        !stations ? checkPeriod(p)
        : p.day   ? QStringLiteral("on %1 at %2 stations").arg(DayText(*p.months.last(), p.day)).arg(read)
                  : QStringLiteral("in the %1 h to the latest test at %2 stations").arg(p.hours).arg(read);
    r.line = statusLine(r.code, QStringLiteral("%1 of %2 channels failed%3 %4 | %5")
                                    .arg(failed)
                                    .arg(n.tested())
                                    .arg(k > 1 ? QStringLiteral(" %1+ days in a row").arg(k) : QString(),
                                         period, perf));
    return r;
}

} // namespace report
