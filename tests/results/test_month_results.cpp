// Month results reading without widgets: labels, day marks, grid rows, detail rows, comments.
#include "results/MonthView.h"

#include <QRandomGenerator>
#include <QTest>

using namespace results;

namespace {
const QString kA = QStringLiteral("София -- Център  12 Ch. ");
const QString kB = QStringLiteral("Пловдив -- Юг  3 Ch. ");

QString group(const QString& answer, const QString& delay, const QString& stamp) {
    return answer + u'^' + delay + u'^' + stamp + u'^';
}
// Timestamp of May 2024 on the given day and time.
QString ts(int day, const QString& hhnn = QStringLiteral("1000")) {
    return QStringLiteral("2405") + QString::number(day).rightJustified(2, u'0') + hhnn;
}
QString line(const QString& label, const QString& groups) {
    return label + QStringLiteral("--> #8123^") + groups;
}
QStringList header(const QStringList& labels) {
    return QStringList{QStringLiteral("Направление -- Канал")} + labels;
}
} // namespace

class TestMonthResults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void labels();
    void dayMark_data();
    void dayMark();
    void connectWinsWithinDay();
    void equalLabelsMergeTheirLines();
    void emptyLabelRow();
    void malformedGroupsAreSkipped();
    void daysAndFileNames();
    void detailRows();
    void detailLimitAndDelays();
    void comments();
    void commentsInOnePassMatchDayByDay();
    void cleanText();
};

void TestMonthResults::labels() {
    QCOMPARE(ChannelLabel(QStringLiteral("София -- Център  12 Ch. --> #8123")), kA);
    QCOMPARE(ChannelLabel(QStringLiteral("a --> b --> c")), QStringLiteral("a "));
    QCOMPARE(ChannelLabel(QStringLiteral("no arrow^BUSY^100^2405011000^")), QString());
    // The first " --> " counts even when it lies inside a later field.
    QCOMPARE(ChannelLabel(QStringLiteral("k^x --> y^")), QStringLiteral("k^x "));
}

void TestMonthResults::dayMark_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("delay");
    QTest::addColumn<QString>("mark");
    const QString r = QString(kMarkConnect), z = QString(kMarkBusy), g = QString(kMarkFailure);
    QTest::newRow("connect") << "CONNECT"
                             << "5000" << r;
    QTest::newRow("connect speed") << "CONNECT 9600/ARQ"
                                   << "5000" << r;
    QTest::newRow("lower case") << "connect 9600"
                                << "5000" << g;
    QTest::newRow("busy 1500") << "BUSY"
                               << "1500" << z;
    QTest::newRow("busy 2200") << "BUSY"
                               << "2200" << z;
    QTest::newRow("busy 2201") << "BUSY"
                               << "2201" << g;
    QTest::newRow("busy trailing") << "BUSY "
                                   << "100" << g;
    QTest::newRow("no carrier") << "NO CARRIER"
                                << "100" << g;
    QTest::newRow("no dialtone") << "NO DIALTONE"
                                 << "100" << g;
    QTest::newRow("empty") << ""
                           << "100" << g;
}

void TestMonthResults::dayMark() {
    QFETCH(QString, answer);
    QFETCH(QString, delay);
    QFETCH(QString, mark);
    const QString l = line(kA, group(answer, delay, ts(7)));
    const QVector<QStringList> rows = MonthGridRows(header({kA}), {l}, 33);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][8], mark);
    for (int c = 2; c < 33; ++c)
        if (c != 8)
            QVERIFY(rows[0][c].isEmpty());
}

void TestMonthResults::connectWinsWithinDay() {
    const QString l =
        line(kA, group("BUSY", "100", ts(1, "1000")) + group("CONNECT 2400", "900", ts(1, "1100")) +
                     group("CONNECT", "900", ts(2, "1000")) + group("NO CARRIER", "900", ts(2, "1100")) +
                     group("NO ANSWER", "900", ts(3, "1000")) + group("BUSY", "1500", ts(3, "1100")) +
                     group("BUSY", "1500", ts(4, "1000")) + group("NO CARRIER", "100", ts(4, "1100")));
    const QStringList row = MonthGridRows(header({kA}), {l}, 33)[0];
    QCOMPARE(row[0], QStringLiteral("1"));
    QCOMPARE(row[1], kA);
    QCOMPARE(row[2], QString(kMarkConnect));
    QCOMPARE(row[3], QString(kMarkConnect));
    QCOMPARE(row[4], QString(kMarkBusy));
    QCOMPARE(row[5], QString(kMarkFailure)); // the last test of the day
}

