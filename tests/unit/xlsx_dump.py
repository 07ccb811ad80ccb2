#!/usr/bin/python3
"""Prints what an .xlsx file shows, one fact a line, for the export's tests.

  sheet <name>
  width <column letter> <width in the spreadsheet's characters>
  merge <range>
  cell <address> <text> <bold> <number format> <horizontal> <vertical> <wrap> <borders> <kind>

Fields are separated by tabs; <borders> lists the cell's thin sides among
L, R, T and B ("-" for none); <kind> is how the sheet's XML stores the value:
"number" (a <v> without a type: a spreadsheet sums it), "text" (a shared or
inline string) or "-" for a cell without a value. A cell with neither text
nor any format is left out. Read with openpyxl and, for the kinds, straight
from the sheet's XML: neither shares anything with the writer under test.
"""
import sys
import zipfile
import xml.etree.ElementTree as ElementTree

import openpyxl
from openpyxl.utils import get_column_letter


def shown_width(stored):
    # The file stores a column's width with the cell padding included: 5
    # pixels over 7-pixel digits. The spreadsheet shows it without.
    return "%.2f" % round((stored * 7 - 5) / 7, 2)


MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"


def value_kinds(path, sheet_index):
    # Cell address -> "number", "text" or "-", as the worksheet part stores it.
    kinds = {}
    with zipfile.ZipFile(path) as archive:
        root = ElementTree.fromstring(archive.read("xl/worksheets/sheet%d.xml" % (sheet_index + 1)))
    for cell in root.iter(MAIN + "c"):
        stored = cell.get("t", "n")
        has_value = cell.find(MAIN + "v") is not None or cell.find(MAIN + "is") is not None
        if not has_value:
            kinds[cell.get("r")] = "-"
        elif stored == "n":
            kinds[cell.get("r")] = "number"
        elif stored in ("s", "str", "inlineStr"):
            kinds[cell.get("r")] = "text"
        else:
            kinds[cell.get("r")] = stored
    return kinds


def main(path):
    book = openpyxl.load_workbook(path)
    for index, sheet in enumerate(book.worksheets):
        kinds = value_kinds(path, index)
        print("sheet\t%s" % sheet.title)
        for column in range(1, sheet.max_column + 1):
            letter = get_column_letter(column)
            dimension = sheet.column_dimensions.get(letter)
            if dimension is not None and dimension.customWidth:
                print("width\t%s\t%s" % (letter, shown_width(dimension.width)))
        for merged in sorted(str(r) for r in sheet.merged_cells.ranges):
            print("merge\t%s" % merged)
        for row in sheet.iter_rows():
            for cell in row:
                if cell.__class__.__name__ == "MergedCell":
                    continue
                sides = "".join(
                    letter
                    for letter, side in (("L", cell.border.left), ("R", cell.border.right),
                                         ("T", cell.border.top), ("B", cell.border.bottom))
                    if side is not None and side.style == "thin")
                fields = [
                    cell.coordinate,
                    "" if cell.value is None else str(cell.value),
                    "1" if cell.font.b else "0",
                    cell.number_format,
                    cell.alignment.horizontal or "general",
                    cell.alignment.vertical or "bottom",
                    "1" if cell.alignment.wrap_text else "0",
                    sides or "-",
                    kinds.get(cell.coordinate, "-"),
                ]
                if cell.value is None and not cell.has_style:
                    continue
                print("cell\t" + "\t".join(fields))


if __name__ == "__main__":
    main(sys.argv[1])
