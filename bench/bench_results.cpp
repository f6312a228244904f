// The results page on a big month: 10,000 channels, 31 days, 4 tests a day. Opens the month
// view, exports it with and without comments, and writes the same workbook with openpyxl.
#include "Bench.h"

#include "mock/MockClock.h"
#include "mock/ScriptedDialogs.h"
#include "results/MonthView.h"
#include "gui/CheckListBox.h"
#include "gui/StringGrid.h"
#include "core/TextFile.h"
#include "gui/Unit1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSpinBox>
#include <QTemporaryDir>

#include <sys/resource.h>

namespace {
constexpr int kChannels = 10000;
constexpr int kDays = 31;
constexpr int kTestsPerDay = 4;

// Builds the same workbook as the export, from a JSON dump of the grid and the comments;
// prints the seconds spent building and saving (reading the dump is not counted).
const char* kOpenpyxlWriter = R"PY(
import json, sys, time
from openpyxl import Workbook
from openpyxl.comments import Comment
from openpyxl.styles import Alignment, Border, Font, Side
from openpyxl.utils import get_column_letter
from openpyxl.worksheet.page import PageMargins

data = json.load(open(sys.argv[1], encoding="utf-8"))
start = time.time()
cpu_start = time.process_time()
cells = data["cells"]
rows, cols = len(cells), len(cells[0])
wb = Workbook()
ws = wb.active
thin = Side(style="thin")
border = Border(left=thin, right=thin, top=thin, bottom=thin)
font = Font(name="Times New Roman CYR", size=9, color="FF000000")
centre = Alignment(horizontal="center", vertical="center")
left = Alignment(horizontal="left", vertical="center")
ws.merge_cells(start_row=1, start_column=1, end_row=1, end_column=cols)
ws["A1"] = data["title"]
ws["A1"].number_format = "@"
ws["A1"].alignment = centre
ws.row_dimensions[1].height = 20
comments = {(r, c): t for r, c, t in data["comments"]}
for c in range(cols):
    for r in range(rows):
        cell = ws.cell(row=r + 2, column=c + 1)
        if cells[r][c]:
            cell.value = cells[r][c]
        cell.font = font
        cell.border = border
        cell.number_format = "@"
        cell.alignment = left if c == 1 else centre
        text = comments.get((r, c))
        if text:
            cell.comment = Comment(text, "")
ws.column_dimensions["A"].width = 5.28515625
ws.column_dimensions["B"].width = 34.7109375
ws.column_dimensions["B"].alignment = left
for c in range(3, cols + 1):
    ws.column_dimensions[get_column_letter(c)].width = 3.140625
ws.page_setup.paperSize = 9
ws.page_setup.orientation = "landscape"
ws.print_title_rows = "1:2"
ws.page_margins = PageMargins(left=0.25, right=0.25, top=0.5, bottom=1.0, header=0.25, footer=0.75)
ws.print_options.gridLines = False
ws.print_options.horizontalCentered = True
ws.oddFooter.center.text = " стр. &P от &N"
ws.oddFooter.center.font = "Times New Roman CYR"
ws.freeze_panes = "A3"
wb.save(sys.argv[2])
print(time.time() - start, time.process_time() - cpu_start)
)PY";

QStringList monthLines(QStringList& items) {
    const QStringList answers = {QStringLiteral("CONNECT 9600/ARQ"), QStringLiteral("BUSY"),
                                 QStringLiteral("NO CARRIER"), QStringLiteral("BUSY")};
    const QStringList delays = {QStringLiteral("1840"), QStringLiteral("1500"), QStringLiteral("6000"),
                                QStringLiteral("2500")};
    QStringList lines;
    lines.reserve(kChannels);
    for (int i = 0; i < kChannels; ++i) {
        const QString item = QStringLiteral("Направление %1 -- Уредба %2  %3 Ch. --> #8%4")
                                 .arg(i / 400)
                                 .arg(i / 20)
                                 .arg(i % 20 + 1)
                                 .arg(1000 + i);
        items.append(item);
        QString line = item + u'^';
        for (int d = 1; d <= kDays; ++d)
            for (int t = 0; t < kTestsPerDay; ++t) {
                const int k = (i + d + t) % 4;
                line += answers[k] + u'^' + delays[k] + u'^' + QStringLiteral("2403") +
                        QString::number(d).rightJustified(2, u'0') +
                        QString::number(8 + 3 * t).rightJustified(2, u'0') + QStringLiteral("15^");
            }
        lines.append(line);
    }
    return lines;
}

// User and system time of the whole process, all threads.
double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Timing {
    double wall = -1;
    double cpu = -1;
};

// Runs fn and measures it; on a shared machine the CPU time is the steadier figure.
Timing measure(const std::function<void()>& fn) {
    const double cpu = cpuSeconds();
    const double wall = bench::seconds(fn);
    return {wall, cpuSeconds() - cpu};
}

