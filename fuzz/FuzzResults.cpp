// Fuzzing of the month results readers: the month grid, the engine's month results, the detail
// panel's rows and the day comments.
#include "FuzzEntries.h"
#include "FuzzUtil.h"

#include "monthfile/MonthResults.h"
#include "results/MonthView.h"
#include "core/TextFile.h"

#include <algorithm>
#include <utility>

namespace fuzz {

namespace {
const QString kHeader = QStringLiteral("Направление -- Канал");

// The channel key of a line as the engine reads it: field 0, none without a caret.
QString keyOf(const QString& line) {
    const qsizetype caret = line.indexOf(u'^');
    return caret < 0 ? QString() : line.left(caret);
}

bool isMark(const QString& cell) {
    return cell.isEmpty() ||
           (cell.size() == 1 && (cell[0] == results::kMarkConnect || cell[0] == results::kMarkBusy ||
                                 cell[0] == results::kMarkFailure));
}

// The month grid's rule, day by day: "Р" if any test that day connected, else the last test's mark.
QString expectedMark(const QVector<results::ResultGroup>& groups, int day) {
    QString mark;
    for (const results::ResultGroup& g : groups) {
        if (g.day != day)
            continue;
        if (results::DayMark(g) == results::kMarkConnect)
            return QString(results::kMarkConnect);
        mark = QString(results::DayMark(g));
    }
    return mark;
}

// A row's tests, the slow way: every line with its label, several lines' tests sorted by day and
// time (one minute's in line order); without a label, the first line without one.
QVector<results::ResultGroup> rowGroups(const QStringList& lines, const QString& label) {
    QVector<results::ResultGroup> out;
    int matched = 0;
    for (const QString& l : lines) {
        if (results::LineLabel(l) != label)
            continue;
        out += results::ResultGroups(l);
        ++matched;
        if (label.isEmpty())
            break;
    }
    if (matched > 1)
        std::stable_sort(out.begin(), out.end(),
                         [](const results::ResultGroup& a, const results::ResultGroup& b) {
                             return std::pair(a.day, monthfile::MinuteOfDay(a.timestamp)) <
                                    std::pair(b.day, monthfile::MinuteOfDay(b.timestamp));
                         });
    return out;
}

void checkGroups(QStringView line) {
    for (const results::ResultGroup& g : results::ResultGroups(line)) {
        FUZZ_CHECK(g.day >= 1 && g.day <= 31 && g.timestamp.size() >= 10, "a result group outside the month");
        FUZZ_CHECK(!g.answer.contains(u'^') && !g.delay.contains(u'^'), "a result group holds a caret");
        const QString d = results::DelayWithComma(g.delay);
        FUZZ_CHECK(d.size() == g.delay.size() + 1 && d.count(u',') >= 1, "DelayWithComma " + show(d));
    }
}
} // namespace

void monthView(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const int days = 28 + in.byte() % 4;
    const uint8_t pick = in.byte();
    const QStringList lines = TextFile::splitLines(in.rest());

    // The rows of the view: the labels of the file's own lines, plus one it does not have.
    QStringList labels{kHeader};
    for (const QString& l : lines)
        labels.append(results::ChannelLabel(l));
    if (pick & 1)
        labels.append(QStringLiteral("nowhere -- x  1 Ch. "));
    const int colCount = days + 2;
    const QVector<QStringList> rows = results::MonthGridRows(labels, lines, colCount);
    FUZZ_CHECK(rows.size() == std::max<qsizetype>(labels.size(), 2) - 1,
               "MonthGridRows gave another number of rows");
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QStringList& row = rows[r];
        FUZZ_CHECK(row.size() == colCount, "a grid row of another width");
        FUZZ_CHECK(row[0] == QString::number(r + 1) && row[1] == labels.value(r + 1),
                   "a grid row's number or label");
        const QVector<results::ResultGroup> groups = rowGroups(lines, labels.value(r + 1));
        for (int c = 2; c < colCount; ++c) {
            FUZZ_CHECK(isMark(row[c]), "a day cell that is no mark " + show(row[c]));
            FUZZ_CHECK(row[c] == expectedMark(groups, c - 1),
                       "the mark of day" + show(c - 1) + " of " + show(labels.value(r + 1)));
        }
    }
    for (const QString& l : lines)
        checkGroups(l);

