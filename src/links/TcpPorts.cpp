#include "TcpPorts.h"

#include "shell/AppError.h"

#include <QRegularExpression>

const QString TcpPorts::kToolTip = QStringLiteral(
    "Номер или име на TCP порт. Обхват от два номера с тире, например 2001-2004, е банка модеми: "
    "по един модем на всеки порт на адреса, до %1 порта.")
                                       .arg(TcpPorts::kMaxModems);

QStringList TcpPorts::parse(const QString& text) {
    static const QRegularExpression range(QStringLiteral("^\\s*([0-9]+)-([0-9]+)\\s*$"));
    const QRegularExpressionMatch m = range.match(text);
    if (!m.hasMatch())
        return {text};
    bool firstOk = false, lastOk = false;
    const qulonglong first = m.captured(1).toULongLong(&firstOk);
    const qulonglong last = m.captured(2).toULongLong(&lastOk);
    const QString shown = text.trimmed();
    if (!firstOk || !lastOk || first < 1 || last > 65535)
        throw AppError(
            QStringLiteral("Обхватът на TCP портовете %1 излиза извън портовете от 1 до 65535.").arg(shown));
    if (first > last)
        throw AppError(QStringLiteral("Обхватът на TCP портовете %1 е обърнат: първият порт трябва да е "
                                      "преди последния.")
                           .arg(shown));
    if (last - first + 1 > qulonglong(kMaxModems))
        throw AppError(QStringLiteral("Обхватът на TCP портовете %1 съдържа %2 порта; модемите на една "
                                      "банка са най-много %3.")
                           .arg(shown)
                           .arg(last - first + 1)
                           .arg(kMaxModems));
    QStringList ports;
    for (qulonglong p = first; p <= last; ++p)
        ports.append(QString::number(p));
    return ports;
}
