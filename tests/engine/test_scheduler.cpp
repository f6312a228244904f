// Which task a scheduler check starts, the once-a-day rule and the one message per failing minute.
#include "engine/Scheduler.h"

#include <QTest>

namespace {
TaskRow row(int r, const QString& type, const QString& start, const QString& status) {
    return {r, type, start, status, QStringLiteral("task%1.tsk").arg(r)};
}
const QString kAt = QStringLiteral("По време");
QDateTime at(int h, int m, int s = 0, int day = 14) {
    return QDateTime(QDate(2024, 5, day), QTime(h, m, s));
}
} // namespace

class TestScheduler : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void minuteMatchAndFirstRow();
    void startCellForms();
    void firstImmediateIgnoresStatus();
    void dailyTaskOncePerStartMinute();
    void oneMessagePerFailingMinute();
};

void TestScheduler::minuteMatchAndFirstRow() {
    Scheduler s;
    const QList<TaskRow> rows = {
        row(1, kAt, QStringLiteral("07:05"), QStringLiteral("Забранена")),
        row(2, text(TaskType::Daily), QStringLiteral("07:06"), text(TaskStatus::Waiting)),
        row(3, kAt, QStringLiteral("07:05"), text(TaskStatus::Waiting)),
        row(4, text(TaskType::Daily), QStringLiteral("07:05"), text(TaskStatus::Waiting)),
        row(5, QString(), QString(), QString()),
    };
    QCOMPARE(s.due(rows, at(7, 4, 59)), -1);
    QCOMPARE(s.due(rows, at(7, 5, 0)), 3); // the disabled row 1 is passed by
    QCOMPARE(s.due(rows, at(7, 5, 59)), 3);
    QCOMPARE(s.due(rows, at(7, 6, 0)), 2);
    QCOMPARE(s.due(rows, at(7, 5, 0, 15)), 3); // the date is not consulted
    QCOMPARE(s.due({}, at(7, 5)), -1);
}

void TestScheduler::startCellForms() {
    QCOMPARE(Scheduler::startMinute(QStringLiteral("00:00")), 0);
    QCOMPARE(Scheduler::startMinute(QStringLiteral("23:59")), 23 * 60 + 59);
    QCOMPARE(Scheduler::startMinute(QStringLiteral("7:05")), -1);
    QCOMPARE(Scheduler::startMinute(QStringLiteral("ab:cd")), -1);
    QCOMPARE(Scheduler::startMinute(QString()), -1);
}

void TestScheduler::firstImmediateIgnoresStatus() {
    const QList<TaskRow> rows = {
        row(1, kAt, QStringLiteral("07:05"), text(TaskStatus::Waiting)),
        row(2, text(TaskType::Immediate), QStringLiteral("00:00"), QStringLiteral("Забранена")),
        row(3, text(TaskType::Immediate), QStringLiteral("00:00"), text(TaskStatus::Waiting))};
    QCOMPARE(Scheduler::firstImmediate(rows), 2);
    QCOMPARE(Scheduler::firstImmediate(rows.mid(0, 1)), -1);
}

void TestScheduler::dailyTaskOncePerStartMinute() {
    Scheduler s;
    QList<TaskRow> rows = {row(1, text(TaskType::Daily), QStringLiteral("07:05"), text(TaskStatus::Waiting)),
                           row(2, kAt, QStringLiteral("07:05"), text(TaskStatus::Waiting))};
    QCOMPARE(s.due(rows, at(7, 5, 1)), 1);
    s.noteStarted(rows[0].file, at(7, 5, 1));
    // Its short run ended within the minute and it is waiting again: the next task goes first.
    QCOMPARE(s.due(rows, at(7, 5, 31)), 2);
    rows.removeLast();
    QCOMPARE(s.due(rows, at(7, 5, 41)), -1);
    QCOMPARE(s.due(rows, at(7, 5, 0, 15)), 1); // the next day
}

void TestScheduler::oneMessagePerFailingMinute() {
    Scheduler s;
    const QString f = QStringLiteral("a.tsk");
    QVERIFY(s.noteFailure(f, at(7, 5, 1)));
    QVERIFY(!s.noteFailure(f, at(7, 5, 11)));
    QVERIFY(!s.noteFailure(f, at(7, 5, 59)));
    QVERIFY(s.noteFailure(QStringLiteral("b.tsk"), at(7, 5, 59)));
    QVERIFY(!s.noteFailure(f, at(7, 5, 59))); // another task's failure does not re-arm it
    QVERIFY(s.noteFailure(f, at(7, 5, 0, 15)));
    // A start in between clears the memory.
    s.noteStarted(f, at(7, 6));
    QVERIFY(s.noteFailure(f, at(7, 6, 30)));
}

QTEST_GUILESS_MAIN(TestScheduler)
#include "test_scheduler.moc"
