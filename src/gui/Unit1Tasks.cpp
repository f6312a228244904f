// The task handlers of the window: task table, selection lists and status control.
#include "gui/Unit1.h"

#include "config/ChannelBase.h"
#include "tasks/ChannelSelection.h"
#include "tasks/TaskFile.h"
#include "tasks/StatusButton.h"
#include "engine/Station.h"
#include "core/AppError.h"
#include "gui/CheckListBox.h"
#include "core/Clock.h"
#include "gui/Dialogs.h"
#include "core/MyUtils.h"
#include "gui/RadioGroup.h"
#include "gui/StringGrid.h"
#include "core/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>

namespace {
const QString NoTypeWarning = QStringLiteral("Не е избран времеви тип. Моля изберете тип.");
const QString NoChannelWarning = QStringLiteral("Не е избран канал за проба. Моля изберете канал.");

enum Col { ColNo = 0, ColName = 1, ColType = 2, ColStart = 3, ColStatus = 4, ColFile = 5 };

QVector<QString> checkedOf(const CheckListBox* box) {
    QVector<QString> out;
    const QVector<QString>& items = box->items();
    for (qsizetype i = 0; i < items.size(); ++i)
        if (box->isChecked(static_cast<int>(i)))
            out.append(items[i]);
    return out;
}

bool isTaskFile(const QString& name) {
    return !name.isEmpty() && QFileInfo(name).isFile();
}
} // namespace

void TForm1::SetupTaskControls() {
    // A caret would shift the header's fields, a line break would split the header.
    LEtaskName->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[^\\^\\r\\n]*")), LEtaskName));
}

void TForm1::TaskRefresh() {
    QStringList errors;
    const QList<TaskFile::Listed> tasks = TaskFile::readTable(QDir::currentPath(), errors);
    SGtask->beginUpdate();
    for (int r = 1; r < SGtask->rowCount(); ++r)
        SGtask->gridModel()->clearRow(r);
    int r = 1;
    for (const TaskFile::Listed& t : tasks) {
        // The grid grows with the tasks and never shrinks.
        if (r + 1 > SGtask->rowCount())
            SGtask->setRowCount(r + 1);
        SGtask->setCell(ColNo, r, QString::number(r));
        SGtask->setCell(ColName, r, t.header.name);
        SGtask->setCell(ColType, r, t.header.type);
        SGtask->setCell(ColStart, r, t.header.startText());
        SGtask->setCell(ColStatus, r, t.header.status);
        SGtask->setCell(ColFile, r, t.file);
        ++r;
    }
    SGtask->endUpdate();
    // Posted rather than raised or shown, so that a caller's later steps (a run's end enabling
    // the buttons again) still happen and no box holds up a run's start or end.
    if (!errors.isEmpty())
        PostError(errors.join(u'\n'));
}

void TForm1::SGtaskClick() {
    ChLBdir->clear();
    ChLBdiv->clear();
    ChLBch->clear();
    const int row = SGtask->row();
    const QString name = row < SGtask->rowCount() ? SGtask->cell(ColFile, row) : QString();
    auto showNoTask = [this] {
        LEtaskName->clear();
        RGType->setItemIndex(-1);
        GBtimeBegin->hide();
        BchStatus->hide();
    };
    if (!isTaskFile(name)) {
        showNoTask();
        return;
    }
    QStringList lines;
    QString error;
    try {
        lines = TextFile::readLines(name);
        if (lines.isEmpty())
            error = QStringLiteral("Файлът %1 е празен: липсва заглавният ред на задачата.").arg(name);
    } catch (const AppError& e) {
        error = e.text();
    }
    if (!error.isEmpty()) {
        // Shown as no task, so that the status button cannot act on a file without a header.
        showNoTask();
        PostError(error);
        return;
    }
    GBtimeBegin->show();
    BchStatus->show();
    const TaskFile::Header h = TaskFile::parseHeader(lines.first());
    LEtaskName->setText(h.name);
    const int type = RGType->indexOfText(h.type);
    RGType->setItemIndex(type);
    GBtimeBegin->setVisible(type != 0);
    int value = 0;
    SpinEditH->setValue(TryStrToInt(h.hour, value) ? value : 0);
    value = 0;
    SpinEditM->setValue(TryStrToInt(h.minute, value) ? value : 0);
    BchStatus->setText(StatusButton::captionFor(SGtask->cell(ColStatus, row), BchStatus->text()));
    lines.removeFirst();
    ChLBch->setItems(lines, true);
}

void TForm1::BaddTaskClick() {
    if (ChLBch->count() == 0)
        return;
    const int type = RGType->itemIndex();
    if (type < 0) {
        ShowMessage(this, MsgKind::Warning, NoTypeWarning);
    } else {
        const QDateTime now = clock().now();
        const bool immediate = type == 0;
        const int hour = immediate ? now.time().hour() : SpinEditH->value();
        const int minute = immediate ? now.time().minute() : SpinEditM->value();
        const QVector<QString> channels = checkedOf(ChLBch);
        if (channels.isEmpty()) {
            ShowMessage(this, MsgKind::Warning, NoChannelWarning);
        } else {
            const QString name =
                TaskFile::chooseFileName(now, [](const QString& n) { return QFileInfo::exists(n); });
            TaskFile::write(name,
                            TaskFile::buildHeader(LEtaskName->text(), taskTypes().value(type), hour, minute,
                                                  TaskStatus::Waiting),
                            channels);
        }
    }
    SGtask->setFocus();
    TaskRefresh();
    InstantlyTaskCheck();
}

