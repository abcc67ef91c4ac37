#include "import/stat_file_parse.h"

#include <fcntl.h>
#include <readstat.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "import/stat_file_frames.h"

namespace tabulix {

std::optional<StatFormat> statFormatForExtension(std::string_view e) {
  if (e == ".sav" || e == ".zsav") return StatFormat::Sav;
  if (e == ".por") return StatFormat::Por;
  if (e == ".dta") return StatFormat::Dta;
  if (e == ".sas7bdat") return StatFormat::Sas7bdat;
  if (e == ".xpt") return StatFormat::Xport;
  return std::nullopt;
}

namespace {

// The bytes ReadStat reads: a file descriptor or a buffer, with a few bytes
// replaced (the portable file's character table, below).
struct Source {
  int fd = -1;
  std::span<const uint8_t> memory;
  bool inMemory = false;
  int64_t pos = 0;
  int64_t size = 0;
  std::vector<std::pair<int64_t, uint8_t>> patches;  // physical offset, byte
};

int openSource(const char* path, void* ctx) {
  auto& s = *static_cast<Source*>(ctx);
  s.pos = 0;
  if (s.inMemory) {
    s.size = static_cast<int64_t>(s.memory.size());
    return 0;
  }
  if (s.fd >= 0) return s.fd;
  s.fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (s.fd < 0) return -1;
  off_t end = ::lseek(s.fd, 0, SEEK_END);
  s.size = end < 0 ? 0 : end;
  ::lseek(s.fd, 0, SEEK_SET);
  return s.fd;
}

int closeSource(void* ctx) {
  auto& s = *static_cast<Source*>(ctx);
  if (!s.inMemory && s.fd >= 0) ::close(s.fd);
  s.fd = -1;
  return 0;
}

readstat_off_t seekSource(readstat_off_t offset, readstat_io_flags_t whence, void* ctx) {
  auto& s = *static_cast<Source*>(ctx);
  int64_t base = whence == READSTAT_SEEK_SET ? 0 : whence == READSTAT_SEEK_CUR ? s.pos : s.size;
  int64_t to = 0;
  if (__builtin_add_overflow(base, static_cast<int64_t>(offset), &to) || to < 0) return -1;
  s.pos = to;
  return to;
}

ssize_t readSource(void* buf, size_t n, void* ctx) {
  auto& s = *static_cast<Source*>(ctx);
  ssize_t got = 0;
  if (s.inMemory) {
    if (s.pos >= s.size) return 0;
    got = static_cast<ssize_t>(std::min<int64_t>(static_cast<int64_t>(n), s.size - s.pos));
    if (got > 0) std::memcpy(buf, s.memory.data() + s.pos, static_cast<size_t>(got));
  } else {
    do got = ::pread(s.fd, buf, n, s.pos);
    while (got < 0 && errno == EINTR);
    if (got < 0) return -1;
  }
  for (auto [at, byte] : s.patches)
    if (at >= s.pos && at < s.pos + got) static_cast<uint8_t*>(buf)[at - s.pos] = byte;
  s.pos += got;
  return got;
}

readstat_error_t updateSource(long, readstat_progress_handler, void*, void*) { return READSTAT_OK; }

// A portable file carries a 256-byte table mapping its character codes to
// bytes; PSPP fills the positions of characters it has no byte for with
// more digits and punctuation ("123456789" again for the superscript
// digits), and ReadStat then reads every '8' as the later position's
// character. Such repeated entries past the printable range are blanked
// ('0', the filler both sides skip), so that the first entry stands.
std::vector<std::pair<int64_t, uint8_t>> portableTablePatches(Source& s) {
  uint8_t head[2048];
  s.pos = 0;
  ssize_t n = readSource(head, sizeof head, &s);
  s.pos = 0;
  std::vector<int64_t> physical;  // physical offset of each byte without line ends
  for (ssize_t i = 0; i < n && physical.size() < 464; ++i)
    if (head[i] != '\r' && head[i] != '\n') physical.push_back(i);
  if (physical.size() < 464) return {};
  auto logical = [&](size_t k) { return head[physical[k]]; };
  std::string magic;
  for (size_t k = 456; k < 464; ++k) magic.push_back(static_cast<char>(logical(k)));
  if (magic != "SPSSPORT") return {};
  std::vector<std::pair<int64_t, uint8_t>> patches;
  bool seen[256] = {};
  for (size_t i = 64; i < 256; ++i) {
    uint8_t b = logical(200 + i);
    if (i >= 127 && seen[b] && b != '0') patches.emplace_back(physical[200 + i], '0');
    seen[b] = true;
  }
  return patches;
}

// What the callbacks share: the frames being written and the row being built.
struct Parse {
  const StatFrameSink* sink = nullptr;
  FrameWriter out;
  bool stopped = false;
  bool sendMetadata = true;
  std::vector<std::string> cells;  // encoded cells of the current row
  long currentRow = -1;
  uint32_t width = 0;  // variables passed on
  StatFormat format = StatFormat::Sav;
  size_t labelSetWidth = 300;  // a Stata file's value-label name field
  size_t fileLabelWidth = 1024;
  std::string errors;        // ReadStat's messages, the first ones
  std::string fileEncoding;  // the encoding to read the file in, when not its own
  bool flushed = false;      // frames have gone to the sink

