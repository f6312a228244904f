// The channel base, link settings and channel list formats, without the window.
#include "config/ChannelBase.h"
#include "config/KanvoFile.h"
#include "config/LinkSettings.h"
#include "config/SerialPorts.h"
#include "mock/TestFiles.h"
#include "core/AppError.h"
#include "core/Cp1251.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
// One 68-byte record; lengths are written as given, so a test can put one above capacity.
QByteArray kanvoRecord(const QByteArray& dir, const QByteArray& exch, const QByteArray& ch,
                       const QByteArray& code, int dirLen = -1, int exchLen = -1, int chLen = -1,
                       int codeLen = -1) {
    QByteArray rec(68, '\0');
    auto put = [&rec](int offset, int capacity, const QByteArray& text, int len) {
        rec[offset] = static_cast<char>(len < 0 ? text.size() : len);
        for (int i = 0; i < capacity && i < text.size(); ++i)
            rec[offset + 1 + i] = text[i];
    };
    put(0, 20, dir, dirLen);
    put(21, 30, exch, exchLen);
    put(52, 10, ch, chLen);
    put(63, 4, code, codeLen);
    return rec;
}
QByteArray cp(const QString& s) {
    return Cp1251::encode(s);
}
} // namespace

class TestConfigFormats : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void channelLineFields();
    void channelFileSkipsEmptyDirections();
    void sortIgnoresCaseInLocale_data();
    void sortIgnoresCaseInLocale();
    void sortKeepsDuplicates();
    void linkSettingsLines();
    void linkSettingsFlags_data();
    void linkSettingsFlags();
    void linkSettingsFieldsWithoutCarets();
    void linkSettingsLoadedOverDefaults();
    void linkSettingsRetestLine();
    void kanvoRecordsAndTrailingBytes();
    void kanvoLengthsClampedToCapacity();
    void kanvoToChannel();
    void kanvoUnreadableFile();
    void characterDevices();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString oldCwd_;
};

void TestConfigFormats::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    oldCwd_ = QDir::currentPath();
    QDir::setCurrent(dir_->path());
}

void TestConfigFormats::cleanup() {
    QDir::setCurrent(oldCwd_);
    dir_.reset();
}

void TestConfigFormats::channelLineFields() {
    const ChannelRecord r = ChannelBase::parseLine("North^EX1^12^#80012^extra^");
    QCOMPARE(r.direction, QStringLiteral("North"));
    QCOMPARE(r.exchange, QStringLiteral("EX1"));
    QCOMPARE(r.channel, QStringLiteral("12"));
    QCOMPARE(r.dial, QStringLiteral("#80012"));
    // A bare direction has three empty fields and is written back with all four carets.
    const ChannelRecord bare = ChannelBase::parseLine("Варна");
    QCOMPARE(bare.direction, QStringLiteral("Варна"));
    QVERIFY(bare.exchange.isEmpty() && bare.channel.isEmpty() && bare.dial.isEmpty());
    QCOMPARE(ChannelBase::formatLine(bare), QStringLiteral("Варна^^^^"));
    QCOMPARE(ChannelBase::formatLine({"North", "EX1", "12", "#80012"}),
             QStringLiteral("North^EX1^12^#80012^"));
}

void TestConfigFormats::channelFileSkipsEmptyDirections() {
    testfiles::writeBytes("ChBase.dat", cp("A^x^1^#80001^\r\n^only^exchange^\r\n\r\nB^y^2^#80002^\r\nC"));
    const QVector<ChannelRecord> recs = ChannelBase::readRecords("ChBase.dat");
    QCOMPARE(recs.size(), 3);
    QCOMPARE(recs[0].direction, QStringLiteral("A"));
    QCOMPARE(recs[1].direction, QStringLiteral("B"));
    QCOMPARE(recs[1].dial, QStringLiteral("#80002"));
    QCOMPARE(recs[2].direction, QStringLiteral("C"));
    QVERIFY_THROWS_EXCEPTION(FileError, ChannelBase::readRecords("missing.dat"));
}

void TestConfigFormats::sortIgnoresCaseInLocale_data() {
    QTest::addColumn<QString>("locale");
    QTest::newRow("C") << "C";
    QTest::newRow("bg_BG") << "bg_BG";
    QTest::newRow("en_US") << "en_US";
}

