#pragma once
// Field lines (caret-separated records) and the small text helpers every part of the program uses.

#include <QString>
#include <QtGlobal>

// Field `index` of a caret-separated line (fields from 0); callers pass stop = index + 1.
QString ExtractField(const QString& line, quint16 index, quint16 stop);
// Fields from..to-1 with the carets between them.
QString ExtractFieldRange(const QString& line, quint16 from, quint16 to);
// `count` fields from field `first` (fields from 1), joined by `separator`.
QString CutFields(const QString& text, int first, int count, QChar separator);
QString PadTo2(const QString& text);
QString PadTo4(const QString& text);
QString KeepDigits(const QString& text);
// True when another running process has an executable of this program's file name.
bool IsSecondInstance();
// Counts running processes whose executable file name is exactly `fileName` (from /proc).
int CountProcessesNamed(const QString& fileName);

// A decimal integer, optionally signed and surrounded by blanks; anything else raises
// AppError "'text' is not a valid integer value".
int StrToInt(const QString& text);
bool TryStrToInt(const QString& text, int& value);
