* A file in a legacy encoding: make_stat_files.sh converts this syntax to
* the encoding ENCODING and PSPP writes TARGET in it.
SET LOCALE='ENCODING'.
DATA LIST LIST /city (A12) n (F2.0).
BEGIN DATA
"Köln" 1
"Zürich" 2
END DATA.
VALUE LABELS n 1 "eins ä" 2 "zwei ß".
VARIABLE LABELS city "Stadt (Größe)".
SAVE OUTFILE="TARGET".
