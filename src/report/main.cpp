// chantest-report: what the month results files say, for a person, a spreadsheet or a
// monitoring system. It only reads.
#include "Report.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    return report::Main(app.arguments(), QCoreApplication::applicationDirPath());
}
