#include "Modem.h"

#include <cstdio>

Modem::Modem(const AnswerTable& table, ModemOptions options, QObject* parent)
    : QObject(parent), table_(table), options_(options) {
    dialTimer_.setSingleShot(true);
    guardTimer_.setSingleShot(true);
    connect(&dialTimer_, &QTimer::timeout, this, &Modem::dialAnswered);
    connect(&guardTimer_, &QTimer::timeout, this, [this] {
        // "+++" and the guard time: back in command mode, the call still up.
        dataMode_ = false;
        plusCount_ = 0;
        result("OK");
    });
    reset();
}

void Modem::reset() {
    echo_ = options_.echo;
    verbose_ = true;
    xLevel_ = 4;
    dataMode_ = false;
    inCall_ = false;
    plusCount_ = 0;
    line_.clear();
    dialing_ = false;
    dialTimer_.stop();
    guardTimer_.stop();
    sinceCallEnd_.invalidate();
}

void Modem::send(const QByteArray& bytes) {
    if (options_.verboseLog)
        std::fprintf(stderr, "modem-sim >> %s\n", bytes.toPercentEncoding(" +#").constData());
    if (output)
        output(bytes);
}

void Modem::input(const QByteArray& bytes) {
    if (options_.verboseLog)
        std::fprintf(stderr, "modem-sim << %s\n", bytes.toPercentEncoding(" +#").constData());
    QByteArray echo;
    for (const char c : bytes) {
        if (dataMode_) {
            if (c == '+' && plusCount_ < 3) {
                if (++plusCount_ == 3)
                    guardTimer_.start(options_.guardMs);
                continue;
            }
            if (plusCount_ == 3) {
                // Escape followed at once by a command: back in command mode for it.
                guardTimer_.stop();
                dataMode_ = false;
                plusCount_ = 0;
                commandChar(c, echo);
                continue;
            }
            plusCount_ = 0;
            guardTimer_.stop();
            continue; // data for the far end: nobody there
        }
        commandChar(c, echo);
    }
    if (!echo.isEmpty())
        send(echo);
}

void Modem::commandChar(char c, QByteArray& echo) {
    if (dialing_) {
        // Any key aborts a dial in progress.
        if (!echo.isEmpty()) {
            send(echo);
            echo.clear();
        }
        dialTimer_.stop();
        dialing_ = false;
        endCall();
        result("NO CARRIER");
        return;
    }
    if (echo_)
        echo.append(c);
    if (c == '\r') {
        if (!echo.isEmpty()) {
            send(echo);
            echo.clear();
        }
        const QByteArray line = line_;
        line_.clear();
        execute(line.trimmed());
    } else if (c == '\b') {
        line_.chop(1);
    } else if (c != '\n' && line_.size() < 256) {
        line_.append(c);
    }
}

