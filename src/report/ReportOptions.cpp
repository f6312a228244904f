#include "ReportOptions.h"

#include "results/MonthView.h"

#include <QCommandLineParser>

#include <algorithm>

namespace report {

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
        if (!results::ParseInt(t, n))
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

namespace {
// Qt's own parser errors name the option between quotes; the message is ours, in Bulgarian.
QString quotedName(const QString& qtError) {
    const qsizetype a = qtError.indexOf(u'\'');
    const qsizetype b = qtError.lastIndexOf(u'\'');
    return a >= 0 && b > a ? qtError.mid(a + 1, b - a - 1) : QString();
}
} // namespace

bool ParseArguments(const QStringList& args, Options& out, QString& error, bool* checkAsked) {
    out = {};
    if (checkAsked)
        *checkAsked = args.mid(1).contains(QStringLiteral("--check"));
    QCommandLineParser p;
    p.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")}, {});
    const QCommandLineOption dir(QStringLiteral("results"), {}, QStringLiteral("DIR"));
    const QCommandLineOption month(QStringLiteral("month"), {}, QStringLiteral("YYMM"));
    const QCommandLineOption day(QStringLiteral("day"), {}, QStringLiteral("D"));
    const QCommandLineOption failed(QStringLiteral("failed"), {});
    const QCommandLineOption format(QStringLiteral("format"), {}, QStringLiteral("FORMAT"));
    const QCommandLineOption separator(QStringLiteral("separator"), {}, QStringLiteral("C"));
    const QCommandLineOption check(QStringLiteral("check"), {});
    const QCommandLineOption warning({QStringLiteral("w"), QStringLiteral("warning")}, {}, QStringLiteral("N"));
    const QCommandLineOption critical({QStringLiteral("c"), QStringLiteral("critical")}, {}, QStringLiteral("N"));
    const QCommandLineOption maxAge(QStringLiteral("max-age"), {}, QStringLiteral("H"));
    p.addOptions({help, version, dir, month, day, failed, format, separator, check, warning, critical, maxAge});

    if (!p.parse(args)) {
        const QString qt = p.errorText();
        const QString name = quotedName(qt);
        if (!p.unknownOptionNames().isEmpty())
        {
            const QString u = p.unknownOptionNames().constFirst();
            error = QStringLiteral("Непозната опция: %1%2.").arg(QLatin1String(u.size() == 1 ? "-" : "--"), u);
        }
        else if (qt.startsWith(QLatin1String("Missing value")))
            error = QStringLiteral("Опцията %1 изисква стойност.").arg(name);
        else if (qt.startsWith(QLatin1String("Unexpected value")))
            error = QStringLiteral("Опцията %1 не приема стойност.").arg(name);
        else
            error = QStringLiteral("Грешка в аргументите: %1").arg(qt);
        return false;
    }
    if (!p.positionalArguments().isEmpty()) {
        error = QStringLiteral("Неочакван аргумент: %1.").arg(p.positionalArguments().constFirst());
        return false;
    }
    out.help = p.isSet(help);
    out.version = p.isSet(version);
    out.failedOnly = p.isSet(failed);
    out.check = p.isSet(check);
    // A repeated option: the last one counts, as in most GNU programs.
    if (p.isSet(dir)) {
        out.resultsDir = p.values(dir).constLast();
        if (out.resultsDir.isEmpty()) {
            error = QStringLiteral("Папката с резултати не може да е празен текст.");
            return false;
        }
    }
    if (p.isSet(month)) {
        const QString m = p.values(month).constLast();
        int mm = 0;
        const bool digits = m.size() == 4 && std::all_of(m.begin(), m.end(), [](QChar c) {
                                return c.unicode() >= u'0' && c.unicode() <= u'9';
                            });
        if (!digits || !results::ParseInt(m.mid(2), mm) || mm < 1 || mm > 12) {
            error = QStringLiteral("Месецът „%1“ не е във вида ГГММ (например 2612 за декември 2026 г.).").arg(m);
            return false;
        }
        // The window's years run from 1995: 95..99 are the 1990s.
        const int yy = m.left(2).toInt();
        out.year = yy >= 95 ? 1900 + yy : 2000 + yy;
        out.month = mm;
    }
    if (p.isSet(day)) {
        const QString d = p.values(day).constLast();
        if (!results::ParseInt(d, out.day) || out.day < 1 || out.day > 31) {
            error = QStringLiteral("Денят „%1“ не е число от 1 до 31.").arg(d);
            return false;
        }
    }
    if (p.isSet(format)) {
        const QString f = p.values(format).constLast();
        if (f == QLatin1String("text"))
            out.format = Format::Text;
        else if (f == QLatin1String("csv"))
            out.format = Format::Csv;
        else if (f == QLatin1String("json"))
            out.format = Format::Json;
        else if (f == QLatin1String("html"))
            out.format = Format::Html;
        else {
            error = QStringLiteral("Непознат формат „%1“: възможни са text, csv, json и html.").arg(f);
            return false;
        }
    }
    if (p.isSet(separator)) {
        const QString s = p.values(separator).constLast();
        const QChar c = s == QLatin1String("\\t") || s == QLatin1String("tab") ? QChar(u'\t')
                        : s.size() == 1                                        ? s[0]
                                                                               : QChar();
        if (c.isNull() || c == u'"' || c == u'\r' || c == u'\n') {
            error = QStringLiteral("Разделителят „%1“ трябва да е един знак, различен от кавички и нов ред.").arg(s);
            return false;
        }
        out.separator = c;
    }
    const auto threshold = [&](const QCommandLineOption& o, Threshold& t, const char* name) {
        if (!p.isSet(o))
            return true;
        const QString v = p.values(o).constLast();
        if (ParseThreshold(v, t))
            return true;
        error = QStringLiteral("Прагът %1 „%2“ трябва да е цяло число N или дял N% от 0 до 100.")
                    .arg(QLatin1String(name), v);
        return false;
    };
    if (!threshold(warning, out.warning, "-w") || !threshold(critical, out.critical, "-c"))
        return false;
    if (p.isSet(maxAge)) {
        const QString h = p.values(maxAge).constLast();
        if (!results::ParseInt(h, out.maxAgeHours) || out.maxAgeHours < 0 || out.maxAgeHours > 24 * 366) {
            error = QStringLiteral("Възрастта „%1“ трябва да е цяло число часове (0 я изключва).").arg(h);
            return false;
        }
    }
    return true;
}

QString HelpText() {
    return QStringLiteral(
        "Употреба: chantest-report [ОПЦИИ]\n"
        "Отчет за тестовете на каналите от месечните файлове с резултати (само чете).\n"
        "\n"
        "  --results ПАПКА    папката с резултати (по подразбиране тази, която програмата\n"
        "                     chantest ползва, стартирана в текущата папка)\n"
        "  --month ГГММ       месецът, например 2612 за декември 2026 г. (по подразбиране\n"
        "                     текущият или предишният, докато в текущия няма тестове)\n"
        "  --day Д            денят от месеца (по подразбиране последният ден с тестове);\n"
        "                     csv, json и html без --day дават целия месец\n"
        "  --failed           само каналите със знак „Г“ (за месеца: в който и да е ден)\n"
        "  --format ФОРМАТ    text (списък за деня), csv, json или html (по подразбиране text)\n"
        "  --separator З      разделител за csv, например ';' за електронни таблици с\n"
        "                     десетична запетая (по подразбиране ',')\n"
        "  --check            проверка за система за наблюдение (Icinga, Nagios): един ред\n"
        "                     състояние и код 0 (OK), 1 (WARNING), 2 (CRITICAL), 3 (UNKNOWN)\n"
        "  -w, --warning N    WARNING, когато неуспешните канали („Г“) за деня са повече от N;\n"
        "                     N% сравнява дела им от тестваните канали\n"
        "  -c, --critical N   CRITICAL при същото условие\n"
        "  --max-age Ч        CRITICAL, когато последният тест е по-стар от Ч часа\n"
        "                     (по подразбиране 26; 0 изключва проверката)\n"
        "  -h, --help         показва тази помощ\n"
        "  -V, --version      показва версията\n"
        "\n"
        "Изход: 0 успех, 1 липсващи или нечетими данни, 2 грешни аргументи;\n"
        "с --check кодовете на системата за наблюдение.\n");
}

} // namespace report