void TestMonthResults::equalLabelsMergeTheirLines() {
    const QStringList view = {line(kB, group("BUSY", "100", ts(9))), line(kA, group("CONNECT", "100", ts(5))),
                              kA + QStringLiteral("--> #8999^") + group("BUSY", "100", ts(6))};
    const QVector<QStringList> rows =
        MonthGridRows(header({kA, kA, QStringLiteral("x -- y  1 Ch. ")}), view, 33);
    QCOMPARE(rows.size(), 3);
    for (int r = 0; r < 2; ++r) {
        QCOMPARE(rows[r][0], QString::number(r + 1));
        QCOMPARE(rows[r][6], QString(kMarkConnect));
        QCOMPARE(rows[r][7], QString(kMarkBusy)); // the later line of that label counts too
        QVERIFY(rows[r][10].isEmpty());
    }
    for (int c = 2; c < 33; ++c)
        QVERIFY(rows[2][c].isEmpty());
}

void TestMonthResults::emptyLabelRow() {
    const QStringList view = {line(kA, group("BUSY", "100", ts(3))),
                              QStringLiteral("hand made^NO CARRIER^100^") + ts(4) + u'^',
                              QStringLiteral("second^BUSY^100^") + ts(5) + u'^'};
    const QVector<QStringList> rows = MonthGridRows(header({}), view, 33);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0], QStringLiteral("1"));
    QCOMPARE(rows[0][1], QString());
    QCOMPARE(rows[0][5], QString(kMarkFailure));
    QVERIFY(rows[0][4].isEmpty());
    QVERIFY(rows[0][6].isEmpty());
    // A row with a real label never takes a line without an arrow.
    QVERIFY(MonthGridRows(header({kB}), view, 33)[0][5].isEmpty());
}

void TestMonthResults::malformedGroupsAreSkipped() {
    // Only "BUSY" needs its delay as a number: any other answer keeps a damaged delay as stored.
    const QString l =
        line(kA, group("BUSY", "1500", QStringLiteral("2405xx1000")) + group("BUSY", "abc", ts(2)) +
                     group("CONNECT", "100", QStringLiteral("240503")) + group("BUSY", "", ts(4)) +
                     group("CONNECT", "100", ts(32)) + group("BUSY", "1500", ts(6)) +
                     group("NO CARRIER", "abc", ts(8, "0700")) + group("CONNECT 2400", "", ts(9)) +
                     group("CONNECT", "100", ts(31)));
    const QVector<ResultGroup> groups = ResultGroups(l);
    QCOMPARE(groups.size(), 4);
    QVERIFY(!groups[1].delayIsNumber && groups[1].delay == u"abc");
    QCOMPARE(ShownDelay(groups[1]), QStringLiteral("abc"));
    QCOMPARE(ShownDelay(groups[0]), QStringLiteral("15,00"));
    const QStringList row = MonthGridRows(header({kA}), {l}, 31)[0]; // a 29-day grid
    QCOMPARE(row.size(), 31);
    for (int c = 2; c < 31; ++c)
        QCOMPARE(row[c], c == 7    ? QString(kMarkBusy)
                         : c == 9  ? QString(kMarkFailure)
                         : c == 10 ? QString(kMarkConnect)
                                   : QString());
    QCOMPARE(DetailRows(l, 8).size(), 1);
    QCOMPARE(DayComment(l, 8), QStringLiteral("NO CARRIER 07:00\n"));
    // A line with fewer than three fields after the key holds no group.
    QVERIFY(ResultGroups(QStringLiteral("k^BUSY^100")).isEmpty());
    QCOMPARE(ResultGroups(QStringLiteral("k^BUSY^100^") + ts(1)).size(), 1); // no closing caret
}

void TestMonthResults::daysAndFileNames() {
    QCOMPARE(DaysInMonth(2024, 2), 29);
    QCOMPARE(DaysInMonth(2023, 2), 28);
    QCOMPARE(DaysInMonth(2100, 2), 28);
    QCOMPARE(DaysInMonth(2024, 3), 31);
    QCOMPARE(DaysInMonth(2024, 4), 30);
    QCOMPARE(DayColumnWidth(28), 17);
    QCOMPARE(DayColumnWidth(29), 17);
    QCOMPARE(DayColumnWidth(30), 16);
    QCOMPARE(DayColumnWidth(31), 16);
    QCOMPARE(MonthFileName(QStringLiteral("/r"), 2024, 3), QStringLiteral("/r/2403.tst"));
    QCOMPARE(MonthFileName(QStringLiteral("/r"), 1999, 12), QStringLiteral("/r/9912.tst"));
    QCOMPARE(MonthTitle(QStringLiteral("Март"), 2024), QStringLiteral("Данни за месец Март 2024 г."));
}

