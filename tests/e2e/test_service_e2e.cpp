// End to end: the real service runs the tasks of a folder through a bank of two simulated
// modems over TCP, with no display: a timed task at its minute, beside a window that starts
// none and a second service that is refused; a daily task cut short by SIGTERM; and a call
// on a serial modem.
#include "mock/RealProgram.h"
#include "mock/TestFiles.h"
#include "tasks/TaskFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using realprogram::binaryDir;
using realprogram::monthFile;

namespace {
// A folder with its own copy of the service (its Results lie beside it), and the simulator.
struct Station {
    QTemporaryDir dir;
    QString bin = dir.filePath("bin"), work = dir.filePath("work");
    QProcess sim;

    // A bank of two over TCP, or one modem on a serial port (a pseudo-terminal).
    bool make(const QStringList& answers, bool serial = false) {
        QDir().mkpath(bin);
        QDir().mkpath(work);
        QStringList args = serial ? QStringList{QStringLiteral("--pty"), QStringLiteral("--link"), work + "/modem"}
                                  : QStringList{QStringLiteral("--modems"), QStringLiteral("2")};
        for (const QString& a : answers)
            args << QStringLiteral("--answer") << a;
        const QString first = realprogram::startSim(sim, args);
        testfiles::writeText(
            work + "/KanvoAlt.ini",
            serial ? QStringLiteral("%1/modem^^\r\n9600^^\r\nati\r\nat\r\n1\r\n1\r\n").arg(work)
                   : QStringLiteral("^127.0.0.1^\r\n9600^%1-%2^\r\nati\r\nat\r\n1\r\n2\r\n")
                         .arg(first)
                         .arg(first.toInt() + 1));
        return !first.isEmpty() && QFile::copy(binaryDir() + "/chantest-service", bin + "/chantest-service");
    }
    // A task of `channels` whose start is the minute of `at`.
    void task(const QString& file, const QString& type, const QDateTime& at, const QStringList& channels) {
        testfiles::writeText(work + u'/' + file,
                             TaskFile::buildHeader(QStringLiteral("Нощна"), type, at.time().hour(),
                                                   at.time().minute(), QStringLiteral("Чакаща")) +
                                 "\r\n" + channels.join("\r\n") + "\r\n");
    }
    // The service with no display of any kind, in the folder.
    void start(QProcess& p) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "JOURNAL_STREAM", "NOTIFY_SOCKET"})
            env.remove(QString::fromLatin1(v));
        p.setProcessEnvironment(env);
        p.setProgram(bin + "/chantest-service");
        p.setArguments({QStringLiteral("--folder"), work});
        p.start();
    }
    ~Station() { realprogram::stop(sim); }
};

QString channel(int i) {
    return QStringLiteral("Русе -- Север  %1 Ch. --> #81%2").arg(i).arg(i, 2, 10, QLatin1Char('0'));
}

// Everything the process wrote so far.
QString output(QProcess& p, QString& seen) {
    seen += QString::fromUtf8(p.readAllStandardOutput());
    return seen;
}

// The month file's lines, one per channel, each with the number of its tests.
QMap<QString, int> monthTests(const QString& path) {
    QMap<QString, int> tests;
    for (const QString& line : testfiles::readText(path).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        tests[line.section(u'^', 0, 0)] = int(line.count(u'^') - 1) / 3;
    return tests;
}
} // namespace

class TestServiceE2E : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void timedTaskRunsHeadlessBesideAWindow();
    void sigtermInTheMiddleOfADailyRun();
    void connectOverASerialModem();
};

void TestServiceE2E::timedTaskRunsHeadlessBesideAWindow() {
    Station s;
    QStringList channels;
    for (int i = 1; i <= 4; ++i)
        channels.append(channel(i));
    QVERIFY(s.make({"#8101 BUSY 300", "#8102 NO CARRIER 300", "#8103 CONNECT 2400 300", "#8104 BUSY 300"}));
    s.task(QStringLiteral("timed.tsk"), text(TaskType::AtTime), QDateTime::currentDateTime().addSecs(60),
           channels);
    QProcess service, second, window;
    QString log, secondLog;
    s.start(service);
    QTRY_VERIFY_WITH_TIMEOUT(output(service, log).contains(QStringLiteral("Задачи в папката: 1.")), 10000);

    // One scheduler per folder: a second service is refused, a window starts nothing.
    s.start(second);
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(
        output(second, secondLog).contains(QStringLiteral("вече се изпълняват от друга услуга chantest")),
        qPrintable(secondLog));
    const QString windowBin = s.dir.filePath("window");
    QDir().mkpath(windowBin);
    // A private file name: a running demo or another test's copy is not a second instance.
    const QString windowExe =
        windowBin + QStringLiteral("/chantest-svc-%1").arg(QCoreApplication::applicationPid());
    QVERIFY(QFile::copy(binaryDir() + "/chantest", windowExe));
    QVERIFY(realprogram::startOffscreen(window, windowExe, s.work));

    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(s.work + "/timed.tsk"), 150000);
    QTRY_VERIFY_WITH_TIMEOUT(
        output(service, log).contains(QStringLiteral("Задачата „Нощна“ завърши. Тествани канали: 4")), 5000);
    QCOMPARE(window.state(), QProcess::Running);
    realprogram::stop(window);
    QVERIFY(QDir(windowBin + "/Results").isEmpty()); // the window ran nothing
    QVERIFY2(log.contains(QStringLiteral("Задачата „Нощна“ (По време, timed.tsk) започна: 4 канала")),
             qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("> BUSY\n")) && log.contains(QStringLiteral("> CONNECT 2400\n")),
             qPrintable(log));
    QVERIFY(log.contains(QStringLiteral("Резултат: %1: NO CARRIER").arg(channel(2))));

    const QMap<QString, int> tests = monthTests(s.bin + "/Results/" + monthFile());
    QCOMPARE(tests.keys(), QStringList(channels.begin(), channels.end()));
    for (int n : tests)
        QCOMPARE(n, 1);
    QVERIFY(!QFile::exists(s.bin + "/Results/" + monthFile().replace(".tst", ".jrn")));

    ::kill(pid_t(service.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(service.state(), QProcess::NotRunning, 30000);
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), 0);
}

