#include "TaskFile.h"

#include "core/AppError.h"
#include "core/MyUtils.h"
#include "core/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <algorithm>

namespace TaskFile {

QString Header::startText() const {
    return PadTo2(hour) + u':' + PadTo2(minute);
}

Header parseHeader(const QString& line) {
    return {ExtractField(line, 0, 1), ExtractField(line, 1, 2), ExtractField(line, 2, 3),
            ExtractField(line, 3, 4), ExtractField(line, 4, 5)};
}

QString buildHeader(const QString& name, const QString& type, int hour, int minute, const QString& status) {
    QString clean = name;
    clean.remove(u'^').remove(u'\r').remove(u'\n');
    return clean + u'^' + type + u'^' + QString::number(hour) + u'^' + QString::number(minute) + u'^' +
           status + u'^';
}

QString buildHeader(const QString& name, TaskType type, int hour, int minute, TaskStatus status) {
    return buildHeader(name, text(type), hour, minute, text(status));
}

QString withStatus(const QString& header, const QString& status) {
    return ExtractFieldRange(header, 0, 4) + u'^' + status + u'^';
}

bool isWhole(const QString& path, qint64 settleMs) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() == 0 || !f.seek(f.size() - 1))
        return false;
    char last = 0;
    if (!f.getChar(&last) || last != '\n')
        return false;
    const qint64 age = QFileInfo(f).lastModified().msecsTo(QDateTime::currentDateTime());
    // A time ahead of the clock (a clock set back) counts by its distance, so it is read in time.
    return settleMs <= 0 || std::abs(age) >= settleMs;
}

void write(const QString& path, const QString& header, const QList<QString>& channels) {
    QStringList lines{header};
    lines.append(channels);
    TextFile::writeLines(path, lines);
}

QString fileNameFor(const QDateTime& time) {
    return time.toString(QStringLiteral("yyMMddHHmmss")) + QStringLiteral(".tsk");
}

QString chooseFileName(const QDateTime& time, const std::function<bool(const QString&)>& taken) {
    // A day of seconds is far more than any burst of adds; past it something else is wrong.
    for (int s = 0; s < 86400; ++s) {
        const QString name = fileNameFor(time.addSecs(s));
        if (!taken(name))
            return name;
    }
    throw AppError(QStringLiteral("Cannot create file %1").arg(fileNameFor(time)));
}

QStringList listTaskFiles(const QString& dir) {
    QStringList names = QDir(dir).entryList({QStringLiteral("*.tsk")}, QDir::Files, QDir::NoSort);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace TaskFile

QList<TaskFile::Listed> TaskFile::readTable(const QString& dir, QStringList& errors) {
    QList<Listed> out;
    const QDir folder(dir);
    for (const QString& name : listTaskFiles(dir)) {
        QString header;
        try {
            header = TextFile::readFirstLine(folder.filePath(name));
        } catch (const AppError& e) {
            errors.append(e.text());
        }
        out.append({name, parseHeader(header)});
    }
    return out;
}

void SetTaskFileStatus(const QString& fileName, const QString& status) {
    QStringList lines = TextFile::readLines(fileName);
    if (lines.isEmpty())
        throw AppError(QStringLiteral("List index out of bounds (0)"));
    lines[0] = TaskFile::withStatus(lines[0], status);
    TextFile::writeLines(fileName, lines);
}

void SetTaskFileStatus(const QString& fileName, TaskStatus status) {
    SetTaskFileStatus(fileName, text(status));
}
