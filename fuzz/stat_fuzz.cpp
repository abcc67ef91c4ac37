// libFuzzer target for the SPSS, Stata and SAS reader over an in-memory file.
//
// The first byte picks the format (its value modulo 5: .sav, .por, .dta,
// .sas7bdat, .xpt); the rest is the file. ReadStat parses it in this process
// (the importer runs the same parse in a child process), its frames go
// through the decoder, and the lines must come numbered 1, 2, 3, ... with
// every row as wide as the names line, the whole ending in exactly one
// finish. Anything else (a crash, leak or hang, in ReadStat or in our
// code) is a finding.
//
// Seeds (fuzz/corpus/stat): the files of tests/data/stat, each behind its
// format byte (fuzz/make_stat_seeds.sh).
#include <cstdint>
#include <span>
#include <string>

#include "engine/log.h"
#include "import/stat_file_reader.h"

namespace {

using namespace tabulix;

#define REQUIRE(cond) \
  if (!(cond)) __builtin_trap()

struct Check : ImportLineSink {
  uint64_t expected = 1;
  size_t width = 0;
  int finishes = 0;
  bool started = false;
  void readerDidStart() override { started = true; }
  void readerDidDescribeFile(const ImportFileDescription& d) override {
    REQUIRE(started && expected == 1);
    width = d.variableLabels.size();
  }
  bool readerDidReadLine(uint64_t n, std::span<const std::string> fields) override {
    REQUIRE(n == expected++);
    REQUIRE(fields.size() == width && width > 0);
    return true;
  }
  void readerDidFinish(const CsvError& e) override {
    ++finishes;
    REQUIRE(e.code == -1 || e.code == 2);
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setLogSink([](std::string_view) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const StatFormat formats[] = {StatFormat::Sav, StatFormat::Por, StatFormat::Dta,
                                       StatFormat::Sas7bdat, StatFormat::Xport};
  Check sink;
  readStatFileFromMemory(formats[data[0] % 5], std::span<const uint8_t>(data + 1, size - 1), 2000, sink);
  REQUIRE(sink.finishes == 1);
  return 0;
}
