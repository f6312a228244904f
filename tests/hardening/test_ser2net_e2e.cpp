// End to end through a real modem server: ser2net on loopback passes the program's TCP link to
// the modem simulator on a pseudo-terminal, and the month file holds every answer.
#include "links/LinkTestUtil.h"
#include "mock/RealProgram.h"
#include "mock/TestFiles.h"
#include "core/Cp1251.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kBusy = QStringLiteral("София -- Център  1 Ch. --> #80021");
const QString kNoCarrier = QStringLiteral("Варна -- Изток  2 Ch. --> #80022");

using realprogram::binaryDir;
using realprogram::monthFile;

// A loopback port nobody listens on right now.
quint16 freeLoopbackPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

// True once something accepts on 127.0.0.1:port, within timeoutMs.
bool waitForListener(quint16 port, int timeoutMs, const QProcess& owner) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs && owner.state() == QProcess::Running) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        if (s.waitForConnected(300)) {
            s.disconnectFromHost();
            return true;
        }
        QTest::qWait(50);
    }
    return false;
}

} // namespace

class TestSer2netE2E : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void immediateTaskThroughSer2net();

private:
    QString ser2net_;
    linktest::Sim sim_;
    QProcess server_, program_;
};

void TestSer2netE2E::initTestCase() {
    QVERIFY(QFile::exists(binaryDir() + "/chantest"));
    QVERIFY(QFile::exists(binaryDir() + "/modem-sim"));
    ser2net_ = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    if (ser2net_.isEmpty())
        ser2net_ = QStandardPaths::findExecutable(QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin")});
    if (ser2net_.isEmpty())
        QSKIP("ser2net is not installed (Debian package ser2net; scripts/install-deps.sh installs it)");
}

void TestSer2netE2E::cleanup() {
    realprogram::stop(program_);
    realprogram::stop(server_);
    sim_.stop();
}

void TestSer2netE2E::immediateTaskThroughSer2net() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString bin = dir.filePath("bin");
    const QString work = dir.filePath("work");
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(QDir().mkpath(work));

    // The modem, on a pseudo-terminal only: the program can reach it through ser2net alone.
    const QString table = dir.filePath("answers.txt");
    testfiles::writeText(table, QStringLiteral("#80021 BUSY 300\n#80022 NO CARRIER 500\n"));
    QVERIFY(sim_.start({QStringLiteral("--pty"), QStringLiteral("--link"), dir.filePath("modem"),
                        QStringLiteral("--table"), table}));
    QVERIFY(sim_.ptyPath.startsWith("/dev/"));

    const quint16 port = freeLoopbackPort();
    QVERIFY(port != 0);
    const QString yaml = dir.filePath("ser2net.yaml");
    testfiles::writeText(yaml, QStringLiteral("connection: &modem\n"
                                              "  accepter: tcp,127.0.0.1,%1\n"
                                              "  connector: serialdev,%2,9600n81,local\n"
                                              "  options:\n"
                                              "    kickolduser: true\n")
                                   .arg(port)
                                   .arg(sim_.ptyPath));
    // Foreground, no lock files or pid file outside the temporary folder.
    server_.setProcessChannelMode(QProcess::MergedChannels);
    server_.start(ser2net_, {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-u"),
                             QStringLiteral("-P"), dir.filePath("ser2net.pid"), QStringLiteral("-c"), yaml});
    QVERIFY2(server_.waitForStarted(5000), qPrintable(server_.errorString()));
    QVERIFY2(waitForListener(port, 10000, server_), server_.readAll().constData());

    // The program's own copy, under a name no other instance uses.
    const QString exe = bin + QStringLiteral("/chantest-ser2net-%1").arg(QCoreApplication::applicationPid());
    QVERIFY(QFile::copy(binaryDir() + "/chantest", exe));
    testfiles::writeText(work + "/KanvoAlt.ini", QStringLiteral("^127.0.0.1^\r\n9600^%1^\r\n"
                                                                "atx3w2&d0e1m0 s0=1 s7=70 s11=55 s95=0\r\n"
                                                                "at+MS=v34,1,2400,12000\r\n1\r\n2\r\n")
                                                     .arg(port));
    testfiles::writeText(work + "/ser2net.tsk", QStringLiteral("Проба^Веднага^0^0^Чакаща^\r\n") + kBusy +
                                                    "\r\n" + kNoCarrier + "\r\n");

    QVERIFY(realprogram::startOffscreen(program_, exe, work));

    const QString month = bin + "/Results/" + monthFile();
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(work + "/ser2net.tsk"), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(month), 5000);
    QVERIFY(program_.state() == QProcess::Running);
    QVERIFY(server_.state() == QProcess::Running);

    // One line per channel, each with the modem's answer and a delay no shorter than the modem's.
    const QStringList lines = Cp1251::decode(testfiles::readBytes(month)).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.last(), QString());
    const QList<std::tuple<QString, QString, int>> expected{{kBusy, QStringLiteral("BUSY"), 300},
                                                            {kNoCarrier, QStringLiteral("NO CARRIER"), 500}};
    for (int i = 0; i < expected.size(); ++i) {
        const auto& [key, answer, modemMs] = expected[i];
        const QStringList f = lines[i].split(u'^');
        QCOMPARE(f.size(), 5);
        QCOMPARE(f[0], key);
        QCOMPARE(f[1], answer);
        bool ok = false;
        const int delay = f[2].toInt(&ok);
        QVERIFY2(ok && delay * 10 >= modemMs && delay * 10 <= modemMs + 3000, qPrintable(lines[i]));
        QCOMPARE(f[3].size(), 10);
        QCOMPARE(f[4], QString());
    }

    realprogram::stop(program_);
    realprogram::stop(server_);
    sim_.stop();
    QCOMPARE(server_.state(), QProcess::NotRunning);
    QCOMPARE(sim_.proc.state(), QProcess::NotRunning);
}

QTEST_GUILESS_MAIN(TestSer2netE2E)
#include "test_ser2net_e2e.moc"
