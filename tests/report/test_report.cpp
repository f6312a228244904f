// chantest-report end to end: the real executable on a small month with every mark and damaged
// lines, each format read back as its consumers read it, the monitoring check and bad input; and
// two stations over two months, with failure streaks across the month boundary.
#include "PromReader.h"
#include "mock/TestFiles.h"
#include "monthfile/ResultJournal.h"
#include "report/Report.h"
#include "report/ReportFormats.h"
#include "core/TextFile.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const QString kA = QStringLiteral("София -- Център  12 Ch. --> #8123");
const QString kB = QStringLiteral("София -- Център  13 Ch. --> #8124");
const QString kC = QStringLiteral("Пловдив -- Юг  3 Ch. --> #7003");
const QString kD = QStringLiteral("Пловдив -- Юг  4 Ch. --> #7004");
const QString kE = QStringLiteral("Пловдив -- Юг  5 Ch. --> 7,\"5\"");
const QString kA2 = QStringLiteral("София -- Център  12 Ch. --> #9123"); // A after a new dial string

QString group(const QString& answer, const QString& delay, int day, const QString& hhnn) {
    return answer + u'^' + delay + u'^' + QStringLiteral("2612%1").arg(day, 2, 10, QChar(u'0')) + hhnn + u'^';
}

struct Run {
    int code = -1;
    QString out, err;
    QByteArray bytes;
};
} // namespace

class TestReport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void morningList();
    void csv();
    void json();
    void html();
    void check();
    void ageRule();
    void journalOfARunningRun();
    void nightAcrossMidnight();
    void unreadableFiles();
    void badInput();
    void streaksAndStations();
    void callRatios();

private:
    Run run(const QStringList& args) const;
    // The program in this process, as of `now`, reaching its files through `files`.
    Run runAt(const QStringList& args, const QDateTime& now, const report::FileAccess& files = {}) const;
    QJsonObject read(const QString& kind, const QByteArray& bytes, const QString& sep = QStringLiteral(",")) const;
    QStringList month(const QStringList& extra = {}) const {
        return QStringList{QStringLiteral("--results"), results_, QStringLiteral("--month"), QStringLiteral("2612")} +
               extra;
    }

    QTemporaryDir tmp_;
    QString results_;
};

void TestReport::initTestCase() {
    QVERIFY(tmp_.isValid());
    results_ = tmp_.filePath(QStringLiteral("Results"));
    QVERIFY(QDir().mkpath(results_));
    // Day 8: A fails, B connects after a busy, C is busy too long, D is busy, E fails with an empty
    // delay. Damaged: a line without a caret, a short timestamp, a day that is no number, a BUSY
    // whose delay is no number. A's dial string changed: its later line is A's too.
    TextFile::writeLines(
        results_ + QStringLiteral("/2612.tst"),
        {kA + u'^' + group("CONNECT 9600", "340", 7, "0210") + group("NO CARRIER", "1200", 8, "0215"),
         QStringLiteral("a line without a caret"),
         kB + u'^' + group("BUSY", "1500", 8, "0216") + group("CONNECT", "abc", 8, "0217") +
             QStringLiteral("BUSY^100^26120^"),
         kC + u'^' + group("BUSY", "2300", 8, "0220") + group("NO DIALTONE", "x", 9, "0100") +
             QStringLiteral("BUSY^100^2612xx0300^"),
         kD + u'^' + group("BUSY", "1800", 8, "0221") + group("BUSY", "zz", 8, "0222"),
         kE + u'^' + group("NO ANSWER <&>", "", 8, "0230"),
         kA2 + u'^' + group("NO CARRIER", "500", 9, "0130")});
}

Run TestReport::run(const QStringList& args) const {
    QProcess p;
    p.setWorkingDirectory(tmp_.path());
    p.start(qEnvironmentVariable("CHANTEST_BINARY_DIR") + QStringLiteral("/chantest-report"), args);
    Run r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.code = p.exitCode();
    r.bytes = p.readAllStandardOutput();
    r.out = QString::fromUtf8(r.bytes);
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

Run TestReport::runAt(const QStringList& args, const QDateTime& now, const report::FileAccess& files) const {
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    report::RunHooks hooks;
    hooks.files = files;
    Run r;
    r.code = report::Run(QStringList{QStringLiteral("chantest-report")} + args, out, err, now, tmp_.path(), hooks);
    r.bytes = out.data();
    r.out = QString::fromUtf8(r.bytes);
    r.err = QString::fromUtf8(err.data());
    return r;
}

QJsonObject TestReport::read(const QString& kind, const QByteArray& bytes, const QString& sep) const {
    const QString path = tmp_.filePath(QStringLiteral("out.") + kind);
    testfiles::writeBytes(path, bytes);
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(READ_REPORT_SCRIPT), kind, path, sep});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning("%s", p.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

void TestReport::morningList() {
    const Run r = run(month({QStringLiteral("--day"), QStringLiteral("8")}));
    QCOMPARE(r.code, 0);
    QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 7 + 5); // and the call ratios: heading, columns, two exchanges, total
    QVERIFY(lines[0].contains(QStringLiteral("08.12.2026")));
    // The worst first, file order within a mark; last answer, delay with the comma, time.
    QVERIFY(lines[1].startsWith(QStringLiteral("Г  София -- Център  12 Ch.")));
    QVERIFY(lines[1].contains(QStringLiteral("NO CARRIER ")) &&
            lines[1].endsWith(QStringLiteral(" 12,00  02:15  1 ден подред")));
    QVERIFY(lines[2].startsWith(QStringLiteral("Г  Пловдив -- Юг  3 Ch.")) && lines[2].contains(QStringLiteral("23,00")));
    QVERIFY(lines[3].startsWith(QStringLiteral("Г  Пловдив -- Юг  5 Ch.")));
    QVERIFY(lines[4].startsWith(QStringLiteral("З  Пловдив -- Юг  4 Ch.")) && lines[4].contains(QStringLiteral("18,00")));
    QVERIFY(lines[5].startsWith(QStringLiteral("Р  София -- Център  13 Ch.")));
    QVERIFY(lines[5].contains(QStringLiteral("CONNECT")) && lines[5].contains(QStringLiteral("abc  02:17")));
    const QString totals = QStringLiteral("Общо 5 канала: 3 без връзка (Г), 1 зает (З), 1 с връзка (Р)");
    QCOMPARE(lines[6], totals);

    // Only the failures, the totals still of the whole day; the default day is the latest one.
    lines = run(month({QStringLiteral("--day"), QStringLiteral("8"), QStringLiteral("--failed")}))
                .out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5 + 5);
    QVERIFY(lines[3].startsWith(QStringLiteral("Г  ")));
    QCOMPARE(lines[4], totals);
    QVERIFY(run(month()).out.contains(QStringLiteral("09.12.2026")));
}

