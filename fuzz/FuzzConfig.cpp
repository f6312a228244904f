// Fuzzing of the configuration readers: ChBase.dat, KanvoAlt.ini and the external channel list.
#include "FuzzEntries.h"
#include "FuzzUtil.h"

#include "config/ChannelBase.h"
#include "config/KanvoFile.h"
#include "config/LinkSettings.h"
#include "core/MyUtils.h"
#include "core/TextFile.h"
#include "tasks/ChannelSelection.h"

#include <QLocale>
#include <algorithm>

namespace fuzz {

namespace {
bool sameRecord(const ChannelRecord& a, const ChannelRecord& b) {
    return a.direction == b.direction && a.exchange == b.exchange && a.channel == b.channel &&
           a.dial == b.dial;
}

void checkSelection(const QStringList& base, uint8_t mask) {
    const QStringList sorted = ChannelSelection::sortBase(base);
    QStringList a = base, b = sorted;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    FUZZ_CHECK(a == b, "sortBase lost or added lines");

    const QVector<QString> dirs = ChannelSelection::directions(sorted);
    for (qsizetype i = 0; i < dirs.size(); ++i) {
        FUZZ_CHECK(!dirs[i].isEmpty() && !dirs[i].contains(u'^'), "directions gave an empty or caret field");
        for (qsizetype j = 0; j < i; ++j)
            FUZZ_CHECK(dirs[i].compare(dirs[j], Qt::CaseInsensitive) != 0,
                       "directions listed one twice " + show(dirs[i]));
    }
    for (const QString& l : sorted) {
        const QString d = ExtractField(l, 0, 1);
        FUZZ_CHECK(d.isEmpty() ||
                       std::any_of(dirs.begin(), dirs.end(),
                                   [&](const QString& x) { return x.compare(d, Qt::CaseInsensitive) == 0; }),
                   "directions missed " + show(d));
    }

    QVector<QString> checked;
    for (qsizetype i = 0; i < dirs.size(); ++i)
        if (mask & (1u << (i % 8)))
            checked.append(dirs[i]);
    const ChannelSelection::Listing listing = ChannelSelection::listChannels(sorted, checked);
    qsizetype expected = 0;
    for (const QString& l : sorted)
        if (checked.contains(ExtractField(l, 0, 1)))
            ++expected;
    FUZZ_CHECK(listing.channels.size() == expected, "listChannels gave another number of channels");
    for (const QString& item : listing.channels)
        FUZZ_CHECK(item.contains(QStringLiteral(" Ch. --> ")),
                   "a channel item without its arrow " + show(item));

    QVector<QString> exchanges;
    for (qsizetype i = 0; i < listing.exchanges.size(); ++i)
        if (mask & (0x80u >> (i % 8)))
            exchanges.append(listing.exchanges[i]);
    const QVector<char> marks = ChannelSelection::exchangeMarks(listing.channels, exchanges);
    FUZZ_CHECK(marks.size() == listing.channels.size(), "exchangeMarks gave another number of marks");
    for (qsizetype i = 0; i < marks.size(); ++i) {
        const QString& c = listing.channels[i];
        const qsizetype p = c.indexOf(QStringLiteral("-- "));
        const bool want = p >= 0 && std::any_of(exchanges.begin(), exchanges.end(), [&](const QString& e) {
                              return QStringView(c).sliced(p + 3).startsWith(e + QStringLiteral("  "));
                          });
        FUZZ_CHECK(bool(marks[i]) == want, "exchangeMarks wrong for " + show(c));
    }
}
} // namespace

void channelBase(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t mask = in.byte();
    const QStringList lines = TextFile::splitLines(in.rest());
    const QVector<ChannelRecord> records = ChannelBase::parseLines(lines);
    qsizetype next = 0;
    for (const QString& line : lines) {
        const ChannelRecord r = ChannelBase::parseLine(line);
        FUZZ_CHECK(r.direction == ExtractField(line, 0, 1) && r.exchange == ExtractField(line, 1, 2) &&
                       r.channel == ExtractField(line, 2, 3) && r.dial == ExtractField(line, 3, 4),
                   "parseLine differs from ExtractField on " + show(line));
        if (r.direction.isEmpty())
            continue;
        FUZZ_CHECK(next < records.size() && sameRecord(records[next], r),
                   "parseLines lost a record " + show(line));
        ++next;
        // What the grid saves reads back the same.
        const QStringList saved = TextFile::splitLines(TextFile::joinLines({ChannelBase::formatLine(r)}));
        FUZZ_CHECK(saved.size() == 1 && sameRecord(ChannelBase::parseLine(saved[0]), r),
                   "save and load changed " + show(line));
    }
    FUZZ_CHECK(next == records.size(), "parseLines made up records");

    QStringList sorted = lines;
    ChannelBase::sortLines(sorted, QLocale::c());
    for (qsizetype i = 1; i < sorted.size(); ++i)
        FUZZ_CHECK(sorted[i - 1].compare(sorted[i], Qt::CaseInsensitive) <= 0, "sortLines out of order");
    if (lines.size() <= 64) {
        QStringList bg = lines;
        ChannelBase::sortLines(bg, QLocale(QLocale::Bulgarian, QLocale::Bulgaria));
        FUZZ_CHECK(bg.size() == lines.size(), "sortLines lost lines");
    }
    checkSelection(lines, mask);
}

void linkSettings(const uint8_t* data, size_t size) {
    const QStringList lines = TextFile::splitLines(bytesOf(data, size));
    const LinkSettingsFile::Read r = LinkSettingsFile::parse(lines);
    FUZZ_CHECK(r.port.has_value() == (lines.size() > 0) && r.pause.has_value() == (lines.size() > 4),
               "parse gave values of lines the file does not have");
    for (const auto& v : {r.port, r.address, r.speed, r.tcpPort})
        FUZZ_CHECK(!v || !v->contains(u'^'), "a field of a settings line holds a caret");

    // What the settings page writes from these values reads back the same.
    LinkSettings s;
    s.port = r.port.value_or(QString());
    s.address = r.address.value_or(QString());
    s.speed = r.speed.value_or(QString());
    s.tcpPort = r.tcpPort.value_or(QString());
    s.initString = r.initString.value_or(QString());
    s.modemSpeed = r.modemSpeed.value_or(QString());
    s.pause = r.pause.value_or(QString());
    const int flags = r.flags.value_or(LinkSettingsFile::SerialFlag);
    s.kind = LinkSettingsFile::kindOf(flags);
    s.sendInit = flags & LinkSettingsFile::InitFlag;
    const QStringList written = TextFile::splitLines(TextFile::joinLines(LinkSettingsFile::toLines(s)));
    const LinkSettingsFile::Read again = LinkSettingsFile::parse(written);
    FUZZ_CHECK(again.port == s.port && again.address == s.address && again.speed == s.speed &&
                   again.tcpPort == s.tcpPort && again.initString == s.initString &&
                   again.modemSpeed == s.modemSpeed && again.pause == s.pause &&
                   again.flags == LinkSettingsFile::flags(s),
               "settings written and read again differ");
}

void kanvoList(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const QString prefix = QString::number(in.byte() % 100);
    const QByteArrayView bytes = in.rest();
    const QVector<KanvoRecord> records = KanvoFile::parse(bytes);
    qsizetype slots = 0;
    for (qsizetype i = 0; i + KanvoFile::RecordSize <= bytes.size(); i += KanvoFile::RecordSize)
        if (bytes[i] != 0)
            ++slots;
    FUZZ_CHECK(records.size() == slots, "parse gave another number of records than filled slots");
    for (const KanvoRecord& r : records) {
        FUZZ_CHECK(!r.direction.isEmpty() && r.direction.size() <= 20 && r.exchange.size() <= 30 &&
                       r.channel.size() <= 10 && r.code.size() <= 4,
                   "a field longer than its capacity");
        const ChannelRecord c = KanvoFile::toChannel(r, prefix);
        for (const QString* f : {&c.direction, &c.exchange, &c.channel, &c.dial})
            FUZZ_CHECK(!f->contains(u'^') && !f->contains(u'\r') && !f->contains(u'\n'),
                       "an imported field the channel base cannot hold " + show(*f));
        FUZZ_CHECK(KeepDigits(c.channel) == c.channel, "the channel number kept a non-digit");
        FUZZ_CHECK(c.dial.startsWith(prefix) && c.dial.size() >= prefix.size() + 4,
                   "the dial string " + show(c.dial));
        const QStringList saved = TextFile::splitLines(TextFile::joinLines({ChannelBase::formatLine(c)}));
        FUZZ_CHECK(saved.size() == 1 && sameRecord(ChannelBase::parseLine(saved[0]), c),
                   "an imported record changed on its way through ChBase.dat");
    }
}

} // namespace fuzz
