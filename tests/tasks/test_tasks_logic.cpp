// Task file format, file names and listing, and the selection-list logic.
#include "mock/TestFiles.h"
#include "core/AppError.h"
#include "tasks/ChannelSelection.h"
#include "tasks/TaskFile.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace ChannelSelection;

class TestTasksLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void setTaskFileStatus();
    void setTaskFileStatusMissingFile();
    void headerBuildAndParse();
    void fileNamesAndUniqueness();
    void listingSortedAndFiltered();
    void channelItemsFromLines();
    void baseSortIgnoresCase();
    void directionsDistinctIgnoringCase();
    void channelsByExactDirectionInListOrder();
    void exchangeMarksExactCase();
};

void TestTasksLogic::headerBuildAndParse() {
    QCOMPARE(
        TaskFile::buildHeader(QStringLiteral("T"), text(TaskType::Immediate), 7, 5, QStringLiteral("Чакаща")),
        QStringLiteral("T^Веднага^7^5^Чакаща^"));
    QCOMPARE(TaskFile::buildHeader(QString(), text(TaskType::Daily), 23, 59, QStringLiteral("Забранена")),
             QStringLiteral("^Всеки ден^23^59^Забранена^"));
    // A caret or line break in the name cannot shift or split the fields.
    const QString h = TaskFile::buildHeader(QStringLiteral("a^b\r\nc"), text(TaskType::AtTime), 9, 0,
                                            QStringLiteral("Чакаща"));
    QCOMPARE(h, QStringLiteral("abc^По време^9^0^Чакаща^"));
    const TaskFile::Header p = TaskFile::parseHeader(h);
    QCOMPARE(p.name, QStringLiteral("abc"));
    QCOMPARE(p.type, text(TaskType::AtTime));
    QCOMPARE(p.hour, QStringLiteral("9"));
    QCOMPARE(p.minute, QStringLiteral("0"));
    QCOMPARE(p.status, QStringLiteral("Чакаща"));
    // Missing fields read as empty; an empty header line is all empty.
    const TaskFile::Header shortH = TaskFile::parseHeader(QStringLiteral("only"));
    QCOMPARE(shortH.name, QStringLiteral("only"));
    QVERIFY(shortH.type.isEmpty() && shortH.status.isEmpty());
    QCOMPARE(TaskFile::parseHeader(QString()).startText(), QStringLiteral(":"));
}

void TestTasksLogic::fileNamesAndUniqueness() {
    const QDateTime t(QDate(2024, 5, 14), QTime(17, 5, 9));
    QCOMPARE(TaskFile::fileNameFor(t), QStringLiteral("240514170509.tsk"));
    QSet<QString> taken;
    auto isTaken = [&](const QString& n) { return taken.contains(n); };
    QCOMPARE(TaskFile::chooseFileName(t, isTaken), QStringLiteral("240514170509.tsk"));
    taken.insert(QStringLiteral("240514170509.tsk"));
    taken.insert(QStringLiteral("240514170510.tsk"));
    QCOMPARE(TaskFile::chooseFileName(t, isTaken), QStringLiteral("240514170511.tsk"));
    // The next free second may fall into the next day.
    const QDateTime late(QDate(2024, 12, 31), QTime(23, 59, 59));
    taken.insert(TaskFile::fileNameFor(late));
    QCOMPARE(TaskFile::chooseFileName(late, isTaken), QStringLiteral("250101000000.tsk"));
}