void TestReport::csv() {
    const Run r = run(month({QStringLiteral("--format"), QStringLiteral("csv")}));
    QCOMPARE(r.code, 0);
    const QJsonObject c = read(QStringLiteral("csv"), r.bytes);
    QVERIFY(c.value("bom").toBool());
    QVERIFY(c.value("crlf").toBool());
    const QJsonArray rows = c.value("rows").toArray();
    QCOMPARE(rows.size(), 1 + 9); // header and one row per valid test
    QCOMPARE(rows[0].toArray().size(), 10);
    const auto row = [&](int i) {
        QStringList l;
        for (const QJsonValue& v : rows[i].toArray())
            l.append(v.toString());
        return l;
    };
    // A's two lines are one channel, shown with its latest dial string.
    // The streak is the channel's, up to the month's latest day: A failed on the 8th and the 9th.
    QCOMPARE(row(1), QStringList({"София", "Център", "12", "#9123", "2026-12-07", "02:10", "CONNECT 9600",
                                  "3.40", "Р", "2"}));
    QCOMPARE(row(3)[5], QStringLiteral("01:30"));
    QCOMPARE(row(5),
             QStringList({"София", "Център", "13", "#8124", "2026-12-08", "02:17", "CONNECT", "", "Р", "0"}));
    QCOMPARE(row(6)[8], QStringLiteral("Г")); // BUSY above 22 s
    QCOMPARE(row(7)[7], QString());           // NO DIALTONE with a damaged delay
    QCOMPARE(row(9), QStringList({"Пловдив", "Юг", "5", "7,\"5\"", "2026-12-08", "02:30", "NO ANSWER <&>", "",
                                  "Г", "0"}));

    // For a spreadsheet with a decimal comma; one day; only failed channels.
    const Run s = run(month({QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--separator"),
                             QStringLiteral(";"), QStringLiteral("--day"), QStringLiteral("8"),
                             QStringLiteral("--failed")}));
    const QJsonArray semi = read(QStringLiteral("csv"), s.bytes, QStringLiteral(";")).value("rows").toArray();
    QCOMPARE(semi.size(), 1 + 3);
    QCOMPARE(semi[1].toArray()[7].toString(), QStringLiteral("12,00")); // the decimal comma too
    QCOMPARE(semi[3].toArray()[3].toString(), QStringLiteral("7,\"5\""));

    // Fields a spreadsheet would take for a formula get an apostrophe; json keeps them as recorded.
    TextFile::writeLines(
        results_ + QStringLiteral("/2610.tst"),
        {QStringLiteral("Русе -- Изток  1 Ch. --> +35982^=HYPERLINK(\"http://x\")^300^2610010100^")});
    const QStringList oct = {QStringLiteral("--results"), results_, QStringLiteral("--month"),
                             QStringLiteral("2610")};
    const Run t = run(oct + QStringList{QStringLiteral("--format"), QStringLiteral("csv"),
                                        QStringLiteral("--separator"), QStringLiteral("tab")});
    const QJsonArray tab = read(QStringLiteral("csv"), t.bytes, QStringLiteral("\t")).value("rows").toArray();
    QCOMPARE(tab[1].toArray()[3].toString(), QStringLiteral("'+35982"));
    QCOMPARE(tab[1].toArray()[6].toString(), QStringLiteral("'=HYPERLINK(\"http://x\")"));
    QVERIFY(run(oct + QStringList{QStringLiteral("--format"), QStringLiteral("json")})
                .out.contains(QStringLiteral("\"dial\":\"+35982\"")));
}

void TestReport::json() {
    const Run r = run(month({QStringLiteral("--format"), QStringLiteral("json")}));
    QCOMPARE(r.code, 0);
    const QJsonObject j = read(QStringLiteral("json"), r.bytes);
    const QJsonArray channels = j.value("channels").toArray();
    QCOMPARE(channels.size(), 5);
    const QJsonObject a = channels[0].toObject();
    QCOMPARE(a.value("direction").toString(), QStringLiteral("София"));
    QCOMPARE(a.value("exchange").toString(), QStringLiteral("Център"));
    QCOMPARE(a.value("channel").toString(), QStringLiteral("12"));
    QCOMPARE(a.value("dial").toString(), QStringLiteral("#9123"));
    const QJsonArray days = a.value("days").toArray();
    QCOMPARE(days.size(), 3);
    QCOMPARE(days[1].toObject().value("mark").toString(), QStringLiteral("Г"));
    const QJsonObject t = days[1].toObject().value("tests").toArray()[0].toObject();
    QCOMPARE(t.value("answer").toString(), QStringLiteral("NO CARRIER"));
    QCOMPARE(t.value("delay").toDouble(), 12.0);
    QCOMPARE(t.value("time").toString(), QStringLiteral("02:15"));
    const QJsonObject b = channels[1].toObject().value("days").toArray()[0].toObject();
    QCOMPARE(b.value("mark").toString(), QStringLiteral("Р"));
    QCOMPARE(b.value("tests").toArray().size(), 2);
    QVERIFY(b.value("tests").toArray()[1].toObject().value("delay").isNull());
    QCOMPARE(channels[4].toObject().value("dial").toString(), QStringLiteral("7,\"5\""));
}

void TestReport::html() {
    const Run r = run(month({QStringLiteral("--format"), QStringLiteral("html"), QStringLiteral("--all")}));
    QCOMPARE(r.code, 0);
    const QJsonObject h = read(QStringLiteral("html"), r.bytes);
    QCOMPARE(h.value("errors").toArray(), QJsonArray());
    QCOMPARE(h.value("title").toString(), QStringLiteral("Данни за месец Декември 2026 г."));
    QVERIFY(r.out.contains(QStringLiteral("size: A4 landscape")));
    const QJsonArray tables = h.value("tables").toArray();
    const auto table = [&](const QString& cls) {
        for (const QJsonValue& t : tables)
            if (t.toObject().value("class").toString() == cls)
                return t.toObject().value("rows").toArray();
        return QJsonArray();
    };
    const QJsonArray grid = table(QStringLiteral("grid"));
    QCOMPARE(grid.size(), 1 + 5);
    QCOMPARE(grid[0].toArray().size(), 2 + 31 + 1); // and the streak
    const auto cell = [&](int row, int day) { return grid[row].toArray()[day + 1].toObject(); };
    QCOMPARE(grid[1].toArray()[1].toObject().value("text").toString(), QStringLiteral("София -- Център  12 Ch."));
    QCOMPARE(cell(1, 7).value("text").toString(), QStringLiteral("Р"));
    QCOMPARE(cell(1, 7).value("class").toString(), QStringLiteral("r"));
    QCOMPARE(cell(1, 8).value("class").toString(), QStringLiteral("g"));
    QCOMPARE(cell(2, 8).value("title").toString(), QStringLiteral("BUSY 15,00 02:16\nCONNECT abc 02:17"));
    QCOMPARE(cell(4, 8).value("class").toString(), QStringLiteral("z"));
    QCOMPARE(cell(5, 8).value("title").toString(), QStringLiteral("NO ANSWER <&>  02:30"));
    QCOMPARE(cell(1, 9).value("title").toString(), QStringLiteral("NO CARRIER 5,00 01:30"));
    QVERIFY(cell(2, 9).value("text").toString().isEmpty());
    // Per direction: channels, tested channel-days, with a connection, the share.
    const QJsonArray sum = table(QStringLiteral("sum"));
    QCOMPARE(sum.size(), 1 + 2 + 1);
    const auto texts = [&](int row) {
        QStringList l;
        for (const QJsonValue& v : sum[row].toArray())
            l.append(v.toObject().value("text").toString());
        return l;
    };
    QCOMPARE(texts(1), QStringList({"София", "2", "4", "2", "50,0 %"}));
    QCOMPARE(texts(2), QStringList({"Пловдив", "3", "4", "0", "0,0 %"}));
    QCOMPARE(texts(3), QStringList({"Общо", "5", "8", "2", "25,0 %"}));
    // By default only the channels with a failure: none on the 7th, which A passed.
    const Run seventh = run(month(
        {QStringLiteral("--format"), QStringLiteral("html"), QStringLiteral("--day"), QStringLiteral("7")}));
    QVERIFY(seventh.out.contains(QStringLiteral("Няма канали с „Г“.")) &&
            seventh.out.contains(QStringLiteral("поне в един ден: 0 от 5.")));
}

