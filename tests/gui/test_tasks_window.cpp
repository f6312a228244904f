// The tasks page driven through the real window: task table, task buttons, the three
// selection lists and the status button.
#include "mock/MockClock.h"
#include "mock/ScriptedDialogs.h"
#include "mock/TestFiles.h"
#include "mock/WindowFixture.h"
#include "gui/CheckListBox.h"
#include "gui/RadioGroup.h"
#include "gui/StringGrid.h"
#include "gui/Unit1.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
const QString Waiting = QStringLiteral("Чакаща");
const QString NoChannel = QStringLiteral("Не е избран канал за проба. Моля изберете канал.");
const QString NoType = QStringLiteral("Не е избран времеви тип. Моля изберете тип.");

void writeLines(const QString& path, const QStringList& lines) {
    testfiles::writeText(path, lines.isEmpty() ? QString() : lines.join(QStringLiteral("\r\n")) + "\r\n");
}

QStringList readLines(const QString& path) {
    QString t = testfiles::readText(path);
    if (t.endsWith(QStringLiteral("\r\n")))
        t.chop(2);
    return t.isEmpty() ? QStringList() : t.split(QStringLiteral("\r\n"));
}

QStringList column(const StringGrid* g, int col) {
    QStringList out;
    for (int r = 1; r < g->rowCount(); ++r)
        out.append(g->cell(col, r));
    return out;
}

QStringList checked(const CheckListBox* box) {
    return box->checkedItems();
}

// The operator's space bar on an item: the view toggles its mark.
void toggle(CheckListBox* box, int i) {
    box->setCurrentIndex(box->model()->index(i, 0));
    QTest::keyClick(box, Qt::Key_Space);
}

void clickRow(StringGrid* g, int row) {
    const QModelIndex ix = g->model()->index(row - 1, 0);
    g->scrollTo(ix);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(ix).center());
}

void click(QPushButton* b) {
    QTest::mouseClick(b, Qt::LeftButton);
}
} // namespace

class TestTasksWindow : public QObject, protected WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void addImmediateUsesClockTime();
    void addTimedUsesSpinEditsAndCheckedChannelsOnly();
    void twoAddsInOneSecondKeepBoth();
    void addRefusesWithoutChannelOrType();
    void nameRefusesCaret();
    void tenthTaskGrowsGridAndNeverShrinks();
    void showTaskByClickAndArrowKeys();
    void emptyRowAndUnknownType();
    void unreadableOrEmptyFileHidesNoOtherTask();
    void changeKeepsCheckedChannelsAndStatus();
    void changeRefusesEmptySelectionAndNoType();
    void deleteTaskOrClearChannels();
    void typeClickShowsStartTime();
    void directionListOrderAndCase();
    void directionChecksListChannelsAndExchanges();
    void exchangeChecksMarkChannels();
    void popupMenusSelectAndDeselect();
    void missingOrUnreadableBase();
    void statusEnableDisable();
    void stopRunningTaskThenWait();
    void staleTaskStopAndWait();
    void unknownStatusKeepsCaption();
    void buttonsLockedAndUnlocked();
    void assistiveToolsNameEditsAndChooseTimeType();
    void changeToImmediateStartsRun();

private:
    std::unique_ptr<TForm1> open();
    void writeBase(const QStringList& lines) { writeLines(QStringLiteral("ChBase.dat"), lines); }
    // A base of two directions and three exchanges, loaded and its first direction checked.
    void loadBaseAndCheckNorth(TForm1& w);

    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers_;
};

void TestTasksWindow::init() {
    setUpWindow();
    clock_.setNow(QDateTime(QDate(2024, 5, 14), QTime(7, 5, 0)));
}

void TestTasksWindow::cleanup() {
    testers_.clear();
    tearDownWindow();
}

std::unique_ptr<TForm1> TestTasksWindow::open() {
    auto w = newWindow();
    // The scheduler is not under test here: no tick may start a task behind the test's back.
    w->Timer1->stop();
    for (QAbstractItemModel* m : std::initializer_list<QAbstractItemModel*>{
             w->SGtask->model(), w->ChLBdir->model(), w->ChLBdiv->model(), w->ChLBch->model()})
        testers_.push_back(std::make_unique<QAbstractItemModelTester>(
            m, QAbstractItemModelTester::FailureReportingMode::QtTest));
    w->show();
    return w;
}

void TestTasksWindow::loadBaseAndCheckNorth(TForm1& w) {
    writeBase({"South^S1^1^*81001^", "North^N1^1^#80001^", "North^N2^2^#80002^", "North^N1^3^#80003^"});
    click(w.BnewTask);
    QCOMPARE(w.ChLBdir->items(), (QVector<QString>{"North", "South"}));
    toggle(w.ChLBdir, 0);
    QCOMPARE(w.ChLBch->count(), 3);
}

