#include "Bench.h"

#include "links/CommLog.h"
#include "gui/CommLogView.h"
#include "links/SerialLink.h"

#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {
// Resident set size in bytes.
qint64 rssBytes() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4096 : 0;
}

// Received text in chunks of the given size: lines of 40 characters and CR LF.
QByteArray floodText(qsizetype bytes) {
    QByteArray text;
    text.reserve(bytes + 64);
    for (int n = 0; text.size() < bytes; ++n)
        text += "CONNECT 2400 " + QByteArray::number(n).rightJustified(10, '0') + " abcdefghijklmnop\r\n";
    text.truncate(bytes);
    return text;
}
} // namespace

CHANTEST_BENCH("links") {
    {
        const qint64 before = rssBytes();
        auto log = std::make_unique<CommLog>();
        const QByteArray line = QByteArray(40, 'x') + "\r\n";
        QByteArray chunk;
        for (int i = 0; i < 25; ++i)
            chunk += line;
        const double s = bench::seconds([&] {
            for (int i = 0; i < 1000000 / 25; ++i)
                log->append(chunk);
        });
        const qint64 after = rssBytes();
        bench::report(QStringLiteral("links.log_1M_lines_of_40_rss_delta"), (after - before) / 1e6,
                      QStringLiteral("MB"));
        bench::report(QStringLiteral("links.log_1M_lines_of_40_held_text"), log->heldBytes() / 1e6,
                      QStringLiteral("MB"));
        bench::report(QStringLiteral("links.log_1M_lines_of_40_append"), s, QStringLiteral("s"));
    }
    const QByteArray flood = floodText(10 * 1000 * 1000);
    for (const int chunkSize : {1, 64, 4096}) {
        CommLog log;
        const qsizetype limit = chunkSize == 1 ? 1000 * 1000 : flood.size(); // byte by byte: 1 MB of it
        const double s = bench::seconds([&] {
            for (qsizetype pos = 0; pos < limit; pos += chunkSize)
                log.append(QByteArrayView(flood).sliced(pos, std::min<qsizetype>(chunkSize, limit - pos)));
        });
        bench::report(QStringLiteral("links.log_flood_append_chunks_of_%1").arg(chunkSize), limit / s / 1e6,
                      QStringLiteral("MB/s"));
    }
    for (const int every : {4096, 65536, 1 << 20}) {
        // The flood with the log box attached and redrawn after every so many bytes: the
        // refresh timer fires every 50 ms, which is 600 bytes at 115200 baud and megabytes
        // over a fast TCP link.
        CommLog log;
        QPlainTextEdit edit;
        CommLogView view(log, &edit);
        int refreshes = 0;
        const double s = bench::seconds([&] {
            for (qsizetype pos = 0; pos < flood.size(); pos += 4096) {
                log.append(QByteArrayView(flood).sliced(pos, std::min<qsizetype>(4096, flood.size() - pos)));
                if ((pos + 4096) % every == 0) {
                    view.refresh();
                    ++refreshes;
                }
            }
            view.refresh();
        });
        bench::report(QStringLiteral("links.view_flood_10MB_refresh_per_%1_bytes").arg(every), s,
                      QStringLiteral("s"));
        bench::report(QStringLiteral("links.view_flood_refresh_per_%1_bytes_mean").arg(every),
                      s / (refreshes + 1) * 1000, QStringLiteral("ms"));
        // A redraw that meets more than kMaxInserted new lines starts afresh with the latest of
        // them, so after a flood the box holds those (and the open line), never above kShownLines.
        bench::report(QStringLiteral("links.view_flood_lines_shown_per_%1_bytes").arg(every),
                      edit.document()->blockCount(), QStringLiteral("lines"));
    }

    {
        // How long after the last byte of a burst its cluster is handed over, on a real
        // pseudo-terminal at 115200 and 9600 baud (ideal: 250 ms plus nothing).
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        for (const int baud : {115200, 9600}) {
            SerialLink link;
            link.setPortName(QString::fromLocal8Bit(ptsname(master)));
            link.setBaudRate(baud);
            link.setActive(true);
            if (!link.isActive())
                break;
            double worst = 0, sum = 0;
            const int rounds = 5;
            for (int r = 0; r < rounds; ++r) {
                QEventLoop loop;
                QElapsedTimer t;
                QObject::connect(&link, &SerialLink::clusterReceived, &loop, [&] { loop.quit(); });
                QTimer::singleShot(5000, &loop, &QEventLoop::quit);
                const QByteArray burst = "atdt#80012\r\r\nCONNECT 2400\r\n";
                t.start();
                if (::write(master, burst.constData(), size_t(burst.size())) != burst.size())
                    break;
                loop.exec();
                const double ms = t.nsecsElapsed() / 1e6;
                worst = std::max(worst, ms);
                sum += ms;
            }
            bench::report(QStringLiteral("links.serial_cluster_after_burst_%1_baud_mean").arg(baud),
                          sum / rounds, QStringLiteral("ms"));
            bench::report(QStringLiteral("links.serial_cluster_after_burst_%1_baud_worst").arg(baud), worst,
                          QStringLiteral("ms"));
        }
        ::close(master);
    }
}
