// The engine in the window: run start and its failures, the run's end in all its forms,
// the scheduler, the stop and the close, against a small modem on a local TCP port.
#include "engine/FolderLock.h"
#include "engine/Station.h"
#include "monthfile/ResultJournal.h"
#include "gui/CheckListBox.h"
#include "links/TcpLink.h"
#include "mock/MockClock.h"
#include "mock/RealProgram.h"
#include "mock/ScriptedDialogs.h"
#include "mock/TestFiles.h"
#include "mock/WindowFixture.h"
#include "core/AppError.h"
#include "gui/StringGrid.h"
#include "gui/Unit1.h"

#include <QCheckBox>
#include <QTabWidget>
#include <QDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QCursor>

namespace {
const QString kCh1 = QStringLiteral("София -- Център  1 Ch. --> #80011");
const QString kCh2 = QStringLiteral("София -- Център  2 Ch. --> #80012");

// A modem behind a modem server: echoes, answers a dial from its table, OK to the rest.
class TinyModem : public QObject {
public:
    QTcpServer server;
    QHash<QByteArray, QByteArray> answers; // dial string -> answer line; missing: silence
    QByteArray received;
    int clients = 0; // connections open now
    TinyModem() {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = server.nextPendingConnection();
            ++clients;
            connect(s, &QTcpSocket::disconnected, this, [this] { --clients; });
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                const QByteArray in = s->readAll();
                received += in;
                if (in.startsWith("atdt")) {
                    s->write(in);
                    const QByteArray dial = in.mid(4).trimmed();
                    if (answers.contains(dial))
                        s->write("\r\n" + answers.value(dial) + "\r\n");
                } else if (in.startsWith("+++")) {
                    s->write("\r\nOK\r\n");
                } else {
                    s->write(in + "\r\nOK\r\n");
                }
            });
        });
    }
    QString port() const { return QString::number(server.serverPort()); }
};
} // namespace

class TestEngineWindow : public QObject, protected WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void runOverTcpRecordsAndWindsUp();
    void errorEndWindsUpBeforeItsMessage();
    void failedStartKeepsTaskAndTellsOncePerMinute();
    void dailyTaskReArmedAndNotRestartedInItsMinute();
    void emptyTaskEndsAtOnce();
    void closeDuringStoppedRun();
    void unansweredBoxesHoldUpNoTask();
    void nextDueTaskStartsWhenFirstCannot();
    void stopButtonEndsTheRunAfterItsChannel();
    void bankModemComesBackAfterASilentChannel();
    void windowBesideAServiceRunsNoTask();

private:
    std::unique_ptr<TForm1> makeWindow();
    void writeTask(const QString& file, const QString& type, int h, int m, const QString& status,
                   const QStringList& channels);
    void useTcp(TForm1& w);
    // One running tick 200 ms after the last, with the events that came in meanwhile.
    void tick(TForm1& w);

    std::unique_ptr<TinyModem> modem_;
};

void TestEngineWindow::init() {
    setUpWindow();
    modem_ = std::make_unique<TinyModem>();
}

void TestEngineWindow::cleanup() {
    modem_.reset();
    tearDownWindow();
}

std::unique_ptr<TForm1> TestEngineWindow::makeWindow() {
    auto w = newWindow();
    w->Timer1->stop(); // the test drives the ticks
    w->Epause->setText(QStringLiteral("1"));
    return w;
}

void TestEngineWindow::writeTask(const QString& file, const QString& type, int h, int m,
                                 const QString& status, const QStringList& channels) {
    QString text = QStringLiteral("Задача^%1^%2^%3^%4^\r\n").arg(type).arg(h).arg(m).arg(status);
    for (const QString& c : channels)
        text += c + QStringLiteral("\r\n");
    testfiles::writeText(dir_->filePath(file), text);
}

void TestEngineWindow::useTcp(TForm1& w) {
    w.RBtcp->setChecked(true);
    w.EipAdr->setText(QStringLiteral("127.0.0.1"));
    w.EtcpPort->setText(modem_->port());
}

void TestEngineWindow::tick(TForm1& w) {
    QCoreApplication::processEvents();
    clock_.advanceMs(w.Timer1->interval());
    w.Timer1Timer();
}

