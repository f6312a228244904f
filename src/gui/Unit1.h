#pragma once
// TForm1, the program's one window: it owns every control and, directly or through the
// objects it holds, all state. Its handlers keep the names of the original design and stay
// thin; the logic they call lives in plain classes of the subsystem folders. The handlers of
// each subsystem are defined in that subsystem's Unit1*.cpp file.

#include "engine/TestCycle.h"

#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class CheckListBox;
class Clock;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;
class RadioGroup;
class StringGrid;
class QAction;
class CommLog;

// What the window is started with; tests replace the clock and the executable's folder.
struct StartOptions {
    QString appDir;         // empty: the executable's folder
    Clock* clock = nullptr; // not owned; nullptr: the system clock
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(const StartOptions& options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // --- window state shared by the subsystems
    QString ExportDir;
    QString ResultsDir;
    QString AppDir;
    int RunRow = 0;
    bool StopRequested = false;
    int RunActive = 0;     // the Tag of the "Задачи" page
    int MonthViewOpen = 0; // the Tag of the "Резултати" page
    QString RunTaskFile;   // the task file of the active run; empty while no run is active

    Clock& clock() const { return *clock_; }
    // True when the selection panel stands in front of the page control.
    bool panelInFront() const;
    void bringPanelToFront();
    void sendPanelBehind();

    // --- controls: window level
    QTabWidget* PageControl1;
    QWidget* TabSheet1; // "Задачи"
    QWidget* TabSheet2; // "Резултати"
    QWidget* TabSheet3; // "Настройки"
    QWidget* PanelIzbor;
    CheckListBox* ChLBdir;
    CheckListBox* ChLBdiv;
    CheckListBox* ChLBch;
    QProgressBar* Gauge1;
    QLineEdit* Edit1;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    QTimer* Timer1;

    // --- controls: "Задачи"
    StringGrid* SGtask;
    QLineEdit* LEtaskName;
    QGroupBox* GBtimeBegin;
    QSpinBox* SpinEditH;
    QSpinBox* SpinEditM;
    RadioGroup* RGType;
    QPushButton* BnewTask;
    QPushButton* BtaskChange;
    QPushButton* BaddTask;
    QPushButton* BtaskDelete;
    QPushButton* BchStatus;
    QPlainTextEdit* MemoComm;

    // --- controls: "Резултати"
    QComboBox* CBmesec;
    QSpinBox* SEgodina;
    QPushButton* BdbOpen;
    QPushButton* btn_prev;
    QPushButton* btn_next;
    QPushButton* Bexp;
    QCheckBox* CBoxComment;
    QPushButton* BresultsClose;
    QLabel* Label9;
    QLabel* Label11;
    StringGrid* SGresults;
    QWidget* PDetails;
    QLabel* Label10;
    QPushButton* BDetailsClose;
    StringGrid* SGdetails;

    // --- controls: "Настройки"
    StringGrid* SGsetings;
    QPushButton* BopenSet;
    QPushButton* BsaveSet;
    QGroupBox* GBimport;
    QPushButton* Bimport;
    RadioGroup* RGprefix;
    RadioGroup* RGaction;
    QGroupBox* GBModem;
    QComboBox* CBPort;
    QComboBox* CBSpeed;
    QLineEdit* Epause;
    QSpinBox* SEretestCount;
    QSpinBox* SEretestDelay;
    QRadioButton* RBcom;
    QRadioButton* RBtcp;
    QLineEdit* EipAdr;
    QLineEdit* EtcpPort;
    QCheckBox* CBoxIniString;
    QLineEdit* EinitString;
    QLineEdit* EmodemSpeed;

    // --- shell (src/shell/Unit1.cpp)
    void FormCreate();
    // Shows the error once the current handler has returned, one box at a time; for errors
    // met where no modal box may open (start-up, a tick, a run's start or end).
    void PostError(const QString& text);
    // Runs a handler's body, posting its error instead of showing it.
    void Posted(const std::function<void()>& body);
    void PageControl1Change(int index);
    void TrayIcon1DblClick();

    // --- channel configuration (src/config/Unit1Config.cpp)
    void LoadPortList();
    void ReadLinkSettings();
    void WriteLinkSettings();
    struct LinkSettings ShownLinkSettings() const; // the link settings as the controls show them
    void BopenSetClick();
    void BsaveSetClick();
    void BimportClick();
    void SetupConfigControls(); // editors, validators: called once by the constructor

    // --- tasks (src/tasks/Unit1Tasks.cpp)
    QStringList ChannelBaseList;
    void TaskRefresh();
    void SGtaskClick();
    void BaddTaskClick();
    void BtaskChangeClick();
    void BtaskDeleteClick();
    void RGTypeClick();
    void BnewTaskClick();
    void ChLBdirClickCheck();
    void ChLBdivClickCheck();
    void SelectAll1Click();
    void DeselctAll1Click();
    void SelectAll2Click();
    void DeselctAll2Click();
    void SelectAll3Click();
    void DeselctAll3Click();
    void BchStatusClick();
    void DisableB();
    void EnableB();
    void SetupTaskControls(); // called once by the constructor

    // --- test engine (src/engine/Unit1Engine.cpp)
    void InstantlyTaskCheck();
    void Timer1Timer();
    void SetupEngine();     // called once by the constructor, before FormCreate
    void SetupStation();    // start-up, once the Results folder is known
    void ShutdownEngine();  // the close: links closed, a stop being made rewritten, lists freed
    void RecoverJournals(); // start-up: results left by a crash are merged into their month files
    // Starts the task of a table row; settle: the pause (ms) after a TCP connect before the
    // first running tick. Raises AppError when the link cannot be started; the task is untouched.
    void StartRun(int row, int settle);
    // What the window shows of the station's run: its start, each step, its end and wind-up.
    void RunStarted(class Run& run);
    void ShowStep(const TestCycle::Step& step);
    void RunEnding();
    void RunWoundUp();
    void RetryUnsavedResults();             // idle: writes tests kept from a failed month file write
    int CommLineIndex() const;
    class CommLog* MemoCommLog = nullptr; // the communication log shown in MemoComm
    class Station* Engine = nullptr;      // the station: its run, scheduler and kept tests (a child)
    QRect Edit1Geometry;                  // Edit1 as laid out; it grows to the left for a bank's states

    // --- results (src/results/Unit1Results.cpp)
    std::optional<QStringList> ViewList;
    void BdbOpenClick();
    void btn_prevClick();
    void btn_nextClick();
    void BresultsCloseClick();
    void SGresultsDblClick();
    void BDetailsCloseClick();
    void BexpClick();
    void SetupResultControls(); // called once by the constructor
    void ShutdownResults();     // the close: waits for an export in progress
    void FillMonthGrid(bool keepRows);
    QString BuildCellComment(int row, int col) const;
    bool ExportRunning() const;
    class ResultsExport* ResultsExport_ = nullptr; // owned as a child object

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildWindow();
    void buildTasksPage();
    void buildResultsPage();
    void buildSettingsPage();
    void connectHandlers();
    // Connects a signal to a handler run through the default error handler.
    template <class Sender, class Signal, class Body> void on(Sender* sender, Signal signal, Body body);

    std::unique_ptr<Clock> ownClock_;
    Clock* clock_;
    std::unique_ptr<CommLog> commLog_;
    class PostedMessages* messages_ = nullptr;
    bool closing_ = false;
    bool bankShown_ = false; // the run being wound up was a bank's: Edit1 goes back to its size
};