void TestTasksLogic::listingSortedAndFiltered() {
    QTemporaryDir dir;
    for (const char* n : {"240514170510.tsk", "240101000000.tsk", "zeta.tsk", "240514170509.tsk", "a.txt",
                          ".hidden.tsk", "UPPER.TSK"})
        testfiles::writeText(dir.filePath(QLatin1String(n)), QStringLiteral("x^"));
    QDir(dir.path()).mkdir(QStringLiteral("folder.tsk"));
    QCOMPARE(TaskFile::listTaskFiles(dir.path()), (QStringList{"240101000000.tsk", "240514170509.tsk",
                                                               "240514170510.tsk", "UPPER.TSK", "zeta.tsk"}));
    // Rewriting a file does not move it.
    testfiles::writeText(dir.filePath(QStringLiteral("240101000000.tsk")), QStringLiteral("y^"));
    QCOMPARE(TaskFile::listTaskFiles(dir.path()).first(), QStringLiteral("240101000000.tsk"));
}

void TestTasksLogic::channelItemsFromLines() {
    const Listing l = listChannels({"North^EX1^12^#80012^extra^", "North", "North^EX2"}, {"North"});
    // Fields after the fourth are ignored, missing ones are empty.
    QCOMPARE(l.channels, (QVector<QString>{"North -- EX1  12 Ch. --> #80012", "North --    Ch. --> ",
                                           "North -- EX2   Ch. --> "}));
    QCOMPARE(l.exchanges, (QVector<QString>{"EX1", "EX2"}));
}

void TestTasksLogic::baseSortIgnoresCase() {
    const QStringList sorted = sortBase(
        {QStringLiteral("b^x^"), QStringLiteral("C^x^"), QStringLiteral("a^x^"), QStringLiteral("B^y^")});
    QCOMPARE(sorted.size(), 4);
    QCOMPARE(sorted[0], QStringLiteral("a^x^"));
    QCOMPARE(sorted[3], QStringLiteral("C^x^"));
    // The two B lines sit together, whatever their order between themselves.
    QCOMPARE(sorted[1].left(1).toLower(), QStringLiteral("b"));
    QCOMPARE(sorted[2].left(1).toLower(), QStringLiteral("b"));
    QCOMPARE(sortBase({}), QStringList());
}

void TestTasksLogic::directionsDistinctIgnoringCase() {
    // File order B, A, A lists A then B, each once.
    QCOMPARE(directions(sortBase({"B^e^1^d^", "A^e^1^d^", "A^f^2^d^"})), (QVector<QString>{"A", "B"}));
    // Case variants are one direction, shown as first met; lines without a direction are passed by.
    QCOMPARE(directions({"^e^1^", "", "North^a^", "NORTH^b^", "north", "South^"}),
             (QVector<QString>{"North", "South"}));
    // Cyrillic letters fold too, and sort among their other case.
    const QStringList cyr = sortBase({"юг^Б^1^", "Север^А^1^", "СЕВЕР^В^2^", "Юг^Г^3^", "ЗАПАД^Д^4^"});
    QCOMPARE(directions(cyr).size(), 3);
    QCOMPARE(directions(cyr)[0], QStringLiteral("ЗАПАД"));
    QCOMPARE(directions(cyr)[1].toUpper(), QStringLiteral("СЕВЕР"));
    QCOMPARE(directions(cyr)[2].toUpper(), QStringLiteral("ЮГ"));
    // Their exchanges merge the same way: Б and б are one.
    const Listing l = listChannels({"Юг^Б^1^", "Юг^б^2^", "Юг^В^3^"}, {"Юг"});
    QCOMPARE(l.exchanges, (QVector<QString>{"Б", "В"}));
    QCOMPARE(exchangeMarks(l.channels, {"б"}), (QVector<char>{0, 1, 0}));
}

