// The results page in the window: the month view, stepping, the detail panel and the export,
// whose workbook is read back with openpyxl.
#include "mock/MockClock.h"
#include "mock/ScriptedDialogs.h"
#include "mock/WindowFixture.h"
#include "mock/TestFiles.h"
#include "results/WorkbookWriter.h"
#include "gui/CheckListBox.h"
#include "gui/StringGrid.h"
#include "gui/Unit1.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kA = QStringLiteral("София -- Център  12 Ch. ");
const QString kB = QStringLiteral("Пловдив -- Юг  3 Ch. ");
const QString kC = QStringLiteral("Варна -- Изток  7 Ch. ");
const QString kR = QStringLiteral("Р"), kZ = QStringLiteral("З"), kG = QStringLiteral("Г");

QString item(const QString& label) {
    return label + QStringLiteral("--> #8123");
}
QString group(const QString& answer, const QString& delay, const QString& stamp) {
    return answer + u'^' + delay + u'^' + stamp + u'^';
}
QString ts(const QString& yymm, int day, const QString& hhnn = QStringLiteral("1000")) {
    return yymm + QString::number(day).rightJustified(2, u'0') + hhnn;
}
} // namespace

class TestResultsView : public QObject, protected WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void missingMonthAtOpen();
    void openShowsTheMonth();
    void noChannelTickedGivesEmptyRow();
    void dayColumnsFollowTheMonth();
    void refreshKeepsRows();
    void steppingAcrossYearEnds();
    void closeView();
    void detailPanel();
    void exportWorkbook();
    void exportWithoutComments();
    void exportWritesFormulaLikeTextAsText();
    void exportFailureLeavesNoFile();
    void closeWaitsForExport();
    void changedDialStringMergesLines();

private:
    std::unique_ptr<TForm1> makeWindow();
    void writeMonth(const QString& yymm, const QStringList& lines);
    void setMonth(TForm1& w, int year, int month);
    void tick(TForm1& w, const QStringList& labels, const QStringList& checked);
    QJsonObject readWorkbook(const QString& path);
    // Exports the open month with comments to `path`, up to the message at its end.
    void exportWithComments(TForm1& w, const QString& path);

};

void TestResultsView::init() {
    setUpWindow();
}

void TestResultsView::cleanup() {
    tearDownWindow();
}

std::unique_ptr<TForm1> TestResultsView::makeWindow() {
    auto w = newWindow();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        qWarning("window not exposed");
    const QSignalBlocker quiet(w->PageControl1);
    w->PageControl1->setCurrentIndex(1);
    return w;
}

