// The window: its controls, start-up, page switching, the close and the second-copy rule.
#include "mock/MockClock.h"
#include "mock/ScriptedDialogs.h"
#include "mock/WindowFixture.h"
#include "gui/Guard.h"
#include "gui/StringGrid.h"
#include "gui/Unit1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestMainWindow : public QObject, protected WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void controlsAndCaptions();
    void headersAndStartup();
    void dataFoldersBesideExecutable();
    void dataFoldersFallBackToWorkingDir();
    void pageSwitchingPlacesPanel();
    void closeAnsweredNoAndYes();
    void guardShowsErrorAndGoesOn();
    void secondCopyIsRefused();

private:
};

void TestMainWindow::init() {
    setUpWindow();
}

void TestMainWindow::cleanup() {
    tearDownWindow();
}

void TestMainWindow::controlsAndCaptions() {
    TForm1 w({dir_->path(), &clock_});
    QCOMPARE(w.windowTitle(), QStringLiteral("Програма за тестване на каналите"));
    QCOMPARE(w.PageControl1->count(), 3);
    QCOMPARE(w.PageControl1->tabText(0), QStringLiteral("Задачи"));
    QCOMPARE(w.PageControl1->tabText(1), QStringLiteral("Резултати"));
    QCOMPARE(w.PageControl1->tabText(2), QStringLiteral("Настройки"));
    QCOMPARE(w.PageControl1->currentIndex(), 0);
    QCOMPARE(w.PageControl1->geometry(), QRect(0, 0, 781, 486));
    QCOMPARE(w.PanelIzbor->geometry(), QRect(11, 138, 627, 340));
    QCOMPARE(w.Gauge1->geometry(), QRect(24, 491, 185, 17));
    QCOMPARE(w.Edit1->text(), QStringLiteral("Edit1"));
    QCOMPARE(w.SGtask->size(), QSize(543, 98));
    QCOMPARE(w.SGtask->rowCount(), 10);
    QCOMPARE(w.SGtask->colCount(), 6);
    QCOMPARE(w.SGtask->colWidth(1), 117);
    QCOMPARE(w.MemoComm->geometry(), QRect(9, 136, 624, 313));
    QVERIFY(w.MemoComm->isReadOnly());
    QCOMPARE(w.SGsetings->rowCount(), 30);
    QCOMPARE(w.SGsetings->colWidth(4), 144);
    QCOMPARE(w.SGresults->colCount(), 33);
    QCOMPARE(w.SGresults->colWidth(1), 196);
    QCOMPARE(w.SGdetails->rowCount(), 14);
    QCOMPARE(w.PDetails->geometry(), QRect(232, 88, 329, 329));
    QCOMPARE(w.EinitString->text(), QStringLiteral("atx3w2&d0e1m0 s0=1 s7=70 s11=55 s95=0"));
    QCOMPARE(w.EmodemSpeed->text(), QStringLiteral("at+MS=v34,1,2400,12000"));
    QCOMPARE(w.Epause->text(), QStringLiteral("20"));
    QVERIFY(w.RBcom->isChecked());
    QVERIFY(!w.RBtcp->isChecked());
    QVERIFY(!w.CBoxIniString->isChecked());
    QCOMPARE(w.CBSpeed->count(), 6);
    QCOMPARE(w.CBSpeed->currentText(), QStringLiteral("1200"));
    QCOMPARE(w.GBModem->title(), QStringLiteral("Натройки на модема"));
    QCOMPARE(w.CBmesec->count(), 12);
    QCOMPARE(w.CBmesec->itemText(11), QStringLiteral("Декември"));
    QCOMPARE(w.SEgodina->minimum(), 1995);
    QCOMPARE(w.SEgodina->maximum(), 2100);
    QCOMPARE(w.SpinEditH->maximum(), 23);
    QCOMPARE(w.SpinEditM->maximum(), 59);
    QCOMPARE(w.Timer1->interval(), 10000);
    QVERIFY(w.Timer1->isActive());
    // Hidden until a month is shown.
    for (QWidget* c :
         {static_cast<QWidget*>(w.btn_prev), static_cast<QWidget*>(w.btn_next), static_cast<QWidget*>(w.Bexp),
          static_cast<QWidget*>(w.CBoxComment), static_cast<QWidget*>(w.BresultsClose),
          static_cast<QWidget*>(w.SGresults), static_cast<QWidget*>(w.PDetails)})
        QVERIFY2(c->isHidden(), qPrintable(c->objectName()));
    // Every control is found by its name.
    for (const char* name :
         {"SGtask",      "LEtaskName",    "GBtimeBegin", "SpinEditH",   "SpinEditM",     "RGType",
          "BnewTask",    "BtaskChange",   "BaddTask",    "BtaskDelete", "BchStatus",     "MemoComm",
          "CBmesec",     "SEgodina",      "BdbOpen",     "btn_prev",    "btn_next",      "Bexp",
          "CBoxComment", "BresultsClose", "Label9",      "Label11",     "SGresults",     "PDetails",
          "Label10",     "BDetailsClose", "SGdetails",   "SGsetings",   "BopenSet",      "BsaveSet",
          "RGprefix",    "RGaction",      "GBModem",     "CBPort",      "CBSpeed",       "Epause",
          "RBcom",       "RBtcp",         "EipAdr",      "EtcpPort",    "CBoxIniString", "EinitString",
          "EmodemSpeed", "ChLBdir",       "ChLBdiv",     "ChLBch",      "Gauge1",        "Edit1"})
        QVERIFY2(w.findChild<QWidget*>(name), name);
}

