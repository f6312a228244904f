// The web face's rules against the real service: the login, the session cookie, the CSRF token,
// the roles, the refusals of bad input (404, 431, 413, 400, 408), the connections per client,
// failed logins slowed down, nothing of a password or a hash in the log, TLS; and what a run
// looks like through the API and /metrics (read by the strict reader, and by promtool where
// installed).
#include "WebFixture.h"
#include "report/PromReader.h"

#include <QDate>
#include <QJsonArray>
#include <QStandardPaths>
#include <QUrlQuery>

using namespace webtest;

namespace {
const QStringList kProtected{QStringLiteral("/api/status"), QStringLiteral("/api/tasks"), QStringLiteral("/api/channels"),
                             QStringLiteral("/api/session"), QStringLiteral("/api/months"),
                             QStringLiteral("/api/months/2605"), QStringLiteral("/api/months/2605/days/3?channel=x")};

double sample(const promreader::Result& m, const char* family, const QByteArray& label = {}, const QString& value = {}) {
    const promreader::Family* f = m.family(family);
    if (!f)
        return -1;
    for (const promreader::Sample& s : f->samples)
        if (label.isEmpty() || s.label(label) == value)
            return s.value;
    return -1;
}
} // namespace

class TestWebSecurity : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everythingButMetricsNeedsALogin();
    void loginGivesAStrictCookieAndNothingSecretLeaks();
    void changesNeedTheTokenAndTheOperator();
    void aRunThroughTheApiAndTheMetrics();
    void badInputIsRefused();
    void slowClientsAndTooManyConnections();
    void failedLoginsAreSlowedDown();
    void metricsBehindTheLogin();
    void tlsAndTheCommandLine();
};

void TestWebSecurity::everythingButMetricsNeedsALogin() {
    WebStation s;
    QVERIFY(s.make(1, {}));
    QVERIFY2(s.start(), qPrintable(s.output()));
    Http h(s.port);
    for (const QString& path : kProtected)
        QVERIFY2(h.get(path).status == 401, qPrintable(path));
    QCOMPARE(h.post(QStringLiteral("/api/tasks/a.tsk/stop"), {}, false).status, 401);
    const Response page = h.get(QStringLiteral("/"));
    QCOMPARE(page.status, 303);
    QCOMPARE(page.header("Location"), QByteArray("/login"));
    const Response login = h.get(QStringLiteral("/login"));
    QCOMPARE(login.status, 200);
    QVERIFY(login.header("Content-Security-Policy").contains("default-src 'self'"));
    QCOMPARE(h.get(QStringLiteral("/metrics")).status, 200);
    // Once in, the page; the login page sends back to it.
    QCOMPARE(h.login(kViewer, kViewerPassword).status, 200);
    QCOMPARE(h.get(QStringLiteral("/")).status, 200);
    QCOMPARE(h.get(QStringLiteral("/login")).status, 303);
    for (const QString& path : kProtected.mid(0, 5))
        QVERIFY2(h.get(path).status == 200, qPrintable(path));
    // Taken out of the users file, the viewer is out within seconds.
    QTest::qWait(50);
    testfiles::writeBytes(s.work + "/users", kOperator.toUtf8() + ':' + s.operatorHash + ":operator\n");
    QTRY_COMPARE_WITH_TIMEOUT(h.get(QStringLiteral("/api/status")).status, 401, 5000);
    QString why;
    QVERIFY2(s.stopCleanly(why), qPrintable(why));
}