void TestReport::check() {
    // Day 8: 5 channels tested, 3 failed (60 %), 1 busy, 1 connected.
    const auto status = [&](const QStringList& extra) {
        return run(month(QStringList{QStringLiteral("--check"), QStringLiteral("--day"), QStringLiteral("8"),
                                     QStringLiteral("--max-age"), QStringLiteral("0")} +
                         extra));
    };
    Run r = status({QStringLiteral("-w"), QStringLiteral("2"), QStringLiteral("-c"), QStringLiteral("3")});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.out, QStringLiteral("CHANTEST WARNING - 3 of 5 channels failed on 08.12.2026 | "
                                   "failed=3;2;3;0;5 busy=1 connected=1\n"));
    QCOMPARE(status({QStringLiteral("-c"), QStringLiteral("2")}).code, 2);
    QCOMPARE(status({QStringLiteral("-w"), QStringLiteral("3")}).code, 0);
    QVERIFY(status({}).out.startsWith(QStringLiteral("CHANTEST OK - 3 of 5")));
    r = status({QStringLiteral("-w"), QStringLiteral("50%"), QStringLiteral("--critical=60%")});
    QCOMPARE(r.code, 1);
    QVERIFY(r.out.endsWith(QStringLiteral("failed=3;;;0;5 busy=1 connected=1 failed_share=60%;50;60;0;100\n")));
    QCOMPARE(status({QStringLiteral("-c"), QStringLiteral("59.9%")}).code, 2);

    // UNKNOWN: all on standard output, the status line first and the reason after it (a
    // monitoring system shows the first line and may merge standard error into it).
    const auto unknown = [&](const QStringList& args, const QString& status) {
        const Run u = run(QStringList{QStringLiteral("--check")} + args);
        QCOMPARE(u.code, 3);
        QVERIFY2(u.out.startsWith(QStringLiteral("CHANTEST UNKNOWN - ") + status), qPrintable(u.out));
        QVERIFY2(u.out.count(u'\n') >= 2 && u.err.isEmpty(), qPrintable(u.err));
    };
    unknown({QStringLiteral("--results"), tmp_.filePath(QStringLiteral("none"))}, QStringLiteral("no results folder"));
    unknown({QStringLiteral("--results"), results_, QStringLiteral("--month"), QStringLiteral("2601")},
            QStringLiteral("no month file"));
    QVERIFY(QDir().mkpath(results_ + QStringLiteral("/2602.tst")));
    unknown({QStringLiteral("--results"), results_, QStringLiteral("--month"), QStringLiteral("2602")},
            QStringLiteral("cannot read"));
    TextFile::writeLines(results_ + QStringLiteral("/2603.tst"), {QStringLiteral("no tests^here")});
    unknown({QStringLiteral("--results"), results_, QStringLiteral("--month"), QStringLiteral("2603")},
            QStringLiteral("no test in"));
    // The bad argument named, on one line without a '|' that would start the performance data.
    unknown({QStringLiteral("-w"), QStringLiteral("-1")}, QStringLiteral("bad arguments: -w -1\n"));
    unknown({QStringLiteral("-c"), QStringLiteral("101%")}, QStringLiteral("bad arguments: -c 101%\n"));
    unknown(month({QStringLiteral("--day"), QStringLiteral("32")}),
            QStringLiteral("bad arguments: --day 32\n"));
    unknown({QStringLiteral("--separator"), QStringLiteral("|")},
            QStringLiteral("bad arguments: --separator ?\n"));
    r = run({QStringLiteral("--check=1")});
    QCOMPARE(r.code, 3);
    QVERIFY(r.out.startsWith(QStringLiteral("CHANTEST UNKNOWN - bad arguments: --check=1\n")));
    for (const QString& what : {QStringLiteral("--help"), QStringLiteral("--version")}) {
        r = run({QStringLiteral("--check"), what});
        QVERIFY(r.code == 3 && r.out.contains(QStringLiteral("chantest-report")));
    }
}

void TestReport::ageRule() {
    // A scheduler that stopped: the latest test 30 hours ago.
    QTemporaryDir dir;
    const QDateTime last = QDateTime::currentDateTime().addSecs(-30 * 3600);
    TextFile::writeLines(dir.filePath(QStringLiteral("%1.tst").arg(last.toString(QStringLiteral("yyMM")))),
                         {kA + QStringLiteral("^NO CARRIER^100^") + last.toString(QStringLiteral("yyMMddHHmm")) + u'^'});
    const QStringList args = {QStringLiteral("--check"), QStringLiteral("--results"), dir.path(), QStringLiteral("--month"),
                              last.toString(QStringLiteral("yyMM"))};
    Run r = run(args);
    QCOMPARE(r.code, 2);
    QVERIFY2(r.out.startsWith(QStringLiteral("CHANTEST CRITICAL - no test since ") +
                              last.toString(QStringLiteral("dd.MM.yyyy HH:mm")) + QStringLiteral(" | failed=1;")),
             qPrintable(r.out));
    QCOMPARE(run(args + QStringList{QStringLiteral("--max-age"), QStringLiteral("31")}).code, 0);
    QCOMPARE(run(args + QStringList{QStringLiteral("--max-age"), QStringLiteral("0")}).code, 0);
}

void TestReport::journalOfARunningRun() {
    // A run going on: its tests are in the journal beside the month file; the file stays as it is.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("2611.tst"));
    TextFile::writeLines(path, {kA + u'^' + QStringLiteral("BUSY^1500^2611091000^")});
    const QByteArray before = testfiles::readBytes(path);
    {
        ResultJournal j;
        j.create(ResultJournal::pathFor(path), FileFingerprint::of(before));
        j.append({kA, QStringLiteral("NO CARRIER"), QStringLiteral("300"), QStringLiteral("2611100700")});
        j.append({kB, QStringLiteral("CONNECT 2400"), QStringLiteral("900"), QStringLiteral("2611100705")});
        j.close();
    }
    const QStringList args = {QStringLiteral("--results"), dir.path(), QStringLiteral("--month"), QStringLiteral("2611")};
    Run r = run(args);
    QCOMPARE(r.code, 0);
    QVERIFY2(r.out.contains(QStringLiteral("10.11.2026")) && r.out.contains(QStringLiteral("Общо 2 канала: 1 без")),
             qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral(".jrn (2 теста)")), qPrintable(r.out));
    QCOMPARE(testfiles::readBytes(path), before);
    QVERIFY(QFile::exists(ResultJournal::pathFor(path)));
    // A journal made for another state of the file has already been merged: not counted twice.
    TextFile::writeLines(path, {kA + u'^' + QStringLiteral("BUSY^1500^2611091000^NO CARRIER^300^2611100700^")});
    r = run(args);
    QVERIFY2(r.out.contains(QStringLiteral("Общо 1 канал: 1 без")), qPrintable(r.out));
    // The next run's first test.
    ResultJournal next;
    next.create(ResultJournal::pathFor(path), FileFingerprint::of(testfiles::readBytes(path)));
    next.append({kB, QStringLiteral("BUSY"), QStringLiteral("300"), QStringLiteral("2611110700")});
    next.close();
    QVERIFY2(run(args).out.contains(QStringLiteral(".jrn (1 тест)")), qPrintable(run(args).out));
}

