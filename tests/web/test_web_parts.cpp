// The web face's parts in-process: the users file and the password check, sessions and the
// failed-login waits, paths and listen addresses, the log ring, the exchanges' check marks, the
// live metrics read back by the strict reader, the month's reading, and the actions the bridge
// carries out on a station by the status button's rules.
#include "config/ChannelBase.h"
#include "core/TextFile.h"
#include "engine/Station.h"
#include "mock/FakeLine.h"
#include "mock/MockClock.h"
#include "mock/TestFiles.h"
#include "report/PromReader.h"
#include "tasks/ChannelSelection.h"
#include "tasks/TaskFile.h"
#include "web/ChannelData.h"
#include "web/HttpFront.h"
#include "web/MonthData.h"
#include "web/Sessions.h"
#include "web/StationBridge.h"
#include "web/WebMetrics.h"
#include "web/WebService.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace web;

class TestWebParts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void usersFile();
    void passwords();
    void sessions();
    void failedLoginWaits();
    void pathsAndAddresses();
    void logRing();
    void exchangeMarksAsTheSelectionLists();
    void liveMetrics();
    void monthData();
    void bridgeActsByTheStatusButton();
};

void TestWebParts::usersFile() {
    Users u;
    QStringList problems;
    const QByteArray good = Users::hashFor("x");
    u.parse("# comment\n\nivan:" + good + ":operator\r\nmaria:" + good + ":viewer\n" + "bad line\n" + "p:$1$md5$abc:viewer\n" +
                "q:" + good + ":admin\n" + "ivan:" + good + ":viewer\n" + "имe:" + good + ":viewer\n",
            problems);
    QCOMPARE(u.count(), 2);
    QCOMPARE(u.find(QStringLiteral("ivan"))->role, Role::Operator);
    QCOMPARE(u.find(QStringLiteral("maria"))->role, Role::Viewer);
    QVERIFY(!u.find(QStringLiteral("q")));
    QCOMPARE(problems.size(), 5);
    QVERIFY(problems[0].startsWith(QStringLiteral("Файлът с потребители, ред 5: трябва да е име:хеш:роля.")));
    QVERIFY(problems[1].contains(QStringLiteral("ред 6: хешът на „p“ трябва да е yescrypt")));
    QVERIFY(problems[2].contains(QStringLiteral("ред 7: ролята на „q“")));
    QVERIFY(problems[3].contains(QStringLiteral("ред 8: „ivan“ вече е в списъка")));
    QVERIFY(problems[4].contains(QStringLiteral("ред 9: името")));
    for (const QString& p : problems)
        QVERIFY2(!p.contains(QString::fromLatin1(good.mid(8))) && !p.contains(u"$1$md5"), qPrintable(p)); // no hash

    // The file: read again only when it changed; a missing one lets nobody in.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("users"));
    Users file(path);
    problems.clear();
    QVERIFY(file.refresh(problems));
    QCOMPARE(file.count(), 0);
    QVERIFY(problems.value(0).contains(QStringLiteral("не съществува: никой не може да влезе")));
    testfiles::writeBytes(path, "ivan:" + good + ":operator\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    problems.clear();
    QVERIFY(file.refresh(problems));
    QCOMPARE(file.count(), 1);
    QVERIFY(problems.isEmpty());
    QVERIFY(!file.refresh(problems));
    QTest::qWait(20);
    testfiles::writeBytes(path, "ivan:" + good + ":operator\nmaria:" + good + ":viewer\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    QVERIFY(file.refresh(problems));
    QCOMPARE(file.count(), 2);
    QVERIFY(problems.value(0).contains(QStringLiteral("може да се чете от всички")));
}

void TestWebParts::passwords() {
    for (const char* method : {"$y$", "$2b$"}) {
        const QByteArray hash = Users::hashFor("Пар0ла", method);
        QVERIFY2(hash.startsWith(method), hash.constData());
        QVERIFY(Users::verify("Пар0ла", hash));
        QVERIFY(!Users::verify("Пар0лa", hash)); // a Latin a
        QVERIFY(!Users::verify("", hash));
    }
    const QByteArray hash = Users::hashFor("x");
    QVERIFY(!Users::verify("x", hash.chopped(1) + (hash.endsWith('A') ? 'B' : 'A')));
    QVERIFY(!Users::verify(QByteArray(Users::kMaxPassword + 1, 'x'), Users::hashFor(QByteArray(Users::kMaxPassword + 1, 'x'))));
    QVERIFY(!Users::verify("x", "x")); // not a hash of crypt(3)'s
    QVERIFY(!Users::verify("decoy", "*"));
    QVERIFY(Users::decoy().startsWith("$y$"));
}

void TestWebParts::sessions() {
    Sessions s;
    const QByteArray a = s.open(QStringLiteral("ivan"), Role::Operator, 0);
    const QByteArray b = s.open(QStringLiteral("maria"), Role::Viewer, 0);
    QVERIFY(a != b && a.size() >= 40);
    QVERIFY(s.find(a, 1000)->csrf != s.find(b, 1000)->csrf);
    QCOMPARE(s.find(a, 1000)->user, QStringLiteral("ivan"));
    QVERIFY(!s.find("forged", 1000));
    QVERIFY(!s.find(a.chopped(1), 1000));
    // Idle for longer than half an hour: gone.
    QVERIFY(s.find(b, 1000 + Sessions::kIdleMs));
    QVERIFY(!s.find(b, 2001 + 2 * Sessions::kIdleMs));
    // Kept busy, it still ends after a shift.
    qint64 t = 0;
    for (; t < Sessions::kLongestMs; t += Sessions::kIdleMs / 2)
        QVERIFY(s.find(a, t));
    QVERIFY(!s.find(a, Sessions::kLongestMs + 1));
    // Bounded: the least recently seen goes first.
    Sessions many;
    const QByteArray first = many.open(QStringLiteral("u"), Role::Viewer, 0);
    const QByteArray second = many.open(QStringLiteral("u"), Role::Viewer, 1);
    many.find(first, 2);
    for (int i = 0; i < Sessions::kMaxSessions - 1; ++i)
        many.open(QStringLiteral("v"), Role::Viewer, 3);
    QCOMPARE(many.count(), Sessions::kMaxSessions);
    QVERIFY(many.find(first, 4));
    QVERIFY(!many.find(second, 4));
    many.retain([](const Sessions::Session& s) { return s.user != u"v"; });
    QCOMPARE(many.count(), 1);

    QCOMPARE(Sessions::tokenIn("theme=dark; chantest_session=abc-1_2; other=x"), QByteArray("abc-1_2"));
    QCOMPARE(Sessions::tokenIn("chantest_sessionx=1"), QByteArray());
    QCOMPARE(Sessions::setCookie("t", false), QByteArray("chantest_session=t; Path=/; HttpOnly; SameSite=Strict; Max-Age=43200"));
    QVERIFY(Sessions::setCookie("t", true).endsWith("; Secure"));
    QVERIFY(Sessions::setCookie({}, false).contains("Max-Age=0"));
    QVERIFY(Sessions::sameToken("abc", "abc"));
    QVERIFY(!Sessions::sameToken("abc", "abd") && !Sessions::sameToken("abc", "ab") && !Sessions::sameToken({}, {}));
}

void TestWebParts::failedLoginWaits() {
    LoginThrottle t;
    const QHostAddress a(QStringLiteral("10.0.0.1")), b(QStringLiteral("10.0.0.2"));
    for (int i = 0; i < LoginThrottle::kFree - 1; ++i)
        t.failed(a, 1000);
    QCOMPARE(t.waitMs(a, 1000), 0);
    t.failed(a, 1000);
    QCOMPARE(t.waitMs(a, 1000), 2000);
    QCOMPARE(t.waitMs(a, 2500), 500);
    QCOMPARE(t.waitMs(b, 1000), 0); // per client
    t.failed(a, 3000);
    QCOMPARE(t.waitMs(a, 3000), 4000);
    for (int i = 0; i < 30; ++i)
        t.failed(a, 3000);
    QCOMPARE(t.waitMs(a, 3000), LoginThrottle::kLongestWaitMs);
    QCOMPARE(t.waitMs(a, 3000 + LoginThrottle::kForgetMs + 1), 0); // an hour later, forgotten
    QCOMPARE(t.failures(), quint64(LoginThrottle::kFree + 31));
    t.succeeded(a);
    QCOMPARE(t.waitMs(a, 3001), 0);
}

void TestWebParts::pathsAndAddresses() {
    bool bad = true;
    QCOMPARE(PathSegments("/", bad), QStringList());
    QVERIFY(!bad);
    QCOMPARE(PathSegments("/api//tasks/", bad), (QStringList{QStringLiteral("api"), QStringLiteral("tasks")}));
    QCOMPARE(PathSegments("/api/months/2605/days/3", bad).size(), 5);
    QCOMPARE(PathSegments("/x/%D0%A0%D1%83%D1%81%D0%B5%20a", bad).value(1), QStringLiteral("Русе a"));
    QVERIFY(!bad);
    for (const char* p : {"/static/../users", "/static/%2e%2E/users", "/a/.", "/a%2fb", "/a%5cb", "/%00", "/%ff%fe"}) {
        PathSegments(p, bad);
        QVERIFY2(bad, p);
    }
    WebOptions::Address a;
    QString error;
    QVERIFY(ParseListen(QStringLiteral("127.0.0.1:8470"), a, error));
    QCOMPARE(a.host, QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(a.port, quint16(8470));
    QVERIFY(ParseListen(QStringLiteral("[::1]:80"), a, error));
    QCOMPARE(a.host, QHostAddress(QHostAddress::LocalHostIPv6));
    QVERIFY(ParseListen(QStringLiteral("localhost:0"), a, error) && a.host.isLoopback());
    for (const char* t : {"8470", "127.0.0.1", "127.0.0.1:99999", "host.example:80", ":80", "127.0.0.1:x"})
        QVERIFY2(!ParseListen(QString::fromLatin1(t), a, error), t);
    QVERIFY(error.startsWith(QStringLiteral("--listen иска АДРЕС:ПОРТ")));
}

void TestWebParts::logRing() {
    LogRing r;
    quint64 next = 99;
    QVERIFY(r.since(0, 10, next).isEmpty());
    QCOMPARE(next, quint64(0));
    for (int i = 1; i <= LogRing::kKeep + 500; ++i)
        r.append(QString::number(i), QDateTime(), i % 100 == 0);
    QVector<LogRing::Line> got = r.since(0, 100000, next);
    QCOMPARE(got.size(), LogRing::kKeep);
    QCOMPARE(got.first().seq, quint64(501)); // the oldest are gone
    QCOMPARE(got.first().text, QStringLiteral("501"));
    QCOMPARE(next, quint64(LogRing::kKeep + 500));
    QVERIFY(r.since(next, 10, next).isEmpty());
    got = r.since(next - 3, 10, next);
    QCOMPARE(got.size(), 3);
    QCOMPARE(got.last().text, QString::number(LogRing::kKeep + 500));
    got = r.since(1000, 5, next); // at most the latest five
    QCOMPARE(got.size(), 5);
    QCOMPARE(got.first().seq, next - 4);
    QVERIFY(r.since(2399, 200, next)[0].message); // 2400
}

void TestWebParts::exchangeMarksAsTheSelectionLists() {
    // Exchanges with a double blank inside, one that begins another, letter case, none at all.
    QStringList base{QStringLiteral("Русе^Север^1^#81^"),      QStringLiteral("Русе^Север  2^2^#82^"),
                     QStringLiteral("Русе^север^3^#83^"),      QStringLiteral("Русе^Се^4^#84^"),
                     QStringLiteral("Русе^^5^#85^"),           QStringLiteral("Русе^Юг^6^#86^"),
                     QStringLiteral("Видин^Север^7^#87^"),     QStringLiteral("Русе^Север^8^#88^")};
    for (int i = 0; i < 300; ++i)
        base.append(QStringLiteral("Русе^Уредба %1^%2^#9%2^").arg(i % 17).arg(i));
    QTemporaryDir dir;
    TextFile::writeLines(dir.filePath(QString::fromLatin1(ChannelBase::FileName)), base);
    const auto view = ReadChannelBase(dir.path());
    QCOMPARE(view, ReadChannelBase(dir.path())); // kept while the file stays
    QCOMPARE(view->directions, (QVector<QString>{QStringLiteral("Видин"), QStringLiteral("Русе")}));
    const auto listing = ListChannels(*view, {QStringLiteral("Русе")});
    const ChannelSelection::Listing l = ChannelSelection::listChannels(view->sorted, {QStringLiteral("Русе")});
    QCOMPARE(listing->channels, l.channels);
    QCOMPARE(listing->exchanges, l.exchanges);
    for (int e = 0; e < listing->exchanges.size(); ++e) {
        const QVector<char> expected = ChannelSelection::exchangeMarks(l.channels, {l.exchanges[e]});
        QVector<char> got(l.channels.size(), 0);
        for (const auto& [first, last] : listing->marks[e])
            for (int i = first; i <= last; ++i)
                got[i] = 1;
        QVERIFY2(got == expected, qPrintable(l.exchanges[e]));
    }
    QVERIFY(ReadChannelBase(dir.filePath(QStringLiteral("none")))->sorted.isEmpty());
}

void TestWebParts::liveMetrics() {
    StationView v;
    v.serviceStarted = QDateTime::fromSecsSinceEpoch(1780000000);
    WebCounters c{3};
    promreader::Result m = promreader::Read(LiveMetrics(v, c));
    QVERIFY2(m.ok(), qPrintable(m.error));
    QCOMPARE(m.family("chantest_run_active")->samples[0].value, 0.0);
    QVERIFY(m.family("chantest_run_info")->samples.isEmpty());
    QVERIFY(m.family("chantest_scheduler_last_check_timestamp_seconds")->samples.isEmpty());
    QCOMPARE(m.family("chantest_web_login_failures_total")->samples[0].value, 3.0);

    v.lastCheck = QDateTime::fromSecsSinceEpoch(1780000010);
    v.run = RunView{QStringLiteral("Нощна \"А\"\\1"), QStringLiteral("a.tsk"), QStringLiteral("Веднага"), 40, 12, false, {}, {}};
    v.run->lines = {{QStringLiteral("2001"), QStringLiteral("dial"), {}},
                    {QStringLiteral("2002"), QStringLiteral("away"), {}},
                    {QStringLiteral("2003"), QStringLiteral("dial"), {}}};
    v.recorded[0] = 7;
    v.recorded[2] = 2;
    v.journalFailures = 1;
    m = promreader::Read(LiveMetrics(v, c));
    QVERIFY2(m.ok(), qPrintable(m.error));
    QCOMPARE(m.family("chantest_service_start_time_seconds")->samples[0].value, 1780000000.0);
    QCOMPARE(m.family("chantest_scheduler_last_check_timestamp_seconds")->samples[0].value, 1780000010.0);
    QCOMPARE(m.family("chantest_run_info")->samples[0].label("task"), QStringLiteral("Нощна \"А\"\\1"));
    QCOMPARE(m.family("chantest_run_channels")->samples[0].value, 40.0);
    QCOMPARE(m.family("chantest_run_channels_done")->samples[0].value, 12.0);
    const promreader::Family* lines = m.family("chantest_lines");
    QCOMPARE(lines->samples.size(), LineStates().size());
    for (const promreader::Sample& s : lines->samples)
        QCOMPARE(s.value, s.label("state") == u"dial" ? 2.0 : s.label("state") == u"away" ? 1.0 : 0.0);
    const promreader::Family* tests = m.family("chantest_tests_recorded_total");
    QCOMPARE(tests->type, QByteArray("counter"));
    QCOMPARE(tests->samples[0].label("mark"), QStringLiteral("Р"));
    QCOMPARE(tests->samples[0].value, 7.0);
    QCOMPARE(tests->samples[2].value, 2.0);
    QCOMPARE(m.family("chantest_journal_write_failures_total")->samples[0].value, 1.0);
}

void TestWebParts::monthData() {
    QTemporaryDir dir;
    const QString a = QStringLiteral("Русе -- Север  1 Ch. --> #8101"), b = QStringLiteral("Русе -- Север  2 Ch. --> #8102");
    TextFile::writeLines(dir.filePath(QStringLiteral("2605.tst")),
                         {a + QStringLiteral("^BUSY^700^2605031002^NO CARRIER^300^2605031104^"),
                          b + QStringLiteral("^CONNECT 2400^1500^2605040900^"),
                          QStringLiteral("Русе -- Север  1 Ch. --> #8199^BUSY^2300^2605051000^")});
    QVERIFY(!month::Lines(dir.path(), 2026, 4));
    const auto lines = month::Lines(dir.path(), 2026, 5);
    QCOMPARE(lines->size(), 3);
    QCOMPARE(month::Lines(dir.path(), 2026, 5), lines); // unchanged: not read again
    const QStringList labels = month::Labels(*lines);
    QCOMPARE(labels, (QStringList{QStringLiteral("Русе -- Север  1 Ch. "), QStringLiteral("Русе -- Север  2 Ch. ")}));
    const QVector<QStringList> rows = month::GridRows(*lines, labels + QStringList{QStringLiteral("Видин -- X  1 Ch. ")}, 31);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].value(3 + 1), QStringLiteral("Г")); // day 3: NO CARRIER after BUSY
    QCOMPARE(rows[1].value(4 + 1), QStringLiteral("Р"));
    QCOMPARE(rows[2].mid(2).join(QString()), QString()); // no results line: no marks
    QCOMPARE(month::Title(2026, 5), QStringLiteral("Данни за месец Май 2026 г."));
    const month::Day d = month::DayTests(*lines, labels[0], 2026, 5, 3);
    QCOMPARE(d.tests.size(), 2);
    QCOMPARE(d.tests[1].answer, QStringLiteral("NO CARRIER"));
    QCOMPARE(d.tests[1].delay, QStringLiteral("3,00"));
    QCOMPARE(d.tests[1].time, QStringLiteral("11:04"));
    QCOMPARE(d.title, QStringLiteral("Русе -- Север  1 Ch.  за  03.05.2026г."));
    QVERIFY(month::DayTests(*lines, labels[0], 2026, 5, 4).title.isEmpty());
    const QString book = dir.filePath(QStringLiteral("m.xlsx"));
    month::WriteWorkbook(*lines, labels, 2026, 5, true, book);
    QVERIFY(testfiles::readBytes(book).startsWith("PK"));
    // The report's metrics of the same folder, from the report's own code.
    const promreader::Result m = promreader::Read(month::ReportMetrics(dir.path(), QDateTime(QDate(2026, 5, 5), QTime(12, 0))));
    QVERIFY2(m.ok(), qPrintable(m.error));
    QCOMPARE(m.family("chantest_report_success")->samples[0].value, 1.0);
}

void TestWebParts::bridgeActsByTheStatusButton() {
    QTemporaryDir dir;
    MockClock clock;
    const Workspace ws{dir.path(), dir.filePath(QStringLiteral("Results")), {}};
    QDir().mkpath(ws.results);
    const auto task = [&](const QString& file, const QString& type, const QString& status) {
        TextFile::writeLines(dir.filePath(file), {TaskFile::buildHeader(QStringLiteral("Т ") + file, type, 9, 0, status),
                                                  QStringLiteral("Русе -- Север  1 Ch. --> #8101"),
                                                  QStringLiteral("Русе -- Север  2 Ch. --> #8102")});
    };
    const auto status = [&](const QString& file) {
        return TaskFile::parseHeader(TextFile::readFirstLine(dir.filePath(file))).status;
    };
    task(QStringLiteral("a.tsk"), text(TaskType::Daily), text(TaskStatus::Waiting));
    task(QStringLiteral("b.tsk"), text(TaskType::AtTime), text(TaskStatus::Started)); // left by a crash
    task(QStringLiteral("c.tsk"), text(TaskType::AtTime), QStringLiteral("Спряна?"));
    Station station(ws, clock);
    station.takeFolder(FolderLock::Holder::Service);
    std::vector<FakeLine*> fakes;
    station.setRunSettings([&] {
        RunSettings rs;
        rs.link.pause = QStringLiteral("0");
        rs.makeLines = [&] {
            std::vector<std::unique_ptr<ModemLine>> made;
            for (int i = 0; i < 2; ++i) {
                made.push_back(std::make_unique<FakeLine>(2001 + i, clock, [](const QByteArray&) {
                    return std::pair<int, QByteArray>{2000, "\r\nBUSY\r\n"};
                }));
                fakes.push_back(static_cast<FakeLine*>(made.back().get()));
            }
            return made;
        };
        return rs;
    });
    QStringList logged;
    StationBridge bridge(station, clock, [&](const QString& t, bool) { logged.append(t); });
    const auto act = [&](const char* file, const char* action) {
        return bridge.taskAction(QString::fromLatin1(file), QString::fromLatin1(action), QStringLiteral("ivan"));
    };

    QCOMPARE(act("a.tsk", "enable").status, 409); // its button says "Забрани"
    QCOMPARE(act("a.tsk", "disable").status, 200);
    QCOMPARE(status(QStringLiteral("a.tsk")), QStringLiteral("Забранена"));
    QCOMPARE(logged.last(), QStringLiteral("Уеб: ivan забрани задачата „Т a.tsk“ (a.tsk)."));
    QCOMPARE(act("a.tsk", "stop").status, 409);
    QCOMPARE(act("a.tsk", "start").body.value(QStringLiteral("error")).toString(),
             QStringLiteral("Задачата е забранена: разрешете я, за да я стартирате."));
    QCOMPARE(act("a.tsk", "enable").body.value(QStringLiteral("caption")).toString(), QStringLiteral("Забрани"));
    // A task left "Стартирана" is not the run: its stop returns it to waiting.
    StationBridge::Outcome o = act("b.tsk", "stop");
    QCOMPARE(o.status, 200);
    QCOMPARE(status(QStringLiteral("b.tsk")), QStringLiteral("Чакаща"));
    QVERIFY(logged.last().contains(QStringLiteral("върна задачата „Т b.tsk“ (b.tsk) в „Чакаща“")));
    o = act("c.tsk", "disable");
    QCOMPARE(o.status, 409);
    QCOMPARE(o.body.value(QStringLiteral("error")).toString(), QStringLiteral("Задачата е в непознато състояние „Спряна?“."));
    QCOMPARE(act("none.tsk", "disable").status, 404);

    // "Start now", then the stop of the run itself.
    QCOMPARE(act("a.tsk", "start").status, 200);
    QVERIFY(station.run());
    QCOMPARE(status(QStringLiteral("a.tsk")), QStringLiteral("Стартирана"));
    QCOMPARE(act("b.tsk", "start").status, 409); // one run at a time
    QCOMPARE(bridge.view()->run->file, QStringLiteral("a.tsk"));
    QCOMPARE(bridge.view()->run->lines.size(), 2);
    o = act("a.tsk", "stop");
    QCOMPARE(o.body.value(QStringLiteral("status")).toString(), QStringLiteral("В процес на спиране"));
    QCOMPARE(o.body.value(QStringLiteral("caption")).toString(), QStringLiteral("Почакай!"));
    QVERIFY(station.run()->stopping());
    QCOMPARE(act("a.tsk", "stop").status, 200); // "Почакай!": nothing changes
    QVERIFY(logged.contains(QStringLiteral("Уеб: ivan спря задачата „Т a.tsk“ (a.tsk): всеки модем завършва канала си.")));
    for (int i = 0; i < 2000 && station.run(); ++i) {
        clock.advanceMs(station.interval());
        for (FakeLine* f : fakes)
            f->deliver();
        station.timerTick();
    }
    QVERIFY(!station.run());
    QCOMPARE(status(QStringLiteral("a.tsk")), QStringLiteral("Чакаща")); // a daily task waits again
    QVERIFY(!bridge.view()->run);
    const quint64* r = bridge.view()->recorded;
    QVERIFY(station.lastRunSummary().startsWith(QStringLiteral("Тествани канали: %1\n").arg(r[0] + r[1] + r[2])));
}

QTEST_MAIN(TestWebParts)
#include "test_web_parts.moc"