void TestMainWindow::headersAndStartup() {
    clock_.setNow(QDateTime(QDate(2024, 3, 9), QTime(10, 0)));
    TForm1 w({dir_->path(), &clock_});
    QCOMPARE(w.SGtask->cell(0, 0), QStringLiteral("№"));
    QCOMPARE(w.SGtask->cell(5, 0), QStringLiteral("Име на файла"));
    QCOMPARE(w.SGsetings->cell(4, 0), QStringLiteral("Директен достъп"));
    QCOMPARE(w.SGresults->cell(1, 0), QStringLiteral("Канал"));
    QCOMPARE(w.SGresults->cell(2, 0), QStringLiteral("1"));
    QCOMPARE(w.SGresults->cell(32, 0), QStringLiteral("31"));
    QCOMPARE(w.SGdetails->cell(1, 0), QStringLiteral("Отговор от модема"));
    QCOMPARE(w.CBmesec->currentIndex(), 2);
    QCOMPARE(w.SEgodina->value(), 2024);
    QVERIFY(w.panelInFront());
    QVERIFY(!w.StopRequested);
    QCOMPARE(w.RunActive, 0);
}

void TestMainWindow::dataFoldersBesideExecutable() {
    TForm1 w({dir_->filePath("app"), &clock_});
    QCOMPARE(w.ResultsDir, dir_->filePath("app/Results"));
    QCOMPARE(w.ExportDir, dir_->filePath("app/Export"));
    QVERIFY(QFileInfo(w.ResultsDir).isDir());
    QVERIFY(QFileInfo(w.ExportDir).isDir());
}

void TestMainWindow::dataFoldersFallBackToWorkingDir() {
    // A plain file where the executable's folder should be: that folder cannot be used.
    QFile blocker(dir_->filePath("ro"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QDir::setCurrent(dir_->path());
    QDir().mkpath("work");
    QDir::setCurrent(dir_->filePath("work"));
    TForm1 w({dir_->filePath("ro"), &clock_});
    QCOMPARE(QFileInfo(w.ResultsDir).canonicalFilePath(),
             QFileInfo(dir_->filePath("work/Results")).canonicalFilePath());
    QVERIFY(QFileInfo(dir_->filePath("work/Results")).isDir());
    QVERIFY(QFileInfo(dir_->filePath("work/Export")).isDir());
    QCOMPARE(w.PageControl1->tabToolTip(1), QDir::toNativeSeparators(w.ResultsDir));

    // An installed copy works in the working folder even where it could write beside itself.
    TForm1 installed({QStringLiteral("/usr/bin"), &clock_});
    QCOMPARE(QFileInfo(installed.ResultsDir).canonicalFilePath(),
             QFileInfo(dir_->filePath("work/Results")).canonicalFilePath());
    QVERIFY(!installed.ExportDir.startsWith(QLatin1String("/usr/")));
}

void TestMainWindow::pageSwitchingPlacesPanel() {
    QFile base(dir_->filePath("ChBase.dat")); // an empty channel base
    QVERIFY(base.open(QIODevice::WriteOnly));
    base.close();
    TForm1 w({dir_->path(), &clock_});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTabBar* bar = w.PageControl1->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
    QCOMPARE(w.PageControl1->currentIndex(), 2);
    QVERIFY(!w.panelInFront());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    QCOMPARE(w.PageControl1->currentIndex(), 1);
    QCOMPARE(w.PanelIzbor->y(), 100);
    QVERIFY(w.panelInFront()); // no month is shown
    w.MonthViewOpen = 1;
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    QVERIFY(!w.panelInFront()); // behind the open month
    w.MonthViewOpen = 0;
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    QCOMPARE(w.PanelIzbor->y(), 138);
    QVERIFY(w.panelInFront());
    // During a run the log stands in front of the panel on the tasks page.
    w.RunActive = 1;
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    QVERIFY(!w.panelInFront());
    QVERIFY(w.MemoComm->isVisible());
    w.RunActive = 0;
    QVERIFY(dialogs_->shown.isEmpty());
    // A channel base that cannot be read is reported, and the panel is still placed.
    QVERIFY(base.remove());
    QVERIFY(QDir().mkdir(dir_->filePath("ChBase.dat")));
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    QCOMPARE(w.PanelIzbor->y(), 100);
    QVERIFY(w.panelInFront());
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Error);
}

void TestMainWindow::closeAnsweredNoAndYes() {
    TForm1 w({dir_->path(), &clock_});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    dialogs_->setNextAnswer(MsgAnswer::No);
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Confirmation);
    QVERIFY(dialogs_->shown[0].yesNo);
    QCOMPARE(dialogs_->shown[0].text, QStringLiteral("Сигурни ли сте, че искате да затворите приложението?"));
    dialogs_->setNextAnswer(MsgAnswer::Yes);
    QVERIFY(w.close());
    QVERIFY(!w.isVisible());
}

