// The test engine handlers of the window: run start, scheduler, test cycle, links.
#include "engine/EngineState.h"
#include "links/CommLogView.h"
#include "links/SerialLink.h"
#include "links/TcpLink.h"
#include "links/TcpPorts.h"
#include "results/MonthView.h"
#include "shell/AppError.h"
#include "shell/Clock.h"
#include "shell/Dialogs.h"
#include "shell/Guard.h"
#include "shell/MyUtils.h"
#include "shell/StringGrid.h"
#include "shell/TextFile.h"
#include "shell/Unit1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QRect>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolTip>
#include <QCursor>
#include <algorithm>
#include <utility>

namespace {
constexpr int kIdleMs = 10000;
constexpr int kRunMs = TestCycle::kTickMs;
constexpr qint64 kUnsavedRetryMs = 60000;
// A bank's modems keep this many lines of their own logs; the window's log gives up as many,
// so that all logs together hold no more than one log always has.
constexpr int kBankLineLogLines = 1000;
} // namespace

EngineState::EngineState(TForm1* window) : QObject(window), window_(window) {}

EngineState::~EngineState() = default;

void EngineState::RunLine::send(const QByteArray& bytes) {
    switch (kind) {
    case LinkKind::Serial:
        window->SerialPortNG1->sendString(bytes);
        break;
    case LinkKind::Tcp:
        if (!tcp->isConnected())
            return;
        tcp->sendString(bytes);
        break;
    case LinkKind::None:
        return;
    }
    // A bank's dial shows at once: its answer may take minutes.
    if (!prefix.isEmpty() && bytes.startsWith("atdt")) {
        shownDial = bytes.endsWith('\r') ? bytes.chopped(1) : bytes;
        window->MemoCommLog->append(prefix + shownDial + '\n');
    }
}

ModemPort::Link EngineState::RunLine::link() const {
    if (kind != LinkKind::Tcp)
        return Link::Up;
    switch (tcp->state()) {
    case TcpLink::wsConnected:
        return Link::Up;
    case TcpLink::wsClosed:
        return Link::Down;
    default:
        return Link::Connecting;
    }
}

void EngineState::RunLine::close() {
    if (kind == LinkKind::Serial)
        window->SerialPortNG1->setActive(false);
    else if (kind == LinkKind::Tcp)
        tcp->close();
}

void EngineState::RunLine::reopen() {
    if (kind == LinkKind::Serial) {
        window->SerialPortNG1->setActive(false);
        window->SerialPortNG1->setActive(true);
    } else if (kind == LinkKind::Tcp) {
        tcp->close();
        try {
            tcp->connectTo(address, name);
        } catch (const AppError&) {
            // The link stays closed: the modem has not come back and the line leaves.
        }
    }
}

void EngineState::RunLine::receive(const QByteArray& data) {
    const int from = log->commLineIndex();
    log->append(data);
    if (prefix.isEmpty())
        return;
    // The lines it completed go on to the window's log, in the order they arrive.
    CommLog& shown = *window->MemoCommLog;
    for (int i = std::max(from, log->firstKeptIndex()); i < log->commLineIndex(); ++i) {
        const QByteArray line = log->lineBytes(i);
        if (!shownDial.isEmpty() && line == shownDial) {
            shownDial.clear(); // the modem's echo of the dial shown already
            continue;
        }
        shown.append(prefix + line + '\n');
    }
}

void EngineState::Run::closeLinks() {
    for (const std::unique_ptr<RunLine>& line : lines)
        line->close();
}

void EngineState::postMessage(const QString& text) {
    if (text.isEmpty() || queue_.contains(text))
        return;
    queue_.append(text);
    if (!showing_ && !scheduled_) {
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] { showNext(); });
    }
}

void EngineState::showNext() {
    scheduled_ = false;
    if (showing_ || queue_.isEmpty())
        return;
    showing_ = true;
    ShowMessage(window_, MsgKind::Error, queue_.first());
    queue_.removeFirst();
    showing_ = false;
    if (!queue_.isEmpty()) {
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] { showNext(); });
    }
}

void TForm1::SetupEngine() {
    Engine = new EngineState(this);
    Engine->edit1Geometry = Edit1->geometry();
    EtcpPort->setToolTip(TcpPorts::kToolTip);
    MemoCommLog = &Engine->log;
    Engine->view = new CommLogView(Engine->log, MemoComm, Engine);
    SerialPortNG1 = new SerialLink(this);
    SerialPortNG1->setObjectName(QStringLiteral("SerialPortNG1"));
    WS1 = new TcpLink(this);
    WS1->setObjectName(QStringLiteral("WS1"));
    connect(SerialPortNG1, &SerialLink::clusterReceived, this,
            [this](const QByteArray& cluster) { Posted([&] { SerialPortNG1RxClusterEvent(cluster); }); });
    connect(WS1, &TcpLink::dataReceived, this,
            [this](const QByteArray& data) { Posted([&] { WS1DataAvailable(data); }); });
}

