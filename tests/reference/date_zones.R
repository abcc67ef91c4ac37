# Reference instants for dates written with a time-zone name
# (tests/engine/date_detector_test.cpp), computed by R's as.POSIXct from the
# tz database, and the abbreviations that the tz database uses today.
#
# Run from the repository root:  Rscript tests/reference/date_zones.R
# Writes tests/data/reference/date_zone_cases.tsv (group, locale, device zone,
# text, expected seconds since 1970-01-01 00:00 UTC or "NA" for no date) and
# tests/data/reference/zone_abbreviations.tsv (abbreviation, its offsets in
# minutes east of UTC, the offset a text with it must get or "NA").

now <- as.POSIXct("2021-06-15 10:00:00", tz = "UTC")

# Each case: group, locale, device zone, text, and the expected date-time as
# "<zone>|<local time>" (as.POSIXct(time, tz = zone)), or NA.
cases <- list(
  # tz database ids take the zone's offset at that date, daylight saving included.
  c("id", "en_US", "America/New_York", "2024-05-13 14:30 Europe/Paris", "Europe/Paris|2024-05-13 14:30"),
  c("id", "en_US", "America/New_York", "2024-01-13 14:30 Europe/Paris", "Europe/Paris|2024-01-13 14:30"),
  c("id", "en_US", "America/New_York", "2024-03-31 03:30 Europe/Paris", "Europe/Paris|2024-03-31 03:30"),
  c("id", "en_US", "America/New_York", "2024-10-27 03:30 Europe/Paris", "Europe/Paris|2024-10-27 03:30"),
  c("id", "fr_FR", "Europe/Paris", "13/05/2024 9:00 America/Los_Angeles", "America/Los_Angeles|2024-05-13 09:00"),
  c("id", "fr_FR", "Europe/Paris", "13/01/2024 9:00 America/Los_Angeles", "America/Los_Angeles|2024-01-13 09:00"),
  c("id", "en_US", "UTC", "2024-07-01 12:00 Australia/Sydney", "Australia/Sydney|2024-07-01 12:00"),
  c("id", "en_US", "UTC", "2024-01-01 12:00 Australia/Sydney", "Australia/Sydney|2024-01-01 12:00"),
  c("id", "en_US", "UTC", "2024-05-13 14:30 America/Argentina/Buenos_Aires",
    "America/Argentina/Buenos_Aires|2024-05-13 14:30"),
  c("id", "en_US", "UTC", "2024-05-13 14:30 Asia/Kolkata", "Asia/Kolkata|2024-05-13 14:30"),
  c("id", "en_US", "UTC", "2024-05-13 14:30 Etc/GMT+5", "Etc/GMT+5|2024-05-13 14:30"),
  c("id", "en_US", "UTC", "May 13, 2024 2:30 PM US/Eastern", "US/Eastern|2024-05-13 14:30"),
  c("id", "en_US", "UTC", "2024-05-13T14:30:00[Europe/Paris]", "Europe/Paris|2024-05-13 14:30"),
  c("id", "en_US", "UTC", "9:00 Asia/Tokyo on March 15, 2021", "Asia/Tokyo|2021-03-15 09:00"),
  c("id", "en_US", "America/New_York", "14:30 Asia/Tokyo", "Asia/Tokyo|2021-06-15 14:30"),
  c("id", "en_US", "UTC", "1990-07-04 08:15 Europe/London", "Europe/London|1990-07-04 08:15"),
  # Abbreviations have one offset whatever the date.
  c("abbreviation", "en_US", "UTC", "May 13, 2024 2:30 PM EST", "EST|2024-05-13 14:30"),
  c("abbreviation", "en_US", "UTC", "May 13, 2024 2:30 PM EDT", "Etc/GMT+4|2024-05-13 14:30"),
  c("abbreviation", "fr_FR", "Europe/Paris", "13/05/2024 9:00 PST", "Etc/GMT+8|2024-05-13 09:00"),
  c("abbreviation", "en_US", "America/New_York", "2024-05-13 14:30 CET", "Etc/GMT-1|2024-05-13 14:30"),
  c("abbreviation", "en_US", "America/New_York", "2024-05-13 14:30 CEST", "Etc/GMT-2|2024-05-13 14:30"),
  c("abbreviation", "en_US", "America/New_York", "2024-01-13 14:30 CEST", "Etc/GMT-2|2024-01-13 14:30"),
  c("abbreviation", "en_US", "UTC", "2024-05-13 14:30:15 JST", "Asia/Tokyo|2024-05-13 14:30:15"),
  c("abbreviation", "en_US", "UTC", "3/15/2021 10:00 AEST", "Etc/GMT-10|2021-03-15 10:00"),
  c("abbreviation", "en_US", "UTC", "1/15/2021 10:00 NST", "America/St_Johns|2021-01-15 10:00"),
  c("abbreviation", "en_US", "UTC", "Mon, 15 Mar 2021 10:00 BST", "Etc/GMT-1|2021-03-15 10:00"),
  c("abbreviation", "en_US", "UTC", "3pm CDT tomorrow", "Etc/GMT+5|2021-06-16 15:00"),
  # A name that cannot be applied leaves the text without a date.
  c("unknown", "en_US", "UTC", "2024-05-13 14:30 Europe/Pariss", NA),
  c("unknown", "en_US", "UTC", "2024-05-13 14:30 europe/paris", NA),
  c("unknown", "en_US", "UTC", "2024-05-13 14:30 [Europe/Olympus]", NA),
  c("unknown", "en_US", "UTC", "2024-05-13 14:30 IST", NA),
  c("unknown", "en_US", "UTC", "2024-05-13 14:30 XYZ", NA),
  c("unknown", "en_US", "UTC", "13/05/2024 9:00 QQT", NA),
  c("unknown", "en_US", "UTC", "14:30 ABC", NA),
  c("unknown", "en_US", "UTC", "14:30 XYZ on March 15, 2021", NA),
  c("unknown", "en_US", "UTC", "May 13, 2024 2:30 PM NOON", NA),
  # Without a zone name the date is read as before: what follows the time is
  # not a zone unless it has a zone's shape.
  c("no zone", "en_US", "America/New_York", "2024-05-13 14:30", "America/New_York|2024-05-13 14:30"),
  c("no zone", "en_US", "America/New_York", "2024-05-13 14:30 est", "America/New_York|2024-05-13 14:30"),
  c("no zone", "en_US", "America/New_York", "2024-05-13 14:30 Paris/London",
    "America/New_York|2024-05-13 14:30"),
  c("no zone", "en_US", "America/New_York", "2024-05-13 14:30 (CEST)", "America/New_York|2024-05-13 14:30"),
  c("no zone", "en_US", "America/New_York", "2024-05-13 14:30 [draft]", "America/New_York|2024-05-13 14:30"),
  c("no zone", "en_US", "America/New_York", "2024-05-13 14:30 OK", "America/New_York|2024-05-13 14:30"),
  c("no zone", "en_US", "America/New_York", "9:00 MARCH 15, 2021", "America/New_York|2021-03-15 09:00"),
  c("no zone", "en_US", "America/New_York", "Deadline EST 2024-05-13", "America/New_York|2024-05-13 00:00"),
  # An offset and a name: one zone when they agree, no date when they do not.
  c("offset and name", "en_US", "UTC", "2024-05-13T14:30:00+02:00[Europe/Paris]", "Europe/Paris|2024-05-13 14:30"),
  c("offset and name", "en_US", "UTC", "2024-05-13 14:30 +0200 Europe/Paris", "Europe/Paris|2024-05-13 14:30"),
  c("offset and name", "en_US", "UTC", "2024-05-13 14:30 -0400 EDT", "Etc/GMT+4|2024-05-13 14:30"),
  c("offset and name", "en_US", "UTC", "2024-01-13 14:30 UTC Europe/London", "Europe/London|2024-01-13 14:30"),
  c("offset and name", "en_US", "UTC", "2024-05-13T14:30:00+01:00[Europe/Paris]", NA),
  c("offset and name", "en_US", "UTC", "2024-05-13 14:30 +0100 CEST", NA),
  c("offset and name", "en_US", "UTC", "Jan 13, 2024 14:30 +0200 Europe/Paris", NA),
  c("offset and name", "en_US", "UTC", "2024-05-13 14:30 GMT BST", NA),
  c("offset and name", "en_US", "UTC", "2024-05-13 14:30Z America/New_York", NA)
)

