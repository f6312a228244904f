#include "Unit1.h"

#include "tasks/Task.h"

#include "CheckListBox.h"
#include "core/Clock.h"
#include "core/DataDirs.h"
#include "Dialogs.h"
#include "Guard.h"
#include "core/MyUtils.h"
#include "RadioGroup.h"
#include "StringGrid.h"
#include "config/LinkSettings.h"
#include "links/CommLog.h"
#include "results/MonthView.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

namespace {
template <class W> W* named(W* w, const char* name) {
    w->setObjectName(QLatin1String(name));
    return w;
}

QLabel* label(QWidget* parent, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, int x, int y, int w, int h = 25) {
    auto* b = named(new QPushButton(text, parent), name);
    b->setGeometry(x, y, w, h);
    return b;
}

// A spin edit that is stepped, never typed into.
QSpinBox* spinEdit(QWidget* parent, const char* name, int min, int max, int x, int y, int w) {
    auto* s = named(new QSpinBox(parent), name);
    s->setRange(min, max);
    s->setGeometry(x, y, w, 22);
    if (auto* e = s->findChild<QLineEdit*>())
        e->setReadOnly(true);
    return s;
}

QLineEdit* edit(QWidget* parent, const char* name, const QString& text, int x, int y, int w) {
    auto* e = named(new QLineEdit(text, parent), name);
    e->setGeometry(x, y, w, 21);
    return e;
}

QPushButton* closeButton(QWidget* parent, const char* name, int x, int y) {
    auto* b = named(new QPushButton(parent), name);
    b->setGeometry(x, y, 15, 15);
    b->setIcon(parent->style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    b->setIconSize(QSize(11, 11));
    b->setFlat(false);
    return b;
}
} // namespace

template <class Sender, class Signal, class Body> void TForm1::on(Sender* sender, Signal signal, Body body) {
    connect(sender, signal, this, [this, body] { Guarded(this, [this, body] { (this->*body)(); }); });
}

TForm1::TForm1(const StartOptions& options, QWidget* parent) : QWidget(parent) {
    if (options.clock) {
        clock_ = options.clock;
    } else {
        ownClock_ = std::make_unique<SystemClock>();
        clock_ = ownClock_.get();
    }
    AppDir = options.appDir.isEmpty() ? QCoreApplication::applicationDirPath() : options.appDir;
    buildWindow();
    SetupEngine(); // first: it holds the queue where start-up posts its errors
    Posted([this] { SetupConfigControls(); });
    Posted([this] { SetupTaskControls(); });
    Posted([this] { SetupResultControls(); });
    connectHandlers();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildWindow() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Програма за тестване на каналите"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // The layout is in fixed pixels; the platform's larger default font would clip it.
    QFont f = QApplication::font();
    f.setPointSize(8);
    setFont(f);
    resize(782, 513);

    PageControl1 = named(new QTabWidget(this), "PageControl1");
    PageControl1->setGeometry(0, 0, 781, 486);
    TabSheet1 = named(new QWidget, "TabSheet1");
    TabSheet2 = named(new QWidget, "TabSheet2");
    TabSheet3 = named(new QWidget, "TabSheet3");
    PageControl1->addTab(TabSheet1, QStringLiteral("Задачи"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Резултати"));
    PageControl1->addTab(TabSheet3, QStringLiteral("Настройки"));

    buildTasksPage();
    buildResultsPage();
    buildSettingsPage();

    PanelIzbor = named(new QWidget(this), "PanelIzbor");
    PanelIzbor->setGeometry(11, 138, 627, 340);
    PanelIzbor->setAutoFillBackground(true);
    label(PanelIzbor, QStringLiteral("Направление"), 8, 8)->setObjectName(QStringLiteral("Label1"));
    label(PanelIzbor, QStringLiteral("Уредба"), 137, 8)->setObjectName(QStringLiteral("Label2"));
    label(PanelIzbor, QStringLiteral("Канал"), 277, 8)->setObjectName(QStringLiteral("Label3"));
    ChLBdir = named(new CheckListBox(PanelIzbor), "ChLBdir");
    ChLBdir->setGeometry(8, 26, 121, 305);
    ChLBdiv = named(new CheckListBox(PanelIzbor), "ChLBdiv");
    ChLBdiv->setGeometry(137, 26, 132, 305);
    ChLBch = named(new CheckListBox(PanelIzbor), "ChLBch");
    ChLBch->setGeometry(277, 26, 326, 308);
    ChLBdir->popupMenu()->setObjectName(QStringLiteral("PopupMenu1"));
    ChLBdiv->popupMenu()->setObjectName(QStringLiteral("PopupMenu2"));
    ChLBch->popupMenu()->setObjectName(QStringLiteral("PopupMenu3"));
    ChLBdir->selectAllAction()->setObjectName(QStringLiteral("SelectAll1"));
    ChLBdir->deselectAllAction()->setObjectName(QStringLiteral("DeselctAll1"));
    ChLBdiv->selectAllAction()->setObjectName(QStringLiteral("SelectAll2"));
    ChLBdiv->deselectAllAction()->setObjectName(QStringLiteral("DeselctAll2"));
    ChLBch->selectAllAction()->setObjectName(QStringLiteral("SelectAll3"));
    ChLBch->deselectAllAction()->setObjectName(QStringLiteral("DeselctAll3"));

    Gauge1 = named(new QProgressBar(this), "Gauge1");
    Gauge1->setGeometry(24, 491, 185, 17);
    Gauge1->setRange(0, 100);
    Gauge1->setValue(0);
    Gauge1->setTextVisible(true);
    Edit1 = edit(this, "Edit1", QStringLiteral("Edit1"), 656, 488, 121);

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(10000);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        TrayIcon1 = named(new QSystemTrayIcon(this), "TrayIcon1");
        QIcon icon = QApplication::windowIcon();
        if (icon.isNull())
            icon = style()->standardIcon(QStyle::SP_ComputerIcon);
        TrayIcon1->setIcon(icon);
        QString title = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
        if (!title.isEmpty())
            title = title.left(1) + title.mid(1).toLower();
        TrayIcon1->setToolTip(title.left(63));
        TrayIcon1->show();
    }
}

void TForm1::buildTasksPage() {
    QWidget* p = TabSheet1;
    SGtask = named(new StringGrid(6, 10, p), "SGtask");
    SGtask->setGeometry(6, 6, 543, 98);
    const int widths[] = {20, 117, 88, 65, 117, 109};
    for (int c = 0; c < 6; ++c)
        SGtask->setColWidth(c, widths[c]);
    SGtask->setSelectionBehavior(QAbstractItemView::SelectRows);
    SGtask->setSelectionMode(QAbstractItemView::SingleSelection);
    SGtask->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SGtask->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SGtask->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    RGType = new RadioGroup(
        QStringLiteral("RGType"), QStringLiteral("Времеви тип"),
        {text(TaskType::Immediate), text(TaskType::AtTime), text(TaskType::Daily)}, p);
    RGType->setGeometry(558, 2, 100, 78);

    GBtimeBegin = named(new QGroupBox(QStringLiteral("Начално време"), p), "GBtimeBegin");
    GBtimeBegin->setGeometry(664, 2, 104, 78);
    // Each label is tied to its edit, so screen readers name the edit and Alt jumps to it.
    SpinEditH = spinEdit(GBtimeBegin, "SpinEditH", 0, 23, 56, 18, 42);
    label(GBtimeBegin, QStringLiteral("Час"), 6, 22)->setBuddy(SpinEditH);
    SpinEditM = spinEdit(GBtimeBegin, "SpinEditM", 0, 59, 56, 46, 42);
    label(GBtimeBegin, QStringLiteral("Минута"), 6, 50)->setBuddy(SpinEditM);

    LEtaskName = edit(p, "LEtaskName", QString(), 558, 86, 102);
    QLabel* nameLabel = label(p, QStringLiteral("Име на задачата"), 664, 89);
    nameLabel->setObjectName(QStringLiteral("LEtaskNameLabel"));
    nameLabel->setBuddy(LEtaskName);

    BnewTask = button(p, "BnewTask", QStringLiteral("Нова"), 641, 136, 127);
    BaddTask = button(p, "BaddTask", QStringLiteral("Прибави"), 641, 168, 127);
    BtaskChange = button(p, "BtaskChange", QStringLiteral("Промени"), 641, 200, 127);
    BtaskDelete = button(p, "BtaskDelete", QStringLiteral("Изтрий"), 641, 232, 127);
    BchStatus = button(p, "BchStatus", QString(), 640, 290, 129, 28);

    MemoComm = named(new QPlainTextEdit(p), "MemoComm");
    MemoComm->setGeometry(9, 136, 624, 313);
    MemoComm->setReadOnly(true);
    MemoComm->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoComm->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(9);
    MemoComm->setFont(mono);
    QPalette pal = MemoComm->palette();
    pal.setColor(QPalette::Base, Qt::black);
    pal.setColor(QPalette::Text, Qt::white);
    MemoComm->setPalette(pal);
}

void TForm1::buildResultsPage() {
    QWidget* p = TabSheet2;
    CBmesec = named(new QComboBox(p), "CBmesec");
    for (int m = 1; m <= 12; ++m)
        CBmesec->addItem(results::MonthName(m));
    CBmesec->setMaxVisibleItems(12);
    CBmesec->setGeometry(8, 8, 110, 22);
    SEgodina = spinEdit(p, "SEgodina", 1995, 2100, 124, 8, 64);
    BdbOpen = button(p, "BdbOpen", QStringLiteral("Отвори"), 196, 6, 75);
    btn_prev = button(p, "btn_prev", QStringLiteral("<"), 280, 6, 25);
    btn_next = button(p, "btn_next", QStringLiteral(">"), 308, 6, 25);
    QFont bold = btn_prev->font();
    bold.setBold(true);
    btn_prev->setFont(bold);
    btn_next->setFont(bold);
    Bexp = button(p, "Bexp", QStringLiteral("Експорт"), 344, 6, 75);
    CBoxComment = named(new QCheckBox(QStringLiteral("Експорт коментари"), p), "CBoxComment");
    CBoxComment->setGeometry(428, 9, 140, 20);

    QFont big = font();
    big.setPixelSize(13);
    Label9 = named(new QLabel(p), "Label9");
    Label9->setFont(big);
    Label9->setGeometry(8, 36, 520, 18);
    Label11 = named(new QLabel(p), "Label11");
    QFont bigBold = big;
    bigBold.setBold(true);
    Label11->setFont(bigBold);
    Label11->setGeometry(580, 2, 190, 34);
    BresultsClose = closeButton(p, "BresultsClose", 755, 38);

    SGresults = named(new StringGrid(33, 2, p), "SGresults");
    SGresults->setGeometry(0, 56, 772, 401);
    SGresults->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SGresults->setColWidth(0, 25);
    SGresults->setColWidth(1, 196);
    for (int c = 2; c < 33; ++c)
        SGresults->setColWidth(c, 15);

    PDetails = named(new QWidget(p), "PDetails");
    PDetails->setGeometry(232, 88, 329, 329);
    PDetails->setAutoFillBackground(true);
    auto* frame = new QGroupBox(PDetails);
    frame->setGeometry(0, 0, 329, 329);
    Label10 = named(new QLabel(PDetails), "Label10");
    Label10->setGeometry(6, 4, 300, 16);
    BDetailsClose = closeButton(PDetails, "BDetailsClose", 310, 4);
    SGdetails = named(new StringGrid(4, 14, PDetails), "SGdetails");
    SGdetails->setGeometry(4, 24, 321, 300);
    SGdetails->setEditTriggers(QAbstractItemView::NoEditTriggers);
    const int widths[] = {25, 138, 69, 71};
    for (int c = 0; c < 4; ++c)
        SGdetails->setColWidth(c, widths[c]);

    for (QWidget* w : std::initializer_list<QWidget*>{btn_prev, btn_next, Bexp, CBoxComment, BresultsClose,
                                                      SGresults, PDetails, Label9})
        w->hide();
}

void TForm1::buildSettingsPage() {
    QWidget* p = TabSheet3;
    SGsetings = named(new StringGrid(5, 30, p), "SGsetings");
    SGsetings->setGeometry(4, 4, 417, 441);
    const int widths[] = {25, 94, 106, 24, 144};
    for (int c = 0; c < 5; ++c)
        SGsetings->setColWidth(c, widths[c]);
    SGsetings->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SGsetings->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    BopenSet = button(p, "BopenSet", QStringLiteral("Отвори"), 432, 8, 90);
    BsaveSet = button(p, "BsaveSet", QStringLiteral("Запази"), 532, 8, 90);

    GBimport = named(new QGroupBox(QStringLiteral("Вкарай от Kanvo.dat файл"), p), "GBimport");
    GBimport->setGeometry(430, 42, 336, 92);
    Bimport = button(GBimport, "Bimport", QStringLiteral("Вкарай"), 10, 36, 70);
    RGprefix = new RadioGroup(QStringLiteral("RGprefix"), QStringLiteral("Префикс"),
                              {QStringLiteral("#8"), QStringLiteral("*8")}, GBimport);
    RGprefix->setGeometry(92, 18, 100, 64);
    RGaction = new RadioGroup(QStringLiteral("RGaction"), QStringLiteral("Действие"),
                              {QStringLiteral("Добави"), QStringLiteral("Нов")}, GBimport);
    RGaction->setGeometry(204, 18, 120, 64);

    GBModem = named(new QGroupBox(QStringLiteral("Натройки на модема"), p), "GBModem");
    GBModem->setGeometry(430, 142, 336, 300);
    QWidget* g = GBModem;
    // The port list is filled at start-up; the other controls start from the defaults.
    const LinkSettings defaults = LinkSettingsFile::defaults({});
    QLabel* portLabel = label(g, QStringLiteral("Порт"), 12, 26);
    CBPort = named(new QComboBox(g), "CBPort");
    CBPort->setGeometry(100, 22, 180, 22);
    RBcom = named(new QRadioButton(g), "RBcom");
    RBcom->setGeometry(290, 24, 20, 20);
    RBcom->setChecked(defaults.kind == LinkKind::Serial);
    QLabel* speedLabel = label(g, QStringLiteral("Скорост"), 12, 56);
    CBSpeed = named(new QComboBox(g), "CBSpeed");
    CBSpeed->addItems(LinkSettingsFile::speeds());
    CBSpeed->setGeometry(100, 52, 90, 22);
    QLabel* addressLabel = label(g, QStringLiteral("IP Адрес"), 12, 88);
    EipAdr = edit(g, "EipAdr", QString(), 100, 84, 180);
    RBtcp = named(new QRadioButton(g), "RBtcp");
    RBtcp->setGeometry(290, 86, 20, 20);
    QLabel* tcpPortLabel = label(g, QStringLiteral("TCP Порт"), 12, 118);
    EtcpPort = edit(g, "EtcpPort", QString(), 100, 114, 90);
    QLabel* pauseLabel = label(g, QStringLiteral("Пауза (сек.)"), 12, 148);
    Epause = edit(g, "Epause", defaults.pause, 100, 144, 90);
    CBoxIniString = named(new QCheckBox(QStringLiteral("Инициализационен стринг"), g), "CBoxIniString");
    CBoxIniString->setGeometry(12, 178, 300, 20);
    CBoxIniString->setChecked(defaults.sendInit);
    EinitString = edit(g, "EinitString", defaults.initString, 12, 204, 312);
    EmodemSpeed = edit(g, "EmodemSpeed", defaults.modemSpeed, 12, 236, 312);
    QLabel* retestLabel = label(g, QStringLiteral("Повторен тест на неуспешните"), 12, 272);
    SEretestCount = spinEdit(g, "SEretestCount", 0, LinkSettingsFile::kMaxRetests, 206, 268, 46);
    SEretestCount->setValue(defaults.retestCount);
    SEretestCount->setSpecialValueText(QStringLiteral("не"));
    SEretestCount->setToolTip(QStringLiteral("Колко пъти се набира отново канал, чиито отговори в теста са само "
                                             "неуспешни; 0: не се набира отново."));
    SEretestDelay = spinEdit(g, "SEretestDelay", 0, LinkSettingsFile::kMaxRetestMinutes, 256, 268, 68);
    SEretestDelay->setValue(defaults.retestMinutes);
    SEretestDelay->setSuffix(QStringLiteral(" мин."));
    SEretestDelay->setToolTip(QStringLiteral("Най-малко толкова минути след последния неуспешен опит, от друг модем, "
                                             "когато има такъв; 0: щом опашката се изпразни."));
    SEretestDelay->setAccessibleName(QStringLiteral("Повторен тест на неуспешните: закъснение"));
    retestLabel->setBuddy(SEretestCount);
    portLabel->setBuddy(CBPort);
    speedLabel->setBuddy(CBSpeed);
    addressLabel->setBuddy(EipAdr);
    tcpPortLabel->setBuddy(EtcpPort);
    pauseLabel->setBuddy(Epause);
    // Named after the captions they stand by, not after their group box.
    RBcom->setAccessibleName(QStringLiteral("Порт"));
    RBtcp->setAccessibleName(QStringLiteral("IP Адрес"));
    EinitString->setAccessibleName(QStringLiteral("Инициализационен стринг"));
    EmodemSpeed->setAccessibleName(QStringLiteral("Инициализационен стринг: скорост на модема"));
}

void TForm1::connectHandlers() {
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        // Only the operator's choice of a page runs the handler; the program's own changes
        // are made with the signal blocked.
        Guarded(this, [this, index] { PageControl1Change(index); });
    });
    if (TrayIcon1) {
        connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
            // StatusNotifierItem desktops deliver only single clicks.
            if (r == QSystemTrayIcon::DoubleClick || r == QSystemTrayIcon::Trigger)
                Guarded(this, [this] { TrayIcon1DblClick(); });
        });
    }
    // A tick never opens a box of its own: its errors wait until it has returned.
    connect(Timer1, &QTimer::timeout, this, [this] { Posted([this] { Timer1Timer(); }); });

    on(BopenSet, &QPushButton::clicked, &TForm1::BopenSetClick);
    on(BsaveSet, &QPushButton::clicked, &TForm1::BsaveSetClick);
    on(Bimport, &QPushButton::clicked, &TForm1::BimportClick);

    on(SGtask, &StringGrid::userSelect, &TForm1::SGtaskClick);
    on(BaddTask, &QPushButton::clicked, &TForm1::BaddTaskClick);
    on(BtaskChange, &QPushButton::clicked, &TForm1::BtaskChangeClick);
    on(BtaskDelete, &QPushButton::clicked, &TForm1::BtaskDeleteClick);
    on(RGType, &RadioGroup::clicked, &TForm1::RGTypeClick);
    on(BnewTask, &QPushButton::clicked, &TForm1::BnewTaskClick);
    on(ChLBdir, &CheckListBox::clickCheck, &TForm1::ChLBdirClickCheck);
    on(ChLBdiv, &CheckListBox::clickCheck, &TForm1::ChLBdivClickCheck);
    on(ChLBdir->selectAllAction(), &QAction::triggered, &TForm1::SelectAll1Click);
    on(ChLBdir->deselectAllAction(), &QAction::triggered, &TForm1::DeselctAll1Click);
    on(ChLBdiv->selectAllAction(), &QAction::triggered, &TForm1::SelectAll2Click);
    on(ChLBdiv->deselectAllAction(), &QAction::triggered, &TForm1::DeselctAll2Click);
    on(ChLBch->selectAllAction(), &QAction::triggered, &TForm1::SelectAll3Click);
    on(ChLBch->deselectAllAction(), &QAction::triggered, &TForm1::DeselctAll3Click);
    on(BchStatus, &QPushButton::clicked, &TForm1::BchStatusClick);

    on(BdbOpen, &QPushButton::clicked, &TForm1::BdbOpenClick);
    on(btn_prev, &QPushButton::clicked, &TForm1::btn_prevClick);
    on(btn_next, &QPushButton::clicked, &TForm1::btn_nextClick);
    on(BresultsClose, &QPushButton::clicked, &TForm1::BresultsCloseClick);
    on(SGresults, &StringGrid::userDoubleClick, &TForm1::SGresultsDblClick);
    on(BDetailsClose, &QPushButton::clicked, &TForm1::BDetailsCloseClick);
    on(Bexp, &QPushButton::clicked, &TForm1::BexpClick);
}

