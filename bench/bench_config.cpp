#include "Bench.h"

#include "mock/ScriptedDialogs.h"
#include "core/Cp1251.h"
#include "gui/RadioGroup.h"
#include "gui/StringGrid.h"
#include "gui/Unit1.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <ctime>

namespace {
constexpr int Channels = 65434;

// A working directory of its own and the operator's locale, both restored afterwards.
struct BenchPlace {
    QTemporaryDir dir;
    QString oldCwd = QDir::currentPath();
    QLocale oldLocale;
    ScriptedDialogs dialogs;
    BenchPlace() {
        QDir::setCurrent(dir.path());
        QLocale::setDefault(QLocale(QLocale::Bulgarian, QLocale::Bulgaria));
    }
    ~BenchPlace() {
        QLocale::setDefault(oldLocale);
        QDir::setCurrent(oldCwd);
    }
};

// The machine is shared: beside the wall time, the processor time the process itself used.
double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Runs fn once; reports its wall time and its processor time.
double timed(const QString& name, const std::function<void()>& fn) {
    const double cpu0 = cpuSeconds();
    const double wall = bench::seconds(fn);
    bench::report(name, wall, QStringLiteral("s"));
    bench::report(name + QStringLiteral(" (cpu)"), cpuSeconds() - cpu0, QStringLiteral("s"));
    return wall;
}

QString direction(int i) {
    return QStringLiteral("Направление %1").arg(i % 300);
}

QByteArray kanvoRecord(int i) {
    QByteArray rec(68, '\0');
    auto put = [&rec](int offset, const QByteArray& text) {
        rec[offset] = static_cast<char>(text.size());
        for (int k = 0; k < text.size(); ++k)
            rec[offset + 1 + k] = text[k];
    };
    put(0, Cp1251::encode(direction(i)));
    put(21, Cp1251::encode(QStringLiteral("Уредба %1").arg(i % 40)));
    put(52, Cp1251::encode(QStringLiteral("К-л %1").arg(i % 1000)));
    put(63, QByteArray::number(i % 10000));
    return rec;
}
} // namespace

CHANTEST_BENCH("config") {
    BenchPlace place;
    TForm1 w({place.dir.path(), nullptr});
    StringGrid* g = w.SGsetings;

    // The operator's grid, in no order, with every hundredth row left without a direction.
    QRandomGenerator rng(7);
    g->beginUpdate();
    g->setRowCount(Channels + 101);
    for (int r = 1; r <= Channels; ++r) {
        const int i = static_cast<int>(rng.bounded(1000000));
        g->setCell(1, r, direction(i));
        g->setCell(2, r, QStringLiteral("Уредба %1").arg(i % 40));
        g->setCell(3, r, QString::number(i % 1000));
        g->setCell(4, r, QStringLiteral("#8%1").arg(i % 10000, 4, 10, QLatin1Char('0')));
    }
    g->endUpdate();

    const double cpu0 = cpuSeconds();
    const double save =
        timed(QStringLiteral("config.save_65434_records (with its reload)"), [&] { w.BsaveSetClick(); });
    const double load = timed(QStringLiteral("config.load_65434_records"), [&] { w.BopenSetClick(); });
    bench::report(QStringLiteral("config.save_then_load_65434_records"), save + load, QStringLiteral("s"));
    bench::report(QStringLiteral("config.save_then_load_65434_records (cpu)"), cpuSeconds() - cpu0,
                  QStringLiteral("s"));
    if (g->rowCount() != Channels + 101 || !place.dialogs.shown.isEmpty())
        bench::report(QStringLiteral("config.save_then_load_FAILED"), g->rowCount(), QStringLiteral("rows"));

    QByteArray file;
    file.reserve(Channels * 68);
    for (int i = 0; i < Channels; ++i)
        file += kanvoRecord(i);
    QFile f(place.dir.filePath(QStringLiteral("Kanvo.dat")));
    if (f.open(QIODevice::WriteOnly))
        f.write(file);
    f.close();

    // "Нов" into the loaded grid, then "Добави" onto an empty base.
    w.RGaction->setItemIndex(1);
    place.dialogs.setNextFileName(f.fileName());
    timed(QStringLiteral("config.import_new_65434_records"), [&] { w.BimportClick(); });
    QFile::remove(QStringLiteral("ChBase.dat"));
    w.RGaction->setItemIndex(0);
    place.dialogs.setNextFileName(f.fileName());
    timed(QStringLiteral("config.import_add_65434_records (onto an empty base)"), [&] { w.BimportClick(); });
    if (g->rowCount() != Channels + 101 || !place.dialogs.shown.isEmpty())
        bench::report(QStringLiteral("config.import_FAILED"), g->rowCount(), QStringLiteral("rows"));
}
