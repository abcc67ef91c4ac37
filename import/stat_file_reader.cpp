#include "import/stat_file_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>

#include "engine/log.h"
#include "import/file_importer.h"
#include "import/stat_file_frames.h"

extern char** environ;

namespace tabulix {

namespace fs = std::filesystem;

bool isStatFile(const fs::path& file) {
  return statFormatForExtension(file.extension().string()).has_value();
}

namespace {

constexpr double kDay = 86400;
// 1582-10-14 and 1960-01-01, in seconds from 1970-01-01.
constexpr double kSpssEpoch = -12219379200.0;
constexpr double kEpoch1960 = -315619200.0;

std::string upperLetters(std::string_view format) {
  std::string name;
  for (char c : format) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    name.push_back(c);
  }
  // The width and decimals at the end ("DATE11", "DATETIME20.3", "MMDDYY10.").
  while (!name.empty() && ((name.back() >= '0' && name.back() <= '9') || name.back() == '.')) name.pop_back();
  return name;
}

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// Days from 1970-01-01 of a civil date (proleptic Gregorian), and back.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

// The days after which a leap second was inserted (the last day of June or
// December), for Stata's %tC, which counts them.
constexpr std::array<std::array<int, 3>, 27> kLeapSecondDays = {{
    {1972, 6, 30},  {1972, 12, 31}, {1973, 12, 31}, {1974, 12, 31}, {1975, 12, 31}, {1976, 12, 31},
    {1977, 12, 31}, {1978, 12, 31}, {1979, 12, 31}, {1981, 6, 30},  {1982, 6, 30},  {1983, 6, 30},
    {1985, 6, 30},  {1987, 12, 31}, {1989, 12, 31}, {1990, 12, 31}, {1992, 6, 30},  {1993, 6, 30},
    {1994, 6, 30},  {1995, 12, 31}, {1997, 6, 30},  {1998, 12, 31}, {2005, 12, 31}, {2008, 12, 31},
    {2012, 6, 30},  {2015, 6, 30},  {2016, 12, 31},
}};

// Seconds from 1970 of a Stata %tC value (milliseconds from 1960 counting
// leap seconds): the leap seconds inserted before it are taken out.
double fromStataLeapMillis(double ms) {
  double seconds = ms / 1000 + kEpoch1960;
  int leaps = 0;
  for (const auto& [y, m, d] : kLeapSecondDays) {
    double after =
        static_cast<double>(daysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) + 1) * kDay;
    if (seconds - leaps - 1 >= after) ++leaps;
  }
  return seconds - leaps;
}

// Seconds from 1970 of the first day of a Stata period (weeks, months,
// quarters, half-years from 1960).
std::optional<double> fromStataPeriod(char unit, double v) {
  if (!std::isfinite(v) || std::fabs(v) > 1e7) return std::nullopt;
  auto n = static_cast<int64_t>(std::floor(v));
  int per = unit == 'w' ? 52 : unit == 'm' ? 12 : unit == 'q' ? 4 : 2;
  int64_t year = 1960 + (n >= 0 ? n / per : -((-n + per - 1) / per));
  int64_t k = n - (year - 1960) * per;
  if (unit == 'w') return static_cast<double>(daysFromCivil(year, 1, 1) + 7 * k) * kDay;
  auto month = static_cast<unsigned>(1 + k * (12 / per));
  return static_cast<double>(daysFromCivil(year, month, 1)) * kDay;
}

bool isUtf8(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = cp << 6 | (t & 0x3F);
    }
    if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += extra + 1;
  }
  return true;
}

const char* formatName(StatFormat f) {
  switch (f) {
    case StatFormat::Sav:
      return "an SPSS data file";
    case StatFormat::Por:
      return "an SPSS portable file";
    case StatFormat::Dta:
      return "a Stata data file";
    case StatFormat::Sas7bdat:
      return "a SAS data file";
    case StatFormat::Xport:
      return "a SAS transport file";
  }
  return "a data file";
}

