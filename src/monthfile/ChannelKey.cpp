#include "ChannelKey.h"

namespace monthfile {

namespace {
// One reading for the text and for its bytes: the arrow is looked for within the key only.
template <class View, class Caret, class Arrow> qsizetype labelSize(View line, Caret caret, Arrow arrow) {
    const qsizetype end = line.indexOf(caret);
    if (end < 0)
        return 0;
    const qsizetype at = line.first(end).indexOf(arrow);
    return at < 0 ? 0 : at + 1;
}
} // namespace

QString ChannelLabel(QStringView text) {
    const qsizetype i = text.indexOf(u" --> ");
    return i < 0 ? QString() : text.left(i + 1).toString();
}

QStringView LineKey(QStringView line) {
    const qsizetype caret = line.indexOf(u'^');
    return caret < 0 ? QStringView() : line.left(caret);
}

qsizetype LineLabelSize(QStringView line) {
    return labelSize(line, u'^', QStringView(u" --> "));
}

qsizetype LineLabelSize(QByteArrayView line) {
    return labelSize(line, '^', QByteArrayView(" --> "));
}

QString DialString(QStringView key) {
    // Without an arrow, from the fourth character on, as the program has always dialled it.
    const qsizetype p = key.indexOf(u"--> ");
    return key.mid(p < 0 ? 3 : p + 4).toString();
}

ChannelParts SplitKey(QStringView key) {
    ChannelParts p;
    QStringView head = key;
    const qsizetype arrow = key.indexOf(u" --> ");
    if (arrow >= 0) {
        p.dial = DialString(key);
        head = key.left(arrow);
    }
    if (head.endsWith(u" Ch."))
        head.chop(4);
    const qsizetype dash = head.indexOf(u" -- ");
    if (dash < 0) {
        p.direction = head.toString();
        return p;
    }
    p.direction = head.left(dash).toString();
    const QStringView rest = head.mid(dash + 4);
    const qsizetype gap = rest.indexOf(u"  ");
    if (gap < 0) {
        p.exchange = rest.toString();
        return p;
    }
    p.exchange = rest.left(gap).toString();
    p.channel = rest.mid(gap + 2).toString();
    return p;
}

} // namespace monthfile
