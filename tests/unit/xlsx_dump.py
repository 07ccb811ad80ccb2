#!/usr/bin/python3
"""Prints what an .xlsx file shows, one fact a line, for the export's tests.

  sheet <name>
  width <column letter> <width in the spreadsheet's characters>
  merge <range>
  cell <address> <text> <bold> <number format> <horizontal> <vertical> <wrap> <borders>

Fields are separated by tabs; <borders> lists the cell's thin sides among
L, R, T and B ("-" for none); a cell with neither text nor any format is left
out. Read with openpyxl, which shares nothing with the writer under test.
"""
import sys

import openpyxl
from openpyxl.utils import get_column_letter


def shown_width(stored):
    # The file stores a column's width with the cell padding included: 5
    # pixels over 7-pixel digits. The spreadsheet shows it without.
    return "%.2f" % round((stored * 7 - 5) / 7, 2)


def main(path):
    book = openpyxl.load_workbook(path)
    for sheet in book.worksheets:
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
                ]
                if cell.value is None and not cell.has_style:
                    continue
                print("cell\t" + "\t".join(fields))


if __name__ == "__main__":
    main(sys.argv[1])
