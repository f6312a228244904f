// The settings page through the real window: the channel base grid, the link settings, the
// port list and the import of a channel list.
#include "config/ChannelBase.h"
#include "config/SerialPorts.h"
#include "mock/MockClock.h"
#include "mock/ScriptedDialogs.h"
#include "mock/TestFiles.h"
#include "mock/WindowFixture.h"
#include "core/Cp1251.h"
#include "gui/RadioGroup.h"
#include "gui/StringGrid.h"
#include "gui/Unit1.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QSpinBox>
#include <QTest>

namespace {
QByteArray cp(const QString& s) {
    return Cp1251::encode(s);
}

QByteArray kanvoRecord(const QString& dir, const QString& exch, const QString& ch, const QString& code) {
    QByteArray rec(68, '\0');
    auto put = [&rec](int offset, const QString& text) {
        const QByteArray b = cp(text);
        rec[offset] = static_cast<char>(b.size());
        for (int i = 0; i < b.size() && offset + 1 + i < rec.size(); ++i)
            rec[offset + 1 + i] = b[i];
    };
    put(0, dir);
    put(21, exch);
    put(52, ch);
    put(63, code);
    return rec;
}

QStringList rowOf(const TForm1& w, int r) {
    QStringList cells;
    for (int c = 0; c < 5; ++c)
        cells.append(w.SGsetings->cell(c, r));
    return cells;
}

// The open cell editor of the grid: the visible line edit on the current cell.
QLineEdit* openEditor(const TForm1& w) {
    const QRect cellRect = w.SGsetings->visualRect(w.SGsetings->currentIndex());
    for (QLineEdit* e : w.SGsetings->viewport()->findChildren<QLineEdit*>())
        if (e->isVisible() && e->geometry().intersects(cellRect))
            return e;
    return nullptr;
}

// Types text character by character; keyClicks takes Latin-1 only, Cyrillic goes as key text.
void typeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClicks(w, QString(c));
        else
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

void fillRows(TForm1& w, int count, const QString& stem) {
    w.SGsetings->setRowCount(std::max(w.SGsetings->rowCount(), count + 1));
    for (int r = 1; r <= count; ++r) {
        w.SGsetings->setCell(0, r, QString::number(r));
        w.SGsetings->setCell(1, r, QStringLiteral("%1%2").arg(stem).arg(r, 3, 10, QLatin1Char('0')));
        w.SGsetings->setCell(4, r, QStringLiteral("#8%1").arg(r, 4, 10, QLatin1Char('0')));
    }
}
} // namespace

class TestConfigWindow : public QObject, protected WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void loadNumbersAndRowCounts();
    void loadAtStartupAndMissingFile();
    void saveSortsSkipsAndReloads();
    void saveEmptyGridWritesZeroBytes();
    void saveFailureLeavesSettingsAndGrid();
    void typeSaveReloadByteForByte();
    void caretRefusedInFieldEdits();
    void settingsFileAtStartup_data();
    void settingsFileAtStartup();
    void settingsSaveRoundTrip();
    void retestSettingSavedAndRead();
    void savedPortSelection();
    void portListFromSystem();
    void importNewKeepsRowsBelow();
    void importAddAfterSavedBase();
    void importCancelEmptyAndUnreadable();

private:
    std::unique_ptr<TForm1> window();
};

void TestConfigWindow::init() {
    setUpWindow();
}

void TestConfigWindow::cleanup() {
    tearDownWindow();
}

std::unique_ptr<TForm1> TestConfigWindow::window() {
    auto w = newWindow();
    return w;
}

