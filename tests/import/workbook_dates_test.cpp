// Workbook serial dates and the number formats that show them: Excel's own
// readings of both date systems, and which format codes are dates.
#include "import/workbook_dates.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/number_format.h"

namespace tabulix {
namespace {

using Kind = WorkbookFormatKind;

std::string text(double serial, Kind kind = Kind::Date, bool date1904 = false) {
  std::string out = "(none)";
  workbookDateText(serial, date1904, kind, out);
  return out;
}

TEST(WorkbookDates, SerialsReadAsExcelShowsThem) {
  // 1 to 59 count from 1899-12-31; 61 on from 1899-12-30, past the 29
  // February 1900 Excel keeps; 60 is that day, which is no date.
  EXPECT_EQ(text(1), "1900-01-01");
  EXPECT_EQ(text(59), "1900-02-28");
  EXPECT_EQ(text(60), "(none)");
  EXPECT_EQ(text(60.5, Kind::DateTime), "(none)");
  EXPECT_EQ(text(61), "1900-03-01");
  EXPECT_EQ(text(45000), "2023-03-15");
  EXPECT_EQ(text(45356), "2024-03-05");
  EXPECT_EQ(text(2958465), "9999-12-31");
  EXPECT_EQ(text(2958466), "(none)");
  EXPECT_EQ(text(0), "1899-12-31");
  EXPECT_EQ(text(-1), "(none)");
  EXPECT_EQ(text(1.0 / 0.0), "(none)");
  // The 1904 system counts from 1904-01-01.
  EXPECT_EQ(text(0, Kind::Date, true), "1904-01-01");
  EXPECT_EQ(text(43538, Kind::Date, true), "2023-03-15");
  EXPECT_EQ(text(2957003, Kind::Date, true), "9999-12-31");
  EXPECT_EQ(text(2957004, Kind::Date, true), "(none)");
}

TEST(WorkbookDates, TimesOfDayAreWallClockRoundedToTheSecond) {
  // 14:30 is 0.604166…: never shifted by the device's zone, never truncated.
  setDeviceTimeZone("America/New_York");
  EXPECT_EQ(text(45356 + 14.5 / 24), "2024-03-05 14:30:00");
  setDeviceTimeZone("UTC");
  EXPECT_EQ(text(45356.604166666664), "2024-03-05 14:30:00");
  EXPECT_EQ(text(45356 + (14.5 * 3600 - 0.4) / 86400), "2024-03-05 14:30:00");
  EXPECT_EQ(text(45356 + (14.5 * 3600 - 0.6) / 86400), "2024-03-05 14:29:59");
  // Half a second before midnight rounds into the next day.
  EXPECT_EQ(text(45356 + (86400 - 0.4) / 86400), "2024-03-06");
  EXPECT_EQ(text(45356 + (86400 - 0.4) / 86400, Kind::DateTime), "2024-03-06 00:00:00");
  // A date-and-time format shows midnight; a time format within the first
  // day shows the time alone, and the date beyond it.
  EXPECT_EQ(text(45356, Kind::DateTime), "2024-03-05 00:00:00");
  EXPECT_EQ(text(0.5, Kind::Time), "12:00:00");
  EXPECT_EQ(text(1.0 / 86400, Kind::Time), "00:00:01");
  EXPECT_EQ(text(0.5, Kind::Time, true), "12:00:00");
  EXPECT_EQ(text(45356.75, Kind::Time), "2024-03-05 18:00:00");
  EXPECT_EQ(text(1, Kind::Number), "(none)");
}

TEST(WorkbookDates, FormatCodesWithDateOrTimeTokensAreDates) {
  for (const char* code : {"yyyy-mm-dd", "YYYY-MM-DD", "dd/mm/yyyy", "[$-409]mmmm d, yyyy", "mmm-yy", "d-mmm",
                           "mmmm", "m/d;@", "dddd", "ge.m.d", "yyyy\"年\"m\"月\"d\"日\"", "[Red]yyyy-mm-dd"})
    EXPECT_EQ(workbookFormatKind(code), Kind::Date) << code;
  for (const char* code : {"yyyy-mm-dd h:mm:ss", "m/d/yy h:mm;@", "YYYY-MM-DD HH:MM", "d/m/yyyy\\ h:mm"})
    EXPECT_EQ(workbookFormatKind(code), Kind::DateTime) << code;
  for (const char* code :
       {"h:mm", "hh:mm:ss", "h:mm AM/PM", "mm:ss", "mm:ss.0", "[$-F400]h:mm:ss\\ AM/PM", "h A/P"})
    EXPECT_EQ(workbookFormatKind(code), Kind::Time) << code;
  // Elapsed times, numbers, quoted and escaped letters, exponents, and the
  // sections after the first.
  for (const char* code : {"[h]:mm", "[mm]:ss", "[hh]:mm:ss", "[s]", "General", "0.00", "#,##0.00 \"days\"",
                           "0.00E+00", "\\d0", "_(\"$\"* #,##0_)", "0;\"yes\";\"no\"", "0.0;[Red]-0.0;\"-\"",
                           "@", "[$€-407] #,##0.00", "\"Hours:\" 0", ""})
    EXPECT_EQ(workbookFormatKind(code), Kind::Number) << code;

  // Built-in ids without a code: dates, times, date and time, numbers.
  for (int id : {14, 15, 16, 17, 27, 30, 31, 34, 36, 50, 57, 58})
    EXPECT_EQ(workbookBuiltinFormatKind(id), Kind::Date) << id;
  for (int id : {18, 19, 20, 21, 32, 33, 45, 47}) EXPECT_EQ(workbookBuiltinFormatKind(id), Kind::Time) << id;
  EXPECT_EQ(workbookBuiltinFormatKind(22), Kind::DateTime);
  for (int id : {0, 1, 2, 9, 13, 23, 26, 37, 44, 46, 48, 49, 59, 164})
    EXPECT_EQ(workbookBuiltinFormatKind(id), Kind::Number) << id;
}

}  // namespace
}  // namespace tabulix