const char* formatExtension(StatFormat f) {
  switch (f) {
    case StatFormat::Sav:
      return ".sav";
    case StatFormat::Por:
      return ".por";
    case StatFormat::Dta:
      return ".dta";
    case StatFormat::Sas7bdat:
      return ".sas7bdat";
    case StatFormat::Xport:
      return ".xpt";
  }
  return "";
}

}  // namespace

StatTimeFormat statTimeFormat(StatFormat format, std::string_view displayFormat) {
  StatTimeFormat t;
  switch (format) {
    case StatFormat::Sav:
    case StatFormat::Por: {
      std::string name = upperLetters(displayFormat);
      if (name == "DATE" || name == "ADATE" || name == "EDATE" || name == "SDATE" || name == "JDATE" ||
          name == "MOYR" || name == "QYR" || name == "WKYR")
        t = {StatTimeKind::Date, 1, kSpssEpoch, 0};
      else if (name == "DATETIME" || name == "YMDHMS")
        t = {StatTimeKind::DateTime, 1, kSpssEpoch, 0};
      break;
    }
    case StatFormat::Dta: {
      std::string_view f = displayFormat;
      if (startsWith(f, "%")) f.remove_prefix(1);
      if (startsWith(f, "-")) f.remove_prefix(1);
      if (startsWith(f, "td") || startsWith(f, "d"))
        t = {StatTimeKind::Date, kDay, kEpoch1960, 0};
      else if (startsWith(f, "tc"))
        t = {StatTimeKind::DateTime, 0.001, kEpoch1960, 0};
      else if (startsWith(f, "tC"))
        t = {StatTimeKind::DateTime, 0.001, kEpoch1960, 'C'};
      else if (f.size() >= 2 && f[0] == 't' && (f[1] == 'w' || f[1] == 'm' || f[1] == 'q' || f[1] == 'h'))
        t = {StatTimeKind::Date, kDay, 0, f[1]};
      break;
    }
    case StatFormat::Sas7bdat:
    case StatFormat::Xport: {
      std::string name = upperLetters(displayFormat);
      static const char* const dates[] = {
          "DATE",   "DAY",   "E8601DA", "B8601DA", "JULIAN",   "JULDAY",   "MMYY",     "YYMM",
          "MONYY",  "YYMON", "MONTH",   "MONNAME", "WEEKDATE", "WEEKDATX", "WORDDATE", "WORDDATX",
          "NLDATE", "YEAR",  "YYQ",     "YYQR",    "QTR",      "WEEKDAY",  "DOWNAME",  "EURDFDD"};
      static const char* const times[] = {"DATETIME", "DATEAMPM", "E8601DT", "B8601DT", "DTDATE",  "DTMONYY",
                                          "DTYEAR",   "DTWKDATX", "MDYAMPM", "NLDATM",  "E8601DZ", "B8601DZ"};
      bool date = startsWith(name, "DDMMYY") || startsWith(name, "MMDDYY") || startsWith(name, "YYMMDD");
      for (const char* d : dates) date = date || name == d;
      bool time = false;
      for (const char* d : times) time = time || name == d;
      if (date)
        t = {StatTimeKind::Date, kDay, kEpoch1960, 0};
      else if (time)
        t = {StatTimeKind::DateTime, 1, kEpoch1960, 0};
      break;
    }
  }
  return t;
}

