#include "Report.h"

#include "ReportFormats.h"
#include "shell/DataDirs.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <unistd.h>

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
bool loadDefaultMonth(const QString& dir, const QDate& today, Month& m, const FileAccess& files) {
    const bool current = LoadMonth(dir, today.year(), today.month(), m, files);
    if (current && m.latestDay() > 0)
        return true;
    Month previous;
    const QDate before = today.addMonths(-1);
    if (LoadMonth(dir, before.year(), before.month(), previous, files)) {
        m = std::move(previous);
        return true;
    }
    if (!current) // name the month the operator would look for first
        LoadMonth(dir, today.year(), today.month(), m, files);
    return current;
}
} // namespace

int Run(const QStringList& args, QIODevice& out, QIODevice& err, const QDateTime& now, const QString& appDir,
        const RunHooks& hooks) {
    Options o;
    QString error, bad;
    bool checkAsked = false;
    const QString seeHelp = QStringLiteral("Вижте chantest-report --help.");
    if (!ParseArguments(args, o, error, &checkAsked, &bad)) {
        if (checkAsked) {
            line(out, UnknownLine(QStringLiteral("bad arguments") +
                                  (bad.isEmpty() ? QString() : QStringLiteral(": ") + bad)));
            line(out, error);
            line(out, seeHelp);
            return kUnknown;
        }
        line(err, error);
        line(err, seeHelp);
        return kUsageError;
    }
    // With --check only a state is an answer: help and version are UNKNOWN, as with the monitoring
    // plugins.
    if (o.help) {
        out.write(HelpText().toUtf8());
        return o.check ? kUnknown : 0;
    }
    if (o.version) {
        line(out, QStringLiteral("chantest-report " CHANTEST_VERSION));
        return o.check ? kUnknown : 0;
    }
    if (hooks.started)
        hooks.started(o);
    const int failure = o.check ? kUnknown : kDataError;
    // A monitoring system shows the first line of standard output, and some merge standard error
    // into it: under --check the status line comes first and the explanation after it.
    QIODevice& notes = o.check ? out : err;
    const auto fail = [&](const QString& text, const QString& status) {
        if (o.check)
            line(out, UnknownLine(status));
        line(notes, text);
        return failure;
    };

    if (o.month && o.day > monthfile::DaysInMonth(o.year, o.month))
        return fail(QStringLiteral("Ден %1 е извън месеца: %2 %3 г. има %4 дни.")
                        .arg(QString::number(o.day), monthfile::MonthName(o.month), QString::number(o.year),
                             QString::number(monthfile::DaysInMonth(o.year, o.month))),
                    QStringLiteral("day %1 is outside the month").arg(o.day));
    const QString dir = o.resultsDir.isEmpty() ? ExistingDataDir(appDir, QStringLiteral("Results")) : o.resultsDir;
    const QString shownDir = QDir::toNativeSeparators(dir);
    // "." inside it: refused unless the folder itself may be entered, so that a folder the
    // monitoring user may not enter is named as such, not each file in it.
    const int dirFd = hooks.files.openPath(dir + QStringLiteral("/."), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        const int e = errno;
        if (e == EACCES || e == EPERM)
            return fail(QStringLiteral("Папката с резултати %1 не може да бъде отворена: достъпът е отказан.")
                            .arg(shownDir),
                        QStringLiteral("permission denied: %1").arg(shownDir));
        if (e == ENOTDIR)
            return fail(QStringLiteral("%1 не е папка с резултати, а файл.").arg(shownDir),
                        QStringLiteral("no results folder %1").arg(shownDir));
        if (e == ENOENT)
            return fail(QStringLiteral("Папката с резултати %1 не съществува.").arg(shownDir),
                        QStringLiteral("no results folder %1").arg(shownDir));
        return fail(QStringLiteral("Папката с резултати %1 не може да бъде отворена: %2.")
                        .arg(shownDir, QString::fromLocal8Bit(std::strerror(e))),
                    QStringLiteral("cannot read %1").arg(shownDir));
    }
    ::close(dirFd);

    const bool list = o.check || o.format == Format::Text;
    std::deque<Month> months(1); // oldest first; the last one is the month asked for
    try {
        Month& m = months.back();
        const bool found = o.month ? LoadMonth(dir, o.year, o.month, m, hooks.files)
                                   : loadDefaultMonth(dir, now.date(), m, hooks.files);
        if (!found) {
            const QString shown = QDir::toNativeSeparators(m.path);
            return fail(QStringLiteral("Няма файл с резултати за месеца: %1.").arg(shown),
                        QStringLiteral("no month file %1").arg(shown));
        }
        if (o.day > m.days)
            return fail(
                QStringLiteral("Ден %1 е извън месеца: %2 има %3 дни.")
                    .arg(QString::number(o.day), monthfile::MonthName(m.month), QString::number(m.days)),
                QStringLiteral("day %1 is outside the month").arg(o.day));
        if (list && o.day == 0) {
            if (m.latestDay() == 0)
                return fail(QStringLiteral("Няма тестове в %1.").arg(QDir::toNativeSeparators(m.path)),
                            QStringLiteral("no test in %1").arg(QDir::toNativeSeparators(m.path)));
            // The months before, as far back as the hours reach.
            const qint64 from = m.latestMinute() - qint64(o.hours) * 60 + 1;
            for (QDate first = m.date(1); from < first.toJulianDay() * 1440;) {
                first = first.addMonths(-1);
                Month earlier;
                if (LoadMonth(dir, first.year(), first.month(), earlier, hooks.files))
                    months.push_front(std::move(earlier));
            }
        }
    } catch (const ReportError& e) {
        return fail(e.text(), e.status());
    }
    if (hooks.filesRead)
        hooks.filesRead(o);
    QStringList warnings;
    for (const Month& m : months)
        if (!m.warning.isEmpty())
            warnings.append(m.warning);
    const Month& m = months.back();

    if (list) {
        QVector<const Month*> reached;
        for (const Month& each : months)
            reached.append(&each);
        const Period period = o.day ? Period::ofDay(m, o.day) : Period::ofHours(reached, o.hours);
        if (o.check) {
            const CheckResult r = Check(period, o, now);
            line(out, r.line);
            for (const QString& w : warnings)
                line(out, w);
            return r.code;
        }
        for (const QString& w : warnings)
            line(err, w);
        Sink sink(out);
        WriteText(period, o, sink);
        sink.flush();
        if (sink.failed()) {
            line(err, QStringLiteral("Отчетът не може да бъде изведен: %1.").arg(out.errorString()));
            return kDataError;
        }
        return 0;
    }
    for (const QString& w : warnings)
        line(err, w);
    Sink sink(out);
    const Span span = o.day ? Span{o.day, o.day} : Span{1, m.days};
    switch (o.format) {
    case Format::Text:
        break;
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

namespace {
// What the signal handlers write, made ready before they can run: they call write(2) alone.
struct Notice {
    char out[512] = {}, err[512] = {};
    size_t outSize = 0, errSize = 0;
    int code = 1;
    void set(const QString& status, const QString& text, bool check) {
        // Under --check all of it on standard output, the status line first.
        const QByteArray o = check ? (status + u'\n' + text + u'\n').toUtf8() : QByteArray();
        const QByteArray e = check ? QByteArray() : (text + u'\n').toUtf8();
        outSize = size_t(std::min<qsizetype>(o.size(), sizeof out));
        errSize = size_t(std::min<qsizetype>(e.size(), sizeof err));
        memcpy(out, o.constData(), outSize);
        memcpy(err, e.constData(), errSize);
        code = check ? kUnknown : kDataError;
    }
    [[noreturn]] void say() const {
        ssize_t ignored = ::write(STDOUT_FILENO, out, outSize);
        ignored = ::write(STDERR_FILENO, err, errSize);
        (void)ignored;
        ::_exit(code);
    }
};
Notice timedOut, cutShort;

void onAlarm(int) {
    timedOut.say();
}

// The month file is mapped: cut short by another program while it is read, its pages past the
// new end raise SIGBUS. That ends the report with a message, not a crash.
void onBusError(int) {
    cutShort.say();
}
} // namespace

int Main(const QStringList& args, const QString& appDir, const FileAccess& files) {
    QFile out, err;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    RunHooks hooks;
    hooks.files = files;
    hooks.started = [](const Options& o) {
        cutShort.set(UnknownLine(QStringLiteral("the month file changed while it was read")),
                     QStringLiteral("Файлът с резултати беше съкратен, докато се четеше. Опитайте отново."),
                     o.check);
        std::signal(SIGBUS, onBusError);
        if (o.timeoutSeconds == 0)
            return;
        const QString s = QString::number(o.timeoutSeconds);
        timedOut.set(
            UnknownLine(QStringLiteral("timed out after %1 s").arg(s)),
            o.check ? QStringLiteral("Проверката не завърши за %1 с (опция -t).").arg(s)
                    : QStringLiteral("Файловете с резултати не бяха прочетени за %1 с (опция -t).").arg(s),
            o.check);
        // A handler that ends the process: a blocked open or read does not hold it up.
        struct sigaction sa = {};
        sa.sa_handler = onAlarm;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGALRM, &sa, nullptr);
        alarm(unsigned(o.timeoutSeconds));
    };
    // Outside --check the limit is the files': a pager that takes its time over the output is no
    // fault of theirs.
    hooks.filesRead = [](const Options& o) {
        if (!o.check)
            alarm(0);
    };
    const int code = Run(args, out, err, QDateTime::currentDateTime(), appDir, hooks);
    alarm(0);
    return code;
}

} // namespace report
