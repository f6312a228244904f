#pragma once
// Where the program's data folders lie: beside the executable for a copy run from its own
// folder, in the working folder for an installed copy.

#include <QString>

// An installed copy (under /usr, /opt, /bin or /sbin) never writes beside itself.
bool IsInstalledCopy(const QString& appDir);

// The folder `name` the window uses: beside the executable, made there if need be, when that
// can be written and the copy is not installed; else in the working folder.
QString MakeDataDir(const QString& appDir, const QString& name);

// The same folder without creating anything: beside the executable when that
// folder exists, can be written and the copy is not installed, else in the working folder. The
// window's start-up makes the folder beside it first, so once it has run both agree.
QString ExistingDataDir(const QString& appDir, const QString& name);
