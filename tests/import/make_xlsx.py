#!/usr/bin/python3
"""Writes the .xlsx workbooks of the import tests with openpyxl (an
independent writer), into the folder given as the only argument.

Run with Debian's /usr/bin/python3, which has python3-openpyxl.

  mixed.xlsx    sheets "Data", "Hidden" (hidden), "Données €", "Offset"
                (data from B2), "Wide" (256 columns): texts, numbers,
                booleans, dates under built-in and custom formats, an
                empty row
  epoch1904.xlsx the 1904 date system
  runs.xlsx     shared strings made of formatted runs (with a phonetic
                guide), a formula with a cached text result and an inline
                string; openpyxl cannot write these, so its parts are
                rewritten afterwards
"""
import sys
import zipfile
from pathlib import Path

import openpyxl
from openpyxl.utils import get_column_letter

out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)

wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Data"
ws.append(["name", "score", "passed", "day", "stamp", "custom", "ymd", "long"])
rows = [
    ["Ann", 3.5, True, 45000, 45000.5, 45001, 45002, 44927],
    ["Bob", -2, False, 1, 0.25, 2, 3, 60],
]
for r in rows:
    ws.append(r)
ws.append([])  # an empty row: not written at all
ws.append(["Émile ✓", 1e-7, None, None, None, None, None, None])
for row in ws.iter_rows(min_row=2, max_row=3):
    row[3].number_format = "mm-dd-yy"  # built-in 14
    row[4].number_format = "m/d/yy h:mm"  # built-in 22
    row[5].number_format = "m/d/yyyy;@"  # a custom date code with a text section
    row[6].number_format = "yyyy-mm-dd"  # openpyxl's own code for dates
    row[7].number_format = "d-mmm-yy"  # built-in 15

hidden = wb.create_sheet("Hidden")
hidden.sheet_state = "hidden"
hidden.append(["secret"])
hidden.append([42])

other = wb.create_sheet("Données €")
other.append(["x", "y"])
other.append([1, "ü"])

offset = wb.create_sheet("Offset")
offset["B2"] = "b"
offset["C2"] = "c"
offset["D2"] = "d"
offset["B3"] = 1
offset["D3"] = 3
offset["C5"] = "five"

wide = wb.create_sheet("Wide")
wide.append([f"c{i}" for i in range(1, 257)])
wide.append(list(range(1, 257)))
assert get_column_letter(256) == "IV"
wb.save(out / "mixed.xlsx")

wb = openpyxl.Workbook()
wb.epoch = openpyxl.utils.datetime.CALENDAR_MAC_1904
ws = wb.active
ws.title = "Mac"
ws.append(["day"])
ws.append([0])
ws.append([366.75])
for row in ws.iter_rows(min_row=2):
    row[0].number_format = "mm-dd-yy"
wb.save(out / "epoch1904.xlsx")

# Shared strings with runs, a cached formula text and an inline string.
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Runs"
ws.append(["label", "formula", "inline"])
ws.append(["placeholder", None, None])
tmp = out / "runs-plain.xlsx"
wb.save(tmp)
shared = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
    '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="4" uniqueCount="4">'
    "<si><t>label</t></si><si><t>formula</t></si><si><t>inline</t></si>"
    '<si><r><rPr><b/></rPr><t>bold</t></r><r><t xml:space="preserve"> and plain</t></r>'
    "<rPh sb=\"0\" eb=\"1\"><t>PHONETIC</t></rPh></si>"
    "</sst>"
)
sheet = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
    '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
    '<dimension ref="A1:C2"/><sheetData>'
    '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="s"><v>2</v></c></row>'
    '<row r="2"><c r="A2" t="s"><v>3</v></c><c r="B2" t="str"><f>CONCAT("a","b")</f><v>ab</v></c>'
    '<c r="C2" t="inlineStr"><is><t>in line</t></is></c></row>'
    "</sheetData></worksheet>"
)
with zipfile.ZipFile(tmp) as src, zipfile.ZipFile(out / "runs.xlsx", "w", zipfile.ZIP_DEFLATED) as dst:
    for item in src.infolist():
        data = src.read(item.filename)
        if item.filename == "xl/sharedStrings.xml":
            data = shared.encode()
        elif item.filename == "xl/worksheets/sheet1.xml":
            data = sheet.encode()
        elif item.filename == "[Content_Types].xml":
            data = data.replace(
                b"</Types>",
                b'<Override PartName="/xl/sharedStrings.xml" ContentType="application/'
                b'vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>',
            )
        dst.writestr(item, data)
    # openpyxl writes texts inline; this workbook shares them as Excel does.
    dst.writestr("xl/sharedStrings.xml", shared)
tmp.unlink()