void TestWebSecurity::loginGivesAStrictCookieAndNothingSecretLeaks() {
    WebStation s;
    QVERIFY(s.make(1, {}));
    QVERIFY2(s.start(), qPrintable(s.output()));
    Http h(s.port);
    QElapsedTimer t;
    t.start();
    const Response wrong = h.login(kOperator, QStringLiteral("guess"));
    QCOMPARE(wrong.status, 401);
    QVERIFY2(t.elapsed() >= 900, "a failed login is answered after a second");
    QCOMPARE(wrong.json().value(QStringLiteral("error")).toString(), QStringLiteral("Грешно име или парола."));
    QCOMPARE(h.login(QStringLiteral("nobody"), kOperatorPassword).status, 401);
    QCOMPARE(h.login(kViewer, kOperatorPassword).status, 401); // another's password
    QCOMPARE(h.post(QStringLiteral("/api/login"), "{\"name\": 1}", false).status, 400);
    QCOMPARE(h.post(QStringLiteral("/api/login"), "name=ivan&password=x", false,
                    {{"Content-Type", "application/x-www-form-urlencoded"}})
                 .status,
             400); // not a form a foreign page could send

    const Response ok = h.login(kOperator, kOperatorPassword);
    QCOMPARE(ok.status, 200);
    const QByteArray cookie = ok.header("Set-Cookie");
    QVERIFY2(cookie.startsWith("chantest_session=") && cookie.contains("; HttpOnly") && cookie.contains("; SameSite=Strict") &&
                 cookie.contains("; Max-Age=") && !cookie.contains("Secure"),
             cookie.constData());
    QCOMPARE(ok.json().value(QStringLiteral("role")).toString(), QStringLiteral("operator"));
    QVERIFY(ok.json().value(QStringLiteral("csrf")).toString().size() >= 40);
    const QJsonObject session = h.get(QStringLiteral("/api/session")).json();
    QCOMPARE(session.value(QStringLiteral("name")).toString(), kOperator);
    QCOMPARE(session.value(QStringLiteral("csrf")).toString(), h.csrf);

    // The log names the user and the client, never a password or a hash.
    QTRY_VERIFY(s.output().contains(QStringLiteral("Уеб: ivan (operator) влезе от 127.0.0.1.")));
    const QString log = s.output();
    QVERIFY(log.contains(QStringLiteral("Уеб: неуспешен вход като „ivan“ от 127.0.0.1.")));
    QVERIFY(log.contains(QStringLiteral("Уеб: неуспешен вход като „nobody“ от 127.0.0.1.")));
    for (const QString& secret : {kOperatorPassword, QStringLiteral("guess"), QString::fromLatin1(s.operatorHash),
                                  QString::fromLatin1(s.viewerHash), QString::fromLatin1(s.operatorHash.mid(10, 20))})
        QVERIFY2(!log.contains(secret), qPrintable(secret));

    // Logout ends the session: the cookie is cleared and no longer opens anything.
    const Response out = h.post(QStringLiteral("/api/logout"));
    QCOMPARE(out.status, 200);
    QVERIFY(out.header("Set-Cookie").contains("Max-Age=0"));
    QCOMPARE(h.get(QStringLiteral("/api/status")).status, 401);
    QString why;
    QVERIFY2(s.stopCleanly(why), qPrintable(why));
}

