#include "WorkbookWriter.h"

#include "MonthView.h"
#include "core/AppError.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cstdio>
#include <xlsxwriter.h>

namespace results {

namespace {
constexpr double kPointsPerInch = 72.0;

// The workbook handle; closing it writes the file, dropping it unclosed still frees it.
class Workbook {
public:
    explicit Workbook(const QByteArray& path) {
        lxw_workbook_options options = {};
        options.constant_memory = LXW_FALSE; // that mode drops writes to earlier rows
        options.tmpdir = nullptr;
        options.use_zip64 = LXW_TRUE;
        wb_ = workbook_new_opt(path.constData(), &options);
        if (!wb_)
            throw AppError(kExportFailed);
    }
    ~Workbook() {
        if (wb_) {
            // Close to free; the file it leaves is removed by the caller.
            workbook_close(wb_);
        }
    }
    lxw_workbook* get() const { return wb_; }
    void close() {
        lxw_workbook* wb = wb_;
        wb_ = nullptr;
        if (workbook_close(wb) != LXW_NO_ERROR)
            throw AppError(kExportFailed);
    }

private:
    lxw_workbook* wb_ = nullptr;
};

void check(lxw_error e) {
    if (e != LXW_NO_ERROR)
        throw AppError(kExportFailed);
}

lxw_format* blockFormat(lxw_workbook* wb, uint8_t align) {
    lxw_format* f = workbook_add_format(wb);
    format_set_border(f, LXW_BORDER_THIN);
    format_set_font_name(f, kBlockFont.toUtf8().constData());
    format_set_font_size(f, 9);
    format_set_font_color(f, LXW_COLOR_BLACK);
    format_set_num_format(f, "@");
    format_set_align(f, align);
    format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
    return f;
}

QString temporaryNameBeside(const QString& fileName) {
    const QFileInfo target(fileName);
    for (;;) {
        const QString name =
            target.absolutePath() + QStringLiteral("/.") + target.fileName() + QLatin1Char('.') +
            QString::number(QRandomGenerator::global()->generate64(), 36) + QStringLiteral(".tmp");
        if (!QFileInfo::exists(name))
            return name;
    }
}

void writeSheet(lxw_workbook* wb, const ExportSheet& sheet, const std::function<void(int)>& progress) {
    lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
    if (!ws)
        throw AppError(kExportFailed);
    const int rows = static_cast<int>(sheet.cells.size());
    int cols = 0;
    for (const QStringList& r : sheet.cells)
        cols = std::max(cols, static_cast<int>(r.size()));
    if (rows == 0 || cols == 0)
        throw AppError(kExportFailed);

    lxw_format* centred = blockFormat(wb, LXW_ALIGN_CENTER);
    lxw_format* left = blockFormat(wb, LXW_ALIGN_LEFT);
    lxw_format* columnB = workbook_add_format(wb);
    format_set_align(columnB, LXW_ALIGN_LEFT);
    lxw_format* title = workbook_add_format(wb);
    format_set_num_format(title, "@");
    format_set_align(title, LXW_ALIGN_CENTER);
    format_set_align(title, LXW_ALIGN_VERTICAL_CENTER);

    check(worksheet_set_column(ws, 0, 0, 4.6, nullptr));
    check(worksheet_set_column(ws, 1, 1, 34, columnB));
    if (cols > 2)
        check(worksheet_set_column(ws, 2, cols - 1, 2.4, nullptr));
    check(worksheet_set_row(ws, 0, 20, nullptr));
    const QByteArray titleText = CleanText(sheet.title).toUtf8();
    if (cols > 1)
        check(worksheet_merge_range(ws, 0, 0, 0, cols - 1, titleText.constData(), title));
    else
        check(worksheet_write_string(ws, 0, 0, titleText.constData(), title));

    // The comments of every channel row, worked out in one pass over the tests it shows.
    QVector<QVector<QString>> comments;
    if (sheet.comments) {
        const monthfile::Month month = MonthOfLines(sheet.viewList);
        comments.resize(rows);
        for (int r = 1; r < rows; ++r) {
            const QStringList& row = sheet.cells[r];
            if (row.size() > 1)
                comments[r] = DayComments(RowTests(month, row[1]).groups, cols - 2);
        }
    }

    QByteArray utf8;
    for (int c = 0; c < cols; ++c) {
        if (progress)
            progress((c + 1) * 100 / cols);
        lxw_format* format = c == 1 ? left : centred;
        for (int r = 0; r < rows; ++r) {
            const QStringList& row = sheet.cells[r];
            const QString text = c < row.size() ? CleanText(row[c]) : QString();
            const lxw_row_t xr = static_cast<lxw_row_t>(r + 1);
            const lxw_col_t xc = static_cast<lxw_col_t>(c);
            if (text.isEmpty()) {
                check(worksheet_write_blank(ws, xr, xc, format));
                continue;
            }
            utf8 = text.toUtf8();
            check(worksheet_write_string(ws, xr, xc, utf8.constData(), format));
            if (sheet.comments && r >= 1 && c >= 2 && c - 1 < comments[r].size()) {
                const QString comment = CleanText(comments[r][c - 1]);
                if (!comment.isEmpty()) {
                    utf8 = comment.toUtf8();
                    check(worksheet_write_comment(ws, xr, xc, utf8.constData()));
                }
            }
        }
    }

    worksheet_set_paper(ws, 9); // A4
    worksheet_set_landscape(ws);
    check(worksheet_repeat_rows(ws, 0, 1));
    worksheet_set_margins(ws, 18 / kPointsPerInch, 18 / kPointsPerInch, 36 / kPointsPerInch,
                          72 / kPointsPerInch);
    lxw_header_footer_options header = {};
    header.margin = 18 / kPointsPerInch;
    check(worksheet_set_header_opt(ws, "", &header));
    lxw_header_footer_options footer = {};
    footer.margin = 54 / kPointsPerInch;
    const QByteArray footerText = (QStringLiteral("&C") + kFooter).toUtf8();
    check(worksheet_set_footer_opt(ws, footerText.constData(), &footer));
    worksheet_gridlines(ws, LXW_SHOW_SCREEN_GRIDLINES);
    worksheet_center_horizontally(ws);
    worksheet_freeze_panes(ws, 2, 0);
    worksheet_set_selection(ws, 2, 0, 2, 0);
}
} // namespace

void WriteWorkbook(const ExportSheet& sheet, const QString& fileName,
                   const std::function<void(int)>& progress) {
    const QString temp = temporaryNameBeside(fileName);
    const QByteArray tempPath = QFile::encodeName(temp);
    try {
        Workbook wb(tempPath);
        writeSheet(wb.get(), sheet, progress);
        wb.close();
    } catch (...) {
        QFile::remove(temp);
        throw;
    }
    if (std::rename(tempPath.constData(),
                    QFile::encodeName(QFileInfo(fileName).absoluteFilePath()).constData()) != 0) {
        QFile::remove(temp);
        throw AppError(kExportFailed);
    }
}

} // namespace results
