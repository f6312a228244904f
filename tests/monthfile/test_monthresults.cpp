// The month results file, the answer sanitising and the journal that keeps every recorded test.
#include "monthfile/MonthResults.h"
#include "monthfile/ResultJournal.h"
#include "monthfile/RunResults.h"
#include "mock/TestFiles.h"
#include "core/AppError.h"
#include "core/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/wait.h>
#include <unistd.h>

using testfiles::readBytes;
using testfiles::writeBytes;

namespace {
const QString kCh1 = QStringLiteral("София -- Център  1 Ch. --> #80011");
const QString kCh2 = QStringLiteral("Варна -- Изток  2 Ch. --> #80022");
const QDateTime kMay(QDate(2024, 5, 14), QTime(7, 5, 30));
} // namespace

class TestMonthResults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { dir_ = std::make_unique<QTemporaryDir>(); }
    void loadSaveByteExact();
    void indexAndAddResult();
    void sanitizeAnswer();
    void recordIsDurableAndFinishWritesMonth();
    void crashBeforeRewriteIsMerged();
    void crashAfterRewriteIsNotDoubled();
    void tornAndDamagedRecordsSkipped();
    void journalWaitingAtOpenIsMergedFirst();
    void runCrossingIntoNewMonth();
    void failedWriteKeepsTestsForLater();
    void unwritableFolderKeepsTestsInMemory();
    void tornHeaderDecidedByMonthFile();
    void journalOnChangedMonthKeptAside();
    void unreadableNewMonthKeepsItsTest();
    void runWithoutTestsCreatesItsMonth();
    void staleTemporariesRemovedAtStart();