std::optional<std::string> statDateText(double seconds, StatTimeKind kind) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1e12) return std::nullopt;
  auto ms = static_cast<int64_t>(std::llround(seconds * 1000));
  int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86400000 - 1) / 86400000);
  int64_t msOfDay = ms - days * 86400000;
  int64_t y;
  unsigned m, d;
  civilFromDays(days, y, m, d);
  if (y < 1000 || y > 9999) return std::nullopt;
  // Written digit by digit: a date column of 100,000 rows formats each.
  auto digits = [](std::string& out, int64_t v, int width) {
    char d[8];
    for (int i = width - 1; i >= 0; --i, v /= 10) d[i] = static_cast<char>('0' + v % 10);
    out.append(d, static_cast<size_t>(width));
  };
  std::string text;
  text.reserve(24);
  digits(text, y, 4);
  text.push_back('-');
  digits(text, m, 2);
  text.push_back('-');
  digits(text, d, 2);
  if (kind == StatTimeKind::DateTime) {
    int64_t s = msOfDay / 1000, frac = msOfDay % 1000;
    text.push_back(' ');
    digits(text, s / 3600, 2);
    text.push_back(':');
    digits(text, s / 60 % 60, 2);
    text.push_back(':');
    digits(text, s % 60, 2);
    if (frac != 0) {
      text.push_back('.');
      digits(text, frac, 3);
      while (text.back() == '0') text.pop_back();
    }
  }
  return text;
}

std::string statNumberText(double v) {
  char buf[64];
  if (v == 0) return "0";  // also -0
  double a = std::fabs(v);
  auto fmt = a >= 1e-6 && a < 1e15 ? std::chars_format::fixed : std::chars_format::scientific;
  auto r = std::to_chars(buf, buf + sizeof buf, v, fmt);
  return std::string(buf, r.ptr);
}

StatFrameDecoder::StatFrameDecoder(StatFormat format, std::string path, ImportLineSink& sink)
    : format_(format), path_(std::move(path)), sink_(sink) {}

bool StatFrameDecoder::fail(const std::string& why) {
  if (!failure_) failure_ = "The file " + path_ + " could not be read as " + formatName(format_) + ": " + why;
  return false;
}

bool StatFrameDecoder::feed(std::string_view bytes) {
  if (ended_ || failure_ || stopped_) return false;
  pending_.append(bytes);
  size_t at = 0;
  bool go = true;
  while (go && pending_.size() - at >= 5) {
    FrameReader head{std::string_view(pending_).substr(at + 1, 4)};
    uint32_t length = head.u32();
    if (length > kStatMaxFrame) {
      go = fail("its reader sent a malformed answer.");
      break;
    }
    if (pending_.size() - at - 5 < length) break;
    go = frame(pending_[at], std::string_view(pending_).substr(at + 5, length));
    at += 5 + length;
  }
  pending_.erase(0, at);
  return go && !ended_;
}

std::string StatFrameDecoder::numberText(const Variable& v, double value) const {
  if (v.time.kind != StatTimeKind::None) {
    std::optional<double> seconds;
    if (v.time.stataPeriod == 'C')
      seconds = fromStataLeapMillis(value);
    else if (v.time.stataPeriod)
      seconds = fromStataPeriod(v.time.stataPeriod, value);
    else
      seconds = value * v.time.secondsPerUnit + v.time.epoch;
    if (seconds)
      if (auto text = statDateText(*seconds, v.time.kind)) return *text;
  }
  return statNumberText(value);
}

bool StatFrameDecoder::begin() {
  begun_ = true;
  ImportFileDescription description;
  description.fileLabel = fileLabel_;
  std::vector<std::string> names;
  for (auto& v : variables_) {
    // Labels that arrive later (none should) are not used.
    if (!v.labelSet.empty())
      if (auto it = labelSets_.find(v.labelSet); it != labelSets_.end()) v.labels = &it->second;
    description.variableLabels.push_back(v.label);
    // A code is written as its cells are: its value label, else its number or text.
    std::vector<std::string> codes;
    for (double n : v.missingNumbers) {
      auto it = v.labels ? v.labels->numbers.find(n) : decltype(v.labels->numbers.end()){};
      codes.push_back(v.labels && it != v.labels->numbers.end() ? it->second : numberText(v, n));
    }
    for (const std::string& t : v.missingTexts) {
      if (!isUtf8(t)) continue;
      auto it = v.labels ? v.labels->texts.find(t) : decltype(v.labels->texts.end()){};
      codes.push_back(v.labels && it != v.labels->texts.end() ? it->second : t);
    }
    description.variableMissingCodes.push_back(std::move(codes));
    names.push_back(v.name);
  }
  sink_.readerDidDescribeFile(description);
  if (names.empty()) return true;
  if (!sink_.readerDidReadLine(++line_, names)) stopped_ = true;
  return !stopped_;
}

