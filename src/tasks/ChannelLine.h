#pragma once
// A task's channel line as the run dials it: "... --> DIAL". A line that is not one, or whose
// dial string a modem cannot dial, is not dialled, and its test could not be stored under it.

#include <QString>
#include <QStringView>

// Why the line cannot be dialled (Bulgarian, for the operator); empty when it can.
QString UndialableReason(QStringView line);
