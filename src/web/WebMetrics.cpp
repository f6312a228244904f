#include "WebMetrics.h"

#include "report/ReportPrometheus.h"

#include <QBuffer>

namespace web {

QByteArray LiveMetrics(const StationView& v, const WebCounters& web) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        report::Sink sink(buffer);
        report::PromWriter w(sink);
        w.family("chantest_service_start_time_seconds", "gauge", "Unix time at which the service started.");
        w.sample(double(v.serviceStarted.toSecsSinceEpoch()));
        w.family("chantest_scheduler_last_check_timestamp_seconds", "gauge",
                 "Unix time of the scheduler's latest check of the task files (every 10 s while no task runs).");
        if (v.lastCheck.isValid())
            w.sample(double(v.lastCheck.toSecsSinceEpoch()));
        w.family("chantest_run_active", "gauge", "1 while a task runs, 0 otherwise.");
        w.sample(v.run ? 1 : 0);
        w.family("chantest_run_info", "gauge", "The task that runs, by its name and file; 1 while it runs.");
        if (v.run)
            w.sample({{"task", v.run->task}, {"file", v.run->file}}, 1);
        w.family("chantest_run_channels", "gauge", "Channels of the task that runs; 0 when none runs.");
        w.sample(v.run ? v.run->channels : 0);
        w.family("chantest_run_channels_done", "gauge", "Channels of the task that runs whose test is complete.");
        w.sample(v.run ? v.run->done : 0);
        w.family("chantest_lines", "gauge",
                 "Modem lines of the run by what they do: the test cycle's states (dial, answer, hold, hangup, "
                 "pause), connecting, recovering after a time-out, and away (left the run).");
        for (const QString& state : LineStates()) {
            int n = 0;
            if (v.run)
                for (const LineView& l : v.run->lines)
                    n += l.state == state;
            w.sample({{"state", state}}, n);
        }
        w.family("chantest_tests_recorded_total", "counter",
                 "Tests recorded since the service started, by their mark: Р connection, З busy within 22 s, "
                 "Г failure.");
        const char16_t* marks[] = {u"Р", u"З", u"Г"};
        for (int i = 0; i < 3; ++i)
            w.sample({{"mark", QStringView(marks[i])}}, double(v.recorded[i]));
        w.family("chantest_journal_write_failures_total", "counter",
                 "Recorded tests that could not be written to the journal at once (kept in memory and written at "
                 "the run's end).");
        w.sample(double(v.journalFailures));
        w.family("chantest_web_login_failures_total", "counter", "Failed logins to the web face since the start.");
        w.sample(double(web.loginFailures));
    }
    return buffer.data();
}

} // namespace web