std::optional<double> StatFrameDecoder::fractionDelivered() const {
  if (declaredRows_ <= 0) return std::nullopt;
  // Line 1 holds the names; a file with more rows than it declared is
  // never more than read whole.
  const uint64_t rows = line_ > 0 ? line_ - 1 : 0;
  return std::min(1.0, static_cast<double>(rows) / static_cast<double>(declaredRows_));
}

bool StatFrameDecoder::frame(char tag, std::string_view payload) {
  FrameReader r{payload};
  switch (static_cast<StatFrame>(tag)) {
    case StatFrame::File: {
      declaredVariables_ = r.u32();
      declaredRows_ = r.i64();
      std::string_view label = r.text();
      r.text();
      if (!r.ok) break;
      if (!isUtf8(label)) return fail("its label is not valid text in the file's encoding.");
      fileLabel_ = label;
      return true;
    }
    case StatFrame::Variable: {
      if (begun_) break;
      uint32_t index = r.u32();
      Variable v;
      v.name = r.text();
      v.label = r.text();
      v.format = r.text();
      v.isString = r.u8() != 0;
      v.labelSet = r.text();
      if (!r.rest.empty()) {
        uint32_t n = r.u32();
        if (n > kStatMaxMissingCodes) break;
        for (uint32_t i = 0; i < n && r.ok; ++i) {
          auto kind = static_cast<StatValueKind>(r.u8());
          if (kind == StatValueKind::Number)
            v.missingNumbers.push_back(r.f64());
          else if (kind == StatValueKind::Text)
            v.missingTexts.emplace_back(r.text());
          else
            r.ok = false;
        }
      }
      if (!r.ok || index != variables_.size() || index >= kStatMaxVariables) break;
      if (!isUtf8(v.name) || !isUtf8(v.label))
        return fail("the name or label of variable " + std::to_string(index + 1) +
                    " is not valid text in the file's encoding.");
      v.time = v.isString ? StatTimeFormat{} : statTimeFormat(format_, v.format);
      variables_.push_back(std::move(v));
      return true;
    }
    case StatFrame::Label: {
      std::string set(r.text());
      auto kind = static_cast<StatValueKind>(r.u8());
      double number = 0;
      std::string text;
      if (kind == StatValueKind::Number)
        number = r.f64();
      else if (kind == StatValueKind::Text)
        text = r.text();
      else if (kind == StatValueKind::Tagged)
        r.u8();
      else
        break;
      std::string_view label = r.text();
      if (!r.ok) break;
      if (!isUtf8(label))
        return fail("a value label of \"" + set + "\" is not valid text in the file's encoding.");
      labelBytes_ += set.size() + text.size() + label.size() + 64;
      if (labelBytes_ > kStatMaxFrame) return fail("it has too many value labels.");
      if (begun_) return true;
      LabelSet& s = labelSets_[set];
      if (kind == StatValueKind::Number && !std::isnan(number)) s.numbers.emplace(number, label);
      if (kind == StatValueKind::Text) s.texts.emplace(std::move(text), label);
      return true;
    }
    case StatFrame::Row: {
      if (!begun_ && !begin()) return false;
      uint32_t n = r.u32();
      if (n != variables_.size()) break;
      fields_.resize(n);
      for (uint32_t i = 0; i < n; ++i) {
        const Variable& v = variables_[i];
        auto kind = static_cast<StatValueKind>(r.u8());
        std::string& field = fields_[i];
        field.clear();
        const LabelSet* labels = v.labels;
        if (kind == StatValueKind::Number) {
          double value = r.f64();
          if (labels)
            if (auto it = labels->numbers.find(value); it != labels->numbers.end()) {
              field = it->second;
              continue;
            }
          if (!std::isnan(value)) field = numberText(v, value);
        } else if (kind == StatValueKind::Text) {
          std::string_view text = r.text();
          if (!isUtf8(text))
            return fail("the value of " + v.name + " in row " + std::to_string(line_) +
                        " is not valid text in the file's encoding.");
          if (labels)
            if (auto it = labels->texts.find(std::string(text)); it != labels->texts.end()) {
              field = it->second;
              continue;
            }
          field = text;
        } else if (kind == StatValueKind::Tagged) {
          r.u8();
        } else if (kind != StatValueKind::Missing) {
          r.ok = false;
        }
        if (!r.ok) break;
      }
      if (!r.ok) break;
      if (!sink_.readerDidReadLine(++line_, fields_)) {
        stopped_ = true;
        return false;
      }
      return true;
    }
    case StatFrame::End: {
      auto code = static_cast<int32_t>(r.u32());
      std::string_view message = r.text();
      if (!r.ok) break;
      if (code != 0) {
        std::string why(message.substr(0, 800));
        if (!isUtf8(why)) why = "error " + std::to_string(code);
        return fail(why + (why.empty() || why.back() == '.' ? "" : "."));
      }
      if (!begun_ && !begin()) return false;
      ended_ = true;
      return false;
    }
  }
  return fail("its reader sent a malformed answer.");
}