void TestTasksWindow::addImmediateUsesClockTime() {
    auto w = open();
    loadBaseAndCheckNorth(*w);
    w->SelectAll3Click();
    w->LEtaskName->setText(QStringLiteral("T"));
    w->RGType->setItemIndex(0);
    w->SpinEditH->setValue(12); // ignored: an immediate task carries its creation time
    click(w->BaddTask);
    const QStringList lines = readLines(QStringLiteral("240514070500.tsk"));
    QCOMPARE(lines.size(), 4);
    // The status is the engine's from here on: the task is started at once.
    QVERIFY2(lines[0].startsWith(QStringLiteral("T^Веднага^7^5^")), qPrintable(lines[0]));
    QCOMPARE(w->SGtask->cell(3, 1), QStringLiteral("07:05"));
    QCOMPARE(w->SGtask->cell(5, 1), QStringLiteral("240514070500.tsk"));
    // ...and its run starts at once.
    QCOMPARE(w->RunActive, 1);
    QCOMPARE(w->RunTaskFile, QStringLiteral("240514070500.tsk"));
    QCOMPARE(w->SGtask->cell(4, 1), QStringLiteral("Стартирана"));
    QVERIFY(!w->BaddTask->isEnabled());
}

void TestTasksWindow::changeToImmediateStartsRun() {
    writeLines(QStringLiteral("240101000000.tsk"), {"A^По време^1^2^Чакаща^", "x -- y  1 Ch. --> 1"});
    auto w = open();
    QCOMPARE(w->RunActive, 0);
    QTest::mouseClick(w->RGType->button(0), Qt::LeftButton);
    click(w->BtaskChange);
    QCOMPARE(w->RunActive, 1);
    QCOMPARE(w->RunTaskFile, QStringLiteral("240101000000.tsk"));
    QVERIFY(readLines(QStringLiteral("240101000000.tsk")).first().startsWith(QStringLiteral("A^Веднага^")));
}

void TestTasksWindow::addTimedUsesSpinEditsAndCheckedChannelsOnly() {
    auto w = open();
    loadBaseAndCheckNorth(*w);
    toggle(w->ChLBch, 2);
    toggle(w->ChLBch, 0);
    w->LEtaskName->setText(QStringLiteral("T"));
    QTest::mouseClick(w->RGType->button(1), Qt::LeftButton);
    w->SpinEditH->setValue(9);
    w->SpinEditM->setValue(0);
    click(w->BaddTask);
    QCOMPARE(readLines(QStringLiteral("240514070500.tsk")),
             (QStringList{"T^По време^9^0^Чакаща^", "North -- N1  1 Ch. --> #80001",
                          "North -- N2  2 Ch. --> #80002"}));
    QCOMPARE(w->SGtask->cell(0, 1), QStringLiteral("1"));
    QCOMPARE(w->SGtask->cell(1, 1), QStringLiteral("T"));
    QCOMPARE(w->SGtask->cell(2, 1), QStringLiteral("По време"));
    QCOMPARE(w->SGtask->cell(3, 1), QStringLiteral("09:00"));
    QCOMPARE(w->SGtask->cell(4, 1), Waiting);

    clock_.advanceMs(60000);
    QTest::mouseClick(w->RGType->button(2), Qt::LeftButton);
    w->SpinEditH->setValue(23);
    w->SpinEditM->setValue(45);
    click(w->BaddTask);
    QCOMPARE(readLines(QStringLiteral("240514070600.tsk")).first(),
             QStringLiteral("T^Всеки ден^23^45^Чакаща^"));
    QCOMPARE(w->SGtask->cell(3, 2), QStringLiteral("23:45"));
    QVERIFY(dialogs_->shown.isEmpty());
}

void TestTasksWindow::twoAddsInOneSecondKeepBoth() {
    auto w = open();
    loadBaseAndCheckNorth(*w);
    w->SelectAll3Click();
    QTest::mouseClick(w->RGType->button(1), Qt::LeftButton);
    w->LEtaskName->setText(QStringLiteral("first"));
    click(w->BaddTask);
    w->LEtaskName->setText(QStringLiteral("second"));
    click(w->BaddTask);
    QCOMPARE(column(w->SGtask, 5).mid(0, 2), (QStringList{"240514070500.tsk", "240514070501.tsk"}));
    QCOMPARE(w->SGtask->cell(1, 1), QStringLiteral("first"));
    QCOMPARE(w->SGtask->cell(1, 2), QStringLiteral("second"));
}

