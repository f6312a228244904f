"""Reads an .xlsx workbook back with openpyxl and prints what the tests check, as JSON."""
import json
import re
import sys
import zipfile

import openpyxl
from openpyxl.utils import get_column_letter


def color(c):
    if c is None:
        return None
    return c.rgb if c.type == "rgb" else "%s:%s" % (c.type, c.value)


def main(path):
    wb = openpyxl.load_workbook(path)
    ws = wb.worksheets[0]
    cells = {}
    for row in ws.iter_rows(min_row=1, max_row=ws.max_row, max_col=ws.max_column):
        for c in row:
            cells[c.coordinate] = {
                "value": c.value,
                "type": c.data_type,
                "format": c.number_format,
                "font": c.font.name,
                "size": c.font.sz,
                "color": color(c.font.color),
                "border": [c.border.left.style, c.border.right.style, c.border.top.style, c.border.bottom.style],
                "h": c.alignment.horizontal,
                "v": c.alignment.vertical,
                "comment": c.comment.text if c.comment else None,
            }
    # openpyxl keeps a run of equal columns as one dimension spanning min..max.
    widths = {}
    for i in range(1, ws.max_column + 2):
        widths[get_column_letter(i)] = None
    for dim in ws.column_dimensions.values():
        if dim.customWidth and dim.min is not None:
            for i in range(dim.min, dim.max + 1):
                widths[get_column_letter(i)] = dim.width
    col_b = ws.column_dimensions["B"]
    with zipfile.ZipFile(path) as z:
        sheet_xml = z.read("xl/worksheets/sheet1.xml").decode("utf-8")
        workbook_xml = z.read("xl/workbook.xml").decode("utf-8")
    m = ws.page_margins
    out = {
        "sheets": len(wb.worksheets),
        "max_row": ws.max_row,
        "max_column": ws.max_column,
        "merged": sorted(str(r) for r in ws.merged_cells.ranges),
        "cells": cells,
        "widths": widths,
        "col_b_h": col_b.alignment.horizontal if col_b.alignment is not None else None,
        "row1_height": ws.row_dimensions[1].height,
        "paper": ws.page_setup.paperSize,
        "orientation": ws.page_setup.orientation,
        "print_title_rows": ws.print_title_rows,
        "margins": [m.top, m.bottom, m.left, m.right, m.header, m.footer],
        "grid_lines": ws.print_options.gridLines,
        "centred": ws.print_options.horizontalCentered,
        "footer_center": ws.oddFooter.center.text,
        "footer_font": ws.oddFooter.center.font,
        "freeze": ws.freeze_panes,
        "active_cell": ws.sheet_view.selection[0].activeCell if ws.sheet_view.selection else None,
        # Any formula element, plain, shared or array.
        "sheet_xml_has_formula": re.search(r"<f[\s>/]", sheet_xml) is not None,
        "footer_xml": sheet_xml[sheet_xml.find("<oddFooter>"):sheet_xml.find("</oddFooter>") + 12],
        "defined_names": workbook_xml[workbook_xml.find("<definedNames>"):workbook_xml.find("</definedNames>")],
    }
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
