#pragma once
// The serial ports the system offers, and the check that lets a saved port outside that list
// (a /dev/serial/by-id link, the pseudo-terminal of a modem server) still be chosen.

#include <QString>
#include <QStringList>

namespace SerialPorts {
// The system location of every port the operating system lists, in its order.
QStringList systemPorts();
// True for an absolute path that is a character device or a link that leads to one.
bool isCharacterDevice(const QString& path);
// A saved port worth keeping in the list: a character device, or an absolute path where
// nothing is now (a USB modem unplugged or not yet up at boot).
bool mayBeDevice(const QString& path);
} // namespace SerialPorts