void TestWebSecurity::changesNeedTheTokenAndTheOperator() {
    WebStation s;
    QVERIFY(s.make(1, {}));
    s.task(QStringLiteral("daily.tsk"), QStringLiteral("Дневна"), text(TaskType::Daily), 4, 0, 1, 2);
    QVERIFY2(s.start(), qPrintable(s.output()));
    Http op(s.port), viewer(s.port);
    QCOMPARE(op.login(kOperator, kOperatorPassword).status, 200);
    QCOMPARE(viewer.login(kViewer, kViewerPassword).status, 200);
    const QString disable = QStringLiteral("/api/tasks/daily.tsk/disable");
    const auto status = [&] { return TaskFile::parseHeader(testfiles::readText(s.work + "/daily.tsk").section(u'\r', 0, 0)).status; };

    QCOMPARE(op.post(disable, {}, false).status, 403); // no token
    QCOMPARE(op.post(disable, {}, false, {{"X-CSRF-Token", "forged"}}).status, 403);
    QCOMPARE(op.post(disable, {}, true, {{"Origin", "http://evil.example"}}).status, 403);
    QCOMPARE(viewer.post(disable).status, 403); // the viewer sees only
    QCOMPARE(viewer.post(disable).json().value(QStringLiteral("error")).toString(),
             QStringLiteral("Потребителят „maria“ е наблюдател: не може да променя нищо."));
    QCOMPARE(status(), QStringLiteral("Чакаща"));

    // By the status button's rules: "Забрани" for a waiting task, then "Разреши"; a stop has no
    // button on a disabled task; "start now" is refused for it.
    const Response done = op.post(disable, {}, true, {{"Origin", QStringLiteral("http://127.0.0.1:%1").arg(s.port).toLatin1()}});
    QCOMPARE(done.status, 200);
    QCOMPARE(done.json().value(QStringLiteral("caption")).toString(), QStringLiteral("Разреши"));
    QCOMPARE(status(), QStringLiteral("Забранена"));
    QCOMPARE(op.post(disable).status, 409);
    QCOMPARE(op.post(QStringLiteral("/api/tasks/daily.tsk/stop")).status, 409);
    QCOMPARE(op.post(QStringLiteral("/api/tasks/daily.tsk/start")).status, 409);
    const QJsonArray rows = op.get(QStringLiteral("/api/tasks")).json().value(QStringLiteral("tasks")).toArray();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][QStringLiteral("caption")].toString(), QStringLiteral("Разреши"));
    QCOMPARE(rows[0][QStringLiteral("actions")].toArray(), QJsonArray{QStringLiteral("enable")});
    QCOMPARE(op.post(QStringLiteral("/api/tasks/daily.tsk/enable")).status, 200);
    QCOMPARE(status(), QStringLiteral("Чакаща"));
    QCOMPARE(op.post(QStringLiteral("/api/tasks/missing.tsk/enable")).status, 404);
    QTRY_VERIFY(s.output().contains(QStringLiteral("Уеб: ivan разреши задачата „Дневна“ (daily.tsk).")));
    QVERIFY(s.output().contains(QStringLiteral("Уеб: ivan забрани задачата „Дневна“ (daily.tsk).")));

    // A new task: the viewer may not; the operator's is written as the window writes it.
    const QJsonObject listing =
        op.get(QStringLiteral("/api/channels?direction=%1").arg(QString::fromUtf8(QUrl::toPercentEncoding(QStringLiteral("Русе"))))).json();
    QCOMPARE(listing.value(QStringLiteral("total")).toInt(), 10);
    QJsonObject task{{QStringLiteral("name"), QStringLiteral("Сутрин")}, {QStringLiteral("type"), QStringLiteral("Всеки ден")},
                     {QStringLiteral("hour"), 6}, {QStringLiteral("minute"), 5},
                     {QStringLiteral("base"), listing.value(QStringLiteral("base"))},
                     {QStringLiteral("directions"), QJsonArray{QStringLiteral("Русе")}},
                     // Runs in any order, overlapping: each channel once, in the list's order.
                     {QStringLiteral("channels"), QJsonArray{QJsonArray{4, 4}, QJsonArray{0, 1}, QJsonArray{1, 1}}}};
    QCOMPARE(viewer.postJson(QStringLiteral("/api/tasks"), task).status, 403);
    QJsonObject bad = task;
    bad.insert(QStringLiteral("name"), QStringLiteral("a^b"));
    QCOMPARE(op.postJson(QStringLiteral("/api/tasks"), bad).status, 400);
    bad = task;
    bad.insert(QStringLiteral("channels"), QJsonArray{});
    QCOMPARE(op.postJson(QStringLiteral("/api/tasks"), bad).json().value(QStringLiteral("error")).toString(),
             QStringLiteral("Не е избран канал за проба. Моля изберете канал."));
    bad = task;
    bad.insert(QStringLiteral("base"), QStringLiteral("an older base"));
    QCOMPARE(op.postJson(QStringLiteral("/api/tasks"), bad).status, 409);
    const Response added = op.postJson(QStringLiteral("/api/tasks"), task);
    QCOMPARE(added.status, 201);
    const QString file = added.json().value(QStringLiteral("file")).toString();
    QVERIFY2(QRegularExpression(QStringLiteral("^[0-9]{12}\\.tsk$")).match(file).hasMatch(), qPrintable(file));
    QCOMPARE(testfiles::readText(s.work + u'/' + file),
             QStringLiteral("Сутрин^Всеки ден^6^5^Чакаща^\r\n") + channelLine(1) + "\r\n" + channelLine(2) + "\r\n" +
                 channelLine(5) + "\r\n");
    QTRY_VERIFY(s.output().contains(QStringLiteral("Уеб: ivan добави задачата „Сутрин“, Всеки ден 06:05, 3 канала (%1).").arg(file)));
    QString why;
    QVERIFY2(s.stopCleanly(why), qPrintable(why));
}

