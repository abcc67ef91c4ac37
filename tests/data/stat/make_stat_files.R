# Writes the SPSS, Stata and SAS test files of tests/import/stat_file_test.cpp
# with haven (an independent writer). Run from this folder:
#   ./make_stat_files.sh (which runs this, then PSPP)
library(haven)
df <- data.frame(
  sex = labelled(c(1, 2, 1, NA, 2), c(male = 1, female = 2), label = "Sex of respondent"),
  score = labelled_spss(c(1.5, 99, 3, 4.25, -2), c(Refused = 99), na_values = 99,
                        label = "Test score (Prüfung)"),
  code = c(10, 20, 30, 40, 1e-7),
  name = c("Zoë", "Bob", "", "Ångström", "x"),
  born = as.Date(c("1990-05-17", "2000-02-29", NA, "1969-12-31", "1582-10-15")),
  seen = as.POSIXct(c("2021-03-14 02:30:15", "1970-01-01 00:00:00", "2024-12-31 23:59:59", NA,
                      "1960-01-01 12:00:01"), tz = "UTC")
)
write_sav(df, "haven.sav")
write_sav(df, "haven.zsav", compress = "zsav")
# Stata: a tagged missing value (.a) stands for the user-defined one.
dta <- df
dta$score <- as.numeric(dta$score)
dta$score[2] <- tagged_na("a")
write_dta(dta, "haven.dta", label = "Umfrage über zwei Jahre")
# SAS transport: names and texts in ASCII, no value labels.
xpt <- df
xpt$sex <- zap_labels(xpt$sex)
xpt$score <- as.numeric(zap_labels(xpt$score))
xpt$score[2] <- NA
xpt$name <- c("Zoe", "Bob", "", "Angstrom", "x")
write_xpt(xpt, "haven.xpt", label = "Survey")
# SAS data file: haven's writer is ReadStat's own, so this file only shows
# that the format is wired up; the values are checked on the other files.
suppressWarnings(write_sas(xpt, "haven.sas7bdat"))
# The limits: 100,001 rows (compressed), and 600 variables.
write_sav(data.frame(n = seq_len(100001), g = rep(c(1, 2), length.out = 100001)), "long.zsav", compress = "zsav")
wide <- as.data.frame(matrix(seq_len(1200), nrow = 2))
write_sav(wide, "wide.sav")