void TestEngineWindow::runOverTcpRecordsAndWindsUp() {
    auto w = makeWindow();
    useTcp(*w);
    modem_->answers["#80011"] = "BUSY";
    modem_->answers["#80012"] = "NO CARRIER";
    writeTask(QStringLiteral("t1.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"),
              {kCh1, kCh2});
    w->TaskRefresh();
    w->InstantlyTaskCheck();
    QVERIFY(w->Engine->run());
    QCOMPARE(w->RunActive, 1);
    QCOMPARE(w->RunTaskFile, QStringLiteral("t1.tsk"));
    QCOMPARE(w->SGtask->cell(4, 1), QStringLiteral("Стартирана"));
    QVERIFY(testfiles::readText(dir_->filePath("t1.tsk"))
                .startsWith(QStringLiteral("Задача^Веднага^0^0^Стартирана^")));
    QCOMPARE(w->Timer1->interval(), 1200); // the settle pause delays the first tick
    for (QPushButton* b : {w->BnewTask, w->BaddTask, w->BtaskChange, w->BtaskDelete})
        QVERIFY(!b->isEnabled());
    QTRY_VERIFY(w->Engine->run()->line(0).isOpen());
    // The operator flips the link choice during the run: the run keeps its own link.
    w->RBcom->setChecked(true);
    tick(*w);
    QCOMPARE(w->Timer1->interval(), 200);
    QCOMPARE(w->Edit1->text(), QStringLiteral("0"));
    while (w->Engine->run()->cycle().tickCount() < 20)
        tick(*w);
    QTRY_VERIFY(modem_->received.contains("atdt#80011\r"));
    QTRY_COMPARE(w->MemoCommLog->line(w->CommLineIndex() - 1), QStringLiteral("BUSY"));
    tick(*w);
    QCOMPARE(w->Edit1->text(), QStringLiteral("1"));
    QCOMPARE(w->Engine->run()->cycle().state(), TestCycle::Pause);
    QCOMPARE(w->Gauge1->value(), 50);
    const QDateTime firstStamp = clock_.now();
    QVERIFY(QFile::exists(dir_->filePath("Results/2405.jrn")));
    while (w->Engine->run() && w->Engine->run()->cycle().state() != TestCycle::AwaitAnswer)
        tick(*w);
    QTRY_COMPARE(w->MemoCommLog->line(w->CommLineIndex() - 1), QStringLiteral("NO CARRIER"));
    const QDateTime secondStamp = clock_.now().addMSecs(200);
    tick(*w);
    QVERIFY(!w->Engine->run());
    QCOMPARE(w->RunActive, 0);
    QCOMPARE(w->Timer1->interval(), 10000);
    QCOMPARE(w->Gauge1->value(), 0);
    QVERIFY(w->RunTaskFile.isEmpty());
    QVERIFY(!QFile::exists(dir_->filePath("t1.tsk")));
    QTRY_COMPARE(modem_->clients, 0); // the run's link is closed
    QVERIFY(!QFile::exists(dir_->filePath("Results/2405.jrn")));
    QCOMPARE(testfiles::readText(dir_->filePath("Results/2405.tst")),
             kCh1 + QStringLiteral("^BUSY^20^") + firstStamp.toString(QStringLiteral("yyMMddhhmm")) +
                 QStringLiteral("^\r\n") + kCh2 + QStringLiteral("^NO CARRIER^20^") +
                 secondStamp.toString(QStringLiteral("yyMMddhhmm")) + QStringLiteral("^\r\n"));
    for (QPushButton* b : {w->BnewTask, w->BaddTask, w->BtaskChange, w->BtaskDelete})
        QVERIFY(b->isEnabled());
    QCOMPARE(w->Engine->lastRunSummary(),
             QStringLiteral("Тествани канали: 2\nВръзка: 0, заето: 1, неуспешни: 1"));
    QCoreApplication::processEvents();
    QVERIFY(dialogs_->shown.isEmpty());
}

