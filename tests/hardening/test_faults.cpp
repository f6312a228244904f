// Faults end to end: the window, its real links and the modem simulator as a process, with the
// run's ticks played on a fake clock so that minutes of silence take milliseconds. Each fault
// must end the run within its time-out with its message, keep every result recorded before
// it in the month file, and leave the window able to run the next task.
#include "engine/Station.h"
#include "links/SerialLink.h"
#include "links/TcpLink.h"
#include "mock/MockClock.h"
#include "mock/RealProgram.h"
#include "mock/ScriptedDialogs.h"
#include "mock/TestFiles.h"
#include "core/Cp1251.h"
#include "gui/StringGrid.h"
#include "gui/Unit1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
const QString kCh1 = QStringLiteral("София -- Център  1 Ch. --> #80011");
const QString kCh2 = QStringLiteral("София -- Център  2 Ch. --> #80012");
const QString kCh3 = QStringLiteral("Варна -- Изток  3 Ch. --> #80013");
const QString kCh9 = QStringLiteral("Русе -- Север  9 Ch. --> #80019");
constexpr int kTimeoutTicks = 900; // 180 s of ticks after the dial

qint64 residentKb() {
    const QStringList lines = testfiles::readText(QStringLiteral("/proc/self/status")).split(u'\n');
    for (const QString& l : lines)
        if (l.startsWith(QStringLiteral("VmRSS:")))
            return l.section(u':', 1).trimmed().section(u' ', 0, 0).toLongLong();
    return -1;
}
} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void silentModemAfterDial();
    void garbageInAnswers();
    void floodStaysBounded();
    void tcpRefused();
    void peerClosesMidCall();
    void ptyVanishesMidRun();
    void badAddressesFailTheStart_data();
    void badAddressesFailTheStart();
    void unwritableResultsFolder();
    void fullDisk();

private:
    // The simulator with the given table lines, over TCP or on a pseudo-terminal (at `link`).
    void startSim(const QStringList& answers, bool pty = false, const QStringList& extra = {});
    void makeWindow();
    void useSim(); // the link settings of the window point at the simulator
    void writeTask(const QString& file, const QStringList& channels);
    // Starts the task at once and waits until its TCP connection is made or has failed.
    void startTask(const QStringList& channels);
    void tick();
    // Ticks until the cycle has sent its dial and the simulator's answer line has reached the
    // log (real time: the bytes come through a real socket or terminal), then one tick more.
    void dialAndAwaitAnswer();
    // Ticks until the run ends, at most `maxTicks`; returns the ticks played.
    int tickUntilEnd(int maxTicks);
    int ticksSinceDial() const;
    QString monthPath() const { return w_->ResultsDir + "/2405.tst"; }
    QStringList monthLines() const;
    // The end of a run as the operator sees it: idle, buttons back, link closed, task gone.
    void checkWoundUp();
    // The window runs the next task to its end with a modem that answers BUSY.
    void checkNextRunWorks();

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ScriptedDialogs> dialogs_;
    std::unique_ptr<TForm1> w_;
    MockClock clock_;
    QProcess sim_;
    QString where_; // port or pseudo-terminal of the simulator
    bool pty_ = false;
    QString oldCwd_;
    int taskNo_ = 0;
};

void TestFaults::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    oldCwd_ = QDir::currentPath();
    QDir::setCurrent(dir_->path());
    dialogs_ = std::make_unique<ScriptedDialogs>();
    clock_ = MockClock();
    taskNo_ = 0;
    pty_ = false;
    where_.clear();
}

void TestFaults::cleanup() {
    if (w_) {
        dialogs_->setNextAnswer(MsgAnswer::Yes);
        w_->close();
    }
    w_.reset();
    realprogram::stop(sim_);
    QDir::setCurrent(oldCwd_);
    dialogs_.reset();
    dir_.reset();
}