void Modem::execute(const QByteArray& line) {
    if (line.size() < 2 || qstrnicmp(line.constData(), "AT", 2) != 0)
        return; // not a command line: real modems ignore such noise
    const QByteArray cmd = line.mid(2);
    qsizetype i = 0;
    auto number = [&](int fallback) {
        int v = 0;
        bool any = false;
        while (i < cmd.size() && cmd[i] >= '0' && cmd[i] <= '9') {
            v = v * 10 + (cmd[i++] - '0');
            any = true;
        }
        return any ? v : fallback;
    };
    while (i < cmd.size()) {
        const char c = char(QChar::toUpper(uchar(cmd[i++])));
        switch (c) {
        case ' ':
            break;
        case 'E':
            echo_ = number(0) != 0;
            break;
        case 'V':
            verbose_ = number(0) != 0;
            break;
        case 'X': {
            const int x = number(0);
            if (x > 4)
                return result("ERROR");
            xLevel_ = x;
            break;
        }
        case 'Z':
            number(0);
            echo_ = options_.echo;
            verbose_ = true;
            xLevel_ = 4;
            break;
        case 'H':
            number(0);
            if (inCall_)
                endCall();
            break;
        case 'O':
            number(0);
            if (!inCall_)
                return result("NO CARRIER");
            dataMode_ = true;
            return result("CONNECT");
        case 'I':
            number(0);
            send(verbose_ ? "\r\nchantest modem-sim\r\n" : "chantest modem-sim\r\n");
            break;
        case 'A':
            return result("NO CARRIER");
        case 'D':
            dial(QString::fromLatin1(cmd.mid(i)));
            return;
        case 'S':
            number(0);
            if (i < cmd.size() && cmd[i] == '=') {
                ++i;
                number(0);
            } else if (i < cmd.size() && cmd[i] == '?') {
                ++i;
                send(verbose_ ? "\r\n000\r\n" : "000\r\n");
            }
            break;
        case '&':
        case '\\':
        case '%':
            if (i < cmd.size())
                ++i;
            number(0);
            break;
        case '+':
            // Extended command: up to a ';' or the end of the line.
            while (i < cmd.size() && cmd[i] != ';')
                ++i;
            if (i < cmd.size())
                ++i;
            break;
        case 'B':
        case 'C':
        case 'L':
        case 'M':
        case 'N':
        case 'P':
        case 'Q':
        case 'T':
        case 'W':
        case 'Y':
            number(0);
            break;
        default:
            return result("ERROR");
        }
    }
    result("OK");
}

void Modem::dial(const QString& rest) {
    QString number = rest.trimmed();
    if (!number.isEmpty() && (number[0].toUpper() == u'T' || number[0].toUpper() == u'P'))
        number.remove(0, 1);
    number = number.trimmed();
    if (number.endsWith(u';'))
        number.chop(1);
    if (options_.dialtoneGapMs > 0 && sinceCallEnd_.isValid() &&
        sinceCallEnd_.elapsed() < options_.dialtoneGapMs)
        return result("NO DIALTONE");
    pending_ = table_.lookup(number);
    inCall_ = true;
    dialing_ = true;
    if (pending_.kind != Answer::Silent) // silence: the dial waits until a key aborts it
        dialTimer_.start(pending_.delayMs);
}

void Modem::dialAnswered() {
    const Answer a = pending_;
    dialing_ = false;
    switch (a.kind) {
    case Answer::Silent:
        return;
    case Answer::Hangup:
        endCall();
        if (dropLink)
            dropLink();
        return;
    case Answer::Flood: {
        QByteArray flood;
        flood.reserve(options_.floodBytes + 64);
        for (int n = 1; flood.size() < options_.floodBytes; ++n)
            flood.append(QByteArray("FLOOD ") + QByteArray::number(n).rightJustified(8, '0') +
                         " abcdefghijklmnopqrstuvwx\r\n");
        send(flood);
        endCall();
        return result("NO CARRIER");
    }
    case Answer::Text:
        break;
    }
    QByteArray text = a.text;
    if (text == "BUSY" && xLevel_ < 3)
        text = "NO CARRIER";
    if (text.startsWith("CONNECT")) {
        result(text);
        dataMode_ = true;
        plusCount_ = 0;
    } else {
        endCall();
        result(text);
    }
    if (answered)
        answered();
}

void Modem::endCall() {
    inCall_ = false;
    dataMode_ = false;
    sinceCallEnd_.start();
}

void Modem::result(const QByteArray& text) {
    if (verbose_) {
        send("\r\n" + text + "\r\n");
        return;
    }
    static const QHash<QByteArray, QByteArray> codes = {
        {"OK", "0"},           {"CONNECT", "1"},      {"RING", "2"}, {"NO CARRIER", "3"},
        {"ERROR", "4"},        {"NO DIALTONE", "6"},  {"BUSY", "7"}, {"NO ANSWER", "8"},
        {"CONNECT 1200", "5"}, {"CONNECT 2400", "10"}};
    send(codes.value(text, text) + "\r");
}
