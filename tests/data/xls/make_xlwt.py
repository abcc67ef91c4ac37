#!/usr/bin/python3
"""Writes the .xls test workbooks of xlwt (BIFF8) into this directory.

Run with Debian's /usr/bin/python3 (python3-xlwt). The files are small and
kept in the repository; run again after changing this script.
"""
import datetime
import os

import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))


def basic():
    wb = xlwt.Workbook(encoding="utf-8")
    date14 = xlwt.easyxf(num_format_str="M/D/YY")          # built-in format 14
    datetime22 = xlwt.easyxf(num_format_str="M/D/YY h:mm")  # built-in format 22
    custom_date = xlwt.easyxf(num_format_str="mm/dd/yy")    # a known custom date format
    iso = xlwt.easyxf(num_format_str="yyyy-mm-dd")          # a custom format that is not a known date format
    two_places = xlwt.easyxf(num_format_str="0.00")         # built-in format 2

    ws = wb.add_sheet("Data")
    for c, h in enumerate(["Name", "Count", "Ratio", "Day", "Stamp", "Short", "Iso", "Fixed"]):
        ws.write(0, c, h)
    rows = [
        ("Ann", 3, 0.1, datetime.date(2023, 3, 15), datetime.datetime(2023, 3, 15, 12, 0), 45000, 45000, 3.5),
        ("Bob", -7, 123456.789, datetime.date(1900, 3, 1), datetime.datetime(2000, 1, 1, 6, 30), 1, 1, 2),
        ("Zoë Ünïcödé ✓", 1e21, -1e-8, datetime.date(1999, 12, 31), 36526.75, 0.5, 2, 1234567),
    ]
    for r, row in enumerate(rows, start=1):
        name, count, ratio, day, stamp, short, isodate, fixed = row
        ws.write(r, 0, name)
        ws.write(r, 1, count)
        ws.write(r, 2, ratio)
        ws.write(r, 3, day, date14)
        ws.write(r, 4, stamp, datetime22)
        ws.write(r, 5, short, custom_date)
        ws.write(r, 6, isodate, iso)
        ws.write(r, 7, fixed, two_places)
    ws.write(4, 0, True)   # a direct boolean cell
    ws.write(4, 1, "")     # an empty text

    hidden = wb.add_sheet("Hidden")
    hidden.visibility = 1
    hidden.write(0, 0, "secret")

    sparse = wb.add_sheet("Ünïcödé ✓ sheet")
    # Starts at B2; rows 2, 3 and 6 hold cells; D6 lies right of the first line.
    sparse.write(1, 1, "b2")
    sparse.write(1, 2, "c2")
    sparse.write(2, 2, 22)
    sparse.write(5, 1, "b6")
    sparse.write(5, 3, "d6")

    wb.add_sheet("Empty")
    wb.save(os.path.join(HERE, "xlwt_basic.xls"))


def dates1904():
    wb = xlwt.Workbook()
    wb.dates_1904 = True
    date14 = xlwt.easyxf(num_format_str="M/D/YY")
    ws = wb.add_sheet("Dates")
    ws.write(0, 0, 0, date14)
    ws.write(1, 0, datetime.date(2023, 3, 15), date14)
    ws.write(2, 0, 1.25, date14)
    wb.save(os.path.join(HERE, "xlwt_1904.xls"))


def long_sst():
    # More than 8,224 bytes of shared strings, so the table goes on in
    # CONTINUE records, some strings 16-bit and long enough to cross them.
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Strings")
    for r in range(300):
        if r % 3 == 0:
            text = "row %d " % r + "é✓" * (40 + r % 17)
        else:
            text = "row %d " % r + "x" * (50 + r % 23)
        ws.write(r, 0, text)
        ws.write(r, 1, r)
    wb.save(os.path.join(HERE, "xlwt_long_sst.xls"))


def wide():
    wb = xlwt.Workbook()
    ws = wb.add_sheet("Wide")
    for c in range(256):
        ws.write(0, c, "c%d" % (c + 1))
        ws.write(1, c, c * 1.5)
    wb.save(os.path.join(HERE, "xlwt_wide.xls"))


def dates_and_cells():
    # Dates under custom codes in the case xlwt's users write them, elapsed
    # times, direct boolean and error cells, and a row wider than the first.
    wb = xlwt.Workbook(encoding="utf-8")
    formats = ["YYYY-MM-DD", "yyyy-mm-dd h:mm:ss", "dd/mm/yyyy", "[$-409]mmmm d, yyyy", "h:mm", "[h]:mm"]
    styles = [xlwt.easyxf(num_format_str=f) for f in formats]
    ws = wb.add_sheet("Dates")
    for c, h in enumerate(["upper", "stamp", "dmy", "long", "clock", "elapsed", "flag", "error"]):
        ws.write(0, c, h)
    rows = [
        (datetime.date(2024, 3, 5), datetime.datetime(2024, 3, 5, 14, 30), datetime.date(2024, 5, 13),
         datetime.date(2024, 3, 5), datetime.time(14, 30), 1.5, True, 0x07),
        (datetime.date(1900, 2, 28), datetime.datetime(1999, 12, 31, 23, 59, 59), datetime.date(1900, 3, 1),
         datetime.date(1900, 1, 1), datetime.time(0, 0, 1), 0.25, False, 0x2A),
    ]
    for r, row in enumerate(rows, start=1):
        for c, value in enumerate(row[:6]):
            ws.write(r, c, value, styles[c])
        ws.write(r, 6, row[6])
        ws.row(r).set_cell_error(7, row[7])
    # Error cells by their codes (xlwt's table of texts maps #VALUE! to #NUM!'s
    # code): #DIV/0!, #N/A above, #VALUE!, #REF!, #NAME?, #NUM!, #NULL! here.
    for c, code in enumerate([0x0F, 0x17, 0x1D, 0x24, 0x00]):
        ws.row(3).set_cell_error(c, code)
    ws.write(4, 9, "right")  # column J, right of the first row's last column
    wb.save(os.path.join(HERE, "xlwt_dates.xls"))


basic()
dates1904()
dates_and_cells()
long_sst()
wide()
