#pragma once
// The channel key: direction + " -- " + exchange + "  " + channel + " Ch. --> " + dial string, a
// task file's channel line and field 0 of the channel's results line. Its label, the text up to
// and including the blank in front of the first " --> ", names the channel whatever its dial
// string: after a change of the dial string a month holds two lines with one label.

#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace monthfile {

// The label of a text: up to and including the blank in front of the first " --> "; empty
// without one.
QString ChannelLabel(QStringView text);
// The key of a results line: its field 0, the text before its first caret; a line without a
// caret has an empty key and so belongs to no channel.
QStringView LineKey(QStringView line);
// The size of a results line's label, the label of its key; 0 when it has none. The same for the
// line's Windows-1251 bytes, whose arrow and caret are those of the text.
qsizetype LineLabelSize(QStringView line);
qsizetype LineLabelSize(QByteArrayView line);
inline QString LineLabel(QStringView line) {
    return line.first(LineLabelSize(line)).toString();
}

// What the modem dials for a channel line: the text after the first "--> ".
QString DialString(QStringView key);

// The parts of a key; the dial string only where the key has the arrow.
struct ChannelParts {
    QString direction, exchange, channel, dial;
};
ChannelParts SplitKey(QStringView key);

} // namespace monthfile
