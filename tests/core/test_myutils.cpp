// Field lines, the text helpers, the Windows-1251 codec and the file layer.
#include "mock/TestFiles.h"
#include "core/AppError.h"
#include "core/Cp1251.h"
#include "core/MyUtils.h"
#include "core/TextFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

class TestMyUtils : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void extractField_data();
    void extractField();
    void extractFieldRange();
    void cutFields();
    void padding();
    void keepDigits();
    void strToInt();
    void codecMatchesIcu();
    void codecRoundTripsEveryByte();
    void readLinesEndings();
    void writeLinesCrLfAndAtomic();
    void writeFailureKeepsOldFile();
    void processCount();
};

void TestMyUtils::extractField_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    QTest::newRow("A^B^^D 0") << "A^B^^D" << 0 << "A";
    QTest::newRow("A^B^^D 1") << "A^B^^D" << 1 << "B";
    QTest::newRow("A^B^^D 2") << "A^B^^D" << 2 << "";
    QTest::newRow("A^B^^D 3") << "A^B^^D" << 3 << "D";
    QTest::newRow("A^B^^D 4") << "A^B^^D" << 4 << "";
    QTest::newRow("no caret 0") << "whole" << 0 << "whole";
    QTest::newRow("no caret 1") << "whole" << 1 << "";
    QTest::newRow("closed last") << "n^t^h^m^s^" << 4 << "s";
    QTest::newRow("after closing caret") << "n^t^h^m^s^" << 5 << "";
    QTest::newRow("empty") << "" << 0 << "";
    QTest::newRow("cyrillic") << QStringLiteral("Север^Уредба^") << 1 << QStringLiteral("Уредба");
}

void TestMyUtils::extractField() {
    QFETCH(QString, line);
    QFETCH(int, index);
    QFETCH(QString, expected);
    QCOMPARE(ExtractField(line, index, index + 1), expected);
}

void TestMyUtils::extractFieldRange() {
    QCOMPARE(ExtractFieldRange("n^t^h^m^s^", 0, 4), QStringLiteral("n^t^h^m"));
    QCOMPARE(ExtractFieldRange("n^t", 0, 4), QStringLiteral("n^t"));
    QCOMPARE(ExtractFieldRange("a^b", 0, 4), QStringLiteral("a^b"));
    QCOMPARE(ExtractFieldRange("a^b^c^d^e^f", 1, 3), QStringLiteral("b^c"));
    QCOMPARE(ExtractFieldRange("", 0, 4), QString());
    QCOMPARE(ExtractFieldRange("^^^^^", 0, 4), QStringLiteral("^^^"));
}

void TestMyUtils::cutFields() {
    QCOMPARE(CutFields("COM1^10.0.0.5^", 2, 1, u'^'), QStringLiteral("10.0.0.5"));
    QCOMPARE(CutFields("COM1^", 1, 1, u'^'), QStringLiteral("COM1"));
    QCOMPARE(CutFields("COM1^", 2, 1, u'^'), QString());
    QCOMPARE(CutFields("^", 1, 1, u'^'), QString());
    QCOMPARE(CutFields("a^b^c^", 1, 2, u'^'), QStringLiteral("a^b"));
    QCOMPARE(CutFields("9600^^", 2, 1, u'^'), QString());
    QCOMPARE(CutFields("", 1, 1, u'^'), QString());
    // A last field not closed by a separator loses its last character (kept as designed).
    QCOMPARE(CutFields("COM1^abc", 2, 1, u'^'), QStringLiteral("ab"));
}

void TestMyUtils::padding() {
    QCOMPARE(PadTo2("7"), QStringLiteral("07"));
    QCOMPARE(PadTo2(""), QString());
    QCOMPARE(PadTo2("12"), QStringLiteral("12"));
    QCOMPARE(PadTo2("123"), QStringLiteral("123"));
    QCOMPARE(PadTo4("12"), QStringLiteral("0012"));
    QCOMPARE(PadTo4(""), QStringLiteral("0000"));
    QCOMPARE(PadTo4("5"), QStringLiteral("0005"));
    QCOMPARE(PadTo4("1234"), QStringLiteral("1234"));
    QCOMPARE(PadTo4("12345"), QStringLiteral("12345"));
}

void TestMyUtils::keepDigits() {
    QCOMPARE(KeepDigits("12-a3/4"), QStringLiteral("1234"));
    QCOMPARE(KeepDigits(QStringLiteral("К-л 07")), QStringLiteral("07"));
    QCOMPARE(KeepDigits(""), QString());
    QCOMPARE(KeepDigits(QStringLiteral("٣x")), QString()); // only the ASCII digits count
    // Only the first 255 characters are examined.
    QCOMPARE(KeepDigits(QString(255, u'a') + "9"), QString());
    QCOMPARE(KeepDigits(QString(254, u'a') + "9"), QStringLiteral("9"));
}

