// Workbook serial dates and the number formats that show them.
//
// A workbook stores a date as a serial number of days (the fraction a time
// of day) and shows it as a date through the cell's number format. The
// readers turn such numbers into the wall-clock texts Excel and LibreOffice
// show, in one form for every locale and time zone: "2024-03-05",
// "2024-03-05 14:30:00", or "14:30:00" for a time of day alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tabulix {

// What a number format makes of a number.
enum class WorkbookFormatKind : uint8_t {
  Number,    // a plain (or elapsed-time) number
  Date,      // a calendar date, maybe with a time of day
  DateTime,  // a date and a time of day
  Time,      // a time of day alone
};

// The kind of a format code such as "yyyy-mm-dd h:mm" or "[$-409]mmmm d,
// yyyy", read case-insensitively: date tokens (y, d, e, g, and m as a month)
// or time tokens (h, s, AM/PM, A/P, and m as minutes) outside quoted texts,
// escaped characters and brackets. Elapsed-time formats ([h]:mm, [mm]:ss)
// are numbers. Only the first section (up to an unquoted ";") counts.
WorkbookFormatKind workbookFormatKind(std::string_view code);

// The kind of a built-in number format that the workbook gives no code for:
// dates 14-17, 27-31, 34-36 and 50-58, times 18-21, 32, 33, 45 and 47,
// date and time 22; every other id (46, [h]:mm:ss, among them) is a number.
WorkbookFormatKind workbookBuiltinFormatKind(int64_t id);

// The serial `days` under a format of `kind` (not Number) as the text Excel
// shows, rounded to the nearest second and never shifted by a time zone:
// "YYYY-MM-DD" for a date kind on a whole day, "YYYY-MM-DD HH:MM:SS" for a
// date with a time of day or a DateTime kind, "HH:MM:SS" for a Time kind
// within the first day. Serials count days from 1899-12-31 for 0 to 59 and
// from 1899-12-30 from 61 on (Excel's 1900 system keeps a 29 February 1900
// that never was: serial 60, which is no date), or from 1904-01-01 in the
// 1904 system. Returns false, leaving `out` alone, for serial 60, a negative
// serial, one past 9999-12-31 or one that is not finite.
bool workbookDateText(double days, bool date1904, WorkbookFormatKind kind, std::string& out);

}  // namespace tabulix