void TestConfigFormats::sortIgnoresCaseInLocale() {
    QFETCH(QString, locale);
    QStringList lines = {"beta^1^", "Alpha^2^", "BETA^3^", "alpha^1^",
                         "Gamma^",  "бургас^",  "Бургас^", "Аксаково^"};
    ChannelBase::sortLines(lines, QLocale(locale));
    QCOMPARE(lines.size(), 8);
    // Case variants lie next to each other, between themselves in any order.
    auto rank = [&lines](const QString& s) { return lines.indexOf(s); };
    QVERIFY(rank("alpha^1^") < rank("Alpha^2^"));
    QVERIFY(rank("Alpha^2^") < rank("beta^1^") && rank("Alpha^2^") < rank("BETA^3^"));
    QCOMPARE(std::abs(rank("beta^1^") - rank("BETA^3^")), 1);
    QVERIFY(rank("beta^1^") < rank("Gamma^") && rank("BETA^3^") < rank("Gamma^"));
    QVERIFY(rank("Аксаково^") < rank("бургас^") && rank("Аксаково^") < rank("Бургас^"));
    QCOMPARE(std::abs(rank("бургас^") - rank("Бургас^")), 1);
}

void TestConfigFormats::sortKeepsDuplicates() {
    QStringList lines = {"b^", "a^", "b^", "a^"};
    ChannelBase::sortLines(lines, QLocale("bg_BG"));
    QCOMPARE(lines, QStringList({"a^", "a^", "b^", "b^"}));
}

void TestConfigFormats::linkSettingsLines() {
    LinkSettings s;
    s.port = "COM1";
    s.speed = "9600";
    s.initString = "AT^SYSCFG=2";
    s.modemSpeed = "at+MS=v34";
    s.pause = "20";
    s.sendInit = true;
    QCOMPARE(LinkSettingsFile::toLines(s),
             QStringList({"COM1^^", "9600^^", "AT^SYSCFG=2", "at+MS=v34", "20", "5"}));
    s = {};
    s.port.clear();
    s.address = "10.0.0.5";
    s.tcpPort = "2323";
    s.kind = LinkKind::Tcp;
    const QStringList l = LinkSettingsFile::toLines(s);
    QCOMPARE(l[0], QStringLiteral("^10.0.0.5^")); // no port chosen: line 1 begins with a caret
    QCOMPARE(l[1], QStringLiteral("^2323^"));
    QCOMPARE(l[5], QStringLiteral("2"));
    s.kind = LinkKind::None;
    s.sendInit = false;
    QCOMPARE(LinkSettingsFile::toLines(s)[5], QStringLiteral("0"));
    s.kind = LinkKind::Tcp;
    s.sendInit = true;
    QCOMPARE(LinkSettingsFile::toLines(s)[5], QStringLiteral("6"));
}

void TestConfigFormats::linkSettingsFlags_data() {
    QTest::addColumn<QString>("line6");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("flags");
    QTest::newRow("0") << "0" << true << 0;
    QTest::newRow("7") << "7" << true << 7;
    QTest::newRow("blanks") << " 5 " << true << 5;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("text") << "tcp" << false << 0;
    QTest::newRow("trailing") << "5x" << false << 0;
}

void TestConfigFormats::linkSettingsFlags() {
    QFETCH(QString, line6);
    QFETCH(bool, valid);
    QFETCH(int, flags);
    const LinkSettingsFile::Read r = LinkSettingsFile::parse({"a^", "b^", "c", "d", "e", line6});
    QCOMPARE(r.flags.has_value(), valid);
    if (valid)
        QCOMPARE(*r.flags, flags);
    QCOMPARE(*r.pause, QStringLiteral("e")); // a bad line 6 spoils nothing before it
}

void TestConfigFormats::linkSettingsFieldsWithoutCarets() {
    LinkSettingsFile::Read r = LinkSettingsFile::parse({"COM3", "9600"});
    QCOMPARE(*r.port, QStringLiteral("COM3"));
    QCOMPARE(*r.address, QString());
    QCOMPARE(*r.speed, QStringLiteral("9600"));
    QCOMPARE(*r.tcpPort, QString());
    // A hand-edited second field without its closing caret is taken whole.
    r = LinkSettingsFile::parse({"com3^10.0.0.5", "^"});
    QCOMPARE(*r.port, QStringLiteral("com3"));
    QCOMPARE(*r.address, QStringLiteral("10.0.0.5"));
    QCOMPARE(*r.speed, QString());
    QCOMPARE(*r.tcpPort, QString());
}

