// Fuzzing of the report program: a month file (with a journal beside it) through every format
// and the check, and arbitrary command lines through its option parser.
//
// report_file input: a mode byte, a day byte, then the month file; a form feed, if any, ends the
// month file and the bytes after it are the journal. Mode bits: 1-2 the format, 4 only failed
// channels, 8 separator ';', 16 a journal header and record checks that fit (so its records are
// read), 32 no month file, 64-128 the month (Jan, Feb, Apr, Dec). The day byte: its remainder by
// 33 the day (0 the whole month, 32 beyond every month), its quotient's bit 1 the metrics in
// place of the list, bit 2 --min-days 2.
#include "FuzzEntries.h"
#include "FuzzUtil.h"

#include "monthfile/MonthResults.h"
#include "report/PromReader.h"
#include "report/ReportFormats.h"
#include "report/ReportMonth.h"
#include "report/ReportOptions.h"
#include "core/Cp1251.h"
#include "core/TextFile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryFile>

#include <algorithm>

namespace fuzz {

namespace {
QByteArray sealed(QByteArrayView body) {
    return body.toByteArray() + QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex().left(8) + "\r\n";
}

// A journal that names the month file as it is, its lines given valid checks.
QByteArray fittingJournal(const QByteArray& month, bool monthExists, QByteArrayView records) {
    const FileFingerprint base = monthExists ? FileFingerprint::of(month) : FileFingerprint();
    QByteArray out = sealed(QByteArray("chantest-journal^1^") + base.toText().toLatin1() + '^');
    for (QByteArrayView line : records.toByteArray().split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype caret = line.lastIndexOf('^');
        if (caret >= 0)
            out += sealed(line.first(caret + 1));
    }
    return out;
}

// RFC 4180 records of a csv text (after its byte-order mark): fields per record. No field but the
// delay (a number) begins as a formula would.
QVector<qsizetype> csvRecords(const QString& text, QChar sep) {
    QVector<qsizetype> records;
    qsizetype fields = 1;
    bool quoted = false;
    bool fieldStart = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (fieldStart && fields != 8) {
            const QChar first = c == u'"' && i + 1 < text.size() ? text[i + 1] : c;
            FUZZ_CHECK(!report::LooksLikeFormula(QStringView(&first, 1)),
                       "a csv field that begins as a formula" + show(text.mid(i, 20)));
        }
        fieldStart = false;
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < text.size() && text[i + 1] == u'"')
                    ++i;
                else
                    quoted = false;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == sep) {
            ++fields;
            fieldStart = true;
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            records.append(fields);
            fields = 1;
            fieldStart = true;
            ++i;
        }
    }
    FUZZ_CHECK(!quoted && (text.isEmpty() || text.endsWith(QLatin1String("\r\n"))), "csv ends inside a record");
    return records;
}
} // namespace

