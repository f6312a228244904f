#include "MonthView.h"

#include "core/MyUtils.h"

#include <QDate>
#include <limits>

namespace results {

LabelIndex::LabelIndex(const QStringList& lines) {
    index_.reserve(lines.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QString label = LineLabel(lines[i]);
        if (!index_.contains(label))
            index_.insert(label, i);
    }
}

int FirstLineWithLabel(const QStringList& lines, const QString& label) {
    for (int i = 0; i < lines.size(); ++i)
        if (LineLabel(lines[i]) == label)
            return i;
    return -1;
}

QVector<QStringList> MonthGridRows(const QStringList& labels, const QStringList& viewList, int colCount) {
    const int rowCount = labels.size() > 1 ? static_cast<int>(labels.size()) : 2;
    const LabelIndex index(viewList);
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
        const int line = index.find(label);
        if (line >= 0) {
            const QVector<QChar> marks = DayMarks(ResultGroups(viewList[line]), colCount - 2);
            for (int d = 1; d < marks.size(); ++d)
                if (!marks[d].isNull())
                    row[d + 1] = QString(marks[d]);
        }
        rows.append(std::move(row));
    }
    return rows;
}

QVector<DetailRow> DetailRows(QStringView line, int day) {
    QVector<DetailRow> out;
    for (const ResultGroup& g : ResultGroups(line)) {
        if (g.day != day)
            continue;
        if (out.size() == kDetailRows)
            break;
        out.append({g.answer.toString(), DelayWithComma(g.delay), TestTime(g.timestamp)});
    }
    return out;
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

QString DayComment(QStringView line, int day) {
    QString text;
    for (const ResultGroup& g : ResultGroups(line)) {
        if (g.day > day)
            break;
        if (g.day == day)
            appendCommentLine(text, g);
    }
    return text;
}

QVector<QString> DayComments(QStringView line, int days) {
    QVector<QString> out(days + 1);
    // A group belongs to its day's comment unless an earlier group lies on a later day,
    // where the day-by-day scan would have stopped.
    int latest = 0;
    for (const ResultGroup& g : ResultGroups(line)) {
        if (g.day >= latest && g.day <= days)
            appendCommentLine(out[g.day], g);
        latest = std::max(latest, g.day);
    }
    return out;
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