void TestFaults::startSim(const QStringList& answers, bool pty, const QStringList& extra) {
    QStringList args = extra;
    if (pty)
        args << QStringLiteral("--pty") << QStringLiteral("--link") << dir_->filePath("modem");
    for (const QString& a : answers)
        args << QStringLiteral("--answer") << a;
    sim_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    where_ = realprogram::startSim(sim_, args);
    pty_ = pty;
    QVERIFY2(!where_.isEmpty(), "the simulator did not start");
}

void TestFaults::makeWindow() {
    w_ = std::make_unique<TForm1>(StartOptions{dir_->path(), &clock_});
    w_->Timer1->stop(); // the test plays the ticks
    w_->Engine->setTaskSettleMs(0); // its task files are whole when written
    w_->Epause->setText(QStringLiteral("1"));
    w_->CBoxIniString->setChecked(true);
    useSim();
}

void TestFaults::useSim() {
    if (pty_) {
        w_->RBcom->setChecked(true);
        const QString port = dir_->filePath("modem");
        if (w_->CBPort->findText(port) < 0)
            w_->CBPort->addItem(port);
        w_->CBPort->setCurrentText(port);
        w_->CBSpeed->setCurrentText(QStringLiteral("115200"));
    } else {
        w_->RBtcp->setChecked(true);
        w_->EipAdr->setText(QStringLiteral("127.0.0.1"));
        w_->EtcpPort->setText(where_);
    }
}

void TestFaults::writeTask(const QString& file, const QStringList& channels) {
    testfiles::writeText(dir_->filePath(file), QStringLiteral("Проба^Веднага^0^0^Чакаща^\r\n") +
                                                   channels.join(QStringLiteral("\r\n")) + "\r\n");
}

void TestFaults::startTask(const QStringList& channels) {
    writeTask(QStringLiteral("t%1.tsk").arg(++taskNo_), channels);
    w_->TaskRefresh();
    w_->InstantlyTaskCheck();
    QVERIFY(w_->Engine->run());
    if (!pty_)
        QTRY_VERIFY_WITH_TIMEOUT(w_->Engine->run()->line(0).link() != ModemPort::Link::Connecting, 5000);
    if (w_->Engine->run()->line(0).link() == ModemPort::Link::Down && !pty_)
        return; // refused: nothing will answer
    // The modem's OK to the init and speed strings (ticks 2 and 6) comes in before the dial,
    // as it does in the real 4 s before it.
    for (int at : {2, 6}) {
        const int before = w_->CommLineIndex();
        while (w_->Engine->run()->cycle().tickCount() < at)
            tick();
        QTRY_VERIFY_WITH_TIMEOUT(w_->CommLineIndex() > before &&
                                     w_->MemoCommLog->line(w_->CommLineIndex() - 1) == QStringLiteral("OK"),
                                 10000);
    }
}

void TestFaults::tick() {
    QCoreApplication::processEvents();
    clock_.advanceMs(TestCycle::kTickMs);
    w_->Timer1Timer();
}

void TestFaults::dialAndAwaitAnswer() {
    QVERIFY(w_->Engine->run());
    const TestCycle& cycle = w_->Engine->run()->cycle();
    while (w_->Engine->run() && cycle.state() != TestCycle::AwaitAnswer)
        tick();
    QVERIFY(w_->Engine->run());
    const int dialLine = w_->CommLineIndex();
    // The echo completes the dial line and the answer line follows.
    QTRY_VERIFY_WITH_TIMEOUT(w_->CommLineIndex() >= dialLine + 2, 10000);
    tick();
}

int TestFaults::tickUntilEnd(int maxTicks) {
    int n = 0;
    while (w_->Engine->run() && n < maxTicks) {
        tick();
        ++n;
    }
    return n;
}

int TestFaults::ticksSinceDial() const {
    const TestCycle& c = w_->Engine->run()->cycle();
    return c.tickCount() - c.dialTick();
}

