// A modem server that floods 10 MB in answer to a dial, as fast as loopback carries it: what
// the window's thread pays meanwhile (appending to the log and its display, the 200 ms ticks)
// and how much memory the log holds.
#include "Bench.h"

#include "engine/TestCycle.h"
#include "links/CommLog.h"
#include "gui/CommLogView.h"
#include "links/TcpLink.h"
#include "mock/MockClock.h"

#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
constexpr qsizetype kFloodBytes = 10 * 1024 * 1024;

qint64 residentKb() {
    FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    qint64 kb = -1;
    while (f && std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %lld kB", &kb) == 1)
            break;
    if (f)
        std::fclose(f);
    return kb;
}

// One client: waits for the dial, then sends the flood and NO CARRIER, and closes. With
// paceMs, in pieces of 64 kB that far apart; otherwise as fast as it goes.
void floodServer(int listener, int paceMs) {
    const int c = ::accept(listener, nullptr, nullptr);
    if (c < 0)
        return;
    char buf[256];
    QByteArray got;
    while (!got.contains('\r')) {
        const ssize_t n = ::read(c, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
    }
    QByteArray flood;
    flood.reserve(kFloodBytes + 64);
    for (int n = 1; flood.size() < kFloodBytes; ++n)
        flood += "FLOOD " + QByteArray::number(n).rightJustified(8, '0') + " abcdefghijklmnopqrstuvwx\r\n";
    flood += "\r\nNO CARRIER\r\n";
    for (qsizetype done = 0; done < flood.size();) {
        const size_t piece =
            paceMs > 0 ? std::min<size_t>(65536, size_t(flood.size() - done)) : size_t(flood.size() - done);
        const ssize_t n = ::write(c, flood.constData() + done, piece);
        if (n <= 0)
            break;
        done += n;
        if (paceMs > 0)
            ::usleep(useconds_t(paceMs) * 1000);
    }
    ::shutdown(c, SHUT_WR);
    while (::read(c, buf, sizeof buf) > 0) {
    }
    ::close(c);
}

class LinkPort : public ModemPort {
public:
    explicit LinkPort(TcpLink& link) : link_(link) {}
    void send(const QByteArray& bytes) override {
        if (link_.isConnected())
            link_.sendString(bytes);
    }

private:
    TcpLink& link_;
};
} // namespace

static void runFlood(const QString& name, int paceMs) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        std::fprintf(stderr, "flood: no loopback socket\n");
        return;
    }
    std::thread server(floodServer, listener, paceMs);

    const qint64 rssBefore = residentKb();
    CommLog log;
    QPlainTextEdit memo;
    memo.resize(624, 313);
    memo.show();
    CommLogView view(log, &memo);
    TcpLink link;
    LinkPort port(link);
    MockClock clock;
    bool stop = false;
    TestCycle::Settings settings;
    settings.pauseText = [] { return QStringLiteral("20"); };
    TestCycle cycle({QStringLiteral("Flood -- Server  1 Ch. --> #80011"),
                     QStringLiteral("Flood -- Server  2 Ch. --> #80012")},
                    clock, port, log, stop, settings,
                    [](const QString&, const QString&, int, const QDateTime&) {});

    std::vector<double> appendMs, tickMs, lateMs;
    qint64 received = 0;
    QElapsedTimer t;
    QObject::connect(&link, &TcpLink::dataReceived, &link, [&](const QByteArray& data) {
        t.start();
        log.append(data);
        appendMs.push_back(double(t.nsecsElapsed()) / 1e6);
        received += data.size();
    });
    QEventLoop loop;
    QObject::connect(&link, &TcpLink::stateChanged, &loop, [&](TcpLink::State s) {
        if (s == TcpLink::wsClosed)
            loop.quit();
    });
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(TestCycle::kTickMs);
    QElapsedTimer since;
    qint64 due = 0;
    QObject::connect(&ticks, &QTimer::timeout, &ticks, [&] {
        const qint64 now = since.elapsed();
        if (cycle.tickCount() >= 20 && link.isConnected()) // from the dial on: under the flood
            lateMs.push_back(double(std::max<qint64>(0, now - due)));
        due = now + TestCycle::kTickMs;
        clock.advanceMs(TestCycle::kTickMs);
        QElapsedTimer tick;
        tick.start();
        cycle.tick();
        if (cycle.tickCount() > 20 && link.isConnected())
            tickMs.push_back(double(tick.nsecsElapsed()) / 1e6);
    });
    link.connectTo(QStringLiteral("127.0.0.1"), QString::number(ntohs(a.sin_port)));
    since.start();
    ticks.start();
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    const QElapsedTimer wall = [] {
        QElapsedTimer w;
        w.start();
        return w;
    }();
    loop.exec();
    const double floodS = wall.elapsed() / 1000.0 - 4.0; // the dial comes at tick 20
    ticks.stop();
    link.close();
    server.join();
    ::close(listener);

    bench::report(name + QStringLiteral(".received_bytes"), double(received), QStringLiteral("B"));
    bench::report(name + QStringLiteral(".duration_after_dial"), floodS, QStringLiteral("s"));
    bench::report(name + QStringLiteral(".chunks"), double(appendMs.size()), QStringLiteral("n"));
    bench::report(name + QStringLiteral(".append_chunk_p99"), bench::percentile(appendMs, 0.99),
                  QStringLiteral("ms"));
    bench::report(name + QStringLiteral(".append_chunk_max"), bench::percentile(appendMs, 1.0),
                  QStringLiteral("ms"));
    bench::report(name + QStringLiteral(".ticks_under_flood"), double(lateMs.size()), QStringLiteral("n"));
    bench::report(name + QStringLiteral(".tick_p99"), bench::percentile(tickMs, 0.99), QStringLiteral("ms"));
    bench::report(name + QStringLiteral(".tick_late_p99"), bench::percentile(lateMs, 0.99), QStringLiteral("ms"));
    bench::report(name + QStringLiteral(".tick_late_max"), bench::percentile(lateMs, 1.0), QStringLiteral("ms"));
    bench::report(name + QStringLiteral(".log_held"), double(log.heldBytes()) / 1048576.0,
                  QStringLiteral("MB"));
    bench::report(name + QStringLiteral(".log_lines"), double(log.commLineIndex()), QStringLiteral("n"));
    bench::report(name + QStringLiteral(".resident_growth"), double(residentKb() - rssBefore) / 1024.0,
                  QStringLiteral("MB"));
}

CHANTEST_BENCH("flood") {
    runFlood(QStringLiteral("flood.burst_10MB"), 0);
    runFlood(QStringLiteral("flood.paced_10MB_2MBps"), 30);
}
