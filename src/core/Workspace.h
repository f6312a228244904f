#pragma once
// The working folder of a station and its two data folders, handed to everything that opens a
// data file, so that nothing below the faces depends on the process's current directory.

#include <QDir>
#include <QString>

struct Workspace {
    QString folder;    // the task files, the channel base, the link settings, the folder lock
    QString results;   // the month files and their journals
    QString exportDir; // the workbooks

    // A file of the working folder by its bare name; a path that is already absolute stays.
    QString file(const QString& name) const {
        return folder.isEmpty() || QDir::isAbsolutePath(name) ? name : QDir(folder).filePath(name);
    }
};