void TestWebSecurity::aRunThroughTheApiAndTheMetrics() {
    WebStation s;
    QStringList answers;
    for (int i = 1; i <= 6; ++i)
        answers << QStringLiteral("#81%1 BUSY 2500").arg(i, 2, 10, QLatin1Char('0'));
    QVERIFY(s.make(2, answers));
    s.task(QStringLiteral("now.tsk"), QStringLiteral("Сега"), text(TaskType::Immediate), 0, 0, 1, 6);
    QVERIFY2(s.start(), qPrintable(s.output()));
    Http op(s.port), viewer(s.port);
    QCOMPARE(op.login(kOperator, kOperatorPassword).status, 200);
    QCOMPARE(viewer.login(kViewer, kViewerPassword).status, 200);

    // The run as the page sees it, and as Prometheus does.
    QJsonObject run;
    QTRY_VERIFY_WITH_TIMEOUT((run = op.get(QStringLiteral("/api/status")).json().value(QStringLiteral("run")).toObject(),
                              run.value(QStringLiteral("done")).toInt() >= 2),
                             30000);
    QCOMPARE(run.value(QStringLiteral("task")).toString(), QStringLiteral("Сега"));
    QCOMPARE(run.value(QStringLiteral("channels")).toInt(), 6);
    QCOMPARE(run.value(QStringLiteral("lines")).toArray().size(), 2);
    const QJsonObject log = op.get(QStringLiteral("/api/status?log=0")).json().value(QStringLiteral("log")).toObject();
    QVERIFY(log.value(QStringLiteral("lines")).toArray().size() >= 4);
    const int next = log.value(QStringLiteral("next")).toInt();
    QVERIFY(op.get(QStringLiteral("/api/status?log=%1").arg(next)).json()[QStringLiteral("log")][QStringLiteral("lines")].toArray().size() <= 2);

    const Response scraped = Http(s.port).get(QStringLiteral("/metrics"));
    QCOMPARE(scraped.status, 200);
    QVERIFY(scraped.header("Content-Type").startsWith("text/plain; version=0.0.4"));
    const promreader::Result m = promreader::Read(scraped.body);
    QVERIFY2(m.ok(), qPrintable(QStringLiteral("line %1: %2").arg(m.errorLine).arg(m.error)));
    QCOMPARE(sample(m, "chantest_run_active"), 1.0);
    QCOMPARE(sample(m, "chantest_run_info", "task", QStringLiteral("Сега")), 1.0);
    QCOMPARE(sample(m, "chantest_run_channels"), 6.0);
    QVERIFY(sample(m, "chantest_run_channels_done") >= 2);
    double lines = 0;
    for (const promreader::Sample& l : m.family("chantest_lines")->samples)
        lines += l.value;
    QCOMPARE(lines, 2.0);
    QVERIFY(sample(m, "chantest_tests_recorded_total", "mark", QStringLiteral("З")) >= 2);
    QCOMPARE(m.family("chantest_tests_recorded_total")->type, QByteArray("counter"));
    QCOMPARE(sample(m, "chantest_journal_write_failures_total"), 0.0);
    QVERIFY(sample(m, "chantest_service_start_time_seconds") > 1.7e9);
    QVERIFY(m.family("chantest_scheduler_last_check_timestamp_seconds"));
    // The report's 24 hours, from the report's own code.
    QCOMPARE(sample(m, "chantest_report_success"), 1.0);
    QVERIFY(sample(m, "chantest_latest_test_timestamp_seconds") > 1.7e9);
    QVERIFY(m.family("chantest_channels_busy"));
    if (const QString tool = QStandardPaths::findExecutable(QStringLiteral("promtool")); !tool.isEmpty()) {
        QProcess p;
        p.start(tool, {QStringLiteral("check"), QStringLiteral("metrics")});
        p.write(scraped.body);
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished());
        const QByteArray said = p.readAllStandardOutput() + p.readAllStandardError();
        QVERIFY2(p.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
    }

    // The viewer may not stop it; the operator does, and every modem finishes its channel.
    QCOMPARE(viewer.post(QStringLiteral("/api/tasks/now.tsk/stop")).status, 403);
    const Response stopped = op.post(QStringLiteral("/api/tasks/now.tsk/stop"));
    QCOMPARE(stopped.status, 200);
    QCOMPARE(stopped.json().value(QStringLiteral("status")).toString(), QStringLiteral("В процес на спиране"));
    QTRY_VERIFY_WITH_TIMEOUT(op.get(QStringLiteral("/api/status")).json().value(QStringLiteral("run")).isNull(), 15000);
    QVERIFY(!QFile::exists(s.work + "/now.tsk"));
    const int tested = int(s.output().count(QStringLiteral("Резултат: ")));
    QVERIFY2(tested >= 2 && tested < 6, qPrintable(s.output()));
    QVERIFY(s.output().contains(QStringLiteral("Уеб: ivan спря задачата „Сега“ (now.tsk): всеки модем завършва канала си.")));

    // Its tests in the month: the grid of the month file's channels, and the tests of a day.
    const QString id = QDate::currentDate().toString(QStringLiteral("yyMM"));
    const QJsonObject month = viewer.get(QStringLiteral("/api/months/") + id).json();
    QCOMPARE(month.value(QStringLiteral("total")).toInt(), tested);
    const QJsonArray rows = month.value(QStringLiteral("rows")).toArray();
    const int today = QDate::currentDate().day();
    for (const QJsonValue& r : rows)
        QCOMPARE(r[QStringLiteral("marks")][today - 1].toString(), QStringLiteral("З"));
    const QString label = rows[0][QStringLiteral("label")].toString();
    QVERIFY(label.startsWith(u"Русе -- Север  ") && label.endsWith(u" Ch. "));
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("channel"), QString::fromUtf8(QUrl::toPercentEncoding(label)));
    const QJsonObject day = viewer.get(QStringLiteral("/api/months/%1/days/%2?%3").arg(id).arg(today).arg(q.toString(QUrl::FullyEncoded))).json();
    QCOMPARE(day.value(QStringLiteral("tests")).toArray().size(), 1);
    QCOMPARE(day[QStringLiteral("tests")][0][QStringLiteral("answer")].toString(), QStringLiteral("BUSY"));
    QVERIFY(day.value(QStringLiteral("title")).toString().startsWith(label + QStringLiteral(" за  ")));
    // A direction's channels are the rows, tested or not; a month without a file is refused.
    const QJsonObject direction =
        viewer.get(QStringLiteral("/api/months/%1?direction=%2&limit=4").arg(id, QString::fromUtf8(QUrl::toPercentEncoding(QStringLiteral("Русе"))))).json();
    QCOMPARE(direction.value(QStringLiteral("total")).toInt(), 10);
    QCOMPARE(direction.value(QStringLiteral("rows")).toArray().size(), 4);
    QCOMPARE(viewer.get(QStringLiteral("/api/months/9901")).json().value(QStringLiteral("error")).toString(),
             QStringLiteral("Няма данни за този месец."));
    const Response workbook = viewer.get(QStringLiteral("/api/months/%1/workbook?comments=1").arg(id));
    QCOMPARE(workbook.status, 200);
    QVERIFY(workbook.body.startsWith("PK")); // a zip: the .xlsx
    QVERIFY(workbook.header("Content-Disposition").contains(id.toLatin1() + ".xlsx"));
    const Response report = viewer.get(QStringLiteral("/api/months/%1/report").arg(id));
    QCOMPARE(report.status, 200);
    QVERIFY(report.body.contains("<html") && report.body.contains("Русе"));
    QString why;
    QVERIFY2(s.stopCleanly(why), qPrintable(why));
}