void TestEngineWindow::errorEndWindsUpBeforeItsMessage() {
    auto w = makeWindow();
    useTcp(*w);
    writeTask(QStringLiteral("t1.tsk"), QStringLiteral("По време"), 7, 5, QStringLiteral("Чакаща"), {kCh1});
    w->TaskRefresh();
    w->Timer1->setInterval(10000);
    w->Timer1Timer(); // the scheduler check of 07:05
    QVERIFY(w->Engine->run());
    QCOMPARE(w->Timer1->interval(), 400);
    while (w->Engine->run())
        tick(*w);
    // Silent modem: the time-out 901 ticks after the dial; everything is wound up first.
    QCOMPARE(w->Timer1->interval(), 10000);
    QVERIFY(!QFile::exists(dir_->filePath("t1.tsk")));
    QVERIFY(w->BaddTask->isEnabled());
    QVERIFY(dialogs_->shown.isEmpty()); // not from inside the tick
    QTRY_COMPARE(dialogs_->texts(), QStringList{TestCycle::kModemFailed});
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Error);
    QTRY_COMPARE(modem_->clients, 0); // the run's link is closed
}

void TestEngineWindow::failedStartKeepsTaskAndTellsOncePerMinute() {
    auto w = makeWindow();
    w->RBtcp->setChecked(true);
    w->EipAdr->setText(QStringLiteral("no.such.host.invalid"));
    w->EtcpPort->setText(QStringLiteral("23"));
    writeTask(QStringLiteral("t1.tsk"), QStringLiteral("По време"), 7, 5, QStringLiteral("Чакаща"), {kCh1});
    w->TaskRefresh();
    w->Timer1->setInterval(10000);
    for (int i = 0; i < 5; ++i) { // checks every 10 s within 07:05
        w->Timer1Timer();
        QVERIFY(!w->Engine->run());
        clock_.advanceMs(10000);
        QCoreApplication::processEvents();
    }
    QCOMPARE(dialogs_->shown.size(), 1);
    QVERIFY(dialogs_->lastText().startsWith(QStringLiteral("connect: ")));
    QTRY_COMPARE(modem_->clients, 0);
    QVERIFY(testfiles::readText(dir_->filePath("t1.tsk"))
                .startsWith(QStringLiteral("Задача^По време^7^5^Чакаща^")));
    QCOMPARE(w->Timer1->interval(), 10000);

    // A task file gone after the link was opened: the start fails and closes that link.
    useTcp(*w);
    writeTask(QStringLiteral("t0.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"), {kCh1});
    w->TaskRefresh();
    QFile::remove(dir_->filePath("t0.tsk"));
    QVERIFY_THROWS_EXCEPTION(AppError, w->InstantlyTaskCheck());
    QVERIFY(!w->Engine->run());
    QTRY_COMPARE(modem_->clients, 0);
    QCOMPARE(w->RunActive, 0);

    // An empty address fails the immediate start at once with the link's text.
    w->EipAdr->clear();
    QFile::remove(dir_->filePath("t1.tsk"));
    writeTask(QStringLiteral("t2.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Забранена"), {kCh1});
    w->TaskRefresh();
    try {
        w->InstantlyTaskCheck();
        QFAIL("the start did not fail");
    } catch (const AppError& e) {
        QCOMPARE(e.text(), QStringLiteral("Connect: No IP Address Specified"));
    }
    QVERIFY(testfiles::readText(dir_->filePath("t2.tsk")).contains(QStringLiteral("^Забранена^")));
}

void TestEngineWindow::dailyTaskReArmedAndNotRestartedInItsMinute() {
    auto w = makeWindow();
    useTcp(*w);
    modem_->answers["#80011"] = "BUSY";
    writeTask(QStringLiteral("d.tsk"), QStringLiteral("Всеки ден"), 7, 5, QStringLiteral("Чакаща"), {kCh1});
    w->TaskRefresh();
    w->Timer1->setInterval(10000);
    w->Timer1Timer();
    QVERIFY(w->Engine->run());
    QTRY_VERIFY(w->Engine->run()->line(0).isOpen());
    while (w->Engine->run() && w->Engine->run()->cycle().tickCount() < 20)
        tick(*w);
    QTRY_COMPARE(w->MemoCommLog->line(w->CommLineIndex() - 1), QStringLiteral("BUSY"));
    tick(*w);
    QVERIFY(!w->Engine->run());
    QCOMPARE(clock_.now().time().minute(), 5); // the run ended within its start minute
    QVERIFY(testfiles::readText(dir_->filePath("d.tsk"))
                .startsWith(QStringLiteral("Задача^Всеки ден^7^5^Чакаща^")));
    QCOMPARE(w->SGtask->cell(4, 1), QStringLiteral("Чакаща"));
    w->Timer1Timer();
    QVERIFY(!w->Engine->run());
    QCoreApplication::processEvents();
    QVERIFY(dialogs_->shown.isEmpty());
}

