// The report's building blocks: the Prometheus metrics read back by a strict reader of the
// format (and by promtool where it is installed), the SVG charts read as XML, and the check's
// thresholds.
#include "PromReader.h"
#include "report/ReportCharts.h"
#include "report/ReportCheck.h"
#include "report/ReportPrometheus.h"

#include <QBuffer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QXmlStreamReader>

#include <cmath>

using namespace report;

namespace {
template <typename Fn> QByteArray written(Fn fn) {
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    {
        Sink out(buf);
        fn(out);
    }
    return buf.data();
}

const QString kOdd = QStringLiteral("Русе \"Юг\" \\ ред\nдва");

// Two stations, one unreadable; an exchange with every character the format escapes; a channel
// listed twice (two dial strings) with two streaks.
PromMetrics sampleMetrics() {
    PromMetrics m;
    m.stations = {{QStringLiteral("Север"), true, QDateTime(QDate(2026, 12, 8), QTime(2, 23))},
                  {QStringLiteral("Юг"), false, {}}};
    PromExchange e{QStringLiteral("Север"), kOdd, QStringLiteral("Център")};
    e.add(monthfile::kMarkConnect, 0);
    e.add(monthfile::kMarkBusy, 0);
    e.add(monthfile::kMarkFailure, 3);
    e.add(monthfile::kMarkFailure, 14);
    for (const monthfile::ResultGroup& g :
         monthfile::ResultGroups(QStringLiteral("k^CONNECT^1200^2612080200^BUSY^900^2612080210^")))
        e.calls.add(g);
    m.stations[0].calls = e.calls;
    m.exchanges = {e, e};
    m.failed = {{QStringLiteral("Север"), kOdd, QStringLiteral("Център"), QStringLiteral("12"), 3},
                {QStringLiteral("Север"), kOdd, QStringLiteral("Център"), QStringLiteral("12"), 14}};
    return m;
}
} // namespace

class TestReportParts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void prometheusMetrics();
    void prometheusWriterRefuses();
    void callCounts();
    void readerRefuses_data();
    void readerRefuses();
    void promtool();
    void charts();
    void thresholds();
};

void TestReportParts::prometheusMetrics() {
    const QByteArray text = written([](Sink& out) { WritePrometheus(sampleMetrics(), out); });
    QVERIFY(text.contains("direction=\"Русе \\\"Юг\\\" \\\\ ред\\nдва\""));
    const promreader::Result r = promreader::Read(text);
    QVERIFY2(r.ok(), qPrintable(QStringLiteral("line %1: %2").arg(r.errorLine).arg(r.error)));
    QCOMPARE(r.families.size(), 8 + 5); // and the call ratios
    for (const promreader::Family& f : r.families)
        QVERIFY(f.type == "gauge" && !f.help.isEmpty());
    QCOMPARE(r.family("chantest_report_success")->samples[1].value, 0.0);
    QCOMPARE(r.family("chantest_latest_test_timestamp_seconds")->samples.size(), 1); // the other has no test
    QCOMPARE(r.family("chantest_latest_test_timestamp_seconds")->samples[0].value,
             double(QDateTime(QDate(2026, 12, 8), QTime(2, 23)).toSecsSinceEpoch()));
    // The repeated rows are one series, their counts added.
    const promreader::Sample& tested = r.family("chantest_channels_tested")->samples.value(0);
    QCOMPARE(r.family("chantest_channels_tested")->samples.size(), 1);
    QCOMPARE(tested.label("direction"), kOdd);
    QCOMPARE(tested.label("station"), QStringLiteral("Север"));
    QCOMPARE(tested.value, 8.0);
    QCOMPARE(r.family("chantest_channels_failed")->samples[0].value, 4.0);
    QList<double> streaks;
    for (const promreader::Sample& s : r.family("chantest_channels_failing_streak")->samples)
        streaks << s.value;
    QCOMPARE(streaks, (QList<double>{4, 4, 2, 2})); // at least 2, 3, 7, 14 days
    const auto& failed = r.family("chantest_failed_channel_streak")->samples;
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed[0].value, 14.0);
    QCOMPARE(failed[0].label("channel"), QStringLiteral("12"));
    // The ratios: the repeated rows' tests added; the whole period by station alone; nothing for
    // the station that could not be read.
    const auto& asr = r.family("chantest_asr_ratio")->samples;
    QCOMPARE(asr.size(), 2);
    QCOMPARE(asr[0].value, 0.5);
    QCOMPARE(asr[1].labels, (QList<QPair<QByteArray, QString>>{{"station", QStringLiteral("Север")}}));
    QCOMPARE(r.family("chantest_tests")->samples[0].value, 4.0);
    QCOMPARE(r.family("chantest_answer_delay_p95_seconds")->samples[0].value, 12.0);
}