void TestWebSecurity::badInputIsRefused() {
    WebStation s;
    QVERIFY(s.make(1, {}));
    QVERIFY2(s.start(), qPrintable(s.output()));
    Http h(s.port);
    QCOMPARE(h.login(kOperator, kOperatorPassword).status, 200);
    for (const char* path : {"/nope", "/api/nope", "/api/tasks/a/b/c", "/static/nope.js", "/api/months/2613",
                             "/api/months/2605/days/32?channel=x"})
        QVERIFY2(h.get(QString::fromLatin1(path)).status == 404, path);
    // Paths that try to leave their folder: raw, for a client would tidy them first.
    for (const char* path : {"/static/../users", "/static/%2e%2e/users", "/static/..%2fusers", "/api/tasks/..%2Fusers.tsk/stop",
                             "/static/%00app.js"}) {
        const QByteArray got = raw(s.port, "GET " + QByteArray(path) + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 2000);
        QVERIFY2(statusOf(got) == 404, got.constData());
    }
    QCOMPARE(h.send("PUT", QStringLiteral("/api/tasks"), "{}", {}).status, 405);
    QCOMPARE(h.post(QStringLiteral("/api/tasks"), "{not json").status, 400);
    // Past the limits: refused before anything reads them.
    const QByteArray longHeader = "GET /api/status HTTP/1.1\r\nHost: x\r\nX-Pad: " + QByteArray(9000, 'a') + "\r\n\r\n";
    QCOMPARE(statusOf(raw(s.port, longHeader)), 431);
    const QByteArray bigBody = "POST /api/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: 300000\r\n\r\n" +
                               QByteArray(300000, ' ');
    QCOMPARE(statusOf(raw(s.port, bigBody)), 413);
    QCOMPARE(h.post(QStringLiteral("/api/login"), QByteArray(300 * 1024, ' '), false).status, 413);
    // Not HTTP at all.
    QCOMPARE(statusOf(raw(s.port, QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 16))), 400);
    QCOMPARE(statusOf(raw(s.port, "hello\r\n\r\n")), 400);
    // And the service goes on serving.
    QCOMPARE(h.get(QStringLiteral("/api/status")).status, 200);
    QString why;
    QVERIFY2(s.stopCleanly(why), qPrintable(why));
}