void TForm1::BtaskChangeClick() {
    if (ChLBch->count() == 0)
        return;
    const int row = SGtask->row();
    const QString name = SGtask->cell(ColFile, row);
    // Only an existing task is rewritten: a file deleted since the last rebuild stays deleted.
    if (!isTaskFile(name))
        throw FileError(name.isEmpty() ? QStringLiteral("Cannot create file: the selected row holds no task.")
                                       : QStringLiteral("Cannot open file %1").arg(name));
    const int type = RGType->itemIndex();
    if (type < 0) {
        ShowMessage(this, MsgKind::Warning, NoTypeWarning);
        return;
    }
    const QVector<QString> channels = checkedOf(ChLBch);
    // A task without channels could never be run.
    if (channels.isEmpty()) {
        ShowMessage(this, MsgKind::Warning, NoChannelWarning);
        return;
    }
    TaskFile::write(name,
                    TaskFile::buildHeader(LEtaskName->text(), text(taskTypes().value(type)), SpinEditH->value(),
                                          SpinEditM->value(), SGtask->cell(ColStatus, row)),
                    channels);
    SGtask->setFocus();
    TaskRefresh();
    SGtaskClick();
    InstantlyTaskCheck();
}

void TForm1::BtaskDeleteClick() {
    const QString name = SGtask->cell(ColFile, SGtask->row());
    if (!isTaskFile(name)) {
        ChLBch->clear();
        return;
    }
    QFile file(name);
    if (!file.remove())
        throw FileError(QStringLiteral("Cannot delete file %1. %2").arg(name, file.errorString()));
    SGtask->setFocus();
    TaskRefresh();
    SGtaskClick();
}

void TForm1::RGTypeClick() {
    GBtimeBegin->setVisible(RGType->itemIndex() != 0);
}

void TForm1::BnewTaskClick() {
    ChLBdir->clear();
    ChLBdiv->clear();
    ChLBch->clear();
    const QString file = QString::fromLatin1(ChannelBase::FileName);
    // No channel base yet is an empty one, as everywhere else, and not worth a message (the
    // "Резултати" page reloads the list on every visit). A file that cannot be read is
    // reported, and the former base is kept.
    if (!QFileInfo::exists(file)) {
        ChannelBaseList.clear();
        return;
    }
    ChannelBaseList = ChannelSelection::sortBase(TextFile::readLines(file));
    ChLBdir->setItems(ChannelSelection::directions(ChannelBaseList));
}

void TForm1::ChLBdirClickCheck() {
    ChannelSelection::Listing l = ChannelSelection::listChannels(ChannelBaseList, checkedOf(ChLBdir));
    ChLBdiv->setItems(l.exchanges);
    ChLBch->setItems(l.channels);
}

void TForm1::ChLBdivClickCheck() {
    const QVector<char> marks = ChannelSelection::exchangeMarks(ChLBch->items(), checkedOf(ChLBdiv));
    ChLBch->setAllChecked(false);
    for (qsizetype i = 0; i < marks.size(); ++i)
        if (marks[i])
            ChLBch->setChecked(static_cast<int>(i), true);
}

void TForm1::SelectAll1Click() {
    if (ChLBdir->count() == 0)
        return;
    ChLBdir->setAllChecked(true);
    ChLBdirClickCheck();
}

void TForm1::DeselctAll1Click() {
    if (ChLBdir->count() == 0)
        return;
    ChLBdir->setAllChecked(false);
    ChLBdirClickCheck();
}

void TForm1::SelectAll2Click() {
    if (ChLBdiv->count() == 0)
        return;
    ChLBdiv->setAllChecked(true);
    ChLBdivClickCheck();
}

void TForm1::DeselctAll2Click() {
    if (ChLBdiv->count() == 0)
        return;
    ChLBdiv->setAllChecked(false);
    ChLBdivClickCheck();
}

void TForm1::SelectAll3Click() {
    ChLBch->setAllChecked(true);
}

void TForm1::DeselctAll3Click() {
    ChLBch->setAllChecked(false);
}

void TForm1::BchStatusClick() {
    const QString name = SGtask->cell(ColFile, SGtask->row());
    if (name.isEmpty())
        return;
    // Where the service runs the folder's tasks, a started task is its run: a stop is asked
    // through the task file, which the service reads.
    const bool running = Engine->schedules()
                             ? RunActive == 1 && !RunTaskFile.isEmpty() &&
                                   QFileInfo(RunTaskFile).fileName() == QFileInfo(name).fileName()
                             : SGtask->cell(ColStatus, SGtask->row()) == text(TaskStatus::Started) ||
                                   SGtask->cell(ColStatus, SGtask->row()) == text(TaskStatus::Stopping);
    const StatusButton::Action a = StatusButton::clickAction(BchStatus->text(), running);
    if (a.newStatus)
        SetTaskFileStatus(name, *a.newStatus);
    if (a.requestStop && Engine->schedules()) {
        StopRequested = true;
        Engine->requestStop();
    }
    TaskRefresh();
    SGtaskClick();
}

// Both follow RunActive rather than set a state of their own, so that the buttons are right
// whichever of a run's start and end was the last to call them.
static void taskButtonsFollowRun(TForm1& w) {
    for (QPushButton* b : {w.BnewTask, w.BaddTask, w.BtaskChange, w.BtaskDelete})
        b->setEnabled(w.RunActive == 0);
}

void TForm1::DisableB() {
    taskButtonsFollowRun(*this);
}

void TForm1::EnableB() {
    taskButtonsFollowRun(*this);
}
