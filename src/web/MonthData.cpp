#include "MonthData.h"

#include "monthfile/ResultJournal.h"
#include "report/Report.h"
#include "results/MonthView.h"
#include "results/WorkbookWriter.h"

#include <QBuffer>
#include <QFileInfo>
#include <QMutex>
#include <QSet>

namespace web::month {

namespace {
struct Read {
    QString path, stamp;
    std::shared_ptr<const QStringList> lines;
};
QMutex readMutex;
Read lastRead[2]; // a month and the one stepped from

QString stampOf(const QString& path) {
    const QFileInfo f(path);
    return f.exists() ? QStringLiteral("%1/%2").arg(f.lastModified().toMSecsSinceEpoch()).arg(f.size()) : QString();
}

QString yymm(int year, int month) {
    return QStringLiteral("%1%2").arg(year % 100, 2, 10, QChar(u'0')).arg(month, 2, 10, QChar(u'0'));
}
} // namespace

std::shared_ptr<const QStringList> Lines(const QString& resultsDir, int year, int month) {
    const QString path = results::MonthFileName(resultsDir, year, month);
    const QString journal = ResultJournal::pathFor(path);
    const QString stamp = stampOf(path) + u'|' + stampOf(journal);
    if (stamp == u"|")
        return nullptr;
    {
        QMutexLocker lock(&readMutex);
        for (const Read& r : lastRead)
            if (r.path == path && r.stamp == stamp)
                return r.lines;
    }
    auto lines = std::make_shared<const QStringList>(ResultJournal::currentLines(path));
    QMutexLocker lock(&readMutex);
    lastRead[1] = std::move(lastRead[0]);
    lastRead[0] = {path, stamp, lines};
    return lines;
}

QStringList Labels(const QStringList& lines) {
    QStringList out;
    QSet<QString> seen;
    for (const QString& line : lines) {
        QString label = results::LineLabel(line);
        if (!label.isEmpty() && !seen.contains(label)) {
            seen.insert(label);
            out.append(std::move(label));
        }
    }
    return out;
}

QString Title(int year, int month) {
    return results::MonthTitle(results::MonthName(month), year);
}

QString MonthName(int month) {
    return results::MonthName(month);
}

int Days(int year, int month) {
    return results::DaysInMonth(year, month);
}

QString Label(const QString& channel) {
    return results::ChannelLabel(channel);
}

QVector<QStringList> GridRows(const QStringList& lines, const QStringList& labels, int days) {
    if (labels.isEmpty())
        return {};
    return results::MonthGridRows(QStringList{kLabelHeader} + labels, lines, days + 2);
}

Day DayTests(const QStringList& lines, const QString& label, int year, int month, int day) {
    // Every line with the label, merged by time, as the window's detail panel shows them.
    const monthfile::ChannelTests tests = results::RowTests(results::MonthOfLines(lines), label);
    Day d;
    for (const results::DetailRow& r : results::DetailRows(tests.groups, day))
        d.tests.append({r.answer, r.delay, r.time});
    if (!d.tests.isEmpty())
        d.title = results::DetailTitle(label, day, month, year);
    return d;
}

void WriteWorkbook(const QStringList& lines, const QStringList& labels, int year, int month, bool comments,
                   const QString& path) {
    const int days = results::DaysInMonth(year, month);
    results::ExportSheet sheet;
    sheet.title = Title(year, month);
    QStringList header{QStringLiteral("№"), kLabelHeader};
    for (int d = 1; d <= days; ++d)
        header.append(QString::number(d));
    sheet.cells.append(header);
    sheet.cells += GridRows(lines, labels, days);
    sheet.comments = comments;
    if (comments)
        sheet.viewList = lines;
    results::WriteWorkbook(sheet, path);
}

bool ReportPage(const QString& resultsDir, int year, int month, const QDateTime& now, QIODevice& out,
                QString& error) {
    QBuffer err;
    err.open(QIODevice::WriteOnly);
    const int code = report::Run({QStringLiteral("chantest-report"), QStringLiteral("--format"), QStringLiteral("html"),
                                  QStringLiteral("--month"), yymm(year, month), QStringLiteral("--results"), resultsDir},
                                 out, err, now, QString());
    error = QString::fromUtf8(err.data()).trimmed();
    return code == 0;
}

QByteArray ReportMetrics(const QString& resultsDir, const QDateTime& now) {
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    report::Run({QStringLiteral("chantest-report"), QStringLiteral("--format"), QStringLiteral("prometheus"),
                 QStringLiteral("--results"), resultsDir},
                out, err, now, QString());
    return out.data();
}

} // namespace web::month