  bool flush(bool force) {
    if (stopped) return false;
    if (out.bytes.size() >= (force ? 1 : 64u << 10)) {
      flushed = true;
      if (!(*sink)(out.bytes)) stopped = true;
      out.bytes.clear();
    }
    return !stopped;
  }
  void endRow() {
    if (currentRow < 0) return;
    size_t at = out.begin(StatFrame::Row);
    out.u32(width);
    for (uint32_t i = 0; i < width; ++i) {
      if (i < cells.size() && !cells[i].empty()) {
        out.bytes.append(cells[i]);
      } else {
        out.u8(static_cast<uint8_t>(StatValueKind::Missing));
      }
    }
    out.finish(at);
    for (auto& c : cells) c.clear();
    currentRow = -1;
  }
};

void writeValue(FrameWriter& w, readstat_value_t v) {
  if (readstat_value_type_class(v) == READSTAT_TYPE_CLASS_STRING) {
    const char* s = readstat_string_value(v);
    w.u8(static_cast<uint8_t>(StatValueKind::Text));
    w.text(s ? s : "");
  } else if (readstat_value_is_tagged_missing(v)) {
    w.u8(static_cast<uint8_t>(StatValueKind::Tagged));
    w.u8(static_cast<uint8_t>(readstat_value_tag(v)));
  } else {
    w.u8(static_cast<uint8_t>(StatValueKind::Number));
    w.f64(readstat_double_value(v));
  }
}

const char* orEmpty(const char* s) { return s ? s : ""; }

// True when a missing range is one value (lo = hi), a number or a text.
bool discreteCode(readstat_value_t lo, readstat_value_t hi) {
  if (readstat_value_type_class(lo) != readstat_value_type_class(hi)) return false;
  if (readstat_value_type_class(lo) == READSTAT_TYPE_CLASS_STRING) {
    const char *a = readstat_string_value(lo), *b = readstat_string_value(hi);
    return a && b && std::strcmp(a, b) == 0;
  }
  double a = readstat_double_value(lo), b = readstat_double_value(hi);
  return a == b && std::isfinite(a);
}

// True when a user-missing value is one of its variable's discrete codes.
bool isDiscreteCode(readstat_value_t value, readstat_variable_t* v) {
  int ranges = readstat_variable_get_missing_ranges_count(v);
  for (int i = 0; i < ranges; ++i) {
    readstat_value_t lo = readstat_variable_get_missing_range_lo(v, i);
    readstat_value_t hi = readstat_variable_get_missing_range_hi(v, i);
    if (!discreteCode(lo, hi)) continue;
    if (readstat_value_type_class(value) == READSTAT_TYPE_CLASS_STRING) {
      const char* s = readstat_string_value(value);
      if (s && std::strcmp(s, readstat_string_value(lo)) == 0) return true;
    } else if (readstat_double_value(value) == readstat_double_value(lo)) {
      return true;
    }
  }
  return false;
}

// A text ReadStat hands over, read no further than `max` bytes: some of
// them point into the file's fixed-width fields, which a damaged file can
// fill without a terminator.
std::string_view bounded(const char* s, size_t max) {
  return s ? std::string_view(s, ::strnlen(s, max)) : "";
}

int onMetadata(readstat_metadata_t* m, void* ctx) {
  auto& p = *static_cast<Parse*>(ctx);
  if (p.format == StatFormat::Dta) {
    // Field widths of Stata's releases: names 9, 33 or 129 bytes, the data
    // label 81 or 321.
    int version = readstat_get_file_format_version(m);
    p.labelSetWidth = version >= 118 ? 129 : version >= 110 ? 33 : 9;
    p.fileLabelWidth = version >= 118 ? 321 : 81;
  }
  if (!p.sendMetadata) return READSTAT_HANDLER_OK;
  size_t at = p.out.begin(StatFrame::File);
  p.out.u32(static_cast<uint32_t>(std::max(0, readstat_get_var_count(m))));
  p.out.i64(readstat_get_row_count(m));
  p.out.text(bounded(readstat_get_file_label(m), p.fileLabelWidth));
  p.out.text(bounded(readstat_get_file_encoding(m), 64));
  p.out.finish(at);
  return p.flush(false) ? READSTAT_HANDLER_OK : READSTAT_HANDLER_ABORT;
}

int onVariable(int index, readstat_variable_t* v, const char* labelSet, void* ctx) {
  auto& p = *static_cast<Parse*>(ctx);
  if (index < 0 || static_cast<uint32_t>(index) >= kStatMaxVariables) return READSTAT_HANDLER_SKIP_VARIABLE;
  p.width = std::max(p.width, static_cast<uint32_t>(index) + 1);
  if (p.cells.size() < p.width) p.cells.resize(p.width);
  if (!p.sendMetadata) return READSTAT_HANDLER_OK;
  size_t at = p.out.begin(StatFrame::Variable);
  p.out.u32(static_cast<uint32_t>(index));
  // The variable's own texts live in arrays of the sizes readstat.h gives.
  p.out.text(bounded(readstat_variable_get_name(v), sizeof v->name));
  p.out.text(bounded(readstat_variable_get_label(v), sizeof v->label));
  p.out.text(bounded(readstat_variable_get_format(v), sizeof v->format));
  p.out.u8(readstat_variable_get_type_class(v) == READSTAT_TYPE_CLASS_STRING ? 1 : 0);
  p.out.text(bounded(labelSet, p.labelSetWidth));
  // The user-missing values a variable declares one by one (SPSS's discrete
  // missing values) travel as codes: their cells keep the value and the
  // workspace declares it missing. Ranges stay empty cells.
  std::vector<readstat_value_t> codes;
  int ranges = readstat_variable_get_missing_ranges_count(v);
  for (int i = 0; i < ranges && codes.size() < kStatMaxMissingCodes; ++i) {
    readstat_value_t lo = readstat_variable_get_missing_range_lo(v, i);
    readstat_value_t hi = readstat_variable_get_missing_range_hi(v, i);
    if (discreteCode(lo, hi)) codes.push_back(lo);
  }
  p.out.u32(static_cast<uint32_t>(codes.size()));
  for (const readstat_value_t& c : codes) writeValue(p.out, c);
  p.out.finish(at);
  return p.flush(false) ? READSTAT_HANDLER_OK : READSTAT_HANDLER_ABORT;
}

int onLabel(const char* set, readstat_value_t value, const char* label, void* ctx) {
  auto& p = *static_cast<Parse*>(ctx);
  size_t at = p.out.begin(StatFrame::Label);
  p.out.text(bounded(set, p.labelSetWidth));
  writeValue(p.out, value);
  p.out.text(bounded(label, 32767));
  p.out.finish(at);
  return p.flush(false) ? READSTAT_HANDLER_OK : READSTAT_HANDLER_ABORT;
}

int onValue(int row, readstat_variable_t* v, readstat_value_t value, void* ctx) {
  auto& p = *static_cast<Parse*>(ctx);
  int index = readstat_variable_get_index(v);
  if (index < 0 || static_cast<uint32_t>(index) >= p.width) return READSTAT_HANDLER_OK;
  if (row != p.currentRow) {
    p.endRow();
    if (!p.flush(false)) return READSTAT_HANDLER_ABORT;
    p.currentRow = row;
  }
  // System and tagged missing values are empty cells, and so are values in
  // a user-missing range; a discrete user-missing value keeps its value (its
  // variable declares it as a missing-value code).
  if (readstat_value_is_system_missing(value) || readstat_value_is_tagged_missing(value))
    return READSTAT_HANDLER_OK;
  if (readstat_value_is_defined_missing(value, v) && !isDiscreteCode(value, v)) return READSTAT_HANDLER_OK;
  FrameWriter cell;
  writeValue(cell, value);
  p.cells[static_cast<size_t>(index)] = std::move(cell.bytes);
  return READSTAT_HANDLER_OK;
}

void onError(const char* message, void* ctx) {
  auto& p = *static_cast<Parse*>(ctx);
  if (message && p.errors.size() < 512) {
    if (!p.errors.empty()) p.errors += "; ";
    std::string m = std::string(message).substr(0, 200);
    while (!m.empty() && (m.back() == '\n' || m.back() == '\r' || m.back() == ' ')) m.pop_back();
    p.errors += m;
  }
}

readstat_error_t runParser(StatFormat format, const std::string& path, Source& source, Parse& parse,
                           long rowLimit, bool labels, bool values) {
  readstat_parser_t* parser = readstat_parser_init();
  if (!parser) return READSTAT_ERROR_MALLOC;
  readstat_set_open_handler(parser, openSource);
  readstat_set_close_handler(parser, closeSource);
  readstat_set_seek_handler(parser, seekSource);
  readstat_set_read_handler(parser, readSource);
  readstat_set_update_handler(parser, updateSource);
  readstat_set_io_ctx(parser, &source);
  readstat_set_error_handler(parser, onError);
  readstat_set_handler_character_encoding(parser, "UTF-8");
  if (!parse.fileEncoding.empty()) readstat_set_file_character_encoding(parser, parse.fileEncoding.c_str());
  readstat_set_metadata_handler(parser, onMetadata);
  readstat_set_variable_handler(parser, onVariable);
  if (labels) readstat_set_value_label_handler(parser, onLabel);
  if (values) readstat_set_value_handler(parser, onValue);
  if (rowLimit > 0) readstat_set_row_limit(parser, rowLimit);
  readstat_error_t error = READSTAT_OK;
  switch (format) {
    case StatFormat::Sav:
      error = readstat_parse_sav(parser, path.c_str(), &parse);
      break;
    case StatFormat::Por:
      error = readstat_parse_por(parser, path.c_str(), &parse);
      break;
    case StatFormat::Dta:
      error = readstat_parse_dta(parser, path.c_str(), &parse);
      break;
    case StatFormat::Sas7bdat:
      error = readstat_parse_sas7bdat(parser, path.c_str(), &parse);
      break;
    case StatFormat::Xport:
      error = readstat_parse_xport(parser, path.c_str(), &parse);
      break;
  }
  readstat_parser_free(parser);
  closeSource(&source);
  return error;
}

// The iconv name of an SPSS character code that ReadStat has no entry for
// (PSPP writes IBM's numbers for the ISO 8859 sets), from its message
// "Unsupported character set: N".
std::optional<std::string> encodingForCharacterCode(const std::string& errors) {
  static const std::pair<int, const char*> codes[] = {
      {819, "ISO-8859-1"}, {912, "ISO-8859-2"},  {913, "ISO-8859-3"}, {914, "ISO-8859-4"},
      {915, "ISO-8859-5"}, {1089, "ISO-8859-6"}, {813, "ISO-8859-7"}, {916, "ISO-8859-8"},
      {920, "ISO-8859-9"}, {923, "ISO-8859-15"}};
  const std::string prefix = "Unsupported character set: ";
  size_t at = errors.find(prefix);
  if (at == std::string::npos) return std::nullopt;
  int code = std::atoi(errors.c_str() + at + prefix.size());
  for (auto [n, name] : codes)
    if (n == code) return name;
  return std::nullopt;
}

}  // namespace

void parseStatFile(StatFormat format, const std::string& path, std::optional<std::span<const uint8_t>> memory,
                   long rowLimit, const StatFrameSink& sink) {
  Source source;
  if (memory) {
    source.inMemory = true;
    source.memory = *memory;
    source.size = static_cast<int64_t>(memory->size());
  }
  Parse parse;
  parse.sink = &sink;
  parse.format = format;
  readstat_error_t error = READSTAT_OK;
  if (format == StatFormat::Por && openSource(path.c_str(), &source) >= 0) {
    source.patches = portableTablePatches(source);
    closeSource(&source);
  }
  if (format == StatFormat::Dta) {
    // A Stata file keeps its value labels after the data: they are read in a
    // first pass, so that every row can be labelled as it arrives.
    error = runParser(format, path, source, parse, rowLimit, true, false);
    parse.sendMetadata = false;
    if (error == READSTAT_OK && !parse.stopped)
      error = runParser(format, path, source, parse, rowLimit, false, true);
  } else {
    error = runParser(format, path, source, parse, rowLimit, true, true);
    std::optional<std::string> encoding;
    if (format == StatFormat::Sav && error == READSTAT_ERROR_UNSUPPORTED_CHARSET && !parse.flushed &&
        (encoding = encodingForCharacterCode(parse.errors))) {
      // Read again from the start, in the encoding the code stands for.
      parse = Parse{};
      parse.sink = &sink;
      parse.format = format;
      parse.fileEncoding = *encoding;
      error = runParser(format, path, source, parse, rowLimit, true, true);
    }
  }
  if (parse.stopped) return;
  if (error == READSTAT_OK) parse.endRow();
  size_t at = parse.out.begin(StatFrame::End);
  parse.out.u32(static_cast<uint32_t>(error));
  std::string message;
  if (error != READSTAT_OK) {
    message = orEmpty(readstat_error_message(error));
    if (!parse.errors.empty()) message += " (" + parse.errors + ")";
  }
  parse.out.text(message);
  parse.out.finish(at);
  parse.flush(true);
}

namespace {

// The child's address space may grow by this much past what it has at start.
constexpr uint64_t kChildMemoryBudget = 1ull << 30;
// Processor seconds the child may use.
constexpr rlim_t kChildCpuSeconds = 30;

uint64_t currentAddressSpace() {
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0;
  statm >> pages;
  return pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

void limitChild() {
  rlimit cpu{kChildCpuSeconds, kChildCpuSeconds + 1};
  ::setrlimit(RLIMIT_CPU, &cpu);
  uint64_t budget = kChildMemoryBudget;
  if (const char* env = std::getenv("TABULIX_STAT_READER_MEMORY_MB"); env && *env)
    budget = std::strtoull(env, nullptr, 10) << 20;
  if (uint64_t now = currentAddressSpace(); now > 0) {
    rlimit as{now + budget, now + budget};
    ::setrlimit(RLIMIT_AS, &as);
  }
  rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
  ::setrlimit(RLIMIT_FSIZE, &none);
}

}  // namespace

int statFileChildMain(int argc, char** argv) {
  if (argc != 4) return 2;
  // Nothing inherited beyond the three standard descriptors stays open.
  ::close_range(3, ~0u, 0);
  ::signal(SIGPIPE, SIG_IGN);
  limitChild();
  std::optional<StatFormat> format = statFormatForExtension(argv[1]);
  if (!format) return 2;
  long rowLimit = std::strtol(argv[2], nullptr, 10);
  bool ok = true;
  parseStatFile(*format, argv[3], std::nullopt, rowLimit, [&](std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::write(1, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return ok = false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  });
  return ok ? 0 : 1;
}

}  // namespace tabulix
