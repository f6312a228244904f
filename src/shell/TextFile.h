#pragma once
// The file layer: data files are read whole as lines and written whole and atomically,
// Windows-1251, every line ended by CR LF.

#include <QString>
#include <QStringList>

namespace TextFile {
// Lines end at LF, a CR before it is dropped; a last line without a line end is a line.
// Throws FileError "Cannot open file ..." when the file cannot be read.
QStringList readLines(const QString& path);
QStringList splitLines(QByteArrayView bytes);
// The first line only (a task's header), read without the rest of the file.
QString readFirstLine(const QString& path);
// Replaces the file in one step (QSaveFile): a failure leaves the old file as it was.
// Throws FileError "Cannot create file ..." when the file cannot be written.
void writeLines(const QString& path, const QStringList& lines);
QByteArray joinLines(const QStringList& lines);
// The same for bytes already joined; `durable`: on the disk, not only in the cache, before the
// file takes the old one's place (for a file whose write lets other records go).
void writeBytes(const QString& path, const QByteArray& bytes, bool durable = false);
} // namespace TextFile