QStringList TestFaults::monthLines() const {
    QStringList lines = testfiles::readText(monthPath()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void TestFaults::checkWoundUp() {
    QVERIFY(!w_->Engine->run());
    QCOMPARE(w_->RunActive, 0);
    QCOMPARE(w_->Timer1->interval(), 10000);
    for (QPushButton* b : {w_->BnewTask, w_->BaddTask, w_->BtaskChange, w_->BtaskDelete})
        QVERIFY(b->isEnabled());
    QVERIFY(!QFile::exists(dir_->filePath(QStringLiteral("t%1.tsk").arg(taskNo_))));
    QVERIFY(!w_->Engine->run()); // its links went with it
}

void TestFaults::checkNextRunWorks() {
    QVERIFY2(sim_.state() == QProcess::NotRunning, "each case ends its own simulator first");
    startSim({QStringLiteral("#80019 BUSY 100")}, pty_);
    useSim();
    const int before = int(monthLines().size());
    dialogs_->shown.clear();
    startTask({kCh9});
    QVERIFY(w_->Engine->run());
    dialAndAwaitAnswer();
    QVERIFY(!w_->Engine->run());
    checkWoundUp();
    const QStringList lines = monthLines();
    QCOMPARE(lines.size(), before + 1);
    QVERIFY2(lines.last().startsWith(kCh9 + QStringLiteral("^BUSY^")), qPrintable(lines.last()));
    QCoreApplication::processEvents();
    QCOMPARE(dialogs_->texts().join(u'|'), QString()); // no message
}

void TestFaults::silentModemAfterDial() {
    startSim({QStringLiteral("#80011 BUSY 100"), QStringLiteral("#80012 SILENT"),
              QStringLiteral("#80013 BUSY 100")});
    makeWindow();
    startTask({kCh1, kCh2, kCh3});
    QVERIFY(w_->Engine->run());
    dialAndAwaitAnswer(); // channel 1 recorded
    while (w_->Engine->run()->cycle().channelIndex() == 1 &&
           w_->Engine->run()->cycle().state() != TestCycle::AwaitAnswer)
        tick();
    // 180 s of silence: the 900th tick after the dial still waits, the 901st ends the run.
    while (ticksSinceDial() < kTimeoutTicks)
        tick();
    QVERIFY(w_->Engine->run());
    tick();
    QVERIFY(!w_->Engine->run());
    checkWoundUp();
    QTRY_COMPARE(dialogs_->texts(), QStringList{TestCycle::kModemFailed});
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Error);
    const QStringList lines = monthLines();
    QCOMPARE(lines.size(), 1); // channel 3 was never dialled
    QVERIFY(lines[0].startsWith(kCh1 + QStringLiteral("^BUSY^")));
    realprogram::stop(sim_);
    checkNextRunWorks();
}

void TestFaults::garbageInAnswers() {
    startSim({QStringLiteral("#80011 BU\\0SY^x\\x01\\x7f\\xc0\\xff 100"),
              QStringLiteral("#80012 \\x10\\x03\\x1b[2J^^\\x08\\x08NO\\0 CARRIER 100"),
              QStringLiteral("#80013 CONNECT ") + QString(600, u'9') + QStringLiteral("\\x00^ 100")});
    makeWindow();
    startTask({kCh1, kCh2, kCh3});
    QVERIFY(w_->Engine->run());
    int done = 0;
    while (w_->Engine->run() && done < 3) {
        dialAndAwaitAnswer();
        ++done;
        if (w_->Engine->run() && w_->Engine->run()->cycle().state() == TestCycle::HoldConnection) {
            // The CONNECT of channel 3: hold, hang up, the modem's OK ends the run.
            while (w_->Engine->run() && w_->Engine->run()->cycle().state() != TestCycle::AwaitHangup)
                tick();
            QTRY_COMPARE_WITH_TIMEOUT(w_->MemoCommLog->line(w_->CommLineIndex() - 1), QStringLiteral("OK"),
                                      10000);
            tick();
        }
    }
    QVERIFY(!w_->Engine->run());
    checkWoundUp();
    QCoreApplication::processEvents();
    QCOMPARE(dialogs_->texts().join(u'|'), QString()); // no message
    // No NUL reaches the log; carets and control characters never shift a field; the
    // backspaces inside a chunk are dropped; a long answer is cut at 255 characters.
    const QStringList lines = monthLines();
    QCOMPARE(lines.size(), 3);
    const QString a1 = QStringLiteral("BUSY?x?\u007f") + Cp1251::decode("\xc0\xff");
    const QString a2 = QStringLiteral("???[2J??NO CARRIER");
    const QString a3 = (QStringLiteral("CONNECT ") + QString(600, u'9')).left(255);
    const QList<std::pair<QString, QString>> expected{{kCh1, a1}, {kCh2, a2}, {kCh3, a3}};
    for (int i = 0; i < 3; ++i) {
        const QStringList f = lines[i].split(u'^');
        QCOMPARE(f.size(), 5);
        QCOMPARE(f[0], expected[i].first);
        QCOMPARE(f[1], expected[i].second);
        QVERIFY(f[2].toInt() > 0 && f[2].toInt() % 20 == 0);
    }
    realprogram::stop(sim_);
    checkNextRunWorks();
}

void TestFaults::floodStaysBounded() {
    startSim({QStringLiteral("#80011 FLOOD 100"), QStringLiteral("#80012 BUSY 100")}, false,
             {QStringLiteral("--flood-bytes"), QStringLiteral("10485760")});
    makeWindow();
    const qint64 rssBefore = residentKb();
    startTask({kCh1, kCh2});
    QVERIFY(w_->Engine->run());
    const int firstLine = w_->CommLineIndex();
    dialAndAwaitAnswer();
    // The ticks go on while 10 MB arrive; the flood ends with NO CARRIER.
    QElapsedTimer waited;
    waited.start();
    while (w_->MemoCommLog->line(w_->CommLineIndex() - 1) != QStringLiteral("NO CARRIER")) {
        QVERIFY2(waited.elapsed() < 120000, "the flood did not end");
        if (w_->Engine->run() && w_->Engine->run()->cycle().state() == TestCycle::Pause)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        else
            tick();
    }
    QVERIFY(w_->CommLineIndex() - firstLine > 250000); // every line counted
    QVERIFY(w_->CommLineIndex() - w_->MemoCommLog->firstKeptIndex() < CommLog::kKeptLines);
    QVERIFY(w_->MemoCommLog->heldBytes() < 8 * 1024 * 1024);
    dialAndAwaitAnswer(); // channel 2
    QVERIFY(!w_->Engine->run());
    checkWoundUp();
    const qint64 grown = residentKb() - rssBefore;
    QVERIFY2(grown < 120 * 1024, qPrintable(QStringLiteral("resident memory grew by %1 kB").arg(grown)));
    const QStringList lines = monthLines();
    QCOMPARE(lines.size(), 2);
    const QStringList f = lines[0].split(u'^');
    QCOMPARE(f.size(), 5);
    // The first line after the dial, cut, even when the flood pushed it out of the kept log
    // before the tick could read it (10 MB within one tick).
    QVERIFY2(f[1].size() <= 255 && f[1].startsWith(QStringLiteral("FLOOD 00000002 ")), qPrintable(lines[0]));
    QVERIFY(lines[1].startsWith(kCh2 + QStringLiteral("^BUSY^")));
    QCoreApplication::processEvents();
    QCOMPARE(dialogs_->texts().join(u'|'), QString()); // no message
    realprogram::stop(sim_);
    checkNextRunWorks();
}

void TestFaults::tcpRefused() {
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    where_ = QString::number(closed.serverPort());
    closed.close(); // nobody listens there now
    makeWindow();
    startTask({kCh1});
    QVERIFY(w_->Engine->run());
    QCOMPARE(w_->Engine->run()->line(0).link(), ModemPort::Link::Down); // refused, silently
    // Nothing can be sent; the dial at tick 20 times out 900 ticks later.
    const int played = tickUntilEnd(5000);
    QCOMPARE(played, 20 + kTimeoutTicks + 1);
    checkWoundUp();
    QTRY_COMPARE(dialogs_->texts(), QStringList{TestCycle::kModemFailed});
    // Nothing recorded: the month's file comes into being empty.
    QCOMPARE(testfiles::readBytes(monthPath()), QByteArray());
    checkNextRunWorks();
}

void TestFaults::peerClosesMidCall() {
    startSim({QStringLiteral("#80011 BUSY 100"), QStringLiteral("#80012 CONNECT 2400 100"),
              QStringLiteral("#80013 BUSY 100")});
    makeWindow();
    startTask({kCh1, kCh2, kCh3});
    QVERIFY(w_->Engine->run());
    dialAndAwaitAnswer();
    dialAndAwaitAnswer(); // CONNECT: the call is up
    QCOMPARE(w_->Engine->run()->cycle().state(), TestCycle::HoldConnection);
    const qint64 connectedAt = clock_.monotonicMs();
    realprogram::stop(sim_); // the modem server goes away during the call
    QTRY_COMPARE_WITH_TIMEOUT(w_->Engine->run()->line(0).link(), ModemPort::Link::Down, 5000);
    tickUntilEnd(1000);
    // No hang-up can be confirmed: the run ends 20 s after the CONNECT (whole seconds, one tick).
    const qint64 after = clock_.monotonicMs() - connectedAt;
    QVERIFY2(after > 20000 && after <= 21000 + TestCycle::kTickMs, qPrintable(QString::number(after)));
    checkWoundUp();
    QTRY_COMPARE(dialogs_->texts(), QStringList{TestCycle::kModemFailed});
    const QStringList lines = monthLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(kCh1 + QStringLiteral("^BUSY^")));
    QVERIFY(lines[1].startsWith(kCh2 + QStringLiteral("^CONNECT 2400^")));
    checkNextRunWorks();
}