void TestEngineWindow::emptyTaskEndsAtOnce() {
    auto w = makeWindow();
    w->RBcom->setChecked(false);
    w->RBtcp->setChecked(false); // no link chosen: nothing is opened
    writeTask(QStringLiteral("e.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"), {});
    w->TaskRefresh();
    w->InstantlyTaskCheck();
    QVERIFY(w->Engine->run());
    tick(*w);
    QVERIFY(!w->Engine->run());
    QVERIFY(!QFile::exists(dir_->filePath("e.tsk")));
    QVERIFY(w->BaddTask->isEnabled());
    QTRY_COMPARE(dialogs_->texts(), QStringList{TestCycle::kNoChannels});
}

void TestEngineWindow::closeDuringStoppedRun() {
    auto w = makeWindow();
    useTcp(*w);
    modem_->answers["#80011"] = "BUSY";
    writeTask(QStringLiteral("t1.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"),
              {kCh1, kCh2});
    w->TaskRefresh();
    w->InstantlyTaskCheck();
    QTRY_VERIFY(w->Engine->run()->line(0).isOpen());
    while (w->Engine->run()->cycle().tickCount() < 20)
        tick(*w);
    QTRY_COMPARE(w->MemoCommLog->line(w->CommLineIndex() - 1), QStringLiteral("BUSY"));
    tick(*w); // recorded; the pause begins
    QVERIFY(QFile::exists(dir_->filePath("Results/2405.jrn")));
    w->StopRequested = true;
    dialogs_->setNextAnswer(MsgAnswer::Yes);
    w->close();
    QVERIFY(!w->Engine->run());
    QVERIFY(testfiles::readText(dir_->filePath("t1.tsk"))
                .startsWith(QStringLiteral("Задача^Веднага^0^0^Чакаща^")));
    QVERIFY(
        testfiles::readText(dir_->filePath("Results/2405.tst")).startsWith(kCh1 + QStringLiteral("^BUSY^")));
    QVERIFY(!QFile::exists(dir_->filePath("Results/2405.jrn")));
    QTRY_COMPARE(modem_->clients, 0);
}

