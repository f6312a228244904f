#include "MyUtils.h"

#include "AppError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

QString ExtractField(const QString& line, quint16 index, quint16 stop) {
    QString result;
    quint32 count = 0;
    for (QChar c : line) {
        if (c == u'^') {
            ++count;
        } else if (count == stop) {
            break;
        } else if (count == index) {
            result += c;
        }
    }
    return result;
}

QString ExtractFieldRange(const QString& line, quint16 from, quint16 to) {
    QString result;
    quint32 count = 0;
    for (QChar c : line) {
        if (c == u'^') {
            ++count;
            if (count == to)
                break;
            if (count > from)
                result += c;
        } else if (count >= from) {
            result += c;
        }
    }
    return result;
}

QString CutFields(const QString& text, int first, int count, QChar separator) {
    QString result;
    int field = 1;
    for (QChar c : text) {
        if (first <= field && field < first + count)
            result += c;
        if (c == separator)
            ++field;
        if (field > first + count - 1)
            break;
    }
    if (!result.isEmpty())
        result.chop(1);
    return result;
}

QString PadTo2(const QString& text) {
    return text.size() == 1 ? QStringLiteral("0") + text : text;
}

QString PadTo4(const QString& text) {
    return text.size() >= 4 ? text : QString(4 - text.size(), u'0') + text;
}

QString KeepDigits(const QString& text) {
    QString result;
    for (QChar c : text.left(255)) {
        if (c >= u'0' && c <= u'9')
            result += c;
    }
    return result;
}

namespace {
// The processes whose executable has this file name.
QList<qint64> processesNamed(const QString& fileName) {
    QList<qint64> found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        if (pid.isEmpty() || !pid[0].isDigit())
            continue;
        const QString target = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
        if (target.isEmpty())
            continue;
        QString name = QFileInfo(target).fileName();
        // A replaced executable reads "name (deleted)"; it still is that program.
        if (name.endsWith(QLatin1String(" (deleted)")))
            name.chop(10);
        if (name == fileName)
            found.append(pid.toLongLong());
    }
    return found;
}

// When a process started, in clock ticks since boot; -1 when it is gone.
qint64 startTicks(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // The fields after the command name, which may itself hold blanks and parentheses.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    bool ok = false;
    const qint64 ticks = fields.value(19).toLongLong(&ok); // the 22nd field of the line
    return ok ? ticks : -1;
}
} // namespace

int CountProcessesNamed(const QString& fileName) {
    return int(processesNamed(fileName).size());
}

bool IsSecondInstance() {
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const qint64 me = QCoreApplication::applicationPid();
    const std::pair<qint64, qint64> mine{startTicks(me), me};
    // Copies started in the same instant each see the other: the one started first (then the
    // lower process id) runs, so that exactly one does.
    for (const qint64 pid : processesNamed(self)) {
        if (pid == me)
            continue;
        const qint64 ticks = startTicks(pid);
        if (ticks >= 0 && std::pair{ticks, pid} < mine)
            return true;
    }
    return false;
}

bool TryStrToInt(const QString& text, int& value) {
    bool ok = false;
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    for (qsizetype i = 0; i < t.size(); ++i) {
        QChar c = t[i];
        if (!(c.isDigit() && c.unicode() < 128) && !(i == 0 && (c == u'-' || c == u'+')))
            return false;
    }
    value = t.toInt(&ok);
    return ok;
}

int StrToInt(const QString& text) {
    int v = 0;
    if (!TryStrToInt(text, v))
        throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return v;
}