void TestFaults::ptyVanishesMidRun() {
    startSim({QStringLiteral("#80011 BUSY 100"), QStringLiteral("#80012 HANGUP 100"),
              QStringLiteral("#80013 BUSY 100")},
             true);
    makeWindow();
    startTask({kCh1, kCh2, kCh3});
    QVERIFY(w_->Engine->run());
    QTRY_VERIFY(w_->Engine->run()->line(0).isOpen());
    dialAndAwaitAnswer();
    while (w_->Engine->run()->cycle().state() != TestCycle::AwaitAnswer)
        tick();
    // The device disappears: the simulator closes its terminal and ends.
    QTRY_VERIFY_WITH_TIMEOUT(sim_.state() == QProcess::NotRunning, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!w_->Engine->run()->line(0).isOpen(), 5000);
    while (w_->Engine->run() && ticksSinceDial() < kTimeoutTicks)
        tick();
    QVERIFY(w_->Engine->run());
    tick();
    checkWoundUp();
    QTRY_COMPARE(dialogs_->texts(), QStringList{TestCycle::kModemFailed});
    const QStringList lines = monthLines();
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines[0].startsWith(kCh1 + QStringLiteral("^BUSY^")));
    // The device comes back under the same name: the next run uses it.
    checkNextRunWorks();
}

