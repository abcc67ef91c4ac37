# Writes airquality.csv, the example data set, from R's datasets package.
# Source: New York State Department of Conservation (ozone) and the National
# Weather Service (meteorological data), daily readings May 1 to
# September 30, 1973; published in Chambers, Cleveland, Kleiner and Tukey
# (1983) Graphical Methods for Data Analysis, and shipped with R as
# datasets::airquality.
d <- datasets::airquality
date <- as.Date(sprintf("1973-%02d-%02d", d$Month, d$Day))
out <- data.frame(
  Date = format(date, "%m/%d/%Y"),
  Month = month.name[d$Month],
  DayType = ifelse(format(date, "%u") %in% c("6", "7"), "Weekend", "Weekday"),
  Ozone = d$Ozone,
  SolarRadiation = d$Solar.R,
  Wind = d$Wind,
  Temperature = d$Temp
)
write.csv(out, "airquality.csv", row.names = FALSE, na = "", quote = FALSE)
