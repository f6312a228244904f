#pragma once
// The simulated Hayes modem itself, free of any transport: bytes from the computer go in by
// input(), bytes for the computer come out through the output callback.

#include "AnswerTable.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

struct ModemOptions {
    bool echo = true;
    int guardMs = 1000;       // silence after "+++" that returns to command mode on its own
    int floodBytes = 1000000; // size of a FLOOD answer
    int dialtoneGapMs = 0;    // a dial this soon after the previous call ends gets NO DIALTONE
    bool verboseLog = false;  // the dialogue on stderr
};

class Modem : public QObject {
    Q_OBJECT
public:
    Modem(const AnswerTable& table, ModemOptions options, QObject* parent = nullptr);

    std::function<void(const QByteArray&)> output;
    std::function<void()> dropLink; // a HANGUP answer
    std::function<void()> answered; // a dial's answer line was sent

    void input(const QByteArray& bytes);
    void reset(); // a fresh modem: command mode, defaults, no call

private:
    void commandChar(char c, QByteArray& echo);
    void execute(const QByteArray& line);
    void dial(const QString& number);
    void dialAnswered();
    void result(const QByteArray& text);
    void send(const QByteArray& bytes);
    void endCall();

    const AnswerTable& table_;
    ModemOptions options_;
    bool echo_ = true;
    bool verbose_ = true;
    int xLevel_ = 4;
    bool dataMode_ = false;
    bool inCall_ = false;
    bool dialing_ = false; // after ATD, until the answer or an abort
    int plusCount_ = 0;
    QByteArray line_;
    QTimer dialTimer_;
    QTimer guardTimer_;
    Answer pending_;
    QElapsedTimer sinceCallEnd_;
};