void TestFaults::badAddressesFailTheStart_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty address") << ""
                                   << "23"
                                   << "Connect: No IP Address Specified";
    QTest::newRow("blank address") << "   "
                                   << "23"
                                   << "Connect: No IP Address Specified";
    QTest::newRow("empty port") << "127.0.0.1"
                                << ""
                                << "Connect: No Port Specified";
    QTest::newRow("unresolvable") << "no.such.host.invalid"
                                  << "23"
                                  << "connect: WSocketResolveHost: Cannot convert host address "
                                     "'no.such.host.invalid'";
    QTest::newRow("port too big") << "127.0.0.1"
                                  << "65536"
                                  << "TCP портът 65536 е извън портовете от 1 до 65535.";
    QTest::newRow("unknown service") << "127.0.0.1"
                                     << "no-such-service"
                                     << "„no-such-service“ в TCP Порт не е нито порт, нито обхват от портове";
    QTest::newRow("half a range") << "127.0.0.1"
                                  << "2001-"
                                  << "„2001-“ в TCP Порт не е нито порт, нито обхват от портове";
}

void TestFaults::badAddressesFailTheStart() {
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, message);
    makeWindow();
    w_->EipAdr->setText(address);
    w_->EtcpPort->setText(port);
    // Started by the scheduler, as an unattended run is.
    testfiles::writeText(dir_->filePath("s.tsk"),
                         QStringLiteral("Проба^По време^7^5^Чакаща^\r\n") + kCh1 + QStringLiteral("\r\n"));
    w_->TaskRefresh();
    w_->Timer1->setInterval(10000);
    w_->Timer1Timer();
    QVERIFY(!w_->Engine->run());
    QTRY_COMPARE(dialogs_->shown.size(), 1);
    QVERIFY2(dialogs_->lastText().startsWith(message), qPrintable(dialogs_->lastText()));
    QVERIFY(!w_->Engine->run()); // nothing was left open
    QVERIFY(testfiles::readText(dir_->filePath("s.tsk"))
                .startsWith(QStringLiteral("Проба^По време^7^5^Чакаща^")));
    QVERIFY(w_->BaddTask->isEnabled());
    QFile::remove(dir_->filePath("s.tsk"));
    w_->TaskRefresh();
    checkNextRunWorks();
}

