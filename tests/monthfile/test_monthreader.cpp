// The reader of a month: channel keys and labels, a channel's lines merged by time, the journal's
// tests added as the engine adds them, and a month read for a few channels only.
#include "core/Cp1251.h"
#include "mock/TestFiles.h"
#include "monthfile/MonthReader.h"

#include <QTemporaryDir>
#include <QTest>

using namespace monthfile;

namespace {
const QString kA = QStringLiteral("София -- Център  12 Ch. ");
const QString kB = QStringLiteral("Варна -- Изток  7 Ch. ");

QString group(const char* answer, const char* delay, int day, const char* hhnn) {
    return QStringLiteral("%1^%2^2403%3%4^")
        .arg(QLatin1String(answer), QLatin1String(delay))
        .arg(day, 2, 10, QChar(u'0'))
        .arg(QLatin1String(hhnn));
}

QByteArray file(const QStringList& lines) {
    return Cp1251::encode(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

QStringList answers(const ChannelTests& t) {
    QStringList out;
    for (const ResultGroup& g : t.groups)
        out.append(g.answer.toString() + u' ' + TestTime(g.timestamp));
    return out;
}
} // namespace

class TestMonthReader : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keysAndLabels();
    void linesOfALabelMergeByTime();
    void journalAddsAsTheEngine();
    void partKeepsTheLabelsAsked();
};

void TestMonthReader::keysAndLabels() {
    const QString key = kA + QStringLiteral("--> #8123");
    for (const QString& line : {key + QStringLiteral("^BUSY^100^2403011000^"), QStringLiteral("k^x --> y^"),
                                key, QStringLiteral("^ --> ^")}) {
        // The label is the key's: none without a caret or with the arrow in a later field.
        QCOMPARE(LineLabelSize(QByteArrayView(Cp1251::encode(line))), LineLabelSize(line));
        QCOMPARE(LineLabel(line), line.startsWith(kA) && line.contains(u'^') ? kA : QString());
    }
    QCOMPARE(DialString(key), QStringLiteral("#8123"));
    QCOMPARE(DialString(QStringLiteral("a --> b --> c")), QStringLiteral("b --> c"));
    const ChannelParts p = SplitKey(key);
    QCOMPARE(QStringList({p.direction, p.exchange, p.channel, p.dial}),
             QStringList({"София", "Център", "12", "#8123"}));
    QCOMPARE(SplitKey(kA.trimmed()).dial, QString()); // a label has no dial string
}

void TestMonthReader::linesOfALabelMergeByTime() {
    const QStringList lines = {kA + QStringLiteral("--> #8123^") + group("BUSY", "1500", 3, "0900") +
                                   group("NO CARRIER", "100", 3, "2000") + group("CONNECT", "100", 4, "1000"),
                               QStringLiteral("hand made^BUSY^100^2403031000^"),
                               kB + QStringLiteral("--> #8007^") + group("NO CARRIER", "100", 4, "0800") +
                                   group("BUSY", "100", 3, "0800"),
                               kA + QStringLiteral("--> #9123^") + group("NO ANSWER", "100", 3, "0900") +
                                   group("BUSY", "100", 3, "1200") + group("CONNECT", "100", 31, "1000")};
    Month m;
    m.year = 2024;
    m.month = 2; // 29 days: the 31st is outside
    BuildMonth(m, file(lines), true, {});
    QCOMPARE(m.labels, QStringList({kA, kB}));
    QCOMPARE(m.channel(kB), 1);
    QCOMPARE(m.channel(QString()), -1);
    const ChannelTests a = m.tests(0);
    // One minute's tests in the order of their lines; the latest test's line gives the key.
    QCOMPARE(answers(a), QStringList({"BUSY 09:00", "NO ANSWER 09:00", "BUSY 12:00", "NO CARRIER 20:00",
                                      "CONNECT 10:00"}));
    QCOMPARE(a.key(), kA + QStringLiteral("--> #8123"));
    QCOMPARE(m.dayMark(0, 3), Mark::Failure); // the last by time, not the last line's
    QCOMPARE(m.dayMark(0, 4), Mark::Connect);
    // A line alone keeps its own order.
    QCOMPARE(answers(m.tests(1)), QStringList({"NO CARRIER 08:00", "BUSY 08:00"}));
    QCOMPARE(m.latestDay(), 4);

    // The results page's month from the lines it holds reads the same, every day kept.
    const Month held = MonthOfLines(lines);
    QCOMPARE(held.labels, m.labels);
    QCOMPARE(answers(held.tests(0)), answers(a) + QStringList{"CONNECT 10:00"});
    QCOMPARE(held.dayMark(0, 3), Mark::Failure);
}

void TestMonthReader::journalAddsAsTheEngine() {
    const QStringList lines = {kA + QStringLiteral("--> #8123^BUSY^100^2403011000"), // no closing caret
                               kB + QStringLiteral("--> #8007^BUSY^100^2403011000^x^"),
                               kB + QStringLiteral("--> #8007^CONNECT^100^2403021000^")};
    const QByteArray bytes = file(lines);
    const QList<ResultJournal::Record> records = {
        {kA + QStringLiteral("--> #8123"), "NO CARRIER", "100", "2403021000"},
        {kB + QStringLiteral("--> #8007"), "BUSY", "900", "2403031000"},
        {kA + QStringLiteral("--> #9123"), "CONNECT", "100", "2403031000"},
        {kA + QStringLiteral("--> #9123"), "BUSY", "100", "2403041000"}};
    QTemporaryDir dir;
    ResultJournal j;
    j.create(dir.filePath("2403.jrn"), FileFingerprint::of(bytes));
    for (const ResultJournal::Record& r : records)
        j.append(r);
    j.close();
    const QByteArray journal = testfiles::readBytes(dir.filePath("2403.jrn"));
    Month m;
    m.year = 2024;
    m.month = 3;
    BuildMonth(m, bytes, true, journal);
    MonthResults whole(lines);
    for (const ResultJournal::Record& r : records)
        whole.AddResult(r.key, r.answer, r.delay, r.stamp);
    QCOMPARE(m.journalRecords, 4);
    QCOMPARE(m.lineCount(), whole.count());
    for (int i = 0; i < m.lineCount(); ++i)
        QCOMPARE(m.line(i), whole.lines()[i]);
    QCOMPARE(m.dayMark(0, 3), Mark::Connect); // the new line's test is channel A's
    QCOMPARE(m.dayMark(1, 3), Mark::Busy);
}

void TestMonthReader::partKeepsTheLabelsAsked() {
    // A line longer than the reader's buffer, so that lines cross its refills.
    QTemporaryDir dir;
    QString longLine = kB + QStringLiteral("--> #8007^");
    for (int d = 1; d <= 31; ++d)
        for (int k = 0; k < 1500; ++k)
            longLine += group("CONNECT 9600/ARQ", "100", d, "1000");
    const QStringList lines = {
        kA + QStringLiteral("--> #8123^") + group("NO CARRIER", "100", 30, "1000"), longLine,
        kA + QStringLiteral("--> #9123^") + group("NO CARRIER", "100", 31, "1000"),
        QStringLiteral("Пловдив -- Юг  3 Ch. --> #7003^") + group("BUSY", "100", 31, "1000")};
    const QByteArray bytes = file(lines);
    QVERIFY(bytes.size() > (1 << 20) + 1000);
    testfiles::writeBytes(dir.filePath("2403.tst"), bytes);
    Month whole, part;
    QVERIFY(LoadMonth(dir.path(), 2024, 3, whole));
    QVERIFY(LoadMonthPart(dir.path(), 2024, 3, {kA, kB}, part));
    QCOMPARE(part.labels, QStringList({kA, kB}));
    for (int c = 0; c < 2; ++c)
        for (int d = 1; d <= 31; ++d)
            QCOMPARE(part.dayMark(c, d), whole.dayMark(c, d));
    QCOMPARE(part.lineCount(), 3);
    QVERIFY(!LoadMonthPart(dir.path(), 2024, 4, {kA}, part));

    // A NUL byte beyond the first refill is named by its place in the file.
    QByteArray damaged = bytes;
    damaged[(1 << 20) + 5] = '\0';
    testfiles::writeBytes(dir.filePath("2403.tst"), damaged);
    try {
        LoadMonthPart(dir.path(), 2024, 3, {kA}, part);
        QFAIL("a month file with a NUL byte was read");
    } catch (const ReadError& e) {
        QVERIFY2(e.status().startsWith(QStringLiteral("NUL byte at offset %1 ").arg((1 << 20) + 5)),
                 qPrintable(e.status()));
    }
}

QTEST_APPLESS_MAIN(TestMonthReader)
#include "test_monthreader.moc"
