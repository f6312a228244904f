// The station's loop without a face, on a fake clock with modems in memory, in a working folder
// that is not the current directory: a scheduled task from its check to its wind-up, a stop
// written into the task file by another program, and when a "Веднага" task starts.
#include "core/AppError.h"
#include "core/Cp1251.h"
#include "core/MyUtils.h"
#include "core/TextFile.h"
#include "engine/Station.h"
#include "mock/FakeLine.h"
#include "mock/MockClock.h"
#include "tasks/TaskFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

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
    QList<QByteArray> dialled;
    bool failSettings = false;
    QString pause = QStringLiteral("0");

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
        s->setTaskSettleMs(0); // written whole by the test
        s->setRunSettings([this, modems] {
            if (failSettings)
                throw AppError(QStringLiteral("Файлът KanvoAlt.ini не може да се прочете."));
            RunSettings rs;
            rs.link.pause = pause;
            rs.makeLines = [this, modems] {
                std::vector<std::unique_ptr<ModemLine>> made;
                lines.clear();
                for (int i = 0; i < modems; ++i) {
                    made.push_back(std::make_unique<FakeLine>(2001 + i, clock, [this](const QByteArray& dial) {
                        dialled.append(dial);
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
    void cutShortRunGoesOnWhereItWas();
    void tasksLeftStartedWaitAgain();
    void linesThatCannotBeDialledAreNamedAndSkipped();
    void halfWrittenTaskFileWaits();
    void resultsFolderRemovedDuringTheRun();
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
    f.runToEnd(*s);

    // A pause in the settings file that is no number fails the start, not the first pause.
    f.pause = QStringLiteral("20 s");
    f.task(QStringLiteral("p.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"), 1);
    try {
        s->startImmediate(Station::ImmediateEvent::StartUp);
        QFAIL("started with a pause that is no number");
    } catch (const AppError& e) {
        QCOMPARE(e.text(), TestCycle::kPauseNotInteger + QStringLiteral(" (KanvoAlt.ini: „20 s“)"));
    }
    QVERIFY(!s->run());
    QVERIFY(TextFile::readFirstLine(f.path("p.tsk")).endsWith(QStringLiteral("^Чакаща^")));
}

void TestStation::cutShortRunGoesOnWhereItWas() {
    for (const bool crash : {true, false}) {
        Folder f;
        f.task(QStringLiteral("n.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"), 6);
        {
            auto s = f.station(1);
            s->startImmediate(Station::ImmediateEvent::StartUp);
            while (s->run()->cycle().channelsFinished() < 2)
                f.tick(*s);
            if (!crash)
                s->suspendRun(); // the service stops
        } // a crash: nothing more is done
        QVERIFY(TextFile::readFirstLine(f.path("n.tsk")).endsWith(QStringLiteral("^Стартирана^")));
        f.dialled.clear();
        auto s = f.station(1);
        QSignalSpy notices(s.get(), &Station::notice);
        s->recoverJournals();
        s->reviveTasks();
        s->startImmediate(Station::ImmediateEvent::StartUp);
        QVERIFY(s->run());
        QCOMPARE(s->run()->cycle().channelCount(), 4);
        f.runToEnd(*s);
        // None lost, none dialled twice.
        QCOMPARE(f.dialled, (QList<QByteArray>{"#80003", "#80004", "#80005", "#80006"}));
        const QStringList month = TextFile::readLines(f.path("Results/2405.tst"));
        QCOMPARE(month.size(), 6);
        for (int i = 1; i <= 6; ++i)
            QCOMPARE(month.filter(channel(i) + u'^').size(), 1);
        QVERIFY(!QFile::exists(f.path("n.tsk")));
        QVERIFY(!QFile::exists(f.path("n.tsk.done")));
        QVERIFY(!notices.isEmpty());
        QVERIFY2(notices.last().at(0).toString().contains(QStringLiteral("продължава")) ||
                     notices.first().at(0).toString().contains(QStringLiteral("продължава")),
                 qPrintable(notices.first().at(0).toString()));
    }
}

void TestStation::tasksLeftStartedWaitAgain() {
    Folder f;
    f.task(QStringLiteral("d.tsk"), QStringLiteral("Всеки ден"), 3, 0, QStringLiteral("Стартирана"), 2);
    f.task(QStringLiteral("s.tsk"), QStringLiteral("По време"), 3, 0, QStringLiteral("В процес на спиране"), 2);
    f.task(QStringLiteral("x.tsk"), QStringLiteral("По време"), 3, 0, QStringLiteral("Забранена"), 2);
    TextFile::writeLines(f.path("gone.tsk.done"), {channel(1)}); // its task was deleted
    TextFile::writeLines(f.path("s.tsk.done"), {channel(1)});     // a stop was asked for: no resuming
    auto s = f.station(1);
    QSignalSpy notices(s.get(), &Station::notice);
    s->reviveTasks();
    QVERIFY(TextFile::readFirstLine(f.path("d.tsk")).endsWith(QStringLiteral("^Чакаща^")));
    QVERIFY(TextFile::readFirstLine(f.path("s.tsk")).endsWith(QStringLiteral("^Чакаща^")));
    QVERIFY(TextFile::readFirstLine(f.path("x.tsk")).endsWith(QStringLiteral("^Забранена^")));
    QCOMPARE(notices.size(), 2);
    QVERIFY(notices[0].at(0).toString().contains(QStringLiteral("отново е „Чакаща“")));
    QVERIFY(!QFile::exists(f.path("gone.tsk.done")) && !QFile::exists(f.path("s.tsk.done")));
    // The daily task is alive again: its next minute starts it.
    f.clock.setNow(QDateTime(QDate(2024, 5, 15), QTime(3, 0, 0)));
    f.tick(*s);
    QVERIFY(s->run());
    QCOMPARE(s->run()->task().file, QStringLiteral("d.tsk"));
}

void TestStation::linesThatCannotBeDialledAreNamedAndSkipped() {
    Folder f;
    TextFile::writeLines(f.path("b.tsk"), {TaskFile::buildHeader(QStringLiteral("Лоша"), TaskType::Immediate, 0, 0,
                                                                 TaskStatus::Waiting),
                                           channel(1), QStringLiteral("sense line without arrow"),
                                           QStringLiteral("^^^^"), QStringLiteral("Север -- Варна  3 Ch. --> "),
                                           QStringLiteral("Север -- Варна  4 Ch. --> 12$4"),
                                           QStringLiteral("Север -- Варна  5 Ch. --> #8^5"), channel(2)});
    auto s = f.station(1);
    QSignalSpy messages(s.get(), &Station::message);
    s->startImmediate(Station::ImmediateEvent::StartUp);
    QVERIFY(s->run());
    QCOMPARE(s->run()->cycle().channelCount(), 2);
    QCOMPARE(messages.size(), 1); // named once, together
    const QString text = messages[0].at(0).toString();
    QVERIFY2(text.startsWith(QStringLiteral("Задачата „Лоша“: 5 реда не се набират: „sense line without arrow“: "
                                            "не е ред на канал")) &&
                 text.contains(QStringLiteral("знакът „$“ не може да се набере")) &&
                 text.contains(QStringLiteral("няма номер за набиране")) && text.contains(QStringLiteral("съдържа „^“")),
             qPrintable(text));
    f.runToEnd(*s);
    QCOMPARE(f.dialled, (QList<QByteArray>{"#80001", "#80002"}));
    QCOMPARE(messages.size(), 1);
    for (const QString& line : TextFile::readLines(f.path("Results/2405.tst")))
        QCOMPARE(line.count(u'^'), 4); // key, answer, delay, time: no caret inside a key
}

void TestStation::halfWrittenTaskFileWaits() {
    Folder f;
    auto s = f.station(1);
    s->setTaskSettleMs(2000);
    // A header and five lines, the last one without its line end yet.
    QByteArray bytes = Cp1251::encode(TaskFile::buildHeader(QStringLiteral("Скрипт"), TaskType::AtTime, 7, 5,
                                                            TaskStatus::Waiting)) + "\r\n";
    for (int i = 1; i <= 5; ++i)
        bytes += Cp1251::encode(channel(i)) + (i < 5 ? "\r\n" : "");
    QFile file(f.path("w.tsk"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const auto age = [&](int seconds) {
        QFile t(f.path("w.tsk"));
        QVERIFY(t.open(QIODevice::ReadWrite) &&
                t.setFileTime(QDateTime::currentDateTime().addSecs(-seconds), QFileDevice::FileModificationTime));
    };
    age(60);
    f.tick(*s);
    QVERIFY(!s->run()); // no line end: still being written
    // Whole now, but changed a moment ago.
    QVERIFY(file.open(QIODevice::Append) && file.write("\r\n") == 2);
    file.close();
    f.tick(*s);
    QVERIFY(!s->run());
    age(3);
    f.tick(*s);
    QVERIFY(s->run());
    QCOMPARE(s->run()->cycle().channelCount(), 5);
}

void TestStation::resultsFolderRemovedDuringTheRun() {
    Folder f;
    const mode_t oldMask = ::umask(0002);
    f.task(QStringLiteral("r.tsk"), QStringLiteral("Веднага"), 0, 0, QStringLiteral("Чакаща"), 4);
    auto s = f.station(1);
    QSignalSpy messages(s.get(), &Station::message);
    s->startImmediate(Station::ImmediateEvent::StartUp);
    while (s->run()->cycle().channelsFinished() < 1)
        f.tick(*s);
    // The journal is made as every data file, its mode left to the umask.
    QCOMPARE(QFileInfo(f.path("Results/2405.jrn")).permissions() & 0x0777, QFileDevice::Permissions(0x0664));
    ::umask(oldMask);
    QVERIFY(QDir(f.path("Results")).removeRecursively());
    while (s->run()->cycle().channelsFinished() < 2)
        f.tick(*s);
    // Said at once; the next test makes the folder and a journal of everything again.
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].at(0).toString().contains(QStringLiteral("deleted")), qPrintable(messages[0].at(0).toString()));
    f.runToEnd(*s);
    QVERIFY(messages.size() >= 2);
    QVERIFY(messages[1].at(0).toString().startsWith(QStringLiteral("Тестовете отново се записват")));
    const QStringList month = TextFile::readLines(f.path("Results/2405.tst"));
    QCOMPARE(month.size(), 4); // the first test too, whose journal went with the folder
    QVERIFY(!QFile::exists(f.path("r.tsk")));
}

QTEST_GUILESS_MAIN(TestStation)
#include "test_station.moc"