void TestServiceE2E::sigtermInTheMiddleOfADailyRun() {
    Station s;
    QStringList channels;
    for (int i = 1; i <= 5; ++i)
        channels.append(channel(i));
    // Two quick answers; then each modem waits a minute for its next one.
    QVERIFY(s.make({"#8101 BUSY 300", "#8102 BUSY 300", "#8103 NO CARRIER 60000", "#8104 NO CARRIER 60000",
                    "#8105 BUSY 300"}));
    s.task(QStringLiteral("daily.tsk"), text(TaskType::Daily), QDateTime::currentDateTime().addSecs(15),
           channels);
    QProcess service;
    QString log;
    s.start(service);
    QTRY_VERIFY_WITH_TIMEOUT(output(service, log).contains(QStringLiteral("> atdt#8103\n")) &&
                                 log.contains(QStringLiteral("> atdt#8104\n")),
                             90000);
    QVERIFY(QFile::exists(s.bin + "/Results/" + monthFile().replace(".tst", ".jrn"))); // a run in progress
    ::kill(pid_t(service.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(service.state(), QProcess::NotRunning, 30000);
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), 0);
    output(service, log);
    QVERIFY2(log.contains(QStringLiteral("SIGTERM: задачата „Нощна“ спира")), qPrintable(log));

    // The two recorded tests are in the month file; the channels on the line are not.
    const QMap<QString, int> tests = monthTests(s.bin + "/Results/" + monthFile());
    QCOMPARE(tests.keys(), QStringList({channel(1), channel(2)}));
    QVERIFY(!QFile::exists(s.bin + "/Results/" + monthFile().replace(".tst", ".jrn")));
    // The run was cut short, not ended: the task waits "Стартирана" beside its progress.
    const auto status = [&] {
        return TaskFile::parseHeader(testfiles::readText(s.work + "/daily.tsk").section(QStringLiteral("\r\n"), 0, 0))
            .status;
    };
    QCOMPARE(status(), QStringLiteral("Стартирана"));
    const QString done = s.work + "/daily.tsk.done";
    QCOMPARE(testfiles::readText(done), channel(1) + "\r\n" + channel(2) + "\r\n");

    // The next start goes on with the channels not reached: none dialled twice.
    QProcess again;
    QString log2;
    s.start(again);
    QTRY_VERIFY_WITH_TIMEOUT(output(again, log2).contains(QStringLiteral("> atdt#8103\n")) &&
                                 log2.contains(QStringLiteral("> atdt#8104\n")),
                             30000);
    QVERIFY2(log2.contains(QStringLiteral("продължава с каналите")), qPrintable(log2));
    QVERIFY(!log2.contains(QStringLiteral("atdt#8101")) && !log2.contains(QStringLiteral("atdt#8102")));
    ::kill(pid_t(again.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(again.state(), QProcess::NotRunning, 30000);
    QCOMPARE(status(), QStringLiteral("Стартирана"));
    QCOMPARE(testfiles::readText(done), channel(1) + "\r\n" + channel(2) + "\r\n");
}

// A serial modem: the service's own log of the line keeps the hang-up's answer in sight.
void TestServiceE2E::connectOverASerialModem() {
    Station s;
    QVERIFY(s.make({"#8101 CONNECT 2400 300"}, true));
    s.task(QStringLiteral("now.tsk"), text(TaskType::Immediate), QDateTime::currentDateTime(), {channel(1)});
    QProcess service;
    QString log;
    s.start(service);
    QTRY_VERIFY_WITH_TIMEOUT(
        output(service, log).contains(QStringLiteral("Задачата „Нощна“ завърши. Тествани канали: 1")), 60000);
    QVERIFY2(!log.contains(QStringLiteral("Модемът е блокирал")), qPrintable(log));
    QCOMPARE(monthTests(s.bin + "/Results/" + monthFile()), (QMap<QString, int>{{channel(1), 1}}));
    QVERIFY(!QFile::exists(s.work + "/now.tsk"));
    realprogram::stop(service);
}

QTEST_GUILESS_MAIN(TestServiceE2E)
#include "test_service_e2e.moc"
