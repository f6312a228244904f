#pragma once
// The file layer: data files are read whole as lines and written whole and atomically,
// Windows-1251, every line ended by CR LF.

#include <QString>
#include <QStringList>

namespace TextFile {
// The file's bytes. Throws FileError "Cannot open file ..." or "Cannot read file ...".
QByteArray readBytes(const QString& path);
// Lines end at LF, a CR before it is dropped; a last line without a line end is a line.
// Throws FileError "Cannot open file ..." when the file cannot be read.
QStringList readLines(const QString& path);
QStringList splitLines(QByteArrayView bytes);
// The first line only (a task's header), read without the rest of the file.
QString readFirstLine(const QString& path);
// Replaces the file in one step (a temporary beside it renamed over it): a failure leaves the
// old file as it was. Throws FileError "Cannot create file ..." when the file cannot be written.
void writeLines(const QString& path, const QStringList& lines);
QByteArray joinLines(const QStringList& lines);
// The same for bytes already joined; `durable`: on the disk, not only in the cache, before the
// file takes the old one's place (for a file whose write lets other records go).
void writeBytes(const QString& path, const QByteArray& bytes, bool durable = false);

// A new name for the temporary that a write of `path` by process `pid` goes through. No other
// program makes such a name, and it tells whose it is.
QString temporaryPath(const QString& path, qint64 pid);
// Deletes the temporaries in `dir` left by writes cut short (a crash before the rename): those
// whose process is gone and that were last written minutes ago. Returns how many went.
int removeStaleTemporaries(const QString& dir);

// For tests, which run as root where permissions cannot stop a read: reading `path` fails as
// on a bad disk, until called again (with an empty path for none).
void failReadsOf(const QString& path);
} // namespace TextFile
