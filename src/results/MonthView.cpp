#include "MonthView.h"

#include "core/MyUtils.h"

#include <QDate>
#include <limits>

namespace results {

monthfile::ChannelTests RowTests(const monthfile::Month& month, const QString& label) {
    monthfile::ChannelTests t;
    if (!label.isEmpty()) {
        const int c = month.channel(label);
        return c < 0 ? t : month.tests(c);
    }
    for (int i = 0; i < month.lineCount(); ++i) {
        QString line = month.line(i);
        if (LineLabel(line).isEmpty()) {
            t.lines.append(std::move(line));
            t.groups = ResultGroups(t.lines[0]);
            break;
        }
    }
    return t;
}

QVector<QStringList> MonthGridRows(const QStringList& labels, const QStringList& viewList, int colCount) {
    const int rowCount = labels.size() > 1 ? static_cast<int>(labels.size()) : 2;
    const monthfile::Month month = MonthOfLines(viewList);
    QVector<QStringList> rows;
    rows.reserve(rowCount - 1);
    for (int r = 1; r < rowCount; ++r) {
        QStringList row;
        row.reserve(colCount);
        row.append(QString::number(r));
        const QString label = r < labels.size() ? labels[r] : QString();
        row.append(label);
        while (row.size() < colCount)
            row.append(QString());
        const QVector<QChar> marks = DayMarks(RowTests(month, label).groups, colCount - 2);
        for (int d = 1; d < marks.size(); ++d)
            if (!marks[d].isNull())
                row[d + 1] = QString(marks[d]);
        rows.append(std::move(row));
    }
    return rows;
}

QVector<DetailRow> DetailRows(const QVector<ResultGroup>& groups, int day) {
    QVector<DetailRow> out;
    for (const ResultGroup& g : groups) {
        if (g.day != day)
            continue;
        if (out.size() == kDetailRows)
            break;
        out.append({g.answer.toString(), DelayWithComma(g.delay), TestTime(g.timestamp)});
    }
    return out;
}

QVector<DetailRow> DetailRows(QStringView line, int day) {
    return DetailRows(ResultGroups(line), day);
}

QString DetailTitle(const QString& label, int day, int month, int year) {
    return label + QStringLiteral(" за  ") + PadTo2(QString::number(day)) + QLatin1Char('.') +
           PadTo2(QString::number(month)) + QLatin1Char('.') + QString::number(year) + QStringLiteral("г.");
}

namespace {
void appendCommentLine(QString& text, const ResultGroup& g) {
    text += g.answer;
    text += QLatin1Char(' ');
    if (g.answer == u"BUSY") {
        text += DelayWithComma(g.delay);
        text += QLatin1Char(' ');
    }
    text += TestTime(g.timestamp);
    text += QLatin1Char('\n');
}
} // namespace

QString DayComment(const QVector<ResultGroup>& groups, int day) {
    QString text;
    for (const ResultGroup& g : groups) {
        if (g.day > day)
            break;
        if (g.day == day)
            appendCommentLine(text, g);
    }
    return text;
}

QString DayComment(QStringView line, int day) {
    return DayComment(ResultGroups(line), day);
}

QVector<QString> DayComments(const QVector<ResultGroup>& groups, int days) {
    QVector<QString> out(days + 1);
    // A group belongs to its day's comment unless an earlier group lies on a later day,
    // where the day-by-day scan would have stopped.
    int latest = 0;
    for (const ResultGroup& g : groups) {
        if (g.day >= latest && g.day <= days)
            appendCommentLine(out[g.day], g);
        latest = std::max(latest, g.day);
    }
    return out;
}

QVector<QString> DayComments(QStringView line, int days) {
    return DayComments(ResultGroups(line), days);
}

QString CleanText(const QString& text) {
    const auto unwanted = [](char16_t u) { return (u < 0x20 && u != u'\n') || (u >= 0x7F && u <= 0x9F); };
    const char16_t* p = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && !unwanted(p[i]))
        ++i;
    if (i == n)
        return text;
    QString out = text.left(i);
    for (; i < n; ++i)
        if (!unwanted(p[i]))
            out += QChar(p[i]);
    return out;
}

} // namespace results
