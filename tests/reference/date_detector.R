# Reference instants for the date detector (tests/engine/date_detector_test.cpp),
# computed by R's own calendar and time-zone code (as.POSIXct).
#
# Run from the repository root:  Rscript tests/reference/date_detector.R
# Writes tests/data/reference/date_detector_cases.tsv: locale, zone, text and
# the expected seconds since 1970-01-01 00:00 UTC ("NA" when the text holds no
# date). Every case is detected at the instant `now` below, a Tuesday.

now <- as.POSIXct("2021-06-15 10:00:00", tz = "UTC")

# Each case: locale, zone, text, and the expected date-time written either as
# local time in the zone, or as "UTC <time>" for a text with its own zone.
cases <- list(
  # ISO dates and date-times; New York switched to daylight time on 2021-03-14.
  c("en_US", "America/New_York", "2021-03-15", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "2021-03-13", "2021-03-13 00:00:00"),
  c("en_US", "America/New_York", "2021-3-5", "2021-03-05 00:00:00"),
  c("en_US", "America/New_York", "2021/03/15", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "2021.03.15", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "2021-03-15T14:30", "2021-03-15 14:30:00"),
  c("en_US", "America/New_York", "2021-03-15T14:30:45.25", "2021-03-15 14:30:45.25"),
  c("en_US", "America/New_York", "2021-03-15 14:30:00Z", "UTC 2021-03-15 14:30:00"),
  c("en_US", "America/New_York", "2021-03-15T14:30:00+02:00", "UTC 2021-03-15 12:30:00"),
  c("en_US", "America/New_York", "2021-03-15T14:30-0530", "UTC 2021-03-15 20:00:00"),
  c("en_US", "America/New_York", "1969-12-31T23:59:59Z", "UTC 1969-12-31 23:59:59"),
  c("en_US", "America/New_York", "Born: 1990-07-04 (approx.)", "1990-07-04 00:00:00"),
  # Numeric dates in the en_US order; two-digit years within 1941..2040.
  c("en_US", "America/New_York", "03/15/2021", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "3/15/21", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "3-15-2021", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "3.15.2021", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "12/31/99", "1999-12-31 00:00:00"),
  c("en_US", "America/New_York", "1/2/41", "1941-01-02 00:00:00"),
  c("en_US", "America/New_York", "1/2/40", "2040-01-02 00:00:00"),
  c("en_US", "America/New_York", "02/29/2020", "2020-02-29 00:00:00"),
  c("en_US", "America/New_York", "02/29/2021", NA),
  c("en_US", "America/New_York", "02/29/1900", NA),
  c("en_US", "America/New_York", "02/29/2000", "2000-02-29 00:00:00"),
  c("en_US", "America/New_York", "04/31/2021", NA),
  c("en_US", "America/New_York", "13/01/2021", NA),
  c("en_US", "America/New_York", "15/03/2021", NA),
  c("en_US", "America/New_York", "3/15/2021 14:30", "2021-03-15 14:30:00"),
  c("en_US", "America/New_York", "3/15/2021, 2:30 PM", "2021-03-15 14:30:00"),
  c("en_US", "America/New_York", "3/15/2021 at 2:30pm", "2021-03-15 14:30:00"),
  c("en_US", "America/New_York", "03/15/2021 12:00 AM", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "03/15/2021 12:15 p.m.", "2021-03-15 12:15:00"),
  c("en_US", "America/New_York", "3/15/21\u202f10:05\u202fAM", "2021-03-15 10:05:00"),
  # Month names.
  c("en_US", "America/New_York", "March 15, 2021", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "Mar 15 2021", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "Mar. 15th, 2021", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "SEPT 9, 2021", "2021-09-09 00:00:00"),
  c("en_US", "America/New_York", "15 March 2021", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "15th of March, 2021", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "15-Mar-2021", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "15-mar-21", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "March 2021", "2021-03-01 00:00:00"),
  c("en_US", "America/New_York", "The deadline (March 15) passed", "2021-03-15 00:00:00"),
  c("en_US", "America/New_York", "Monday, March 15, 2021 10:30 AM", "2021-03-15 10:30:00"),
  c("en_US", "America/New_York", "Mon, 15 Mar 2021 10:00:00 +0000", "UTC 2021-03-15 10:00:00"),
  c("en_US", "America/New_York", "Meeting on March 15, 2021 at 3pm", "2021-03-15 15:00:00"),
  c("en_US", "America/New_York", "Feb 30, 2021", NA),
  # Times alone are today; a date after the time is taken with it.
  c("en_US", "America/New_York", "14:30", "2021-06-15 14:30:00"),
  c("en_US", "America/New_York", "2:30 PM", "2021-06-15 14:30:00"),
  c("en_US", "America/New_York", "2pm", "2021-06-15 14:00:00"),
  c("en_US", "America/New_York", "11 a.m.", "2021-06-15 11:00:00"),
  c("en_US", "America/New_York", "12 am", "2021-06-15 00:00:00"),
  c("en_US", "America/New_York", "10:30:15", "2021-06-15 10:30:15"),
  c("en_US", "America/New_York", "10:30 UTC", "UTC 2021-06-15 10:30:00"),
  c("en_US", "America/New_York", "10:30 GMT+2", "UTC 2021-06-15 08:30:00"),
  c("en_US", "America/New_York", "open 9:00-17:00", "2021-06-15 09:00:00"),
  c("en_US", "America/New_York", "14:30 on March 15, 2021", "2021-03-15 14:30:00"),
  c("en_US", "America/New_York", "3pm tomorrow", "2021-06-16 15:00:00"),
  c("en_US", "America/New_York", "24:00", NA),
  c("en_US", "America/New_York", "12:60", NA),
  c("en_US", "America/New_York", "13 pm", NA),
  # Relative words and weekdays count from the local date of `now`.
  c("en_US", "America/New_York", "today", "2021-06-15 00:00:00"),
  c("en_US", "America/New_York", "Tomorrow", "2021-06-16 00:00:00"),
  c("en_US", "America/New_York", "yesterday at 5pm", "2021-06-14 17:00:00"),
  c("en_US", "America/New_York", "Friday", "2021-06-18 00:00:00"),
  c("en_US", "America/New_York", "TUESDAY", "2021-06-15 00:00:00"),
  c("en_US", "America/New_York", "monday 9:15", "2021-06-21 09:15:00"),
  # Texts that hold no date.
  c("en_US", "America/New_York", "male", NA),
  c("en_US", "America/New_York", "A12", NA),
  c("en_US", "America/New_York", "3.5", NA),
  c("en_US", "America/New_York", "yes", NA),
  c("en_US", "America/New_York", "N/A", NA),
  c("en_US", "America/New_York", "12 apples", NA),
  c("en_US", "America/New_York", "1-2", NA),
  c("en_US", "America/New_York", "v2.0.1", NA),
  c("en_US", "America/New_York", "1.2.3.4", NA),
  c("en_US", "America/New_York", "75008", NA),
  c("en_US", "America/New_York", "90210-1234", NA),
  c("en_US", "America/New_York", "SW1A 1AA", NA),
  c("en_US", "America/New_York", "555-123-4567", NA),
  c("en_US", "America/New_York", "(555) 123-4567", NA),
  c("en_US", "America/New_York", "+33 1 23 45 67 89", NA),
  c("en_US", "America/New_York", "06.12.34.56.78", NA),
  c("en_US", "America/New_York", "2012", NA),
  c("en_US", "America/New_York", "2012-2013", NA),
  c("en_US", "America/New_York", "2021-03", NA),
  c("en_US", "America/New_York", "3/15", NA),
  c("en_US", "America/New_York", "May", NA),
  c("en_US", "America/New_York", "Mar", NA),
  c("en_US", "America/New_York", "mon", NA),
  c("en_US", "America/New_York", "1,234.56", NA),
  c("en_US", "America/New_York", "12.5%", NA),
  c("en_US", "America/New_York", "1.5E3", NA),
  c("en_US", "America/New_York", "Room 101", NA),
  c("en_US", "America/New_York", "12:30:45:67", NA),
  c("en_US", "America/New_York", "ID 2021-13-45", NA),
  c("en_US", "America/New_York", "Mar15", NA),
  c("en_US", "America/New_York", "", NA),
  # French: day first, French names, case folding of accented letters.
  c("fr_FR", "Europe/Paris", "15/03/2021", "2021-03-15 00:00:00"),
  c("fr_FR", "Europe/Paris", "15.03.2021 14:30", "2021-03-15 14:30:00"),
  c("fr_FR", "Europe/Paris", "15/03/21", "2021-03-15 00:00:00"),
  c("fr_FR", "Europe/Paris", "03/15/2021", NA),
  c("fr_FR", "Europe/Paris", "15 mars 2021", "2021-03-15 00:00:00"),
  c("fr_FR", "Europe/Paris", "1er mars 2021", "2021-03-01 00:00:00"),
  c("fr_FR", "Europe/Paris", "lundi 15 mars 2021", "2021-03-15 00:00:00"),
  c("fr_FR", "Europe/Paris", "15 f\u00e9vr. 2021", "2021-02-15 00:00:00"),
  c("fr_FR", "Europe/Paris", "F\u00c9VRIER 2021", "2021-02-01 00:00:00"),
  c("fr_FR", "Europe/Paris", "le 3 ao\u00fbt", "2021-08-03 00:00:00"),
  c("fr_FR", "Europe/Paris", "jeudi", "2021-06-17 00:00:00"),
  c("fr_FR", "Europe/Paris", "15 March 2021", "2021-03-15 00:00:00"),
  c("fr_FR", "Europe/Paris", "\u00e9t\u00e9 2021", NA),
  c("fr_FR", "Europe/Paris", "3,5", NA),
  # German and Spanish forms, Japanese year-first order.
  c("de_DE", "UTC", "15.03.2021", "2021-03-15 00:00:00"),
  c("de_DE", "UTC", "Montag, 15. M\u00e4rz 2021", "2021-03-15 00:00:00"),
  c("es_ES", "UTC", "15 de marzo de 2021", "2021-03-15 00:00:00"),
  c("ja_JP", "Asia/Tokyo", "21/03/15", "2021-03-15 00:00:00"),
  c("ja_JP", "Asia/Tokyo", "2021/03/15 9:00", "2021-03-15 09:00:00")
)

expected <- function(zone, when) {
  if (is.na(when)) return(NA_real_)
  if (startsWith(when, "UTC ")) return(as.numeric(as.POSIXct(substring(when, 5), tz = "UTC")))
  as.numeric(as.POSIXct(when, tz = zone))
}

rows <- vapply(cases, function(x) {
  value <- expected(x[2], x[4])
  paste(x[1], x[2], x[3], if (is.na(value)) "NA" else sprintf("%.3f", value), sep = "\t")
}, character(1))

out_dir <- file.path("tests", "data", "reference")
dir.create(out_dir, recursive = TRUE, showWarnings = FALSE)
con <- file(file.path(out_dir, "date_detector_cases.tsv"), open = "w", encoding = "UTF-8")
writeLines(c(sprintf("# now\t%.3f", as.numeric(now)), rows), con, useBytes = TRUE)
close(con)
