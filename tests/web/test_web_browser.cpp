// End to end in a real browser: headless chromium logs in to the service's page, watches a run on
// the simulated bank make progress, stops it, makes a new task from the channel base, opens the
// month and the tests behind a day, and downloads the workbook and the report's page. With
// CHANTEST_SCREENSHOTS=DIR it leaves a screenshot of each step there.
#include "Browser.h"
#include "WebFixture.h"

#include <QDate>

using namespace webtest;

namespace {
// A JavaScript string literal of the text.
QString jsText(const QString& text) {
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

// Yesterday's and earlier tests of the base's channels, so that the grid shows a month.
void writeEarlierDays(const QString& results) {
    const QDate today = QDate::currentDate();
    QDir().mkpath(results);
    const char* answers[] = {"BUSY^700", "NO CARRIER^250", "CONNECT 2400^1510", "BUSY^2450"};
    QString text;
    for (int i = 1; i <= 10; ++i) {
        text += channelLine(i) + u'^';
        for (int d = 1; d < today.day(); ++d) {
            const QString a = QString::fromLatin1(answers[(i + d) % 4]);
            text += a + u'^' + today.toString(QStringLiteral("yyMM")) + QStringLiteral("%1").arg(d, 2, 10, QLatin1Char('0')) +
                    QStringLiteral("02%1^").arg(i, 2, 10, QLatin1Char('0'));
        }
        text += QStringLiteral("\r\n");
    }
    testfiles::writeText(results + u'/' + realprogram::monthFile(), text);
}
} // namespace

class TestWebBrowser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void operatorWatchesStopsAddsAndOpensTheMonth();

private:
    void shot(Browser& b, const QString& name) {
        const QString dir = qEnvironmentVariable("CHANTEST_SCREENSHOTS");
        if (!dir.isEmpty())
            testfiles::writeBytes(dir + u'/' + name + QStringLiteral(".png"), b.screenshot());
    }
};

