// Fuzzing of the report program: a month file (with a journal beside it) through every format
// and the check, and arbitrary command lines through its option parser.
//
// report_file input: a mode byte, a day byte, then the month file; a form feed, if any, ends the
// month file and the bytes after it are the journal. Mode bits: 1-2 the format, 4 only failed
// channels, 8 separator ';', 16 a journal header and record checks that fit (so its records are
// read), 32 no month file, 64-128 the month (Jan, Feb, Apr, Dec).
#include "FuzzEntries.h"
#include "FuzzUtil.h"

#include "engine/MonthResults.h"
#include "report/ReportFormats.h"
#include "report/ReportMonth.h"
#include "report/ReportOptions.h"
#include "shell/Cp1251.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

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

// RFC 4180 records of a csv text (after its byte-order mark): fields per record.
QVector<qsizetype> csvRecords(const QString& text, QChar sep) {
    QVector<qsizetype> records;
    qsizetype fields = 1;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
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
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            records.append(fields);
            fields = 1;
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
    const int day = in.byte() % 33; // 0: the whole month, 32: beyond every month
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
    report::BuildMonth(m, monthBytes, monthExists, journal);

    const report::Span span = day == 0 || day > m.days ? report::Span{1, m.days} : report::Span{day, day};
    // Channels: distinct, non-empty labels, each at the first line that has it.
    QSet<QString> labels;
    int tests = 0;
    for (int c = 0; c < m.channels.size(); ++c) {
        const report::ChannelTests t = m.tests(c);
        const QString label = results::ChannelLabel(t.line);
        FUZZ_CHECK(!label.isEmpty() && !labels.contains(label), "a channel without a label or twice " + show(label));
        labels.insert(label);
        for (const results::ResultGroup& g : t.groups) {
            FUZZ_CHECK(g.day >= 1 && g.day <= m.days, "a test outside the month");
            FUZZ_CHECK(g.delayIsNumber || g.answer != u"BUSY", "a BUSY without a numeric delay");
            tests += g.day >= span.from && g.day <= span.to;
        }
    }
    FUZZ_CHECK((m.latestDay() > 0) == m.latestTest().isValid(), "latest day and latest test disagree");
    if (m.journalRecords > 0)
        FUZZ_CHECK(mode & 16, "a journal read that does not name the month file");

    report::Options o;
    o.failedOnly = mode & 4;
    o.separator = mode & 8 ? u';' : u',';
    const int oneDay = day >= 1 && day <= m.days ? day : std::max(1, m.latestDay());
    QByteArray bytes;
    {
        QBuffer buf(&bytes);
        buf.open(QIODevice::WriteOnly);
        report::Sink out(buf);
        switch (mode & 3) {
        case 0: report::WriteText(m, o, oneDay, out); break;
        case 1: report::WriteCsv(m, o, span, out); break;
        case 2: report::WriteJson(m, o, span, out); break;
        case 3: report::WriteHtml(m, o, span, QDateTime(QDate(2025, 1, 1), QTime(8, 0)), out); break;
        }
    }
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    const QString text = QString::fromUtf8(QByteArrayView(bytes).sliced(bom ? 3 : 0));
    FUZZ_CHECK(text.toUtf8() == QByteArrayView(bytes).sliced(bom ? 3 : 0), "output that is not UTF-8");
    switch (mode & 3) {
    case 0:
        FUZZ_CHECK(text.section(u'\n', -2, -2).startsWith(QStringLiteral("Общо ")), "the list ends without totals");
        break;
    case 1: {
        FUZZ_CHECK(bom, "csv without its byte-order mark");
        const QVector<qsizetype> records = csvRecords(text, o.separator);
        for (qsizetype f : records)
            FUZZ_CHECK(f == 9, "a csv record of" + show(f) + " fields");
        if (!o.failedOnly)
            FUZZ_CHECK(records.size() == 1 + tests, "csv rows" + show(records.size() - 1) + " for tests" + show(tests));
        break;
    }
    case 2: {
        QJsonParseError e;
        const QJsonDocument doc = QJsonDocument::fromJson(bytes, &e);
        FUZZ_CHECK(e.error == QJsonParseError::NoError && doc.isObject(), "json that does not parse: " + show(e.errorString()));
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
        report::Options c;
        report::ParseThreshold(QString::number(mode % 7) + (mode & 8 ? QStringLiteral("%") : QString()), c.critical);
        const report::CheckResult r = report::Check(m, c, oneDay, QDateTime(QDate(2025, 1, 1), QTime(8, 0)));
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
    FUZZ_CHECK(checkAsked == args.mid(1).contains(QStringLiteral("--check")), "--check seen wrongly");
    if (!ok)
        return;
    FUZZ_CHECK(o.month == 0 || (o.month >= 1 && o.month <= 12 && o.year >= 1995 && o.year <= 2094), "a month");
    FUZZ_CHECK(o.day >= 0 && o.day <= 31 && o.maxAgeHours >= 0, "a day or an age");
    FUZZ_CHECK(o.separator != u'"' && o.separator != u'\r' && o.separator != u'\n' && !o.separator.isNull(),
               "a separator csv cannot carry");
    for (const report::Threshold* t : {&o.warning, &o.critical})
        FUZZ_CHECK(!t->set || (t->value >= 0 && (!t->percent || t->value <= 100)), "a threshold out of range");
}

} // namespace fuzz