expected <- function(when) {
  if (is.na(when)) return(NA_real_)
  parts <- strsplit(when, "|", fixed = TRUE)[[1]]
  as.numeric(as.POSIXct(parts[2], tz = parts[1]))
}

rows <- vapply(cases, function(x) {
  value <- expected(x[5])
  paste(x[1], x[2], x[3], x[4], if (is.na(value)) "NA" else sprintf("%.3f", value), sep = "\t")
}, character(1))

out_dir <- file.path("tests", "data", "reference")
dir.create(out_dir, recursive = TRUE, showWarnings = FALSE)
con <- file(file.path(out_dir, "date_zone_cases.tsv"), open = "w", encoding = "UTF-8")
writeLines(c(sprintf("# now\t%.3f", as.numeric(now)), rows), con, useBytes = TRUE)
close(con)

# The abbreviations of three to five capitals that the tz database uses in
# 2025, from every zone's winter and summer, with their offsets.
zones <- OlsonNames()
zones <- zones[!grepl("^(posix|right)/", zones) & zones != "Factory"]
instants <- as.POSIXct(c("2025-01-15 12:00", "2025-07-15 12:00"), tz = "UTC")
seen <- do.call(rbind, lapply(zones, function(z) {
  local <- format(instants, "%Y-%m-%d %H:%M", tz = z)
  data.frame(abbr = format(instants, "%Z", tz = z),
             minutes = as.numeric(difftime(as.POSIXct(local, tz = "UTC"), instants, units = "mins")))
}))
seen <- unique(seen[grepl("^[A-Z]{3,5}$", seen$abbr), ])
# RFC 5322's zones keep the United States' offsets where the tz database also
# uses the name elsewhere (CST in China and Cuba, PST in the Philippines).
rfc <- c(EST = "America/New_York|2025-01-15", EDT = "America/New_York|2025-07-15",
         CST = "America/Chicago|2025-01-15", CDT = "America/Chicago|2025-07-15",
         MST = "America/Denver|2025-01-15", MDT = "America/Denver|2025-07-15",
         PST = "America/Los_Angeles|2025-01-15", PDT = "America/Los_Angeles|2025-07-15")
rfc_minutes <- vapply(rfc, function(w) {
  parts <- strsplit(w, "|", fixed = TRUE)[[1]]
  t <- as.POSIXct(paste(parts[2], "12:00"), tz = "UTC")
  as.numeric(difftime(as.POSIXct(format(t, "%Y-%m-%d %H:%M", tz = parts[1]), tz = "UTC"), t, units = "mins"))
}, numeric(1))
lines <- vapply(sort(unique(seen$abbr)), function(a) {
  offsets <- sort(unique(seen$minutes[seen$abbr == a]))
  taken <- if (a %in% names(rfc_minutes)) rfc_minutes[[a]] else if (length(offsets) == 1) offsets else NA
  paste(a, paste(offsets, collapse = ","), if (is.na(taken)) "NA" else sprintf("%d", as.integer(taken)), sep = "\t")
}, character(1))
con <- file(file.path(out_dir, "zone_abbreviations.tsv"), open = "w", encoding = "UTF-8")
writeLines(lines, con, useBytes = TRUE)
close(con)