void TestConfigFormats::linkSettingsLoadedOverDefaults() {
    const QStringList ports{"/dev/ttyS0", "/dev/ttyUSB0"};
    LinkSettings s = LinkSettingsFile::load(QString::fromLatin1(LinkSettingsFile::FileName), ports); // no file
    QCOMPARE(LinkSettingsFile::toLines(s),
             QStringList({"/dev/ttyS0^^", "1200^^", "atx3w2&d0e1m0 s0=1 s7=70 s11=55 s95=0", "at+MS=v34,1,2400,12000",
                          "20", "1"}));
    // Four lines: the pause and the link keep their defaults; entries are matched ignoring case.
    testfiles::writeBytes(LinkSettingsFile::FileName, "/DEV/ttyusb0^h^\r\n9600^2001-2002^\r\ni\r\ns\r\n");
    s = LinkSettingsFile::load(QString::fromLatin1(LinkSettingsFile::FileName), ports);
    QCOMPARE(LinkSettingsFile::toLines(s), QStringList({"/dev/ttyUSB0^h^", "9600^2001-2002^", "i", "s", "20", "1"}));
    // Both link bits choose TCP; an unknown speed and a port that is no device choose nothing.
    testfiles::writeBytes(LinkSettingsFile::FileName, "COM3^^\r\n9601^^\r\ni\r\ns\r\n5\r\n7\r\n");
    s = LinkSettingsFile::load(QString::fromLatin1(LinkSettingsFile::FileName), ports);
    QVERIFY(s.kind == LinkKind::Tcp && s.sendInit);
    QCOMPARE(LinkSettingsFile::toLines(s).mid(0, 2), QStringList({"^^", "^^"}));
}

void TestConfigFormats::kanvoRecordsAndTrailingBytes() {
    QByteArray bytes = kanvoRecord("North", "EX1", "K-l 07", "5") + kanvoRecord("", "ghost", "1", "1") +
                       kanvoRecord(cp("Юг"), cp("Уредба"), "12", "1234");
    // A partial record at the end: its direction length and text would be a third record.
    bytes += kanvoRecord("Tail", "T", "1", "1").left(10);
    const QVector<KanvoRecord> recs = KanvoFile::parse(bytes);
    QCOMPARE(recs.size(), 2);
    QCOMPARE(recs[0].direction, QStringLiteral("North"));
    QCOMPARE(recs[0].channel, QStringLiteral("K-l 07"));
    QCOMPARE(recs[1].direction, QStringLiteral("Юг"));
    QCOMPARE(recs[1].exchange, QStringLiteral("Уредба"));
    QCOMPARE(recs[1].code, QStringLiteral("1234"));
    QVERIFY(KanvoFile::parse(QByteArray(67, 'x')).isEmpty());
}

void TestConfigFormats::kanvoLengthsClampedToCapacity() {
    // Every length byte at 255: each field is read to its capacity and no further, so the
    // bytes of the next field (and of the next record) never leak in.
    QByteArray rec = kanvoRecord(QByteArray(20, 'D'), QByteArray(30, 'E'), QByteArray(10, '9'), "4321", 255,
                                 255, 255, 255);
    const QVector<KanvoRecord> recs = KanvoFile::parse(rec + kanvoRecord("Next", "N", "1", "1"));
    QCOMPARE(recs.size(), 2);
    QCOMPARE(recs[0].direction, QString(20, u'D'));
    QCOMPARE(recs[0].exchange, QString(30, u'E'));
    QCOMPARE(recs[0].channel, QString(10, u'9'));
    QCOMPARE(recs[0].code, QStringLiteral("4321"));
    QCOMPARE(recs[1].direction, QStringLiteral("Next"));
    // The last record of the file with a code length of 5: the byte after the record is absent.
    const QVector<KanvoRecord> last = KanvoFile::parse(kanvoRecord("L", "", "", "12", -1, -1, -1, 5));
    QCOMPARE(last.size(), 1);
    QCOMPARE(last[0].code, QString::fromLatin1("12\0\0", 4));
    // A length shorter than the text: only the first characters count.
    QCOMPARE(KanvoFile::parse(kanvoRecord("Longer", "", "", "", 3))[0].direction, QStringLiteral("Lon"));
}

