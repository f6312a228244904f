#include "AnswerTable.h"

#include <QFile>
#include <QRegularExpression>
#include <stdexcept>

namespace {
QByteArray unescape(const QString& s) {
    const QByteArray in = s.toLatin1();
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c != '\\' || i + 1 >= in.size()) {
            out.append(c);
            continue;
        }
        const char e = in[++i];
        switch (e) {
        case 'r':
            out.append('\r');
            break;
        case 'n':
            out.append('\n');
            break;
        case 't':
            out.append('\t');
            break;
        case '0':
            out.append('\0');
            break;
        case 's':
            out.append(' ');
            break;
        case 'x': {
            const QByteArray hex = in.mid(i + 1, 2);
            bool ok = false;
            const int v = hex.toInt(&ok, 16);
            if (hex.size() != 2 || !ok)
                throw std::runtime_error("bad \\x escape in " + in.toStdString());
            out.append(char(v));
            i += 2;
            break;
        }
        default:
            out.append(e);
            break;
        }
    }
    return out;
}
} // namespace

Answer AnswerTable::parseAnswer(const QString& line) {
    QStringList tokens = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (tokens.isEmpty())
        throw std::runtime_error("empty answer");
    Answer a;
    bool isNumber = false;
    const int delay = tokens.size() > 1 ? tokens.constLast().toInt(&isNumber) : 0;
    if (isNumber) {
        a.delayMs = delay;
        tokens.removeLast();
    }
    const QString text = tokens.join(QLatin1Char(' '));
    if (text == QLatin1String("SILENT"))
        a.kind = Answer::Silent;
    else if (text == QLatin1String("HANGUP"))
        a.kind = Answer::Hangup;
    else if (text == QLatin1String("FLOOD"))
        a.kind = Answer::Flood;
    else
        a.text = unescape(text);
    return a;
}

void AnswerTable::load(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot open table " + path.toStdString());
    int lineNo = 0;
    while (!f.atEnd()) {
        ++lineNo;
        const QString line = QString::fromLatin1(f.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1String("# ")) || line == QLatin1String("#"))
            continue;
        const qsizetype sp = line.indexOf(QRegularExpression(QStringLiteral("\\s")));
        if (sp < 0)
            throw std::runtime_error(path.toStdString() + ":" + std::to_string(lineNo) + ": no answer");
        table_.insert(line.left(sp), parseAnswer(line.mid(sp + 1)));
    }
}

const Answer& AnswerTable::lookup(const QString& dial) const {
    const auto it = table_.constFind(dial);
    return it == table_.constEnd() ? default_ : *it;
}
