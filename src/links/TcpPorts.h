#pragma once
// The text of "TCP Порт": one port (a number or a service name, as typed) or a range of
// consecutive ports, "2001-2004", one modem on each, as terminal servers publish a bank.

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace TcpPorts {
constexpr int kMaxModems = 32;     // in one range
constexpr int kMaxBankLines = 128; // over all the addresses of a bank

extern const QString kToolTip;

// The ports the text names, first port first. Two decimal numbers joined by a hyphen or a
// dash, blanks around it allowed, make a range; one number from 1 to 65535 or a known service
// name is one port, returned as typed; an empty text is returned as it is. Raises AppError for
// anything else: a number past 65535, a range that is reversed, longer than kMaxModems or
// reaching past 65535, or a text that is neither a port nor a range.
QStringList parse(const QString& text);
// The port a number or a service name of /etc/services stands for, as the resolver reads it
// but for a number above 65535, which is no port. Returns 0, or the resolver's error code.
int resolve(const QString& port, quint16& out);

// One modem of a bank reached over TCP, and the name it goes by in the log and the messages.
struct Endpoint {
    QString address;
    QString port;
    QString name;
};
// The modems the "IP Адрес" and "TCP Порт" fields name. The address field may list several
// modem servers, separated by commas or blanks, each optionally followed by its own ports
// ("10.0.0.5, 10.0.0.6:4001-4008"); one without ports takes the TCP Порт field's. One address
// without ports of its own is today's link: the address as typed, lines named by port alone;
// with several, a line is named ADDRESS:PORT. Raises AppError naming the wrong item and why.
QList<Endpoint> endpoints(const QString& addresses, const QString& portText);
} // namespace TcpPorts