fs::path statReaderProgram() {
  if (const char* env = std::getenv("TABULIX_STAT_READER"); env && *env) return env;
  std::error_code ec;
  fs::path beside = fs::read_symlink("/proc/self/exe", ec).parent_path() / "tabulix-read-stat";
  if (!ec && fs::exists(beside, ec)) return beside;
#ifdef TABULIX_STAT_READER_PATH
  return TABULIX_STAT_READER_PATH;
#else
  return "tabulix-read-stat";
#endif
}

namespace {

// No answer from the child for this long ends the read (the environment's
// TABULIX_STAT_READER_SILENCE may shorten it).
constexpr int kChildSilenceSeconds = 60;

// Runs the child on the file, handing its output to `consume` until that
// returns false or the output ends; the reason the child failed, if it did.
std::optional<std::string> runChild(const fs::path& file, StatFormat format, long rowLimit,
                                    const std::function<bool(std::string_view)>& consume, bool& ended) {
  ended = false;
  fs::path program = statReaderProgram();
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::string("no pipe to its reader: ") + std::strerror(errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::string programText = program.string(), ext = formatExtension(format), limit = std::to_string(rowLimit),
              path = file.string();
  char* argv[] = {programText.data(), ext.data(), limit.data(), path.data(), nullptr};
  pid_t pid = -1;
  int spawned = ::posix_spawn(&pid, programText.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (spawned != 0) {
    ::close(fds[0]);
    return "its reader " + programText + " could not be started (" + std::strerror(spawned) + ").";
  }
  // Whatever leaves this frame (a store failure thrown by the sink), the
  // child is stopped and reaped and the pipe closed.
  struct Reap {
    pid_t pid;
    int fd;
    bool armed = true;
    ~Reap() {
      if (!armed) return;
      ::kill(pid, SIGKILL);
      ::close(fd);
      int status;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
  } reap{pid, fds[0]};
  std::optional<std::string> failure;
  bool killed = false;
  int silent = 0, silenceLimit = kChildSilenceSeconds;
  if (const char* env = std::getenv("TABULIX_STAT_READER_SILENCE"); env && std::atoi(env) > 0)
    silenceLimit = std::atoi(env);
  std::string buffer(64 << 10, '\0');
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    int ready = ::poll(&p, 1, 1000);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      if (++silent >= silenceLimit) {
        failure = "its reader gave no answer for " + std::to_string(silenceLimit) + " seconds.";
        ::kill(pid, SIGKILL);
        killed = true;
        break;
      }
      continue;
    }
    silent = 0;
    ssize_t n = ::read(fds[0], buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (!consume(std::string_view(buffer.data(), static_cast<size_t>(n)))) {
      ended = true;
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
  }
  reap.armed = false;
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (failure || killed) return failure;
  if (WIFSIGNALED(status)) {
    int sig = WTERMSIG(status);
    if (sig == SIGXCPU) return "reading it took more processor time than allowed.";
    return std::string("its reader stopped on a damaged part of the file (") + ::strsignal(sig) + ").";
  }
  return std::nullopt;
}

CsvError readToEnd() {
  return CsvError{std::string(kImportErrorDomain), kImportReadToEnd, "The file was read to its end."};
}

// Takes lines and drops them (the check before an import).
struct DiscardSink : ImportLineSink {
  void readerDidStart() override {}
  bool readerDidReadLine(uint64_t, std::span<const std::string>) override { return true; }
  void readerDidFinish(const CsvError&) override {}
};

// Runs the child into a decoder; the failure, or none.
std::optional<std::string> readThroughChild(const fs::path& file, StatFormat format, long rowLimit,
                                            StatFrameDecoder& decoder, const std::atomic<bool>* cancelled) {
  bool stoppedByUs = false;
  std::optional<std::string> childFailure = runChild(
      file, format, rowLimit,
      [&](std::string_view bytes) { return decoder.feed(bytes) && !(cancelled && *cancelled); }, stoppedByUs);
  if (decoder.stopped() || (cancelled && *cancelled)) return std::nullopt;
  if (decoder.failure()) return decoder.failure();
  if (decoder.ended()) return std::nullopt;
  std::string why = childFailure ? *childFailure : "its reader ended before the end of the file.";
  return "The file " + file.filename().string() + " could not be read as " + formatName(format) + ": " + why;
}

}  // namespace

void StatFileReader::read(int, ImportLineSink& sink) {
  logLine("Parser started!");
  sink.readerDidStart();
  StatFrameDecoder decoder(format_, file_.filename().string(), sink);
  decoder_ = &decoder;
  struct Forget {
    const StatFrameDecoder*& decoder;
    ~Forget() { decoder = nullptr; }
  } forget{decoder_};
  std::optional<std::string> failure =
      readThroughChild(file_, format_, kMaxImportRows + 1, decoder, &cancelled_);
  if (failure) {
    logLine("Parser failed with error: " + *failure);
    sink.readerDidFinish(CsvError{std::string(kImportErrorDomain), kWorkbookUnreadable, *failure});
    return;
  }
  logLine("Parser ended document: " + file_.string());
  sink.readerDidFinish(readToEnd());
}

std::optional<std::vector<std::string>> StatFileReader::sheets() {
  if (auto failure = checkStatFile(file_, 1)) throw WorkbookError(*failure);
  return std::nullopt;
}

std::optional<std::string> checkStatFile(const fs::path& file, long rowLimit) {
  std::optional<StatFormat> format = statFormatForExtension(file.extension().string());
  if (!format) return "The file " + file.filename().string() + " is not an SPSS, Stata or SAS data file.";
  DiscardSink sink;
  StatFrameDecoder decoder(*format, file.filename().string(), sink);
  return readThroughChild(file, *format, rowLimit, decoder, nullptr);
}

void readStatFileFromMemory(StatFormat format, std::span<const uint8_t> bytes, long rowLimit,
                            ImportLineSink& sink) {
  sink.readerDidStart();
  StatFrameDecoder decoder(format, "(memory)", sink);
  parseStatFile(format, "(memory)", bytes, rowLimit, [&](std::string_view b) { return decoder.feed(b); });
  if (decoder.failure())
    sink.readerDidFinish(CsvError{std::string(kImportErrorDomain), kWorkbookUnreadable, *decoder.failure()});
  else if (!decoder.ended() && !decoder.stopped())
    sink.readerDidFinish(CsvError{std::string(kImportErrorDomain), kWorkbookUnreadable, "ended early"});
  else
    sink.readerDidFinish(readToEnd());
}

}  // namespace tabulix
