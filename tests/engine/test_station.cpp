// The station's loop without a face, on a fake clock with modems in memory, in a working folder
// that is not the current directory: a scheduled task from its check to its wind-up, a stop
// written into the task file by another program, and when a "Веднага" task starts.
#include "core/AppError.h"
#include "core/MyUtils.h"
#include "core/TextFile.h"
#include "engine/Station.h"
#include "mock/FakeLine.h"
#include "mock/MockClock.h"
#include "tasks/TaskFile.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
QString channel(int i) {
    return QStringLiteral("Север -- Варна  %1 Ch. --> #8%2").arg(i).arg(i, 4, 10, QLatin1Char('0'));
}

class Folder {
public:
    QTemporaryDir dir;
    MockClock clock; // 14.05.2024 07:05
    std::vector<FakeLine*> lines;
    // Every dial answers BUSY after 2 s unless `answers` says otherwise.
    std::map<QByteArray, std::pair<int, QByteArray>> answers;
    bool failSettings = false;

    Workspace workspace() const { return {dir.path(), dir.filePath("Results"), {}}; }
    QString path(const QString& name) const { return dir.filePath(name); }

    void task(const QString& file, const QString& type, int h, int m, const QString& status, int channels) {
        QStringList lines{TaskFile::buildHeader(QStringLiteral("Задача"), type, h, m, status)};
        for (int i = 1; i <= channels; ++i)
            lines.append(channel(i));
        TextFile::writeLines(path(file), lines);
    }

    std::unique_ptr<Station> station(int modems) {
        QDir().mkpath(dir.filePath("Results"));
        auto s = std::make_unique<Station>(workspace(), clock);
        s->takeFolder(FolderLock::Holder::Service);
        s->setRunSettings([this, modems] {
            if (failSettings)
                throw AppError(QStringLiteral("Файлът KanvoAlt.ini не може да се прочете."));
            RunSettings rs;
            rs.link.pause = QStringLiteral("0");
            rs.makeLines = [this, modems] {
                std::vector<std::unique_ptr<ModemLine>> made;
                lines.clear();
                for (int i = 0; i < modems; ++i) {
                    made.push_back(std::make_unique<FakeLine>(2001 + i, clock, [this](const QByteArray& dial) {
                        const auto it = answers.find(dial);
                        return it != answers.end() ? it->second
                                                   : std::pair<int, QByteArray>{2000, "\r\nBUSY\r\n"};
                    }));
                    lines.push_back(static_cast<FakeLine*>(made.back().get()));
                }
                return made;
            };
            return rs;
        });
        return s;
    }

    // The driver's tick as the timer would give it, the modems' answers due by then first.
    void tick(Station& s) {
        clock.advanceMs(s.interval());
        if (s.run()) // the lines go with their run
            for (FakeLine* l : lines)
                l->deliver();
        s.timerTick();
    }
    int runToEnd(Station& s, int limit = 20000) {
        int n = 0;
        while (s.run() && n++ < limit)
            tick(s);
        return n;
    }
};
} // namespace

class TestStation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scheduledTaskFromCheckToWindUp();
    void stopWrittenIntoTheTaskFile();
    void immediateTaskByEvent();
};