void TestConfigFormats::kanvoToChannel() {
    ChannelRecord c = KanvoFile::toChannel({"North", "EX1", "К-л 07", "5"}, "#8");
    QCOMPARE(c.direction, QStringLiteral("North"));
    QCOMPARE(c.exchange, QStringLiteral("EX1"));
    QCOMPARE(c.channel, QStringLiteral("07"));
    QCOMPARE(c.dial, QStringLiteral("#80005"));
    QCOMPARE(KanvoFile::toChannel({"N", "", "", ""}, "*8").dial, QStringLiteral("*80000"));
    QCOMPARE(KanvoFile::toChannel({"N", "", "", "1234"}, "*8").dial, QStringLiteral("*81234"));
    // Texts that would split the channel base line or the file's lines are cleaned.
    c = KanvoFile::toChannel({"A^B", "X\r\nY", "1", "^1"}, "#8");
    QCOMPARE(c.direction, QStringLiteral("AB"));
    QCOMPARE(c.exchange, QStringLiteral("XY"));
    QCOMPARE(c.dial, QStringLiteral("#80001"));
}

void TestConfigFormats::kanvoUnreadableFile() {
    QVERIFY_THROWS_EXCEPTION(FileError, KanvoFile::read("nothing.dat"));
    QDir().mkdir("adir.dat");
    QVERIFY_THROWS_EXCEPTION(FileError, KanvoFile::read("adir.dat"));
}

void TestConfigFormats::characterDevices() {
    QVERIFY(SerialPorts::isCharacterDevice("/dev/null"));
    QVERIFY(QFile::link("/dev/null", dir_->filePath("modem")));
    QVERIFY(SerialPorts::isCharacterDevice(dir_->filePath("modem")));
    testfiles::writeBytes("plain", "x");
    QVERIFY(!SerialPorts::isCharacterDevice(dir_->filePath("plain")));
    QVERIFY(QFile::link(dir_->filePath("plain"), dir_->filePath("toplain")));
    QVERIFY(!SerialPorts::isCharacterDevice(dir_->filePath("toplain")));
    QVERIFY(QFile::link(dir_->filePath("gone"), dir_->filePath("dangling")));
    QVERIFY(!SerialPorts::isCharacterDevice(dir_->filePath("dangling")));
    QVERIFY(!SerialPorts::isCharacterDevice("/dev"));
    QVERIFY(!SerialPorts::isCharacterDevice("COM1"));
    QVERIFY(!SerialPorts::isCharacterDevice(QString()));
}

// The seventh line is written only when the retests are on; a bad one keeps the defaults.
void TestConfigFormats::linkSettingsRetestLine() {
    LinkSettings s = LinkSettingsFile::defaults({});
    QCOMPARE(LinkSettingsFile::toLines(s).size(), 6);
    s.retestCount = 2;
    s.retestMinutes = 0;
    const QStringList lines = LinkSettingsFile::toLines(s);
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines[6], QStringLiteral("2^0^"));
    const LinkSettings back = LinkSettingsFile::apply(LinkSettingsFile::defaults({}), LinkSettingsFile::parse(lines), {});
    QCOMPARE(back.retestCount, 2);
    QCOMPARE(back.retestMinutes, 0);
    for (const QString& bad : {QStringLiteral("4^20^"), QStringLiteral("x^121^"), QStringLiteral("-1^-5^")}) {
        const LinkSettings r = LinkSettingsFile::apply(LinkSettingsFile::defaults({}),
                                                       LinkSettingsFile::parse(lines.mid(0, 6) + QStringList{bad}), {});
        QCOMPARE(r.retestCount, 0);
        QCOMPARE(r.retestMinutes, 20);
    }
    const LinkSettings one = LinkSettingsFile::apply(
        LinkSettingsFile::defaults({}), LinkSettingsFile::parse(lines.mid(0, 6) + QStringList{QStringLiteral("3")}), {});
    QCOMPARE(one.retestCount, 3);
    QCOMPARE(one.retestMinutes, 20);
}

QTEST_GUILESS_MAIN(TestConfigFormats)
#include "test_config_formats.moc"
