#pragma once
// The logic of the three linked selection lists (directions, exchanges, channels) over the
// lines of the channel base. Every step is linear in the base: channel bases reach 65,434 lines.

#include <QString>
#include <QStringList>
#include <QVector>

namespace ChannelSelection {

// The base sorted by whole lines, ignoring letter case, by the collation of the user's locale.
QStringList sortBase(QStringList lines);

// The distinct non-empty directions, in base order; texts that differ only in letter case are
// one direction, listed as first met.
QVector<QString> directions(const QStringList& sortedBase);

struct Listing {
    QVector<QString> exchanges; // distinct non-empty, ignoring letter case, in order of first appearance
    // The channel items: direction -- exchange  channel Ch. --> dial, from the first four fields
    // of each line (missing ones empty); the same text is a task file's channel line.
    QVector<QString> channels;
};
// The channels of the checked directions: direction by direction in the given order, each
// direction's lines in base order; a line belongs to a direction only in exactly its letter case.
Listing listChannels(const QStringList& base, const QVector<QString>& checkedDirections);

// The channel marks for the checked exchanges: an item is marked when the text after its first
// "-- " begins with a checked exchange followed by two blanks (letter case included).
QVector<char> exchangeMarks(const QVector<QString>& channels, const QVector<QString>& checkedExchanges);

} // namespace ChannelSelection
