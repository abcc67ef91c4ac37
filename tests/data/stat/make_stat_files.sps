* Writes pspp.sav and pspp.por for tests/import/stat_file_test.cpp (PSPP).
DATA LIST LIST /id (F4.0) grp (F2.0) wt (F8.3) city (A12) day (ADATE10) ts (DATETIME20).
BEGIN DATA
1 1 70.5 "Köln" 03/15/2021 "15-MAR-2021 14:30:15"
2 2 99 "Zürich" 12/31/1999 "01-JAN-2000 00:00:00"
3 9 65.25 "" 02/29/2024 "29-FEB-2024 23:59:59"
4 . 80 "Oslo" . .
END DATA.
VARIABLE LABELS grp "Group (ÄÖÜ)" wt "Weight in kg".
VALUE LABELS grp 1 "Control" 2 "Treatment" 9 "Not asked".
MISSING VALUES grp (9) wt (99).
FILE LABEL "PSPP test file über".
SAVE OUTFILE="pspp.sav".
* The portable format's character set has no umlauts.
RECODE city ("Köln"="Koeln") ("Zürich"="Zuerich").
VARIABLE LABELS grp "Group (AOU)".
EXPORT OUTFILE="pspp.por".
