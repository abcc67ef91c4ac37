# Day-first dates as a UK user's R session writes them: write.csv of dates
# formatted "%d/%m/%Y", beside the same dates in ISO form, so that the reader
# is checked against what R was given. The first rows have days of 12 or
# less, so that only a later row tells the order.
# Run from this folder: Rscript make_dmy_dates.R
d <- as.Date(c("2024-03-05", "2024-01-02", "2024-12-11", "2024-05-13", "2023-02-28",
               "2024-02-29", "1999-12-31", "2024-07-04"))
write.csv(data.frame(when = format(d, "%d/%m/%Y"), value = seq_along(d)),
          "dmy_dates.csv", row.names = FALSE)
write.csv(data.frame(when = format(d, "%Y-%m-%d"), value = seq_along(d)),
          "dmy_dates.given.csv", row.names = FALSE)