void reportFile(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.byte();
    const uint8_t dayByte = in.byte();
    const int day = dayByte % 33; // 0: the whole month, 32: beyond every month
    const bool metrics = (dayByte / 33) & 1;
    const QByteArrayView rest = in.rest();
    const qsizetype ff = rest.indexOf('\f');
    const QByteArray monthBytes = (ff < 0 ? rest : rest.first(ff)).toByteArray();
    QByteArray journal = ff < 0 ? QByteArray() : rest.sliced(ff + 1).toByteArray();
    const bool monthExists = !(mode & 32);
    if (mode & 16)
        journal = fittingJournal(monthBytes, monthExists, journal);

    report::Month m;
    const int months[] = {1, 2, 4, 12};
    m.year = 2024 + (mode & 1);
    m.month = months[(mode >> 6) & 3];
    try {
        report::BuildMonth(m, monthBytes, monthExists, journal);
    } catch (const report::ReportError& e) {
        // Only a month file with a NUL byte is refused, and the status names its offset.
        const qsizetype nul = monthBytes.indexOf('\0');
        FUZZ_CHECK(nul >= 0 && e.status().startsWith(QStringLiteral("NUL byte at offset %1 ").arg(nul)),
                   "a month refused " + show(e.status()));
        return;
    }
    FUZZ_CHECK(!monthExists || !monthBytes.contains('\0'), "a month file with a NUL byte read");

    if (m.journalRecords > 0) {
        // The journal's tests beside the mapped bytes read as the engine would write them.
        QTemporaryFile f;
        FUZZ_CHECK(f.open() && f.write(journal) == journal.size() && f.flush(), "no temporary file");
        MonthResults whole(monthExists ? TextFile::splitLines(monthBytes) : QStringList());
        for (const ResultJournal::Record& r : ResultJournal::read(f.fileName()).records)
            whole.AddResult(r.key, r.answer, r.delay, r.stamp);
        FUZZ_CHECK(whole.count() == m.lineCount(),
                   "lines with the journal" + show(m.lineCount()) + show(whole.count()));
        for (int i = 0; i < m.lineCount(); ++i)
            FUZZ_CHECK(m.line(i) == whole.lines()[i], "a line with the journal " + show(m.line(i)));
    }

    const report::Span span = day == 0 || day > m.days ? report::Span{1, m.days} : report::Span{day, day};
    // Channels: distinct, non-empty labels, every line with one in exactly one channel.
    QSet<QString> labels, exchanges;
    report::CallTable calls;
    int tests = 0, lines = 0;
    for (int c = 0; c < m.channels.size(); ++c) {
        const report::ChannelTests t = m.tests(c);
        // The day marks read from the bytes are those of the decoded tests.
        const QVector<QChar> marks = monthfile::DayMarks(t.groups, m.days);
        for (int d = 1; d <= m.days; ++d)
            FUZZ_CHECK(report::MarkChar(m.dayMark(c, d)) == marks[d],
                       "a day mark from the bytes" + show(d) + show(report::MarkChar(m.dayMark(c, d))));
        const QString label = m.labels[c];
        FUZZ_CHECK(!label.isEmpty() && !labels.contains(label), "a channel without a label or twice " + show(label));
        labels.insert(label);
        for (const QString& l : t.lines)
            FUZZ_CHECK(monthfile::LineLabel(l) == label, "a line in another's channel " + show(l));
        lines += int(t.lines.size());
        qint64 before = -1;
        // The call ratios read answers as the day marks do, and name a channel's row as SplitKey().
        report::CallTable own;
        own.add(label, t.groups, 1, 31);
        const report::ChannelParts parts = report::SplitKey(QStringView(label).trimmed());
        FUZZ_CHECK(own.rows().size() == (t.groups.isEmpty() ? 0 : 1) &&
                       (own.rows().isEmpty() || (own.rows()[0].direction == parts.direction &&
                                                 own.rows()[0].exchange == parts.exchange)),
                   "a channel's row of calls " + show(label));
        if (!t.groups.isEmpty())
            exchanges.insert(parts.direction + u'\n' + parts.exchange);
        calls.add(label, t.groups, 1, 31);
        for (const monthfile::ResultGroup& g : t.groups) {
            const QChar mark = monthfile::DayMark(g);
            const report::CallAnswer a = report::CallAnswerOf(g);
            FUZZ_CHECK((a == report::CallAnswer::Connected) == (mark == monthfile::kMarkConnect) &&
                           (a == report::CallAnswer::Busy) == (mark == monthfile::kMarkBusy),
                       "an answer the calls and the marks read apart " + show(g.answer.toString()));
            FUZZ_CHECK(g.day >= 1 && g.day <= m.days, "a test outside the month");
            FUZZ_CHECK(g.delayIsNumber || g.answer != u"BUSY", "a BUSY without a numeric delay");
            FUZZ_CHECK(t.lines.size() == 1 || m.minuteOf(g) >= before, "a channel's tests out of time order");
            before = m.minuteOf(g);
            tests += g.day >= span.from && g.day <= span.to;
        }
    }
    FUZZ_CHECK(calls.rows().size() == exchanges.size(), "rows of calls" + show(calls.rows().size()));
    int labelled = 0;
    for (int i = 0; i < m.lineCount(); ++i)
        labelled += !monthfile::LineLabel(m.line(i)).isEmpty();
    FUZZ_CHECK(lines == labelled, "lines in channels" + show(lines) + show(labelled));
    FUZZ_CHECK((m.latestDay() > 0) == m.latestTest().isValid(), "latest day and latest test disagree");
    if (m.journalRecords > 0)
        FUZZ_CHECK(mode & 16, "a journal read that does not name the month file");

    report::Options o;
    o.failedOnly = mode & 4;
    o.separator = mode & 8 ? u';' : u',';
    o.minDays = (dayByte / 33) & 2 ? 2 : 1;
    // Text and check: the day asked for, else the hours up to the latest test.
    const bool oneDay = (day >= 1 && day <= m.days) || m.latestDay() == 0;
    const int hours = 1 + (mode * 37 + day) % 744;
    const report::Period period = oneDay ? report::Period::ofDay(m, day >= 1 && day <= m.days ? day : 1)
                                         : report::Period::ofHours({&m}, hours);
    // One station: the month, the period with its channels, the streaks up to the span's end.
    QVector<report::Source> sources(1);
    report::Source& s = sources[0];
    s.month = &m;
    s.period = period;
    QString warning;
    s.channels.read(period, true, {}, warning);
    s.last = span.from == span.to ? span.to : m.latestDay();
    s.streaks = report::MonthStreaks(m, s.last, {}, warning);
    for (int c = 0; c < m.channels.size(); ++c) {
        const bool failed = s.last > 0 && m.dayMark(c, s.last) == report::Mark::Failure;
        FUZZ_CHECK(s.streaks[c] >= 0 && s.streaks[c] <= s.last && (s.streaks[c] > 0) == failed,
                   "a streak" + show(s.streaks[c]) + show(s.last));
    }
    for (const report::PeriodChannel& r : s.channels.rows)
        FUZZ_CHECK((r.streak > 0) == (r.mark == monthfile::kMarkFailure) && r.streak <= r.day,
                   "a period streak" + show(r.streak) + show(r.mark));
    QByteArray bytes;
    {
        QBuffer buf(&bytes);
        buf.open(QIODevice::WriteOnly);
        report::Sink out(buf);
        switch (metrics && !(mode & 3) ? 4 : mode & 3) {
        case 0:
            report::WriteText(sources, o, out);
            break;
        case 1:
            report::WriteCsv(sources, o, span, out);
            break;
        case 2:
            report::WriteJson(sources, o, span, out);
            break;
        case 3:
            report::WriteHtml(sources, o, span, QDateTime(QDate(2025, 1, 1), QTime(8, 0)), out);
            break;
        case 4:
            report::WriteMetrics(sources, o, out);
            break;
        }
    }
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    const QString text = QString::fromUtf8(QByteArrayView(bytes).sliced(bom ? 3 : 0));
    FUZZ_CHECK(text.toUtf8() == QByteArrayView(bytes).sliced(bom ? 3 : 0), "output that is not UTF-8");
    switch (metrics && !(mode & 3) ? 4 : mode & 3) {
    case 0:
        FUZZ_CHECK(text.section(u'\n', -2, -2).startsWith(QStringLiteral("Общо ")), "the list ends without totals");
        break;
    case 4: {
        const promreader::Result r = promreader::Read(bytes);
        FUZZ_CHECK(r.ok(), "metrics a strict reader refuses: line" + show(r.errorLine) + show(r.error));
        break;
    }
    case 1: {
        FUZZ_CHECK(bom, "csv without its byte-order mark");
        const QVector<qsizetype> records = csvRecords(text, o.separator);
        for (qsizetype f : records)
            FUZZ_CHECK(f == 10, "a csv record of" + show(f) + " fields");
        if (!o.failedOnly)
            FUZZ_CHECK(records.size() == 1 + tests, "csv rows" + show(records.size() - 1) + " for tests" + show(tests));
        break;
    }
    case 2: {
        QJsonParseError e;
        const QJsonDocument doc = QJsonDocument::fromJson(bytes, &e);
        FUZZ_CHECK(e.error == QJsonParseError::NoError && doc.isObject(), "json that does not parse: " + show(e.errorString()));
        // The call ratios count every test of the span, --failed or not.
        const QJsonObject calls = doc.object().value(QStringLiteral("calls")).toObject();
        const double asr = calls.value(QStringLiteral("asr")).toDouble(-1),
                     ner = calls.value(QStringLiteral("ner")).toDouble(-1);
        FUZZ_CHECK(calls.value(QStringLiteral("tests")).toInt(-1) == tests &&
                       (tests == 0 ? asr == -1 && ner == -1 : asr >= 0 && asr <= ner && ner <= 1),
                   "call ratios" + show(calls.value(QStringLiteral("tests")).toInt(-1)) + show(tests) +
                       show(asr) + show(ner));
        break;
    }
    case 3:
        FUZZ_CHECK(text.count(QLatin1String("<td")) == text.count(QLatin1String("</td>")) &&
                       text.count(QLatin1String("<tr")) == text.count(QLatin1String("</tr>")) &&
                       !text.contains(QLatin1String("<script")),
                   "an unbalanced or scripted page");
        break;
    }
    if (m.latestDay() > 0) {
        report::CheckOptions c;
        report::ParseThreshold(QString::number(mode % 7) + (mode & 8 ? QStringLiteral("%") : QString()), c.critical);
        c.minDays = o.minDays;
        const report::CheckResult r = report::Check(sources, c, QDateTime(QDate(2025, 1, 1), QTime(8, 0)));
        FUZZ_CHECK(r.code >= 0 && r.code <= 2 && r.line.startsWith(QStringLiteral("CHANTEST ")) &&
                       !r.line.contains(u'\n') && r.line.contains(QStringLiteral(" | failed=")),
                   "a status line " + show(r.line));
    }
}