void TestTasksWindow::addRefusesWithoutChannelOrType() {
    writeLines(QStringLiteral("240101000000.tsk"), {"Old^По време^1^2^Чакаща^", "x -- y  1 Ch. --> 1"});
    auto w = open();
    loadBaseAndCheckNorth(*w);
    // A file that appeared meanwhile is listed by the add's rebuild even when nothing is added.
    writeLines(QStringLiteral("240101000001.tsk"), {"New^По време^1^2^Чакаща^", "x -- y  1 Ch. --> 1"});
    QTest::mouseClick(w->RGType->button(1), Qt::LeftButton);
    click(w->BaddTask);
    QCOMPARE(dialogs_->texts(), QStringList{NoChannel});
    QCOMPARE(dialogs_->shown.last().kind, MsgKind::Warning);
    QCOMPARE(QDir().entryList({"*.tsk"}).size(), 2);
    QCOMPARE(w->SGtask->cell(1, 2), QStringLiteral("New"));

    w->SelectAll3Click();
    w->RGType->setItemIndex(-1);
    click(w->BaddTask);
    QCOMPARE(dialogs_->lastText(), NoType);
    QCOMPARE(QDir().entryList({"*.tsk"}).size(), 2);

    // An empty channel list: nothing at all happens.
    w->ChLBch->clear();
    w->RGType->setItemIndex(1);
    click(w->BaddTask);
    QCOMPARE(dialogs_->shown.size(), 2);
    QCOMPARE(QDir().entryList({"*.tsk"}).size(), 2);
}

void TestTasksWindow::nameRefusesCaret() {
    auto w = open();
    QTest::keyClicks(w->LEtaskName, QStringLiteral("ab^1"));
    QCOMPARE(w->LEtaskName->text(), QStringLiteral("ab1"));
}

void TestTasksWindow::tenthTaskGrowsGridAndNeverShrinks() {
    for (int i = 0; i < 9; ++i)
        writeLines(QStringLiteral("24010100000%1.tsk").arg(i),
                   {QStringLiteral("T%1^По време^1^2^Чакаща^").arg(i), "x -- y  1 Ch. --> 1"});
    auto w = open();
    QCOMPARE(w->SGtask->rowCount(), 10);
    QCOMPARE(w->SGtask->cell(1, 9), QStringLiteral("T8"));
    writeLines(QStringLiteral("240101000009.tsk"), {"T9^По време^1^2^Чакаща^", "x -- y  1 Ch. --> 1"});
    w->TaskRefresh();
    QCOMPARE(w->SGtask->rowCount(), 11);
    QCOMPARE(w->SGtask->cell(0, 10), QStringLiteral("10"));
    QCOMPARE(w->SGtask->cell(1, 10), QStringLiteral("T9"));

    clickRow(w->SGtask, 10);
    click(w->BtaskDelete);
    clickRow(w->SGtask, 1);
    click(w->BtaskDelete);
    QCOMPARE(w->SGtask->rowCount(), 11);
    QCOMPARE(column(w->SGtask, 1), (QStringList{"T1", "T2", "T3", "T4", "T5", "T6", "T7", "T8", "", ""}));
    QCOMPARE(column(w->SGtask, 0), (QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "", ""}));
}

void TestTasksWindow::showTaskByClickAndArrowKeys() {
    writeLines(QStringLiteral("240101000000.tsk"),
               {"Daily^Всеки ден^6^7^Чакаща^", "A -- E  1 Ch. --> #81", "A -- E  2 Ch. --> #82"});
    writeLines(QStringLiteral("240101000001.tsk"),
               {"Once^по ВРЕМЕ^18^30^Забранена^", "B -- F  3 Ch. --> #83"});
    auto w = open();
    // Start-up shows the first row's task.
    QCOMPARE(w->LEtaskName->text(), QStringLiteral("Daily"));
    QCOMPARE(w->ChLBch->items(), (QVector<QString>{"A -- E  1 Ch. --> #81", "A -- E  2 Ch. --> #82"}));
    QCOMPARE(checked(w->ChLBch).size(), 2);
    QCOMPARE(w->RGType->itemIndex(), 2);
    QCOMPARE(w->SpinEditH->value(), 6);
    QCOMPARE(w->SpinEditM->value(), 7);
    QVERIFY(!w->GBtimeBegin->isHidden());
    QVERIFY(!w->BchStatus->isHidden());
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Забрани"));

    // A loaded direction list is emptied by showing a task.
    writeBase({"A^E^1^#81^"});
    click(w->BnewTask);
    QCOMPARE(w->ChLBdir->count(), 1);
    QTest::keyClick(w->SGtask, Qt::Key_Down);
    QCOMPARE(w->SGtask->row(), 2);
    QCOMPARE(w->LEtaskName->text(), QStringLiteral("Once"));
    QCOMPARE(w->RGType->itemIndex(), 1); // the type is matched ignoring letter case
    QCOMPARE(w->SpinEditH->value(), 18);
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Разреши"));
    QCOMPARE(checked(w->ChLBch), QStringList{"B -- F  3 Ch. --> #83"});
    QCOMPARE(w->ChLBdir->count(), 0);
    QCOMPARE(w->ChLBdiv->count(), 0);

    clickRow(w->SGtask, 1);
    QCOMPARE(w->LEtaskName->text(), QStringLiteral("Daily"));
}