void TestWebSecurity::slowClientsAndTooManyConnections() {
    WebStation s;
    QVERIFY(s.make(1, {}));
    QVERIFY2(s.start(), qPrintable(s.output()));
    // At most 16 connections of one client; the next one is told so.
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < 16; ++i) {
        held.push_back(std::make_unique<QTcpSocket>());
        held.back()->connectToHost(QStringLiteral("127.0.0.1"), s.port);
        QVERIFY(held.back()->waitForConnected());
    }
    QTest::qWait(200);
    const QByteArray refused = raw(s.port, "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
    QCOMPARE(statusOf(refused), 429);
    QVERIFY(refused.contains("Твърде много връзки от този адрес."));
    held.clear();
    QTest::qWait(200);

    // A request that never ends: the others are served meanwhile, and it is cut off.
    QTcpSocket slow;
    slow.connectToHost(QStringLiteral("127.0.0.1"), s.port);
    QVERIFY(slow.waitForConnected());
    slow.write("GET /api/status HTTP/1.1\r\nHost: x\r\n");
    QElapsedTimer t;
    t.start();
    Http h(s.port);
    QCOMPARE(h.get(QStringLiteral("/metrics")).status, 200);
    QVERIFY2(t.elapsed() < 2000, "another client waits for nobody");
    QVERIFY(slow.waitForDisconnected(10000));
    QVERIFY2(t.elapsed() >= 4500 && t.elapsed() < 9000, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(statusOf(slow.readAll()), 408);
    QString why;
    QVERIFY2(s.stopCleanly(why), qPrintable(why));
}

void TestWebSecurity::failedLoginsAreSlowedDown() {
    WebStation s;
    QVERIFY(s.make(1, {}));
    QVERIFY2(s.start(), qPrintable(s.output()));
    // Five guesses: each answered after a second.
    std::vector<std::unique_ptr<Http>> guessers;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 5; ++i) {
        guessers.push_back(std::make_unique<Http>(s.port));
        QCOMPARE(guessers.back()->login(kOperator, QStringLiteral("guess %1").arg(i)).status, 401);
    }
    QVERIFY(t.elapsed() >= 4500);
    // Now the client waits, whatever it sends, the right password too.
    Http h(s.port);
    const Response waited = h.login(kOperator, kOperatorPassword);
    QCOMPARE(waited.status, 429);
    QVERIFY(waited.header("Retry-After").toInt() >= 1);
    QVERIFY(waited.json().value(QStringLiteral("error")).toString().startsWith(QStringLiteral("Твърде много неуспешни опити за вход.")));
    QTRY_COMPARE_WITH_TIMEOUT(int(s.output().count(QStringLiteral("Уеб: неуспешен вход като „ivan“ от 127.0.0.1."))), 5, 5000);
    const promreader::Result m = promreader::Read(h.get(QStringLiteral("/metrics")).body);
    QCOMPARE(sample(m, "chantest_web_login_failures_total"), 5.0);
    // After the wait, the right password opens.
    QTest::qWait(waited.header("Retry-After").toInt() * 1000 + 100);
    QCOMPARE(h.login(kOperator, kOperatorPassword).status, 200);
    QString why;
    QVERIFY2(s.stopCleanly(why), qPrintable(why));
}

