// End to end: the real program runs an immediate task through a bank of four simulated modems
// over TCP, one of which refuses connections and one closes after its first answer; every
// channel is recorded once, and the month file reads back whole.
#include "mock/RealProgram.h"
#include "mock/TestFiles.h"
#include "core/Cp1251.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using realprogram::binaryDir;
using realprogram::monthFile;

class TestBankE2E : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bankWithARefusingAndAClosingModem();
};

void TestBankE2E::bankWithARefusingAndAClosingModem() {
    QTemporaryDir dir;
    const QString bin = dir.filePath("bin"), work = dir.filePath("work");
    QDir().mkpath(bin);
    QDir().mkpath(work);
    const QString exe = bin + QStringLiteral("/chantest-bank-%1").arg(QCoreApplication::applicationPid());
    QVERIFY(QFile::copy(binaryDir() + "/chantest", exe));

    QStringList channels;
    QStringList args{QStringLiteral("--modems"), QStringLiteral("4"), QStringLiteral("--refusing-modem"),
                     QStringLiteral("2"), QStringLiteral("--closing-modem"), QStringLiteral("4")};
    for (int i = 1; i <= 10; ++i) {
        const QString number = QStringLiteral("#800%1").arg(i, 2, 10, QLatin1Char('0'));
        const QString answer = i == 3 ? QStringLiteral("CONNECT 2400 200")
                                      : i % 2 ? QStringLiteral("BUSY 300") : QStringLiteral("NO CARRIER 500");
        channels.append(QStringLiteral("Русе -- Север  %1 Ch. --> ").arg(i) + number);
        args << QStringLiteral("--answer") << number + u' ' + answer;
    }
    QProcess sim, program;
    const QString first = realprogram::startSim(sim, args);
    QVERIFY(!first.isEmpty());
    const QString range = first + u'-' + QString::number(first.toInt() + 3);
    testfiles::writeText(work + "/KanvoAlt.ini", QStringLiteral("^127.0.0.1^\r\n9600^") + range +
                                                     QStringLiteral("^\r\nati\r\nat\r\n1\r\n2\r\n"));
    testfiles::writeText(work + "/bank.tsk",
                         QStringLiteral("Банка^Веднага^0^0^Чакаща^\r\n") + channels.join("\r\n") + "\r\n");
    QVERIFY(realprogram::startOffscreen(program, exe, work));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(work + "/bank.tsk"), 120000);
    const QString month = bin + "/Results/" + monthFile();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(month), 5000);
    QVERIFY(!QFile::exists(bin + "/Results/" + monthFile().replace(".tst", ".jrn")));
    realprogram::stop(program);
    realprogram::stop(sim);

    const QByteArray bytes = testfiles::readBytes(month);
    QVERIFY(bytes.endsWith("\r\n"));
    const QStringList lines = Cp1251::decode(bytes.chopped(2)).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), channels.size());
    QSet<QString> keys;
    for (const QString& line : lines) {
        const QStringList f = line.split(u'^');
        QCOMPARE(f.size(), 5); // one test each
        QVERIFY2(QRegularExpression(QStringLiteral("^(BUSY|NO CARRIER|CONNECT 2400)$")).match(f[1]).hasMatch(),
                 qPrintable(line));
        QVERIFY2(f[2].toInt() > 0 && f[2].toInt() % 20 == 0 && f[2].toInt() < 2000, qPrintable(line));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{10}$")).match(f[3]).hasMatch());
        keys.insert(f[0]);
    }
    QCOMPARE(keys, QSet<QString>(channels.begin(), channels.end()));
}

QTEST_GUILESS_MAIN(TestBankE2E)
#include "test_bank_e2e.moc"
