#pragma once
// Windows-1251 conversion by table: every byte maps to one character and back, so files
// round-trip byte for byte (the undefined byte 0x98 maps to U+0098).

#include <QByteArray>
#include <QString>

namespace Cp1251 {
QString decode(QByteArrayView bytes);
QByteArray encode(QStringView text); // characters outside the code page become '?'
char encodeChar(QChar c);
} // namespace Cp1251