void TestTasksLogic::channelsByExactDirectionInListOrder() {
    const QStringList base{"A^EX1^1^#81^", "B^EX2^5^#85^", "A^^2^#82^",
                           "a^EX9^3^#83^", "A^ex1^4^#84^", "B^EX1^6^#86^"};
    // B is checked first in time, but A comes first in the list.
    Listing l = listChannels(base, {"A", "B"});
    QCOMPARE(l.channels,
             (QVector<QString>{"A -- EX1  1 Ch. --> #81", "A --   2 Ch. --> #82", "A -- ex1  4 Ch. --> #84",
                               "B -- EX2  5 Ch. --> #85", "B -- EX1  6 Ch. --> #86"}));
    // No empty exchange; ex1 and EX1 are one, first appearance kept.
    QCOMPARE(l.exchanges, (QVector<QString>{"EX1", "EX2"}));
    // The lower-case direction's line is listed only under it.
    l = listChannels(base, {"a"});
    QCOMPARE(l.channels, QVector<QString>{"a -- EX9  3 Ch. --> #83"});
    QVERIFY(listChannels(base, {}).channels.isEmpty());
}

void TestTasksLogic::exchangeMarksExactCase() {
    const QVector<QString> channels{"A -- EX1  1 Ch. --> #81", "A --   2 Ch. --> #82",
                                    "A -- ex1  4 Ch. --> #84", "B -- EX12  7 Ch. --> #87",
                                    "B -- EX1  6 Ch. --> #86", "B -- EX 1  8 Ch. --> #88"};
    QCOMPARE(exchangeMarks(channels, {"EX1"}), (QVector<char>{1, 0, 0, 0, 1, 0}));
    QCOMPARE(exchangeMarks(channels, {"ex1", "EX12"}), (QVector<char>{0, 0, 1, 1, 0, 0}));
    // An exchange holding blanks still matches only as a whole.
    QCOMPARE(exchangeMarks(channels, {"EX 1"}), (QVector<char>{0, 0, 0, 0, 0, 1}));
    QCOMPARE(exchangeMarks(channels, {}), QVector<char>(6, 0));
    // Items without "-- " (read from an odd task file) are never marked.
    QCOMPARE(exchangeMarks({"no marker"}, {"no"}), QVector<char>{0});
}

void TestTasksLogic::setTaskFileStatus() {
    QTemporaryDir dir;
    const QString f = dir.filePath("t.tsk");
    testfiles::writeText(f, QStringLiteral("T^По време^7^5^Чакаща^\r\nA -- B  1 Ch. --> #80001\r\n"));
    SetTaskFileStatus(f, QStringLiteral("Забранена"));
    QCOMPARE(testfiles::readText(f),
             QStringLiteral("T^По време^7^5^Забранена^\r\nA -- B  1 Ch. --> #80001\r\n"));

    testfiles::writeText(f, QStringLiteral("T^По време\nX"));
    SetTaskFileStatus(f, QStringLiteral("Забранена"));
    QCOMPARE(testfiles::readText(f), QStringLiteral("T^По време^Забранена^\r\nX\r\n"));

    // Anything after the status field is dropped.
    testfiles::writeText(f, QStringLiteral("T^Веднага^1^2^Стартирана^junk^more\r\n"));
    SetTaskFileStatus(f, QStringLiteral("Чакаща"));
    QCOMPARE(testfiles::readText(f), QStringLiteral("T^Веднага^1^2^Чакаща^\r\n"));

    // An empty file has no header line: an error, and the file stays empty.
    testfiles::writeText(f, QString());
    QVERIFY_THROWS_EXCEPTION(AppError, SetTaskFileStatus(f, QStringLiteral("Чакаща")));
    QCOMPARE(testfiles::readBytes(f), QByteArray());
}

void TestTasksLogic::setTaskFileStatusMissingFile() {
    QTemporaryDir dir;
    try {
        SetTaskFileStatus(dir.filePath("missing.tsk"), QStringLiteral("Чакаща"));
        QFAIL("no error raised");
    } catch (const FileError& e) {
        QVERIFY(e.text().startsWith("Cannot open file"));
        QVERIFY(e.text().contains("missing.tsk"));
    }
    QVERIFY(!QFileInfo::exists(dir.filePath("missing.tsk")));
}

QTEST_GUILESS_MAIN(TestTasksLogic)
#include "test_tasks_logic.moc"
