// What the program must never do, checked on the real program running a task against the modem
// simulator over TCP: open a listening socket or a bound UDP socket, or open a file whose name it
// took from a data file (a channel base, a task file or a channel line holding path-like text).
#include "mock/RealProgram.h"
#include "mock/TestFiles.h"
#include "core/Cp1251.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {
using realprogram::binaryDir;
using realprogram::monthFile;

// One look at the process: its socket inodes matched against the kernel's socket tables.
struct SocketScan {
    int established = 0;     // TCP sockets of the process in state 01
    QStringList listening;   // TCP in state 0A, UDP of any kind, unix sockets accepting
    QStringList openedFiles; // every path the process holds open
};

QSet<QString> socketInodes(qint64 pid, QStringList* files) {
    QSet<QString> inodes;
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(fdDir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        char buf[4096];
        const QByteArray link = QFile::encodeName(fdDir + u'/' + fd);
        const ssize_t n = ::readlink(link.constData(), buf, sizeof buf - 1);
        if (n <= 0)
            continue; // closed in between
        const QString target = QFile::decodeName(QByteArray(buf, n));
        if (target.startsWith(QStringLiteral("socket:[")))
            inodes.insert(target.mid(8).chopped(1));
        else
            files->append(target);
    }
    return inodes;
}

SocketScan scan(qint64 pid) {
    SocketScan s;
    const QSet<QString> mine = socketInodes(pid, &s.openedFiles);
    for (const char* table : {"tcp", "tcp6", "udp", "udp6"}) {
        const QString path = QStringLiteral("/proc/%1/net/%2").arg(pid).arg(QLatin1String(table));
        const QStringList lines = QString::fromLatin1(testfiles::readBytes(path)).split(u'\n');
        const bool tcp = QByteArray(table).startsWith("tcp");
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QStringList f = lines[i].simplified().split(u' ');
            if (f.size() < 10 || !mine.contains(f[9]))
                continue;
            if (tcp && f[3] == QStringLiteral("01"))
                ++s.established;
            else if (!tcp || f[3] == QStringLiteral("0A"))
                s.listening.append(QLatin1String(table) + u' ' + lines[i].simplified());
        }
    }
    // Num RefCount Protocol Flags Type St Inode [Path]; flag 00010000 marks an accepting socket.
    const QStringList unixTable =
        QString::fromLatin1(testfiles::readBytes(QStringLiteral("/proc/%1/net/unix").arg(pid))).split(u'\n');
    for (qsizetype i = 1; i < unixTable.size(); ++i) {
        const QStringList f = unixTable[i].simplified().split(u' ');
        if (f.size() >= 7 && mine.contains(f[6]) && (f[3].toUInt(nullptr, 16) & 0x10000u))
            s.listening.append(QStringLiteral("unix ") + unixTable[i].simplified());
    }
    return s;
}
} // namespace

class TestSecurity : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void noListeningSocketAndNoFileNamedByData();

private:
    QString startSim(const QStringList& args);

    QProcess sim_, program_;
};

void TestSecurity::initTestCase() {
    QVERIFY(QFile::exists(binaryDir() + "/chantest"));
    QVERIFY(QFile::exists(binaryDir() + "/modem-sim"));
}

void TestSecurity::cleanup() {
    realprogram::stop(program_);
    realprogram::stop(sim_);
}

QString TestSecurity::startSim(const QStringList& args) {
    return realprogram::startSim(sim_, args);
}

