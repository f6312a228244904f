#pragma once
// The report program without its main(): options in, one format or the check out.

#include <QDateTime>
#include <QIODevice>
#include <QStringList>

namespace report {

// Runs the report for the command line `args` (args[0] the program's name) as of `now`; `appDir`
// is the folder of the executable. Writes to `out` and `err` and returns the exit code.
int Run(const QStringList& args, QIODevice& out, QIODevice& err, const QDateTime& now, const QString& appDir);

} // namespace report
