// The web face under load: a run of 32 simulated modems over TCP (the modem simulator as a
// bank) in this process, its station, service and web face as chantest-service has them, beside
// a month of 65,434 channels; 64 clients on another thread poll /api/status and /metrics as fast as
// they are answered. Prints the requests per second of each and how late the run's ticks are.
#include "Bench.h"

#include "config/LinkSettings.h"
#include "core/Clock.h"
#include "core/TextFile.h"
#include "engine/Station.h"
#include "service/EventLog.h"
#include "service/Service.h"
#include "tasks/TaskFile.h"
#include "web/Users.h"
#include "web/WebService.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kModems = 32;
constexpr int kClients = 64;
constexpr int kChannels = 65434;

// A network as one is built: 22 directions of 3,000 channels, exchanges of 100 channels each.
QString channel(int i) {
    return QStringLiteral("Направление %1 -- Уредба %2  %3 Ch. --> #8%4")
        .arg(i / 3000)
        .arg(i / 100)
        .arg(i % 100 + 1)
        .arg(i, 5, 10, QLatin1Char('0'));
}

// Keep-alive connections that each send their request again as soon as the answer is whole.
class Pollers : public QObject {
public:
    Pollers(quint16 port, QByteArray cookie) : port_(port), cookie_(std::move(cookie)) {}
    std::atomic<int> status{0}, metrics{0}, failed{0};
    std::atomic<qint64> metricsBytes{0};

    void start() {
        for (int i = 0; i < kClients; ++i) {
            auto* s = new QTcpSocket(this);
            const bool isMetrics = i % 2;
            auto buffer = std::make_shared<QByteArray>();
            const QByteArray request = isMetrics ? QByteArray("GET /metrics HTTP/1.1\r\nHost: bench\r\n\r\n")
                                                 : "GET /api/status HTTP/1.1\r\nHost: bench\r\nCookie: " + cookie_ + "\r\n\r\n";
            connect(s, &QTcpSocket::connected, s, [s, request] { s->write(request); });
            connect(s, &QTcpSocket::readyRead, s, [this, s, buffer, request, isMetrics] {
                *buffer += s->readAll();
                const qsizetype end = buffer->indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                const qsizetype at = buffer->indexOf("Content-Length: ");
                const qsizetype length = at < 0 ? 0 : buffer->mid(at + 16, buffer->indexOf('\r', at) - at - 16).toLongLong();
                if (buffer->size() < end + 4 + length)
                    return;
                if (isMetrics)
                    metricsBytes = length;
                (buffer->startsWith("HTTP/1.1 200") ? (isMetrics ? metrics : status) : failed)++;
                buffer->remove(0, end + 4 + length);
                if (!stopped_)
                    s->write(request);
            });
            s->connectToHost(QStringLiteral("127.0.0.1"), port_);
        }
    }
    void stop() { stopped_ = true; }

private:
    quint16 port_;
    QByteArray cookie_;
    bool stopped_ = false;
};

QByteArray loginCookie(quint16 port, const QString& password) {
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    s.waitForConnected(5000);
    const QByteArray body = "{\"name\":\"bench\",\"password\":\"" + password.toUtf8() + "\"}";
    s.write("POST /api/login HTTP/1.1\r\nHost: bench\r\nContent-Type: application/json\r\nContent-Length: " +
            QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray got;
    while (!got.contains("\r\n\r\n") && s.waitForReadyRead(5000))
        got += s.readAll();
    const qsizetype at = got.indexOf("chantest_session=");
    return at < 0 ? QByteArray() : got.mid(at, got.indexOf(';', at) - at);
}
} // namespace

