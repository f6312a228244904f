// The test engine handlers of the window: they call the station and show what it reports.
#include "engine/Station.h"
#include "gui/CommLogView.h"
#include "links/TcpPorts.h"
#include "core/AppError.h"
#include "core/Clock.h"
#include "gui/Dialogs.h"
#include "gui/Guard.h"
#include "gui/PostedMessages.h"
#include "gui/StringGrid.h"
#include "gui/Unit1.h"
#include "tasks/StatusButton.h"

#include <QCheckBox>
#include <QPushButton>
#include <QComboBox>
#include <QCursor>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QDir>
#include <QTimer>
#include <QToolTip>
#include <algorithm>

namespace {
// Each modem of a bank with its state, for the tooltip of Edit1.
QString bankStatesToolTip(const TestCycle& cycle, const QString& shown) {
    static const QStringList kStates = {QStringLiteral("набира"), QStringLiteral("чака отговор"),
                                        QStringLiteral("задържа връзката"), QStringLiteral("чака затваряне"),
                                        QStringLiteral("пауза")};
    QStringList rows;
    for (int i = 0; i < cycle.lineCount(); ++i) {
        const QChar c = shown.at(i);
        QString what;
        if (cycle.phase(i) == TestCycle::Phase::Left)
            what = QStringLiteral("излезе от теста");
        else if (cycle.phase(i) == TestCycle::Phase::Connecting)
            what = QStringLiteral("0 свързва се");
        else if (cycle.phase(i) == TestCycle::Phase::Recovering)
            what = QStringLiteral("0 модемът се възстановява");
        else if (cycle.channel(i) < 0 && c == u'0')
            what = QStringLiteral("0 няма канал");
        else
            what = QString(c) + u' ' + kStates.value(c.digitValue());
        rows.append(QStringLiteral("%1: %2").arg(cycle.lineName(i), what));
    }
    return rows.join(u'\n');
}

QList<TaskRow> taskRows(const StringGrid& grid) {
    QList<TaskRow> rows;
    for (int r = 1; r < grid.rowCount(); ++r)
        rows.append({r, grid.cell(2, r), grid.cell(3, r), grid.cell(4, r), grid.cell(5, r), grid.cell(1, r)});
    return rows;
}
} // namespace

void TForm1::SetupEngine() {
    messages_ = new PostedMessages(this);
    Edit1Geometry = Edit1->geometry();
    EtcpPort->setToolTip(TcpPorts::kToolTip);
    commLog_ = std::make_unique<CommLog>();
    MemoCommLog = commLog_.get();
    new CommLogView(*MemoCommLog, MemoComm, this);
}

void TForm1::SetupStation() {
    Engine = new Station(Workspace{QDir::currentPath(), ResultsDir, ExportDir}, clock(), Timer1, this);
    Engine->setTaskRows([this] { return taskRows(*SGtask); });
    Engine->setRunSettings([this] {
        RunSettings settings;
        settings.link = ShownLinkSettings();
        settings.pauseText = [this] { return Epause->text(); };
        settings.sharedLog = MemoCommLog;
        return settings;
    });
    connect(Engine, &Station::message, messages_, [this](const QString& text) { messages_->post(text); });
    connect(Engine, &Station::runStarted, this, [this](Run* run) { RunStarted(*run); });
    connect(Engine, &Station::stepped, this, [this](const TestCycle::Step& step) { ShowStep(step); });
    connect(Engine, &Station::runEnding, this, [this] { RunEnding(); });
    connect(Engine, &Station::woundUp, this, [this] { RunWoundUp(); });
    connect(Engine, &Station::watched, this, [this] {
        // Another program runs the tasks: the table follows their statuses.
        TaskRefresh();
        const int row = SGtask->row();
        if (!BchStatus->isHidden() && row > 0 && row < SGtask->rowCount())
            BchStatus->setText(StatusButton::captionFor(SGtask->cell(4, row), BchStatus->text()));
    });
    // The window opens all the same: only the tasks are left to the one that runs them.
    if (Engine->takeFolder(FolderLock::Holder::Window) == FolderLock::Outcome::HeldByOther) {
        const FolderLock& lock = Engine->folderLock();
        messages_->post(
            (lock.holder() == FolderLock::Holder::Service
                 ? QStringLiteral("Задачите в тази папка се изпълняват от услугата chantest на този компютър "
                                  "(процес %1).")
                 : QStringLiteral("Задачите в тази папка се изпълняват от друг прозорец на програмата "
                                  "(процес %1)."))
                    .arg(lock.holderPid()) +
                QStringLiteral(" Този прозорец не стартира задачи; каналите, задачите и резултатите могат да се "
                               "преглеждат и променят."),
            MsgKind::Information);
    }
    // Seen from the desk without opening the window; the desktop shows it and nothing waits.
    connect(Engine, &Station::runFinished, this, [this](const QString& task, const QString& summary) {
        if (TrayIcon1 && QSystemTrayIcon::supportsMessages())
            TrayIcon1->showMessage(QStringLiteral("Задачата „%1“ завърши").arg(task), summary,
                                   QSystemTrayIcon::Information, 15000);
    });
}

