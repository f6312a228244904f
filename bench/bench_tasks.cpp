// Selection lists on a full channel base: loading, checking and "Select All" of directions,
// and checking every exchange, each through the window's own handlers.
#include "Bench.h"

#include "mock/MockClock.h"
#include "mock/ScriptedDialogs.h"
#include "gui/CheckListBox.h"
#include "core/TextFile.h"
#include "gui/Unit1.h"

#include <QAction>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <ctime>

namespace {
constexpr int kChannels = 65434;

// directions × exchanges per direction; channels are dealt out round the exchanges.
QStringList makeBase(int directions, int exchangesPerDirection) {
    QStringList lines;
    lines.reserve(kChannels);
    for (int i = 0; i < kChannels; ++i) {
        const int d = i % directions;
        const int e = (i / directions) % exchangesPerDirection;
        lines.append(QStringLiteral("Направление %1^Уредба %2-%3^%4^#8%5^")
                         .arg(d, 5, 10, QLatin1Char('0'))
                         .arg(d)
                         .arg(e)
                         .arg(i % 60 + 1)
                         .arg(i % 10000, 4, 10, QLatin1Char('0')));
    }
    return lines;
}

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// Wall time, and this thread's processor time beside it: the machine is shared, and the
// difference is the time other processes took.
void timed(const QString& name, const std::function<void()>& fn) {
    const double cpu0 = threadCpuSeconds();
    const double wall = bench::seconds(fn);
    bench::report(name, wall, QStringLiteral("s"));
    bench::report(name + QStringLiteral(".cpu"), threadCpuSeconds() - cpu0, QStringLiteral("s"));
}

// The operator's click on a mark: the view's path into the model.
void userCheck(CheckListBox* box, int i) {
    box->model()->setData(box->model()->index(i, 0), Qt::Checked, Qt::CheckStateRole);
}

void runOn(const QString& label, const QStringList& base) {
    QTemporaryDir dir;
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    TextFile::writeLines(QStringLiteral("ChBase.dat"), base);
    ScriptedDialogs dialogs;
    MockClock clock;
    {
        TForm1 w({dir.path(), &clock});
        w.Timer1->stop();
        const QString p = QStringLiteral("tasks.") + label + u'.';
        timed(p + QStringLiteral("new_task_load_sort"), [&] { w.BnewTaskClick(); });
        const int dirs = w.ChLBdir->count();
        if (dirs > 1) {
            // The last direction: its lines are the last ones met.
            timed(p + QStringLiteral("check_one_direction"), [&] { userCheck(w.ChLBdir, dirs - 1); });
        }
        timed(p + QStringLiteral("select_all_directions"), [&] { w.ChLBdir->selectAllAction()->trigger(); });
        bench::report(p + QStringLiteral("channels_listed"), w.ChLBch->count(), QStringLiteral("items"));
        bench::report(p + QStringLiteral("exchanges_listed"), w.ChLBdiv->count(), QStringLiteral("items"));
        timed(p + QStringLiteral("check_one_exchange"), [&] { userCheck(w.ChLBdiv, 0); });
        timed(p + QStringLiteral("check_every_exchange"), [&] { w.ChLBdiv->selectAllAction()->trigger(); });
        bench::report(p + QStringLiteral("channels_checked"), w.ChLBch->checkedItems().size(),
                      QStringLiteral("items"));
        timed(p + QStringLiteral("deselect_all_directions"),
              [&] { w.ChLBdir->deselectAllAction()->trigger(); });
        if (!dialogs.shown.isEmpty())
            bench::report(p + QStringLiteral("messages_shown"), dialogs.shown.size(),
                          QStringLiteral("(error)"));
    }
    QDir::setCurrent(oldCwd);
}
} // namespace

CHANTEST_BENCH("tasks") {
    // A usual shape: 40 directions of 40 exchanges each.
    runOn(QStringLiteral("40dir_1600exch"), makeBase(40, 40));
    // Every channel its own direction and exchange: the longest direction and exchange lists.
    runOn(QStringLiteral("65434dir_65434exch"), makeBase(kChannels, 1));
}
