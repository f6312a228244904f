#include "core/MyUtils.h"
#include "gui/Unit1.h"

#include <QApplication>
#include <QIcon>
#include <csignal>

int main(int argc, char* argv[]) {
    // Over a file size limit a write then fails with an error the file layer reports (the
    // tests stay in their journal) instead of the signal ending the program in the middle of a run.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    app.setApplicationDisplayName(QStringLiteral("Програма за тестване на каналите"));
    app.setQuitOnLastWindowClosed(true);
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/chantest-48.png"));
    icon.addFile(QStringLiteral(":/icons/chantest-256.png"));
    app.setWindowIcon(icon);
    // A second copy from an executable of the same file name ends silently.
    if (IsSecondInstance())
        return 0;
    TForm1 form;
    form.show();
    return app.exec();
}