void TestResultsView::writeMonth(const QString& yymm, const QStringList& lines) {
    QDir().mkpath(dir_->filePath(QStringLiteral("Results")));
    testfiles::writeText(dir_->filePath(QStringLiteral("Results/") + yymm + QStringLiteral(".tst")),
                         lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

void TestResultsView::setMonth(TForm1& w, int year, int month) {
    w.CBmesec->setCurrentIndex(month - 1);
    w.SEgodina->setValue(year);
}

void TestResultsView::tick(TForm1& w, const QStringList& labels, const QStringList& checked) {
    QVector<QString> items;
    for (const QString& l : labels)
        items.append(item(l));
    w.ChLBch->setItems(items);
    for (int i = 0; i < labels.size(); ++i)
        w.ChLBch->setChecked(i, checked.contains(labels[i]));
}

QJsonObject TestResultsView::readWorkbook(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(READ_WORKBOOK_SCRIPT), path});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        qWarning("%s", p.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

void TestResultsView::exportWithComments(TForm1& w, const QString& path) {
    w.CBoxComment->setChecked(true);
    dialogs_->setNextFileName(path);
    const qsizetype before = dialogs_->shown.size();
    QTest::mouseClick(w.Bexp, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->shown.size(), before + 1, 30000);
}

void TestResultsView::missingMonthAtOpen() {
    auto w = makeWindow();
    setMonth(*w, 2024, 3);
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Error);
    QCOMPARE(dialogs_->shown[0].text, QStringLiteral("Няма данни за този месец."));
    QCOMPARE(w->BdbOpen->text(), QStringLiteral("Отвори"));
    QVERIFY(!w->SGresults->isVisible());
    QVERIFY(w->CBmesec->isVisible());
    QCOMPARE(w->MonthViewOpen, 0);
    QVERIFY(!w->ViewList);
}

void TestResultsView::openShowsTheMonth() {
    writeMonth(QStringLiteral("2403"),
               {item(kB) + u'^' + group("BUSY", "1500", ts("2403", 2)),
                item(kA) + u'^' + group("BUSY", "100", ts("2403", 1, "1000")) +
                    group("CONNECT 9600", "900", ts("2403", 1, "1100")) +
                    group("BUSY", "2201", ts("2403", 31)),
                kA + QStringLiteral("--> #8999^") + group("BUSY", "100", ts("2403", 9))});
    auto w = makeWindow();
    QAbstractItemModelTester tester(w->SGresults->gridModel(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    tick(*w, {kA, kB, kC}, {kA, kC});
    setMonth(*w, 2024, 3);
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    QVERIFY(dialogs_->shown.isEmpty());
    QCOMPARE(w->BdbOpen->text(), QStringLiteral("Опресни"));
    for (QWidget* v : std::initializer_list<QWidget*>{w->btn_prev, w->btn_next, w->Bexp, w->CBoxComment,
                                                      w->Label9, w->SGresults, w->BresultsClose})
        QVERIFY2(v->isVisible(), qPrintable(v->objectName()));
    QVERIFY(!w->CBmesec->isVisible());
    QVERIFY(!w->SEgodina->isVisible());
    QVERIFY(!w->panelInFront());
    QCOMPARE(w->MonthViewOpen, 1);
    QCOMPARE(w->Label9->text(), QStringLiteral("Данни за месец Март 2024 г."));
    QVERIFY(w->ViewList);
    QCOMPARE(w->ViewList->size(), 3);

    StringGrid* g = w->SGresults;
    QCOMPARE(g->colCount(), 33);
    QCOMPARE(g->colWidth(0), 25);
    QCOMPARE(g->colWidth(1), 196);
    for (int c = 2; c < 33; ++c) {
        QCOMPARE(g->colWidth(c), 16);
        QCOMPARE(g->cell(c, 0), QString::number(c - 1));
    }
    QCOMPARE(g->rowCount(), 3);
    QCOMPARE(g->cell(1, 0), QStringLiteral("Направление -- Канал"));
    QCOMPARE(g->cell(0, 1), QStringLiteral("1"));
    QCOMPARE(g->cell(1, 1), kA);
    QCOMPARE(g->cell(2, 1), kR);         // BUSY then CONNECT on the 1st
    QCOMPARE(g->cell(32, 1), kG);        // BUSY 2201 on the 31st
    QCOMPARE(g->cell(10, 1), kZ);        // from the second line of that label
    QCOMPARE(g->cell(0, 2), QStringLiteral("2"));
    QCOMPARE(g->cell(1, 2), kC);
    for (int c = 2; c < 33; ++c)
        QCOMPARE(g->cell(c, 2), QString());
}

void TestResultsView::noChannelTickedGivesEmptyRow() {
    writeMonth(QStringLiteral("2405"),
               {item(kA) + u'^' + group("BUSY", "100", ts("2405", 3)),
                QStringLiteral("без стрелка^NO CARRIER^100^") + ts("2405", 4) + u'^'});
    auto w = makeWindow();
    tick(*w, {kA}, {});
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton); // May 2024: the clock's month
    QCOMPARE(w->SGresults->rowCount(), 2);
    QCOMPARE(w->SGresults->cell(0, 1), QStringLiteral("1"));
    QCOMPARE(w->SGresults->cell(1, 1), QString());
    QCOMPARE(w->SGresults->cell(5, 1), kG);
    QCOMPARE(w->SGresults->cell(4, 1), QString());
}

void TestResultsView::dayColumnsFollowTheMonth() {
    writeMonth(QStringLiteral("2402"), {item(kA) + u'^' + group("BUSY", "100", ts("2402", 29))});
    writeMonth(QStringLiteral("2403"), {item(kA) + u'^' + group("BUSY", "100", ts("2403", 31))});
    writeMonth(QStringLiteral("2404"), {item(kA) + u'^' + group("BUSY", "100", ts("2404", 30))});
    auto w = makeWindow();
    tick(*w, {kA}, {kA});
    setMonth(*w, 2024, 2);
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    StringGrid* g = w->SGresults;
    QCOMPARE(g->colCount(), 31);
    for (int c = 2; c < 31; ++c)
        QCOMPARE(g->colWidth(c), 17);
    QCOMPARE(g->cell(30, 0), QStringLiteral("29"));
    QCOMPARE(g->cell(30, 1), kZ);

    QTest::mouseClick(w->btn_next, Qt::LeftButton);
    QCOMPARE(g->colCount(), 33);
    for (int c = 2; c < 33; ++c) {
        QCOMPARE(g->colWidth(c), 16);
        QCOMPARE(g->cell(c, 0), QString::number(c - 1));
    }
    QCOMPARE(g->cell(32, 1), kZ);
    QCOMPARE(g->cell(30, 1), QString());

    QTest::mouseClick(w->btn_next, Qt::LeftButton);
    QCOMPARE(g->colCount(), 32);
    QCOMPARE(g->cell(31, 1), kZ);
    QCOMPARE(g->colWidth(31), 16);
    QVERIFY(dialogs_->shown.isEmpty());
}

void TestResultsView::refreshKeepsRows() {
    writeMonth(QStringLiteral("2405"), {item(kB) + u'^' + group("BUSY", "100", ts("2405", 3))});
    auto w = makeWindow();
    tick(*w, {kA, kB, kC}, {kB, kA});
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    QCOMPARE(w->SGresults->rowCount(), 3);
    QCOMPARE(w->SGresults->cell(1, 1), kA);
    QCOMPARE(w->SGresults->cell(1, 2), kB);
    QCOMPARE(w->SGresults->cell(4, 2), kZ);

    tick(*w, {kA, kB, kC}, {kC});
    writeMonth(QStringLiteral("2405"), {item(kB) + u'^' + group("BUSY", "100", ts("2405", 3)) +
                                            group("CONNECT", "900", ts("2405", 3)),
                                        item(kA) + u'^' + group("NO CARRIER", "100", ts("2405", 14))});
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    QCOMPARE(w->SGresults->rowCount(), 3);
    QCOMPARE(w->SGresults->cell(1, 0), QStringLiteral("Направление -- Канал"));
    QCOMPARE(w->SGresults->cell(1, 1), kA);
    QCOMPARE(w->SGresults->cell(1, 2), kB);
    QCOMPARE(w->SGresults->cell(15, 1), kG);
    QCOMPARE(w->SGresults->cell(4, 2), kR);
    QCOMPARE(w->ViewList->size(), 2);

    // Coming back to the page reads the month again.
    writeMonth(QStringLiteral("2405"), {item(kB) + u'^' + group("NO CARRIER", "100", ts("2405", 3))});
    QTabBar* bar = w->PageControl1->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    QCOMPARE(w->SGresults->cell(4, 2), kG);
    QCOMPARE(w->SGresults->cell(15, 1), QString());
    QCOMPARE(w->ViewList->size(), 1);

    // A refresh whose file has gone shows the message and leaves the view as it was.
    QFile::remove(dir_->filePath(QStringLiteral("Results/2405.tst")));
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    QCOMPARE(dialogs_->lastText(), QStringLiteral("Няма данни за този месец."));
    QCOMPARE(w->SGresults->cell(4, 2), kG);
    QCOMPARE(w->ViewList->size(), 1);
    QCOMPARE(w->BdbOpen->text(), QStringLiteral("Опресни"));
}

void TestResultsView::steppingAcrossYearEnds() {
    writeMonth(QStringLiteral("2401"), {item(kA) + u'^' + group("BUSY", "100", ts("2401", 5))});
    writeMonth(QStringLiteral("2312"), {item(kA) + u'^' + group("CONNECT", "100", ts("2312", 6))});
    auto w = makeWindow();
    tick(*w, {kA}, {kA});
    setMonth(*w, 2024, 1);
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    QCOMPARE(w->SGresults->cell(6, 1), kZ);

    QTest::mouseClick(w->btn_prev, Qt::LeftButton);
    QCOMPARE(w->CBmesec->currentIndex(), 11);
    QCOMPARE(w->SEgodina->value(), 2023);
    QCOMPARE(w->Label9->text(), QStringLiteral("Данни за месец Декември 2023 г."));
    QCOMPARE(w->SGresults->cell(7, 1), kR);
    QCOMPARE(w->SGresults->cell(6, 1), QString());

    QTest::mouseClick(w->btn_next, Qt::LeftButton);
    QCOMPARE(w->CBmesec->currentIndex(), 0);
    QCOMPARE(w->SEgodina->value(), 2024);
    QCOMPARE(w->Label9->text(), QStringLiteral("Данни за месец Януари 2024 г."));
    QCOMPARE(w->SGresults->cell(6, 1), kZ);
    QVERIFY(dialogs_->shown.isEmpty());

    // February 2024 has no file: everything stays on January.
    QTest::mouseClick(w->btn_next, Qt::LeftButton);
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Error);
    QCOMPARE(dialogs_->shown[0].text, QStringLiteral("Няма данни за този месец."));
    QCOMPARE(w->CBmesec->currentIndex(), 0);
    QCOMPARE(w->SEgodina->value(), 2024);
    QCOMPARE(w->Label9->text(), QStringLiteral("Данни за месец Януари 2024 г."));
    QCOMPARE(w->SGresults->cell(6, 1), kZ);
    QCOMPARE(w->SGresults->colCount(), 33);
}

void TestResultsView::closeView() {
    writeMonth(QStringLiteral("2405"), {item(kA) + u'^' + group("BUSY", "100", ts("2405", 3))});
    auto w = makeWindow();
    tick(*w, {kA}, {kA});
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    QVERIFY(!w->panelInFront());
    QTest::mouseClick(w->BresultsClose, Qt::LeftButton);
    QCOMPARE(w->BdbOpen->text(), QStringLiteral("Отвори"));
    for (QWidget* v : std::initializer_list<QWidget*>{w->btn_prev, w->btn_next, w->Bexp, w->CBoxComment,
                                                      w->Label9, w->SGresults, w->BresultsClose})
        QVERIFY2(!v->isVisible(), qPrintable(v->objectName()));
    QVERIFY(w->CBmesec->isVisible());
    QVERIFY(w->SEgodina->isVisible());
    QVERIFY(w->panelInFront());
    QCOMPARE(w->MonthViewOpen, 0);
    QVERIFY(!w->ViewList);
    // Opening again starts from the ticked channels.
    tick(*w, {kA, kB}, {kB});
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    QCOMPARE(w->SGresults->rowCount(), 2);
    QCOMPARE(w->SGresults->cell(1, 1), kB);
}

void TestResultsView::detailPanel() {
    writeMonth(QStringLiteral("2403"), {item(kA) + u'^' + group("BUSY", "1500", ts("2403", 5, "0915")) +
                                        group("NO CARRIER", "0", ts("2403", 6, "0800")) +
                                        group("CONNECT 9600", "160", ts("2403", 5, "1407")) +
                                        group("BUSY", "20", ts("2403", 5, "2359"))});
    auto w = makeWindow();
    tick(*w, {kA, kB}, {kA, kB});
    setMonth(*w, 2024, 3);
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    StringGrid* g = w->SGresults;
    const auto dblClick = [&](int col, int row) {
        const QModelIndex i = g->gridModel()->index(row - 1, col - 1);
        g->scrollTo(i);
        QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(i).center());
    };
    StringGrid* d = w->SGdetails;
    dblClick(6, 1); // the 5th
    QVERIFY(w->PDetails->isVisible());
    QCOMPARE(w->Label10->text(), kA + QStringLiteral(" за  05.03.2024г."));
    const QStringList expected[] = {{"1", "BUSY", "15,00", "09:15"},
                                    {"2", "CONNECT 9600", "1,60", "14:07"},
                                    {"3", "BUSY", ",20", "23:59"}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            QCOMPARE(d->cell(c, r + 1), expected[r][c]);
    QCOMPARE(d->cell(1, 4), QString());

    dblClick(7, 1); // the 6th: one test, the old rows are cleared
    QCOMPARE(w->Label10->text(), kA + QStringLiteral(" за  06.03.2024г."));
    QCOMPARE(d->cell(1, 1), QStringLiteral("NO CARRIER"));
    QCOMPARE(d->cell(2, 1), QStringLiteral(",0"));
    for (int r = 2; r <= 13; ++r)
        for (int c = 0; c < 4; ++c)
            QCOMPARE(d->cell(c, r), QString());

    dblClick(1, 1); // the label column: no day 0
    QVERIFY(w->PDetails->isVisible());
    QCOMPARE(w->Label10->text(), QString());
    QCOMPARE(d->cell(1, 1), QString());

    dblClick(6, 2); // a row without a results line
    QCOMPARE(w->Label10->text(), QString());
    QCOMPARE(d->cell(0, 1), QString());

    QTest::mouseClick(w->BDetailsClose, Qt::LeftButton);
    QVERIFY(!w->PDetails->isVisible());
    QVERIFY(dialogs_->shown.isEmpty());
}

void TestResultsView::exportWorkbook() {
    const QString eq = QStringLiteral("=1+1 -- x\x01  1 Ch. ");
    writeMonth(QStringLiteral("2403"), {item(kA) + u'^' + group("BUSY", "1500", ts("2403", 3, "0915")) +
                                            group("CONNECT 9600", "2000", ts("2403", 3, "0920")) +
                                            group("NO CARRIER", "300", ts("2403", 31)),
                                        item(kB) + u'^' + group("CONNECT\x02 2400", "900", ts("2403", 1))});
    auto w = makeWindow();
    tick(*w, {kA, kB, eq}, {kA, kB, eq});
    setMonth(*w, 2024, 3);
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    w->CBoxComment->setChecked(true);
    QList<int> gauge;
    connect(w->Gauge1, &QProgressBar::valueChanged, this, [&](int v) { gauge.append(v); });

    const QString chosen = dir_->filePath(QStringLiteral("Export/март"));
    dialogs_->setNextFileName(chosen);
    const QString cwd = QDir::currentPath();
    QTest::mouseClick(w->Bexp, Qt::LeftButton);
    QCOMPARE(dialogs_->lastFilter, QStringLiteral("Excel files (*.xlsx)"));
    QCOMPARE(dialogs_->lastDir, w->ExportDir);
    // Until the export ends nothing may start another one or change the view.
    for (QWidget* c : std::initializer_list<QWidget*>{w->Bexp, w->CBoxComment, w->BdbOpen, w->btn_prev,
                                                      w->btn_next, w->BresultsClose})
        QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    QCOMPARE(w->Label11->text(), QStringLiteral("Моля почакайте.\nДанните се експортират."));
    // Back on the page during the export: the view stays as it is being exported, and is read
    // again once the export has ended.
    QVERIFY(w->ExportRunning());
    writeMonth(QStringLiteral("2403"), {item(kA) + u'^' + group("NO CARRIER", "300", ts("2403", 2))});
    w->PageControl1->setCurrentIndex(0);
    w->PageControl1->setCurrentIndex(1);
    QCOMPARE(w->SGresults->cell(4, 1), kR);
    QCOMPARE(w->SGresults->cell(3, 1), QString());
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->shown.size(), 1, 30000);
    QCOMPARE(w->SGresults->cell(3, 1), kG);
    QCOMPARE(w->SGresults->cell(4, 1), QString());
    QVERIFY(!w->ExportRunning());
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Information);
    QCOMPARE(dialogs_->shown[0].text, QStringLiteral("Данните експортирани успешно."));
    QCOMPARE(w->Label11->text(), QString());
    QCOMPARE(w->Gauge1->value(), 0);
    QVERIFY(gauge.contains(100));
    QCOMPARE(gauge.last(), 0);
    QVERIFY(w->Bexp->isEnabled());
    QVERIFY(w->BdbOpen->isEnabled());
    QCOMPARE(QDir::currentPath(), cwd);
    const QString saved = chosen + QStringLiteral(".xlsx");
    QVERIFY(QFileInfo::exists(saved));
    QCOMPARE(QDir(dir_->filePath(QStringLiteral("Export"))).entryList(QDir::Files | QDir::Hidden).size(), 1);

    const QJsonObject wb = readWorkbook(saved);
    QVERIFY(!wb.isEmpty());
    QCOMPARE(wb["sheets"].toInt(), 1);
    QCOMPARE(wb["max_row"].toInt(), 5);
    QCOMPARE(wb["max_column"].toInt(), 33);
    QCOMPARE(wb["merged"].toArray(), QJsonArray({QStringLiteral("A1:AG1")}));
    const QJsonObject cells = wb["cells"].toObject();
    const QJsonObject a1 = cells["A1"].toObject();
    QCOMPARE(a1["value"].toString(), QStringLiteral("Данни за месец Март 2024 г."));
    QCOMPARE(a1["format"].toString(), QStringLiteral("@"));
    QCOMPARE(a1["h"].toString(), QStringLiteral("center"));
    QCOMPARE(a1["v"].toString(), QStringLiteral("center"));
    QCOMPARE(wb["row1_height"].toDouble(), 20.0);

    // The block: rows 2 to 5, columns A to AG.
    const QString cols[] = {"A", "B", "C", "D", "E", "AF", "AG"};
    for (int row = 2; row <= 5; ++row) {
        for (const QString& col : cols) {
            const QString ref = col + QString::number(row);
            const QJsonObject c = cells[ref].toObject();
            QVERIFY2(!c.isEmpty(), qPrintable(ref));
            QCOMPARE(c["font"].toString(), QStringLiteral("Times New Roman CYR"));
            QCOMPARE(c["size"].toDouble(), 9.0);
            QCOMPARE(c["color"].toString(), QStringLiteral("FF000000"));
            QCOMPARE(c["format"].toString(), QStringLiteral("@"));
            QCOMPARE(c["border"].toArray(), QJsonArray({"thin", "thin", "thin", "thin"}));
            QCOMPARE(c["h"].toString(),
                     col == QStringLiteral("B") ? QStringLiteral("left") : QStringLiteral("center"));
            QCOMPARE(c["v"].toString(), QStringLiteral("center"));
            if (!c["value"].isNull())
                QCOMPARE(c["type"].toString(), QStringLiteral("s"));
        }
    }
    QVERIFY(cells["AH2"].isUndefined() || cells["AH2"].toObject()["border"].toArray()[0].isNull());
    const auto value = [&](const char* ref) {
        return cells[QLatin1String(ref)].toObject()["value"].toString();
    };
    QCOMPARE(value("A2"), QStringLiteral("№"));
    QCOMPARE(value("B2"), QStringLiteral("Направление -- Канал"));
    QCOMPARE(value("C2"), QStringLiteral("1"));
    QCOMPARE(value("AG2"), QStringLiteral("31"));
    QCOMPARE(value("A3"), QStringLiteral("1"));
    QCOMPARE(value("B3"), kA);
    QCOMPARE(value("E3"), kR);
    QCOMPARE(value("AG3"), kG);
    QCOMPARE(value("C4"), kR);
    QCOMPARE(value("B5"), QStringLiteral("=1+1 -- x  1 Ch. ")); // a string, its control character dropped
    QVERIFY(!wb["sheet_xml_has_formula"].toBool());

    const QJsonObject widths = wb["widths"].toObject();
    QCOMPARE(qRound(widths["A"].toDouble() * 100), 529);
    QCOMPARE(qRound(widths["B"].toDouble() * 100), 3471);
    for (const QString& col : {QStringLiteral("C"), QStringLiteral("Q"), QStringLiteral("AG")})
        QCOMPARE(qRound(widths[col].toDouble() * 100), 314);
    QVERIFY(widths["AH"].isNull());
    QCOMPARE(wb["col_b_h"].toString(), QStringLiteral("left"));

    const auto comment = [&](const char* ref) { return cells[QLatin1String(ref)].toObject()["comment"]; };
    QCOMPARE(comment("E3").toString(), QStringLiteral("BUSY 15,00 09:15\nCONNECT 9600 09:20\n"));
    QCOMPARE(comment("AG3").toString(), QStringLiteral("NO CARRIER 10:00\n"));
    QCOMPARE(comment("C4").toString(), QStringLiteral("CONNECT 2400 10:00\n"));
    int comments = 0;
    for (auto it = cells.begin(); it != cells.end(); ++it)
        comments += it.value().toObject()["comment"].isString();
    QCOMPARE(comments, 3); // only day cells with a mark

    QCOMPARE(wb["paper"].toInt(), 9);
    QCOMPARE(wb["orientation"].toString(), QStringLiteral("landscape"));
    QCOMPARE(wb["print_title_rows"].toString().remove(u'$'), QStringLiteral("1:2"));
    QVERIFY(wb["defined_names"].toString().contains(QStringLiteral("_xlnm.Print_Titles")));
    const QJsonArray margins = wb["margins"].toArray();
    const double inches[] = {36 / 72.0, 72 / 72.0, 18 / 72.0, 18 / 72.0, 18 / 72.0, 54 / 72.0};
    QCOMPARE(margins.size(), 6);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(margins[i].toDouble(), inches[i]);
    QVERIFY(!wb["grid_lines"].toBool());
    QVERIFY(wb["centred"].toBool());
    QCOMPARE(
        wb["footer_xml"].toString(),
        QStringLiteral("<oddFooter>&amp;C&amp;\"Times New Roman CYR\" стр. &amp;P от &amp;N</oddFooter>"));
    QCOMPARE(wb["footer_font"].toString(), QStringLiteral("Times New Roman CYR"));
    QCOMPARE(wb["freeze"].toString(), QStringLiteral("A3"));
    QCOMPARE(wb["active_cell"].toString(), QStringLiteral("A3"));
}

