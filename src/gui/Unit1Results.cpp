// The results handlers of the window: month view, detail panel and spreadsheet export.
#include "gui/Unit1.h"
#include "engine/Station.h"
#include "monthfile/ResultJournal.h"

#include "results/ExportJob.h"
#include "results/MonthView.h"
#include "gui/CheckListBox.h"
#include "gui/Dialogs.h"
#include "gui/Guard.h"
#include "gui/StringGrid.h"
#include "core/TextFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <utility>

// The window's export: the worker job plus what the window needs to know about it.
class ResultsExport : public results::ExportJob {
public:
    using ExportJob::ExportJob;
    bool closing = false;      // the window is closing: the end of the export is not announced
    bool busy = false;         // from the start until the window has handled the end
    bool refreshAfter = false; // the view was to be read again meanwhile: done at the end
};

namespace {
const QString kOpen = QStringLiteral("Отвори");
const QString kRefresh = QStringLiteral("Опресни");
const QString kNoData = QStringLiteral("Няма данни за този месец.");
const QString kLabelHeader = QStringLiteral("Направление -- Канал");
const QString kWaitText = QStringLiteral("Моля почакайте.\nДанните се експортират.");
const QString kSaveFilter = QStringLiteral("Excel files (*.xlsx)");

int shownMonth(const TForm1& w) {
    return w.CBmesec->currentIndex() + 1;
}

QString shownFile(const TForm1& w) {
    return results::MonthFileName(w.ResultsDir, w.SEgodina->value(), shownMonth(w));
}

QString shownTitle(const TForm1& w) {
    return results::MonthTitle(w.CBmesec->currentText(), w.SEgodina->value());
}

// Day columns for the month shown, with their day numbers in the header row.
void setDayColumns(TForm1& w, int days) {
    StringGrid* g = w.SGresults;
    g->setColCount(days + 2);
    const int width = results::DayColumnWidth(days);
    for (int d = 1; d <= days; ++d) {
        g->setCell(d + 1, 0, QString::number(d));
        g->setColWidth(d + 1, width);
    }
}

// The tests of a grid row: of every results line with its label.
monthfile::ChannelTests testsForRow(const TForm1& w, int row) {
    if (!w.ViewList)
        return {};
    return results::RowTests(results::MonthOfLines(*w.ViewList), w.SGresults->cell(1, row));
}

void setExportControlsEnabled(TForm1& w, bool on) {
    for (QWidget* c : {static_cast<QWidget*>(w.Bexp), static_cast<QWidget*>(w.CBoxComment),
                       static_cast<QWidget*>(w.BdbOpen), static_cast<QWidget*>(w.btn_prev),
                       static_cast<QWidget*>(w.btn_next), static_cast<QWidget*>(w.BresultsClose)})
        c->setEnabled(on);
}

void stepMonth(TForm1& w, int delta) {
    if (w.ExportRunning())
        return;
    const int oldIndex = w.CBmesec->currentIndex();
    const int oldYear = w.SEgodina->value();
    int index = oldIndex;
    int year = oldYear;
    if (delta < 0) {
        if (index != 0) {
            --index;
        } else {
            --year;
            index = 11;
        }
    } else if (index == 11) {
        ++year;
        index = 0;
    } else {
        ++index;
    }
    w.CBmesec->setCurrentIndex(index);
    w.SEgodina->setValue(year); // the spin edit clamps to its range
    const auto restore = [&] {
        w.CBmesec->setCurrentIndex(oldIndex);
        w.SEgodina->setValue(oldYear);
    };
    if (!QFileInfo::exists(shownFile(w))) {
        ShowMessage(&w, MsgKind::Error, kNoData);
        restore();
        return;
    }
    try {
        w.BdbOpenClick();
    } catch (...) {
        restore(); // the choosers keep naming the month still shown
        throw;
    }
}
} // namespace

void TForm1::SetupResultControls() {
    SGresults->setSelectionMode(QAbstractItemView::ContiguousSelection);
    ResultsExport_ = new ResultsExport(this);
    connect(
        ResultsExport_, &results::ExportJob::progress, this,
        [this](int percent) { Gauge1->setValue(percent); }, Qt::QueuedConnection);
    connect(
        ResultsExport_, &results::ExportJob::finished, this,
        [this](bool ok, const QString&) {
            ResultsExport_->wait();
            if (ResultsExport_->closing)
                return;
            ResultsExport_->busy = false;
            if (std::exchange(ResultsExport_->refreshAfter, false))
                Guarded(this, [this] { BdbOpenClick(); });
            Guarded(this, [&] {
                if (ok)
                    ShowMessage(this, MsgKind::Information, results::kExportDone);
                else
                    ShowMessage(this, MsgKind::Error, results::kExportFailed);
            });
            Label11->clear();
            Gauge1->setValue(0);
            setExportControlsEnabled(*this, true);
        },
        Qt::QueuedConnection);
}

bool TForm1::ExportRunning() const {
    return ResultsExport_ && ResultsExport_->busy;
}

