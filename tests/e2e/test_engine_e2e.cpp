// End to end: the real program, copied under a name of its own, runs immediate tasks against
// the modem simulator over TCP and over a pseudo-terminal with the serial link, and a journal
// left by a killed run is merged at the next start.
#include "mock/RealProgram.h"
#include "mock/TestFiles.h"
#include "core/Cp1251.h"
#include "core/TextFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kCh1 = QStringLiteral("София -- Център  1 Ch. --> #80011");
const QString kCh2 = QStringLiteral("София -- Център  2 Ch. --> #80012");
const QString kCh3 = QStringLiteral("Варна -- Изток  3 Ch. --> #80013");

using realprogram::binaryDir;
using realprogram::monthFile;
QString stampNow() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyMMddhhmm"));
}
} // namespace

class TestEngineE2E : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void immediateTaskOverTcp();
    void immediateTaskOverSerialPty();
    void killedRunJournalMergedAtNextStart();
    void fullDiskKeepsResultsUntilTheNextStart();

private:
    // Starts the simulator; returns its "PORT n" or "PTY path" value.
    QString startSim(const QStringList& args);
    void startProgram();
    void stopProgram();
    void writeSettings(const QString& line1, const QString& line2, int flags);
    void writeTask(const QStringList& channels);
    // The month file checked byte for byte: one line per channel with one result group each,
    // the answers given, the delays no less than the modem's and at most three ticks (plus
    // slack) over it, the stamps within the test.
    void checkResults(const QList<std::tuple<QString, QString, int>>& expected, int slackMs);
    void runAndCheck(int slackMs);

    std::unique_ptr<QTemporaryDir> dir_;
    QString bin_, work_, exe_;
    QProcess sim_, program_;
    QString stampBefore_;
    static int copies_;
};

int TestEngineE2E::copies_ = 0;

void TestEngineE2E::initTestCase() {
    QVERIFY(QFile::exists(binaryDir() + "/chantest"));
    QVERIFY(QFile::exists(binaryDir() + "/modem-sim"));
}

void TestEngineE2E::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    bin_ = dir_->filePath("bin");
    work_ = dir_->filePath("work");
    QDir().mkpath(bin_);
    QDir().mkpath(work_);
    // A private file name: a running demo or another test's copy is not a second instance.
    exe_ =
        bin_ + QStringLiteral("/chantest-e2e-%1-%2").arg(QCoreApplication::applicationPid()).arg(++copies_);
    QVERIFY(QFile::copy(binaryDir() + "/chantest", exe_));
    stampBefore_ = stampNow();
}

void TestEngineE2E::cleanup() {
    stopProgram();
    realprogram::stop(sim_);
    dir_.reset();
}

QString TestEngineE2E::startSim(const QStringList& args) {
    sim_.setProcessChannelMode(QProcess::SeparateChannels);
    return realprogram::startSim(sim_, args + QStringList{QStringLiteral("--verbose")});
}

void TestEngineE2E::startProgram() {
    QVERIFY(realprogram::startOffscreen(program_, exe_, work_));
}

void TestEngineE2E::stopProgram() {
    realprogram::stop(program_);
}

void TestEngineE2E::writeSettings(const QString& line1, const QString& line2, int flags) {
    testfiles::writeText(work_ + "/KanvoAlt.ini", line1 + "\r\n" + line2 +
                                                      "\r\natx3w2&d0e1m0 s0=1 s7=70 s11=55 s95=0\r\n"
                                                      "at+MS=v34,1,2400,12000\r\n1\r\n" +
                                                      QString::number(flags) + "\r\n");
}

void TestEngineE2E::writeTask(const QStringList& channels) {
    testfiles::writeText(work_ + "/e2e.tsk",
                         QStringLiteral("Проба^Веднага^0^0^Чакаща^\r\n") + channels.join("\r\n") + "\r\n");
}

void TestEngineE2E::checkResults(const QList<std::tuple<QString, QString, int>>& expected, int slackMs) {
    const QByteArray bytes = testfiles::readBytes(bin_ + "/Results/" + monthFile());
    const QString stampAfter = stampNow();
    const QStringList lines = Cp1251::decode(bytes).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), expected.size() + 1);
    QByteArray rebuilt;
    for (int i = 0; i < expected.size(); ++i) {
        const auto& [key, answer, modemMs] = expected[i];
        const QStringList f = lines[i].split(u'^');
        QCOMPARE(f.size(), 5);
        const int delay = f[2].toInt();
        QVERIFY2(delay % 20 == 0 && delay * 10 >= modemMs && delay * 10 <= modemMs + 600 + slackMs,
                 qPrintable(lines[i]));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{10}$")).match(f[3]).hasMatch(), qPrintable(f[3]));
        QVERIFY(f[3] >= stampBefore_ && f[3] <= stampAfter);
        rebuilt += Cp1251::encode(key + u'^' + answer + u'^' + f[2] + u'^' + f[3] + u'^') + "\r\n";
    }
    QCOMPARE(bytes, rebuilt);
}

void TestEngineE2E::runAndCheck(int slackMs) {
    writeTask({kCh1, kCh2, kCh3});
    startProgram();
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(work_ + "/e2e.tsk"), 90000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(bin_ + "/Results/" + monthFile()), 5000);
    QVERIFY(!QFile::exists(bin_ + "/Results/" + monthFile().replace(".tst", ".jrn")));
    checkResults({{kCh1, QStringLiteral("BUSY"), 600},
                  {kCh2, QStringLiteral("CONNECT 2400"), 400},
                  {kCh3, QStringLiteral("NO CARRIER"), 1000}},
                 slackMs);
    // The hang-up reached the modem (its dialogue on stderr, bytes percent-encoded).
    QByteArray dialogue;
    QTRY_VERIFY2((dialogue += sim_.readAllStandardError()).contains("<< +++ath0%0D"),
                 dialogue.right(2000).constData());
}

