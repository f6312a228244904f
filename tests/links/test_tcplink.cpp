// The TCP link against a loopback server and the simulator: the checks made before
// connecting and their texts, connect, send, receive, the other side closing.

#include "LinkTestUtil.h"
#include "links/CommLog.h"
#include "links/TcpLink.h"
#include "core/AppError.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <functional>

using namespace linktest;

namespace {
QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const AppError& e) {
        return e.text();
    }
    return QString();
}
} // namespace

class TestTcpLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void checksBeforeConnecting_data() {
        QTest::addColumn<QString>("addr");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("error");
        QTest::newRow("no address") << ""
                                    << "23"
                                    << "Connect: No IP Address Specified";
        QTest::newRow("blank address") << "   "
                                       << "23"
                                       << "Connect: No IP Address Specified";
        QTest::newRow("no port") << "127.0.0.1"
                                 << " "
                                 << "Connect: No Port Specified";
        QTest::newRow("both empty") << ""
                                    << ""
                                    << "Connect: No IP Address Specified";
    }
    void checksBeforeConnecting() {
        QFETCH(QString, addr);
        QFETCH(QString, port);
        QFETCH(QString, error);
        TcpLink link;
        QCOMPARE(errorOf([&] { link.connectTo(addr, port); }), error);
        QCOMPARE(link.state(), TcpLink::wsClosed);
    }

    void unresolvableAddressOrPort() {
        TcpLink link;
        const QString host =
            errorOf([&] { link.connectTo(QStringLiteral(" no.such.host.invalid "), QStringLiteral("23")); });
        QVERIFY2(host.startsWith(QStringLiteral("connect: WSocketResolveHost: Cannot convert host address "
                                                "'no.such.host.invalid', ")),
                 qPrintable(host));
        QVERIFY(host.size() > 80); // the resolver's own message follows
        QCOMPARE(link.state(), TcpLink::wsClosed);
        const QString port =
            errorOf([&] { link.connectTo(QStringLiteral("127.0.0.1"), QStringLiteral("nosuchservice")); });
        QVERIFY2(port.startsWith(
                     QStringLiteral("connect: WSocketResolvePort: Cannot convert port 'nosuchservice', ")),
                 qPrintable(port));
        QVERIFY(port.size() > 70);
        // 2^32 + 23 is no port 23.
        for (const QString& big : {QStringLiteral("99999"), QStringLiteral("4294967319")})
            QVERIFY(errorOf([&] { link.connectTo(QStringLiteral("127.0.0.1"), big); })
                        .startsWith(QStringLiteral("connect: WSocketResolvePort: Cannot convert port '%1', ").arg(big)));
        QCOMPARE(link.state(), TcpLink::wsClosed);
    }

    void connectsSendsReceivesAndSeesThePeerClose() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        TcpLink link;
        QSignalSpy states(&link, &TcpLink::stateChanged);
        link.connectTo(QStringLiteral(" localhost "), QStringLiteral(" %1 ").arg(server.serverPort()));
        QCOMPARE(link.addr(), QStringLiteral("localhost"));
        QCOMPARE(link.port(), QString::number(server.serverPort()));
        QCOMPARE(link.state(), TcpLink::wsConnecting);
        QTRY_COMPARE(link.state(), TcpLink::wsConnected);
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket* peer = server.nextPendingConnection();

        // while not closed: no new address or port, no second connect; the same values are fine
        QCOMPARE(errorOf([&] { link.setAddr(QStringLiteral("10.0.0.1")); }),
                 QStringLiteral("Cannot change Addr if not closed"));
        QCOMPARE(errorOf([&] { link.setPort(QStringLiteral("24")); }),
                 QStringLiteral("Cannot change Port if not closed"));
        QCOMPARE(errorOf([&] { link.setAddr(QStringLiteral("localhost")); }), QString());
        QCOMPARE(errorOf([&] { link.connectTo(link.addr(), link.port()); }),
                 QStringLiteral("Connect: Socket already in use"));
        QCOMPARE(link.state(), TcpLink::wsConnected);

        link.sendString("atdt#80012\r");
        link.sendString("");
        QTRY_COMPARE(peer->bytesAvailable(), qint64(11));
        QCOMPARE(peer->readAll(), QByteArray("atdt#80012\r"));

        CommLog log;
        connect(&link, &TcpLink::dataReceived, this, [&](const QByteArray& d) { log.append(d); });
        peer->write(QByteArray("\r\nCONN\0ECT 2400\r\n", 17));
        QTRY_COMPARE(log.commLineIndex(), 2);
        QCOMPARE(log.line(1), QStringLiteral("CONNECT 2400")); // NUL dropped

        // the peer sends its last words and closes: they arrive before the link is closed
        peer->write("\r\nNO CARRIER\r\n");
        peer->disconnectFromHost();
        QTRY_COMPARE(link.state(), TcpLink::wsClosed);
        QCOMPARE(log.commLineIndex(), 4);
        QCOMPARE(log.line(3), QStringLiteral("NO CARRIER"));
        QVERIFY(states.size() >= 3);

        // closed again: the address may change, and a send is dropped
        link.sendString("x");
        QCOMPARE(errorOf([&] { link.setAddr(QStringLiteral("127.0.0.1")); }), QString());
        link.close();
        QCOMPARE(link.state(), TcpLink::wsClosed);
    }

    void aRefusedConnectionReturnsToClosedQuietly() {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close(); // nobody listens there now
        TcpLink link;
        link.connectTo(QStringLiteral("127.0.0.1"), QString::number(port));
        QCOMPARE(link.state(), TcpLink::wsConnecting);
        QTRY_COMPARE(link.state(), TcpLink::wsClosed);
        // a service name resolves like a number
        QCOMPARE(errorOf([&] { link.connectTo(QStringLiteral("127.0.0.1"), QStringLiteral("telnet")); }),
                 QString());
        QCOMPARE(link.port(), QStringLiteral("telnet"));
        link.close();
        QCOMPARE(link.state(), TcpLink::wsClosed);
    }

    void closeDropsTheConnectionAndAllowsANewOne() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        TcpLink link;
        link.connectTo(QStringLiteral("127.0.0.1"), QString::number(server.serverPort()));
        QTRY_COMPARE(link.state(), TcpLink::wsConnected);
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket* peer = server.nextPendingConnection();
        link.close();
        QCOMPARE(link.state(), TcpLink::wsClosed);
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
        link.connectTo(QStringLiteral("127.0.0.1"), QString::number(server.serverPort()));
        QTRY_COMPARE(link.state(), TcpLink::wsConnected);
    }

    void dialsTheSimulator() {
        Sim sim;
        QVERIFY(sim.start({QStringLiteral("--answer"), QStringLiteral("#80002 CONNECT 2400 200")}));
        TcpLink link;
        CommLog log;
        connect(&link, &TcpLink::dataReceived, this, [&](const QByteArray& d) { log.append(d); });
        link.connectTo(QStringLiteral("127.0.0.1"), QString::number(sim.port));
        QTRY_COMPARE(link.state(), TcpLink::wsConnected);
        link.sendString("atdt#80002\r");
        QTRY_COMPARE(log.commLineIndex(), 2);
        QCOMPARE(log.line(0), QStringLiteral("atdt#80002"));
        QCOMPARE(log.line(1), QStringLiteral("CONNECT 2400"));
        link.sendString("+++ath0\r");
        QTRY_COMPARE(log.commLineIndex(), 4);
        QCOMPARE(log.line(3), QStringLiteral("OK"));
        // the simulator going away closes the link
        sim.stop();
        QTRY_COMPARE(link.state(), TcpLink::wsClosed);
    }
};

QTEST_GUILESS_MAIN(TestTcpLink)
#include "test_tcplink.moc"
