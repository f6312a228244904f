#pragma once
// What the simulated modem answers to each dial string, read from a text file of lines
// "dialstring answer delay_ms" ("#80001 BUSY 300", "#80002 CONNECT 2400 1500", "#80003 SILENT").

#include <QByteArray>
#include <QHash>
#include <QString>

struct Answer {
    enum Kind {
        Text,   // the answer line, framed as a result code
        Silent, // nothing at all: a dead line or a dead modem
        Hangup, // the connection to the modem drops (TCP client closed, pseudo-terminal gone)
        Flood   // a flood of text lines, then NO CARRIER
    };
    Kind kind = Text;
    QByteArray text; // escapes \r \n \t \0 \\ \xNN already applied
    int delayMs = 0;
};

class AnswerTable {
public:
    // "answer [delay_ms]": the part of a table line after the dial string. Throws on a bad line.
    static Answer parseAnswer(const QString& line);
    void load(const QString& path); // '#' alone or blank lines are skipped; throws on errors
    void set(const QString& dial, const Answer& answer) { table_.insert(dial, answer); }
    void setDefault(const Answer& answer) { default_ = answer; }
    const Answer& lookup(const QString& dial) const;

private:
    QHash<QString, Answer> table_;
    Answer default_{Answer::Text, "NO CARRIER", 1000};
};