void TForm1::BdbOpenClick() {
    // An export in progress shows this view; it stays as it is until the export ends.
    if (ExportRunning()) {
        ResultsExport_->refreshAfter = true;
        return;
    }
    const QString file = shownFile(*this);
    // Where the service runs the tasks, its run's tests are shown as they come, from its journal.
    const bool othersRun = !Engine->schedules();
    if (!QFileInfo::exists(file) && !(othersRun && QFileInfo::exists(ResultJournal::pathFor(file)))) {
        ShowMessage(this, MsgKind::Error, kNoData);
        return;
    }
    // Read before anything changes, so a file that cannot be read leaves the view as it was.
    QStringList lines = othersRun ? ResultJournal::currentLines(file) : TextFile::readLines(file);
    const int days = results::DaysInMonth(SEgodina->value(), shownMonth(*this));
    if (BdbOpen->text() == kOpen) {
        BdbOpen->setText(kRefresh);
        btn_prev->show();
        btn_next->show();
        Bexp->show();
        CBoxComment->show();
        CBmesec->hide();
        SEgodina->hide();
        Label9->setText(shownTitle(*this));
        Label9->show();
        sendPanelBehind();
        SGresults->show();
        MonthViewOpen = 1;
        setDayColumns(*this, days);
        ViewList = std::move(lines);
        FillMonthGrid(false);
        BresultsClose->show();
    } else {
        Label9->setText(shownTitle(*this));
        setDayColumns(*this, days);
        ViewList = std::move(lines);
        FillMonthGrid(true);
    }
}

void TForm1::FillMonthGrid(bool keepRows) {
    QStringList labels;
    if (keepRows) {
        for (int r = 0; r < SGresults->rowCount(); ++r)
            labels.append(SGresults->cell(1, r));
    } else {
        const QStringList items = ChLBch->checkedItems();
        labels.reserve(items.size() + 1);
        labels.append(kLabelHeader);
        for (const QString& item : items)
            labels.append(results::ChannelLabel(item));
    }
    const QVector<QStringList> rows =
        results::MonthGridRows(labels, ViewList ? *ViewList : QStringList(), SGresults->colCount());
    SGresults->beginUpdate();
    SGresults->setRowCount(static_cast<int>(rows.size()) + 1);
    SGresults->setCell(1, 0, labels.value(0));
    const int cols = SGresults->colCount();
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < cols; ++c)
            SGresults->setCell(c, r + 1, rows[r][c]);
    SGresults->endUpdate();
}

void TForm1::btn_prevClick() {
    stepMonth(*this, -1);
}

void TForm1::btn_nextClick() {
    stepMonth(*this, +1);
}

void TForm1::BresultsCloseClick() {
    if (ExportRunning())
        return;
    BdbOpen->setText(kOpen);
    for (QWidget* c :
         {static_cast<QWidget*>(btn_prev), static_cast<QWidget*>(btn_next), static_cast<QWidget*>(Bexp),
          static_cast<QWidget*>(CBoxComment), static_cast<QWidget*>(Label9), static_cast<QWidget*>(SGresults),
          static_cast<QWidget*>(BresultsClose)})
        c->hide();
    CBmesec->show();
    SEgodina->show();
    bringPanelToFront();
    MonthViewOpen = 0;
    ViewList.reset();
}

void TForm1::SGresultsDblClick() {
    for (int r = 1; r <= results::kDetailRows && r < SGdetails->rowCount(); ++r)
        SGdetails->gridModel()->clearRow(r);
    Label10->clear();
    const int row = SGresults->row();
    const int day = SGresults->col() - 1;
    const QVector<results::DetailRow> rows = results::DetailRows(testsForRow(*this, row).groups, day);
    if (!rows.isEmpty())
        Label10->setText(
            results::DetailTitle(SGresults->cell(1, row), day, shownMonth(*this), SEgodina->value()));
    for (int i = 0; i < rows.size(); ++i) {
        SGdetails->setCell(0, i + 1, QString::number(i + 1));
        SGdetails->setCell(1, i + 1, rows[i].answer);
        SGdetails->setCell(2, i + 1, rows[i].delay);
        SGdetails->setCell(3, i + 1, rows[i].time);
    }
    PDetails->show();
    PDetails->raise();
}

void TForm1::BDetailsCloseClick() {
    PDetails->hide();
}

QString TForm1::BuildCellComment(int row, int col) const {
    return results::DayComment(testsForRow(*this, row).groups, col - 1);
}

void TForm1::BexpClick() {
    if (ExportRunning())
        return;
    const QString chosen =
        Dialogs::instance().saveFileName(this, ExportDir, kSaveFilter, QStringLiteral("xlsx"));
    if (chosen.isEmpty())
        return;
    QString name = chosen;
    // An .xls name on a workbook of today's format makes Excel warn.
    if (name.endsWith(QStringLiteral(".xls"), Qt::CaseInsensitive))
        name += u'x';
    else if (!name.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
        name += QStringLiteral(".xlsx");
    name = QFileInfo(name).absoluteFilePath();
    // The dialog asked about the name it was given, not about this one.
    if (name != QFileInfo(chosen).absoluteFilePath() && QFileInfo::exists(name) &&
        !AskYesNo(this, QStringLiteral("Файлът %1 вече съществува. Да бъде ли заменен?")
                            .arg(QDir::toNativeSeparators(name))))
        return;

    results::ExportSheet sheet;
    sheet.title = shownTitle(*this);
    const int rows = SGresults->rowCount();
    const int cols = SGresults->colCount();
    sheet.cells.reserve(rows);
    for (int r = 0; r < rows; ++r) {
        QStringList row;
        row.reserve(cols);
        for (int c = 0; c < cols; ++c)
            row.append(SGresults->cell(c, r));
        sheet.cells.append(std::move(row));
    }
    sheet.comments = CBoxComment->isChecked();
    if (sheet.comments && ViewList)
        sheet.viewList = *ViewList;

    Label11->setText(kWaitText);
    setExportControlsEnabled(*this, false);
    ResultsExport_->busy = ResultsExport_->start(std::move(sheet), name);
}

void TForm1::ShutdownResults() {
    if (!ResultsExport_)
        return;
    ResultsExport_->closing = true;
    ResultsExport_->wait();
    ResultsExport_->busy = false;
}
