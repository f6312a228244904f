#include "ChannelLine.h"

namespace {
// The dial digits and modifiers of the Hayes command set (V.250), and the blanks, hyphens,
// brackets and points that modems skip in a written number.
bool dialable(QChar c) {
    const char16_t u = c.unicode();
    if ((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'D') || (u >= u'a' && u <= u'd'))
        return true;
    return QStringView(u"*#+,;!@WwPpTtRr -().").contains(c);
}
} // namespace

QString UndialableReason(QStringView line) {
    // A channel's label ends at " --> ": without it no row of the month could show the tests.
    if (!line.contains(u" --> "))
        return QStringLiteral("не е ред на канал (няма „ --> “)");
    // The key of the month file ends at the first caret: none may stand in the line.
    if (line.contains(u'^'))
        return QStringLiteral("съдържа „^“");
    const QStringView dial = line.mid(line.indexOf(u"--> ") + 4); // what the cycle dials
    if (dial.trimmed().isEmpty())
        return QStringLiteral("няма номер за набиране");
    for (QChar c : dial)
        if (!dialable(c))
            return QStringLiteral("знакът „%1“ не може да се набере")
                .arg(c.isPrint() ? QString(c) : QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0')));
    return {};
}