void TestConfigWindow::loadNumbersAndRowCounts() {
    auto w = window();
    QAbstractItemModelTester tester(w->SGsetings->gridModel(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(w->SGsetings->rowCount(), 30);
    QCOMPARE(rowOf(*w, 0), QStringList({"№", "Направление", "Уредба", "К-л", "Директен достъп"}));
    testfiles::writeBytes("ChBase.dat",
                          cp("Юг^У1^3^#80003^\r\n^no^direction^\r\n\r\nСевер\r\nA^B^C^D^E^\r\n"));
    QTest::mouseClick(w->BopenSet, Qt::LeftButton);
    QCOMPARE(w->SGsetings->rowCount(), 104);
    QCOMPARE(rowOf(*w, 1), QStringList({"1", "Юг", "У1", "3", "#80003"}));
    QCOMPARE(rowOf(*w, 2), QStringList({"2", "Север", "", "", ""}));
    QCOMPARE(rowOf(*w, 3), QStringList({"3", "A", "B", "C", "D"}));
    QCOMPARE(rowOf(*w, 4), QStringList({"", "", "", "", ""}));
    // A later load clears every row, numbers included, and counts again.
    w->SGsetings->setCell(1, 50, "typed");
    testfiles::writeBytes("ChBase.dat", cp("Z^^^^\r\n"));
    QTest::mouseClick(w->BopenSet, Qt::LeftButton);
    QCOMPARE(w->SGsetings->rowCount(), 102);
    QCOMPARE(rowOf(*w, 1), QStringList({"1", "Z", "", "", ""}));
    QCOMPARE(rowOf(*w, 2), QStringList({"", "", "", "", ""}));
    QCOMPARE(rowOf(*w, 50), QStringList({"", "", "", "", ""}));
    QVERIFY(dialogs_->shown.isEmpty());
}

void TestConfigWindow::loadAtStartupAndMissingFile() {
    testfiles::writeBytes("ChBase.dat", cp("a^1^2^3^\r\nb^1^2^3^\r\nc^1^2^3^\r\n"));
    auto w = window();
    QCOMPARE(w->SGsetings->rowCount(), 104);
    QCOMPARE(w->SGsetings->cell(1, 3), QStringLiteral("c"));
    QVERIFY(QFile::remove("ChBase.dat"));
    QTest::mouseClick(w->BopenSet, Qt::LeftButton);
    QCOMPARE(w->SGsetings->rowCount(), 104); // emptied, the row count stays
    for (int r = 1; r < 104; ++r)
        QCOMPARE(rowOf(*w, r), QStringList({"", "", "", "", ""}));
    QVERIFY(dialogs_->shown.isEmpty());
    // A base that cannot be read: the error is shown and the grid is left empty.
    w->SGsetings->setCell(1, 7, "typed");
    QVERIFY(QDir().mkdir("ChBase.dat"));
    QTest::mouseClick(w->BopenSet, Qt::LeftButton);
    QCOMPARE(dialogs_->shown.size(), 1);
    QVERIFY2(dialogs_->lastText().startsWith("Cannot open file"), qPrintable(dialogs_->lastText()));
    QCOMPARE(w->SGsetings->cell(1, 7), QString());
    QCOMPARE(w->SGsetings->rowCount(), 104);
}

void TestConfigWindow::saveSortsSkipsAndReloads() {
    auto w = window();
    QAbstractItemModelTester tester(w->SGsetings->gridModel(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QList<QStringList> rows = {
        {"beta", "x", "1", "#80001"}, {"", "orphan", "9", "#89999"}, {"Alpha", "y", "2", "#80002"},
        {"BETA", "x", "1", "#80001"}, {"beta", "x", "1", "#80001"},  {"gamma", "", "", ""},
        {"A^B", "ex", "ch", "dial"},  {"alpha", "z", "3", "#80003"},
    };
    for (int i = 0; i < rows.size(); ++i)
        for (int c = 0; c < 4; ++c)
            w->SGsetings->setCell(c + 1, i + 3, rows[i][c]); // rows 1 and 2 stay empty
    QTest::mouseClick(w->BsaveSet, Qt::LeftButton);
    QVERIFY2(dialogs_->shown.isEmpty(), qPrintable(dialogs_->lastText()));
    const QStringList saved = testfiles::readText("ChBase.dat").split("\r\n");
    QCOMPARE(saved.size(), 8); // seven records and the empty text after the last CR LF
    QCOMPARE(saved.last(), QString());
    QVERIFY(!saved.join('\n').contains("orphan"));
    QCOMPARE(saved.count("beta^x^1^#80001^"), 2); // duplicates both kept
    QVERIFY(saved.contains("A^B^ex^ch^dial^"));
    auto at = [&saved](const QString& s) { return saved.indexOf(s); };
    QVERIFY(at("Alpha^y^2^#80002^") < at("BETA^x^1^#80001^"));
    QVERIFY(at("alpha^z^3^#80003^") < at("BETA^x^1^#80001^"));
    QVERIFY(at("BETA^x^1^#80001^") < at("gamma^^^^"));
    // Case variants of one line lie together (BETA and the two betas hold three places).
    const int b1 = at("BETA^x^1^#80001^"), b2 = at("beta^x^1^#80001^"),
              b3 = saved.lastIndexOf("beta^x^1^#80001^");
    QCOMPARE(std::max({b1, b2, b3}) - std::min({b1, b2, b3}), 2);
    // The reload shows the file's order, numbered without gaps; the caret has split A^B.
    QCOMPARE(w->SGsetings->rowCount(), 7 + 101);
    for (int r = 1; r <= 7; ++r) {
        const ChannelRecord rec = ChannelBase::parseLine(saved[r - 1]);
        QCOMPARE(rowOf(*w, r),
                 QStringList({QString::number(r), rec.direction, rec.exchange, rec.channel, rec.dial}));
    }
    const int split = at("A^B^ex^ch^dial^") + 1;
    QCOMPARE(rowOf(*w, split), QStringList({QString::number(split), "A", "B", "ex", "ch"}));
    QCOMPARE(rowOf(*w, 8), QStringList({"", "", "", "", ""}));
    QVERIFY(QFile::exists("KanvoAlt.ini"));
}

// The retest setting is saved as a seventh line only when it is on, and read back at start-up.
void TestConfigWindow::retestSettingSavedAndRead() {
    const auto cp1251Lines = [](const QByteArray& bytes) {
        return Cp1251::decode(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    };
    {
        auto w = window();
        auto* count = w->findChild<QSpinBox*>(QStringLiteral("SEretestCount"));
        auto* delay = w->findChild<QSpinBox*>(QStringLiteral("SEretestDelay"));
        QVERIFY(count && delay);
        QCOMPARE(count->value(), 0);
        QCOMPARE(delay->value(), 20);
        QTest::mouseClick(w->BsaveSet, Qt::LeftButton);
        QCOMPARE(cp1251Lines(testfiles::readBytes("KanvoAlt.ini")).size(), 6);
        count->setValue(2);
        delay->setValue(45);
        QTest::mouseClick(w->BsaveSet, Qt::LeftButton);
        const QStringList lines = cp1251Lines(testfiles::readBytes("KanvoAlt.ini"));
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[6], QStringLiteral("2^45^"));
    }
    auto w = window();
    QCOMPARE(w->findChild<QSpinBox*>(QStringLiteral("SEretestCount"))->value(), 2);
    QCOMPARE(w->findChild<QSpinBox*>(QStringLiteral("SEretestDelay"))->value(), 45);
}

void TestConfigWindow::saveEmptyGridWritesZeroBytes() {
    testfiles::writeBytes("ChBase.dat", cp("a^^^^\r\n"));
    auto w = window();
    w->SGsetings->setCell(1, 1, QString());
    w->SGsetings->setCell(2, 5, "no direction");
    QTest::mouseClick(w->BsaveSet, Qt::LeftButton);
    QVERIFY(QFile::exists("ChBase.dat"));
    QCOMPARE(QFileInfo("ChBase.dat").size(), 0);
    QVERIFY(dialogs_->shown.isEmpty());
    QCOMPARE(w->SGsetings->rowCount(), 102); // an empty base loads nothing; the count stays
    QCOMPARE(w->SGsetings->cell(2, 5), QString());
}

void TestConfigWindow::saveFailureLeavesSettingsAndGrid() {
    auto w = window();
    QVERIFY(QDir().mkdir("ChBase.dat")); // cannot be replaced by a file
    w->SGsetings->setCell(1, 2, "b");
    w->SGsetings->setCell(1, 1, "a");
    QTest::mouseClick(w->BsaveSet, Qt::LeftButton);
    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown[0].kind, MsgKind::Error);
    QVERIFY2(dialogs_->lastText().startsWith("Cannot create file"), qPrintable(dialogs_->lastText()));
    QVERIFY(!QFile::exists("KanvoAlt.ini"));
    QCOMPARE(w->SGsetings->cell(0, 1), QString()); // not reloaded: no numbers
    QCOMPARE(w->SGsetings->cell(1, 2), QStringLiteral("b"));
}

void TestConfigWindow::typeSaveReloadByteForByte() {
    testfiles::writeBytes("ChBase.dat", cp("Юг^У1^3^#80003^\r\nАксаково^У2^1^#80001^\r\n"));
    auto w = window();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->PageControl1->setCurrentIndex(2);
    QCOMPARE(w->SGsetings->rowCount(), 103);

    // The editor is open as soon as the cell is current; a typed caret never arrives.
    w->SGsetings->setCurrentCell(1, 3);
    QTRY_VERIFY(openEditor(*w));
    typeText(openEditor(*w), QStringLiteral("бургас^"));
    QCOMPARE(w->SGsetings->cell(1, 3), QStringLiteral("бургас"));
    w->SGsetings->setCurrentCell(2, 3);
    QTRY_VERIFY(openEditor(*w));
    QApplication::clipboard()->setText(QStringLiteral("У^3"));
    openEditor(*w)->paste();
    QCOMPARE(w->SGsetings->cell(2, 3), QStringLiteral("У3"));
    w->SGsetings->setCurrentCell(4, 3);
    QTRY_VERIFY(openEditor(*w));
    QTest::keyClicks(openEditor(*w), QStringLiteral("*80007"));
    // An existing cell is edited in place: the editor holds its text, selected, so typing replaces it.
    w->SGsetings->setCurrentCell(3, 2);
    QTRY_VERIFY(openEditor(*w));
    QCOMPARE(openEditor(*w)->selectedText(), QStringLiteral("1"));
    QTest::keyClicks(openEditor(*w), QStringLiteral("12"));
    QCOMPARE(w->SGsetings->cell(3, 2), QStringLiteral("12"));

    // Saved with the editor still open.
    QTest::mouseClick(w->BsaveSet, Qt::LeftButton);
    QVERIFY2(dialogs_->shown.isEmpty(), qPrintable(dialogs_->lastText()));
    const QByteArray expected = cp("Аксаково^У2^12^#80001^\r\nбургас^У3^^*80007^\r\nЮг^У1^3^#80003^\r\n");
    QCOMPARE(testfiles::readBytes("ChBase.dat"), expected);
    QCOMPARE(rowOf(*w, 2), QStringList({"2", "бургас", "У3", "", "*80007"}));

    QTest::mouseClick(w->BopenSet, Qt::LeftButton);
    QCOMPARE(w->SGsetings->rowCount(), 104);
    QCOMPARE(rowOf(*w, 1), QStringList({"1", "Аксаково", "У2", "12", "#80001"}));
    QCOMPARE(rowOf(*w, 3), QStringList({"3", "Юг", "У1", "3", "#80003"}));
    QCOMPARE(testfiles::readBytes("ChBase.dat"), expected);
}

void TestConfigWindow::caretRefusedInFieldEdits() {
    auto w = window();
    QTest::keyClicks(w->EipAdr, "10.0^.0.5");
    QCOMPARE(w->EipAdr->text(), QStringLiteral("10.0.0.5"));
    QTest::keyClicks(w->EtcpPort, "^23");
    QCOMPARE(w->EtcpPort->text(), QStringLiteral("23"));
    QApplication::clipboard()->setText(QStringLiteral("^^2^3"));
    w->EtcpPort->clear();
    w->EtcpPort->paste();
    QCOMPARE(w->EtcpPort->text(), QStringLiteral("23"));
    QCOMPARE(w->EtcpPort->cursorPosition(), 2);
    // The modem strings and the pause are whole lines: their carets stay.
    w->EinitString->clear();
    QTest::keyClicks(w->EinitString, "AT^SYSCFG=2");
    QCOMPARE(w->EinitString->text(), QStringLiteral("AT^SYSCFG=2"));
    w->EmodemSpeed->clear();
    QTest::keyClicks(w->EmodemSpeed, "at^x");
    QCOMPARE(w->EmodemSpeed->text(), QStringLiteral("at^x"));
    w->Epause->clear();
    QTest::keyClicks(w->Epause, "2^");
    QCOMPARE(w->Epause->text(), QStringLiteral("2^"));
    // No line break gets into a line of the settings file.
    QApplication::clipboard()->setText(QStringLiteral("a\nb"));
    w->EinitString->clear();
    w->EinitString->paste();
    QCOMPARE(w->EinitString->text(), QStringLiteral("ab"));
}

void TestConfigWindow::settingsFileAtStartup_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("speed"); // "" : no selection
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("tcpPort");
    QTest::addColumn<QString>("init");
    QTest::addColumn<QString>("modemSpeed");
    QTest::addColumn<QString>("pause");
    QTest::addColumn<bool>("com");
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<bool>("sendInit");
    const QString dInit = "atx3w2&d0e1m0 s0=1 s7=70 s11=55 s95=0", dSpeed = "at+MS=v34,1,2400,12000";
    const QByteArray head = "^10.0.0.5^\r\n9600^2323^\r\nATZ^1\r\nat+ms=1\r\n";
    QTest::newRow("no file") << QByteArray() << "1200"
                             << ""
                             << "" << dInit << dSpeed << "20" << true << false << false;
    QTest::newRow("empty file") << QByteArray("") << "1200"
                                << ""
                                << "" << dInit << dSpeed << "20" << true << false << false;
    QTest::newRow("one line") << QByteArray("x^1.1.1.1^\r\n") << "1200"
                              << "1.1.1.1"
                              << "" << dInit << dSpeed << "20" << true << false << false;
    QTest::newRow("two lines") << QByteArray("x^a^\r\n2400^23^\r\n") << "2400"
                               << "a"
                               << "23" << dInit << dSpeed << "20" << true << false << false;
    QTest::newRow("three lines") << QByteArray("x^a^\r\n2400^23^\r\nATI\r\n") << "2400"
                                 << "a"
                                 << "23"
                                 << "ATI" << dSpeed << "20" << true << false << false;
    QTest::newRow("four lines") << head << "9600"
                                << "10.0.0.5"
                                << "2323"
                                << "ATZ^1"
                                << "at+ms=1"
                                << "20" << true << false << false;
    QTest::newRow("five lines") << head + "7\r\n"
                                << "9600"
                                << "10.0.0.5"
                                << "2323"
                                << "ATZ^1"
                                << "at+ms=1"
                                << "7" << true << false << false;
    QTest::newRow("bad flags") << head + "7\r\nTCP\r\n"
                               << "9600"
                               << "10.0.0.5"
                               << "2323"
                               << "ATZ^1"
                               << "at+ms=1"
                               << "7" << true << false << false;
    const bool bits[8][3] = {{false, false, false}, {true, false, false}, {false, true, false},
                             {false, true, false},  {false, false, true}, {true, false, true},
                             {false, true, true},   {false, true, true}};
    for (int f = 0; f < 8; ++f)
        QTest::addRow("flags %d", f) << head + "7\r\n" + QByteArray::number(f) + "\r\n"
                                     << "9600"
                                     << "10.0.0.5"
                                     << "2323"
                                     << "ATZ^1"
                                     << "at+ms=1"
                                     << "7" << bits[f][0] << bits[f][1] << bits[f][2];
    QTest::newRow("no carets, odd speed") << QByteArray("COM3\r\n57600\r\n") << ""
                                          << ""
                                          << "" << dInit << dSpeed << "20" << true << false << false;
}

void TestConfigWindow::settingsFileAtStartup() {
    QFETCH(QByteArray, file);
    if (!file.isNull())
        testfiles::writeBytes("KanvoAlt.ini", file);
    auto w = window();
    QFETCH(QString, speed);
    QCOMPARE(w->CBSpeed->currentText(), speed);
    QTEST(w->EipAdr->text(), "address");
    QTEST(w->EtcpPort->text(), "tcpPort");
    QTEST(w->EinitString->text(), "init");
    QTEST(w->EmodemSpeed->text(), "modemSpeed");
    QTEST(w->Epause->text(), "pause");
    QTEST(w->RBcom->isChecked(), "com");
    QTEST(w->RBtcp->isChecked(), "tcp");
    QTEST(w->CBoxIniString->isChecked(), "sendInit");
    QVERIFY2(dialogs_->shown.isEmpty(), qPrintable(dialogs_->lastText()));
    // The link choice is still exclusive for the operator after the file cleared both.
    QTest::mouseClick(w->RBtcp, Qt::LeftButton);
    QTest::mouseClick(w->RBcom, Qt::LeftButton);
    QVERIFY(w->RBcom->isChecked() && !w->RBtcp->isChecked());
}

void TestConfigWindow::settingsSaveRoundTrip() {
    {
        auto w = window();
        w->CBPort->setCurrentIndex(-1);
        w->CBSpeed->setCurrentIndex(3);
        w->EipAdr->setText("10.0.0.5");
        w->EtcpPort->setText("2323");
        w->EinitString->setText("AT^SCFG=1");
        w->EmodemSpeed->setText("");
        w->Epause->setText("5");
        w->RBtcp->setChecked(true);
        w->CBoxIniString->setChecked(true);
        QTest::mouseClick(w->BsaveSet, Qt::LeftButton);
        QCOMPARE(testfiles::readBytes("KanvoAlt.ini"),
                 QByteArray("^10.0.0.5^\r\n9600^2323^\r\nAT^SCFG=1\r\n\r\n5\r\n6\r\n"));
    }
    auto w = window();
    QCOMPARE(w->CBSpeed->currentText(), QStringLiteral("9600"));
    QCOMPARE(w->EipAdr->text(), QStringLiteral("10.0.0.5"));
    QCOMPARE(w->EinitString->text(), QStringLiteral("AT^SCFG=1"));
    QCOMPARE(w->EmodemSpeed->text(), QString());
    QVERIFY(w->RBtcp->isChecked() && !w->RBcom->isChecked() && w->CBoxIniString->isChecked());
    QCOMPARE(w->CBPort->currentIndex(), -1); // an empty saved port selects nothing
    // Written on every save, with the values shown now.
    w->CBSpeed->setCurrentIndex(-1);
    w->RBcom->setChecked(true);
    w->CBoxIniString->setChecked(false);
    QTest::mouseClick(w->BsaveSet, Qt::LeftButton);
    QCOMPARE(testfiles::readText("KanvoAlt.ini").split("\r\n").mid(1, 1), QStringList({"^2323^"}));
    QCOMPARE(testfiles::readText("KanvoAlt.ini").split("\r\n").at(5), QStringLiteral("1"));
    QVERIFY(dialogs_->shown.isEmpty());
}

void TestConfigWindow::savedPortSelection() {
    auto w = window();
    auto readWith = [&w](const QByteArray& line1) {
        testfiles::writeBytes("KanvoAlt.ini", line1 + "\r\n9600^^\r\ni\r\ns\r\n");
        w->CBPort->clear();
        w->CBPort->addItems({"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB0"});
        w->ReadLinkSettings();
    };
    readWith("/dev/TTYusb0^^"); // letter case ignored, the first equal entry chosen
    QCOMPARE(w->CBPort->currentIndex(), 1);
    QCOMPARE(w->CBPort->count(), 3);
    // A device unplugged now stays the choice, and a save writes it back.
    readWith("/dev/ttyUSB7^^");
    QCOMPARE(w->CBPort->count(), 4);
    QCOMPARE(w->CBPort->currentText(), QStringLiteral("/dev/ttyUSB7"));
    w->WriteLinkSettings();
    QVERIFY(testfiles::readText("KanvoAlt.ini").startsWith(QStringLiteral("/dev/ttyUSB7^")));
    readWith("COM3"); // the file of another system
    QCOMPARE(w->CBPort->currentIndex(), -1);
    // A device the system does not list, or a link to one, is offered at the end.
    readWith("/dev/null^^");
    QCOMPARE(w->CBPort->count(), 4);
    QCOMPARE(w->CBPort->currentText(), QStringLiteral("/dev/null"));
    const QString link = dir_->filePath("by-id-modem");
    QVERIFY(QFile::link("/dev/null", link));
    readWith(QFile::encodeName(link) + "^^");
    QCOMPARE(w->CBPort->itemText(3), link);
    QCOMPARE(w->CBPort->currentIndex(), 3);
    testfiles::writeBytes("plain", "x");
    readWith(QFile::encodeName(dir_->filePath("plain")) + "^^");
    QCOMPARE(w->CBPort->count(), 3);
    QCOMPARE(w->CBPort->currentIndex(), -1);
    QVERIFY(dialogs_->shown.isEmpty());
}

void TestConfigWindow::portListFromSystem() {
    auto w = window();
    // Read independently of the port enumeration: the kernel's serial devices.
    QStringList kernel;
    for (const QFileInfo& tty :
         QDir(QStringLiteral("/sys/class/tty")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (QFileInfo::exists(tty.filePath() + QStringLiteral("/device")) &&
            QFileInfo::exists("/dev/" + tty.fileName()))
            kernel.append("/dev/" + tty.fileName());
    QCOMPARE(w->CBPort->currentIndex(), w->CBPort->count() > 0 ? 0 : -1);
    for (int i = 0; i < w->CBPort->count(); ++i) {
        const QString p = w->CBPort->itemText(i);
        // System locations, as the file stores them, each a serial device of the kernel.
        QVERIFY2(SerialPorts::isCharacterDevice(p), qPrintable(p));
        QVERIFY2(kernel.contains(p) || QFileInfo(p).isSymLink(), qPrintable(p));
    }
}

void TestConfigWindow::importNewKeepsRowsBelow() {
    auto w = window();
    QAbstractItemModelTester tester(w->SGsetings->gridModel(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    fillRows(*w, 50, "Old");
    w->SGsetings->setRowCount(151);
    QByteArray file;
    for (int i = 1; i <= 11; ++i)
        file += i == 4
                    ? kanvoRecord("", "skipped", "1", "1")
                    : kanvoRecord(QStringLiteral("Нов%1").arg(i), "Ex", QStringLiteral("К-л %1").arg(i), "7");
    file += QByteArray(30, 'z'); // a partial record at the end
    testfiles::writeBytes("kanvo.dat", file);
    w->RGaction->setItemIndex(1); // "Нов"
    w->RGprefix->setItemIndex(1); // "*8"
    const QString cwd = QDir::currentPath();
    dialogs_->setNextFileName(dir_->filePath("kanvo.dat"));
    QTest::mouseClick(w->Bimport, Qt::LeftButton);
    QVERIFY2(dialogs_->shown.isEmpty(), qPrintable(dialogs_->lastText()));
    QCOMPARE(dialogs_->lastFilter, QStringLiteral("Kanvo DAT files (*.dat)"));
    QCOMPARE(QDir::currentPath(), cwd);
    QCOMPARE(rowOf(*w, 1), QStringList({"1", "Нов1", "Ex", "1", "*80007"}));
    QCOMPARE(rowOf(*w, 4), QStringList({"4", "Нов5", "Ex", "5", "*80007"}));
    QCOMPARE(rowOf(*w, 10), QStringList({"10", "Нов11", "Ex", "11", "*80007"}));
    QCOMPARE(rowOf(*w, 11), QStringList({"11", "Old011", "", "", "#80011"}));
    QCOMPARE(rowOf(*w, 50), QStringList({"50", "Old050", "", "", "#80050"}));
    QCOMPARE(w->SGsetings->rowCount(), 111);
    QVERIFY(!QFile::exists("ChBase.dat")); // only the grid is filled
    // Saved, the imported and the kept rows make up the base.
    QTest::mouseClick(w->BsaveSet, Qt::LeftButton);
    QCOMPARE(w->SGsetings->rowCount(), 50 + 101);
}

void TestConfigWindow::importAddAfterSavedBase() {
    QByteArray base;
    for (int i = 1; i <= 40; ++i)
        base += cp(QStringLiteral("Base%1^^^^\r\n").arg(i, 2, 10, QLatin1Char('0')));
    testfiles::writeBytes("ChBase.dat", base);
    auto w = window();
    w->SGsetings->setCell(1, 41, "unsaved"); // discarded by the reload the import makes first
    testfiles::writeBytes("k.dat",
                          kanvoRecord("East", "E", "x9y", "") + kanvoRecord("West", "W", "", "1234"));
    dialogs_->setNextFileName(dir_->filePath("k.dat"));
    QTest::mouseClick(w->Bimport, Qt::LeftButton);
    QVERIFY2(dialogs_->shown.isEmpty(), qPrintable(dialogs_->lastText()));
    QCOMPARE(rowOf(*w, 40), QStringList({"40", "Base40", "", "", ""}));
    QCOMPARE(rowOf(*w, 41), QStringList({"41", "East", "E", "9", "#80000"}));
    QCOMPARE(rowOf(*w, 42), QStringList({"42", "West", "W", "", "#81234"}));
    QCOMPARE(rowOf(*w, 43), QStringList({"", "", "", "", ""}));
    QCOMPARE(w->SGsetings->rowCount(), 42 + 101);
}

void TestConfigWindow::importCancelEmptyAndUnreadable() {
    testfiles::writeBytes("ChBase.dat", cp("Saved^^^^\r\n"));
    auto w = window();
    w->SGsetings->setCell(1, 5, "edit");
    QTest::mouseClick(w->Bimport, Qt::LeftButton); // cancelled: nothing changes
    QCOMPARE(w->SGsetings->cell(1, 5), QStringLiteral("edit"));

    // A channel base picked by mistake is no channel list: refused whole, the grid as it was.
    QByteArray base;
    for (int i = 0; i < 8; ++i)
        base += cp(QStringLiteral("София^Център^%1^#8001%1^\r\n").arg(i));
    testfiles::writeBytes("base-copy.dat", base);
    dialogs_->setNextFileName(dir_->filePath("base-copy.dat"));
    QTest::mouseClick(w->Bimport, Qt::LeftButton);
    QTRY_COMPARE(dialogs_->shown.size(), 1);
    QVERIFY2(dialogs_->lastText().contains("base-copy.dat") &&
                 dialogs_->lastText().contains(QStringLiteral("№ 1")),
             qPrintable(dialogs_->lastText()));
    QCOMPARE(w->SGsetings->cell(1, 5), QStringLiteral("edit"));
    QCOMPARE(w->SGsetings->cell(1, 1), QStringLiteral("Saved"));
    dialogs_->shown.clear();

    // Shorter than one record: nothing imported, but "Добави" has reloaded the grid.
    testfiles::writeBytes("short.dat", kanvoRecord("X", "", "", "").left(67));
    dialogs_->setNextFileName(dir_->filePath("short.dat"));
    QTest::mouseClick(w->Bimport, Qt::LeftButton);
    QCOMPARE(w->SGsetings->cell(1, 5), QString());
    QCOMPARE(w->SGsetings->rowCount(), 102);

    // "Нов" with a file of empty slots only: the grid and its row count stay.
    w->SGsetings->setCell(1, 1, "kept");
    w->RGaction->setItemIndex(1);
    QByteArray slots;
    for (int i = 0; i < 150; ++i) // more empty slots than the grid has rows
        slots += kanvoRecord("", "a", "", "");
    testfiles::writeBytes("empty.dat", slots);
    dialogs_->setNextFileName(dir_->filePath("empty.dat"));
    QTest::mouseClick(w->Bimport, Qt::LeftButton);
    QCOMPARE(w->SGsetings->cell(1, 1), QStringLiteral("kept"));
    QCOMPARE(w->SGsetings->rowCount(), 102);
    QVERIFY(dialogs_->shown.isEmpty());

    dialogs_->setNextFileName(dir_->filePath("missing.dat"));
    QTest::mouseClick(w->Bimport, Qt::LeftButton);
    QCOMPARE(dialogs_->shown.size(), 1);
    QVERIFY2(dialogs_->lastText().startsWith("Cannot open file"), qPrintable(dialogs_->lastText()));
    QCOMPARE(w->SGsetings->cell(1, 1), QStringLiteral("kept"));
}

QTEST_MAIN(TestConfigWindow)
#include "test_config_window.moc"