// Runs one export through the button and returns its wall time, up to the end message.
double exportOnce(TForm1& w, ScriptedDialogs& dialogs, const QString& file, bool comments) {
    w.CBoxComment->setChecked(comments);
    dialogs.setNextFileName(file);
    const qsizetype before = dialogs.shown.size();
    QElapsedTimer t;
    t.start();
    w.BexpClick();
    while (dialogs.shown.size() == before)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double s = t.nsecsElapsed() / 1e9;
    if (dialogs.shown.last().kind != MsgKind::Information)
        std::printf("export failed: %s\n", qPrintable(dialogs.shown.last().text));
    return s;
}

// The openpyxl figures for the same grid; negative when openpyxl cannot run.
Timing openpyxlOnce(const QTemporaryDir& dir, TForm1& w, bool comments) {
    QJsonArray cells;
    QJsonArray notes;
    const StringGrid* g = w.SGresults;
    const monthfile::Month month = results::MonthOfLines(*w.ViewList);
    for (int r = 0; r < g->rowCount(); ++r) {
        QJsonArray row;
        for (int c = 0; c < g->colCount(); ++c)
            row.append(g->cell(c, r));
        cells.append(row);
        if (!comments || r == 0)
            continue;
        const QVector<QString> days =
            results::DayComments(results::RowTests(month, g->cell(1, r)).groups, g->colCount() - 2);
        for (int c = 2; c < g->colCount(); ++c)
            if (!g->cell(c, r).isEmpty())
                notes.append(QJsonArray{r, c, days[c - 1]});
    }
    const QString input = dir.filePath(QStringLiteral("grid.json"));
    QFile f(input);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(QJsonDocument(QJsonObject{{"title", results::MonthTitle(QStringLiteral("Март"), 2024)},
                                      {"cells", cells},
                                      {"comments", notes}})
                .toJson(QJsonDocument::Compact));
    f.close();
    const QString script = dir.filePath(QStringLiteral("write.py"));
    QFile s(script);
    if (!s.open(QIODevice::WriteOnly))
        return {};
    s.write(kOpenpyxlWriter);
    s.close();
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {script, input, dir.filePath(QStringLiteral("openpyxl.xlsx"))});
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        std::printf("openpyxl failed: %s\n", p.readAllStandardError().constData());
        return {};
    }
    const QList<QByteArray> figures = p.readAllStandardOutput().trimmed().split(' ');
    if (figures.size() != 2)
        return {};
    return {figures[0].toDouble(), figures[1].toDouble()};
}
} // namespace

CHANTEST_BENCH("results") {
    QTemporaryDir dir;
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    ScriptedDialogs dialogs;
    MockClock clock(QDateTime(QDate(2024, 3, 20), QTime(12, 0)));
    QStringList items;
    const QStringList lines = monthLines(items);
    QDir().mkpath(dir.filePath(QStringLiteral("Results")));
    TextFile::writeLines(dir.filePath(QStringLiteral("Results/2403.tst")), lines);
    {
        TForm1 w({dir.path(), &clock});
        w.ChLBch->setItems(QVector<QString>(items.begin(), items.end()), true);
        w.CBmesec->setCurrentIndex(2);
        w.SEgodina->setValue(2024);

        const auto report = [](const QString& name, const Timing& t) {
            bench::report(name + QStringLiteral(".wall"), t.wall, QStringLiteral("s"));
            bench::report(name + QStringLiteral(".cpu"), t.cpu, QStringLiteral("s"));
        };
        report(QStringLiteral("results.open_10000x31x4"), measure([&] { w.BdbOpenClick(); }));
        report(QStringLiteral("results.refresh_10000x31x4"), measure([&] { w.BdbOpenClick(); }));
        if (w.SGresults->rowCount() != kChannels + 1 || w.SGresults->cell(32, kChannels).isEmpty())
            std::printf("month view incomplete\n");

        const auto compare = [&](const char* name, bool comments) {
            const QString file = dir.filePath(QLatin1String(name) + QStringLiteral(".xlsx"));
            const Timing ours = measure([&] { exportOnce(w, dialogs, file, comments); });
            report(QStringLiteral("results.export_") + QLatin1String(name), ours);
            const Timing py = openpyxlOnce(dir, w, comments);
            if (py.wall <= 0)
                return;
            report(QStringLiteral("results.openpyxl_") + QLatin1String(name), py);
            bench::report(QStringLiteral("results.speedup_%1.wall").arg(QLatin1String(name)),
                          py.wall / ours.wall, QStringLiteral("x"));
            bench::report(QStringLiteral("results.speedup_%1.cpu").arg(QLatin1String(name)),
                          py.cpu / ours.cpu, QStringLiteral("x"));
        };
        compare("no_comments", false);
        compare("310000_comments", true);
    }
    QDir::setCurrent(oldCwd);
}