void TestTasksWindow::emptyRowAndUnknownType() {
    writeLines(QStringLiteral("240101000000.tsk"), {"Odd^Понякога^6^7^Чакаща^", "A -- E  1 Ch. --> #81"});
    auto w = open();
    QCOMPARE(w->RGType->itemIndex(), -1);
    QVERIFY(!w->GBtimeBegin->isHidden());
    QCOMPARE(w->LEtaskName->text(), QStringLiteral("Odd"));

    clickRow(w->SGtask, 3);
    QCOMPARE(w->LEtaskName->text(), QString());
    QCOMPARE(w->RGType->itemIndex(), -1);
    QVERIFY(w->GBtimeBegin->isHidden());
    QVERIFY(w->BchStatus->isHidden());
    QCOMPARE(w->ChLBch->count(), 0);
    QVERIFY(dialogs_->shown.isEmpty());
}

void TestTasksWindow::unreadableOrEmptyFileHidesNoOtherTask() {
    writeLines(QStringLiteral("240101000000.tsk"), {"A^По време^1^2^Чакаща^", "x -- y  1 Ch. --> 1"});
    writeLines(QStringLiteral("240101000001.tsk"), {});
    // Reading process memory at address 0 fails even for root: a file that cannot be read.
    QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), QStringLiteral("240101000002.tsk")));
    QFile probe(QStringLiteral("240101000002.tsk"));
    if (!probe.open(QIODevice::ReadOnly) || (probe.readAll(), probe.error() == QFileDevice::NoError))
        QSKIP("no unreadable file can be made here");
    probe.close();
    writeLines(QStringLiteral("240101000003.tsk"), {"D^Всеки ден^3^4^Забранена^", "x -- y  1 Ch. --> 1"});
    auto w = open();
    QCOMPARE(column(w->SGtask, 1).mid(0, 4), (QStringList{"A", "", "", "D"}));
    QCOMPARE(column(w->SGtask, 3).mid(0, 4), (QStringList{"01:02", ":", ":", "03:04"}));
    QCOMPARE(w->SGtask->cell(5, 3), QStringLiteral("240101000002.tsk"));
    QTRY_VERIFY(!dialogs_->shown.isEmpty());
    QVERIFY2(dialogs_->shown.first().text.contains(QStringLiteral("240101000002.tsk")),
             qPrintable(dialogs_->shown.first().text));

    // Selecting the empty task reports it and offers no status button.
    dialogs_->shown.clear();
    clickRow(w->SGtask, 2);
    QTRY_COMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown.first().kind, MsgKind::Error);
    QVERIFY(w->BchStatus->isHidden());
    QCOMPARE(w->LEtaskName->text(), QString());
    // The window goes on: the last task is still shown on demand.
    clickRow(w->SGtask, 4);
    QCOMPARE(w->LEtaskName->text(), QStringLiteral("D"));
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Разреши"));
}

void TestTasksWindow::changeKeepsCheckedChannelsAndStatus() {
    writeLines(QStringLiteral("240101000000.tsk"), {"Old^Всеки ден^6^7^Забранена^", "A -- E  1 Ch. --> #81",
                                                    "A -- E  2 Ch. --> #82", "A -- E  3 Ch. --> #83"});
    auto w = open();
    toggle(w->ChLBch, 1);
    QCOMPARE(checked(w->ChLBch).size(), 2);
    w->LEtaskName->setText(QStringLiteral("New"));
    QTest::mouseClick(w->RGType->button(1), Qt::LeftButton);
    w->SpinEditH->setValue(21);
    w->SpinEditM->setValue(9);
    click(w->BtaskChange);
    QCOMPARE(readLines(QStringLiteral("240101000000.tsk")),
             (QStringList{"New^По време^21^9^Забранена^", "A -- E  1 Ch. --> #81", "A -- E  3 Ch. --> #83"}));
    QCOMPARE(w->SGtask->cell(3, 1), QStringLiteral("21:09"));
    // The task is shown again from its file.
    QCOMPARE(w->ChLBch->count(), 2);
    QCOMPARE(checked(w->ChLBch).size(), 2);
    QVERIFY(dialogs_->shown.isEmpty());
}