void TestStation::scheduledTaskFromCheckToWindUp() {
    Folder f;
    f.task(QStringLiteral("t.tsk"), QStringLiteral("По време"), 7, 5, QStringLiteral("Чакаща"), 5);
    const QStringList cwdBefore = QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    auto s = f.station(2);
    QStringList events;
    connect(s.get(), &Station::runStarted, s.get(), [&] { events << "started"; });
    connect(s.get(), &Station::runEnding, s.get(), [&] { events << "ending"; });
    connect(s.get(), &Station::woundUp, s.get(), [&] {
        events << "woundUp";
        QVERIFY(!QFile::exists(f.path("t.tsk"))); // the task file is done before the face hears of it
    });
    connect(s.get(), &Station::runFinished, s.get(), [&] { events << "finished"; });
    QSignalSpy checked(s.get(), &Station::checked);
    QSignalSpy stepped(s.get(), &Station::stepped);
    QCOMPARE(s->interval(), Station::kIdleMs);

    f.tick(*s); // the check of 07:05:10
    QVERIFY(s->run());
    QCOMPARE(checked.size(), 1);
    QCOMPARE(s->interval(), Station::kRunMs); // no TCP connect: no settle pause
    QVERIFY(TextFile::readFirstLine(f.path("t.tsk")).endsWith(QStringLiteral("^Стартирана^")));
    // A check while running starts nothing else and is no check.
    f.task(QStringLiteral("u.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"), 1);
    f.runToEnd(*s);
    QVERIFY(!s->run());
    QCOMPARE(events, (QStringList{"started", "ending", "woundUp", "finished"}));
    QVERIFY(stepped.size() > 30);
    QCOMPARE(s->interval(), Station::kIdleMs);
    QCOMPARE(s->lastRunSummary(), QStringLiteral("Тествани канали: 5\nВръзка: 0, заето: 5, неуспешни: 0"));
    const QStringList month = TextFile::readLines(f.path("Results/2405.tst"));
    QCOMPARE(month.size(), 5);
    for (int i = 1; i <= 5; ++i)
        QCOMPARE(month.filter(channel(i) + QStringLiteral("^BUSY^")).size(), 1);
    // The next check is the one that starts the waiting "Веднага" task written meanwhile.
    f.tick(*s);
    QVERIFY(s->run());
    QCOMPARE(s->run()->task().file, QStringLiteral("u.tsk"));
    f.runToEnd(*s);
    // Everything lay in the working folder, nothing in the current directory.
    QCOMPARE(QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot), cwdBefore);
}

void TestStation::stopWrittenIntoTheTaskFile() {
    Folder f;
    for (int i = 1; i <= 8; ++i) // long enough that the stop comes in the middle
        f.answers[QByteArrayLiteral("#8") + QByteArray::number(i).rightJustified(4, '0')] = {5000, "\r\nBUSY\r\n"};
    f.task(QStringLiteral("n.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"), 8);
    auto s = f.station(1);
    QSignalSpy asked(s.get(), &Station::stopAsked);
    s->startImmediate(Station::ImmediateEvent::StartUp);
    QVERIFY(s->run());
    for (int i = 0; i < 5 * 20; ++i) // 20 s
        f.tick(*s);
    const int before = s->run()->cycle().channelsFinished();
    QVERIFY(before > 0 && before < 8);
    // "Спри" in a window that does not run the folder's tasks.
    SetTaskFileStatus(f.path("n.tsk"), QStringLiteral("В процес на спиране"));
    const int ticks = f.runToEnd(*s);
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.at(0).at(0).toString(), QStringLiteral("Задача"));
    // Seen within the poll's 10 s, then the channel being dialled is finished.
    QVERIFY2(ticks <= (Station::kStopPollMs + 8000) / Station::kRunMs, qPrintable(QString::number(ticks)));
    const QStringList month = TextFile::readLines(f.path("Results/2405.tst"));
    // At 5 s a channel: at most two more within the poll's 10 s, and the one being dialled.
    QVERIFY2(month.size() > before && month.size() <= before + 3, qPrintable(QString::number(month.size())));
    QVERIFY(month.size() < 8);
}

void TestStation::immediateTaskByEvent() {
    Folder f;
    f.task(QStringLiteral("d.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Забранена"), 1);
    auto s = f.station(1);
    QSignalSpy messages(s.get(), &Station::message);
    // A later look at the folder starts only a waiting one.
    s->startImmediate(Station::ImmediateEvent::Check);
    f.tick(*s);
    QVERIFY(!s->run());
    // At start-up and after an add or a change, the first whatever its status.
    s->startImmediate(Station::ImmediateEvent::TasksChanged);
    QVERIFY(s->run());
    f.runToEnd(*s);
    QVERIFY(!QFile::exists(f.path("d.tsk")));

    // A start that fails: raised at start-up for the face to show, told once at the checks.
    f.failSettings = true;
    f.task(QStringLiteral("w.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"), 1);
    QVERIFY_THROWS_EXCEPTION(AppError, s->startImmediate(Station::ImmediateEvent::StartUp));
    for (int i = 0; i < 4; ++i)
        f.tick(*s);
    QVERIFY(!s->run());
    QCOMPARE(messages.size(), 0); // the failure the face was given is not told again
    f.task(QStringLiteral("w.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"), 1);
    f.failSettings = false;
    f.tick(*s);
    QVERIFY(s->run());
    QVERIFY(TextFile::readFirstLine(f.path("w.tsk")).endsWith(QStringLiteral("^Стартирана^")));
}

QTEST_GUILESS_MAIN(TestStation)
#include "test_station.moc"