void TestReport::nightAcrossMidnight() {
    // A nightly run from 30.11 22:00: five channels fail before midnight, ten connect after it.
    // Channel 6's dial string changed on the 1st: its old line failed, its new one connects last.
    QTemporaryDir dir;
    const auto key = [](int c, const char* dial) {
        return QStringLiteral("Варна -- Морска  %1 Ch. --> %2").arg(c).arg(QLatin1String(dial));
    };
    QStringList nov, dec{key(6, "#1") + QStringLiteral("^NO CARRIER^400^2612010001^")};
    const int failedAt[] = {40, 45, 50, 55, 58};
    for (int c = 1; c <= 5; ++c)
        nov.append(key(c, "#1") + QStringLiteral("^NO CARRIER^400^26113023%1^").arg(failedAt[c - 1]));
    for (int c = 7; c <= 15; ++c)
        dec.append(key(c, "#1") +
                   QStringLiteral("^CONNECT 9600^1200^26120100%1^").arg(5 * (c - 6), 2, 10, QChar(u'0')));
    dec.append(key(6, "#2") + QStringLiteral("^CONNECT 9600^1200^2612010050^"));
    TextFile::writeLines(dir.filePath(QStringLiteral("2611.tst")), nov);
    TextFile::writeLines(dir.filePath(QStringLiteral("2612.tst")), dec);

    // The morning check: the last 24 hours, from the previous month's file too; the age rule from
    // the latest test, on channel 6's new line.
    const QDateTime morning(QDate(2026, 12, 1), QTime(1, 48));
    const QStringList check = {QStringLiteral("--results"), dir.path(),          QStringLiteral("--check"),
                               QStringLiteral("-c"),        QStringLiteral("4"), QStringLiteral("--max-age"),
                               QStringLiteral("1")};
    Run r = runAt(check, morning);
    QCOMPARE(r.out,
             QStringLiteral("CHANTEST CRITICAL - 5 of 15 channels failed in the 24 h to 01.12.2026 00:50 | "
                            "failed=5;;4;0;15 busy=0 connected=10\n"));
    QCOMPARE(r.code, 2);
    r = runAt(check + QStringList{QStringLiteral("--hours"), QStringLiteral("1")}, morning);
    QVERIFY2(r.out.startsWith(
                 QStringLiteral("CHANTEST OK - 2 of 12 channels failed in the 1 h to 01.12.2026 00:50 |")),
             qPrintable(r.out));
    r = runAt(check + QStringList{QStringLiteral("--day"), QStringLiteral("1")}, morning);
    QVERIFY2(r.out.startsWith(QStringLiteral("CHANTEST OK - 0 of 10 channels failed on 01.12.2026 |")),
             qPrintable(r.out));

    // The list names both files; times come with their dates.
    const QStringList lines =
        runAt({QStringLiteral("--results"), dir.path()}, morning).out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + 15 + 1 + 4); // the call ratios: heading, columns, one exchange, total
    QCOMPARE(lines[0],
             QStringLiteral("Тестове на каналите за 24 ч до 01.12.2026 00:50, файлове %1 и %2")
                 .arg(dir.filePath(QStringLiteral("2611.tst")), dir.filePath(QStringLiteral("2612.tst"))));
    QVERIFY2(lines[1].startsWith(QStringLiteral("Г  Варна -- Морска  1 Ch. ")) &&
                 lines[1].endsWith(QStringLiteral(" 4,00  30.11 23:40  1 ден подред")),
             qPrintable(lines[1]));
    QVERIFY2(lines[6].startsWith(QStringLiteral("Р  Варна -- Морска  6 Ch. ")) &&
                 lines[6].endsWith(QStringLiteral("12,00  01.12 00:50")),
             qPrintable(lines[6]));
    QCOMPARE(lines[16], QStringLiteral("Общо 15 канала: 5 без връзка (Г), 0 заети (З), 10 с връзка (Р)"));
    // The ratios count November's five failures too: 10 connections of 16 tests, every one 12 s.
    QCOMPARE(lines[20], QStringLiteral("Общо 16 теста: ASR 62,5 %, NER 62,5 %, закъснение на връзките: "
                                       "медиана 12,00 с, 95 % до 12,00 с"));
    // The month for a program: channel 6 once, with its new dial string.
    const QJsonArray channels =
        QJsonDocument::fromJson(runAt({QStringLiteral("--results"), dir.path(), QStringLiteral("--format"),
                                       QStringLiteral("json")},
                                      morning)
                                    .bytes)
            .object()
            .value("channels")
            .toArray();
    QCOMPARE(channels.size(), 10);
    QCOMPARE(channels[0].toObject().value("dial").toString(), QStringLiteral("#2"));
    QCOMPARE(channels[0].toObject().value("days").toArray()[0].toObject().value("mark").toString(),
             QStringLiteral("Р"));
}

void TestReport::unreadableFiles() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("2612.tst"));
    const QStringList args = {QStringLiteral("--results"), dir.path(), QStringLiteral("--month"),
                              QStringLiteral("2612")};
    const QStringList check = QStringList{QStringLiteral("--check")} + args;
    const auto status = [](const Run& r) { return r.out.section(u'\n', 0, 0); };

    // A month file is text: one with a NUL byte is refused at the first.
    testfiles::writeBytes(path, QByteArray("a line\r\nab\0cd\0\r\n", 16));
    QCOMPARE(status(run(check)), QStringLiteral("CHANTEST UNKNOWN - NUL byte at offset 10 in ") + path);
    QVERIFY(run(args).err.contains(QStringLiteral("съдържа нулев байт (отместване 10 ")));

    // A FIFO is refused at once, not waited on.
    QVERIFY(QFile::remove(path) && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    Run r = run(check);
    QCOMPARE(r.code, 3);
    QCOMPARE(status(r), QStringLiteral("CHANTEST UNKNOWN - cannot read %1: not a regular file").arg(path));
    QVERIFY(run(args).err.contains(QStringLiteral("не е обикновен файл, а програмен канал (FIFO)")));

    // A file system that does not answer, as an open that waits on that FIFO: the time limit
    // ends the check with its status line.
    int pipeFds[2];
    QVERIFY(::pipe(pipeFds) == 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        report::FileAccess hung;
        hung.open = [](const QByteArray& p, int flags) { return ::open(p.constData(), flags & ~O_NONBLOCK); };
        report::Main(
            QStringList{QStringLiteral("chantest-report"), QStringLiteral("-t"), QStringLiteral("1")} + check,
            dir.path(), hung);
        ::_exit(99);
    }
    ::close(pipeFds[1]);
    QByteArray said;
    pollfd pfd{pipeFds[0], POLLIN, 0};
    char buf[512];
    ssize_t n = 1;
    while (n > 0 && ::poll(&pfd, 1, 20000) == 1 && (n = ::read(pipeFds[0], buf, sizeof buf)) > 0)
        said.append(buf, n);
    ::close(pipeFds[0]);
    ::kill(pid, SIGKILL); // only if it outlived its limit
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    QVERIFY2(said.startsWith("CHANTEST UNKNOWN - timed out after 1 s\n"), said.constData());
    QVERIFY(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 3);

    // Permission denied, as the kernel tells a monitoring user (it never tells root).
    const QString nov = dir.filePath(QStringLiteral("2611.tst"));
    TextFile::writeLines(nov, {kA + QStringLiteral("^BUSY^100^2611010100^")});
    const auto refusing = [](const QString& refused) {
        report::FileAccess f;
        f.open = [name = QFile::encodeName(refused)](const QByteArray& p, int flags) {
            if (p != name && !p.startsWith(name + '/')) // a folder refuses all within it
                return ::open(p.constData(), flags);
            errno = EACCES;
            return -1;
        };
        return f;
    };
    const QStringList novArgs = {QStringLiteral("--results"), dir.path(), QStringLiteral("--month"),
                                 QStringLiteral("2611")};
    const QDateTime now(QDate(2026, 11, 2), QTime(8, 0));
    QCOMPARE(status(runAt(QStringList{QStringLiteral("--check")} + novArgs, now, refusing(dir.path()))),
             QStringLiteral("CHANTEST UNKNOWN - permission denied: ") + dir.path());
    r = runAt(novArgs, now, refusing(nov));
    QVERIFY2(r.code == 1 &&
                 r.err.contains(QStringLiteral("Файлът с резултати %1 не може да бъде прочетен: достъпът е "
                                               "отказан.")
                                    .arg(nov)),
             qPrintable(r.err));
}