void TestFaults::unwritableResultsFolder() {
    startSim({QStringLiteral("#80011 BUSY 100"), QStringLiteral("#80012 NO CARRIER 100")});
    makeWindow();
    // A plain file where the results folder is.
    const QString results = w_->ResultsDir;
    QVERIFY(QDir(results).removeRecursively());
    testfiles::writeBytes(results, "in the way");
    startTask({kCh1, kCh2});
    QVERIFY(w_->Engine->run());
    dialAndAwaitAnswer();
    dialAndAwaitAnswer();
    // Wound up, but its task stays while its tests are in memory only.
    QVERIFY(!w_->Engine->run());
    QVERIFY(w_->BaddTask->isEnabled());
    const QString task = dir_->filePath(QStringLiteral("t%1.tsk").arg(taskNo_));
    QVERIFY(testfiles::readText(task).contains(QStringLiteral("^Стартирана^")));
    // Told at the first test, at the end, and why the task stays; the program goes on.
    QTRY_COMPARE(dialogs_->shown.size(), 3);
    QVERIFY2(dialogs_->shown[2].text.contains(QStringLiteral("остава „Стартирана“")), qPrintable(dialogs_->shown[2].text));
    const QString shownResults = QDir::toNativeSeparators(results);
    QVERIFY2(dialogs_->shown[0].text.startsWith(QStringLiteral("Cannot create file ") + shownResults +
                                                "/2405.jrn"),
             qPrintable(dialogs_->shown[0].text));
    QVERIFY2(dialogs_->shown[1].text.startsWith(QStringLiteral("Cannot create file ") + shownResults +
                                                "/2405.tst"),
             qPrintable(dialogs_->shown[1].text));
    QCOMPARE(testfiles::readBytes(results), QByteArray("in the way"));
    QVERIFY(w_->Engine->unsaved());

    // The folder is back: within a minute of idle checks the results are written.
    QVERIFY(QFile::remove(results));
    QVERIFY(QDir().mkpath(results));
    w_->Timer1->setInterval(10000);
    for (int i = 0; i < 7 && w_->Engine->unsaved(); ++i) {
        clock_.advanceMs(10000);
        w_->Timer1Timer();
    }
    QVERIFY(!w_->Engine->unsaved());
    const QStringList lines = monthLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(kCh1 + QStringLiteral("^BUSY^")));
    QVERIFY(lines[1].startsWith(kCh2 + QStringLiteral("^NO CARRIER^")));
    QVERIFY(!QFile::exists(results + "/2405.jrn"));
    QVERIFY(!QFile::exists(task)); // its tests on the disk, the task is done with
    QCOMPARE(dialogs_->shown.size(), 3); // the retries are quiet
    realprogram::stop(sim_);
    checkNextRunWorks();
}

