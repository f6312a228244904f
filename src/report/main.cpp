// chantest-report: what the month results files say, for a person, a spreadsheet or a
// monitoring system. It only reads.
#include "Report.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {
bool checkMode = false;

// The month file is mapped: cut short by another program while it is read, its pages past the
// new end raise SIGBUS. That ends the report with a message, not a crash.
void fileCutShort(int) {
    static const char text[] = "Файлът с резултати беше съкратен, докато се четеше. Опитайте отново.\n";
    static const char status[] = "CHANTEST UNKNOWN - the month file changed while it was read\n";
    ssize_t ignored = ::write(STDERR_FILENO, text, sizeof text - 1);
    if (checkMode)
        ignored = ::write(STDOUT_FILENO, status, sizeof status - 1);
    (void)ignored;
    ::_exit(checkMode ? 3 : 1);
}
} // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        checkMode = checkMode || std::strcmp(argv[i], "--check") == 0;
    std::signal(SIGBUS, fileCutShort);
    QCoreApplication app(argc, argv);
    QFile out, err;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return report::Run(app.arguments(), out, err, QDateTime::currentDateTime(), QCoreApplication::applicationDirPath());
}
