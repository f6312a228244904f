#pragma once
// Task files: the one reader and writer of their header line, the file names made from the
// creation time and the listing of the task files in a folder.

#include "tasks/Task.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

namespace TaskFile {

// The fields of a header line, as stored (hour and minute stay texts).
struct Header {
    QString name;
    QString type;
    QString hour;
    QString minute;
    QString status;

    // The start column of the task table: hh:mm, a lone digit padded with a zero.
    QString startText() const;
    bool is(TaskType t) const { return type == text(t); }
    bool is(TaskStatus s) const { return status == text(s); }
};

Header parseHeader(const QString& line);
// name^type^hour^minute^status^. A caret in the name would shift every later field, so it is
// dropped; so are line breaks, which would split the header. `status` is the stored text (a
// rewritten task keeps the status its file had, whatever it is).
QString buildHeader(const QString& name, const QString& type, int hour, int minute, const QString& status);
QString buildHeader(const QString& name, TaskType type, int hour, int minute, TaskStatus status);
// The header line with its status field replaced: the fields before it stay as written.
QString withStatus(const QString& header, const QString& status);
// A task file is read only when whole: its last line ends with a line end and it has not
// changed within the last `settleMs` (a program may still be writing it).
bool isWhole(const QString& path, qint64 settleMs);
// Writes a task file whole: its header and one channel line per channel.
void write(const QString& path, const QString& header, const QList<QString>& channels);

// yymmddhhnnss.tsk
QString fileNameFor(const QDateTime& time);
// The name for a task created at `time`; when that name is taken (a second task within the same
// second), the first free name of a later second.
QString chooseFileName(const QDateTime& time, const std::function<bool(const QString&)>& taken);

// The task files of `dir` ("*.tsk", hidden ones and folders left out), sorted by file name, so
// that a rewritten file keeps its row.
QStringList listTaskFiles(const QString& dir);

// A task file of the task table: its name and its header.
struct Listed {
    QString file;
    Header header;
};
// The task files of `dir` with their headers (the first line only is read), in the order of
// listTaskFiles(); `file` is the bare name. A file that cannot be read is listed with an empty
// header and its error goes into `errors`, so that one such file hides none of the others.
QList<Listed> readTable(const QString& dir, QStringList& errors);

} // namespace TaskFile

// Rewrites the status field of a task file's header line; the other lines stay.
void SetTaskFileStatus(const QString& fileName, const QString& status);
void SetTaskFileStatus(const QString& fileName, TaskStatus status);
