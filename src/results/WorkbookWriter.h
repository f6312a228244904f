#pragma once
// Writes the month grid as a print-ready .xlsx workbook. Works on a plain copy of the grid and
// the month's results lines, so it can run away from the window's thread.

#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

namespace results {

struct ExportSheet {
    QString title;              // row 1, merged over the grid's width
    QVector<QStringList> cells; // the grid, row by row; row 0 is its header
    bool comments = false;      // day cells with a mark get the tests of that day
    QStringList viewList;       // the month's results lines (for the comments)
};

inline const QString kExportFailed = QStringLiteral("Грешка при екпортирането на данните в Excel.");
inline const QString kExportDone = QStringLiteral("Данните експортирани успешно.");
inline const QString kFooter = QStringLiteral("&\"Times New Roman CYR\" стр. &P от &N");
inline const QString kBlockFont = QStringLiteral("Times New Roman CYR");

// Writes the workbook to a temporary file beside fileName and renames it into place, so a
// failure leaves no partial file under that name. progress(percent) is called once per grid
// column. Throws AppError when the workbook cannot be written.
void WriteWorkbook(const ExportSheet& sheet, const QString& fileName,
                   const std::function<void(int)>& progress = {});

} // namespace results