void TestResultsView::exportWithoutComments() {
    writeMonth(QStringLiteral("2405"), {item(kA) + u'^' + group("BUSY", "1500", ts("2405", 3))});
    auto w = makeWindow();
    tick(*w, {kA}, {kA});
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    const QString chosen = dir_->filePath(QStringLiteral("Export/май.XLSX"));
    dialogs_->setNextFileName(chosen);
    QTest::mouseClick(w->Bexp, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->shown.size(), 1, 30000);
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Information);
    const QJsonObject wb = readWorkbook(chosen); // the extension is there already
    QVERIFY(!wb.isEmpty());
    const QJsonObject cells = wb["cells"].toObject();
    QCOMPARE(cells["E3"].toObject()["value"].toString(), kZ);
    for (auto it = cells.begin(); it != cells.end(); ++it)
        QVERIFY2(it.value().toObject()["comment"].isNull(), qPrintable(it.key()));
    QCOMPARE(wb["merged"].toArray(), QJsonArray({QStringLiteral("A1:AG1")}));

    // A cancelled dialog does nothing at all.
    QTest::mouseClick(w->Bexp, Qt::LeftButton);
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(w->Label11->text(), QString());
    QVERIFY(w->Bexp->isEnabled());

    // A typed ".xls" becomes ".xlsx"; that workbook exists, so the operator is asked first.
    dialogs_->setNextFileName(dir_->filePath(QStringLiteral("Export/май.xls")));
    dialogs_->setNextAnswer(MsgAnswer::No);
    const QByteArray before = testfiles::readBytes(chosen);
    QVERIFY(QFile::rename(chosen, dir_->filePath(QStringLiteral("Export/май.xlsx"))));
    QTest::mouseClick(w->Bexp, Qt::LeftButton);
    QCOMPARE(dialogs_->lastSuffix, QStringLiteral("xlsx")); // the dialog asks about the final name
    QCOMPARE(dialogs_->shown.size(), 2);
    QCOMPARE(dialogs_->shown[1].kind, MsgKind::Confirmation);
    QVERIFY(dialogs_->shown[1].text.contains(QStringLiteral("май.xlsx")));
    QVERIFY(!w->ExportRunning());
    QCOMPARE(testfiles::readBytes(dir_->filePath(QStringLiteral("Export/май.xlsx"))), before);
    QVERIFY(!QFileInfo::exists(dir_->filePath(QStringLiteral("Export/май.xls"))));
}