void TForm1::PostError(const QString& text) {
    messages_->post(text);
}

void TForm1::Posted(const std::function<void()>& body) {
    PostError(ErrorTextOf(body));
}

int TForm1::CommLineIndex() const {
    return MemoCommLog->commLineIndex();
}

void TForm1::RecoverJournals() {
    Engine->recoverJournals();
    Engine->reviveTasks();
}

void TForm1::InstantlyTaskCheck() {
    Engine->startImmediate(Station::ImmediateEvent::TasksChanged);
}

void TForm1::StartRun(int row, int settle) {
    const TaskRow task = taskRows(*SGtask).value(row - 1);
    if (task.file.isEmpty() || Engine->busy())
        return; // one run at a time
    Engine->startRun(task, settle);
}

void TForm1::RunStarted(Run& run) {
    // A bank's modems keep logs of their own; the window's log gives up as many lines, so that
    // all logs together hold no more than one log always has.
    if (run.lineCount() > 1) {
        MemoCommLog->setKeptLines(CommLog::kKeptLines - run.lineCount() * Run::kOwnLogLines);
        connect(&run, &Run::logLine, this, [this](const QByteArray& line) { MemoCommLog->append(line + '\n'); });
    }
    const int row = run.task().row;
    SGtask->setCell(4, row, text(TaskStatus::Started));
    RunRow = row;
    RunTaskFile = run.task().file;
    // A stop asked for before this run (on a task left "Стартирана" earlier) is not meant for it.
    StopRequested = false;
    sendPanelBehind();
    MemoComm->raise();
    RunActive = 1;
    try {
        SGtaskClick();
        DisableB();
    } catch (const AppError& e) {
        PostError(e.text());
    }
}

void TForm1::Timer1Timer() {
    Engine->timerTick();
}

void TForm1::ShowStep(const TestCycle::Step& step) {
    const Run* run = Engine->run();
    if (!run)
        return;
    const TestCycle& cycle = run->cycle();
    Edit1->setText(step.shownStates);
    if (cycle.lineCount() > 1) {
        const QString tip = bankStatesToolTip(cycle, step.shownStates);
        Edit1->setToolTip(tip);
        // A tooltip being shown follows the modems too.
        if (QToolTip::isVisible() && Edit1->rect().contains(Edit1->mapFromGlobal(QCursor::pos())))
            QToolTip::showText(QCursor::pos(), tip, Edit1);
        // Every modem's digit stays in sight: the box grows to the left, its right edge kept.
        const QRect normal = Edit1Geometry;
        const int width =
            std::max(normal.width(), Edit1->fontMetrics().horizontalAdvance(step.shownStates) + 16);
        if (Edit1->width() != width)
            Edit1->setGeometry(normal.right() + 1 - width, normal.y(), width, normal.height());
    }
    if (step.gauge >= 0)
        Gauge1->setValue(step.gauge);
    if (step.end != TestCycle::End::None && cycle.lineCount() > 1)
        Edit1->setText(QString::number(step.shownState)); // one digit, as after one modem
}

void TForm1::RunEnding() {
    bankShown_ = Engine->run() && Engine->run()->lineCount() > 1;
    MemoComm->lower();
    if (PageControl1->currentIndex() == 0)
        bringPanelToFront();
    RunActive = 0;
    Gauge1->setValue(0);
}

// The table rebuild comes after the results, the task file and the links; then the message,
// the problems met and which modems and channels of a bank dropped out.
void TForm1::RunWoundUp() {
    MemoCommLog->setKeptLines(CommLog::kKeptLines);
    if (bankShown_) {
        Edit1->setToolTip(QString());
        Edit1->setGeometry(Edit1Geometry);
    }
    RunTaskFile.clear();
    StopRequested = false;
    Posted([this] { TaskRefresh(); });
    Posted([this] { SGtaskClick(); });
    Posted([this] { EnableB(); });
}

void TForm1::RetryUnsavedResults() {
    Engine->retryUnsaved();
}

void TForm1::ShutdownEngine() {
    for (const QString& problem : Engine->shutdown(StopRequested))
        ShowMessage(this, MsgKind::Error, problem);
    RunTaskFile.clear();
    RunActive = 0;
}