void TestReport::badInput() {
    const auto bad = [&](const QStringList& args, int code, const QString& says) {
        const Run r = run(args);
        QCOMPARE(r.code, code);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
    };
    bad({QStringLiteral("--bogus")}, 2, QStringLiteral("Непозната опция: --bogus"));
    bad(month({QStringLiteral("--format"), QStringLiteral("pdf")}), 2, QStringLiteral("Непознат формат „pdf“"));
    bad({QStringLiteral("--month"), QStringLiteral("2613")}, 2, QStringLiteral("ГГММ"));
    bad(month({QStringLiteral("--separator"), QStringLiteral("\"")}), 2, QStringLiteral("Разделителят"));
    bad(month({QStringLiteral("--separator"), QStringLiteral("|")}), 2,
        QStringLiteral("възможни са „,“, „;“ и tab"));
    bad(month({QStringLiteral("--hours"), QStringLiteral("745")}), 2, QStringLiteral("от 1 до 744"));
    bad(month({QStringLiteral("--day")}), 2, QStringLiteral("изисква стойност"));
    bad(month({QStringLiteral("--min-days"), QStringLiteral("2")}), 2,
        QStringLiteral("се отнася до --failed"));
    bad({QStringLiteral("--results"), QStringLiteral("a/Results"), QStringLiteral("--results"),
         QStringLiteral("a=b")},
        2, QStringLiteral("едно име „a“"));
    bad({QStringLiteral("--results"), tmp_.filePath(QStringLiteral("none"))}, 1, QStringLiteral("не съществува"));
    bad({QStringLiteral("--results"), results_, QStringLiteral("--month"), QStringLiteral("2601")}, 1,
        QStringLiteral("Няма файл с резултати"));
    bad({QStringLiteral("--results"), results_, QStringLiteral("--month"), QStringLiteral("2602"), QStringLiteral("--day"),
         QStringLiteral("29")},
        1, QStringLiteral("извън месеца"));
    bad(month({QStringLiteral("--all")}), 2, QStringLiteral("--all се отнася до html"));
    bad(month({QStringLiteral("--format"), QStringLiteral("html"), QStringLiteral("--all"),
               QStringLiteral("--failed")}),
        2, QStringLiteral("не вървят заедно"));
    bad(month({QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--summary")}), 2,
        QStringLiteral("--summary се отнася до csv"));
    bad(month({QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("--summary"),
               QStringLiteral("--failed")}),
        2, QStringLiteral("не върви с --failed"));
    const Run help = run({QStringLiteral("--help")});
    QCOMPARE(help.code, 0);
    QVERIFY(help.out.contains(QStringLiteral("--separator")) && help.out.contains(QStringLiteral("Употреба")));
}

void TestReport::streaksAndStations() {
    // Station "Север" (a folder called Results is named by the one above it): channel 21 fails from
    // 27 November, 22 from 30 November, 23 fails on 28 and 30 November and, by the journal of a
    // run still going, on 29 November, and is busy on 3 December. 21's dial string changed on the
    // 3rd. Station "Юг" (named) has December only; "Изток" cannot be read.
    QTemporaryDir dir;
    const QString sever = dir.filePath(QStringLiteral("Север/Results")),
                  yug = dir.filePath(QStringLiteral("yug"));
    QVERIFY(QDir().mkpath(sever) && QDir().mkpath(yug));
    const auto tests = [](const QString& yymm,
                          const QList<std::tuple<const char*, const char*, int, const char*>>& l) {
        QString out;
        for (const auto& [answer, delay, day, hhnn] : l)
            out += QStringLiteral("%1^%2^%3%4%5^")
                       .arg(QLatin1String(answer), QLatin1String(delay), yymm)
                       .arg(day, 2, 10, QChar(u'0'))
                       .arg(QLatin1String(hhnn));
        return out;
    };
    const QString a = QStringLiteral("Варна -- Морска  21 Ch. --> #8021"),
                  b = QStringLiteral("Варна -- Морска  22 Ch. --> #8022"),
                  c = QStringLiteral("Варна -- Морска  23 Ch. --> #8023");
    const QString nov = sever + QStringLiteral("/2611.tst");
    TextFile::writeLines(
        nov, {a + u'^' +
                  tests("2611", {{"CONNECT 9600", "1200", 26, "0200"},
                                 {"NO CARRIER", "100", 27, "0200"},
                                 {"NO CARRIER", "100", 28, "0200"},
                                 {"NO CARRIER", "100", 29, "0200"},
                                 {"NO CARRIER", "100", 30, "0200"}}),
              QStringLiteral("повреден ред без разделител"), a + QStringLiteral("^NO CARRIER^100^26112^"),
              b + u'^' + tests("2611", {{"CONNECT", "900", 29, "0201"}, {"NO CARRIER", "100", 30, "0201"}}),
              c + u'^' + tests("2611", {{"NO CARRIER", "100", 28, "0202"}, {"BUSY", "2500", 30, "0202"}})});
    ResultJournal j;
    j.create(ResultJournal::pathFor(nov), FileFingerprint::of(testfiles::readBytes(nov)));
    j.append({c, QStringLiteral("NO ANSWER"), QStringLiteral("300"), QStringLiteral("2611292355")});
    j.close();
    TextFile::writeLines(
        sever + QStringLiteral("/2612.tst"),
        {a + u'^' + tests("2612", {{"NO CARRIER", "100", 1, "0200"}, {"BUSY", "2300", 2, "0200"}}),
         b + u'^' +
             tests("2612", {{"NO CARRIER", "100", 1, "0201"},
                            {"NO CARRIER", "100", 2, "0201"},
                            {"NO CARRIER", "100", 3, "0201"}}),
         c + u'^' +
             tests("2612", {{"NO CARRIER", "100", 1, "0202"},
                            {"NO CARRIER", "100", 2, "0202"},
                            {"BUSY", "1500", 3, "0202"}}),
         QStringLiteral("София -- Център  11 Ch. --> #8111^") +
             tests("2612", {{"CONNECT 9600", "1200", 1, "0203"},
                            {"CONNECT 9600", "1200", 2, "0203"},
                            {"CONNECT 9600", "1150", 3, "0203"}}),
         QStringLiteral("a line without a caret"),
         QStringLiteral("София -- Център  12 Ch. --> #8112^") +
             tests("2612", {{"CONNECT", "800", 2, "0204"},
                            {"NO CARRIER", "100", 3, "0204"},
                            {"BUSY", "abc", 3, "0205"}}),
         QStringLiteral("Варна -- Морска  21 Ch. --> #9021^") +
             tests("2612", {{"NO DIALTONE", "100", 3, "0200"}})});
    TextFile::writeLines(
        yug + QStringLiteral("/2612.tst"),
        {QStringLiteral("Пловдив -- Юг  3 Ch. --> #7003^") +
             tests("2612", {{"NO CARRIER", "100", 2, "0110"}, {"NO CARRIER", "100", 3, "0110"}}),
         QStringLiteral("Пловдив -- Юг  4 Ch. --> #7004^") + tests("2612", {{"CONNECT", "900", 3, "0111"}})});
    const QStringList one = {QStringLiteral("--results"), sever, QStringLiteral("--month"),
                             QStringLiteral("2612")};
    const QStringList two = one + QStringList{QStringLiteral("--results"), QStringLiteral("Юг=") + yug};
    const QStringList three =
        two + QStringList{QStringLiteral("--results"), QStringLiteral("Изток=") + dir.filePath("none")};
    const auto args = [](const QStringList& base, const char* more) {
        return base + QString::fromLatin1(more).split(u' ', Qt::SkipEmptyParts);
    };

    // The list: the longest streaks first, across the month boundary (4 days of November).
    Run r = run(one);
    QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + 5 + 1 + 5); // the call ratios of two exchanges
    QVERIFY2(lines[1].startsWith(QStringLiteral("Г  Варна -- Морска  21 Ch.  NO DIALTONE")) &&
                 lines[1].endsWith(QStringLiteral("03.12 02:00  7 дни подред")),
             qPrintable(lines[1]));
    QVERIFY(lines[2].startsWith(QStringLiteral("Г  Варна -- Морска  22")) &&
            lines[2].endsWith(QStringLiteral("4 дни подред")));
    QVERIFY(lines[3].startsWith(QStringLiteral("Г  София -- Център  12")) &&
            lines[3].endsWith(QStringLiteral("1 ден подред")));
    QVERIFY(lines[4].startsWith(QStringLiteral("З  Варна -- Морска  23")) &&
            lines[4].endsWith(QStringLiteral("02:02")));
    lines = run(args(one, "--failed --min-days 4")).out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + 2 + 1 + 5);
    QVERIFY(lines[2].contains(QStringLiteral("22 Ch.")));
    // Both stations, each named beside its channels; Юг's 24 hours end at its own latest test.
    lines = run(args(two, "--failed")).out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.mid(0, 3),
             QStringList({QStringLiteral("Тестове на каналите за 24 ч до последния тест на всяка станция:"),
                          QStringLiteral("  Север: до 03.12.2026 02:04, файл %1/2612.tst").arg(sever),
                          QStringLiteral("  Юг: до 03.12.2026 01:11, файл %1/2612.tst").arg(yug)}));
    QVERIFY2(lines[5].startsWith(QStringLiteral("Г  Юг     Пловдив -- Юг  3 Ch.")) &&
                 lines[5].endsWith(QStringLiteral("2 дни подред")),
             qPrintable(lines[5]));

    // The check: a channel failed one night pages no one with --min-days 2; one folder that cannot
    // be read makes it UNKNOWN, unless it is let go.
    r = run(args(two, "--check --max-age 0 -w 1 -c 2 --min-days 2"));
    QCOMPARE(r.out.section(u'\n', 0, 0),
             QStringLiteral(
                 "CHANTEST CRITICAL - 3 of 7 channels failed 2+ days in a row in the 24 h to the latest test "
                 "at 2 stations | failed=4;;;0;7 failed_2d=3;1;2;0;7 busy=1 connected=2"));
    QCOMPARE(r.code, 2);
    QVERIFY(r.out.contains(
        QStringLiteral("\nЮг: 1 of 2 channels failed 2+ days in a row in the 24 h to 03.12.2026 01:11\n")));
    QCOMPARE(run(args(two, "--check --max-age 0 -w 1 -c 2 --min-days 5")).code, 0);
    QCOMPARE(run(args(two, "--check --max-age 0 -w 1 -c 2")).code, 2);
    r = run(args(three, "--check --max-age 0 --min-days 5"));
    QVERIFY2(r.code == 3 && r.out.startsWith(QStringLiteral("CHANTEST UNKNOWN - Изток: no results folder ")),
             qPrintable(r.out));
    r = run(args(three, "--check --max-age 0 --min-days 5 --ignore-missing"));
    QVERIFY2(r.code == 0 && r.out.startsWith(QStringLiteral("CHANTEST OK - 1 of 7")) &&
                 r.out.contains(QStringLiteral("\nИзток: skipped, no results folder ")),
             qPrintable(r.out));

    // The metrics: a strict reader, promtool where installed; the station that cannot be read is
    // a failure of its own and the output is still whole.
    r = run(args(three, "--format prometheus"));
    QCOMPARE(r.code, 0);
    QVERIFY(r.err.contains(QStringLiteral("Изток: Папката с резултати")));
    const promreader::Result m = promreader::Read(r.bytes);
    QVERIFY2(m.ok(), qPrintable(QStringLiteral("line %1: %2").arg(m.errorLine).arg(m.error)));
    const auto value = [&](const char* family, const QList<QPair<QByteArray, QString>>& labels) {
        for (const promreader::Sample& s : m.family(family)->samples)
            if (std::all_of(labels.begin(), labels.end(),
                            [&](const auto& l) { return s.label(l.first) == l.second; }))
                return s.value;
        return -1.0;
    };
    const QPair<QByteArray, QString> atSever{"station", QStringLiteral("Север")},
        varna{"direction", QStringLiteral("Варна")};
    QCOMPARE(value("chantest_report_success", {{"station", QStringLiteral("Изток")}}), 0.0);
    QCOMPARE(value("chantest_latest_test_timestamp_seconds", {{"station", QStringLiteral("Юг")}}),
             double(QDateTime(QDate(2026, 12, 3), QTime(1, 11)).toSecsSinceEpoch()));
    QCOMPARE(value("chantest_channels_busy", {atSever, varna}), 1.0);
    QCOMPARE(value("chantest_failed_channel_streak", {atSever, {"channel", QStringLiteral("21")}}), 7.0);
    QCOMPARE(value("chantest_channels_failing_streak", {atSever, varna, {"min_days", QStringLiteral("3")}}),
             2.0);
    QCOMPARE(value("chantest_channels_failing_streak", {atSever, varna, {"min_days", QStringLiteral("7")}}),
             1.0);
    QCOMPARE(m.family("chantest_failed_channel_streak")->samples.size(), 4);
    QVERIFY(!r.out.contains(QStringLiteral("#8021")));
    if (const QString tool = QStandardPaths::findExecutable(QStringLiteral("promtool")); !tool.isEmpty()) {
        QProcess p;
        p.start(tool, {QStringLiteral("check"), QStringLiteral("metrics")});
        p.write(r.bytes);
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished() && p.exitCode() == 0);
    }

    // The month for a spreadsheet and a program: the station and the streak with every row.
    r = run(args(three, "--format csv"));
    QCOMPARE(r.code, 1); // a folder was missing
    QCOMPARE(run(args(three, "--format csv --ignore-missing")).code, 0);
    const QJsonArray rows = read(QStringLiteral("csv"), r.bytes).value("rows").toArray();
    QCOMPARE(rows[0].toArray().first().toString(), QStringLiteral("Станция"));
    QCOMPARE(rows[1].toArray().toVariantList(),
             QVariantList({"Север", "Варна", "Морска", "21", "#9021", "2026-12-01", "02:00", "NO CARRIER",
                           "1.00", "Г", "7"}));
    QCOMPARE(rows.last().toArray().toVariantList(),
             QVariantList(
                 {"Юг", "Пловдив", "Юг", "4", "#7004", "2026-12-03", "01:11", "CONNECT", "9.00", "Р", "0"}));
    // One day: the streaks up to it, the journal of November's running run included (23: 28-30
    // November and 1-2 December).
    const QJsonObject day2 = read(QStringLiteral("json"), run(args(one, "--format json --day 2")).bytes);
    QCOMPARE(day2.value("streak_to").toString(), QStringLiteral("2026-12-02"));
    QList<int> streaks;
    for (const QJsonValue& ch : day2.value("channels").toArray())
        streaks << ch.toObject().value("streak").toInt();
    QCOMPARE(streaks, (QList<int>{6, 3, 5, 0, 0}));
    const QJsonObject j2 = read(QStringLiteral("json"), run(args(three, "--format json")).bytes);
    QCOMPARE(j2.value("stations").toArray()[2].toObject().value("error").toString().left(19),
             QStringLiteral("Папката с резултати"));
    QCOMPARE(j2.value("channels").toArray().last().toObject().value("station").toString(),
             QStringLiteral("Юг"));

    // The page: the persistent failures first, longest first, the streak beside each failed
    // channel, a chart per direction and the delays.
    r = run(args(three, "--format html"));
    const QJsonObject h = read(QStringLiteral("html"), r.bytes);
    QCOMPARE(h.value("errors").toArray(), QJsonArray());
    QVERIFY(r.out.contains(QStringLiteral("<p class=\"warn\">Изток: Папката с резултати")));
    const QJsonArray tables = h.value("tables").toArray();
    const auto texts = [&](int table, int row) {
        QStringList l;
        for (const QJsonValue& v : tables[table].toObject().value("rows").toArray()[row].toArray())
            l.append(v.toObject().value("text").toString());
        return l;
    };
    QCOMPARE(tables[0].toObject().value("class").toString(), QStringLiteral("persist"));
    QCOMPARE(tables[0].toObject().value("rows").toArray().size(), 1 + 3);
    QCOMPARE(texts(0, 1),
             QStringList({"Север", "Варна -- Морска  21 Ch.", "7", "27.11.2026", "NO DIALTONE 1,00 02:00"}));
    QCOMPARE(texts(0, 3).mid(0, 3), QStringList({"Юг", "Пловдив -- Юг  3 Ch.", "2"}));
    QCOMPARE(texts(1, 1).last(), QStringLiteral("7"));
    QCOMPARE(h.value("charts").toArray().toVariantList(),
             QVariantList({"Дял на каналите с връзка по дни: Север · Варна",
                           "Дял на каналите с връзка по дни: Север · София",
                           "Дял на каналите с връзка по дни: Юг · Пловдив",
                           "Закъснения на отговорите — Декември 2026"}));
}