void TestResultsView::exportWritesFormulaLikeTextAsText() {
    // Labels and answers a spreadsheet would take for a formula, a number or a function call.
    const QStringList labels = {QStringLiteral("=1+1 "), QStringLiteral("+359 2 981 "),
                                QStringLiteral("-- канал "), QStringLiteral("@SUM(A1) ")};
    QStringList lines;
    for (int i = 0; i < labels.size(); ++i)
        lines.append(item(labels[i]) + u'^' +
                     group(QStringLiteral("=HYPERLINK(\"x\")"), "100", ts("2405", i + 1)) +
                     group("CONNECT", "200", ts("2405", i + 1, "1100")));
    writeMonth(QStringLiteral("2405"), lines);
    auto w = makeWindow();
    tick(*w, labels, labels);
    setMonth(*w, 2024, 5);
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    QVERIFY(dialogs_->shown.isEmpty());
    for (int i = 0; i < labels.size(); ++i) // each label found on its results line
        QCOMPARE(w->SGresults->cell(i + 2, i + 1), kR);
    const QString chosen = dir_->filePath(QStringLiteral("Export/формули.xlsx"));
    exportWithComments(*w, chosen);
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Information);

    const QJsonObject wb = readWorkbook(chosen);
    QVERIFY(!wb.isEmpty());
    QCOMPARE(wb["max_row"].toInt(), 2 + int(labels.size()));
    const QJsonObject cells = wb["cells"].toObject();
    for (int i = 0; i < labels.size(); ++i) {
        const QString ref = QStringLiteral("B") + QString::number(i + 3);
        const QJsonObject b = cells[ref].toObject();
        QCOMPARE(b["value"].toString(), labels[i]);
        QCOMPARE(b["type"].toString(), QStringLiteral("s"));
        const QJsonObject day = cells[QString(QChar(u'C' + i)) + QString::number(i + 3)].toObject();
        QCOMPARE(day["value"].toString(), kR);
        QCOMPARE(day["comment"].toString(), QStringLiteral("=HYPERLINK(\"x\") 10:00\nCONNECT 11:00\n"));
    }
    for (auto it = cells.begin(); it != cells.end(); ++it) {
        const QJsonObject c = it.value().toObject();
        if (!c["value"].isNull())
            QVERIFY2(c["type"].toString() == QStringLiteral("s"), qPrintable(it.key()));
    }
    QVERIFY(!wb["sheet_xml_has_formula"].toBool());
}