void TestEngineE2E::immediateTaskOverTcp() {
    const QString port = startSim({QStringLiteral("--answer"), QStringLiteral("#80011 BUSY 600"),
                                   QStringLiteral("--answer"), QStringLiteral("#80012 CONNECT 2400 400"),
                                   QStringLiteral("--answer"), QStringLiteral("#80013 NO CARRIER 1000")});
    QVERIFY(!port.isEmpty());
    writeSettings(QStringLiteral("^127.0.0.1^"), QStringLiteral("9600^") + port + u'^', 2);
    runAndCheck(0);
}

void TestEngineE2E::immediateTaskOverSerialPty() {
    const QString pty =
        startSim({QStringLiteral("--pty"), QStringLiteral("--answer"), QStringLiteral("#80011 BUSY 600"),
                  QStringLiteral("--answer"), QStringLiteral("#80012 CONNECT 2400 400"),
                  QStringLiteral("--answer"), QStringLiteral("#80013 NO CARRIER 1000")});
    QVERIFY(pty.startsWith("/dev/"));
    writeSettings(pty + QStringLiteral("^^"), QStringLiteral("9600^^"), 1);
    runAndCheck(300); // a cluster is handed over 250 ms after its last byte, plus the bytes' time
}

void TestEngineE2E::killedRunJournalMergedAtNextStart() {
    const QString port = startSim({QStringLiteral("--answer"), QStringLiteral("#80011 BUSY 200"),
                                   QStringLiteral("--answer"), QStringLiteral("#80012 SILENT")});
    writeSettings(QStringLiteral("^127.0.0.1^"), QStringLiteral("9600^") + port + u'^', 2);
    writeTask({kCh1, kCh2});
    startProgram();
    const QString journal = bin_ + "/Results/" + monthFile().replace(".tst", ".jrn");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(journal) && testfiles::readBytes(journal).contains("^BUSY^"),
                             60000);
    const qint64 killed = program_.processId();
    program_.kill(); // dies in the middle of the silent channel's test
    program_.waitForFinished(5000);
    QVERIFY(!QFile::exists(bin_ + "/Results/" + monthFile()));
    // Had it died inside a rewrite, its temporary would be left; the next start removes it.
    const QString temporary = TextFile::temporaryPath(bin_ + "/Results/" + monthFile(), killed);
    testfiles::writeBytes(temporary, "half a month");
    QFile aged(temporary);
    QVERIFY(aged.open(QIODevice::ReadWrite) &&
            aged.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));

    QFile::remove(work_ + "/e2e.tsk"); // not run again
    startProgram();
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(journal), 20000);
    stopProgram();
    QVERIFY(!QFile::exists(temporary));
    const QByteArray month = testfiles::readBytes(bin_ + "/Results/" + monthFile());
    QCOMPARE(month.count("\r\n"), 1);
    QVERIFY(month.startsWith(Cp1251::encode(kCh1 + QStringLiteral("^BUSY^"))));
    // A third start finds nothing to merge and adds nothing.
    startProgram();
    QTest::qWait(1500);
    stopProgram();
    QCOMPARE(testfiles::readBytes(bin_ + "/Results/" + monthFile()), month);
}

void TestEngineE2E::fullDiskKeepsResultsUntilTheNextStart() {
    const QString port = startSim({QStringLiteral("--answer"), QStringLiteral("#80011 BUSY 200")});
    writeSettings(QStringLiteral("^127.0.0.1^"), QStringLiteral("9600^") + port + u'^', 2);
    writeTask({kCh1});
    QByteArray old;
    for (int i = 0; i < 1000; ++i)
        old += "Old -- Line  " + QByteArray::number(i) + " Ch. --> #7" + QByteArray::number(i) +
               "^BUSY^20^2401010000^\r\n";
    QVERIFY(old.size() > 40 * 1024);
    QVERIFY(QDir().mkpath(bin_ + "/Results"));
    const QString month = bin_ + "/Results/" + monthFile();
    testfiles::writeBytes(month, old);
    // No file may grow past 32 kB: the month file cannot be rewritten, its journal can.
    program_.setProgram(QStringLiteral("/bin/bash"));
    program_.setArguments({QStringLiteral("-c"), QStringLiteral("ulimit -f 32 && exec \"$0\""), exe_});
    program_.setWorkingDirectory(work_);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program_.setProcessEnvironment(env);
    program_.start();
    QVERIFY(program_.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(work_ + "/e2e.tsk"), 60000);
    // The failed write neither ended the program nor touched the old file; the test is kept.
    const QString journal = bin_ + "/Results/" + monthFile().replace(".tst", ".jrn");
    QTRY_VERIFY(QFile::exists(journal));
    QTest::qWait(500);
    QCOMPARE(program_.state(), QProcess::Running);
    QCOMPARE(testfiles::readBytes(month), old);
    QVERIFY(testfiles::readBytes(journal).contains("^BUSY^"));
    stopProgram();

    // The next start, with room on the disk, writes it.
    startProgram();
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(journal), 20000);
    stopProgram();
    const QByteArray now = testfiles::readBytes(month);
    QVERIFY(now.startsWith(old));
    QVERIFY2(now.mid(old.size()).startsWith(Cp1251::encode(kCh1 + QStringLiteral("^BUSY^"))),
             now.mid(old.size()).constData());
    QCOMPARE(now.count("\r\n"), 1001);
}

QTEST_GUILESS_MAIN(TestEngineE2E)
#include "test_engine_e2e.moc"
