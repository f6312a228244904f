#include "ReportOptions.h"

#include "monthfile/ResultGroups.h"

#include <QCommandLineParser>
#include <QDir>

#include <algorithm>

namespace report {

namespace {
// Qt's own parser errors name the option between quotes; the message is ours, in Bulgarian.
QString quotedName(const QString& qtError) {
    const qsizetype a = qtError.indexOf(u'\'');
    const qsizetype b = qtError.lastIndexOf(u'\'');
    return a >= 0 && b > a ? qtError.mid(a + 1, b - a - 1) : QString();
}
} // namespace

bool ShowStations(const Options& o) {
    return o.results.size() > 1 ||
           std::any_of(o.results.begin(), o.results.end(), [](const ResultsFolder& f) { return f.named; });
}

namespace {
// "NAME=DIR" names the station; a text whose part before '=' holds a '/' is a folder's path.
ResultsFolder resultsFolder(const QString& arg) {
    const qsizetype eq = arg.indexOf(u'=');
    if (eq > 0 && !arg.left(eq).contains(u'/'))
        return {arg.left(eq), arg.mid(eq + 1), true};
    // The folder's name, or for a folder called Results, as the program's own is, the name of
    // the folder that holds it: /mnt/varna/Results is the station "varna".
    const QStringList parts = QDir::cleanPath(QDir(arg).absolutePath()).split(u'/', Qt::SkipEmptyParts);
    QString name = parts.isEmpty() ? arg : parts.constLast();
    if (name.compare(QLatin1String("Results"), Qt::CaseInsensitive) == 0 && parts.size() > 1)
        name = parts[parts.size() - 2];
    return {name, arg, false};
}
} // namespace

bool AllowedSeparator(QChar c) {
    return c == u',' || c == u';' || c == u'\t';
}

bool ParseArguments(const QStringList& args, Options& out, QString& error, bool* checkAsked,
                    QString* badArgument) {
    out = {};
    const auto fail = [&](const QString& text, const QString& argument) {
        error = text;
        if (badArgument)
            *badArgument = argument;
        return false;
    };
    if (checkAsked)
        *checkAsked =
            std::any_of(args.begin() + std::min<qsizetype>(1, args.size()), args.end(), [](const QString& a) {
                return a == QLatin1String("--check") || a.startsWith(QLatin1String("--check="));
            });
    QCommandLineParser p;
    p.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")}, {});
    const QCommandLineOption dir(QStringLiteral("results"), {}, QStringLiteral("DIR"));
    const QCommandLineOption month(QStringLiteral("month"), {}, QStringLiteral("YYMM"));
    const QCommandLineOption day(QStringLiteral("day"), {}, QStringLiteral("D"));
    const QCommandLineOption hours(QStringLiteral("hours"), {}, QStringLiteral("H"));
    const QCommandLineOption failed(QStringLiteral("failed"), {});
    const QCommandLineOption minDays(QStringLiteral("min-days"), {}, QStringLiteral("K"));
    const QCommandLineOption ignoreMissing(QStringLiteral("ignore-missing"), {});
    const QCommandLineOption all(QStringLiteral("all"), {});
    const QCommandLineOption summary(QStringLiteral("summary"), {});
    const QCommandLineOption format(QStringLiteral("format"), {}, QStringLiteral("FORMAT"));
    const QCommandLineOption separator(QStringLiteral("separator"), {}, QStringLiteral("C"));
    const QCommandLineOption check(QStringLiteral("check"), {});
    const QCommandLineOption warning({QStringLiteral("w"), QStringLiteral("warning")}, {}, QStringLiteral("N"));
    const QCommandLineOption critical({QStringLiteral("c"), QStringLiteral("critical")}, {}, QStringLiteral("N"));
    const QCommandLineOption maxAge(QStringLiteral("max-age"), {}, QStringLiteral("H"));
    const QCommandLineOption timeout({QStringLiteral("t"), QStringLiteral("timeout")}, {},
                                     QStringLiteral("S"));
    p.addOptions({help, version, dir, month, day, hours, failed, minDays, ignoreMissing, all, summary, format,
                  separator, check, warning, critical, maxAge, timeout});

    if (!p.parse(args)) {
        const QString qt = p.errorText();
        const QString name = quotedName(qt);
        if (!p.unknownOptionNames().isEmpty()) {
            const QString u = p.unknownOptionNames().constFirst();
            const QString shown = QLatin1String(u.size() == 1 ? "-" : "--") + u;
            return fail(QStringLiteral("Непозната опция: %1.").arg(shown), shown);
        }
        if (qt.startsWith(QLatin1String("Missing value")))
            return fail(QStringLiteral("Опцията %1 изисква стойност.").arg(name), name);
        if (qt.startsWith(QLatin1String("Unexpected value"))) {
            // Name the argument as it was given, "--check=1", not only its option.
            const auto given = std::find_if(args.begin() + 1, args.end(),
                                            [&](const QString& a) { return a.startsWith(name + u'='); });
            return fail(QStringLiteral("Опцията %1 не приема стойност.").arg(name),
                        given == args.end() ? name : *given);
        }
        return fail(QStringLiteral("Грешка в аргументите: %1").arg(qt), name);
    }
    if (!p.positionalArguments().isEmpty()) {
        const QString a = p.positionalArguments().constFirst();
        return fail(QStringLiteral("Неочакван аргумент: %1.").arg(a), a);
    }
    out.help = p.isSet(help);
    out.version = p.isSet(version);
    out.failedOnly = p.isSet(failed);
    out.check = p.isSet(check);
    out.ignoreMissing = p.isSet(ignoreMissing);
    out.all = p.isSet(all);
    out.summary = p.isSet(summary);
    // A repeated option: the last one counts, as in most GNU programs.
    const auto value = [&](const QCommandLineOption& o) { return p.values(o).constLast(); };
    const auto named = [](const char* option, const QString& v) { return QLatin1String(option) + u' ' + v; };
    // Each --results is a station's folder.
    for (const QString& given : p.values(dir)) {
        const ResultsFolder f = resultsFolder(given);
        if (f.dir.isEmpty())
            return fail(QStringLiteral("Папката с резултати не може да е празен текст."),
                        named("--results", given.isEmpty() ? QStringLiteral("\"\"") : given));
        for (const ResultsFolder& other : std::as_const(out.results))
            if (other.name == f.name)
                return fail(QStringLiteral("Две папки с резултати носят едно име „%1“ (%2 и %3): дайте им "
                                           "различни имена с --results ИМЕ=ПАПКА.")
                                .arg(f.name, other.dir, f.dir),
                            named("--results", given));
        out.results.append(f);
    }
    if (p.isSet(month)) {
        const QString m = value(month);
        int mm = 0;
        const bool digits = m.size() == 4 && std::all_of(m.begin(), m.end(), [](QChar c) {
                                return c.unicode() >= u'0' && c.unicode() <= u'9';
                            });
        if (!digits || !monthfile::ParseInt(m.mid(2), mm) || mm < 1 || mm > 12)
            return fail(
                QStringLiteral("Месецът „%1“ не е във вида ГГММ (например 2612 за декември 2026 г.).").arg(m),
                named("--month", m));
        // The window's years run from 1995: 95..99 are the 1990s.
        const int yy = m.left(2).toInt();
        out.year = yy >= 95 ? 1900 + yy : 2000 + yy;
        out.month = mm;
    }
    if (p.isSet(day)) {
        const QString d = value(day);
        if (!monthfile::ParseInt(d, out.day) || out.day < 1 || out.day > 31)
            return fail(QStringLiteral("Денят „%1“ не е число от 1 до 31.").arg(d), named("--day", d));
    }
    if (p.isSet(format)) {
        const QString f = value(format);
        if (f == QLatin1String("text"))
            out.format = Format::Text;
        else if (f == QLatin1String("csv"))
            out.format = Format::Csv;
        else if (f == QLatin1String("json"))
            out.format = Format::Json;
        else if (f == QLatin1String("html"))
            out.format = Format::Html;
        else if (f == QLatin1String("prometheus"))
            out.format = Format::Prometheus;
        else
            return fail(
                QStringLiteral("Непознат формат „%1“: възможни са text, csv, json, html и prometheus.")
                    .arg(f),
                named("--format", f));
    }
    if (p.isSet(hours)) {
        const QString h = value(hours);
        // Up to a month of 31 days.
        if (!monthfile::ParseInt(h, out.hours) || out.hours < 1 || out.hours > 744)
            return fail(QStringLiteral("Часовете „%1“ трябва да са цяло число от 1 до 744.").arg(h),
                        named("--hours", h));
        if (out.day)
            return fail(QStringLiteral("--hours и --day не вървят заедно: --day дава целия календарен ден."),
                        QStringLiteral("--hours with --day"));
        if (!out.check && out.format != Format::Text && out.format != Format::Prometheus)
            return fail(
                QStringLiteral("--hours се отнася до списъка (text), prometheus и --check; csv, json и html "
                               "дават месеца или деня от --day."),
                QStringLiteral("--hours with --format"));
    }
    if (p.isSet(minDays)) {
        const QString k = value(minDays);
        if (!monthfile::ParseInt(k, out.minDays) || out.minDays < 1 || out.minDays > kMaxMinDays)
            return fail(
                QStringLiteral("Дните „%1“ трябва да са цяло число от 1 до %2 (сериите се броят най-много "
                               "до началото на предишния месец).")
                    .arg(k)
                    .arg(kMaxMinDays),
                named("--min-days", k));
        if (!out.check && !out.failedOnly)
            return fail(QStringLiteral("--min-days се отнася до --failed и --check."),
                        QStringLiteral("--min-days without --failed"));
    }
    if (!out.check && out.format == Format::Prometheus && out.failedOnly)
        return fail(QStringLiteral("--failed не се отнася до prometheus: метриките броят всички канали."),
                    QStringLiteral("--failed with --format prometheus"));
    if (out.all && (out.check || out.format != Format::Html))
        return fail(QStringLiteral("--all се отнася до html: страницата показва всички канали по дни."),
                    QStringLiteral("--all without --format html"));
    if (out.all && out.failedOnly)
        return fail(QStringLiteral("--all и --failed не вървят заедно: --all показва всички канали, --failed "
                                   "само неуспешните."),
                    QStringLiteral("--all with --failed"));
    if (out.summary && (out.check || out.format != Format::Csv))
        return fail(QStringLiteral("--summary се отнася до csv: ред за всяко направление и централа с "
                                   "показателите на повикванията."),
                    QStringLiteral("--summary without --format csv"));
    if (out.summary && out.failedOnly)
        return fail(QStringLiteral("--summary брои всички тестове и не върви с --failed."),
                    QStringLiteral("--summary with --failed"));
    if (p.isSet(separator)) {
        const QString s = value(separator);
        const QChar c = s == QLatin1String("\\t") || s == QLatin1String("tab") ? QChar(u'\t')
                        : s.size() == 1                                        ? s[0]
                                                                               : QChar();
        if (!AllowedSeparator(c))
            return fail(QStringLiteral("Разделителят „%1“ не е позволен: възможни са „,“, „;“ и tab.").arg(s),
                        named("--separator", s));
        out.separator = c;
    }
    const auto threshold = [&](const QCommandLineOption& o, Threshold& t, const char* name) {
        if (!p.isSet(o))
            return true;
        const QString v = value(o);
        if (ParseThreshold(v, t))
            return true;
        return fail(QStringLiteral("Прагът %1 „%2“ трябва да е цяло число N или дял N% от 0 до 100.")
                        .arg(QLatin1String(name), v),
                    named(name, v));
    };
    if (!threshold(warning, out.warning, "-w") || !threshold(critical, out.critical, "-c"))
        return false;
    if (p.isSet(maxAge)) {
        const QString h = value(maxAge);
        if (!monthfile::ParseInt(h, out.maxAgeHours) || out.maxAgeHours < 0 || out.maxAgeHours > 24 * 366)
            return fail(QStringLiteral("Възрастта „%1“ трябва да е цяло число часове (0 я изключва).").arg(h),
                        named("--max-age", h));
    }
    if (p.isSet(timeout)) {
        const QString t = value(timeout);
        if (!monthfile::ParseInt(t, out.timeoutSeconds) || out.timeoutSeconds < 0 || out.timeoutSeconds > 3600)
            return fail(
                QStringLiteral("Времето „%1“ трябва да е цяло число секунди от 0 до 3600 (0 го изключва).")
                    .arg(t),
                named("-t", t));
    }
    return true;
}

QString HelpText() {
    return QStringLiteral(
        "Употреба: chantest-report [ОПЦИИ]\n"
        "Отчет за тестовете на каналите от месечните файлове с резултати (само чете).\n"
        "\n"
        "  --results ПАПКА    папката с резултати (по подразбиране тази, която програмата\n"
        "                     chantest ползва, стартирана в текущата папка); дадена няколко\n"
        "                     пъти, по една папка на станция, а ИМЕ=ПАПКА дава името на\n"
        "                     станцията (иначе името на папката, а за папка Results – на тази\n"
        "                     над нея)\n"
        "  --ignore-missing   с няколко папки: папка, която не може да бъде прочетена, се\n"
        "                     назовава, но не проваля отчета за останалите\n"
        "  --month ГГММ       месецът, например 2612 за декември 2026 г. (по подразбиране\n"
        "                     текущият или предишният, докато в текущия няма тестове)\n"
        "  --day Д            един календарен ден от месеца; без него списъкът, prometheus и\n"
        "                     --check дават часовете до последния тест, а csv, json и html\n"
        "                     целия месец\n"
        "  --hours Ч          колко часа до последния тест дават списъкът, prometheus и --check\n"
        "                     (от 1 до 744, по подразбиране 24), ако трябва и от предишния месец\n"
        "  --failed           само каналите със знак „Г“ (за месеца: в който и да е ден)\n"
        "  --min-days K       с --failed само каналите с „Г“ поне K дни подред до последния\n"
        "                     ден на периода; с --check -w и -c броят само тях (по подразбиране 1)\n"
        "  --format ФОРМАТ    text (списък на каналите), csv, json, html или prometheus\n"
        "                     (метрики за textfile на node_exporter); по подразбиране text\n"
        "  --all              html: всички канали по дни (по подразбиране само тези с „Г“ поне\n"
        "                     в един ден; сумите по направления са за всички)\n"
        "  --summary          csv: ред за всяко направление и централа с ASR, NER и\n"
        "                     закъснението на връзките вместо ред за всеки тест\n"
        "  --separator З      разделител за csv: ',' (по подразбиране), ';' за електронни\n"
        "                     таблици с десетична запетая (закъснението е със запетая) или tab\n"
        "  --check            проверка за система за наблюдение (Icinga, Nagios): ред състояние\n"
        "                     и код 0 (OK), 1 (WARNING), 2 (CRITICAL), 3 (UNKNOWN); обясненията\n"
        "                     са след реда, също на стандартния изход\n"
        "  -w, --warning N    WARNING, когато неуспешните канали („Г“) за периода са повече от N\n"
        "                     (с --min-days: тези с „Г“ поне K дни подред);\n"
        "                     N% сравнява дела им от тестваните канали\n"
        "  -c, --critical N   CRITICAL при същото условие\n"
        "  --max-age Ч        CRITICAL, когато последният тест (на която и да е станция) е\n"
        "                     по-стар от Ч часа\n"
        "                     (по подразбиране 26; 0 изключва проверката)\n"
        "  -t, --timeout С    спира, ако файловете не са прочетени за С секунди (с --check:\n"
        "                     цялата проверка); по подразбиране 10, 0 го изключва\n"
        "  -h, --help         показва тази помощ\n"
        "  -V, --version      показва версията\n"
        "\n"
        "Изход: 0 успех, 1 липсващи или нечетими данни (с няколко папки: поне една, освен\n"
        "с --ignore-missing), 2 грешни аргументи; с --check кодовете на системата за\n"
        "наблюдение; prometheus дава 0 и за папка, която не може да бъде прочетена\n"
        "(chantest_report_success е 0 за нея).\n");
}

} // namespace report