void TestResultsView::exportFailureLeavesNoFile() {
    writeMonth(QStringLiteral("2405"), {item(kA) + u'^' + group("BUSY", "1500", ts("2405", 3))});
    auto w = makeWindow();
    tick(*w, {kA}, {kA});
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    const QString exportDir = dir_->filePath(QStringLiteral("Export"));
    // The chosen name is taken by a folder: the finished workbook cannot be put there.
    QVERIFY(QDir().mkpath(exportDir + QStringLiteral("/taken.xlsx")));
    dialogs_->setNextFileName(exportDir + QStringLiteral("/taken.xlsx"));
    QTest::mouseClick(w->Bexp, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->shown.size(), 1, 30000);
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Error);
    QCOMPARE(dialogs_->shown[0].text, QStringLiteral("Грешка при екпортирането на данните в Excel."));
    QVERIFY(QFileInfo(exportDir + QStringLiteral("/taken.xlsx")).isDir());
    QVERIFY(QDir(exportDir).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QCOMPARE(w->Label11->text(), QString());
    QCOMPARE(w->Gauge1->value(), 0);
    QVERIFY(w->Bexp->isEnabled());

    // A folder that does not exist.
    dialogs_->setNextFileName(exportDir + QStringLiteral("/missing/x.xlsx"));
    QTest::mouseClick(w->Bexp, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dialogs_->shown.size(), 2, 30000);
    QCOMPARE(dialogs_->shown[1].text, QStringLiteral("Грешка при екпортирането на данните в Excel."));
    QVERIFY(!QFileInfo::exists(exportDir + QStringLiteral("/missing")));
}

