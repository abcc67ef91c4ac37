// Workbook serial dates written as text: the locale's month/day/four-digit
// year pattern, with 24-hour hour and minute when the serial has a fraction.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

namespace tabulix {

// Day zero of serial dates in the 1900 date system: 1899-12-31 00:00 UTC.
// Excel counts from 1899-12-30 for every serial from 61 on (its 1900 system
// keeps a 29 February 1900 that never was), so the dates written here are one
// day after the ones Excel shows. The import keeps this reading on purpose:
// workspaces imported before keep comparing equal to new imports.
inline constexpr double kWorkbookEpoch1900 = -2209075200.0;
// Day zero in the 1904 date system: 1904-01-02 00:00 UTC (again one day after
// Excel's own reading, for the same reason).
inline constexpr double kWorkbookEpoch1904 = -2082758400.0;

// Writes serial dates of one workbook; not shared between threads.
class WorkbookDateWriter {
 public:
  // Formats in `localeName`'s patterns and the device's time zone.
  explicit WorkbookDateWriter(const std::string& localeName);
  ~WorkbookDateWriter();
  // Chooses the 1904 date system (or the 1900 one).
  void setDate1904(bool on) {
    epoch_ = on ? kWorkbookEpoch1904 : kWorkbookEpoch1900;
    written_.clear();
  }
  // The serial `days` as text: date only when it is whole, else date and
  // time. Returns false (leaving `out` alone) for a serial too far from
  // day zero to be a date (beyond about 27,000 years) or not finite.
  bool format(double days, std::string& out);

 private:
  struct Formats;
  std::unique_ptr<Formats> formats_;
  double epoch_ = kWorkbookEpoch1900;
  // Date columns repeat their values: texts already written, by serial.
  std::unordered_map<double, std::string> written_;
};

}  // namespace tabulix
