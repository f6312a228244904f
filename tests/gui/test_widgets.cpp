// The grid, check-list and radio-group controls the window is built from.
#include "core/AppError.h"
#include "gui/CheckListBox.h"
#include "gui/RadioGroup.h"
#include "gui/StringGrid.h"

#include <QAbstractItemModelTester>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

class TestWidgets : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void gridCellsAndHeaders();
    void gridRowCountAndBulk();
    void gridOutOfRange();
    void gridUserSelect();
    void checkListProgramMarksAreSilent();
    void checkListUserClick();
    void checkListOutOfRange();
    void radioGroup();
};

void TestWidgets::gridCellsAndHeaders() {
    StringGrid g(4, 3);
    QAbstractItemModelTester tester(g.gridModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    g.setCell(0, 0, "№");
    g.setCell(1, 0, "Name");
    g.setCell(0, 1, "1");
    g.setCell(1, 1, "x");
    QCOMPARE(g.cell(1, 1), QStringLiteral("x"));
    // Row 0 and column 0 are the fixed headers; the body starts at (1, 1).
    QCOMPARE(g.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    QCOMPARE(g.model()->headerData(0, Qt::Vertical).toString(), QStringLiteral("1"));
    QCOMPARE(g.model()->index(0, 0).data().toString(), QStringLiteral("x"));
    QCOMPARE(g.model()->rowCount(), 2);
    QCOMPARE(g.model()->columnCount(), 3);
    g.setColWidth(0, 25);
    g.setColWidth(2, 40);
    QCOMPARE(g.colWidth(0), 25);
    QCOMPARE(g.colWidth(2), 40);
}

void TestWidgets::gridRowCountAndBulk() {
    StringGrid g(5, 30);
    QAbstractItemModelTester tester(g.gridModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    g.setCell(1, 29, "last");
    g.setRowCount(104);
    QCOMPARE(g.rowCount(), 104);
    QCOMPARE(g.cell(1, 29), QStringLiteral("last"));
    QCOMPARE(g.cell(1, 103), QString());
    g.beginUpdate();
    for (int r = 1; r < 104; ++r)
        g.setCell(1, r, QString::number(r));
    g.setRowCount(200);
    g.setCell(4, 199, "z");
    g.endUpdate();
    QCOMPARE(g.rowCount(), 200);
    QCOMPARE(g.model()->rowCount(), 199);
    QCOMPARE(g.model()->index(198, 3).data().toString(), QStringLiteral("z"));
    g.setRowCount(10);
    QCOMPARE(g.rowCount(), 10);
    QCOMPARE(g.cell(1, 9), QStringLiteral("9"));
    g.setColCount(3);
    QCOMPARE(g.colCount(), 3);
    QCOMPARE(g.cell(1, 9), QStringLiteral("9"));
    g.setCell(2, 4, "x");
    g.gridModel()->clearRows(2, 5); // rows 2 to 4, every column
    QCOMPARE(g.cell(1, 1), QStringLiteral("1"));
    QCOMPARE(g.cell(1, 2), QString());
    QCOMPARE(g.cell(2, 4), QString());
    QCOMPARE(g.cell(1, 5), QStringLiteral("5"));
    g.gridModel()->clearRows(8, 99); // clipped to the grid
    QCOMPARE(g.cell(1, 9), QString());
    QCOMPARE(g.cell(1, 7), QStringLiteral("7"));
    g.setColCount(5); // widening keeps the cells
    QCOMPARE(g.cell(1, 7), QStringLiteral("7"));
    QCOMPARE(g.cell(4, 7), QString());
}

void TestWidgets::gridOutOfRange() {
    StringGrid g(3, 3);
    QVERIFY_THROWS_EXCEPTION(AppError, g.cell(3, 0));
    QVERIFY_THROWS_EXCEPTION(AppError, g.cell(0, 3));
    QVERIFY_THROWS_EXCEPTION(AppError, g.setCell(-1, 0, "x"));
    QVERIFY_THROWS_EXCEPTION(AppError, g.setCurrentCell(1, 0));
    QVERIFY_THROWS_EXCEPTION(AppError, g.setColWidth(5, 10));
}

void TestWidgets::gridUserSelect() {
    StringGrid g(3, 5);
    g.resize(300, 200);
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    QSignalSpy spy(&g, &StringGrid::userSelect);
    g.setRow(2); // the program's own move is not the operator's
    QCOMPARE(spy.count(), 0);
    QCOMPARE(g.row(), 2);
    const QRect r = g.visualRect(g.model()->index(2, 0));
    QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, r.center());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(g.row(), 3);
    QTest::keyClick(&g, Qt::Key_Down);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(g.row(), 4);
    QTest::keyClick(&g, Qt::Key_Down); // already on the last row: nothing moved
    QCOMPARE(spy.count(), 2);
}

void TestWidgets::checkListProgramMarksAreSilent() {
    CheckListBox box;
    QAbstractItemModelTester tester(box.listModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy spy(&box, &CheckListBox::clickCheck);
    box.addItem("a");
    box.setItems({"b", "c", "d"});
    box.setChecked(1, true);
    box.setAllChecked(true);
    box.setAllChecked(false);
    box.setChecked(2, true);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(box.count(), 3);
    QCOMPARE(box.checkedItems(), QStringList({"d"}));
    box.deleteItem(0);
    QCOMPARE(box.items(), QVector<QString>({"c", "d"}));
    box.clear();
    QCOMPARE(box.count(), 0);
    box.setAllChecked(true); // empty: nothing to do
}

void TestWidgets::checkListUserClick() {
    CheckListBox box;
    box.resize(200, 200);
    box.setItems({"one", "two"});
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QSignalSpy spy(&box, &CheckListBox::clickCheck);
    // The operator's toggle arrives through the model as a view would deliver it.
    QVERIFY(box.model()->setData(box.model()->index(1, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 1);
    QVERIFY(box.isChecked(1));
    QCOMPARE(box.selectAllAction()->text(), QStringLiteral("Select All"));
    QCOMPARE(box.deselectAllAction()->text(), QStringLiteral("Deselect All"));
}

void TestWidgets::checkListOutOfRange() {
    CheckListBox box;
    box.addItem("x");
    QVERIFY_THROWS_EXCEPTION(AppError, box.item(1));
    QVERIFY_THROWS_EXCEPTION(AppError, box.setChecked(-1, true));
    QVERIFY_THROWS_EXCEPTION(AppError, box.deleteItem(5));
}

void TestWidgets::radioGroup() {
    RadioGroup g("RG", "Title", {"Веднага", "По време", "Всеки ден"});
    QSignalSpy spy(&g, &RadioGroup::clicked);
    QCOMPARE(g.itemIndex(), 0);
    g.setItemIndex(2);
    QCOMPARE(g.itemIndex(), 2);
    g.setItemIndex(-1);
    QCOMPARE(g.itemIndex(), -1);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(g.indexOfText(QStringLiteral("по ВРЕМЕ")), 1);
    QCOMPARE(g.indexOfText("other"), -1);
    QVERIFY_THROWS_EXCEPTION(AppError, g.setItemIndex(3));
    g.button(1)->click();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(g.itemIndex(), 1);
    QCOMPARE(g.button(1)->objectName(), QStringLiteral("RG_1"));
}

QTEST_MAIN(TestWidgets)
#include "test_widgets.moc"
