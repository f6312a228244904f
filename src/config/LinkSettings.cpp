#include "LinkSettings.h"

#include "shell/MyUtils.h"

namespace {
// Field `n` (from 1) of a "value^value^" line. A line without a caret is one value; a last
// field that a hand-edited line does not close with a caret is taken whole.
QString fieldOf(QString line, int n) {
    if (!line.endsWith(u'^'))
        line += u'^';
    return CutFields(line, n, 1, u'^');
}
} // namespace

int LinkSettingsFile::flags(const LinkSettings& s) {
    return (s.serial ? SerialFlag : 0) | (s.tcp ? TcpFlag : 0) | (s.sendInit ? InitFlag : 0);
}

QStringList LinkSettingsFile::toLines(const LinkSettings& s) {
    return {s.port + u'^' + s.address + u'^',
            s.speed + u'^' + s.tcpPort + u'^',
            s.initString,
            s.modemSpeed,
            s.pause,
            QString::number(flags(s))};
}

LinkSettingsFile::Read LinkSettingsFile::parse(const QStringList& lines) {
    Read r;
    const qsizetype n = lines.size();
    if (n > 0) {
        r.port = fieldOf(lines[0], 1);
        r.address = fieldOf(lines[0], 2);
    }
    if (n > 1) {
        r.speed = fieldOf(lines[1], 1);
        r.tcpPort = fieldOf(lines[1], 2);
    }
    if (n > 2)
        r.initString = lines[2];
    if (n > 3)
        r.modemSpeed = lines[3];
    if (n > 4)
        r.pause = lines[4];
    int value = 0;
    if (n > 5 && TryStrToInt(lines[5], value))
        r.flags = value;
    return r;
}
