// chantest-report: what the month results files say, for a person, a spreadsheet or a
// monitoring system. It only reads.
#include "Report.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QFile out, err;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return report::Run(app.arguments(), out, err, QDateTime::currentDateTime(), QCoreApplication::applicationDirPath());
}
