#pragma once
// The external channel list (Kanvo.dat): fixed 68-byte records of four length-prefixed
// Windows-1251 strings, no header, no separators.

#include "ChannelBase.h"

#include <QByteArrayView>
#include <QString>
#include <QVector>

// One record of the channel list, as stored.
struct KanvoRecord {
    QString direction;
    QString exchange;
    QString channel; // the channel designation as stored, e.g. "К-л 07"
    QString code;    // the direct-access code, up to four characters
};

namespace KanvoFile {
inline constexpr int RecordSize = 68;

// The records of the whole 68-byte blocks in file order; empty slots (direction length 0)
// are left out and trailing bytes of a partial record are ignored. A length byte above its
// field's capacity is read as the capacity, so no byte outside the record is used.
QVector<KanvoRecord> parse(QByteArrayView bytes);
// 0-based number of the first record, not an empty slot, with a length byte above its
// field's capacity: such a file is no channel list (the channel base itself, say); -1 if none.
qsizetype firstBadRecord(QByteArrayView bytes);
// Throws FileError when the file cannot be opened or read, and when it holds a bad record.
QVector<KanvoRecord> read(const QString& path);
// The channel record an imported record becomes: the channel designation keeps only its
// digits; the dial string is `prefix` followed by the code padded to four digits.
// Carets and line breaks are dropped from every text: the channel base could not hold them.
ChannelRecord toChannel(const KanvoRecord& record, const QString& prefix);
} // namespace KanvoFile
