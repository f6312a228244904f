#pragma once
// The channel base file ChBase.dat: one caret-terminated field line per channel record.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QVector>

// One channel of the base, its four fields in file order.
struct ChannelRecord {
    QString direction;
    QString exchange;
    QString channel;
    QString dial; // the direct-access dial string
};

namespace ChannelBase {
inline constexpr const char* FileName = "ChBase.dat";

// Fields 0 to 3 of a line; missing fields are empty, further fields are ignored.
ChannelRecord parseLine(const QString& line);
// direction^exchange^channel^dial^
QString formatLine(const ChannelRecord& record);
// Ascending by the whole line, ignoring letter case, in the collation of `locale`.
// Duplicates stay; the order of lines that differ only in case is not defined.
void sortLines(QStringList& lines, const QLocale& locale = QLocale());
// The records of the file in file order; lines with an empty direction are no records.
// Throws FileError when the file cannot be read.
QVector<ChannelRecord> readRecords(const QString& path);
QVector<ChannelRecord> parseLines(const QStringList& lines);
} // namespace ChannelBase
