#pragma once
// The text of "TCP Порт": one port (a number or a service name, as typed) or a range of
// consecutive ports, "2001-2004", one modem on each, as terminal servers publish a bank.

#include <QString>
#include <QStringList>

namespace TcpPorts {
constexpr int kMaxModems = 32;

extern const QString kToolTip;

// The ports the text names, first port first. Only two decimal numbers joined by a hyphen
// make a range; any other text is one port, returned as it is. Raises AppError for a range
// that is reversed, longer than kMaxModems or reaching past 65535.
QStringList parse(const QString& text);
} // namespace TcpPorts