QTEST_GUILESS_MAIN(TestReport)
#include "test_report.moc"

void TestReport::callRatios() {
    // A month of three exchanges whose ratios are worked out here by hand. Day 5:
    //  Русе -- Изток: 1 connects in 12,20 s and 3,40 s, then is busy in 15 s; 2 is busy too late
    //    (23 s), rings out (NO ANSWER), then NO CARRIER, NO DIALTONE, ERROR and an empty answer; 3
    //    (two lines, a new dial string) connects in 6,80 s and with a delay that is no number,
    //    and a BUSY without a number is no test. 11 tests, 4 connections, 6 carried.
    //  Бургас -- Пристанище: 7 connects 21 times, in 1, 2, ... 20 s and once in 12,34 s.
    //  Русе -- Запад: 9 fails once.
    // Day 6: 1 connects in 50 s; Варна -- Север 4 fails, its exchange's only test.
    QTemporaryDir dir;
    const auto line = [](const QString& key, const QList<std::tuple<QString, QString, int, int>>& tests) {
        QString l = key + u'^';
        for (const auto& [answer, delay, day, minute] : tests)
            l += QStringLiteral("%1^%2^2701%3%4%5^")
                     .arg(answer, delay)
                     .arg(day, 2, 10, QChar(u'0'))
                     .arg(minute / 60, 2, 10, QChar(u'0'))
                     .arg(minute % 60, 2, 10, QChar(u'0'));
        return l;
    };
    QList<std::tuple<QString, QString, int, int>> port;
    for (int k = 1; k <= 20; ++k)
        port.append({QStringLiteral("CONNECT 33600/ARQ"), QString::number(100 * k), 5, 240 + k});
    port.append({QStringLiteral("CONNECT"), QStringLiteral("1234"), 5, 270});
    TextFile::writeLines(
        dir.filePath(QStringLiteral("2701.tst")),
        {line(QStringLiteral("Русе -- Изток  1 Ch. --> #8001"), {{"CONNECT 9600/ARQ", "1220", 5, 120},
                                                                 {"CONNECT 2400", "340", 5, 130},
                                                                 {"BUSY", "1500", 5, 140},
                                                                 {"CONNECT", "5000", 6, 120}}),
         line(QStringLiteral("Русе -- Изток  2 Ch. --> #8002"), {{"BUSY", "2300", 5, 150},
                                                                 {"NO ANSWER", "900", 5, 160},
                                                                 {"NO CARRIER", "1200", 5, 170},
                                                                 {"NO DIALTONE", "100", 5, 180},
                                                                 {"ERROR", "20", 5, 190},
                                                                 {"", "100", 5, 200}}),
         line(QStringLiteral("Русе -- Изток  3 Ch. --> #8003"), {{"CONNECT", "680", 5, 210}}),
         line(QStringLiteral("Бургас -- Пристанище  7 Ch. --> #8007"), port),
         line(QStringLiteral("Русе -- Запад  9 Ch. --> #8009"), {{"NO CARRIER", "500", 5, 300}}),
         line(QStringLiteral("Варна -- Север  4 Ch. --> #8004"), {{"NO CARRIER", "300", 6, 180}}),
         line(QStringLiteral("Русе -- Изток  3 Ch. --> #9003"),
              {{"CONNECT", "abc", 5, 220}, {"BUSY", "xyz", 5, 230}})});
    const QStringList base = {QStringLiteral("--results"), dir.path(), QStringLiteral("--month"),
                              QStringLiteral("2701")};
    const auto args = [&](const char* more) {
        return base + QString::fromLatin1(more).split(u' ', Qt::SkipEmptyParts);
    };

    // Day 5 in the list. Изток: ASR 4/11, NER 6/11; delays 3,40 6,80 12,20: the 2nd is the median,
    // the 3rd the 95th percentile (ranks ⌈1,5⌉ and ⌈2,85⌉). Пристанище: 21 of 21; ranks 11 and 20
    // of 1, 2, ... 12, 12,34, 13, ... 20 s. The whole day: 25 and 27 of 33; 24 delays, ranks 12
    // (10 s) and 23 (19 s).
    Run r = run(args("--day 5"));
    QCOMPARE(r.code, 0);
    QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.mid(lines.size() - 6),
             QStringList(
                 {QStringLiteral("Повиквания по направления и централи (закъснение на връзките в секунди):"),
                  QStringLiteral("                        Тестове      ASR      NER  Медиана   95 %"),
                  QStringLiteral("  Русе -- Изток              11   36,4 %   54,5 %     6,80  12,20"),
                  QStringLiteral("  Бургас -- Пристанище       21  100,0 %  100,0 %    11,00  19,00"),
                  QStringLiteral("  Русе -- Запад               1    0,0 %    0,0 %        —      —"),
                  QStringLiteral("Общо 33 теста: ASR 75,8 %, NER 81,8 %, закъснение на връзките: медиана "
                                 "10,00 с, 95 % до 19,00 с")}));

    // The metrics of the same day, exact to the last bit; no delay where nothing connected.
    r = run(args("--day 5 --format prometheus"));
    const promreader::Result m = promreader::Read(r.bytes);
    QVERIFY2(m.ok(), qPrintable(QStringLiteral("line %1: %2").arg(m.errorLine).arg(m.error)));
    const auto value = [&](const char* family, const QString& exchange) {
        for (const promreader::Sample& s : m.family(family)->samples)
            if (s.label("exchange") == exchange)
                return s.value;
        return -1.0;
    };
    QCOMPARE(value("chantest_tests", QStringLiteral("Изток")), 11.0);
    QCOMPARE(value("chantest_asr_ratio", QStringLiteral("Изток")), 4.0 / 11);
    QCOMPARE(value("chantest_ner_ratio", QStringLiteral("Изток")), 6.0 / 11);
    QCOMPARE(value("chantest_answer_delay_median_seconds", QStringLiteral("Пристанище")), 11.0);
    QCOMPARE(value("chantest_answer_delay_p95_seconds", QStringLiteral("Пристанище")), 19.0);
    QCOMPARE(value("chantest_ner_ratio", QStringLiteral("Запад")), 0.0);
    QCOMPARE(value("chantest_answer_delay_median_seconds", QStringLiteral("Запад")), -1.0);
    QCOMPARE(value("chantest_asr_ratio", QString()), 25.0 / 33); // no labels: the whole day
    QCOMPARE(value("chantest_answer_delay_p95_seconds", QString()), 19.0);
    QCOMPARE(m.family("chantest_asr_ratio")->samples.size(), 3 + 1);

    // The month for a program: day 6 adds a connection of 50 s to Изток (ranks 2 and 4 of 4) and
    // a test of Север.
    const QJsonObject calls =
        read(QStringLiteral("json"), run(args("--format json")).bytes).value("calls").toObject();
    QCOMPARE(calls.value("tests").toInt(), 35);
    QCOMPARE(calls.value("asr").toDouble(), 26.0 / 35);
    QCOMPARE(calls.value("ner").toDouble(), 28.0 / 35);
    const QJsonObject east = calls.value("exchanges").toArray()[0].toObject();
    QCOMPARE(east.value("exchange").toString(), QStringLiteral("Изток"));
    QCOMPARE(QList<double>({east.value("tests").toDouble(), east.value("connected").toDouble(),
                            east.value("busy").toDouble(), east.value("no_answer").toDouble(),
                            east.value("delay_median").toDouble(), east.value("delay_p95").toDouble()}),
             QList<double>({12, 5, 1, 1, 6.8, 50}));
    QVERIFY(calls.value("exchanges").toArray()[2].toObject().value("delay_median").isNull());

    // The summary for a spreadsheet with a decimal comma: fractions with four decimals.
    const QJsonArray rows =
        read(QStringLiteral("csv"), run(args("--day 5 --format csv --summary --separator ;")).bytes,
             QStringLiteral(";"))
            .value("rows")
            .toArray();
    const auto row = [&](int i) {
        QStringList l;
        for (const QJsonValue& v : rows[i].toArray())
            l.append(v.toString());
        return l;
    };
    QCOMPARE(rows.size(), 1 + 3 + 1); // no row for Север, not tested on the 5th
    QCOMPARE(row(1),
             QStringList({"Русе", "Изток", "11", "4", "1", "1", "0,3636", "0,5455", "6,80", "12,20"}));
    QCOMPARE(row(3), QStringList({"Русе", "Запад", "1", "0", "0", "0", "0,0000", "0,0000", "", ""}));
    QCOMPARE(row(4), QStringList({"Общо", "", "33", "25", "1", "1", "0,7576", "0,8182", "10,00", "19,00"}));

    // The page lists the three channels that failed; the sums and the ratios count all six.
    const Run page = run(args("--format html"));
    const QJsonObject h = read(QStringLiteral("html"), page.bytes);
    QCOMPARE(h.value("errors").toArray(), QJsonArray());
    const auto table = [&](const QJsonObject& of, const QString& cls) {
        for (const QJsonValue& t : of.value("tables").toArray())
            if (t.toObject().value("class").toString() == cls)
                return t.toObject().value("rows").toArray();
        return QJsonArray();
    };
    const QJsonArray grid = table(h, QStringLiteral("grid"));
    QCOMPARE(grid.size(), 1 + 3);
    QCOMPARE(grid[1].toArray()[1].toObject().value("text").toString(),
             QStringLiteral("Русе -- Изток  2 Ch."));
    QCOMPARE(grid[2].toArray()[1].toObject().value("text").toString(),
             QStringLiteral("Русе -- Запад  9 Ch."));
    QCOMPARE(grid[3].toArray()[1].toObject().value("text").toString(),
             QStringLiteral("Варна -- Север  4 Ch."));
    QVERIFY(page.out.contains(QStringLiteral("с „Г“ поне в един ден: 3 от 6.")));
    const QJsonArray sum = table(h, QStringLiteral("sum"));
    QCOMPARE(sum.last().toArray()[1].toObject().value("text").toString(), QStringLiteral("6"));
    const QJsonArray ratios = table(h, QStringLiteral("calls"));
    QCOMPARE(ratios.size(), 1 + 4 + 1);
    QStringList total;
    for (const QJsonValue& v : ratios.last().toArray())
        total.append(v.toObject().value("text").toString());
    // The month's 25 delays: ranks 13 (11 s) and 24 (20 s), the 50 s of day 6 the last.
    QCOMPARE(total, QStringList({"Общо", "", "35", "26", "1", "1", "74,3 %", "80,0 %", "11,00", "20,00"}));
    QCOMPARE(
        table(read(QStringLiteral("html"), run(args("--format html --all")).bytes), QStringLiteral("grid"))
            .size(),
        1 + 6);
}