void TestMainWindow::guardShowsErrorAndGoesOn() {
    TForm1 w({dir_->path(), &clock_});
    bool after = false;
    Guarded(&w, [&] {
        (void)w.SGtask->cell(99, 0); // out of range: an error with a message, not a crash
        after = true;
    });
    QVERIFY(!after);
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Error);
    QCOMPARE(dialogs_->shown[0].text, QStringLiteral("Grid index out of range"));
}

void TestMainWindow::secondCopyIsRefused() {
    const QString exe = qEnvironmentVariable("CHANTEST_BINARY_DIR") + "/chantest";
    QVERIFY(QFileInfo::exists(exe));
    // A private, unique file name: parallel tests and a running demo never see each other.
    const QString name = QStringLiteral("chantest-copy-%1").arg(QCoreApplication::applicationPid());
    QDir root(dir_->path());
    for (const char* d : {"a", "b", "c", "d", "e"})
        QVERIFY(root.mkpath(d));
    QVERIFY(QFile::copy(exe, root.filePath(QStringLiteral("a/") + name)));
    QVERIFY(QFile::copy(exe, root.filePath(QStringLiteral("b/") + name)));
    QVERIFY(QFile::copy(exe, root.filePath(QStringLiteral("c/") + name.toUpper()))); // letter case counts
    QVERIFY(QFile::copy(exe, root.filePath(QStringLiteral("d/") + name)));
    QVERIFY(QFile::copy(exe, root.filePath(QStringLiteral("e/") + name)));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    auto start = [&](const QString& rel) {
        auto* p = new QProcess(this);
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(root.filePath(QFileInfo(rel).path()));
        p->start(root.filePath(rel), {});
        return p;
    };
    QProcess* first = start(QStringLiteral("a/") + name);
    QVERIFY(first->waitForStarted());
    QProcess* other = start(QStringLiteral("c/") + name.toUpper());
    QVERIFY(other->waitForStarted());
    // Both past their own check (their windows made their folders) before the copy starts:
    // two copies starting at the same moment may each see the other.
    QTRY_VERIFY_WITH_TIMEOUT(root.exists(QStringLiteral("a/Results")), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(root.exists(QStringLiteral("c/Results")), 20000);
    QProcess* same = start(QStringLiteral("b/") + name);
    QVERIFY(same->waitForStarted());
    QVERIFY(same->waitForFinished(20000)); // refused silently
    QCOMPARE(same->exitCode(), 0);
    QCOMPARE(same->readAllStandardOutput(), QByteArray());
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(other->state(), QProcess::Running);
    for (QProcess* p : {first, other}) {
        p->kill();
        p->waitForFinished(5000);
    }

    // Two copies started in the same instant (a double click taken twice): exactly one runs.
    QProcess* one = start(QStringLiteral("d/") + name);
    QProcess* two = start(QStringLiteral("e/") + name);
    QVERIFY(one->waitForStarted() && two->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(one->state() == QProcess::NotRunning || two->state() == QProcess::NotRunning, 20000);
    QProcess* runs = one->state() == QProcess::NotRunning ? two : one;
    const QString runsIn = runs == one ? QStringLiteral("d/Results") : QStringLiteral("e/Results");
    QTRY_VERIFY_WITH_TIMEOUT(root.exists(runsIn), 20000); // past start-up: a window of its own
    QCOMPARE(runs->state(), QProcess::Running);
    QCOMPARE((runs == one ? two : one)->exitCode(), 0);
    runs->kill();
    runs->waitForFinished(5000);
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
