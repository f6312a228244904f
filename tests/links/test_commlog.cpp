// The communication log's appender: line feeds, ignored CR, the leading-backspace rule, NUL
// bytes, the line length cap and the window of kept lines.

#include "links/CommLog.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
QStringList allLines(const CommLog& log) {
    QStringList out;
    for (int i = log.firstKeptIndex(); i <= log.commLineIndex(); ++i)
        out.append(log.line(i));
    return out;
}
} // namespace

class TestCommLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startsWithOneEmptyLine() {
        CommLog log;
        QCOMPARE(log.commLineIndex(), 0);
        QCOMPARE(log.firstKeptIndex(), 0);
        QCOMPARE(log.line(0), QString());
        log.append("");
        QCOMPARE(log.commLineIndex(), 0);
    }

    void crLfOkCrLfCompletesTwoLines() {
        CommLog log;
        log.append("\r\nOK\r\n");
        QCOMPARE(log.commLineIndex(), 2);
        QCOMPARE(log.line(0), QString());
        QCOMPARE(log.line(1), QStringLiteral("OK"));
        QCOMPARE(log.line(2), QString());
    }

    void echoThenAnswer() {
        CommLog log;
        log.append("atdt#80012\r");
        QCOMPARE(log.commLineIndex(), 0);
        QCOMPARE(log.line(0), QStringLiteral("atdt#80012"));
        log.append("\r\nCONNECT 2400\r\n");
        QCOMPARE(log.commLineIndex(), 2);
        QCOMPARE(log.line(0), QStringLiteral("atdt#80012"));
        QCOMPARE(log.line(1), QStringLiteral("CONNECT 2400"));
    }

    void loneCrEndsNoLine() {
        CommLog log;
        log.append("AB\rCD\r");
        QCOMPARE(log.commLineIndex(), 0);
        QCOMPARE(log.line(0), QStringLiteral("ABCD"));
    }

    void splitAnywhereGivesTheSameLog() {
        const QByteArray text =
            "atx3w2&d0e1\r\r\nOK\r\natdt#80012\r\r\nBUSY\r\n\r\nNO CARRIER\r\n\x10\x03\r\nCONNECT";
        CommLog whole;
        whole.append(text);
        // every single cut point, then random cuts into many pieces
        for (int cut = 1; cut < text.size(); ++cut) {
            CommLog log;
            log.append(QByteArrayView(text).first(cut));
            log.append(QByteArrayView(text).sliced(cut));
            QCOMPARE(log.commLineIndex(), whole.commLineIndex());
            QCOMPARE(allLines(log), allLines(whole));
        }
        QRandomGenerator rng(42);
        for (int round = 0; round < 200; ++round) {
            CommLog log;
            qsizetype pos = 0;
            while (pos < text.size()) {
                const qsizetype n = std::min<qsizetype>(1 + rng.bounded(6), text.size() - pos);
                log.append(QByteArrayView(text).sliced(pos, n));
                pos += n;
            }
            QCOMPARE(allLines(log), allLines(whole));
        }
    }

    void leadingBackspaceChunk_data() {
        QTest::addColumn<QByteArray>("open");
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("index");
        QTest::newRow("three backspaces") << QByteArray("12345") << QByteArray("\b\b\b") << "12" << 0;
        QTest::newRow("two backspaces and AB: whole length counts")
            << QByteArray("12345") << QByteArray("\b\bAB") << "1AB" << 0;
        QTest::newRow("longer than the line empties it, rest appended")
            << QByteArray("12") << QByteArray("\bXYZW") << "XYZW" << 0;
        QTest::newRow("backspace not first is dropped")
            << QByteArray("12345") << QByteArray("A\b\bB") << "12345AB" << 0;
        QTest::newRow("shortens only the open line, then a new line")
            << QByteArray("OK\r\nabcdef") << QByteArray("\bZ\nq") << "q" << 2;
    }
    void leadingBackspaceChunk() {
        QFETCH(QByteArray, open);
        QFETCH(QByteArray, chunk);
        QFETCH(QString, line);
        QFETCH(int, index);
        CommLog log;
        log.append(open);
        log.append(chunk);
        QCOMPARE(log.commLineIndex(), index);
        QCOMPARE(log.line(index), line);
        if (QTest::currentDataTag() == QByteArray("shortens only the open line, then a new line")) {
            QCOMPARE(log.line(0), QStringLiteral("OK"));
            QCOMPARE(log.line(1), QStringLiteral("abZ")); // "abcdef" lost 4, the chunk's length
        }
    }

    void nulBytesNeverReachTheLog() {
        CommLog log;
        log.append(QByteArray("O\0K\r\n", 5));
        QCOMPARE(log.line(0), QStringLiteral("OK"));
        log.append(QByteArray("\0\0", 2));
        QCOMPARE(log.commLineIndex(), 1);
        QCOMPARE(log.line(1), QString());
        // stripped before the backspace rule: "\0\bX" is the chunk "\bX"
        log.append("12345");
        log.append(QByteArray("\0\bX", 3));
        QCOMPARE(log.line(1), QStringLiteral("123X"));
    }

    void bytesAreWindows1251() {
        CommLog log;
        log.append("\xc7\xe0\xe5\xf2\xee\r\n"); // "Заето"
        QCOMPARE(log.line(0), QStringLiteral("Заето"));
        QCOMPARE(log.lineBytes(0), QByteArray("\xc7\xe0\xe5\xf2\xee"));
    }

    void openLineIsCutAtTheCap() {
        CommLog log;
        const QByteArray big(CommLog::kMaxLineLength - 10, 'a');
        log.append(big);
        log.append(QByteArray(100, 'b'));
        QCOMPARE(log.line(0).size(), CommLog::kMaxLineLength);
        QVERIFY(log.line(0).endsWith(QString(10, u'b')));
        log.append("ccc\r\nnext");
        QCOMPARE(log.line(0).size(), CommLog::kMaxLineLength);
        QCOMPARE(log.line(1), QStringLiteral("next"));
        // the cap applies to the line, so rubbing out makes room again
        log.append(QByteArray(CommLog::kMaxLineLength, 'x'));
        log.append("\b\b\b\b\b");
        QCOMPARE(log.line(1).size(), CommLog::kMaxLineLength - 5);
    }

    void onlyTheLatestLinesAreKept() {
        CommLog log;
        const int total = CommLog::kKeptLines + 2500;
        QByteArray chunk;
        for (int i = 0; i < total; ++i)
            chunk += "line " + QByteArray::number(i) + "\r\n";
        log.append(chunk);
        log.append("open");
        QCOMPARE(log.commLineIndex(), total);
        QCOMPARE(log.firstKeptIndex(), total - CommLog::kKeptLines + 1);
        QCOMPARE(log.line(total), QStringLiteral("open"));
        QCOMPARE(log.line(total - 1), QStringLiteral("line %1").arg(total - 1));
        QCOMPARE(log.line(log.firstKeptIndex()), QStringLiteral("line %1").arg(log.firstKeptIndex()));
        QCOMPARE(log.line(log.firstKeptIndex() - 1), QString()); // gone
        QCOMPARE(log.line(total + 1), QString());                // not reached yet
        QCOMPARE(log.line(-1), QString());
    }

    void aKeptLineOutlivesAFlood() {
        CommLog log;
        log.append("atdt#80012\r");
        log.keepLine(log.commLineIndex() + 1); // the answer to come
        QByteArray flood = "\r\nFLOOD 1\r\n";
        for (int i = 2; i < CommLog::kKeptLines + 500; ++i)
            flood += "FLOOD " + QByteArray::number(i) + "\r\n";
        for (qsizetype at = 0; at < flood.size(); at += 4096)
            log.append(QByteArrayView(flood).sliced(at, std::min<qsizetype>(4096, flood.size() - at)));
        QVERIFY(log.firstKeptIndex() > 2);
        QCOMPARE(log.line(1), QStringLiteral("FLOOD 1"));
        QCOMPARE(log.line(0), QString());                        // not kept
        QCOMPARE(log.line(log.firstKeptIndex() - 1), QString()); // not kept
        QCOMPARE(log.line(log.firstKeptIndex()), QStringLiteral("FLOOD %1").arg(log.firstKeptIndex()));
        // Keeping another line lets the first one go.
        log.keepLine(log.commLineIndex());
        QCOMPARE(log.line(1), QString());
    }

    void appendedCallbackFiresPerChunk() {
        CommLog log;
        int calls = 0;
        log.setAppendedCallback([&] { ++calls; });
        log.append("a");
        log.append("");
        log.append("\n");
        QCOMPARE(calls, 2);
    }
};

QTEST_GUILESS_MAIN(TestCommLog)
#include "test_commlog.moc"