void TestTasksWindow::changeRefusesEmptySelectionAndNoType() {
    const QStringList original{"Old^Всеки ден^6^7^Чакаща^", "A -- E  1 Ch. --> #81"};
    writeLines(QStringLiteral("240101000000.tsk"), original);
    auto w = open();
    w->DeselctAll3Click();
    click(w->BtaskChange);
    QCOMPARE(dialogs_->texts(), QStringList{NoChannel});
    QCOMPARE(readLines(QStringLiteral("240101000000.tsk")), original);

    w->SelectAll3Click();
    w->RGType->setItemIndex(-1);
    click(w->BtaskChange);
    QCOMPARE(dialogs_->lastText(), NoType);
    QCOMPARE(readLines(QStringLiteral("240101000000.tsk")), original);

    // A task deleted from outside since the last rebuild is not brought back.
    w->RGType->setItemIndex(2);
    QFile::rename(QStringLiteral("240101000000.tsk"), QStringLiteral("keep.bak"));
    click(w->BtaskChange);
    QCOMPARE(dialogs_->shown.size(), 3);
    QCOMPARE(dialogs_->shown.last().kind, MsgKind::Error);
    QVERIFY(!QFile::exists(QStringLiteral("240101000000.tsk")));
    QFile::rename(QStringLiteral("keep.bak"), QStringLiteral("240101000000.tsk"));
    dialogs_->shown.removeLast();

    // An empty row names no file: an error, and no file appears.
    clickRow(w->SGtask, 2);
    writeBase({"A^E^1^#81^"});
    click(w->BnewTask);
    w->SelectAll1Click();
    w->SelectAll3Click();
    w->RGType->setItemIndex(1);
    click(w->BtaskChange);
    QCOMPARE(dialogs_->shown.size(), 3);
    QCOMPARE(dialogs_->shown.last().kind, MsgKind::Error);
    QCOMPARE(QDir().entryList({"*.tsk"}), QStringList{"240101000000.tsk"});
}

void TestTasksWindow::deleteTaskOrClearChannels() {
    writeLines(QStringLiteral("240101000000.tsk"), {"A^По време^1^2^Чакаща^", "x -- y  1 Ch. --> 1"});
    writeLines(QStringLiteral("240101000001.tsk"), {"B^По време^3^4^Чакаща^", "x -- y  2 Ch. --> 2"});
    auto w = open();
    click(w->BtaskDelete);
    QVERIFY(!QFile::exists(QStringLiteral("240101000000.tsk")));
    QCOMPARE(column(w->SGtask, 1).mid(0, 2), (QStringList{"B", ""}));
    QCOMPARE(w->LEtaskName->text(), QStringLiteral("B"));
    QVERIFY(dialogs_->shown.isEmpty());

    // On an empty row only the channel list is emptied.
    clickRow(w->SGtask, 2);
    writeBase({"A^E^1^#81^"});
    click(w->BnewTask);
    w->SelectAll1Click();
    QCOMPARE(w->ChLBch->count(), 1);
    click(w->BtaskDelete);
    QCOMPARE(w->ChLBch->count(), 0);
    QCOMPARE(w->ChLBdir->count(), 1);
    QVERIFY(QFile::exists(QStringLiteral("240101000001.tsk")));
}

void TestTasksWindow::typeClickShowsStartTime() {
    auto w = open();
    QTest::mouseClick(w->RGType->button(1), Qt::LeftButton);
    QVERIFY(!w->GBtimeBegin->isHidden());
    QTest::mouseClick(w->RGType->button(0), Qt::LeftButton);
    QVERIFY(w->GBtimeBegin->isHidden());
    QTest::mouseClick(w->RGType->button(2), Qt::LeftButton);
    QVERIFY(!w->GBtimeBegin->isHidden());
    w->RGType->setItemIndex(-1);
    w->RGTypeClick();
    QVERIFY(!w->GBtimeBegin->isHidden());
}

void TestTasksWindow::directionListOrderAndCase() {
    auto w = open();
    writeBase({"B^x^1^1^", "A^x^2^2^", "A^y^3^3^", "^z^4^4^", "b^x^5^5^"});
    w->LEtaskName->setText(QStringLiteral("kept"));
    click(w->BnewTask);
    QCOMPARE(w->ChLBdir->count(), 2);
    QCOMPARE(w->ChLBdir->item(0), QStringLiteral("A"));
    QCOMPARE(w->ChLBdir->item(1).toUpper(), QStringLiteral("B"));
    QVERIFY(checked(w->ChLBdir).isEmpty());
    QCOMPARE(w->ChannelBaseList.size(), 5);
    QCOMPARE(w->LEtaskName->text(), QStringLiteral("kept"));
    // The merged entry lists only the lines written in exactly its letter case.
    const QString b = w->ChLBdir->item(1);
    toggle(w->ChLBdir, 1);
    QCOMPARE(w->ChLBch->count(), 1);
    QVERIFY(w->ChLBch->item(0).startsWith(b + QStringLiteral(" -- x  ")));
}

