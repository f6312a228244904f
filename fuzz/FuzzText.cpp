// Fuzzing of the field-line routines, the code page and the line splitting.
#include "FuzzEntries.h"
#include "FuzzUtil.h"

#include "monthfile/MonthResults.h"
#include "results/MonthView.h"
#include "core/Cp1251.h"
#include "core/MyUtils.h"
#include "core/TextFile.h"

namespace fuzz {

const std::vector<Target>& targets() {
    static const std::vector<Target> all = {
        {"field_lines", fieldLines},   {"chbase", channelBase},   {"kanvoalt", linkSettings},
        {"task_file", taskFile},       {"month_view", monthView}, {"detail_rows", detailRows},
        {"cell_comment", cellComment}, {"kanvo_list", kanvoList}, {"comm_log", commLog},
        {"journal", journal},         {"report_file", reportFile}, {"report_args", reportArgs},
    };
    return all;
}

namespace {
// The start of field `n` (from 0) of `text`, or -1 when the text has fewer fields.
qsizetype fieldStart(const QString& text, int n, QChar sep) {
    qsizetype pos = 0;
    for (int k = 0; k < n; ++k) {
        pos = text.indexOf(sep, pos);
        if (pos < 0)
            return -1;
        ++pos;
    }
    return pos;
}

void checkFields(const QString& text, quint16 index, quint16 from, quint16 to) {
    const QStringList fields = text.split(u'^');
    const QString f = ExtractField(text, index, quint16(index + 1));
    FUZZ_CHECK(f == fields.value(index), "ExtractField differs from the split field " + show(text, index));
    FUZZ_CHECK(!f.contains(u'^'), "ExtractField returned a caret");
    // Any stop: the result is still caret-free and part of field `index`.
    const QString g = ExtractField(text, index, to);
    FUZZ_CHECK(!g.contains(u'^') && fields.value(index).startsWith(g),
               "ExtractField with stop " + show(text, to));

    const QString r = ExtractFieldRange(text, from, to);
    if (from < to)
        FUZZ_CHECK(r == fields.mid(from, to - from).join(u'^'),
                   "ExtractFieldRange " + show(text, from) + show(to));
    FUZZ_CHECK(r.size() <= text.size(), "ExtractFieldRange grew the text");
}

void checkCut(const QString& text, int first, int count, QChar sep) {
    const QString r = CutFields(text, first, count, sep);
    FUZZ_CHECK(r.size() <= text.size(), "CutFields grew the text");
    if (first < 1 || count < 1)
        return;
    const QStringList parts = text.split(sep);
    const qsizetype closed = parts.size() - 1; // fields followed by a separator
    if (closed >= first + count - 1) {
        FUZZ_CHECK(r == parts.mid(first - 1, count).join(sep),
                   "CutFields of closed fields " + show(text, first));
    } else {
        // The text ends inside the fields asked for: all of it from field `first`, less its last character.
        const qsizetype start = fieldStart(text, first - 1, sep);
        const QString tail = start < 0 ? QString() : text.mid(start);
        const QString expected = tail.isEmpty() ? QString() : tail.chopped(1);
        FUZZ_CHECK(r == expected, "CutFields of an unclosed field " + show(text, first));
    }
}

void checkPadding(const QString& t) {
    const QString p2 = PadTo2(t);
    FUZZ_CHECK(t.size() == 1 ? p2 == u'0' + t : p2 == t, "PadTo2 " + show(t));
    const QString p4 = PadTo4(t);
    if (t.size() >= 4)
        FUZZ_CHECK(p4 == t, "PadTo4 changed a long text");
    else
        FUZZ_CHECK(p4.size() == 4 && p4.endsWith(t) && p4.first(4 - t.size()).count(u'0') == 4 - t.size(),
                   "PadTo4 " + show(t));
    const QString d = KeepDigits(t);
    QString digits;
    for (QChar c : t.left(255))
        if (c >= u'0' && c <= u'9')
            digits += c;
    FUZZ_CHECK(d == digits, "KeepDigits " + show(t));
}

void checkIntegers(const QString& t) {
    int a = 0, b = 0;
    const bool okA = TryStrToInt(t, a);
    const bool okB = results::ParseInt(t, b);
    FUZZ_CHECK(okA == okB && (!okA || a == b), "TryStrToInt and ParseInt disagree on " + show(t));
}
} // namespace

void fieldLines(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const quint16 index = in.byte() % 12;
    const quint16 from = in.byte() % 12;
    const quint16 to = in.byte() % 12;
    const int first = int(in.byte() % 10) - 1;
    const int count = int(in.byte() % 10) - 1;
    const char sepByte = char(in.byte());
    const QByteArrayView rest = in.rest();

    // The code page: every byte has its own character, so bytes come back exactly.
    const QString text = Cp1251::decode(rest);
    FUZZ_CHECK(text.size() == rest.size(), "Cp1251::decode changed the length");
    FUZZ_CHECK(Cp1251::encode(text) == rest, "Cp1251 round trip lost bytes");
    // Arbitrary characters: one byte each, and what the code page has comes back.
    const QString wide = QString::fromUtf8(rest.data(), rest.size());
    const QByteArray narrow = Cp1251::encode(wide);
    FUZZ_CHECK(narrow.size() == wide.size(), "Cp1251::encode changed the length");
    const QString back = Cp1251::decode(narrow);
    for (qsizetype i = 0; i < wide.size(); ++i)
        FUZZ_CHECK(back[i] == wide[i] || back[i] == u'?', "Cp1251 changed a character into another");

    // Lines: what is split and joined again splits into the same lines.
    const QStringList lines = TextFile::splitLines(rest);
    FUZZ_CHECK(TextFile::splitLines(TextFile::joinLines(lines)) == lines, "splitLines/joinLines round trip");

    for (const QString& t : {text, wide}) {
        checkFields(t, index, from, to);
        checkCut(t, first, count, u'^');
        checkCut(t, first, count, QChar(Cp1251::decode(QByteArrayView(&sepByte, 1))[0]));
        checkPadding(t);
        checkIntegers(t);
        const QString answer = MonthResults::sanitizeAnswer(t);
        FUZZ_CHECK(answer.size() <= 255 && !answer.contains(u'^'), "sanitizeAnswer kept a caret or too much");
        for (QChar c : answer)
            FUZZ_CHECK(c.unicode() >= 0x20, "sanitizeAnswer kept a control character");
    }
    for (const QString& l : lines)
        checkFields(l, index, from, to);
}

} // namespace fuzz