void TestMyUtils::strToInt() {
    QCOMPARE(StrToInt("20"), 20);
    QCOMPARE(StrToInt(" 7 "), 7);
    QCOMPARE(StrToInt("-3"), -3);
    int v = 0;
    QVERIFY(!TryStrToInt("", v));
    QVERIFY(!TryStrToInt("2x", v));
    QVERIFY(!TryStrToInt("1.5", v));
    QVERIFY(!TryStrToInt("99999999999", v));
    try {
        StrToInt("abc");
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QCOMPARE(e.text(), QStringLiteral("'abc' is not a valid integer value"));
    }
}

void TestMyUtils::codecMatchesIcu() {
    QStringDecoder icu("windows-1251");
    QVERIFY(icu.isValid());
    for (int b = 0; b < 256; ++b) {
        if (b == 0x98)
            continue; // undefined in the code page
        const QByteArray one(1, char(b));
        QCOMPARE(Cp1251::decode(one), QString(icu(one)));
    }
}

void TestMyUtils::codecRoundTripsEveryByte() {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    QCOMPARE(Cp1251::encode(Cp1251::decode(all)), all);
    QCOMPARE(Cp1251::encode(QStringLiteral("Ωx")), QByteArray("?x"));
    QCOMPARE(Cp1251::encode(QStringLiteral("Задачи")), QByteArray("\xC7\xE0\xE4\xE0\xF7\xE8"));
}

void TestMyUtils::readLinesEndings() {
    QCOMPARE(TextFile::splitLines("a\r\nb\r\n"), QStringList({"a", "b"}));
    QCOMPARE(TextFile::splitLines("a\nb"), QStringList({"a", "b"}));
    QCOMPARE(TextFile::splitLines("a\r\n\r\nb"), QStringList({"a", "", "b"}));
    QCOMPARE(TextFile::splitLines(""), QStringList());
    QCOMPARE(TextFile::splitLines("\r\n"), QStringList({""}));
    QCOMPARE(TextFile::splitLines("a\rb\n"), QStringList({"a\rb"})); // a lone CR ends no line
    QCOMPARE(TextFile::splitLines("\xC0\xE1"), QStringList({QStringLiteral("Аб")}));
    QTemporaryDir dir;
    try {
        TextFile::readLines(dir.filePath("none.dat"));
        QFAIL("no error raised");
    } catch (const FileError& e) {
        QVERIFY(e.text().startsWith("Cannot open file"));
    }
}

void TestMyUtils::writeLinesCrLfAndAtomic() {
    QTemporaryDir dir;
    const QString f = dir.filePath("x.dat");
    TextFile::writeLines(f, {QStringLiteral("Север^"), QString(), "z"});
    QCOMPARE(testfiles::readBytes(f), QByteArray("\xD1\xE5\xE2\xE5\xF0^\r\n\r\nz\r\n"));
    TextFile::writeLines(f, {});
    QCOMPARE(testfiles::readBytes(f), QByteArray());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"x.dat"})); // no temporary left
}

void TestMyUtils::writeFailureKeepsOldFile() {
    QTemporaryDir dir;
    // A folder where the file should be: it cannot be replaced.
    const QString f = dir.filePath("blocked.dat");
    QVERIFY(QDir().mkdir(f));
    try {
        TextFile::writeLines(f, {"a"});
        QFAIL("no error raised");
    } catch (const FileError& e) {
        QVERIFY(e.text().startsWith("Cannot create file"));
        QVERIFY(e.text().contains("blocked.dat"));
    }
    // A folder that does not exist.
    QVERIFY_THROWS_EXCEPTION(FileError, TextFile::writeLines(dir.filePath("no/such/x.dat"), {"a"}));

    // A full disk, small and large writes (the last bytes of a buffered write used to fail only
    // in the commit, which then put a truncated file in place of the old one).
    const QString full = dir.filePath("full.dat");
    testfiles::writeBytes(full, "old\r\n");
    for (int lines : {10, 5000}) {
        for (bool durable : {false, true}) {
            testfiles::FileSizeLimit limit(4000);
            QStringList many;
            for (int i = 0; i < lines; ++i)
                many.append(QStringLiteral("line %1 of a file larger than the disk has room for").arg(i));
            if (lines == 10) {
                TextFile::writeBytes(full, TextFile::joinLines(many), durable); // fits
                QCOMPARE(testfiles::readBytes(full), TextFile::joinLines(many));
                testfiles::writeBytes(full, "old\r\n");
                continue;
            }
            try {
                TextFile::writeBytes(full, TextFile::joinLines(many), durable);
                QFAIL("no error raised");
            } catch (const FileError& e) {
                QVERIFY2(e.text().startsWith("Cannot create file") && e.text().contains("full.dat"),
                         qPrintable(e.text()));
            }
            QCOMPARE(testfiles::readBytes(full), QByteArray("old\r\n"));
        }
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"full.dat"})); // no temporary left
}

void TestMyUtils::processCount() {
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QCOMPARE(CountProcessesNamed(self), 1);
    QVERIFY(!IsSecondInstance());
}

QTEST_GUILESS_MAIN(TestMyUtils)
#include "test_myutils.moc"