void TForm1::FormCreate() {
    // The refusal of a second copy is made in main(), before any window exists.
    Posted([this] { LoadPortList(); });
    StopRequested = false;
    ExportDir = MakeDataDir(AppDir, QStringLiteral("Export"));
    ResultsDir = MakeDataDir(AppDir, QStringLiteral("Results"));
    SetupStation();
    ChannelBaseList.clear();
    Posted([this] { ReadLinkSettings(); });
    move(6, 2);

    const QStringList taskHeader = {QStringLiteral("№"),      QStringLiteral("Име на задачата"),
                                    QStringLiteral("Тип"),    QStringLiteral("Начало"),
                                    QStringLiteral("Статус"), QStringLiteral("Име на файла")};
    for (int c = 0; c < taskHeader.size(); ++c)
        SGtask->setCell(c, 0, taskHeader[c]);
    const QStringList setHeader = {QStringLiteral("№"), QStringLiteral("Направление"),
                                   QStringLiteral("Уредба"), QStringLiteral("К-л"),
                                   QStringLiteral("Директен достъп")};
    for (int c = 0; c < setHeader.size(); ++c)
        SGsetings->setCell(c, 0, setHeader[c]);
    SGresults->setCell(0, 0, QStringLiteral("№"));
    SGresults->setCell(1, 0, QStringLiteral("Канал"));
    SGresults->setColWidth(0, 25);
    SGresults->setColWidth(1, 196);
    const QStringList detHeader = {QStringLiteral("№"), QStringLiteral("Отговор от модема"),
                                   QStringLiteral("Закъснение"), QStringLiteral("Време")};
    for (int c = 0; c < detHeader.size(); ++c)
        SGdetails->setCell(c, 0, detHeader[c]);

    QDir().mkpath(ExportDir);
    QDir().mkpath(ResultsDir);
    // Where the month files go is not always beside the executable: the operator can see it.
    PageControl1->setTabToolTip(1, QDir::toNativeSeparators(ResultsDir));
    Posted([this] { RecoverJournals(); });
    for (int d = 1; d <= 31; ++d)
        SGresults->setCell(d + 1, 0, QString::number(d));

    const QDate today = clock().now().date();
    CBmesec->setCurrentIndex(today.month() - 1);
    SEgodina->setValue(today.year());

    Posted([this] { TaskRefresh(); });
    Posted([this] { SGtaskClick(); });
    {
        const QSignalBlocker quiet(PageControl1);
        PageControl1->setCurrentIndex(0);
    }
    bringPanelToFront();
    Timer1->start();
    Posted([this] { InstantlyTaskCheck(); });
    Posted([this] { BopenSetClick(); });
}