namespace {
// Nobody at the desk: every box stays open, running its own event loop as a modal box does,
// until released.
class UnansweredDialogs : public ScriptedDialogs {
public:
    MsgAnswer message(QWidget*, MsgKind kind, const QString& text, bool yesNo) override {
        shown.append({kind, text, yesNo});
        if (released)
            return yesNo ? MsgAnswer::No : MsgAnswer::Ok;
        QEventLoop loop;
        open.append(&loop);
        loop.exec();
        open.removeOne(&loop);
        return yesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
    void release() {
        released = true;
        for (QEventLoop* l : open)
            l->quit();
    }
    QList<QEventLoop*> open;
    bool released = false;
};
} // namespace

void TestEngineWindow::unansweredBoxesHoldUpNoTask() {
    dialogs_.reset();
    UnansweredDialogs dialogs;
    // An empty task file sorts first, so it is the selected row at start-up and after each run.
    testfiles::writeBytes(dir_->filePath("240101000000.tsk"), {});
    writeTask(QStringLiteral("240101000001.tsk"), QStringLiteral("По време"), 7, 6, QStringLiteral("Чакаща"),
              {kCh1});
    writeTask(QStringLiteral("240101000002.tsk"), QStringLiteral("По време"), 7, 7, QStringLiteral("Чакаща"),
              {kCh2});
    TForm1* w = nullptr;
    QList<int> startMinutes;
    QList<bool> enabledAfter;
    bool wasRunning = false;
    // Timer1's ticks on the test's clock, and the modem's answers, played by the event loop,
    // which goes on inside every box left open.
    QTimer driver;
    driver.setInterval(0);
    connect(&driver, &QTimer::timeout, this, [&] {
        if (!w || dialogs.released) // only what happens while nobody answers counts
            return;
        clock_.advanceMs(w->Timer1->interval());
        if (w->Engine->run() && w->Engine->run()->cycle().state() == TestCycle::AwaitAnswer &&
            w->Engine->run()->line(0).log().commLineIndex() == w->Engine->run()->cycle().dialLogLine())
            w->Engine->run()->line(0).log().append("\r\nBUSY\r\n"); // the modem's answer

        w->Posted([&] { w->Timer1Timer(); });
        const bool running = bool(w->Engine->run());
        if (running && !wasRunning)
            startMinutes.append(clock_.now().time().minute());
        if (!running && wasRunning)
            enabledAfter.append(w->BnewTask->isEnabled() && w->BaddTask->isEnabled() &&
                                w->BtaskChange->isEnabled() && w->BtaskDelete->isEnabled());
        wasRunning = running;
        if (enabledAfter.size() == 2 || clock_.now().time() > QTime(7, 10))
            dialogs.release(); // seen enough: the operator comes back
    });
    driver.start();
    QTimer safety; // for a start-up that waits on a box
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, this, [&dialogs] { dialogs.release(); });
    safety.start(10000);
    auto window = newWindow();
    window->Timer1->stop(); // the driver plays its ticks
    window->RBcom->setChecked(false);
    window->RBtcp->setChecked(false);
    window->Epause->setText(QStringLiteral("1"));
    w = window.get();
    QTRY_VERIFY_WITH_TIMEOUT(enabledAfter.size() == 2 || clock_.now().time() > QTime(7, 10), 20000);
    dialogs.release();
    driver.stop();
    QCOMPARE(startMinutes, (QList<int>{6, 7}));
    QCOMPARE(enabledAfter, (QList<bool>{true, true}));
    QVERIFY(!dialogs.shown.isEmpty());
    QVERIFY(dialogs.shown.first().text.contains(QStringLiteral("240101000000.tsk")));
    const QString month = testfiles::readText(dir_->filePath("Results/2405.tst"));
    QVERIFY2(month.contains(kCh1 + QStringLiteral("^BUSY^")) &&
                 month.contains(kCh2 + QStringLiteral("^BUSY^")),
             qPrintable(month));
    w = nullptr;
}

void TestEngineWindow::nextDueTaskStartsWhenFirstCannot() {
    auto w = makeWindow();
    useTcp(*w);
    writeTask(QStringLiteral("t1.tsk"), QStringLiteral("По време"), 7, 5, QStringLiteral("Чакаща"), {kCh1});
    writeTask(QStringLiteral("t2.tsk"), QStringLiteral("По време"), 7, 5, QStringLiteral("Чакаща"), {kCh2});
    w->TaskRefresh();
    QFile::remove(dir_->filePath("t1.tsk")); // gone since the table was built
    w->Timer1->setInterval(10000);
    w->Timer1Timer();
    QVERIFY(w->Engine->run());
    QCOMPARE(w->RunTaskFile, QStringLiteral("t2.tsk"));
    QTRY_COMPARE(dialogs_->shown.size(), 1);
    QVERIFY(dialogs_->lastText().contains(QStringLiteral("t1.tsk")));
}

