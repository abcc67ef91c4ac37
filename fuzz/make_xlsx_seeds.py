#!/usr/bin/python3
"""Writes the seed corpus of fuzz/xlsx_fuzz.cpp into fuzz/corpus/xlsx:
two whole containers (mode byte 0) and three part lists (mode byte 1), and
openpyxl's workbooks of tests/data/xlsx as whole containers."""
import io
import zipfile
from pathlib import Path

out = Path(__file__).parent / "corpus" / "xlsx"
out.mkdir(parents=True, exist_ok=True)

WB = ('<workbook xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
      '<workbookPr date1904="{d}"/><sheets><sheet name="S" sheetId="1" r:id="rId1"/>'
      '<sheet name="H" state="hidden" r:id="rId2"/></sheets></workbook>')
RELS = ('<Relationships><Relationship Id="rId1" '
        'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" '
        'Target="worksheets/sheet1.xml"/><Relationship Id="rId2" '
        'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" '
        'Target="/xl/worksheets/sheet2.xml"/></Relationships>')
STYLES = ('<styleSheet><numFmts><numFmt numFmtId="164" formatCode="m/d/yyyy;@"/></numFmts>'
          '<cellXfs><xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="164"/><xf numFmtId="22"/>'
          '</cellXfs></styleSheet>')
SHARED = ('<sst><si><t>name</t></si><si><r><t>a</t></r><r><t xml:space="preserve"> b</t></r>'
          '<rPh><t>x</t></rPh></si></sst>')
SHEETS = [
    '<worksheet><dimension ref="B2:D4"/><sheetData><row r="2"><c r="B2" t="s"><v>0</v></c>'
    '<c r="C2" s="1"><v>45000</v></c><c r="D2" s="3"><v>45000.5</v></c></row>'
    '<row r="4"><c r="B4" t="s"><v>1</v></c><c r="D4" t="inlineStr"><is><t>in</t></is></c>'
    '<c r="E4" t="e"><v>#DIV/0!</v></c></row></sheetData></worksheet>',
    '<worksheet><sheetData><row r="5"><c r="A5" s="2"><v>1</v></c><c r="C5" t="b"><v>1</v></c></row>'
    '<row><c><v>7</v></c><c t="s"><v>9</v></c></row></sheetData></worksheet>',
    '<x:worksheet xmlns:x="s"><x:sheetData><x:row r="1"><x:c r="A1" t="str"><x:f>1</x:f><x:v>t</x:v>'
    '</x:c></x:row></x:sheetData></x:worksheet>',
]

for i, sheet in enumerate(SHEETS):
    parts = [WB.format(d=i % 2), RELS, sheet, STYLES, SHARED]
    (out / f"parts{i}").write_bytes(b"\x01\x00" + "\n----\n".join(parts).encode())

for i, sheet in enumerate(SHEETS[:2]):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("xl/workbook.xml", WB.format(d=0))
        z.writestr("xl/_rels/workbook.xml.rels", RELS)
        z.writestr("xl/worksheets/sheet1.xml", sheet)
        z.writestr("xl/worksheets/sheet2.xml", SHEETS[2])
        z.writestr("xl/styles.xml", STYLES)
        z.writestr("xl/sharedStrings.xml", SHARED)
    (out / f"zip{i}").write_bytes(b"\x00\x03" + buf.getvalue())

data = Path(__file__).parent.parent / "tests" / "data" / "xlsx"
for name in ("openpyxl_cells", "openpyxl_dates"):
    (out / name).write_bytes(b"\x00\x03" + (data / (name + ".xlsx")).read_bytes())