bool TForm1::panelInFront() const {
    const QObjectList& kids = children();
    return kids.indexOf(PanelIzbor) > kids.indexOf(PageControl1);
}

void TForm1::bringPanelToFront() {
    PanelIzbor->raise();
}

void TForm1::sendPanelBehind() {
    PanelIzbor->stackUnder(PageControl1);
}

void TForm1::PageControl1Change(int index) {
    switch (index) {
    case 0:
        // A task or channel base that cannot be read is reported; the panel is still placed.
        Guarded(this, [this] { SGtaskClick(); });
        PanelIzbor->move(PanelIzbor->x(), 138);
        if (RunActive) {
            MemoComm->raise();
            sendPanelBehind();
        } else {
            bringPanelToFront();
        }
        break;
    case 1:
        PanelIzbor->move(PanelIzbor->x(), 100);
        Guarded(this, [this] { BnewTaskClick(); });
        if (BdbOpen->text() == QStringLiteral("Опресни"))
            Guarded(this, [this] { BdbOpenClick(); });
        if (MonthViewOpen)
            sendPanelBehind();
        else
            bringPanelToFront();
        break;
    case 2:
        sendPanelBehind();
        break;
    default:
        break;
    }
}

void TForm1::TrayIcon1DblClick() {
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

void TForm1::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Minimised, the window leaves the taskbar; the notification-area icon brings it back.
    // Without a notification area it stays in the taskbar, its only way back.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) && TrayIcon1 &&
        TrayIcon1->isVisible())
        QTimer::singleShot(0, this, [this] {
            if (windowState() & Qt::WindowMinimized)
                hide();
        });
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    if (!AskYesNo(this, QStringLiteral("Сигурни ли сте, че искате да затворите приложението?"))) {
        event->ignore();
        return;
    }
    closing_ = true;
    Guarded(this, [this] { ShutdownResults(); });
    ChannelBaseList.clear();
    ViewList.reset();
    Guarded(this, [this] { ShutdownEngine(); });
    if (TrayIcon1)
        TrayIcon1->hide();
    event->accept();
}
