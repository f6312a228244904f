// The serial link against real pseudo-terminals: modem-control lines refused, clusters, NUL
// stripping, sending, renaming, exclusive use and the device vanishing.

#include "LinkTestUtil.h"
#include "links/CommLog.h"
#include "core/AppError.h"
#include "links/ModemLine.h"
#include "links/SerialLink.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>

using namespace linktest;

namespace {
// Opens the link on `port` at `baud`, as a run start does.
void openAt(SerialLink& link, const QString& port, int baud) {
    link.setPortName(port);
    link.setBaudRate(baud);
    link.setActive(true);
}
} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void charTimeFollowsTheSpeedTable() {
        QCOMPARE(SerialLink::charTimeUs(50), 1100);
        QCOMPARE(SerialLink::charTimeUs(110), 100000);
        QCOMPARE(SerialLink::charTimeUs(1200), 9000);
        QCOMPARE(SerialLink::charTimeUs(2000), 9000);
        QCOMPARE(SerialLink::charTimeUs(9600), 1100);
        QCOMPARE(SerialLink::charTimeUs(38400), 290);
        QCOMPARE(SerialLink::charTimeUs(115200), 95);
        QCOMPARE(SerialLink::charTimeUs(1000000), 43);
    }

    void aMissingPortStaysClosedQuietly() {
        SerialLink link;
        QCOMPARE(link.portName(), QStringLiteral("COM2"));
        link.setPortName(QStringLiteral("/nonexistent/ttyX"));
        link.setActive(true);
        QVERIFY(!link.isActive());
        link.sendString("at\r"); // dropped, no crash
        QVERIFY2(link.openError().contains(QStringLiteral("No such file")), qPrintable(link.openError()));
        // The run's line says so at its start, naming the port and the system's reason.
        SerialLine line(QStringLiteral("/nonexistent/ttyX"), 9600, nullptr, 10);
        try {
            line.open();
            QFAIL("a port that does not exist opened");
        } catch (const AppError& e) {
            QCOMPARE(e.text(), QStringLiteral("Серийният порт /nonexistent/ttyX не може да се отвори: ") +
                                   link.openError() + u'.');
        }
    }

    void opensOnAPtyThatRefusesModemLinesAndClustersABurst() {
        PtyPair pty;
        QVERIFY(pty.start());
        SerialLink link;
        openAt(link, pty.a(), 115200);
        QVERIFY(link.isActive());
        RawEnd peer(pty.b());
        QVERIFY(peer.fd >= 0);
        QSignalSpy clusters(&link, &SerialLink::clusterReceived);

        QElapsedTimer t;
        t.start();
        QVERIFY(peer.write("atdt#80012\r\r\nBUSY\r\n"));
        QTRY_COMPARE(clusters.size(), 1);
        const qint64 ms = t.elapsed();
        QVERIFY2(ms >= SerialLink::kExtraDelayMs, qPrintable(QString::number(ms)));
        QCOMPARE(clusters[0][0].toByteArray(), QByteArray("atdt#80012\r\r\nBUSY\r\n"));

        // NUL bytes are stripped by the link
        QVERIFY(peer.write(QByteArray("O\0K\0\r\n", 6)));
        QTRY_COMPARE(clusters.size(), 2);
        QCOMPARE(clusters[1][0].toByteArray(), QByteArray("OK\r\n"));

        // more than a cluster at once: a piece of exactly the cluster size, then the rest
        QByteArray big;
        for (int i = 0; big.size() < 5000; ++i)
            big += "line " + QByteArray::number(i) + "\r\n";
        big.truncate(5000);
        QVERIFY(peer.write(big));
        QTRY_COMPARE(clusters.size(), 4);
        QCOMPARE(clusters[2][0].toByteArray().size(), SerialLink::kClusterSize);
        QCOMPARE(clusters[2][0].toByteArray() + clusters[3][0].toByteArray(), big);

        // sending
        link.sendString("atdt#80001\r");
        QTRY_COMPARE(peer.read(), QByteArray("atdt#80001\r"));
        link.sendString("");
        link.sendString("+++ath0\r");
        QTRY_COMPARE(peer.read(), QByteArray("atdt#80001\r+++ath0\r"));

        // closing discards bytes not yet handed over; setting the same state twice is harmless
        QVERIFY(peer.write("pend"));
        QTRY_COMPARE(link.pendingBytes(), qsizetype(4));
        link.setActive(false);
        link.setActive(false);
        QVERIFY(!link.isActive());
        QCOMPARE(link.pendingBytes(), qsizetype(0));
        link.setActive(true);
        link.setActive(true);
        QVERIFY(link.isActive());
        QVERIFY(peer.write("next\r\n"));
        QTRY_COMPARE(clusters.size(), 5);
        QCOMPARE(clusters[4][0].toByteArray(), QByteArray("next\r\n"));
    }

    void aWriteInProgressDiscardsTheNextAndIsAbandonedInTime() {
        // A pseudo-terminal whose master end nobody reads: once its buffer is full, writes wait.
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(master >= 0);
        QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
        const QString slave = QString::fromLocal8Bit(ptsname(master));
        RawEnd filler(slave);
        QVERIFY(filler.fd >= 0);
        SerialLink link;
        openAt(link, slave, 9600); // "abc" has 3 x 1.1 + 250 ms
        QVERIFY(link.isActive());
        const QByteArray block(1024, 'f');
        while (filler.write(block)) {
        }
        link.sendString("abc"); // cannot leave: in progress
        QVERIFY(link.writeInProgress());
        link.sendString("def"); // discarded
        QElapsedTimer t;
        t.start();
        QTRY_VERIFY(!link.writeInProgress()); // abandoned once its time is over
        QVERIFY(t.elapsed() >= 250);
        QByteArray seen;
        auto drain = [&] {
            char buf[4096];
            ssize_t n;
            while ((n = ::read(master, buf, sizeof buf)) > 0)
                seen.append(buf, n);
        };
        drain();
        link.sendString("ghi");
        QTRY_VERIFY((drain(), seen.endsWith("ghi")));
        QVERIFY(!seen.contains("abc"));
        QVERIFY(!seen.contains("def"));
        ::close(master);
    }

    void renamingAnOpenPortOpensTheNamedOne() {
        PtyPair pty;
        QVERIFY(pty.start());
        SerialLink link;
        link.setBaudRate(38400);
        link.setPortName(pty.a());
        link.setActive(true);
        QVERIFY(link.isActive());
        // a second link cannot have the port while the first holds it
        SerialLink other;
        other.setPortName(pty.a());
        other.setActive(true);
        QVERIFY(!other.isActive());

        link.setPortName(pty.b());
        QVERIFY(link.isActive());
        QCOMPARE(link.portName(), pty.b());
        RawEnd peer(pty.a()); // free again
        QVERIFY(peer.fd >= 0);
        QSignalSpy clusters(&link, &SerialLink::clusterReceived);
        QVERIFY(peer.write("OK\r\n"));
        QTRY_COMPARE(clusters.size(), 1);
        link.setBaudRate(9600); // applied while open, the link keeps working
        QVERIFY(link.isActive());
        link.setPortName(pty.b());
        QVERIFY(link.isActive());
    }

    void aVanishingDeviceClosesTheLink() {
        PtyPair pty;
        QVERIFY(pty.start());
        SerialLink link;
        openAt(link, pty.a(), 115200);
        QVERIFY(link.isActive());
        QSignalSpy gone(&link, &SerialLink::closedOnError);
        pty.stop();
        QTRY_VERIFY(!link.isActive());
        QCOMPARE(gone.size(), 1);
    }

    void talksToTheSimulatorOverItsPty() {
        Sim sim;
        QTemporaryDir dir;
        const QString linkPath = dir.filePath(QStringLiteral("ttyModem"));
        QVERIFY(sim.start({QStringLiteral("--pty"), QStringLiteral("--link"), linkPath,
                           QStringLiteral("--answer"), QStringLiteral("#80001 BUSY 300"),
                           QStringLiteral("--answer"), QStringLiteral("#80009 HANGUP 100")}));
        QVERIFY(sim.ptyPath.startsWith(QStringLiteral("/dev/")));
        QVERIFY(QFileInfo(linkPath).isSymLink());
        SerialLink link;
        openAt(link, linkPath, 9600);
        QVERIFY(link.isActive());
        CommLog log;
        connect(&link, &SerialLink::clusterReceived, this, [&](const QByteArray& c) { log.append(c); });
        link.sendString("atx3\r");
        QTRY_COMPARE(log.commLineIndex(), 2);
        QCOMPARE(log.line(0), QStringLiteral("atx3"));
        QCOMPARE(log.line(1), QStringLiteral("OK"));
        link.sendString("atdt#80001\r");
        QTRY_COMPARE(log.commLineIndex(), 4);
        QCOMPARE(log.line(2), QStringLiteral("atdt#80001"));
        QCOMPARE(log.line(3), QStringLiteral("BUSY"));
        // the simulator drops the device mid-call
        link.sendString("atdt#80009\r");
        QTRY_VERIFY(!link.isActive());
        QTRY_COMPARE(sim.proc.state(), QProcess::NotRunning);
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "test_seriallink.moc"
