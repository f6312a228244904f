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
    void severalServers();
    void badAddressLists_data();
    void badAddressLists();
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

namespace {
QStringList namesOf(const QList<TcpPorts::Endpoint>& list) {
    QStringList out;
    for (const TcpPorts::Endpoint& e : list)
        out.append(e.name);
    return out;
}
} // namespace

void TestTcpPorts::severalServers() {
    // One address: as typed, named by port alone.
    const QList<TcpPorts::Endpoint> one = TcpPorts::endpoints(QStringLiteral(" 10.0.0.5 "), QStringLiteral("2001-2002"));
    QCOMPARE(namesOf(one), (QStringList{QStringLiteral("2001"), QStringLiteral("2002")}));
    QCOMPARE(one[0].address, QStringLiteral(" 10.0.0.5 "));
    QCOMPARE(namesOf(TcpPorts::endpoints(QStringLiteral("10.0.0.5:3001"), QString())), QStringList{QStringLiteral("3001")});
    // Several: each address's ports in the order written, its own or the field's.
    const QList<TcpPorts::Endpoint> bank =
        TcpPorts::endpoints(QStringLiteral("10.0.0.5, 10.0.0.6 : 4001 - 4002 host-b"), QStringLiteral("2001-2002"));
    QCOMPARE(namesOf(bank), (QStringList{QStringLiteral("10.0.0.5:2001"), QStringLiteral("10.0.0.5:2002"),
                                         QStringLiteral("10.0.0.6:4001"), QStringLiteral("10.0.0.6:4002"),
                                         QStringLiteral("host-b:2001"), QStringLiteral("host-b:2002")}));
    QCOMPARE(bank[2].address, QStringLiteral("10.0.0.6"));
    QCOMPARE(bank[2].port, QStringLiteral("4001"));
    // 128 lines in all, though a range keeps its 32.
    QCOMPARE(TcpPorts::endpoints(QStringLiteral("a b c d"), QStringLiteral("2001-2032")).size(), 128);
}

void TestTcpPorts::badAddressLists_data() {
    QTest::addColumn<QString>("addresses");
    QTest::addColumn<QString>("ports");
    QTest::addColumn<QString>("says");
    QTest::newRow("160 lines") << "a b c d e" << "2001-2032" << "С адреса „e“ модемите в IP Адрес стават 160; една банка има най-много 128";
    QTest::newRow("no ports") << "10.0.0.5, 10.0.0.6" << "" << "Адресът „10.0.0.5“ в IP Адрес няма портове";
    QTest::newRow("colon, no ports") << "10.0.0.5 10.0.0.6:" << "2001" << "„10.0.0.6:“ в IP Адрес няма портове след двоеточието";
    QTest::newRow("no address") << "10.0.0.5, :2001" << "2001" << "„:2001“ в IP Адрес няма адрес";
    QTest::newRow("bad range") << "10.0.0.5 10.0.0.6:4008-4001" << "2001" << "Адресът „10.0.0.6:4008-4001“ в IP Адрес: Обхватът на TCP портовете 4008-4001 е обърнат";
    QTest::newRow("twice") << "10.0.0.5 10.0.0.5:2002" << "2001-2002" << "10.0.0.5:2002 е посочен в IP Адрес повече от веднъж";
}

void TestTcpPorts::badAddressLists() {
    QFETCH(QString, addresses);
    QFETCH(QString, ports);
    QFETCH(QString, says);
    try {
        TcpPorts::endpoints(addresses, ports);
        QFAIL("accepted");
    } catch (const AppError& e) {
        QVERIFY2(e.text().contains(says), qPrintable(e.text()));
    }
}

QTEST_GUILESS_MAIN(TestTcpPorts)
#include "test_tcpports.moc"