void TForm1::PostError(const QString& text) {
    Engine->postMessage(text);
}

void TForm1::Posted(const std::function<void()>& body) {
    PostError(ErrorTextOf(body));
}

// The answer counted as the results page marks it.
static void countAnswer(EngineState::Run& run, const QString& answer, int delay) {
    results::ResultGroup g;
    g.answer = answer;
    g.delayIsNumber = true;
    g.delayValue = delay;
    const QChar mark = results::DayMark(g);
    ++run.tested;
    if (mark == results::kMarkConnect)
        ++run.connected;
    else if (mark == results::kMarkBusy)
        ++run.busy;
    else
        ++run.failed;
}

// Each modem of a bank with its state, for the tooltip of Edit1.
static QString bankStatesToolTip(const TestCycle& cycle, const QString& shown) {
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

int TForm1::CommLineIndex() const {
    return MemoCommLog->commLineIndex();
}

// During a run the run's own link is the chosen one, so that flipping the radio buttons on
// the settings page cannot cut a running test off from its answers.
static EngineState::LinkKind chosenLink(const TForm1& w) {
    if (w.Engine->run)
        return w.Engine->run->link;
    if (w.RBcom->isChecked())
        return EngineState::LinkKind::Serial;
    if (w.RBtcp->isChecked())
        return EngineState::LinkKind::Tcp;
    return EngineState::LinkKind::None;
}

void TForm1::SerialPortNG1RxClusterEvent(const QByteArray& cluster) {
    if (chosenLink(*this) == EngineState::LinkKind::Serial)
        MemoCommLog->append(cluster);
}

void TForm1::WS1DataAvailable(const QByteArray& data) {
    if (data.isEmpty() || chosenLink(*this) != EngineState::LinkKind::Tcp)
        return;
    if (Engine->run && !Engine->run->lines.empty())
        Engine->run->lines[0]->receive(data);
    else
        MemoCommLog->append(data);
}

void TForm1::RecoverJournals() {
    RecoverJournalsIn(ResultsDir);
}

static QList<TaskRow> taskRows(const StringGrid& grid) {
    QList<TaskRow> rows;
    for (int r = 1; r < grid.rowCount(); ++r)
        rows.append({r, grid.cell(2, r), grid.cell(3, r), grid.cell(4, r), grid.cell(5, r)});
    return rows;
}

void TForm1::InstantlyTaskCheck() {
    if (Engine->run || Engine->windingUp)
        return;
    const int row = Scheduler::firstImmediate(taskRows(*SGtask));
    if (row > 0)
        StartRun(row, 1000);
}

void TForm1::StartRun(int row, int settle) {
    if (Engine->run || Engine->windingUp)
        return; // one run at a time
    const QString file = SGtask->cell(5, row);
    if (file.isEmpty())
        return;
    auto run = std::make_unique<EngineState::Run>();
    run->window = this;
    run->row = row;
    run->taskFile = file;
    run->type = SGtask->cell(2, row);
    run->taskName = SGtask->cell(1, row);

    // The link: every check that can fail at once is made before anything is opened.
    if (RBcom->isChecked()) {
        const int baud = StrToInt(CBSpeed->currentText());
        SerialPortNG1->setPortName(CBPort->currentText().left(255));
        SerialPortNG1->setBaudRate(baud);
        SerialPortNG1->setActive(true); // a port that does not open shows later as the time-out
        run->link = EngineState::LinkKind::Serial;
    } else if (RBtcp->isChecked()) {
        const QStringList ports = TcpPorts::parse(EtcpPort->text());
        run->link = EngineState::LinkKind::Tcp;
        WS1->connectTo(EipAdr->text(), ports[0]);
        for (const QString& port : ports) {
            auto line = std::make_unique<EngineState::RunLine>();
            line->window = this;
            line->kind = EngineState::LinkKind::Tcp;
            line->log = MemoCommLog;
            line->name = port;
            line->address = EipAdr->text();
            if (ports.size() > 1) {
                line->ownLog = std::make_unique<CommLog>(kBankLineLogLines);
                line->log = line->ownLog.get();
                line->prefix = port.toLatin1() + "> ";
            }
            if (run->lines.empty()) {
                line->tcp = WS1;
            } else {
                line->ownTcp = std::make_unique<TcpLink>();
                line->tcp = line->ownTcp.get();
                EngineState::RunLine* l = line.get();
                connect(l->tcp, &TcpLink::dataReceived, this, [this, l](const QByteArray& data) {
                    Posted([&] {
                        if (!data.isEmpty())
                            l->receive(data);
                    });
                });
                try {
                    line->tcp->connectTo(EipAdr->text(), port);
                } catch (...) {
                    run->closeLinks();
                    throw;
                }
            }
            run->lines.push_back(std::move(line));
        }
    }
    if (run->lines.empty()) {
        auto line = std::make_unique<EngineState::RunLine>();
        line->window = this;
        line->kind = run->link;
        line->log = MemoCommLog;
        run->lines.push_back(std::move(line));
    }

    QStringList channels;
    try {
        channels = TextFile::readLines(file);
        if (!channels.isEmpty())
            channels.removeFirst();
        run->results =
            Engine->unsaved ? std::move(Engine->unsaved) : std::make_unique<RunResults>(ResultsDir);
        run->results->open(clock().now().date());
        for (const QString& notice : run->results->takeNotices())
            Engine->postMessage(notice);
        SetTaskFileStatus(file, Scheduler::kStarted);
        SGtask->setCell(4, row, Scheduler::kStarted);
    } catch (...) {
        if (run->results && run->results->hasUnsaved())
            Engine->unsaved = std::move(run->results);
        run->closeLinks();
        throw;
    }

    TestCycle::Settings settings;
    settings.sendInit = CBoxIniString->isChecked();
    settings.initString = EinitString->text();
    settings.speedString = EmodemSpeed->text();
    settings.pauseText = [this] { return Epause->text(); };
    QList<TestCycle::Line> lines;
    for (const std::unique_ptr<EngineState::RunLine>& line : run->lines)
        lines.append({line.get(), line->log, line->name});
    if (lines.size() > 1)
        MemoCommLog->setKeptLines(CommLog::kKeptLines - int(lines.size()) * kBankLineLogLines);
    EngineState::Run* r = run.get();
    run->cycle = std::make_unique<TestCycle>(
        channels, clock(), lines, StopRequested, settings,
        [this, r](const QString& key, const QString& answer, int delay, const QDateTime& when) {
            try {
                countAnswer(*r, answer, delay);
                r->results->record(key, answer, delay, when);
            } catch (const AppError& e) {
                // Kept in memory and written at the run's end; one box a run is enough.
                if (!std::exchange(r->recordFailureTold, true))
                    Engine->postMessage(e.text());
            }
            for (const QString& notice : r->results->takeNotices())
                Engine->postMessage(notice);
        });

    const bool tcp = run->link == EngineState::LinkKind::Tcp;
    Engine->run = std::move(run);
    Engine->scheduler.noteStarted(file, clock().now());
    RunRow = row;
    RunTaskFile = file;
    // A stop asked for before this run (on a task left "Стартирана" earlier) is not meant for it.
    StopRequested = false;
    sendPanelBehind();
    MemoComm->raise();
    RunActive = 1;
    // The settle pause after a TCP connect delays the first running tick instead of blocking
    // the window: the connection completes meanwhile, and the tick sets the interval to 200.
    Timer1->setInterval(tcp ? settle + kRunMs : kRunMs);
    try {
        SGtaskClick();
        DisableB();
    } catch (const AppError& e) {
        Engine->postMessage(e.text());
    }
}

void TForm1::Timer1Timer() {
    if (Timer1->interval() == kIdleMs) {
        const QList<TaskRow> rows = taskRows(*SGtask);
        const QDateTime now = clock().now();
        // A due task that cannot start does not keep the others due in this minute from theirs.
        for (int row = Engine->scheduler.due(rows, now); row > 0;
             row = Engine->scheduler.due(rows, now, row)) {
            try {
                StartRun(row, 200);
            } catch (const AppError& e) {
                // Retried by every check of the minute; told once.
                if (Engine->scheduler.noteFailure(rows[row - 1].file, now))
                    Engine->postMessage(e.text());
            }
            if (Engine->run)
                return;
        }
        RetryUnsavedResults();
        return;
    }
    if (!Engine->run) {
        Timer1->setInterval(kIdleMs);
        return;
    }
    if (Timer1->interval() != kRunMs)
        Timer1->setInterval(kRunMs); // the first tick after the settle pause
    const TestCycle& cycle = *Engine->run->cycle;
    const TestCycle::Step step = Engine->run->cycle->tick();
    Edit1->setText(step.shownStates);
    if (cycle.lineCount() > 1) {
        const QString tip = bankStatesToolTip(cycle, step.shownStates);
        Edit1->setToolTip(tip);
        // A tooltip being shown follows the modems too.
        if (QToolTip::isVisible() && Edit1->rect().contains(Edit1->mapFromGlobal(QCursor::pos())))
            QToolTip::showText(QCursor::pos(), tip, Edit1);
        // Every modem's digit stays in sight: the box grows to the left, its right edge kept.
        const QRect normal = Engine->edit1Geometry;
        const int width =
            std::max(normal.width(), Edit1->fontMetrics().horizontalAdvance(step.shownStates) + 16);
        if (Edit1->width() != width)
            Edit1->setGeometry(normal.right() + 1 - width, normal.y(), width, normal.height());
    }
    if (step.gauge >= 0)
        Gauge1->setValue(step.gauge);
    if (step.end != TestCycle::End::None) {
        const QString notice = cycle.bankNotice();
        if (cycle.lineCount() > 1)
            Edit1->setText(QString::number(step.shownState)); // one digit, as after one modem
        FinishRun(step.message);
        // After the wind-up and its own messages: which modems of the bank left, which channels
        // were given up.
        Engine->postMessage(notice);
    }
}

void TForm1::FinishRun(const QString& message) {
    std::unique_ptr<EngineState::Run> run = std::move(Engine->run);
    if (!run)
        return;
    // The table rebuild may show a box of its own, whose event loop runs scheduler checks.
    Engine->windingUp = true;
    QStringList problems;
    auto attempt = [&problems](const std::function<void()>& body) {
        try {
            body();
        } catch (const AppError& e) {
            problems.append(e.text());
        }
    };

    MemoComm->lower();
    if (PageControl1->currentIndex() == 0)
        bringPanelToFront();
    RunActive = 0;
    Gauge1->setValue(0);
    Timer1->setInterval(kIdleMs);
    run->cycle.reset(); // RunList
    attempt([&] { run->results->finish(); });
    if (run->results->hasUnsaved())
        Engine->unsaved = std::move(run->results);
    run->results.reset(); // MonthList
    Engine->lastUnsavedTryMs = clock().monotonicMs();

    attempt([&] {
        if (run->type != Scheduler::kDaily) {
            if (QFile::exists(run->taskFile) && !QFile::remove(run->taskFile))
                throw FileError(QStringLiteral("Cannot delete file %1.").arg(run->taskFile));
        } else {
            SetTaskFileStatus(run->taskFile, Scheduler::kWaiting);
        }
    });
    run->closeLinks();
    MemoCommLog->setKeptLines(CommLog::kKeptLines);
    if (run->lines.size() > 1) {
        Edit1->setToolTip(QString());
        Edit1->setGeometry(Engine->edit1Geometry);
    }
    RunTaskFile.clear();
    StopRequested = false;
    attempt([&] { TaskRefresh(); });
    attempt([&] { SGtaskClick(); });
    attempt([&] { EnableB(); });
    Engine->windingUp = false;

    // Seen from the desk without opening the window; the desktop shows it and nothing waits.
    Engine->lastRunSummary = QStringLiteral("Тествани канали: %1\nВръзка: %2, заето: %3, неуспешни: %4")
                                 .arg(run->tested)
                                 .arg(run->connected)
                                 .arg(run->busy)
                                 .arg(run->failed);
    if (TrayIcon1 && QSystemTrayIcon::supportsMessages())
        TrayIcon1->showMessage(QStringLiteral("Задачата „%1“ завърши").arg(run->taskName),
                               Engine->lastRunSummary, QSystemTrayIcon::Information, 15000);

    Engine->postMessage(message);
    for (const QString& p : problems)
        Engine->postMessage(p);
}

// Idle: once a minute, tests that could not be written are tried again, quietly (their
// failure was told at the run's end).
void TForm1::RetryUnsavedResults() {
    if (!Engine->unsaved || Engine->windingUp ||
        clock().monotonicMs() - Engine->lastUnsavedTryMs < kUnsavedRetryMs)
        return;
    Engine->lastUnsavedTryMs = clock().monotonicMs();
    try {
        Engine->unsaved->finish();
    } catch (const AppError&) {
    }
    if (!Engine->unsaved->hasUnsaved())
        Engine->unsaved.reset();
}

void TForm1::ShutdownEngine() {
    if (std::unique_ptr<EngineState::Run> run = std::move(Engine->run)) {
        if (StopRequested)
            Guarded(this, [&] { SetTaskFileStatus(run->taskFile, Scheduler::kWaiting); });
        run->cycle.reset();
        // The test in progress is lost; every recorded one goes into its month file now.
        Guarded(this, [&] { run->results->finish(); });
        run->closeLinks();
    } else if (Engine->unsaved) {
        Guarded(this, [&] { Engine->unsaved->finish(); });
    }
    Engine->unsaved.reset(); // what could not be written is still in its journal
    RunTaskFile.clear();
    RunActive = 0;
    SerialPortNG1->setActive(false);
    WS1->close();
}
