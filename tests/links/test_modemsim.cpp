// The modem simulator's dialogue over TCP: echo, result framing, the answer table, X levels,
// data mode and the escape, a new client after the previous one left, fault answers.

#include "LinkTestUtil.h"

#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTest>

using namespace linktest;

namespace {
template <size_t N> QByteArray bytes(const char (&s)[N]) {
    return QByteArray(s, N - 1);
} // NULs included

class Client {
public:
    explicit Client(quint16 port) {
        sock.connectToHost(QHostAddress::LocalHost, port);
        sock.waitForConnected(5000);
    }
    void send(const QByteArray& b) {
        got.clear();
        sock.write(b);
    }
    QByteArray received() {
        got += sock.readAll();
        return got;
    }
    QTcpSocket sock;
    QByteArray got;
};
} // namespace

class TestModemSim : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        table.setFileTemplate(QDir::tempPath() + QStringLiteral("/simtableXXXXXX.txt"));
        QVERIFY(table.open());
        table.write("# test table\n"
                    "#80001 BUSY 300\n"
                    "#80002 CONNECT 2400 150\n"
                    "#80003 SILENT\n"
                    "#80004 \\x00BU\\x10SY\\x03 0\n"
                    "#80005 HANGUP 50\n"
                    "#80006 FLOOD 0\n");
        table.close();
        QVERIFY(sim.start({QStringLiteral("--table"), table.fileName(), QStringLiteral("--default"),
                           QStringLiteral("NO ANSWER 100"), QStringLiteral("--flood-bytes"),
                           QStringLiteral("20000"), QStringLiteral("--guard"), QStringLiteral("200")}));
        QVERIFY(sim.port != 0);
    }

    void echoAndOkFraming() {
        Client c(sim.port);
        QVERIFY(c.sock.state() == QAbstractSocket::ConnectedState);
        c.send("a");
        QTRY_COMPARE(c.received(), QByteArray("a")); // echoed as it arrives, before the CR
        c.send("t\r");
        QTRY_COMPARE(c.received(), QByteArray("t\r\r\nOK\r\n"));
        c.send("ATE0\r");
        QTRY_COMPARE(c.received(), QByteArray("ATE0\r\r\nOK\r\n"));
        c.send("at\r");
        QTRY_COMPARE(c.received(), QByteArray("\r\nOK\r\n"));
        c.send("atv0e1\r");
        QTRY_COMPARE(c.received(), QByteArray("0\r"));
        c.send("atv1\r");
        QTRY_COMPARE(c.received(), QByteArray("atv1\r\r\nOK\r\n"));
        c.send("atq?\r");
        QTRY_COMPARE(c.received(), QByteArray("atq?\r\r\nERROR\r\n"));
        c.send("noise\rat\r");
        QTRY_COMPARE(c.received(), QByteArray("noise\rat\r\r\nOK\r\n")); // a line without AT is ignored
        c.send("atx3w2&d0e1m0 s0=1 s7=70 s11=55 s95=0\r");
        QTRY_VERIFY(c.received().endsWith("\r\nOK\r\n"));
        c.send("at+MS=v34,1,2400,12000\r");
        QTRY_VERIFY(c.received().endsWith("\r\nOK\r\n"));
    }

    void dialsFromTheTableWithXLevels() {
        Client c(sim.port);
        c.send("atdt#80001\r");
        QTRY_COMPARE(c.received(), QByteArray("atdt#80001\r\r\nBUSY\r\n")); // X4 by default
        c.send("atx2\r");
        QTRY_VERIFY(c.received().endsWith("OK\r\n"));
        c.send("atdt#80001\r");
        QTRY_COMPARE(c.received(), QByteArray("atdt#80001\r\r\nNO CARRIER\r\n"));
        c.send("atx0dt#80001\r");
        QTRY_COMPARE(c.received(), QByteArray("atx0dt#80001\r\r\nNO CARRIER\r\n"));
        c.send("atx3\r");
        QTRY_VERIFY(c.received().endsWith("OK\r\n"));
        c.send("atdt#80001\r");
        QTRY_COMPARE(c.received(), QByteArray("atdt#80001\r\r\nBUSY\r\n"));
        c.send("atdt12345\r");
        QTRY_COMPARE(c.received(), QByteArray("atdt12345\r\r\nNO ANSWER\r\n")); // the default answer
        c.send("atdt#80004\r");
        QTRY_COMPARE(c.received(), bytes("atdt#80004\r\r\n\0BU\x10SY\x03\r\n"));
    }

    void answerDelayIsKept() {
        Client c(sim.port);
        QElapsedTimer t;
        t.start();
        c.send("atdt#80001\r");
        QTRY_VERIFY(c.received().endsWith("BUSY\r\n"));
        QVERIFY(t.elapsed() >= 300);
    }

    void silenceUntilAKeyAborts() {
        Client c(sim.port);
        c.send("atdt#80003\r");
        QTRY_COMPARE(c.received(), QByteArray("atdt#80003\r"));
        c.send("x");
        QTRY_COMPARE(c.received(), QByteArray("\r\nNO CARRIER\r\n"));
    }

    void dataModeAndTheEscape() {
        Client c(sim.port);
        c.send("atdt#80002\r");
        QTRY_COMPARE(c.received(), QByteArray("atdt#80002\r\r\nCONNECT 2400\r\n"));
        c.send("hello+++ath0\r"); // no echo in data mode; the escape without guard time
        QTRY_COMPARE(c.received(), QByteArray("ath0\r\r\nOK\r\n"));
        c.send("at\r"); // command mode again
        QTRY_COMPARE(c.received(), QByteArray("at\r\r\nOK\r\n"));
        // the classic escape: "+++", the guard time, OK; the call is still up until ATH0
        c.send("atdt#80002\r");
        QTRY_VERIFY(c.received().endsWith("CONNECT 2400\r\n"));
        c.send("+++");
        QTRY_COMPARE(c.received(), QByteArray("\r\nOK\r\n"));
        c.send("ath0\r");
        QTRY_COMPARE(c.received(), QByteArray("ath0\r\r\nOK\r\n"));
        c.send("ath0\r"); // no call: still OK
        QTRY_COMPARE(c.received(), QByteArray("ath0\r\r\nOK\r\n"));
    }

    void hangupDropsTheClientAndANewOneIsServed() {
        {
            Client c(sim.port);
            c.send("ate0\r");
            QTRY_VERIFY(c.received().endsWith("OK\r\n"));
            c.send("atdt#80005\r");
            QTRY_COMPARE(c.sock.state(), QAbstractSocket::UnconnectedState);
        }
        Client next(sim.port);
        next.send("at\r");
        QTRY_COMPARE(next.received(), QByteArray("at\r\r\nOK\r\n")); // a fresh modem: echo back on
    }

    void aNewClientPushesTheOldOneOut() {
        Client first(sim.port);
        first.send("at\r");
        QTRY_VERIFY(first.received().endsWith("OK\r\n"));
        Client second(sim.port);
        QTRY_COMPARE(first.sock.state(), QAbstractSocket::UnconnectedState);
        second.send("at\r");
        QTRY_COMPARE(second.received(), QByteArray("at\r\r\nOK\r\n"));
    }

    void flood() {
        Client c(sim.port);
        c.send("atdt#80006\r");
        QTRY_VERIFY(c.received().endsWith("\r\nNO CARRIER\r\n"));
        QVERIFY(c.received().size() >= 20000);
        QVERIFY(c.received().count("\r\nFLOOD ") >= 400);
    }

    void tricklesBytesAndStartsWithoutEcho() {
        Sim s;
        QVERIFY(s.start({QStringLiteral("--char-delay"), QStringLiteral("5"), QStringLiteral("--no-echo"),
                         QStringLiteral("--default"), QStringLiteral("BUSY")}));
        Client c(s.port);
        int arrivals = 0;
        connect(&c.sock, &QTcpSocket::readyRead, this, [&] { ++arrivals; });
        c.send("atdt5\r");
        QTRY_COMPARE(c.received(), QByteArray("\r\nBUSY\r\n"));
        QVERIFY(arrivals > 1); // split into several pieces
    }

    void stopsOnSigterm() {
        Sim s;
        QVERIFY(s.start({QStringLiteral("--port"), QStringLiteral("0")}));
        s.proc.terminate();
        QVERIFY(s.proc.waitForFinished(5000));
        QCOMPARE(s.proc.exitStatus(), QProcess::NormalExit);
        QCOMPARE(s.proc.exitCode(), 0);
    }

private:
    QTemporaryFile table;
    Sim sim;
};

QTEST_GUILESS_MAIN(TestModemSim)
#include "test_modemsim.moc"
