#pragma once
// The report program without its main(): options in, one format or the check out.

#include "ReportMonth.h"
#include "ReportOptions.h"

#include <QDateTime>
#include <QIODevice>
#include <QStringList>
#include <functional>

namespace report {

// What the caller of Run() stands in for or learns along the way.
struct RunHooks {
    FileAccess files;
    // The options are known, before any file is opened.
    std::function<void(const Options&)> started;
    // Every file is read; only the output is left to write.
    std::function<void(const Options&)> filesRead;
};

// Runs the report for the command line `args` (args[0] the program's name) as of `now`; `appDir`
// is the folder of the executable. Writes to `out` and `err` and returns the exit code.
int Run(const QStringList& args, QIODevice& out, QIODevice& err, const QDateTime& now, const QString& appDir,
        const RunHooks& hooks = {});

// The program itself on standard output and error, with its time limit (-t) and its answer to a
// month file cut short under it; returns the exit code, or ends the process when the time is up.
int Main(const QStringList& args, const QString& appDir, const FileAccess& files = {});

} // namespace report