void TestWebBrowser::operatorWatchesStopsAddsAndOpensTheMonth() {
    if (Browser::program().isEmpty())
        QSKIP("chromium is not installed (scripts/install-deps.sh installs it)");
    WebStation s;
    QStringList answers;
    for (int i = 1; i <= 10; ++i)
        answers << QStringLiteral("#81%1 %2 2000").arg(i, 2, 10, QLatin1Char('0')).arg(i % 3 ? QStringLiteral("BUSY") : QStringLiteral("NO CARRIER"));
    QVERIFY(s.make(2, answers));
    writeEarlierDays(s.results());
    s.task(QStringLiteral("night.tsk"), QStringLiteral("Нощна"), text(TaskType::Immediate), 0, 0, 1, 10);
    s.task(QStringLiteral("daily.tsk"), QStringLiteral("Дневна"), text(TaskType::Daily), 2, 0, 1, 6);
    QVERIFY2(s.start(), qPrintable(s.output()));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(s.port);

    Browser b;
    QString error;
    if (!b.start(error))
        QSKIP(qPrintable(QStringLiteral("chromium cannot run here: ") + error));

    // Not logged in: the login page.
    QVERIFY(b.navigate(base + QStringLiteral("/")));
    QVERIFY2(b.waitFor(QStringLiteral("location.pathname === '/login' && document.getElementById('loginForm')"), 10000),
             qPrintable(b.lastError));
    shot(b, QStringLiteral("web-login"));
    b.eval(QStringLiteral("document.getElementById('name').value = %1; document.getElementById('password').value = %2;"
                          "document.getElementById('enter').click()")
               .arg(jsText(kOperator), jsText(kOperatorPassword)));
    QVERIFY2(b.waitFor(QStringLiteral("location.pathname === '/' && document.getElementById('userName').textContent.includes('ivan')"),
                       10000),
             qPrintable(b.lastError));

    // The run makes progress, line by line, and its dialogue grows in the log.
    QVERIFY(b.waitFor(QStringLiteral("!document.getElementById('runInfo').hidden && "
                                     "document.getElementById('runGauge').value >= 20"),
                      40000));
    QVERIFY(b.eval(QStringLiteral("document.getElementById('runTitle').textContent")).toString().contains(u"„Нощна“"));
    QCOMPARE(b.eval(QStringLiteral("document.querySelectorAll('#lines tbody tr').length")).toInt(), 2);
    QVERIFY(b.waitFor(QStringLiteral("document.getElementById('commLog').textContent.includes('> atdt#81')"), 5000));
    QVERIFY(b.waitFor(QStringLiteral("document.getElementById('commLog').textContent.includes('> BUSY')"), 5000));
    QVERIFY(b.waitFor(QStringLiteral("document.querySelector('#taskTable tr.running button[data-action=stop]')"), 5000));
    // While it runs, no other task can be started now; the daily one can be disabled.
    QVERIFY(b.eval(QStringLiteral("[...document.querySelectorAll('#taskTable button[data-action=start]')].every(b => b.disabled)")).toBool());
    QVERIFY(!b.eval(QStringLiteral("document.querySelector('#taskTable button[data-file=\"daily.tsk\"][data-action=disable]').disabled")).toBool());
    if (!qEnvironmentVariableIsEmpty("CHANTEST_SCREENSHOTS"))
        b.waitFor(QStringLiteral("document.getElementById('runGauge').value >= 40"), 20000);
    shot(b, QStringLiteral("web-run"));

    // "Спри": every modem finishes its channel, and the run ends with the task file gone.
    b.eval(QStringLiteral("document.querySelector('#taskTable tr.running button[data-action=stop]').click()"));
    QVERIFY(b.waitFor(QStringLiteral("!document.getElementById('runNone').hidden"), 30000));
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(s.work + "/night.tsk"), 10000);
    QVERIFY(b.waitFor(QStringLiteral("!document.getElementById('taskTable').textContent.includes('night.tsk')"), 10000));
    const QString log = s.output();
    QVERIFY2(log.contains(QStringLiteral("Уеб: ivan спря задачата „Нощна“ (night.tsk)")), qPrintable(log));
    const int tested = int(log.count(QStringLiteral("Резултат: ")));
    QVERIFY2(tested >= 2 && tested < 10, qPrintable(log));

    // A new task: a direction, then an exchange checks its channels, as in the window.
    QVERIFY(b.waitFor(QStringLiteral("[...document.querySelectorAll('#dirList label')].some(l => l.textContent.includes('Русе'))"),
                      10000));
    b.eval(QStringLiteral("[...document.querySelectorAll('#dirList label')].find(l => l.textContent.includes('Русе'))"
                          ".querySelector('input').click()"));
    QVERIFY(b.waitFor(QStringLiteral("document.querySelectorAll('#exList label').length === 2 && "
                                     "document.querySelectorAll('#chList label').length === 10"),
                      10000));
    b.eval(QStringLiteral("[...document.querySelectorAll('#exList label')].find(l => l.textContent.includes('Юг'))"
                          ".querySelector('input').click()"));
    QCOMPARE(b.eval(QStringLiteral("document.getElementById('chCount').textContent")).toString(), QStringLiteral("(избрани 4 от 10)"));
    b.eval(QStringLiteral("document.getElementById('taskName').value = 'Уеб задача';"
                          "document.querySelector('input[name=type][value=\"По време\"]').click();"
                          "document.getElementById('taskHour').value = '3'; document.getElementById('taskMinute').value = '30';"));
    QVERIFY(!b.eval(QStringLiteral("document.getElementById('taskTime').hidden")).toBool());
    shot(b, QStringLiteral("web-new-task"));
    b.eval(QStringLiteral("document.getElementById('addTask').click()"));
    QVERIFY(b.waitFor(QStringLiteral("document.getElementById('formMessage').textContent.startsWith('Задачата е записана')"), 10000));
    QVERIFY(b.waitFor(QStringLiteral("[...document.querySelectorAll('#taskTable tbody tr')].some(r => "
                                     "r.textContent.includes('Уеб задача') && r.textContent.includes('03:30') && "
                                     "r.textContent.includes('Чакаща'))"),
                      10000));
    QStringList files = TaskFile::listTaskFiles(s.work);
    files.removeOne(QStringLiteral("daily.tsk"));
    QCOMPARE(files.size(), 1);
    const QStringList lines = testfiles::readText(s.work + u'/' + files[0]).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    // In the order of the sorted base, as the window lists them: "10" before "7".
    QCOMPARE(lines, (QStringList{QStringLiteral("Уеб задача^По време^3^30^Чакаща^"), channelLine(10), channelLine(7),
                                 channelLine(8), channelLine(9)}));

    // The month of the direction: today's column holds the marks of the run.
    b.eval(QStringLiteral("document.getElementById('tabResults').click();"
                          "document.getElementById('resDir').value = 'Русе';"
                          "document.getElementById('openMonth').click()"));
    QVERIFY(b.waitFor(QStringLiteral("!document.getElementById('monthView').hidden && "
                                     "document.querySelectorAll('#monthGrid tbody tr').length === 10"),
                      10000));
    const int today = QDate::currentDate().day();
    const QString todayCells = QStringLiteral("[...document.querySelectorAll('#monthGrid td[data-day=\"%1\"]')]").arg(today);
    QCOMPARE(b.eval(todayCells + QStringLiteral(".filter(td => td.textContent).length")).toInt(), tested);
    QVERIFY(b.eval(QStringLiteral("document.getElementById('monthTitle').textContent")).toString().startsWith(u"Данни за месец "));
    shot(b, QStringLiteral("web-month"));

    // The tests behind a day.
    b.eval(todayCells + QStringLiteral(".find(td => td.textContent).click()"));
    QVERIFY(b.waitFor(QStringLiteral("!document.getElementById('details').hidden && "
                                     "document.querySelectorAll('#detailsTable tbody tr').length === 1"),
                      10000));
    QVERIFY(b.eval(QStringLiteral("document.getElementById('detailsTitle').textContent")).toString().contains(u" за  "));
    const QString answer = b.eval(QStringLiteral("document.querySelector('#detailsTable tbody td:nth-child(2)').textContent")).toString();
    QVERIFY2(answer == u"BUSY" || answer == u"NO CARRIER", qPrintable(answer));
    shot(b, QStringLiteral("web-day"));

    // The workbook and the report's page come from the page's own links.
    QCOMPARE(b.eval(QStringLiteral("fetch(document.getElementById('exportLink').href).then(r => r.status + ' ' + "
                                   "r.headers.get('content-type'))"))
                 .toString(),
             QStringLiteral("200 application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"));
    QVERIFY(b.eval(QStringLiteral("fetch(document.getElementById('reportLink').href).then(r => r.text())"))
                .toString()
                .contains(u"Русе"));

    // Out: the page is behind the login again.
    b.eval(QStringLiteral("document.getElementById('logout').click()"));
    QVERIFY(b.waitFor(QStringLiteral("location.pathname === '/login'"), 10000));
    QCOMPARE(b.eval(QStringLiteral("fetch('/api/status').then(r => r.status)")).toInt(), 401);
    QString why;
    QVERIFY2(s.stopCleanly(why), qPrintable(why));
}

QTEST_MAIN(TestWebBrowser)
#include "test_web_browser.moc"