void TestResultsView::closeWaitsForExport() {
    QStringList lines;
    QStringList labels;
    for (int i = 0; i < 120; ++i) {
        const QString label = QStringLiteral("Дир -- Ц  %1 Ch. ").arg(i);
        labels.append(label);
        QString groups;
        for (int d = 1; d <= 31; ++d)
            groups += group("BUSY", "1500", ts("2405", d));
        lines.append(item(label) + u'^' + groups);
    }
    writeMonth(QStringLiteral("2405"), lines);
    auto w = makeWindow();
    tick(*w, labels, labels);
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    QCOMPARE(w->SGresults->rowCount(), 121);
    w->CBoxComment->setChecked(true);
    const QString chosen = dir_->filePath(QStringLiteral("Export/big.xlsx"));
    dialogs_->setNextFileName(chosen);
    QTest::mouseClick(w->Bexp, Qt::LeftButton);
    QVERIFY(w->ExportRunning());
    QVERIFY(!w->Bexp->isEnabled());
    dialogs_->setNextAnswer(MsgAnswer::Yes);
    w->close();
    // The close returned only after the workbook was in place.
    QVERIFY(!w->ExportRunning());
    QVERIFY(QFileInfo::exists(chosen));
    QCoreApplication::processEvents();
    QCOMPARE(dialogs_->shown.size(), 1); // the close question; no export message after it
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Confirmation);
    const QJsonObject wb = readWorkbook(chosen);
    QCOMPARE(wb["max_row"].toInt(), 122);
    QCOMPARE(wb["cells"].toObject()["AG122"].toObject()["comment"].toString(),
             QStringLiteral("BUSY 15,00 10:00\n"));
}