void TestReportParts::callCounts() {
    const auto counts = [](const char* groups) {
        CallCounts c;
        const QString line = QStringLiteral("k^") + QLatin1String(groups); // the groups are views into it
        for (const monthfile::ResultGroup& g : monthfile::ResultGroups(line))
            c.add(g);
        return c;
    };
    // Which answers count where: exactly as recorded, BUSY by the 22-second limit of its mark.
    const CallCounts c = counts("CONNECT^40^2612010100^connect^40^2612010100^BUSY^2200^2612010100^"
                                "BUSY^2201^2612010100^NO ANSWER^0^2612010100^NO ANSWER ^0^2612010100^");
    QCOMPARE(QList<qint64>({c.tests, c.connected, c.busy, c.noAnswer}), QList<qint64>({6, 1, 1, 1}));
    QVERIFY(std::isnan(CallCounts().asr()) && CallCounts().delayPercentile(50) == -1);
    // Delays off the engine's steps of 20 (a file edited by hand) sort among the others, also
    // when counts are added together: -5 40 40 60 18001.
    CallCounts d = counts("CONNECT^40^2612010100^CONNECT^-5^2612010100^CONNECT^18001^2612010100^");
    d += counts("CONNECT^60^2612010100^CONNECT^40^2612010100^");
    QCOMPARE(d.delays(), 5);
    QCOMPARE(QList<int>({d.delayPercentile(1), d.delayPercentile(20), d.delayPercentile(50),
                         d.delayPercentile(80), d.delayPercentile(95)}),
             QList<int>({-5, -5, 40, 60, 18001}));
}

void TestReportParts::prometheusWriterRefuses() {
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    Sink out(buf);
    PromWriter w(out);
    QVERIFY_THROWS_EXCEPTION(PromError, w.sample(1));
    QVERIFY_THROWS_EXCEPTION(PromError, w.family("9lives", "gauge", "x"));
    QVERIFY_THROWS_EXCEPTION(PromError, w.family("a_hist", "histogram", "x"));
    w.family("a", "untyped", "back\\slash\nand line");
    w.sample({{"x", u"1"}, {"y", u"2"}}, qQNaN());
    QVERIFY_THROWS_EXCEPTION(PromError, w.sample({{"y", u"2"}, {"x", u"1"}}, 1));
    QVERIFY_THROWS_EXCEPTION(PromError, w.sample({{"__x", u"1"}}, 1));
    QVERIFY_THROWS_EXCEPTION(PromError, w.sample({{"a-b", u"1"}}, 1));
    w.sample({{"x", u"2"}}, qInf());
    w.sample({{"x", u"3"}}, 0.1);
    w.sample({{"x", u"4"}}, -3);
    w.sample({{"x", u"5"}}, 1e20);
    QVERIFY_THROWS_EXCEPTION(PromError, w.family("a", "gauge", "x"));
    out.flush();
    QCOMPARE(buf.data(), QByteArray("# HELP a back\\\\slash\\nand line\n# TYPE a untyped\n"
                                    "a{x=\"1\",y=\"2\"} NaN\na{x=\"2\"} +Inf\na{x=\"3\"} 0.1\na{x=\"4\"} -3\n"
                                    "a{x=\"5\"} 1e+20\n"));
    QVERIFY(promreader::Read(buf.data()).ok());
}

void TestReportParts::readerRefuses_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    QTest::newRow("sample before its TYPE") << QByteArray("# HELP a x\na 1\n") << 2;
    QTest::newRow("same series twice")
        << QByteArray("# TYPE a gauge\na{x=\"1\",y=\"2\"} 1\na{y=\"2\",x=\"1\"} 2\n") << 3;
    QTest::newRow("bad escape") << QByteArray("# TYPE a gauge\na{x=\"\\t\"} 1\n") << 2;
    QTest::newRow("family comes back") << QByteArray("# TYPE a gauge\na 1\n# TYPE b gauge\nb 1\na 2\n") << 5;
    QTest::newRow("HELP after samples") << QByteArray("# TYPE a gauge\na 1\n# HELP a late\n") << 3;
    QTest::newRow("decimal comma") << QByteArray("# TYPE a gauge\na 1,5\n") << 2;
    QTest::newRow("no line feed at the end") << QByteArray("# TYPE a gauge\na 1") << 2;
    QTest::newRow("unclosed value") << QByteArray("# TYPE a gauge\na{x=\"1\\\"} 1\n") << 2;
    QTest::newRow("valid") << QByteArray("# HELP a x\n# TYPE a gauge\na{b=\"\\\"\",} -Inf\n\n# c\n") << 0;
}

void TestReportParts::readerRefuses() {
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    const promreader::Result r = promreader::Read(text);
    QVERIFY2(r.errorLine == line, qPrintable(QStringLiteral("line %1: %2").arg(r.errorLine).arg(r.error)));
}

