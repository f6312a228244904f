#include "Report.h"

#include "ReportFormats.h"
#include "core/DataDirs.h"

#include <QDir>
#include <QFile>

#include <algorithm>
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

namespace {
// One results folder as read: its months, oldest first, the last the month reported; or why it
// could not be read, for the operator and for the status line.
struct Folder {
    ResultsFolder given;
    std::deque<Month> months;
    QString error, status;
    QStringList warnings;
    bool ok() const { return error.isEmpty(); }
    bool fail(const QString& text, const QString& why) {
        error = text;
        status = why;
        return false;
    }
};

// Reads the month of a folder: `year` and `month` when set, else the default month.
bool loadMonth(Folder& f, const Options& o, int year, int month, const QDate& today,
               const FileAccess& files) {
    f.months.assign(1, Month());
    Month& m = f.months.back();
    try {
        const bool found = month ? LoadMonth(f.given.dir, year, month, m, files)
                                 : loadDefaultMonth(f.given.dir, today, m, files);
        if (!found) {
            const QString shown = QDir::toNativeSeparators(m.path);
            return f.fail(QStringLiteral("Няма файл с резултати за месеца: %1.").arg(shown),
                          QStringLiteral("no month file %1").arg(shown));
        }
        if (o.day > m.days)
            return f.fail(
                QStringLiteral("Ден %1 е извън месеца: %2 има %3 дни.")
                    .arg(QString::number(o.day), monthfile::MonthName(m.month), QString::number(m.days)),
                QStringLiteral("day %1 is outside the month").arg(o.day));
    } catch (const ReportError& e) {
        return f.fail(e.text(), e.status());
    }
    return true;
}

// Reads a folder as the options ask, up to the month reported and, for the hours up to the
// latest test, the months before as far back as they reach.
bool loadFolder(Folder& f, const Options& o, bool period, const QDate& today, const FileAccess& files) {
    const QString shownDir = QDir::toNativeSeparators(f.given.dir);
    // "." inside it: refused unless the folder itself may be entered, so that a folder the
    // monitoring user may not enter is named as such, not each file in it.
    const int dirFd = files.openPath(f.given.dir + QStringLiteral("/."), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        const int e = errno;
        if (e == EACCES || e == EPERM)
            return f.fail(
                QStringLiteral("Папката с резултати %1 не може да бъде отворена: достъпът е отказан.")
                    .arg(shownDir),
                QStringLiteral("permission denied: %1").arg(shownDir));
        if (e == ENOTDIR)
            return f.fail(QStringLiteral("%1 не е папка с резултати, а файл.").arg(shownDir),
                          QStringLiteral("no results folder %1").arg(shownDir));
        if (e == ENOENT)
            return f.fail(QStringLiteral("Папката с резултати %1 не съществува.").arg(shownDir),
                          QStringLiteral("no results folder %1").arg(shownDir));
        return f.fail(QStringLiteral("Папката с резултати %1 не може да бъде отворена: %2.")
                          .arg(shownDir, QString::fromLocal8Bit(std::strerror(e))),
                      QStringLiteral("cannot read %1").arg(shownDir));
    }
    ::close(dirFd);
    if (!loadMonth(f, o, o.year, o.month, today, files))
        return false;
    if (!period || o.day)
        return true;
    try {
        const Month& m = f.months.back();
        const QString shown = QDir::toNativeSeparators(m.path);
        if (m.latestDay() == 0)
            return f.fail(QStringLiteral("Няма тестове в %1.").arg(shown),
                          QStringLiteral("no test in %1").arg(shown));
        // The months before, as far back as the hours reach.
        const qint64 from = m.latestMinute() - qint64(o.hours) * 60 + 1;
        for (QDate first = m.date(1); from < first.toJulianDay() * 1440;) {
            first = first.addMonths(-1);
            Month earlier;
            if (LoadMonth(f.given.dir, first.year(), first.month(), earlier, files))
                f.months.push_front(std::move(earlier));
        }
    } catch (const ReportError& e) {
        return f.fail(e.text(), e.status());
    }
    return true;
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
            out.write(CheckOutput(UnknownLine(QStringLiteral("bad arguments") +
                                              (bad.isEmpty() ? QString() : QStringLiteral(": ") + bad)),
                                  {error, seeHelp}));
            return kCheckUnknown;
        }
        line(err, error);
        line(err, seeHelp);
        return kUsageError;
    }
    // With --check only a state is an answer: help and version are UNKNOWN, as with the monitoring
    // plugins.
    if (o.help) {
        out.write(HelpText().toUtf8());
        return o.check ? kCheckUnknown : 0;
    }
    if (o.version) {
        line(out, QStringLiteral("chantest-report " CHANTEST_VERSION));
        return o.check ? kCheckUnknown : 0;
    }
    if (hooks.started)
        hooks.started(o);
    const int failure = o.check ? kCheckUnknown : kDataError;
    const auto fail = [&](const QString& text, const QString& status) {
        if (o.check)
            out.write(CheckOutput(UnknownLine(status), {text}));
        else
            line(err, text);
        return failure;
    };

    if (o.month && o.day > monthfile::DaysInMonth(o.year, o.month))
        return fail(QStringLiteral("Ден %1 е извън месеца: %2 %3 г. има %4 дни.")
                        .arg(QString::number(o.day), monthfile::MonthName(o.month), QString::number(o.year),
                             QString::number(monthfile::DaysInMonth(o.year, o.month))),
                    QStringLiteral("day %1 is outside the month").arg(o.day));
    const bool metrics = !o.check && o.format == Format::Prometheus;
    // The morning list, the check and the metrics report a period; csv, json and html a month.
    const bool period = o.check || o.format == Format::Text || metrics;
    std::vector<Folder> folders;
    if (o.results.isEmpty())
        folders.push_back(
            {{QString(), ExistingDataDir(appDir, QStringLiteral("Results")), false}, {}, {}, {}, {}});
    for (const ResultsFolder& r : o.results)
        folders.push_back({r, {}, {}, {}, {}});
    for (Folder& f : folders)
        loadFolder(f, o, period, now.date(), hooks.files);
    // A month for a page or a spreadsheet of several stations is one month for all: the latest
    // of their default months.
    if (!period && !o.month && folders.size() > 1) {
        QDate latest;
        for (const Folder& f : folders)
            if (f.ok() && (!latest.isValid() || f.months.back().date(1) > latest))
                latest = f.months.back().date(1);
        for (Folder& f : folders)
            if (f.ok() && latest.isValid() && f.months.back().date(1) != latest)
                loadMonth(f, o, latest.year(), latest.month(), now.date(), hooks.files);
    }
    QVector<Source> sources(qsizetype(folders.size()));
    int unread = 0;
    for (size_t i = 0; i < folders.size(); ++i) {
        Folder& f = folders[i];
        Source& s = sources[qsizetype(i)];
        s.name = f.given.name;
        if (!f.ok()) {
            ++unread;
            s.error = f.error;
            s.status = f.status;
            continue;
        }
        const Month& m = f.months.back();
        s.month = &m;
        for (const Month& each : f.months)
            if (!each.warning.isEmpty())
                f.warnings.append(each.warning);
        // The failure streaks, and the month before where they reach back, within the time limit.
        QString warning;
        if (period) {
            QVector<const Month*> reached;
            for (const Month& each : f.months)
                reached.append(&each);
            s.period = o.day ? Period::ofDay(m, o.day) : Period::ofHours(reached, o.hours);
            s.channels.read(s.period, !o.check && o.format == Format::Text, hooks.files, warning,
                            o.check ? nullptr : &s.calls);
        } else {
            s.last = o.day ? o.day : m.latestDay();
            s.streaks = MonthStreaks(m, s.last, hooks.files, warning);
        }
        if (!warning.isEmpty())
            f.warnings.append(warning);
    }
    if (hooks.filesRead)
        hooks.filesRead(o);
    QStringList warnings;
    for (const Folder& f : folders)
        warnings += f.warnings;
    const bool stations = ShowStations(o);
    QStringList unreadable;
    for (const Source& s : sources)
        if (!s.ok())
            unreadable.append(stations ? s.name + QStringLiteral(": ") + s.error : s.error);

    // A folder that could not be read: the report stops, unless there are others and
    // --ignore-missing lets it go on without it. The metrics report it as a failure of theirs.
    if (!metrics && (unread == int(sources.size()) || (unread > 0 && o.check && !o.ignoreMissing))) {
        const Source* first = nullptr;
        for (const Source& s : sources)
            if (!s.ok() && !first)
                first = &s;
        if (o.check) {
            out.write(CheckOutput(
                UnknownLine(stations ? first->name + QStringLiteral(": ") + first->status : first->status),
                unreadable));
        } else {
            for (const QString& e : std::as_const(unreadable))
                line(err, e);
        }
        return failure;
    }

    if (o.check) {
        const CheckResult r = Check(sources, CheckOptions::of(o), now);
        out.write(CheckOutput(r.line, r.details + unreadable + warnings));
        return r.code;
    }
    for (const QString& e : unreadable + warnings)
        line(err, e);
    Sink sink(out);
    const auto read = std::find_if(sources.cbegin(), sources.cend(), [](const Source& s) { return s.ok(); });
    const Span span = o.day ? Span{o.day, o.day} : Span{1, read == sources.cend() ? 31 : read->month->days};
    switch (o.format) {
    case Format::Text:
        WriteText(sources, o, sink);
        break;
    case Format::Csv:
        WriteCsv(sources, o, span, sink);
        break;
    case Format::Json:
        WriteJson(sources, o, span, sink);
        break;
    case Format::Html:
        WriteHtml(sources, o, span, now, sink);
        break;
    case Format::Prometheus:
        WriteMetrics(sources, o, sink);
        break;
    }
    sink.flush();
    if (sink.failed()) {
        line(err, QStringLiteral("Отчетът не може да бъде изведен: %1.").arg(out.errorString()));
        return kDataError;
    }
    // The metrics tell a folder that could not be read themselves; the others by their code.
    return unread > 0 && !metrics && !o.ignoreMissing ? kDataError : 0;
}

namespace {
// What the signal handlers write, made ready before they can run: they call write(2) alone.
struct Notice {
    char out[512] = {}, err[512] = {};
    size_t outSize = 0, errSize = 0;
    int code = 1;
    void set(const QString& status, const QString& text, bool check) {
        const QByteArray o = check ? CheckOutput(status, {text}) : QByteArray();
        const QByteArray e = check ? QByteArray() : (text + u'\n').toUtf8();
        outSize = size_t(std::min<qsizetype>(o.size(), sizeof out));
        errSize = size_t(std::min<qsizetype>(e.size(), sizeof err));
        memcpy(out, o.constData(), outSize);
        memcpy(err, e.constData(), errSize);
        code = check ? kCheckUnknown : kDataError;
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