void TestResultsView::changedDialStringMergesLines() {
    // Channel A's dial string changed on the 3rd: the month holds a line of each, and a task with
    // the old channel line still tested it that evening.
    writeMonth(QStringLiteral("2403"),
               {item(kA) + u'^' + group("CONNECT 9600", "900", ts("2403", 1)) +
                    group("NO CARRIER", "300", ts("2403", 3, "0915")) +
                    group("BUSY", "1500", ts("2403", 3, "2000")),
                item(kB) + u'^' + group("BUSY", "100", ts("2403", 3)),
                kA + QStringLiteral("--> #9123^") + group("NO ANSWER", "600", ts("2403", 3, "1400")) +
                    group("NO CARRIER", "100", ts("2403", 5))});
    auto w = makeWindow();
    tick(*w, {kA}, {kA});
    setMonth(*w, 2024, 3);
    QTest::mouseClick(w->BdbOpen, Qt::LeftButton);
    StringGrid* g = w->SGresults;
    QCOMPARE(g->rowCount(), 2);
    QCOMPARE(g->cell(1, 1), kA);
    QCOMPARE(g->cell(2, 1), kR);
    QCOMPARE(g->cell(4, 1), kZ); // the last test by time, on the old line
    QCOMPARE(g->cell(6, 1), kG); // on the new line only

    const QModelIndex day3 = g->gridModel()->index(0, 3);
    QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(day3).center());
    QTRY_VERIFY(w->PDetails->isVisible());
    QCOMPARE(w->Label10->text(), kA + QStringLiteral(" за  03.03.2024г."));
    const QStringList expected[] = {{"1", "NO CARRIER", "3,00", "09:15"},
                                    {"2", "NO ANSWER", "6,00", "14:00"},
                                    {"3", "BUSY", "15,00", "20:00"}};
    StringGrid* d = w->SGdetails;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            QCOMPARE(d->cell(c, r + 1), expected[r][c]);
    QCOMPARE(d->cell(1, 4), QString());

    const QString chosen = dir_->filePath(QStringLiteral("Export/смяна.xlsx"));
    exportWithComments(*w, chosen);
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Information);
    const QJsonObject wb = readWorkbook(chosen);
    QVERIFY(!wb.isEmpty());
    QCOMPARE(wb["max_row"].toInt(), 3);
    const QJsonObject cells = wb["cells"].toObject();
    const auto cell = [&](const char* ref) { return cells[QLatin1String(ref)].toObject(); };
    QCOMPARE(cell("B3")["value"].toString(), kA);
    QCOMPARE(cell("C3")["value"].toString(), kR);
    QCOMPARE(cell("C3")["comment"].toString(), QStringLiteral("CONNECT 9600 10:00\n"));
    QCOMPARE(cell("E3")["value"].toString(), kZ);
    QCOMPARE(cell("E3")["comment"].toString(),
             QStringLiteral("NO CARRIER 09:15\nNO ANSWER 14:00\nBUSY 15,00 20:00\n"));
    QCOMPARE(cell("G3")["value"].toString(), kG);
    QCOMPARE(cell("G3")["comment"].toString(), QStringLiteral("NO CARRIER 10:00\n"));
}

QTEST_MAIN(TestResultsView)
#include "test_results_view.moc"
