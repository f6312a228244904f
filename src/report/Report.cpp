#include "Report.h"

#include "ReportFormats.h"
#include "ReportMonth.h"
#include "ReportOptions.h"
#include "shell/DataDirs.h"

#include <QDir>
#include <QFileInfo>

namespace report {

namespace {
constexpr int kDataError = 1;
constexpr int kUsageError = 2;
constexpr int kUnknown = 3;

void line(QIODevice& dev, const QString& text) {
    dev.write((text + u'\n').toUtf8());
}

// The month to report when none is asked for: the current one, or the previous one while the
// current one holds no test.
bool loadDefaultMonth(const QString& dir, const QDate& today, Month& m) {
    const bool current = LoadMonth(dir, today.year(), today.month(), m);
    if (current && m.latestDay() > 0)
        return true;
    Month previous;
    const QDate before = today.addMonths(-1);
    if (LoadMonth(dir, before.year(), before.month(), previous)) {
        m = std::move(previous);
        return true;
    }
    if (!current) // name the month the operator would look for first
        LoadMonth(dir, today.year(), today.month(), m);
    return current;
}
} // namespace

int Run(const QStringList& args, QIODevice& out, QIODevice& err, const QDateTime& now, const QString& appDir) {
    Options o;
    QString error;
    bool checkAsked = false;
    if (!ParseArguments(args, o, error, &checkAsked)) {
        line(err, error);
        line(err, QStringLiteral("Вижте chantest-report --help."));
        if (checkAsked) {
            line(out, UnknownLine(QStringLiteral("bad arguments")));
            return kUnknown;
        }
        return kUsageError;
    }
    if (o.help) {
        out.write(HelpText().toUtf8());
        return 0;
    }
    if (o.version) {
        line(out, QStringLiteral("chantest-report " CHANTEST_VERSION));
        return 0;
    }
    const int failure = o.check ? kUnknown : kDataError;
    const auto fail = [&](const QString& text, const QString& status) {
        line(err, text);
        if (o.check)
            line(out, UnknownLine(status));
        return failure;
    };

    if (o.month && o.day > results::DaysInMonth(o.year, o.month))
        return fail(QStringLiteral("Ден %1 е извън месеца: %2 %3 г. има %4 дни.")
                        .arg(QString::number(o.day), results::MonthName(o.month), QString::number(o.year),
                             QString::number(results::DaysInMonth(o.year, o.month))),
                    QStringLiteral("day %1 is outside the month").arg(o.day));
    const QString dir = o.resultsDir.isEmpty() ? ExistingDataDir(appDir, QStringLiteral("Results")) : o.resultsDir;
    const QString shownDir = QDir::toNativeSeparators(dir);
    if (!QFileInfo(dir).isDir())
        return fail(QStringLiteral("Папката с резултати %1 не съществува.").arg(shownDir),
                    QStringLiteral("no results folder %1").arg(shownDir));

    Month m;
    try {
        const bool found = o.month ? LoadMonth(dir, o.year, o.month, m) : loadDefaultMonth(dir, now.date(), m);
        if (!found) {
            const QString shown = QDir::toNativeSeparators(m.path);
            return fail(QStringLiteral("Няма файл с резултати за месеца: %1.").arg(shown),
                        QStringLiteral("no month file %1").arg(shown));
        }
    } catch (const ReportError& e) {
        return fail(e.text(), e.status());
    }
    if (!m.warning.isEmpty())
        line(err, m.warning);
    if (o.day > m.days)
        return fail(QStringLiteral("Ден %1 е извън месеца: %2 има %3 дни.")
                        .arg(QString::number(o.day), results::MonthName(m.month), QString::number(m.days)),
                    QStringLiteral("day %1 is outside the month").arg(o.day));

    const bool oneDay = o.check || o.format == Format::Text;
    int day = o.day;
    if (day == 0 && oneDay) {
        day = m.latestDay();
        if (day == 0)
            return fail(QStringLiteral("Няма тестове в %1.").arg(QDir::toNativeSeparators(m.path)),
                        QStringLiteral("no test in %1").arg(QDir::toNativeSeparators(m.path)));
    }
    if (o.check) {
        const CheckResult r = Check(m, o, day, now);
        line(out, r.line);
        return r.code;
    }
    Sink sink(out);
    const Span span = day ? Span{day, day} : Span{1, m.days};
    switch (o.format) {
    case Format::Text: WriteText(m, o, day, sink); break;
    case Format::Csv: WriteCsv(m, o, span, sink); break;
    case Format::Json: WriteJson(m, o, span, sink); break;
    case Format::Html: WriteHtml(m, o, span, now, sink); break;
    }
    sink.flush();
    if (sink.failed()) {
        line(err, QStringLiteral("Отчетът не може да бъде изведен: %1.").arg(out.errorString()));
        return kDataError;
    }
    return 0;
}

} // namespace report