void TestEngineWindow::stopButtonEndsTheRunAfterItsChannel() {
    for (const QString& type : {QStringLiteral("Всеки ден"), QStringLiteral("По време")}) {
        if (type != QStringLiteral("Всеки ден")) { // a fresh folder for the second
            cleanup();
            init();
        }
        auto w = makeWindow();
        useTcp(*w);
        modem_->answers["#80011"] = "BUSY";
        writeTask(QStringLiteral("t1.tsk"), type, 7, 5, QStringLiteral("Чакаща"), {kCh1, kCh2});
        w->TaskRefresh();
        w->Timer1->setInterval(10000);
        w->Timer1Timer();
        QTRY_VERIFY(w->Engine->run()->line(0).isOpen());
        while (w->Engine->run()->cycle().tickCount() < 21)
            tick(*w);
        QCOMPARE(w->Engine->run()->cycle().state(), TestCycle::AwaitAnswer);
        // The operator stops the running task while its first channel waits for the answer.
        QCOMPARE(w->BchStatus->text(), QStringLiteral("Спри"));
        QTest::mouseClick(w->BchStatus, Qt::LeftButton);
        QCOMPARE(w->BchStatus->text(), QStringLiteral("Почакай!"));
        QVERIFY(
            testfiles::readText(dir_->filePath("t1.tsk")).contains(QStringLiteral("^В процес на спиране^")));
        QTRY_COMPARE(w->MemoCommLog->line(w->CommLineIndex() - 1), QStringLiteral("BUSY"));
        tick(*w); // the channel's answer is recorded, and that ends the run
        QVERIFY(!w->Engine->run());
        QVERIFY(!modem_->received.contains("atdt#80012"));
        QVERIFY(!w->StopRequested);
        QVERIFY(w->BaddTask->isEnabled());
        QVERIFY(testfiles::readText(dir_->filePath("Results/2405.tst"))
                    .startsWith(kCh1 + QStringLiteral("^BUSY^")));
        if (type == QStringLiteral("Всеки ден"))
            QVERIFY(testfiles::readText(dir_->filePath("t1.tsk")).contains(QStringLiteral("^Чакаща^")));
        else
            QVERIFY(!QFile::exists(dir_->filePath("t1.tsk")));
    }
}

// A bank of two simulated modems and a channel that leaves a modem silent: each dial shows in
// the log when it is sent; the first modem is brought back (hang-up, a new connection, "at")
// and goes on, the channel is dialled by the other and then given up, and the run's end names
// it and leaves the state box as one modem does.
void TestEngineWindow::bankModemComesBackAfterASilentChannel() {
    QProcess sim;
    const QString first = realprogram::startSim(
        sim, {QStringLiteral("--modems"), QStringLiteral("2"), QStringLiteral("--answer"), QStringLiteral("#80011 SILENT"),
              QStringLiteral("--answer"), QStringLiteral("#80012 BUSY"), QStringLiteral("--answer"),
              QStringLiteral("#80013 BUSY")});
    QVERIFY(!first.isEmpty());
    const QString second = QString::number(first.toInt() + 1);
    auto w = makeWindow();
    useTcp(*w);
    w->EtcpPort->setText(first + QStringLiteral(" – ") + second); // the dash a word processor types
    const QString kCh3 = QStringLiteral("София -- Център  3 Ch. --> #80013");
    writeTask(QStringLiteral("b.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"), {kCh1, kCh2, kCh3});
    w->TaskRefresh();
    w->InstantlyTaskCheck();
    QVERIFY(w->Engine->run());
    ModemLine* line0 = &w->Engine->run()->line(0);
    QTRY_VERIFY(line0->isOpen() && w->Engine->run()->line(1).isOpen());
    const TestCycle& cycle = w->Engine->run()->cycle();
    while (cycle.tickCount() < 20)
        tick(*w);
    // Both dials are in the log at once, each behind its port, and its echo is not repeated.
    QCOMPARE(w->MemoCommLog->line(w->CommLineIndex() - 2), first + QStringLiteral("> atdt#80011"));
    QCOMPARE(w->MemoCommLog->line(w->CommLineIndex() - 1), second + QStringLiteral("> atdt#80012"));
    QTRY_COMPARE(w->MemoCommLog->line(w->CommLineIndex() - 1), second + QStringLiteral("> BUSY"));
    // The tooltip being shown follows the modems' states.
    const QPoint over = w->Edit1->mapToGlobal(w->Edit1->rect().center());
    QCursor::setPos(over);
    QToolTip::showText(over, w->Edit1->toolTip(), w->Edit1);
    const QString before = QToolTip::text();
    tick(*w);
    QVERIFY(QToolTip::isVisible());
    QVERIFY(QToolTip::text() != before && QToolTip::text() == w->Edit1->toolTip());
    QToolTip::hideText();
    // The fake clock must not run past answers that take real time: a modem asked for an
    // answer that will come is waited for.
    const QStringList channels{kCh1, kCh2, kCh3};
    auto answered = [&](int i) {
        const CommLog& log = w->Engine->run()->line(i).log();
        const QString dial = QStringLiteral("atdt") + TestCycle::dialString(channels[cycle.channel(i)]);
        for (int n = log.commLineIndex() - 1; n > log.firstKeptIndex(); --n)
            if (log.line(n - 1) == dial)
                return !log.line(n).isEmpty();
        return false;
    };
    bool broughtBack = false;
    while (w->Engine->run()) {
        tick(*w);
        for (int i = 0; w->Engine->run() && i < 2; ++i)
            if (cycle.state(i) == TestCycle::AwaitAnswer && cycle.channel(i) > 0)
                QTRY_VERIFY(answered(i));
        if (w->Engine->run() && line0->link() == ModemPort::Link::Connecting) {
            QTRY_VERIFY(line0->isOpen());
            tick(*w); // asks the modem
            QTRY_COMPARE(line0->log().line(line0->log().commLineIndex() - 1), QStringLiteral("OK"));
            broughtBack = true;
        }
    }
    QVERIFY(broughtBack);
    realprogram::stop(sim);
    const QString month = testfiles::readText(dir_->filePath("Results/2405.tst"));
    QVERIFY(month.contains(kCh2 + QStringLiteral("^BUSY^")) && month.contains(kCh3 + QStringLiteral("^BUSY^")));
    QVERIFY(!month.contains(kCh1));
    QCOMPARE(w->Edit1->text().size(), 1);
    QCOMPARE(w->Edit1->geometry(), w->Edit1Geometry);
    QTRY_COMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->lastText(), QStringLiteral("Каналът %1 не е тестван: два модема не получиха отговор при "
                                                  "набирането му.")
                                       .arg(kCh1));
}