void TestTasksWindow::directionChecksListChannelsAndExchanges() {
    auto w = open();
    writeBase({"North^N1^1^#80001^", "North^^2^#80002^", "South^S1^1^*81001^", "South^n1^2^*81002^"});
    click(w->BnewTask);
    // South checked first, North second: North's channels still come first.
    toggle(w->ChLBdir, 1);
    toggle(w->ChLBdir, 0);
    QCOMPARE(w->ChLBch->items(),
             (QVector<QString>{"North --   2 Ch. --> #80002", "North -- N1  1 Ch. --> #80001",
                               "South -- n1  2 Ch. --> *81002", "South -- S1  1 Ch. --> *81001"}));
    // No empty exchange; n1 is N1 ignoring case and is not listed again.
    QCOMPARE(w->ChLBdiv->items(), (QVector<QString>{"N1", "S1"}));
    QVERIFY(checked(w->ChLBch).isEmpty());
    // Any direction change drops the exchange and channel marks.
    toggle(w->ChLBdiv, 0);
    QCOMPARE(checked(w->ChLBch), QStringList{"North -- N1  1 Ch. --> #80001"}); // n1 differs in case
    toggle(w->ChLBch, 3);
    QCOMPARE(checked(w->ChLBch).size(), 2);
    toggle(w->ChLBdir, 1);
    QCOMPARE(w->ChLBch->count(), 2);
    QVERIFY(checked(w->ChLBch).isEmpty());
    QVERIFY(checked(w->ChLBdiv).isEmpty());
}

void TestTasksWindow::exchangeChecksMarkChannels() {
    auto w = open();
    loadBaseAndCheckNorth(*w);
    QCOMPARE(w->ChLBdiv->items(), (QVector<QString>{"N1", "N2"}));
    toggle(w->ChLBch, 2); // by hand: N2's channel
    toggle(w->ChLBdiv, 0);
    QCOMPARE(checked(w->ChLBch),
             (QStringList{"North -- N1  1 Ch. --> #80001", "North -- N1  3 Ch. --> #80003"}));
    toggle(w->ChLBdiv, 1);
    QCOMPARE(checked(w->ChLBch).size(), 3);
    toggle(w->ChLBdiv, 0);
    QCOMPARE(checked(w->ChLBch), QStringList{"North -- N2  2 Ch. --> #80002"});
    // Program-set marks call no handler: checking all channels leaves the exchanges alone.
    w->ChLBch->selectAllAction()->trigger();
    QCOMPARE(checked(w->ChLBch).size(), 3);
    QCOMPARE(checked(w->ChLBdiv), QStringList{"N2"});
}

void TestTasksWindow::popupMenusSelectAndDeselect() {
    auto w = open();
    writeBase({"North^N1^1^#80001^", "North^^2^#80002^", "South^S1^1^*81001^"});
    // On empty lists the commands do nothing.
    w->ChLBdir->selectAllAction()->trigger();
    w->ChLBdiv->selectAllAction()->trigger();
    QCOMPARE(w->ChLBch->count(), 0);
    click(w->BnewTask);
    w->ChLBdir->selectAllAction()->trigger();
    QCOMPARE(w->ChLBch->count(), 3);
    QCOMPARE(w->ChLBdiv->items(), (QVector<QString>{"N1", "S1"}));
    // Every channel whose exchange is not empty.
    w->ChLBdiv->selectAllAction()->trigger();
    QCOMPARE(checked(w->ChLBch),
             (QStringList{"North -- N1  1 Ch. --> #80001", "South -- S1  1 Ch. --> *81001"}));
    w->ChLBdiv->deselectAllAction()->trigger();
    QVERIFY(checked(w->ChLBch).isEmpty());
    QCOMPARE(w->ChLBch->count(), 3);
    w->ChLBch->selectAllAction()->trigger();
    QCOMPARE(checked(w->ChLBch).size(), 3);
    w->ChLBch->deselectAllAction()->trigger();
    QVERIFY(checked(w->ChLBch).isEmpty());
    w->ChLBdir->deselectAllAction()->trigger();
    QCOMPARE(w->ChLBdiv->count(), 0);
    QCOMPARE(w->ChLBch->count(), 0);
    QCOMPARE(w->ChLBdir->count(), 2);
}

void TestTasksWindow::missingOrUnreadableBase() {
    auto w = open();
    loadBaseAndCheckNorth(*w);
    // A base that cannot be read: the lists are emptied, the error shown, the former base kept.
    QFile::remove(QStringLiteral("ChBase.dat"));
    QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), QStringLiteral("ChBase.dat")));
    click(w->BnewTask);
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown.first().kind, MsgKind::Error);
    QCOMPARE(w->ChLBdir->count(), 0);
    QCOMPARE(w->ChLBch->count(), 0);
    QCOMPARE(w->ChannelBaseList.size(), 4);
    // No base at all is an empty base, without a message.
    QFile::remove(QStringLiteral("ChBase.dat"));
    click(w->BnewTask);
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(w->ChLBdir->count(), 0);
    QVERIFY(w->ChannelBaseList.isEmpty());
}

