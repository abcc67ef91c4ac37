#!/usr/bin/python3
"""Writes the .xlsx test workbooks of openpyxl into this directory.

Run with Debian's /usr/bin/python3 (python3-openpyxl). The files are small and
kept in the repository; run again after changing this script.

  openpyxl_dates.xlsx  dates, times and date-times under openpyxl's default
                       styles and under custom codes, and elapsed times
  openpyxl_1904.xlsx   the same kinds of value in the 1904 date system
  openpyxl_cells.xlsx  booleans, error values and cached formula results,
                       rows wider than the first, and a dimension that says
                       A1 (rewritten with zipfile: openpyxl writes it right)
  openpyxl_wide.xlsx   620 columns, past the 500 variables of a workspace
"""
import datetime as dt
import os
import re
import zipfile

import openpyxl

HERE = os.path.dirname(os.path.abspath(__file__))


def dates():
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Dates"
    # Each column one number format; openpyxl picks "yyyy-mm-dd h:mm:ss" for
    # datetime, "yyyy-mm-dd" for date, built-in 21 (h:mm:ss) for time and
    # "[hh]:mm:ss" for timedelta.
    ws.append(["stamp", "day", "clock", "dmy", "long", "upper", "elapsed", "span"])
    rows = [
        (dt.datetime(2024, 3, 5, 14, 30), dt.date(2024, 3, 5), dt.time(14, 30),
         dt.date(2024, 5, 13), dt.date(2024, 3, 5), dt.date(2023, 3, 15), 1.5, dt.timedelta(hours=30)),
        (dt.datetime(1999, 12, 31, 23, 59, 59), dt.date(1900, 3, 1), dt.time(0, 0, 1),
         dt.date(2024, 3, 5), dt.date(1999, 12, 31), dt.date(1900, 1, 1), 0.25, dt.timedelta(minutes=90)),
        # 14:29:59.6 rounds to the nearest second, 14:30:00.
        (dt.datetime(2024, 3, 5, 14, 29, 59, 600000), dt.date(1900, 2, 28), dt.time(23, 59, 59),
         dt.date(1900, 1, 15), dt.date(2000, 2, 29), dt.date(9999, 12, 31), 2, dt.timedelta(0)),
    ]
    formats = [None, None, None, "dd/mm/yyyy", "[$-409]mmmm d, yyyy", "YYYY-MM-DD", "[h]:mm", None]
    for r, row in enumerate(rows, start=2):
        for c, value in enumerate(row, start=1):
            cell = ws.cell(row=r, column=c, value=value)
            if formats[c - 1]:
                cell.number_format = formats[c - 1]
    wb.save(os.path.join(HERE, "openpyxl_dates.xlsx"))


def dates1904():
    wb = openpyxl.Workbook()
    wb.epoch = openpyxl.utils.datetime.CALENDAR_MAC_1904
    ws = wb.active
    ws.title = "Mac"
    ws.append(["stamp", "day"])
    ws.append([dt.datetime(2024, 3, 5, 14, 30), dt.date(1904, 1, 1)])
    ws.append([dt.datetime(1904, 1, 2, 6, 0), dt.date(2023, 3, 15)])
    wb.save(os.path.join(HERE, "openpyxl_1904.xlsx"))


def cells():
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Cells"
    ws.append(["name", "flag", "error"])
    # openpyxl writes True/False as t="b" cells and the error texts as t="e".
    for name, flag, error in [("a", True, "#DIV/0!"), ("b", False, "#N/A"), ("c", True, "#VALUE!"),
                              ("d", False, "#REF!"), ("e", True, "#NAME?"), ("f", False, "#NUM!"),
                              ("g", True, "#NULL!")]:
        ws.append([name, flag, error])
    # Rows reaching past the first row's last column.
    ws["E9"] = "right"
    ws["D10"] = 4.5
    path = os.path.join(HERE, "openpyxl_cells.xlsx")
    wb.save(path)
    # A dimension that says A1 only, and a row of formulas with cached
    # results (which openpyxl cannot write).
    formulas = ('<row r="11"><c r="A11" t="str"><f>"h"&amp;"i"</f><v>hi</v></c>'
                '<c r="B11" t="b"><f>1&lt;2</f><v>1</v></c><c r="C11" t="e"><f>1/0</f><v>#DIV/0!</v></c></row>')
    with zipfile.ZipFile(path) as src:
        items = [(item, src.read(item.filename)) for item in src.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as dst:
        for item, data in items:
            if item.filename == "xl/worksheets/sheet1.xml":
                text = data.decode()
                text, n = re.subn(r'<dimension ref="[^"]*"', '<dimension ref="A1"', text)
                assert n == 1
                text = text.replace("</sheetData>", formulas + "</sheetData>")
                data = text.encode()
            dst.writestr(item, data)


def wide():
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Wide"
    ws.append(["c%d" % c for c in range(1, 621)])
    ws.append(list(range(1, 621)))
    ws.append(list(range(1, 511)))  # ten values past the limit
    wb.save(os.path.join(HERE, "openpyxl_wide.xlsx"))


dates()
dates1904()
cells()
wide()