// The service holds the folder's lock: the window opens, says so once, starts nothing, leaves
// the journal alone, follows the task statuses the service writes and asks a stop through the file.
void TestEngineWindow::windowBesideAServiceRunsNoTask() {
    FolderLock service;
    QCOMPARE(service.take(dir_->path(), FolderLock::Holder::Service), FolderLock::Outcome::Taken);
    writeTask(QStringLiteral("t1.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"), {kCh1});
    QDir().mkpath(dir_->filePath("Results"));
    {
        ResultJournal running; // the service's run has recorded one test of a month without a file yet
        running.create(dir_->filePath("Results/2405.jrn"), FileFingerprint());
        running.append({kCh1, QStringLiteral("BUSY"), QStringLiteral("300"), QStringLiteral("2405140705")});
    }
    auto w = makeWindow();
    QVERIFY(!w->Engine->schedules());
    QVERIFY(!w->Engine->run());
    QTRY_COMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Information);
    QVERIFY(dialogs_->lastText().contains(QStringLiteral("услугата chantest")));
    QVERIFY(QFile::exists(dir_->filePath("Results/2405.jrn")));
    // The service starts the task; the window's table follows at its next check.
    writeTask(QStringLiteral("t1.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Стартирана"), {kCh1});
    w->Timer1->setInterval(10000);
    w->Timer1Timer();
    QVERIFY(!w->Engine->run());
    QCOMPARE(w->SGtask->cell(4, 1), QStringLiteral("Стартирана"));
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Спри"));
    QTest::mouseClick(w->BchStatus, Qt::LeftButton);
    QVERIFY(testfiles::readText(dir_->filePath("t1.tsk")).contains(QStringLiteral("^В процес на спиране^")));
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Почакай!"));
    QCOMPARE(dialogs_->shown.size(), 1);
    // The results page shows the service's tests so far, read from its journal in memory.
    w->PageControl1->setCurrentIndex(1);
    w->ChLBch->setItems({kCh1});
    w->ChLBch->setChecked(0, true);
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    QVERIFY(w->ViewList && w->ViewList->value(0).startsWith(kCh1 + QStringLiteral("^BUSY^300^")));
    QCOMPARE(w->SGresults->cell(2 + 14 - 1, 1), QStringLiteral("З"));
    QVERIFY(QFile::exists(dir_->filePath("Results/2405.jrn")));
    QCOMPARE(dialogs_->shown.size(), 1);
}

QTEST_MAIN(TestEngineWindow)
#include "test_enginewindow.moc"