void TestFaults::fullDisk() {
    startSim({QStringLiteral("#80011 BUSY 100"), QStringLiteral("#80012 NO CARRIER 100"),
              QStringLiteral("#80013 BUSY 100")});
    makeWindow();
    // A month file bigger than the room left on the disk; its journal still fits.
    QByteArray old;
    for (int i = 0; i < 3000; ++i)
        old += "Old -- Line  " + QByteArray::number(i) + " Ch. --> #7" + QByteArray::number(i) +
               "^BUSY^20^2405010000^\r\n";
    testfiles::writeBytes(monthPath(), old);
    {
        testfiles::FileSizeLimit full(old.size() + 40);
        startTask({kCh1, kCh2});
        QVERIFY(w_->Engine->run());
        dialAndAwaitAnswer();
        dialAndAwaitAnswer();
        checkWoundUp();
        QTRY_COMPARE(dialogs_->shown.size(), 1);
        QVERIFY2(dialogs_->lastText().startsWith(QStringLiteral("Cannot create file ") +
                                                 QDir::toNativeSeparators(monthPath())),
                 qPrintable(dialogs_->lastText()));
        QCOMPARE(testfiles::readBytes(monthPath()), old);                // the old file intact
        QVERIFY(QFile::exists(w_->ResultsDir + "/2405.jrn"));            // and the tests on the disk
        QCOMPARE(QDir(w_->ResultsDir).entryList(QDir::Files).size(), 2); // no temporary left

        // Still full at the next run: its test joins the kept ones, in the same journal.
        startTask({kCh3});
        QVERIFY(w_->Engine->run());
        dialAndAwaitAnswer();
        checkWoundUp();
        QTRY_COMPARE(dialogs_->shown.size(), 2); // told again: this run's end failed too
        QCOMPARE(testfiles::readBytes(monthPath()), old);
    }
    // Room again: the next run writes everything kept with its own test.
    dialogs_->shown.clear();
    startTask({kCh1});
    QVERIFY(w_->Engine->run());
    dialAndAwaitAnswer();
    checkWoundUp();
    QVERIFY(!w_->Engine->unsaved());
    QVERIFY(!QFile::exists(w_->ResultsDir + "/2405.jrn"));
    const QByteArray now = testfiles::readBytes(monthPath());
    QVERIFY(now.startsWith(old));
    const QStringList added = Cp1251::decode(now.mid(old.size())).split(QStringLiteral("\r\n"));
    QCOMPARE(added.size(), 4); // three lines and the end
    QVERIFY(added[0].startsWith(kCh1 + QStringLiteral("^BUSY^")));
    QCOMPARE(added[0].count(QStringLiteral("^BUSY^")), 2); // the first run's test and the last run's
    QVERIFY(added[1].startsWith(kCh2 + QStringLiteral("^NO CARRIER^")));
    QVERIFY(added[2].startsWith(kCh3 + QStringLiteral("^BUSY^")));
    QCoreApplication::processEvents();
    QCOMPARE(dialogs_->texts().join(u'|'), QString()); // no message
    realprogram::stop(sim_);
    checkNextRunWorks();
}

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