private:
    QString path(const QString& name) const { return dir_->filePath(name); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestMonthResults::loadSaveByteExact() {
    const QByteArray bytes = "\xd1\xee\xf4\xe8\xff -- X  1 Ch. --> #80011^BUSY^400^2405140705^\r\n"
                             "no caret here\r\n"
                             "k2^CONNECT 2400^2200^2405140710^NO CARRIER^20^2405141200^\r\n";
    writeBytes(path("2405.tst"), bytes);
    MonthResults m;
    m.load(path("2405.tst"));
    QCOMPARE(m.count(), 3);
    QCOMPARE(m.lines()[0].left(5), QStringLiteral("София"));
    m.save(path("copy.tst"));
    QCOMPARE(readBytes(path("copy.tst")), bytes);
    QVERIFY(m.loadedFingerprint().exists);
    QCOMPARE(m.loadedFingerprint().size, bytes.size());

    MonthResults empty;
    empty.load(path("missing.tst"));
    QCOMPARE(empty.count(), 0);
    QVERIFY(!empty.loadedFingerprint().exists);
    QCOMPARE(MonthResults::fileName(QDate(2024, 5, 1)), QStringLiteral("2405.tst"));
}

void TestMonthResults::indexAndAddResult() {
    MonthResults m({QStringLiteral("no caret"), kCh1 + QStringLiteral("^BUSY^20^2405140705^"),
                    kCh1 + QStringLiteral("^OLD^20^2405010101^")});
    QCOMPARE(m.IndexOfChannel(kCh1), 1); // the first line of the key
    QCOMPARE(m.IndexOfChannel(kCh2), -1);
    QCOMPARE(m.IndexOfChannel(QStringLiteral("no caret")), -1);

    m.AddResult(kCh2, QStringLiteral("CONNECT 2400"), QStringLiteral("2200"), QStringLiteral("2405140710"));
    QCOMPARE(m.count(), 4);
    QCOMPARE(m.lines()[3], kCh2 + QStringLiteral("^CONNECT 2400^2200^2405140710^"));
    QCOMPARE(m.IndexOfChannel(kCh2), 3);
    m.AddResult(kCh2, QStringLiteral("BUSY"), QStringLiteral("400"), QStringLiteral("2405140720"));
    QCOMPARE(m.lines()[3], kCh2 + QStringLiteral("^CONNECT 2400^2200^2405140710^BUSY^400^2405140720^"));
    QCOMPARE(m.lines()[3].count(u'^'), 7);
    m.AddResult(kCh1, QStringLiteral("OK"), QStringLiteral("20"), QStringLiteral("2405140730"));
    QCOMPARE(m.lines()[1], kCh1 + QStringLiteral("^BUSY^20^2405140705^OK^20^2405140730^"));
    QCOMPARE(m.lines()[2], kCh1 + QStringLiteral("^OLD^20^2405010101^"));

    // A damaged line: the new test still lands in a group of its own.
    MonthResults d(
        {QStringLiteral("a^BUSY^100^2405011000"), QStringLiteral("b^BUSY^100^"), QStringLiteral("c^BUSY^")});
    for (const char* k : {"a", "b", "c"})
        d.AddResult(QString::fromLatin1(k), QStringLiteral("OK"), QStringLiteral("20"),
                    QStringLiteral("2405140730"));
    QCOMPARE(d.lines()[0], QStringLiteral("a^BUSY^100^2405011000^OK^20^2405140730^"));
    QCOMPARE(d.lines()[1], QStringLiteral("b^BUSY^100^^OK^20^2405140730^"));
    QCOMPARE(d.lines()[2], QStringLiteral("c^BUSY^^^OK^20^2405140730^"));
    for (const QString& l : d.lines())
        QCOMPARE(l.count(u'^') % 3, 1);
}

void TestMonthResults::sanitizeAnswer() {
    QCOMPARE(MonthResults::sanitizeAnswer(QStringLiteral("BU^SY\t\x01x")), QStringLiteral("BU?SY??x"));
    QCOMPARE(MonthResults::sanitizeAnswer(QString(300, u'A')).size(), 255);
    QCOMPARE(MonthResults::sanitizeAnswer(QStringLiteral("Зает ~")), QStringLiteral("Зает ~"));

    RunResults run(dir_->path());
    run.open(kMay.date());
    run.record(kCh1, QStringLiteral("NO^CARRIER\x10\x03"), 20, kMay);
    run.finish();
    QCOMPARE(testfiles::readText(path("2405.tst")),
             kCh1 + QStringLiteral("^NO?CARRIER??^20^2405140705^\r\n"));
}

void TestMonthResults::recordIsDurableAndFinishWritesMonth() {
    const QByteArray before = "old^BUSY^20^2405010000^\r\n";
    writeBytes(path("2405.tst"), before);
    {
        RunResults run(dir_->path());
        run.open(kMay.date());
        run.record(kCh1, QStringLiteral("BUSY"), 400, kMay);
        // Recorded on the disk at once, the month file untouched until the end.
        QVERIFY(QFile::exists(path("2405.jrn")));
        QCOMPARE(readBytes(path("2405.tst")), before);
        QCOMPARE(ResultJournal::read(path("2405.jrn")).records.size(), 1);
        run.record(kCh1, QStringLiteral("CONNECT 2400"), 2200, kMay.addSecs(60));
        run.finish();
    }
    QVERIFY(!QFile::exists(path("2405.jrn")));
    QCOMPARE(readBytes(path("2405.tst")),
             before + Cp1251::encode(kCh1) + "^BUSY^400^2405140705^CONNECT 2400^2200^2405140706^\r\n");
}

void TestMonthResults::crashBeforeRewriteIsMerged() {
    const QByteArray before = Cp1251::encode(kCh2) + "^BUSY^20^2405010000^\r\n";
    writeBytes(path("2405.tst"), before);
    {
        RunResults run(dir_->path());
        run.open(kMay.date());
        run.record(kCh1, QStringLiteral("BUSY"), 400, kMay);
        run.record(kCh2, QStringLiteral("NO CARRIER"), 600, kMay.addSecs(30));
        // The program dies here: no finish().
    }
    QCOMPARE(readBytes(path("2405.tst")), before);
    QCOMPARE(RecoverJournalsIn(dir_->path()), 2);
    const QByteArray expected = Cp1251::encode(kCh2) + "^BUSY^20^2405010000^NO CARRIER^600^2405140706^\r\n" +
                                Cp1251::encode(kCh1) + "^BUSY^400^2405140705^\r\n";
    QCOMPARE(readBytes(path("2405.tst")), expected);
    QVERIFY(!QFile::exists(path("2405.jrn")));
    QCOMPARE(RecoverJournalsIn(dir_->path()), 0);
    QCOMPARE(readBytes(path("2405.tst")), expected);

    // A new month's journal with no month file yet creates the file.
    {
        RunResults run(dir_->path());
        run.record(kCh1, QStringLiteral("BUSY"), 20, QDateTime(QDate(2024, 7, 2), QTime(1, 2)));
    }
    QCOMPARE(RecoverJournalsIn(dir_->path()), 1);
    QCOMPARE(readBytes(path("2407.tst")), Cp1251::encode(kCh1) + "^BUSY^20^2407020102^\r\n");

    // A month file without a line end after its last line: the test goes on a line of its own.
    writeBytes(path("2408.tst"), "x^OK^20^2408010000^");
    {
        RunResults run(dir_->path());
        run.record(kCh1, QStringLiteral("BUSY"), 20, QDateTime(QDate(2024, 8, 2), QTime(1, 2)));
    }
    QCOMPARE(RecoverJournalsIn(dir_->path()), 1);
    QCOMPARE(readBytes(path("2408.tst")),
             "x^OK^20^2408010000^\r\n" + Cp1251::encode(kCh1) + "^BUSY^20^2408020102^\r\n");
}

void TestMonthResults::crashAfterRewriteIsNotDoubled() {
    // The crash falls between the month file's rewrite and the journal's removal; a month file
    // last saved by a text editor may have other line ends, and none after its last line.
    for (const char* month : {"x^BUSY^20^2405010000^\r\n", "", "x^BUSY^20^2405010000^\ny^OK^20^2405010000^"}) {
        init();
        if (*month)
            writeBytes(path("2405.tst"), month);
        QByteArray journal;
        {
            RunResults run(dir_->path());
            run.open(kMay.date());
            run.record(kCh1, QStringLiteral("BUSY"), 400, kMay);
            journal = readBytes(path("2405.jrn"));
            run.finish();
        }
        const QByteArray written = readBytes(path("2405.tst"));
        writeBytes(path("2405.jrn"), journal);
        QCOMPARE(RecoverJournalsIn(dir_->path()), 0);
        QCOMPARE(readBytes(path("2405.tst")), written);
        QVERIFY(!QFile::exists(path("2405.jrn")));
    }
}

void TestMonthResults::tornAndDamagedRecordsSkipped() {
    {
        RunResults run(dir_->path());
        run.record(kCh1, QStringLiteral("BUSY"), 400, kMay);
        run.record(kCh2, QStringLiteral("OK"), 200, kMay);
        run.record(kCh1, QStringLiteral("NO CARRIER"), 20, kMay);
    }
    QByteArray j = readBytes(path("2405.jrn"));
    QList<QByteArray> lines = j.split('\n');
    QCOMPARE(lines.size(), 5);    // header, three records, nothing after the last LF
    lines[2].replace("OK", "OX"); // a damaged record fails its check
    j = lines.join('\n') + "4^" + Cp1251::encode(kCh2) + "^BU"; // torn by the crash
    writeBytes(path("2405.jrn"), j);
    const ResultJournal::Contents c = ResultJournal::read(path("2405.jrn"));
    QVERIFY(c.headerValid);
    QCOMPARE(c.records.size(), 2);
    QCOMPARE(c.records[1], (ResultJournal::Record{kCh1, QStringLiteral("NO CARRIER"), QStringLiteral("20"),
                                                  QStringLiteral("2405140705")}));
    QCOMPARE(c.unreadLines, QList<int>{3});
    // The damaged line may have been a test: what can be read is merged, the journal is kept.
    QVERIFY_THROWS_EXCEPTION(FileError, RecoverJournalsIn(dir_->path()));
    QCOMPARE(testfiles::readText(path("2405.tst")),
             kCh1 + QStringLiteral("^BUSY^400^2405140705^NO CARRIER^20^2405140705^\r\n"));
    QCOMPARE(readBytes(path("2405.jrn.damaged")), j);
    QCOMPARE(RecoverJournalsIn(dir_->path()), 0);

    // A header that lost its line end takes the first record with it.
    QVERIFY(QFile::remove(path("2405.jrn.damaged")) && QFile::remove(path("2405.tst")));
    j = lines.join('\n').replace("OX", "OK");
    j.remove(j.indexOf("\r\n"), 2);
    writeBytes(path("2405.jrn"), j);
    try {
        RecoverJournalsIn(dir_->path());
        QFAIL("the operator was not told");
    } catch (const FileError& e) {
        QVERIFY2(e.text().contains(QStringLiteral("2405.jrn.damaged")), qPrintable(e.text()));
    }
    QCOMPARE(testfiles::readText(path("2405.tst")), kCh2 + QStringLiteral("^OK^200^2405140705^\r\n") + kCh1 +
                                                        QStringLiteral("^NO CARRIER^20^2405140705^\r\n"));
    QCOMPARE(readBytes(path("2405.jrn.damaged")), j);

    // A whole record that lacks only its line end is read.
    writeBytes(path("whole"), lines.join('\n').replace("OX", "OK").chopped(2));
    QCOMPARE(ResultJournal::read(path("whole")).records.size(), 3);
    // A journal torn inside its header holds no records: it is dropped.
    writeBytes(path("2406.jrn"), "chantest-jour");
    QCOMPARE(RecoverJournalsIn(dir_->path()), 0);
    QVERIFY(!QFile::exists(path("2406.jrn")));
    QVERIFY(!QFile::exists(path("2406.tst")));
}

void TestMonthResults::journalWaitingAtOpenIsMergedFirst() {
    {
        RunResults run(dir_->path());
        run.record(kCh1, QStringLiteral("BUSY"), 400, kMay);
    }
    RunResults next(dir_->path());
    MonthResults& m = next.open(kMay.date());
    QCOMPARE(m.count(), 1);
    QVERIFY(!QFile::exists(path("2405.jrn")));
    next.record(kCh1, QStringLiteral("OK"), 20, kMay.addSecs(120));
    next.finish();
    QCOMPARE(testfiles::readText(path("2405.tst")),
             kCh1 + QStringLiteral("^BUSY^400^2405140705^OK^20^2405140707^\r\n"));
}

void TestMonthResults::runCrossingIntoNewMonth() {
    writeBytes(path("2405.tst"), "x^BUSY^20^2405010000^\r\n");
    RunResults run(dir_->path());
    run.open(QDate(2024, 5, 31));
    run.record(kCh1, QStringLiteral("BUSY"), 400, QDateTime(QDate(2024, 5, 31), QTime(23, 59)));
    run.record(kCh2, QStringLiteral("BUSY"), 200, QDateTime(QDate(2024, 6, 1), QTime(0, 0)));
    QVERIFY(QFile::exists(path("2405.jrn")));
    QVERIFY(QFile::exists(path("2406.jrn")));
    run.finish();
    QCOMPARE(testfiles::readText(path("2405.tst")), QStringLiteral("x^BUSY^20^2405010000^\r\n") + kCh1 +
                                                        QStringLiteral("^BUSY^400^2405312359^\r\n"));
    QCOMPARE(testfiles::readText(path("2406.tst")), kCh2 + QStringLiteral("^BUSY^200^2406010000^\r\n"));
    QVERIFY(QDir(dir_->path()).entryList({QStringLiteral("*.jrn")}).isEmpty());
}

void TestMonthResults::failedWriteKeepsTestsForLater() {
    // A month file too big for what the disk has left; its journal still fits.
    QByteArray before;
    for (int i = 0; i < 400; ++i)
        before += "k" + QByteArray::number(i) + "^BUSY^20^2405010000^\r\n";
    writeBytes(path("2405.tst"), before);
    QVERIFY(before.size() > 8000);
    RunResults run(dir_->path());
    run.open(kMay.date());
    {
        testfiles::FileSizeLimit full(8000);
        run.record(kCh1, QStringLiteral("BUSY"), 400, kMay);
        try {
            run.finish();
            QFAIL("the write did not fail");
        } catch (const FileError& e) {
            QVERIFY2(e.text().startsWith(QStringLiteral("Cannot create file ")), qPrintable(e.text()));
            QVERIFY(e.text().contains(QDir::toNativeSeparators(path("2405.tst"))));
        }
        QCOMPARE(readBytes(path("2405.tst")), before);
        QVERIFY(run.hasUnsaved());
        QVERIFY(QDir(dir_->path()).entryList(QDir::Files).size() == 2); // no temporary left
        // The next test goes on in the same journal, after the first.
        run.record(kCh2, QStringLiteral("NO CARRIER"), 600, kMay.addSecs(60));
        QCOMPARE(ResultJournal::read(path("2405.jrn")).records.size(), 2);
    }
    const QByteArray written = before + Cp1251::encode(kCh1) + "^BUSY^400^2405140705^\r\n" +
                               Cp1251::encode(kCh2) + "^NO CARRIER^600^2405140706^\r\n";
    // Were the program to die now, the next start would merge both.
    {
        QTemporaryDir copy;
        QVERIFY(QFile::copy(path("2405.tst"), copy.filePath("2405.tst")));
        QVERIFY(QFile::copy(path("2405.jrn"), copy.filePath("2405.jrn")));
        QCOMPARE(RecoverJournalsIn(copy.path()), 2);
        QCOMPARE(readBytes(copy.filePath("2405.tst")), written);
    }
    // Space again: the next chance writes them.
    run.finish();
    QVERIFY(!run.hasUnsaved());
    QVERIFY(!QFile::exists(path("2405.jrn")));
    QCOMPARE(readBytes(path("2405.tst")), written);
    // A later test of the same object starts a journal on the file just written.
    run.record(kCh1, QStringLiteral("OK"), 20, kMay.addSecs(120));
    QCOMPARE(RecoverJournalsIn(dir_->path()), 1);
    QCOMPARE(readBytes(path("2405.tst")), before + Cp1251::encode(kCh1) +
                                              "^BUSY^400^2405140705^OK^20^2405140707^\r\n" +
                                              Cp1251::encode(kCh2) + "^NO CARRIER^600^2405140706^\r\n");
}

void TestMonthResults::unwritableFolderKeepsTestsInMemory() {
    // A plain file where the results folder should be.
    const QString folder = path("Results");
    writeBytes(folder, "not a folder");
    RunResults run(folder);
    run.open(kMay.date());
    QVERIFY_THROWS_EXCEPTION(FileError, run.record(kCh1, QStringLiteral("BUSY"), 400, kMay));
    QVERIFY(run.hasUnsaved());
    QVERIFY_THROWS_EXCEPTION(FileError, run.record(kCh2, QStringLiteral("BUSY"), 200, kMay));
    QVERIFY_THROWS_EXCEPTION(FileError, run.finish());
    QVERIFY(run.hasUnsaved());
    QCOMPARE(readBytes(folder), QByteArray("not a folder"));
    QVERIFY(QFile::remove(folder));
    QVERIFY(QDir().mkpath(folder));
    run.finish();
    QVERIFY(!run.hasUnsaved());
    QCOMPARE(testfiles::readText(folder + "/2405.tst"), kCh1 + QStringLiteral("^BUSY^400^2405140705^\r\n") +
                                                            kCh2 +
                                                            QStringLiteral("^BUSY^200^2405140705^\r\n"));
}

namespace {
// A journal of two tests whose first line, the header, is torn.
QByteArray tornJournal(const QString& dir, const QDateTime& when) {
    {
        RunResults run(dir);
        run.record(kCh1, QStringLiteral("BUSY"), 400, when);
        run.record(kCh2, QStringLiteral("NO CARRIER"), 600, when.addSecs(60));
    }
    QByteArray j = readBytes(dir + "/2405.jrn");
    j[5] = 'X';
    return j;
}
QString keptAside(const QString& dir) {
    const QStringList kept = QDir(dir).entryList({QStringLiteral("2405.jrn.*")}, QDir::Files);
    return kept.size() == 1 ? kept.first() : QString();
}
} // namespace

void TestMonthResults::tornHeaderDecidedByMonthFile() {
    const QByteArray old = "x^BUSY^20^2405010000^\r\n";
    const QByteArray both = old + Cp1251::encode(kCh1) + "^BUSY^400^2405140705^\r\n" + Cp1251::encode(kCh2) +
                            "^NO CARRIER^600^2405140706^\r\n";
    // None of its records in the month file: merged, and only once; the journal is kept all the same.
    writeBytes(path("2405.tst"), old);
    const QByteArray torn = tornJournal(dir_->path(), kMay);
    writeBytes(path("2405.jrn"), torn);
    QCOMPARE(ResultJournal::read(path("2405.jrn")).records.size(), 2);
    QVERIFY_THROWS_EXCEPTION(FileError, RecoverJournalsIn(dir_->path()));
    QCOMPARE(readBytes(path("2405.tst")), both);
    QVERIFY(QFile::remove(path(keptAside(dir_->path()))));
    // Every record already the last of its line (the crash came after the rewrite): not again.
    writeBytes(path("2405.jrn"), torn);
    QVERIFY_THROWS_EXCEPTION(FileError, RecoverJournalsIn(dir_->path()));
    QCOMPARE(readBytes(path("2405.tst")), both);
    QVERIFY(!QFile::exists(path("2405.jrn")));
    QVERIFY(QFile::remove(path(keptAside(dir_->path()))));
    // One of them there, the other not: nobody can tell, so the journal is kept for the operator.
    const QByteArray one = old + Cp1251::encode(kCh1) + "^BUSY^400^2405140705^\r\n";
    writeBytes(path("2405.tst"), one);
    writeBytes(path("2405.jrn"), torn);
    try {
        RecoverJournalsIn(dir_->path());
        QFAIL("the operator was not told");
    } catch (const FileError& e) {
        QVERIFY2(e.text().contains(QStringLiteral("2405.jrn.damaged")), qPrintable(e.text()));
    }
    QCOMPARE(readBytes(path("2405.tst")), one);
    QCOMPARE(readBytes(path(keptAside(dir_->path()))), torn);
    QCOMPARE(RecoverJournalsIn(dir_->path()), 0); // told once
}

void TestMonthResults::journalOnChangedMonthKeptAside() {
    writeBytes(path("2405.tst"), "x^BUSY^20^2405010000^\r\n");
    {
        RunResults run(dir_->path());
        run.open(kMay.date());
        run.record(kCh1, QStringLiteral("BUSY"), 400, kMay);
    }
    // The month file was replaced meanwhile by something that does not hold the test.
    const QByteArray other = "y^OK^20^2405020000^\r\n";
    writeBytes(path("2405.tst"), other);
    QVERIFY_THROWS_EXCEPTION(FileError, RecoverJournalsIn(dir_->path()));
    QCOMPARE(readBytes(path("2405.tst")), other);
    QCOMPARE(keptAside(dir_->path()), QStringLiteral("2405.jrn.unmerged"));
    QCOMPARE(ResultJournal::read(path("2405.jrn.unmerged")).records.size(), 1);
    QCOMPARE(RecoverJournalsIn(dir_->path()), 0);
    // The same at a run's start: the run goes on, the operator is told.
    {
        RunResults run(dir_->path());
        run.record(kCh1, QStringLiteral("BUSY"), 400, kMay);
    }
    writeBytes(path("2405.tst"), other + "z^OK^20^2405020000^\r\n");
    RunResults next(dir_->path());
    QCOMPARE(next.open(kMay.date()).count(), 2);
    const QStringList notices = next.takeNotices();
    QCOMPARE(notices.size(), 1);
    QVERIFY(notices.first().contains(QStringLiteral("2405.jrn.unmerged-2")));
}

void TestMonthResults::unreadableNewMonthKeepsItsTest() {
    // Just after midnight the new month's file is there but cannot be read.
    const QByteArray june1 = "x^OK^20^2406010000^\r\n";
    writeBytes(path("2406.tst"), june1);
    TextFile::failReadsOf(path("2406.tst"));
    const QDateTime june(QDate(2024, 6, 1), QTime(0, 1));
    RunResults run(dir_->path());
    run.open(kMay.date());
    QVERIFY_THROWS_EXCEPTION(FileError, run.record(kCh1, QStringLiteral("BUSY"), 400, june));
    QVERIFY(run.hasUnsaved());
    QCOMPARE(ResultJournal::read(path("2406.jrn")).records.size(), 1);
    QVERIFY_THROWS_EXCEPTION(FileError, run.finish());
    QCOMPARE(readBytes(path("2406.tst")), june1); // never replaced
    // Were the program to die now, the next start would merge it once the file can be read.
    QTemporaryDir copy;
    QVERIFY(QFile::copy(path("2406.jrn"), copy.filePath("2406.jrn")));
    writeBytes(copy.filePath("2406.tst"), june1);
    QCOMPARE(RecoverJournalsIn(copy.path()), 1);
    QCOMPARE(testfiles::readText(copy.filePath("2406.tst")),
             QStringLiteral("x^OK^20^2406010000^\r\n") + kCh1 + QStringLiteral("^BUSY^400^2406010001^\r\n"));
    // Readable again: the next chance writes it.
    TextFile::failReadsOf({});
    run.finish();
    QVERIFY(!run.hasUnsaved());
    QCOMPARE(testfiles::readText(path("2406.tst")), testfiles::readText(copy.filePath("2406.tst")));
    QVERIFY(!QFile::exists(path("2406.jrn")));
}

void TestMonthResults::runWithoutTestsCreatesItsMonth() {
    RunResults run(dir_->path());
    run.open(kMay.date());
    run.finish();
    QVERIFY(QFile::exists(path("2405.tst")));
    QCOMPARE(readBytes(path("2405.tst")), QByteArray());
    // An existing file the run did not touch is left alone.
    writeBytes(path("2405.tst"), "x^BUSY^20^2405010000");
    RunResults again(dir_->path());
    again.open(kMay.date());
    again.finish();
    QCOMPARE(readBytes(path("2405.tst")), QByteArray("x^BUSY^20^2405010000"));
}

void TestMonthResults::staleTemporariesRemovedAtStart() {
    // A write cut short before its rename; only what is the program's own and left by a process
    // that is gone goes, and never one a live writer may still be at.
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    QCOMPARE(waitpid(gone, nullptr, 0), gone);
    const QString stale = TextFile::temporaryPath(path("2405.tst"), gone);
    const QString fresh = TextFile::temporaryPath(path("2406.tst"), gone);
    const QString live = TextFile::temporaryPath(path("2407.tst"), getpid());
    const QString foreign = path("2405.tst.Ab12Cd");
    for (const QString& f : {stale, fresh, live, foreign}) {
        writeBytes(f, "half a month");
        QFile file(f);
        QVERIFY(file.open(QIODevice::ReadWrite));
        if (f != fresh)
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    }
    QCOMPARE(RecoverJournalsIn(dir_->path()), 0);
    QVERIFY(!QFile::exists(stale));
    for (const QString& f : {fresh, live, foreign})
        QVERIFY2(QFile::exists(f), qPrintable(f));
}

QTEST_GUILESS_MAIN(TestMonthResults)
#include "test_monthresults.moc"
