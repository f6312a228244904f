#include "LinkSettings.h"

#include "SerialPorts.h"
#include "core/MyUtils.h"
#include "core/TextFile.h"

#include <QFileInfo>

namespace {
// Field `n` (from 1) of a "value^value^" line. A line without a caret is one value; a last
// field that a hand-edited line does not close with a caret is taken whole.
QString fieldOf(QString line, int n) {
    if (!line.endsWith(u'^'))
        line += u'^';
    return CutFields(line, n, 1, u'^');
}

// The first entry equal to `text`, letter case ignored; empty when none is.
QString entryOf(const QStringList& entries, const QString& text) {
    for (const QString& e : entries)
        if (e.compare(text, Qt::CaseInsensitive) == 0)
            return e;
    return {};
}
} // namespace

int LinkSettingsFile::flags(const LinkSettings& s) {
    return (s.kind == LinkKind::Serial ? SerialFlag : 0) | (s.kind == LinkKind::Tcp ? TcpFlag : 0) |
           (s.sendInit ? InitFlag : 0);
}

LinkKind LinkSettingsFile::kindOf(int flags) {
    if (flags & TcpFlag)
        return LinkKind::Tcp;
    return flags & SerialFlag ? LinkKind::Serial : LinkKind::None;
}

QStringList LinkSettingsFile::toLines(const LinkSettings& s) {
    QStringList lines{s.port + u'^' + s.address + u'^',
                      s.speed + u'^' + s.tcpPort + u'^',
                      s.initString,
                      s.modemSpeed,
                      s.pause,
                      QString::number(flags(s))};
    if (s.retestCount != 0)
        lines.append(QStringLiteral("%1^%2^").arg(s.retestCount).arg(s.retestMinutes));
    return lines;
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
    if (n > 6) {
        int count = 0, minutes = 0;
        if (TryStrToInt(fieldOf(lines[6], 1), count) && count >= 0 && count <= kMaxRetests)
            r.retestCount = count;
        if (TryStrToInt(fieldOf(lines[6], 2), minutes) && minutes >= 0 && minutes <= kMaxRetestMinutes)
            r.retestMinutes = minutes;
    }
    return r;
}

const QStringList& LinkSettingsFile::speeds() {
    static const QStringList kSpeeds = {QStringLiteral("1200"),  QStringLiteral("2400"),
                                        QStringLiteral("4800"),  QStringLiteral("9600"),
                                        QStringLiteral("19200"), QStringLiteral("38400")};
    return kSpeeds;
}

LinkSettings LinkSettingsFile::defaults(const QStringList& ports) {
    LinkSettings s;
    s.port = ports.value(0);
    s.speed = speeds().constFirst();
    s.initString = QStringLiteral("atx3w2&d0e1m0 s0=1 s7=70 s11=55 s95=0");
    s.modemSpeed = QStringLiteral("at+MS=v34,1,2400,12000");
    s.pause = QStringLiteral("20");
    s.kind = LinkKind::Serial;
    s.sendInit = false;
    return s;
}

LinkSettings LinkSettingsFile::apply(LinkSettings s, const Read& r, const QStringList& ports) {
    if (r.port) {
        s.port = entryOf(ports, *r.port);
        // A device the system does not list (a by-id link, a modem server's pseudo-terminal),
        // or one unplugged now, stays the choice.
        if (s.port.isEmpty() && SerialPorts::mayBeDevice(*r.port))
            s.port = *r.port;
    }
    if (r.address)
        s.address = *r.address;
    if (r.speed)
        s.speed = entryOf(speeds(), *r.speed);
    if (r.tcpPort)
        s.tcpPort = *r.tcpPort;
    if (r.initString)
        s.initString = *r.initString;
    if (r.modemSpeed)
        s.modemSpeed = *r.modemSpeed;
    if (r.pause)
        s.pause = *r.pause;
    if (r.flags) {
        s.kind = kindOf(*r.flags);
        s.sendInit = *r.flags & InitFlag;
    }
    if (r.retestCount)
        s.retestCount = *r.retestCount;
    if (r.retestMinutes)
        s.retestMinutes = *r.retestMinutes;
    return s;
}

LinkSettings LinkSettingsFile::load(const QString& file, const QStringList& ports) {
    if (!QFileInfo::exists(file))
        return defaults(ports);
    return apply(defaults(ports), parse(TextFile::readLines(file)), ports);
}
