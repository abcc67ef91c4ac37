#!/usr/bin/env python3
"""Writes the encoded text fixtures with Python's own codecs, each beside the
UTF-8 text it was given (NAME.given.csv), so that the reader's result can be
checked against what the writer was given rather than against our reader.

Run from this folder: python3 make_text_files.py
"""
import csv
import io

ROWS = [
    ["name", "city", "amount", "note"],
    ["José", "Zürich", "4.5", "café crème"],
    ["Zoë", "Malmö", "12", "naïve"],
    ["François", "Besançon", "7.25", "œuvre – “quoted”"],
    ["Ægir", "Tórshavn", "3", "€ 5, ‰ and ™"],
]
# Latin-1 cannot write the Windows-only characters: its rows keep to the
# printable upper half.
LATIN1_ROWS = ROWS[:3] + [["Ægir", "Tórshavn", "3", "½ ¼ ¾ ¿ « »"]]


def text(rows):
    out = io.StringIO()
    csv.writer(out, lineterminator="\n").writerows(rows)
    return out.getvalue()


def write(name, rows, codec):
    body = text(rows)
    with open(name + ".csv", "wb") as f:
        f.write(body.encode(codec))
    with open(name + ".given.csv", "wb") as f:
        f.write(body.encode("utf-8"))


write("cp1252", ROWS, "cp1252")
write("latin1", LATIN1_ROWS, "latin-1")

# UTF-8 with one stray Latin-1 byte on line 3 of 200: the rest stays UTF-8.
rows = [["name", "n"]] + [["Zoë", str(i)] for i in range(1, 200)]
body = text(rows).encode("utf-8")
line3 = body.index(b"\n", body.index(b"\n") + 1) + 1
stray = body[:line3] + "Zoë".encode("latin-1") + body[line3 + len("Zoë".encode("utf-8")):]
with open("utf8_stray_byte.csv", "wb") as f:
    f.write(stray)