void reportArgs(const uint8_t* data, size_t size) {
    // Arguments separated by NUL bytes, as the kernel hands them over; any bytes as UTF-8.
    QStringList args{QStringLiteral("chantest-report")};
    for (const QByteArray& a : QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0'))
        args.append(QString::fromUtf8(a));
    report::Options o;
    QString error;
    bool checkAsked = false;
    const bool ok = report::ParseArguments(args, o, error, &checkAsked);
    FUZZ_CHECK(ok == error.isEmpty(), "a result and a message that disagree " + show(error));
    const bool check = std::any_of(args.begin() + 1, args.end(), [](const QString& a) {
        return a == QLatin1String("--check") || a.startsWith(QLatin1String("--check="));
    });
    FUZZ_CHECK(checkAsked == check, "--check seen wrongly");
    if (!ok)
        return;
    FUZZ_CHECK(o.month == 0 || (o.month >= 1 && o.month <= 12 && o.year >= 1995 && o.year <= 2094), "a month");
    FUZZ_CHECK(o.day >= 0 && o.day <= 31 && o.maxAgeHours >= 0, "a day or an age");
    FUZZ_CHECK(o.separator == u',' || o.separator == u';' || o.separator == u'\t',
               "a separator spreadsheets do not read");
    FUZZ_CHECK(o.hours >= 1 && o.hours <= 744 && o.timeoutSeconds >= 0 && (o.day == 0 || o.hours == 24),
               "hours or a time");
    FUZZ_CHECK(o.minDays >= 1 && o.minDays <= report::kMaxMinDays &&
                   (o.minDays == 1 || o.failedOnly || o.check),
               "a --min-days out of range or without --failed and --check");
    QSet<QString> names;
    for (const report::ResultsFolder& f : o.results) {
        FUZZ_CHECK(!f.dir.isEmpty() && !names.contains(f.name),
                   "an empty folder or a station named twice " + show(f.name));
        names.insert(f.name);
    }
    for (const report::Threshold* t : {&o.warning, &o.critical})
        FUZZ_CHECK(!t->set || (t->value >= 0 && (!t->percent || t->value <= 100)), "a threshold out of range");
}

} // namespace fuzz