    // The engine keeps the same file: every channel key found at its first line, a new test appended.
    MonthResults month(lines);
    FUZZ_CHECK(month.count() == lines.size(), "MonthResults lost lines");
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString key = keyOf(lines[i]);
        const int at = month.IndexOfChannel(key);
        FUZZ_CHECK(at >= 0 && at <= i && keyOf(lines[at]) == key, "IndexOfChannel missed " + show(key));
    }
    const QString key = lines.isEmpty() ? QStringLiteral("k") : lines.last().section(u'^', 0, 0);
    const QString answer = MonthResults::sanitizeAnswer(lines.value(0));
    const int before = month.count();
    const int was = month.IndexOfChannel(key);
    const qsizetype groupsBefore = was < 0 ? 0 : results::ResultGroups(month.lines()[was]).size();
    month.AddResult(key, answer, QStringLiteral("100"), QStringLiteral("2405011000"));
    const int at = month.IndexOfChannel(key);
    FUZZ_CHECK(at >= 0 && month.count() - before <= 1 &&
                   month.lines()[at].endsWith(answer + QStringLiteral("^100^2405011000^")),
               "AddResult did not append the test to its line");
    // The test recorded is one more test on the results page. Only for a line as the program writes
    // them, whole groups each closed by a caret: a damaged line takes the test after its broken tail.
    const QString old = was < 0 ? QString() : lines[was];
    if (was < 0 || (old.endsWith(u'^') && old.count(u'^') % 3 == 1))
        FUZZ_CHECK(results::ResultGroups(month.lines()[at]).size() == groupsBefore + 1,
                   "the recorded test does not read back as one more test of " + show(month.lines()[at]));
}

void detailRows(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const int day = in.byte() % 33; // 0 and 32: no such day
    const QStringList lines = TextFile::splitLines(in.rest());
    for (const QString& l : lines) {
        const QVector<results::DetailRow> rows = results::DetailRows(l, day);
        FUZZ_CHECK(rows.size() <= results::kDetailRows, "more detail rows than the panel has");
        qsizetype ofDay = 0;
        for (const results::ResultGroup& g : results::ResultGroups(l))
            ofDay += g.day == day;
        FUZZ_CHECK(rows.size() == std::min<qsizetype>(ofDay, results::kDetailRows),
                   "detail rows missing tests of the day");
        for (const results::DetailRow& r : rows) {
            FUZZ_CHECK(!r.answer.contains(u'^'), "a detail answer holds a caret");
            FUZZ_CHECK(r.delay.contains(u','), "a detail delay without its comma " + show(r.delay));
            FUZZ_CHECK(r.time.size() == 5 && r.time[2] == u':', "a detail time " + show(r.time));
        }
        const QString title = results::DetailTitle(results::ChannelLabel(l), day, 1 + day % 12, 2000 + day);
        FUZZ_CHECK(title.startsWith(results::ChannelLabel(l)), "DetailTitle");
    }
}

void cellComment(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const int days = 28 + in.byte() % 4;
    const QStringList lines = TextFile::splitLines(in.rest());
    for (const QString& l : lines) {
        const QVector<QString> all = results::DayComments(l, days);
        FUZZ_CHECK(all.size() == days + 1, "DayComments gave another number of days");
        for (int d = 1; d <= days; ++d) {
            const QString one = results::DayComment(l, d);
            FUZZ_CHECK(one == all[d],
                       "DayComment and DayComments differ on day" + show(d) + " of " + show(l));
            FUZZ_CHECK(one.isEmpty() || one.endsWith(u'\n'), "a comment line without its line feed");
            const QString clean = results::CleanText(one);
            for (QChar c : clean)
                FUZZ_CHECK(c == u'\n' || (c.unicode() >= 0x20 && (c.unicode() < 0x7F || c.unicode() > 0x9F)),
                           "CleanText kept a control character");
        }
        // Outside the month: nothing.
        FUZZ_CHECK(results::DayComment(l, 0).isEmpty(), "a comment for day 0");
    }
}

} // namespace fuzz