void TestWebSecurity::metricsBehindTheLogin() {
    WebStation s;
    QVERIFY(s.make(1, {}));
    QVERIFY2(s.start({QStringLiteral("--metrics-login")}), qPrintable(s.output()));
    Http h(s.port);
    const Response anonymous = h.get(QStringLiteral("/metrics"));
    QCOMPARE(anonymous.status, 401);
    QVERIFY(anonymous.header("WWW-Authenticate").startsWith("Basic"));
    const auto basic = [](const QString& name, const QString& password) {
        return QList<QPair<QByteArray, QByteArray>>{{"Authorization", "Basic " + (name + u':' + password).toUtf8().toBase64()}};
    };
    QCOMPARE(h.get(QStringLiteral("/metrics"), basic(kViewer, QStringLiteral("wrong"))).status, 401);
    const Response scraped = h.get(QStringLiteral("/metrics"), basic(kViewer, kViewerPassword));
    QCOMPARE(scraped.status, 200);
    QVERIFY(promreader::Read(scraped.body).ok());
    QCOMPARE(h.get(QStringLiteral("/metrics"), basic(kViewer, kViewerPassword)).status, 200); // remembered a minute
    // A session opens it too.
    QCOMPARE(h.login(kOperator, kOperatorPassword).status, 200);
    QCOMPARE(h.get(QStringLiteral("/metrics")).status, 200);
    QString why;
    QVERIFY2(s.stopCleanly(why), qPrintable(why));
}

void TestWebSecurity::tlsAndTheCommandLine() {
    WebStation s;
    QVERIFY(s.make(1, {}));
    // A bad command line is refused with code 2.
    for (const QStringList& args : {QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:8470")},
                                    QStringList{QStringLiteral("--users"), s.work + "/users"},
                                    QStringList{QStringLiteral("--listen"), QStringLiteral("nowhere"), QStringLiteral("--users"), s.work + "/users"}}) {
        QProcess p;
        p.start(s.bin + "/chantest-service", QStringList{QStringLiteral("--folder"), s.work} + args);
        QVERIFY(p.waitForFinished(10000));
        QVERIFY2(p.exitCode() == 2, qPrintable(args.join(u' ')));
    }
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        QSKIP("openssl is not installed: no certificate for the TLS case");
    QProcess gen;
    gen.start(openssl, {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                        QStringLiteral("-nodes"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-days"),
                        QStringLiteral("2"), QStringLiteral("-keyout"), s.work + "/key.pem", QStringLiteral("-out"), s.work + "/cert.pem"});
    QVERIFY(gen.waitForFinished(30000) && gen.exitCode() == 0);
    QVERIFY2(s.start({QStringLiteral("--tls-cert"), s.work + "/cert.pem", QStringLiteral("--tls-key"), s.work + "/key.pem"}),
             qPrintable(s.output()));
    QVERIFY(s.output().contains(QStringLiteral("https://127.0.0.1:%1/").arg(s.port)));
    Http h(s.port, QStringLiteral("https"));
    h.ignoreTlsErrors = true;
    const Response ok = h.login(kOperator, kOperatorPassword);
    QCOMPARE(ok.status, 200);
    QVERIFY2(ok.header("Set-Cookie").contains("; Secure"), ok.header("Set-Cookie").constData());
    QVERIFY(ok.header("Strict-Transport-Security").startsWith("max-age="));
    QCOMPARE(h.get(QStringLiteral("/api/status")).status, 200);
    // Plain HTTP on the TLS port gets nothing.
    QCOMPARE(statusOf(raw(s.port, "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", 2000)), 0);
    QString why;
    QVERIFY2(s.stopCleanly(why), qPrintable(why));
}

QTEST_MAIN(TestWebSecurity)
#include "test_web_security.moc"