void TestMonthResults::detailRows() {
    const QString l =
        line(kA, group("BUSY", "1500", ts(5, "0915")) + group("NO CARRIER", "160", ts(6, "0900")) +
                     group("CONNECT 9600", "2200", ts(5, "1407")) + group("BUSY", "20", ts(5, "2359")));
    const QVector<DetailRow> rows = DetailRows(l, 5);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].answer, QStringLiteral("BUSY"));
    QCOMPARE(rows[0].delay, QStringLiteral("15,00"));
    QCOMPARE(rows[0].time, QStringLiteral("09:15"));
    QCOMPARE(rows[1].answer, QStringLiteral("CONNECT 9600"));
    QCOMPARE(rows[1].delay, QStringLiteral("22,00"));
    QCOMPARE(rows[1].time, QStringLiteral("14:07"));
    QCOMPARE(rows[2].delay, QStringLiteral(",20"));
    QCOMPARE(rows[2].time, QStringLiteral("23:59"));
    QCOMPARE(DetailRows(l, 6).size(), 1);
    QVERIFY(DetailRows(l, 0).isEmpty()); // the label column
    QVERIFY(DetailRows(QString(), 5).isEmpty());
    QCOMPARE(DetailTitle(kA, 5, 3, 2024), kA + QStringLiteral(" за  05.03.2024г."));
    QCOMPARE(DetailTitle(kA, 17, 11, 2024), kA + QStringLiteral(" за  17.11.2024г."));
}

void TestMonthResults::detailLimitAndDelays() {
    QString groups;
    for (int i = 0; i < 15; ++i)
        groups += group(QStringLiteral("ANSWER %1").arg(i), QString::number(i),
                        ts(8, QStringLiteral("10%1").arg(i, 2, 10, QChar(u'0'))));
    const QVector<DetailRow> rows = DetailRows(line(kA, groups), 8);
    QCOMPARE(rows.size(), 13);
    QCOMPARE(rows[12].answer, QStringLiteral("ANSWER 12"));
    QCOMPARE(rows[0].delay, QStringLiteral(",0"));
    QCOMPARE(DelayWithComma(QString()), QStringLiteral(","));
    QCOMPARE(DelayWithComma(QStringLiteral("160")), QStringLiteral("1,60"));
    QCOMPARE(DelayWithComma(QStringLiteral("18000")), QStringLiteral("180,00"));
}

void TestMonthResults::comments() {
    const QString l =
        line(kA, group("NO CARRIER", "300", ts(2, "0800")) + group("BUSY", "1500", ts(3, "0915")) +
                     group("CONNECT 9600/ARQ", "2000", ts(3, "0920")) +
                     group("NO ANSWER", "300", ts(4, "0800")) + group("BUSY", "900", ts(3, "1200")));
    QCOMPARE(DayComment(l, 3), QStringLiteral("BUSY 15,00 09:15\nCONNECT 9600/ARQ 09:20\n"));
    QCOMPARE(DayComment(l, 2), QStringLiteral("NO CARRIER 08:00\n"));
    QCOMPARE(DayComment(l, 4), QStringLiteral("NO ANSWER 08:00\n"));
    QCOMPARE(DayComment(l, 5), QString());
    QCOMPARE(DayComment(QString(), 3), QString());
}

void TestMonthResults::commentsInOnePassMatchDayByDay() {
    // The export builds all comments of a line at once; it must agree with the day-by-day scan,
    // also for hand-edited lines whose days go back and forth.
    QRandomGenerator rng(7);
    const QStringList answers = {"BUSY", "CONNECT 2400", "NO CARRIER", ""};
    for (int n = 0; n < 200; ++n) {
        QString groups;
        const int count = rng.bounded(0, 20);
        for (int i = 0; i < count; ++i) {
            const int day = rng.bounded(1, 32);
            groups += group(answers[rng.bounded(4)], QString::number(rng.bounded(20, 3000)),
                            ts(day, QStringLiteral("%1").arg(rng.bounded(0, 2400), 4, 10, QChar(u'0'))));
        }
        const QString l = line(kA, groups);
        const QVector<QString> all = DayComments(l, 31);
        for (int d = 1; d <= 31; ++d)
            QCOMPARE(all[d], DayComment(l, d));
    }
}

void TestMonthResults::cleanText() {
    QCOMPARE(CleanText(QStringLiteral("a\tb\rc\nd\x01"
                                      "e\x7f"
                                      "f")),
             QStringLiteral("abc\ndef"));
    QCOMPARE(CleanText(QString(QChar(0x85)) + QStringLiteral("Данни")), QStringLiteral("Данни"));
    QCOMPARE(CleanText(QStringLiteral("=SUM(A1)")), QStringLiteral("=SUM(A1)"));
}

QTEST_APPLESS_MAIN(TestMonthResults)
#include "test_month_results.moc"
