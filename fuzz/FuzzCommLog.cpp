// Fuzzing of the communication log with arbitrary modem bytes, and of the test cycle reading
// its answers from that log.
#include "FuzzEntries.h"
#include "FuzzUtil.h"

#include "engine/TestCycle.h"
#include "links/CommLog.h"
#include "mock/MockClock.h"

#include <algorithm>
#include <string>

namespace fuzz {

namespace {
// The log's rules in their plainest form: the open line and the last completed one.
struct LogModel {
    std::string open, last;
    int lineFeeds = 0;
    int chunks = 0; // chunks that held more than NUL bytes

    void append(QByteArrayView raw) {
        std::string chunk;
        for (char c : raw)
            if (c != '\0')
                chunk += c;
        if (chunk.empty())
            return;
        ++chunks;
        if (chunk[0] == '\b')
            open.resize(open.size() - std::min(open.size(), chunk.size()));
        for (char c : chunk) {
            if (c == '\n') {
                last = open;
                open.clear();
                ++lineFeeds;
            } else if (c != '\r' && c != '\b' && open.size() < size_t(CommLog::kMaxLineLength)) {
                open += c;
            }
        }
    }
};

class SentBytes : public ModemPort {
public:
    void send(const QByteArray& bytes) override {
        FUZZ_CHECK(bytes.endsWith('\r') && bytes.size() < 8192,
                   "the cycle sent " + std::to_string(bytes.size()) + " bytes");
        ++sent;
    }
    int sent = 0;
};

std::string str(const QByteArray& b) {
    return std::string(b.constData(), size_t(b.size()));
}
} // namespace

void commLog(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t head = in.byte();
    const uint8_t pick = in.byte();
    const int repeat = 1 << (head >> 5); // up to 128 passes: a flood past the kept lines
    const int seed = head & 31;
    const QByteArrayView bytes = in.rest();

    CommLog log;
    int callbacks = 0;
    log.setAppendedCallback([&] { ++callbacks; });
    LogModel model;

    MockClock clock;
    SentBytes port;
    bool stop = false;
    TestCycle::Settings settings;
    settings.sendInit = pick & 1;
    settings.initString = QStringLiteral("ATZ");
    settings.speedString = (pick & 2) ? QStringLiteral("AT+MS=V34") : QString();
    settings.pauseText = [] { return QStringLiteral("0"); };
    const QStringList channels{QStringLiteral("A -- x  1 Ch. --> #8001"),
                               QStringLiteral("B -- y  2 Ch. --> #8002")};
    int recorded = 0;
    TestCycle cycle(channels, clock, port, log, stop, settings,
                    [&](const QString& key, const QString& answer, int delay, const QDateTime&) {
                        FUZZ_CHECK(channels.contains(key), "a test recorded for a channel not in the task");
                        FUZZ_CHECK(!answer.contains(u'\n') && answer.size() <= CommLog::kMaxLineLength,
                                   "a recorded answer longer than a log line");
                        FUZZ_CHECK(delay >= 0, "a negative delay");
                        ++recorded;
                    });
    bool running = true;
    int lastTick = -1;

    int previous = log.commLineIndex();
    int k = 0;
    for (int pass = 0; pass < repeat; ++pass) {
        qsizetype pos = 0;
        while (pos < bytes.size()) {
            const qsizetype n = std::min<qsizetype>(1 + (seed * 7 + k * 13) % 61, bytes.size() - pos);
            ++k;
            const QByteArrayView chunk = bytes.sliced(pos, n);
            pos += n;
            log.append(chunk);
            model.append(chunk);

            const int open = log.commLineIndex();
            FUZZ_CHECK(open >= previous, "CommLineIndex went back");
            previous = open;
            FUZZ_CHECK(open == model.lineFeeds, "CommLineIndex is not the number of line feeds");
            FUZZ_CHECK(open - log.firstKeptIndex() + 1 <= CommLog::kKeptLines,
                       "more lines kept than the limit");
            const QByteArray openBytes = log.lineBytes(open);
            FUZZ_CHECK(openBytes.size() <= CommLog::kMaxLineLength, "the open line is longer than the limit");
            FUZZ_CHECK(str(openBytes) == model.open, "the open line differs from the rules");
            if (open >= 1 && open - 1 >= log.firstKeptIndex())
                FUZZ_CHECK(str(log.lineBytes(open - 1)) == model.last,
                           "the last completed line differs from the rules");
            FUZZ_CHECK(log.lineBytes(open + 1).isEmpty() && log.line(open + 1).isEmpty(),
                       "a line not yet reached has text");
            if (log.firstKeptIndex() > 0)
                FUZZ_CHECK(log.lineBytes(log.firstKeptIndex() - 1).isEmpty(), "a dropped line still reads");
            FUZZ_CHECK(callbacks == model.chunks, "the display was not told of every append");

            // The cycle reads the log as a run would, a tick or two per received chunk.
            for (int t = 0; running && t < 1 + (chunk[0] & 1); ++t) {
                clock.advanceMs(TestCycle::kTickMs);
                const TestCycle::Step s = cycle.tick();
                FUZZ_CHECK(cycle.tickCount() > lastTick, "the tick count went back");
                lastTick = cycle.tickCount();
                FUZZ_CHECK(cycle.channelIndex() >= 0 && cycle.channelIndex() <= cycle.channelCount(),
                           "the channel index left the task");
                running = s.end == TestCycle::End::None;
            }
        }
    }
    FUZZ_CHECK(recorded <= channels.size(), "more tests recorded than the task has channels");
}

} // namespace fuzz
