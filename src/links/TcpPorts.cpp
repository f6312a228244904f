#include "TcpPorts.h"

#include "core/AppError.h"

#include <QRegularExpression>

#include <algorithm>
#include <netdb.h>
#include <netinet/in.h>

const QString TcpPorts::kToolTip = QStringLiteral(
    "Номер или име на TCP порт. Обхват от два номера с тире, например 2001-2004, е банка модеми: "
    "по един модем на всеки порт на адреса, до %1 порта.")
                                       .arg(TcpPorts::kMaxModems);

int TcpPorts::resolve(const QString& port, quint16& out) {
    bool inRange = false;
    const uint number = port.toUInt(&inRange);
    const bool numeric =
        !port.isEmpty() && std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit(); });
    // The resolver would take a number above 65535 modulo 65536 (or 2^32).
    if (numeric && (!inRange || number > 65535))
        return EAI_SERVICE;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* res = nullptr;
    const int rc = getaddrinfo(nullptr, port.toLocal8Bit().constData(), &hints, &res);
    if (rc != 0 || !res)
        return rc != 0 ? rc : EAI_SERVICE;
    out = ntohs(reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_port);
    freeaddrinfo(res);
    return 0;
}

QStringList TcpPorts::parse(const QString& text) {
    // A hyphen or the dashes word processors put in its place, blanks around it allowed.
    static const QRegularExpression range(
        QStringLiteral("^\\s*([0-9]+)\\s*[-\\x{2010}\\x{2011}\\x{2012}\\x{2013}\\x{2014}\\x{2212}]\\s*([0-9]+)\\s*$"));
    static const QRegularExpression number(QStringLiteral("^\\s*[0-9]+\\s*$"));
    const QString shown = text.trimmed();
    if (shown.isEmpty())
        return {text}; // the link says that no port is given
    if (number.match(text).hasMatch()) {
        bool ok = false;
        const qulonglong port = shown.toULongLong(&ok);
        if (!ok || port < 1 || port > 65535)
            throw AppError(
                QStringLiteral("TCP портът %1 е извън портовете от 1 до 65535.").arg(shown));
        return {text};
    }
    const QRegularExpressionMatch m = range.match(text);
    if (!m.hasMatch()) {
        quint16 port = 0;
        if (resolve(shown, port) == 0) // a service name of /etc/services
            return {text};
        throw AppError(QStringLiteral("„%1“ в TCP Порт не е нито порт, нито обхват от портове: въведете номер "
                                      "от 1 до 65535 или обхват от два номера с тире, например 2001-2004.")
                           .arg(shown));
    }
    bool firstOk = false, lastOk = false;
    const qulonglong first = m.captured(1).toULongLong(&firstOk);
    const qulonglong last = m.captured(2).toULongLong(&lastOk);
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

namespace {
// The items of the address field: split at commas and blanks, but blanks beside the colon
// before an item's ports or inside its range belong to that item.
QStringList addressItems(const QString& text) {
    static const QRegularExpression glue(
        QStringLiteral("\\s*([:\\-\\x{2010}\\x{2011}\\x{2012}\\x{2013}\\x{2014}\\x{2212}])\\s*"));
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    QString joined = text;
    joined.replace(glue, QStringLiteral("\\1"));
    return joined.split(separators, Qt::SkipEmptyParts);
}
} // namespace

QList<TcpPorts::Endpoint> TcpPorts::endpoints(const QString& addresses, const QString& portText) {
    const QStringList items = addressItems(addresses);
    if (items.size() <= 1 && !addresses.contains(u':')) {
        QList<Endpoint> out;
        for (const QString& port : parse(portText))
            out.append({addresses, port, port});
        return out;
    }
    QList<Endpoint> out;
    QStringList seen;
    for (const QString& item : items) {
        const qsizetype colon = item.indexOf(u':');
        const QString address = colon < 0 ? item : item.left(colon);
        const QString ports = colon < 0 ? portText : item.mid(colon + 1);
        if (address.isEmpty())
            throw AppError(QStringLiteral("„%1“ в IP Адрес няма адрес преди портовете си.").arg(item));
        if (ports.trimmed().isEmpty())
            throw AppError(colon < 0 ? QStringLiteral("Адресът „%1“ в IP Адрес няма портове: полето TCP Порт е "
                                                      "празно, а след адреса не са дадени портове (например "
                                                      "%1:2001-2004).")
                                           .arg(item)
                                     : QStringLiteral("„%1“ в IP Адрес няма портове след двоеточието.").arg(item));
        QStringList list;
        try {
            list = parse(ports);
        } catch (const AppError& e) {
            throw AppError(QStringLiteral("Адресът „%1“ в IP Адрес: %2").arg(item, e.text()));
        }
        for (const QString& port : list) {
            const QString name = address + u':' + port.trimmed();
            if (seen.contains(name))
                throw AppError(QStringLiteral("%1 е посочен в IP Адрес повече от веднъж: всеки модем може да е само "
                                              "в една линия.")
                                   .arg(name));
            seen.append(name);
            out.append({address, port.trimmed(), items.size() > 1 ? name : port.trimmed()});
        }
        if (out.size() > kMaxBankLines)
            throw AppError(QStringLiteral("С адреса „%1“ модемите в IP Адрес стават %2; една банка има най-много %3.")
                               .arg(item)
                               .arg(out.size())
                               .arg(kMaxBankLines));
    }
    return out;
}