void TestSecurity::noListeningSocketAndNoFileNamedByData() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Deep enough that every "../" below still lands inside the temporary folder.
    const QString base = dir.filePath(QStringLiteral("a/b/c"));
    const QString bin = base + "/bin", work = base + "/work";
    QVERIFY(QDir().mkpath(bin) && QDir().mkpath(work));
    const QString exe = bin + QStringLiteral("/chantest-sec-%1").arg(QCoreApplication::applicationPid());
    QVERIFY(QFile::copy(binaryDir() + "/chantest", exe));
    const QString outside =
        QStringLiteral("/tmp/chantest-sec-outside-%1").arg(QCoreApplication::applicationPid());
    QFile::remove(outside);
    const QFileInfo passwd(QStringLiteral("/etc/passwd"));
    const QDateTime passwdTime = passwd.lastModified();
    const qint64 passwdSize = passwd.size();

    const QString port = startSim({QStringLiteral("--answer"), QStringLiteral("#80011 BUSY 300"),
                                   QStringLiteral("--answer"), QStringLiteral("#80012 CONNECT 2400 300")});
    QVERIFY(!port.isEmpty());
    testfiles::writeText(work + "/KanvoAlt.ini", QStringLiteral("^127.0.0.1^\r\n9600^") + port +
                                                     QStringLiteral("^\r\natx3w2&d0e1m0 s0=1 s7=70\r\n"
                                                                    "at+MS=v34,1,2400,12000\r\n1\r\n2\r\n"));
    testfiles::writeText(work + "/ChBase.dat",
                         QStringLiteral("../../../evil-base^/etc/passwd^1^#80011^\r\n") + outside +
                             QStringLiteral("^..\\..\\evil^2^../../evil-dial^\r\n"));
    const QString ch1 = QStringLiteral("../../../evil-dir -- /etc/passwd  1 Ch. --> #80011");
    const QString ch2 = outside + QStringLiteral(" -- ../evil-exch  2 Ch. --> #80012");
    testfiles::writeText(work + "/e2e.tsk", QStringLiteral("../../evil-task^Веднага^0^0^Чакаща^\r\n") + ch1 +
                                                "\r\n" + ch2 + "\r\n");

    QVERIFY(realprogram::startOffscreen(program_, exe, work));
    const qint64 pid = program_.processId();

    // Watch the process from start-up until the task has run.
    int sawEstablished = 0;
    QStringList listening, opened;
    QElapsedTimer t;
    t.start();
    while (QFile::exists(work + "/e2e.tsk") && t.elapsed() < 90000 && program_.state() == QProcess::Running) {
        const SocketScan s = scan(pid);
        sawEstablished = std::max(sawEstablished, s.established);
        listening += s.listening;
        opened += s.openedFiles;
        QTest::qWait(50);
    }
    QVERIFY2(!QFile::exists(work + "/e2e.tsk"), "the task did not run");
    QCOMPARE(program_.state(), QProcess::Running);
    const SocketScan after = scan(pid); // and once more when idle
    listening += after.listening;
    opened += after.openedFiles;
    QVERIFY2(sawEstablished > 0, "the TCP link to the modem was never seen: the scan sees nothing");
    QVERIFY2(listening.isEmpty(), qPrintable(listening.join(u'\n')));
    for (const QString& f : std::as_const(opened))
        QVERIFY2(!f.contains(QStringLiteral("evil")) && !f.contains(QStringLiteral("passwd")) && f != outside,
                 qPrintable(f));

    // Both channels were recorded under their own lines, path-like text and all.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(bin + "/Results/" + monthFile()), 5000);
    realprogram::stop(program_);
    const QString month = testfiles::readText(bin + "/Results/" + monthFile());
    QVERIFY2(month.contains(ch1 + QStringLiteral("^BUSY^")), qPrintable(month));
    QVERIFY2(month.contains(ch2 + QStringLiteral("^CONNECT 2400^")), qPrintable(month));

    // Nothing was written anywhere but the working folder and beside the program.
    QVERIFY(!QFileInfo::exists(outside));
    QCOMPARE(QFileInfo(QStringLiteral("/etc/passwd")).lastModified(), passwdTime);
    QCOMPARE(QFileInfo(QStringLiteral("/etc/passwd")).size(), passwdSize);
    QDirIterator it(dir.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        QVERIFY2(f.startsWith(bin + u'/') || f.startsWith(work + u'/'), qPrintable(f));
        QVERIFY2(!QFileInfo(f).fileName().contains(QStringLiteral("evil")), qPrintable(f));
    }
    const auto entries = [](const QString& d) {
        return QDir(d).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    };
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("a")});
    QCOMPARE(entries(dir.filePath(QStringLiteral("a"))), QStringList{QStringLiteral("b")});
    QCOMPARE(entries(dir.filePath(QStringLiteral("a/b"))), QStringList{QStringLiteral("c")});
    QCOMPARE(entries(base), (QStringList{QStringLiteral("bin"), QStringLiteral("work")}));
}

QTEST_GUILESS_MAIN(TestSecurity)
#include "test_security.moc"
