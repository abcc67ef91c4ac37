// libFuzzer target for the importer's side of the SPSS, Stata and SAS
// reader: arbitrary bytes as if from a child process gone wrong, fed to the
// frame decoder in pieces whose sizes the first byte chooses. Lines must come
// numbered 1, 2, 3, ..., rows as wide as the names line; nothing may crash,
// leak or hang whatever the frames claim.
//
// Seeds (fuzz/corpus/stat_frames): the frames the parser writes for the files
// of tests/data/stat (tabulix-read-stat's output, fuzz/make_stat_seeds.sh).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/log.h"
#include "import/stat_file_reader.h"

namespace {

using namespace tabulix;

#define REQUIRE(cond) \
  if (!(cond)) __builtin_trap()

struct Check : ImportLineSink {
  uint64_t expected = 1;
  size_t width = 0;
  void readerDidStart() override {}
  void readerDidDescribeFile(const ImportFileDescription& d) override {
    REQUIRE(expected == 1);
    width = d.variableLabels.size();
  }
  bool readerDidReadLine(uint64_t n, std::span<const std::string> fields) override {
    REQUIRE(n == expected++);
    REQUIRE(fields.size() == width);
    return n < 5000;
  }
  void readerDidFinish(const CsvError&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setLogSink([](std::string_view) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = 1 + data[0] % 97;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  Check sink;
  StatFrameDecoder decoder(static_cast<StatFormat>(data[0] % 5), "(frames)", sink);
  while (!rest.empty()) {
    size_t n = std::min(piece, rest.size());
    if (!decoder.feed(rest.substr(0, n))) break;
    rest.remove_prefix(n);
  }
  return 0;
}