CHANTEST_BENCH("web.polled_run") {
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("bench-web-XXXXXX")));
    const QString results = dir.filePath(QStringLiteral("Results"));
    QDir().mkpath(results);
    const QDate today = QDate::currentDate();
    {
        QStringList month;
        month.reserve(kChannels);
        const QString stamp = today.toString(QStringLiteral("yyMMdd")) + QStringLiteral("0100");
        for (int i = 0; i < kChannels; ++i)
            month.append(channel(i) + (i % 100 ? QStringLiteral("^BUSY^100^") : QStringLiteral("^NO CARRIER^300^")) +
                         stamp + u'^');
        TextFile::writeLines(QDir(results).filePath(today.toString(QStringLiteral("yyMM")) + QStringLiteral(".tst")), month);
    }
    QProcess sim;
    sim.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/modem-sim"));
    sim.setArguments({QStringLiteral("--modems"), QString::number(kModems), QStringLiteral("--default"), QStringLiteral("BUSY 400")});
    sim.start();
    QByteArray said;
    while (said.count("PORT ") < kModems && sim.waitForReadyRead(5000))
        said += sim.readAllStandardOutput();
    const int first = said.mid(said.indexOf("PORT ") + 5, said.indexOf('\n') - said.indexOf("PORT ") - 5).trimmed().toInt();
    if (first <= 0)
        qFatal("the modem simulator did not start");
    TextFile::writeLines(dir.filePath(QString::fromLatin1(LinkSettingsFile::FileName)),
                         {QStringLiteral("^127.0.0.1^"), QStringLiteral("9600^%1-%2^").arg(first).arg(first + kModems - 1),
                          QStringLiteral("ati"), QStringLiteral("at"), QStringLiteral("0"), QStringLiteral("2")});
    QStringList channels;
    for (int i = 0; i < kModems * 25; ++i)
        channels.append(channel(i * 51 % kChannels));
    TextFile::writeLines(dir.filePath(QStringLiteral("run.tsk")),
                         QStringList{TaskFile::buildHeader(QStringLiteral("Нощ"), TaskType::Immediate, 0, 0, TaskStatus::Waiting)} +
                             channels);
    const QString password = QStringLiteral("bench-password");
    TextFile::writeLines(dir.filePath(QStringLiteral("users")),
                         {QStringLiteral("bench:") + QString::fromLatin1(web::Users::hashFor(password.toUtf8())) + QStringLiteral(":viewer")});

    SystemClock clock;
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    EventLog log(devNull, false, clock);
    Station station(Workspace{dir.path(), results, {}}, clock);
    station.takeFolder(FolderLock::Holder::Service);
    // How late each running tick comes after its time: the timer is periodic, so the k-th tick
    // after the first of a stretch at 200 ms is due k × 200 ms after it. A change of the interval
    // restarts the timer, and the stretch.
    std::vector<double> lateMs;
    QElapsedTimer wall;
    wall.start();
    qint64 anchorNs = 0;
    int k = 0, intervalBefore = 0;
    bool reanchor = true;
    QObject::connect(&station.timer(), &QTimer::timeout, [&] { // before the service's own tick
        intervalBefore = station.interval();
        if (intervalBefore != Station::kRunMs) {
            reanchor = true;
            return;
        }
        const qint64 now = wall.nsecsElapsed();
        if (std::exchange(reanchor, false)) {
            anchorNs = now;
            k = 0;
            return;
        }
        ++k;
        lateMs.push_back(std::max(0.0, double(now - anchorNs - qint64(k) * Station::kRunMs * 1000000) / 1e6));
    });
    Service service(station, clock, log, [&] {
        RunSettings s;
        s.link = LinkSettingsFile::load(dir.filePath(QString::fromLatin1(LinkSettingsFile::FileName)), {});
        return s;
    });
    QObject::connect(&station.timer(), &QTimer::timeout, [&] { // after it
        if (station.interval() != intervalBefore)
            reanchor = true;
    });
    web::WebService face(station, clock, [&](const QString& t, bool) { log.line(t); });
    web::WebOptions o;
    o.listen.append({QHostAddress(QHostAddress::LocalHost), 0});
    o.usersFile = dir.filePath(QStringLiteral("users"));
    o.limits.perClient = kClients + 8; // every poller comes from 127.0.0.1
    QString error;
    if (!face.start(o, dir.path(), results, error))
        qFatal("%s", qPrintable(error));
    const quint16 port = face.ports().value(0);

    QHash<QString, int> recorded;
    QObject::connect(&station, &Station::runStarted, [&](Run* run) {
        QObject::connect(run, &Run::recorded, [&](const QString& key) { ++recorded[key]; });
    });

    QThread clients;
    clients.start();
    const QByteArray cookie = loginCookie(port, password);
    if (cookie.isEmpty())
        qFatal("the bench could not log in");
    auto* pollers = new Pollers(port, cookie);
    pollers->moveToThread(&clients);
    QElapsedTimer polled;
    service.start();
    QMetaObject::invokeMethod(pollers, [pollers] { pollers->start(); });
    polled.start();
    QEventLoop loop;
    QObject::connect(&station, &Station::runFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    loop.exec();
    const double seconds = double(polled.nsecsElapsed()) / 1e9;
    const int statusCount = pollers->status, metricsCount = pollers->metrics, failed = pollers->failed;
    const qint64 metricsBytes = pollers->metricsBytes;
    QMetaObject::invokeMethod(pollers, [pollers] { pollers->stop(); delete pollers; }, Qt::BlockingQueuedConnection);
    clients.quit();
    clients.wait();
    face.stop();

    for (const QString& c : channels)
        if (recorded.value(c) != 1)
            qFatal("channel %s recorded %d times", qPrintable(c), recorded.value(c));
    if (failed)
        qFatal("%d requests failed", failed);
    bench::report(QStringLiteral("web.64_clients_32_modems.status_requests_per_s"), statusCount / seconds, QStringLiteral("req/s"));
    bench::report(QStringLiteral("web.64_clients_32_modems.metrics_requests_per_s"), metricsCount / seconds, QStringLiteral("req/s"));
    bench::report(QStringLiteral("web.64_clients_32_modems.metrics_size"), double(metricsBytes) / 1024, QStringLiteral("KiB"));
    bench::report(QStringLiteral("web.64_clients_32_modems.tick_late_p99"), bench::percentile(lateMs, 0.99), QStringLiteral("ms"));
    bench::report(QStringLiteral("web.64_clients_32_modems.tick_late_max"), bench::percentile(lateMs, 1), QStringLiteral("ms"));
    bench::report(QStringLiteral("web.64_clients_32_modems.channels_recorded_once"), double(recorded.size()), QStringLiteral("channels"));
    service.terminate(QStringLiteral("bench"));
    ::close(devNull);
    sim.terminate();
    sim.waitForFinished(5000);
}