void TestTasksWindow::statusEnableDisable() {
    writeLines(QStringLiteral("240101000000.tsk"), {"A^По време^1^2^Чакаща^", "x -- y  1 Ch. --> 1"});
    auto w = open();
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Забрани"));
    click(w->BchStatus);
    QCOMPARE(readLines(QStringLiteral("240101000000.tsk")).first(),
             QStringLiteral("A^По време^1^2^Забранена^"));
    QCOMPARE(w->SGtask->cell(4, 1), QStringLiteral("Забранена"));
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Разреши"));
    click(w->BchStatus);
    QCOMPARE(readLines(QStringLiteral("240101000000.tsk")),
             (QStringList{"A^По време^1^2^Чакаща^", "x -- y  1 Ch. --> 1"}));
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Забрани"));
    QVERIFY(!w->StopRequested);

    // A file gone since the last rebuild: the error is shown, the table is not rebuilt.
    QFile::remove(QStringLiteral("240101000000.tsk"));
    click(w->BchStatus);
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(w->SGtask->cell(1, 1), QStringLiteral("A"));
}

void TestTasksWindow::stopRunningTaskThenWait() {
    writeLines(QStringLiteral("240101000000.tsk"), {"Other^По време^1^2^Чакаща^", "x -- y  1 Ch. --> 1"});
    auto w = open();
    // The run's start marks its task (a task left so before the window opened is waiting again).
    writeLines(QStringLiteral("240101000001.tsk"), {"Run^Всеки ден^1^2^Стартирана^", "x -- y  2 Ch. --> 2"});
    w->TaskRefresh();
    w->RunActive = 1;
    w->RunRow = 2;
    w->RunTaskFile = QStringLiteral("240101000001.tsk");
    clickRow(w->SGtask, 2);
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Спри"));
    click(w->BchStatus);
    QVERIFY(w->StopRequested);
    QCOMPARE(readLines(QStringLiteral("240101000001.tsk")).first(),
             QStringLiteral("Run^Всеки ден^1^2^В процес на спиране^"));
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Почакай!"));
    QCOMPARE(w->SGtask->row(), 2);
    // Waiting changes nothing while the run is still going.
    click(w->BchStatus);
    QCOMPARE(readLines(QStringLiteral("240101000001.tsk")).first(),
             QStringLiteral("Run^Всеки ден^1^2^В процес на спиране^"));
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Почакай!"));
    QVERIFY(w->StopRequested);
    // The other task can still be disabled during the run.
    clickRow(w->SGtask, 1);
    click(w->BchStatus);
    QCOMPARE(w->SGtask->cell(4, 1), QStringLiteral("Забранена"));
    QVERIFY(dialogs_->shown.isEmpty());
}

void TestTasksWindow::staleTaskStopAndWait() {
    const auto writeStale = [this] {
        writeLines(QStringLiteral("240101000000.tsk"), {"Stale^По време^1^2^Стартирана^", "x -- y  1 Ch. --> 1"});
        writeLines(QStringLiteral("240101000001.tsk"),
                   {"Stopping^По време^1^2^В процес на спиране^", "x -- y  2 Ch. --> 2"});
        writeLines(QStringLiteral("240101000002.tsk"), {"Run^По време^1^2^Стартирана^", "x -- y  3 Ch. --> 3"});
    };
    writeStale();
    auto w = open();
    // Left so by runs that no longer exist: the window that runs the folder's tasks makes them
    // waiting again at its start.
    for (int r = 1; r <= 3; ++r)
        QCOMPARE(w->SGtask->cell(4, r), Waiting);
    QCOMPARE(readLines(QStringLiteral("240101000001.tsk")).first(), QStringLiteral("Stopping^По време^1^2^Чакаща^"));
    // Seen later (written by another program): the status button releases them.
    writeStale();
    w->TaskRefresh();
    w->SGtaskClick();
    // No run active: the stop returns the task to waiting and asks no run to stop.
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Спри"));
    click(w->BchStatus);
    QCOMPARE(w->SGtask->cell(4, 1), Waiting);
    QCOMPARE(readLines(QStringLiteral("240101000000.tsk")).first(),
             QStringLiteral("Stale^По време^1^2^Чакаща^"));
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Забрани"));
    QVERIFY(!w->StopRequested);

    // Another task is running: the stale ones are released, the run goes on.
    w->RunActive = 1;
    w->RunRow = 3;
    w->RunTaskFile = QStringLiteral("240101000002.tsk");
    clickRow(w->SGtask, 2);
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Почакай!"));
    click(w->BchStatus);
    QCOMPARE(w->SGtask->cell(4, 2), Waiting);
    QVERIFY(!w->StopRequested);
    // A task left started is released the same way while another one runs.
    writeLines(QStringLiteral("240101000000.tsk"), {"Stale^По време^1^2^Стартирана^", "x -- y  1 Ch. --> 1"});
    w->TaskRefresh();
    clickRow(w->SGtask, 1);
    click(w->BchStatus);
    QCOMPARE(w->SGtask->cell(4, 1), Waiting);
    QVERIFY(!w->StopRequested);
    QCOMPARE(w->SGtask->cell(4, 3), QStringLiteral("Стартирана"));
}

