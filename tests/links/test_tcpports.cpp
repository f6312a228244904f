// The text of "TCP Порт": one port as typed, or a range of consecutive ports for a bank.
#include "links/TcpPorts.h"
#include "core/AppError.h"

#include <QTest>

class TestTcpPorts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rangesAndSinglePorts();
    void badRanges_data();
    void badRanges();
};

void TestTcpPorts::rangesAndSinglePorts() {
    QCOMPARE(TcpPorts::parse(QStringLiteral("2001-2004")),
             (QStringList{QStringLiteral("2001"), QStringLiteral("2002"), QStringLiteral("2003"),
                          QStringLiteral("2004")}));
    QCOMPARE(TcpPorts::parse(QStringLiteral("65504-65535")).size(), 32);
    QCOMPARE(TcpPorts::parse(QStringLiteral(" 2001-2001 ")), QStringList{QStringLiteral("2001")});
    // Blanks and the dash a word processor types are a range too.
    for (const QString& range : {QStringLiteral("2001 - 2003"), QStringLiteral("2001–2003"), QStringLiteral("2001 — 2003")})
        QCOMPARE(TcpPorts::parse(range), (QStringList{QStringLiteral("2001"), QStringLiteral("2002"), QStringLiteral("2003")}));
    // One port, exactly as typed: a number, a known service name, or nothing (the link tells).
    for (const QString& one : {QStringLiteral("2001"), QStringLiteral(" 2001 "), QStringLiteral("telnet"), QString()})
        QCOMPARE(TcpPorts::parse(one), QStringList{one});
}

void TestTcpPorts::badRanges_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("says");
    QTest::newRow("reversed") << "2004-2001" << "обърнат";
    QTest::newRow("33 ports") << "2001-2033" << "най-много 32";
    QTest::newRow("past 65535") << "65530-65536" << "от 1 до 65535";
    QTest::newRow("huge") << "1-99999999999999999999999" << "от 1 до 65535";
    QTest::newRow("port 0") << "0-3" << "от 1 до 65535";
    QTest::newRow("one past 65535") << "65536" << "от 1 до 65535";
    QTest::newRow("2^32 + 23") << "4294967319" << "от 1 до 65535";
    QTest::newRow("open end") << "2001-" << "нито порт, нито обхват";
    QTest::newRow("open start") << "-2001" << "нито порт, нито обхват";
    QTest::newRow("unknown service") << "modem-bank" << "нито порт, нито обхват";
}

void TestTcpPorts::badRanges() {
    QFETCH(QString, text);
    QFETCH(QString, says);
    try {
        TcpPorts::parse(text);
        QFAIL("accepted");
    } catch (const AppError& e) {
        QVERIFY2(e.text().contains(text) && e.text().contains(says), qPrintable(e.text()));
    }
}

QTEST_GUILESS_MAIN(TestTcpPorts)
#include "test_tcpports.moc"