void TestReportParts::promtool() {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (tool.isEmpty())
        QSKIP("promtool is not installed (Debian's prometheus package)");
    QProcess p;
    p.start(tool, {QStringLiteral("check"), QStringLiteral("metrics")});
    QVERIFY(p.waitForStarted());
    p.write(written([](Sink& out) { WritePrometheus(sampleMetrics(), out); }));
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished());
    const QByteArray said = p.readAllStandardOutput() + p.readAllStandardError();
    QVERIFY2(p.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
}

void TestReportParts::charts() {
    QCOMPARE(DelayBin(2200), 4); // BUSY at 22.00 s is still "З": the bin 15–22
    QCOMPARE(DelayBin(2201), 5);
    QCOMPARE(DelayBin(18001), kDelayBins - 1);
    DayShares s{QStringLiteral("<Русе & \"Юг\">"), 30};
    for (int d : {1, 2, 3, 5, 7, 8}) {
        s.tested[d] = 200;
        s.connected[d] = d == 2 ? 199 : 150;
    }
    DelayHistogram h;
    h.addConnection(1260);
    h.addBusy(2200);
    h.addBusy(2201);
    const QByteArray page = written([&](Sink& out) {
        out << "<div>";
        WriteDayChartGrid(QVector<DayShares>(14, s), "d", out);
        WriteDelayChart(h, u"Север & <Юг>", "delays", out);
        WriteDayTable({s}, 0, out);
        WriteDelayTable(h, out);
        out << "</div>";
    });
    QXmlStreamReader xml(page);
    int charts = 0, lineStarts = 0, hatched = 0;
    QStringList titles, descs, cells;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = xml.attributes();
        if (xml.name() == u"svg")
            ++charts;
        else if (xml.name() == u"path" && a.value(QLatin1StringView("fill")) == u"none" && charts == 1)
            lineStarts = int(a.value(QLatin1StringView("d")).count(u'M'));
        else if (xml.name() == u"rect" && a.value(QLatin1StringView("fill")) == u"url(#delays-p)")
            ++hatched;
        else if (xml.name() == u"title" || xml.name() == u"desc" || xml.name() == u"td")
            (xml.name() == u"title"  ? titles
             : xml.name() == u"desc" ? descs
                                     : cells)
                << xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(charts, kDayChartsOnPage + 1);
    QCOMPARE(lineStarts, 3); // days 1–3, 5 and 7–8: the days without tests stay gaps
    QCOMPARE(hatched, 3);    // two BUSY bars and the legend
    QCOMPARE(titles.first(), QStringLiteral("Дял на каналите с връзка по дни: <Русе & \"Юг\">"));
    QCOMPARE(titles.last(), QStringLiteral("Закъснения на отговорите — Север & <Юг>"));
    QVERIFY2(descs.last().contains(QStringLiteral("от тях 1 след 22 сек.")), qPrintable(descs.last()));
    QCOMPARE(cells.mid(1, 3),
             (QStringList{QStringLiteral("75"), QStringLiteral("99"), QStringLiteral("75")}));
}

void TestReportParts::thresholds() {
    // -w and -c take a count "N" or a share "N%" of the channels tested, with a point or a comma.
    struct Read {
        const char* text;
        bool percent;
        double value;
    };
    for (const Read& r : {Read{"10", false, 10}, Read{" 0 ", false, 0}, Read{"10%", true, 10},
                          Read{"12,5%", true, 12.5}, Read{"0.5%", true, 0.5}, Read{"100%", true, 100}}) {
        Threshold t;
        QVERIFY2(ParseThreshold(QString::fromUtf8(r.text), t) && t.set, r.text);
        QCOMPARE(t.percent, r.percent);
        QCOMPARE(t.value, r.value);
    }
    // Not the ranges of other plugins, nor a negative count, a fraction of a count, a share past
    // 100 or digits of another script; a refused text leaves the threshold unset.
    for (const char* text : {"10:", "~:10", "10:20", "@10:20", "-1", "1.5", "", "%", "101%", "100.5%",
                             "1,5.%", "10 %", "١٠"}) {
        Threshold t{true, false, 3};
        QVERIFY2(!ParseThreshold(QString::fromUtf8(text), t) && !t.set, text);
    }

    // A count alerts above N, a share above N % (never with none tested); CRITICAL before WARNING.
    Threshold two, half;
    QVERIFY(ParseThreshold(QStringLiteral("2"), two) && ParseThreshold(QStringLiteral("50%"), half));
    QCOMPARE(ThresholdState(two, half, 2, 10), kCheckOk);
    QCOMPARE(ThresholdState(two, half, 3, 10), kCheckWarning);
    QCOMPARE(ThresholdState(two, half, 5, 10), kCheckWarning);
    QCOMPARE(ThresholdState(two, half, 6, 10), kCheckCritical);
    QCOMPARE(ThresholdState(half, two, 3, 10), kCheckCritical);
    QCOMPARE(ThresholdState(half, half, 0, 0), kCheckOk);
    QCOMPARE(ThresholdState({}, {}, 10, 10), kCheckOk);
}

QTEST_GUILESS_MAIN(TestReportParts)
#include "test_report_parts.moc"
