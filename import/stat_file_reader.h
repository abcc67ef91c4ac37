// The reader of SPSS (.sav, .zsav, .por), Stata (.dta) and SAS (.sas7bdat,
// .xpt) data files behind the import driver. ReadStat parses the file in a
// child process (tabulix-read-stat) under memory and processor-time limits,
// so that a malformed file ends the import with an error and never takes
// this process down; this side turns its frames into lines of texts:
// value labels as the cells' texts, missing values as empty cells, dates
// and date-times as texts the date detector reads back, other numbers in
// their shortest exact form.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "import/import_reader.h"
#include "import/stat_file_parse.h"

namespace tabulix {

// True for the extensions of the statistical file formats.
bool isStatFile(const std::filesystem::path& file);

// What a numeric variable's display format makes of its values.
enum class StatTimeKind { None, Date, DateTime };
// A format's reading of values: the kind and, for dates, seconds per unit
// and the epoch's offset from 1970-01-01 in seconds.
struct StatTimeFormat {
  StatTimeKind kind = StatTimeKind::None;
  double secondsPerUnit = 1;
  double epoch = 0;
  char stataPeriod = 0;  // 'w', 'm', 'q', 'h' for Stata's period dates; 'C' for %tC
};
// The reading of a format of the given file format ("DATE11", "%td", "MMDDYY10").
StatTimeFormat statTimeFormat(StatFormat format, std::string_view displayFormat);
// The text of a date (YYYY-MM-DD) or date-time (YYYY-MM-DD HH:MM:SS[.fff])
// `seconds` after 1970-01-01 00:00, or none outside the years 1000-9999.
std::optional<std::string> statDateText(double seconds, StatTimeKind kind);
// A number in the shortest text that reads back exactly ("1.5", "3", "1e-07").
std::string statNumberText(double v);

// Turns the frames of the child (or of an in-process parse) into the lines
// of an ImportLineSink: the description and the variable names once the
// data begin, then one line per row.
class StatFrameDecoder {
 public:
  // A decoder for a file of `format` named `path` in messages (the file name:
  // the server passes messages on to browsers).
  StatFrameDecoder(StatFormat format, std::string path, ImportLineSink& sink);

  // Takes more bytes; false once the frames are done (the end frame, an
  // error, or the sink asked to stop).
  bool feed(std::string_view bytes);
  // True when the end frame arrived.
  bool ended() const { return ended_; }
  // The failure, once there is one (a reader error or a malformed frame).
  const std::optional<std::string>& failure() const { return failure_; }
  // True when the sink asked to stop.
  bool stopped() const { return stopped_; }
  // The share of the file's declared rows delivered so far, 0..1; none
  // while the file has not said how many rows it has, or cannot.
  std::optional<double> fractionDelivered() const;

 private:
  struct LabelSet {
    std::map<double, std::string> numbers;
    std::unordered_map<std::string, std::string> texts;
  };
  struct Variable {
    std::string name, label, format, labelSet;
    bool isString = false;
    StatTimeFormat time;
    const LabelSet* labels = nullptr;       // found when the data begin
    std::vector<double> missingNumbers;     // discrete user-missing values
    std::vector<std::string> missingTexts;  // the same, of a text variable
  };

  bool frame(char tag, std::string_view payload);
  bool begin();
  bool fail(const std::string& why);
  std::string numberText(const Variable& v, double value) const;

  StatFormat format_;
  std::string path_;
  ImportLineSink& sink_;
  std::string pending_;
  std::vector<Variable> variables_;
  uint32_t declaredVariables_ = 0;
  std::string fileLabel_;
  std::unordered_map<std::string, LabelSet> labelSets_;
  size_t labelBytes_ = 0;
  bool begun_ = false, ended_ = false, stopped_ = false;
  uint64_t line_ = 0;
  int64_t declaredRows_ = -1;  // as the file says; only ever shown as a share
  std::optional<std::string> failure_;
  std::vector<std::string> fields_;
};

// Reads a statistical file for the import driver.
class StatFileReader : public ImportReader {
 public:
  // A reader of `file` in `format`.
  StatFileReader(std::filesystem::path file, StatFormat format) : file_(std::move(file)), format_(format) {}
  // These formats have no sheets: none, once the file's header and first
  // row have been read; throws WorkbookError when they cannot be.
  std::optional<std::vector<std::string>> sheets() override;
  // Runs the child and delivers its lines; a failure ends with code 2.
  void read(int sheet, ImportLineSink& sink) override;
  // Stops the delivery and the child.
  void cancel() override { cancelled_ = true; }
  // The share of the declared rows delivered; asked on the reading thread.
  std::optional<double> fractionRead() const override {
    return decoder_ ? decoder_->fractionDelivered() : std::nullopt;
  }

 private:
  std::filesystem::path file_;
  StatFormat format_;
  std::atomic<bool> cancelled_{false};
  const StatFrameDecoder* decoder_ = nullptr;  // while read() runs
};

// Reads a statistical file to its end (at most rowLimit rows) without
// storing anything: the reason it cannot be imported, or none.
std::optional<std::string> checkStatFile(const std::filesystem::path& file, long rowLimit);

// Parses bytes in memory in this process (the fuzz target) into `sink`.
void readStatFileFromMemory(StatFormat format, std::span<const uint8_t> bytes, long rowLimit,
                            ImportLineSink& sink);

// The child program: TABULIX_STAT_READER, else tabulix-read-stat beside
// the running program, else the one of the build tree.
std::filesystem::path statReaderProgram();

}  // namespace tabulix