void TestTasksWindow::unknownStatusKeepsCaption() {
    writeLines(QStringLiteral("240101000000.tsk"), {"A^По време^1^2^Забранена^", "x -- y  1 Ch. --> 1"});
    writeLines(QStringLiteral("240101000001.tsk"), {"B^По време^1^2^Странна^", "x -- y  2 Ch. --> 2"});
    auto w = open();
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Разреши"));
    clickRow(w->SGtask, 2);
    QCOMPARE(w->BchStatus->text(), QStringLiteral("Разреши"));
    // The click acts by the caption shown.
    click(w->BchStatus);
    QCOMPARE(w->SGtask->cell(4, 2), Waiting);
}

void TestTasksWindow::buttonsLockedAndUnlocked() {
    writeLines(QStringLiteral("240101000000.tsk"), {"A^По време^1^2^Чакаща^", "x -- y  1 Ch. --> 1"});
    auto w = open();
    const QList<QPushButton*> four{w->BnewTask, w->BaddTask, w->BtaskChange, w->BtaskDelete};
    w->RunActive = 1;
    w->DisableB();
    for (QPushButton* b : four)
        QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
    QVERIFY(w->BchStatus->isEnabled());
    QVERIFY(w->SGtask->isEnabled());
    // A locked button does nothing when clicked.
    click(w->BtaskDelete);
    QVERIFY(QFile::exists(QStringLiteral("240101000000.tsk")));
    w->RunActive = 0;
    w->EnableB();
    // A run's start handler finishing after its run ended leaves them as the run left them.
    w->DisableB();
    for (QPushButton* b : four)
        QVERIFY2(b->isEnabled(), qPrintable(b->objectName()));
}

void TestTasksWindow::assistiveToolsNameEditsAndChooseTimeType() {
    auto w = open();
    // Every label beside an edit names it.
    const QList<std::pair<QString, QWidget*>> tied = {{QStringLiteral("Час"), w->SpinEditH},
                                                      {QStringLiteral("Минута"), w->SpinEditM},
                                                      {QStringLiteral("Име на задачата"), w->LEtaskName},
                                                      {QStringLiteral("Порт"), w->CBPort},
                                                      {QStringLiteral("Скорост"), w->CBSpeed},
                                                      {QStringLiteral("IP Адрес"), w->EipAdr},
                                                      {QStringLiteral("TCP Порт"), w->EtcpPort},
                                                      {QStringLiteral("Пауза (сек.)"), w->Epause}};
    for (const auto& [text, edit] : tied) {
        QLabel* found = nullptr;
        for (QLabel* l : w->findChildren<QLabel*>())
            if (l->text() == text)
                found = l;
        QVERIFY2(found && found->buddy() == edit, qPrintable(text));
        // A drop-down list is named by its current entry; the others by their label.
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(edit);
        QVERIFY2(qobject_cast<QComboBox*>(edit) || (a && a->text(QAccessible::Name) == text),
                 qPrintable(text));
    }
    // The link choice and the modem strings, which stand in one group box, by their own captions.
    const QList<std::pair<QString, QWidget*>> named = {
        {QStringLiteral("Порт"), w->RBcom},
        {QStringLiteral("IP Адрес"), w->RBtcp},
        {QStringLiteral("Инициализационен стринг"), w->EinitString},
        {QStringLiteral("Инициализационен стринг: скорост на модема"), w->EmodemSpeed}};
    for (const auto& [text, widget] : named)
        QCOMPARE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), text);
    // A time type chosen through the accessibility interface shows and hides the start time.
    auto toggle = [](QRadioButton* b) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
        a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    };
    w->RGType->setItemIndex(0);
    w->GBtimeBegin->hide();
    toggle(w->RGType->button(1));
    QCOMPARE(w->RGType->itemIndex(), 1);
    QVERIFY(w->GBtimeBegin->isVisibleTo(w.get()));
    toggle(w->RGType->button(0));
    QVERIFY(!w->GBtimeBegin->isVisibleTo(w.get()));
    // The program's own choice is no operator's: it leaves the panel alone.
    w->RGType->setItemIndex(2);
    QVERIFY(!w->GBtimeBegin->isVisibleTo(w.get()));
}

QTEST_MAIN(TestTasksWindow)
#include "test_tasks_window.moc"
