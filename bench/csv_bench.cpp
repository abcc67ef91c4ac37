// Delimited-text parser and writer speed on a generated 100,000-line,
// 20-column file of about 12 MB.
//
//   csv_bench                          Google Benchmark runs (generates its input)
//   csv_bench --generate=PATH          writes the input file and exits
//   csv_bench --parse=PATH [--repeat=N] parses PATH with sanitizesFields N times
//                                      (default 5) and prints the best wall time
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "bench/csv_gen.h"
#include "import/csv_parser.h"
#include "textio/csv_writer.h"

namespace {

using namespace tabulix;

constexpr int kLines = 100000;

// Counts what a consumer would see, so nothing is optimised away.
struct CountingDelegate : CsvParserDelegate {
  uint64_t fields = 0, characters = 0, lines = 0;
  void parserDidReadField(CsvParser&, std::u16string_view field, int64_t) override {
    ++fields;
    characters += field.size();
  }
  void parserDidEndLine(CsvParser&, uint64_t) override { ++lines; }
};

// What the importer does with each field: UTF-8 text in a reused row.
struct Utf8RowDelegate : CsvParserDelegate {
  std::vector<std::string> row;
  size_t used = 0;
  uint64_t bytes = 0;
  void parserDidBeginLine(CsvParser&, uint64_t) override { used = 0; }
  void parserDidReadField(CsvParser&, std::u16string_view field, int64_t) override {
    if (used == row.size()) row.emplace_back();
    std::string& s = row[used++];
    s.clear();
    appendUtf8(s, field);
    bytes += s.size();
  }
};

const std::filesystem::path& inputFile() {
  static const std::filesystem::path path = [] {
    auto p = std::filesystem::temp_directory_path() / "tabulix_csv_bench.csv";
    std::string text;
    bench::generateCsv(text, kLines);
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }();
  return path;
}

template <typename Delegate>
uint64_t parseFile(const std::filesystem::path& path, bool sanitize, Delegate& d) {
  CsvParser parser(std::make_unique<FileByteSource>(path), nullptr, u',');
  parser.setSanitizesFields(sanitize);
  parser.setDelegate(&d);
  parser.parse();
  return parser.totalBytesRead();
}

void BM_ParseFile(benchmark::State& state) {
  const bool sanitize = state.range(0) != 0;
  uint64_t bytes = 0;
  for (auto _ : state) {
    CountingDelegate d;
    bytes = parseFile(inputFile(), sanitize, d);
    benchmark::DoNotOptimize(d.characters);
    state.counters["fields"] = static_cast<double>(d.fields);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}
BENCHMARK(BM_ParseFile)->Arg(1)->Arg(0)->ArgName("sanitize")->Unit(benchmark::kMillisecond);

void BM_ParseFileToUtf8Rows(benchmark::State& state) {
  uint64_t bytes = 0;
  for (auto _ : state) {
    Utf8RowDelegate d;
    bytes = parseFile(inputFile(), true, d);
    benchmark::DoNotOptimize(d.bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}
BENCHMARK(BM_ParseFileToUtf8Rows)->Unit(benchmark::kMillisecond);

void BM_WriteCsvToString(benchmark::State& state) {
  std::vector<std::string> row = {"12345", "678.90", "Smith, J", "2021-03-04", "red", "",    "say \"hi\"",
                                  "0.125", "yes",    "A",        "1",          "22",  "333", "4444",
                                  "5",     "66",     "777",      "8888",       "9",   "fine"};
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out;
    out.reserve(13 << 20);
    {
      auto w = CsvWriter::initForWritingToString(out);
      for (int i = 0; i < kLines; ++i) w->writeLineOfFields(row);
    }
    benchmark::DoNotOptimize(out.data());
    bytes = out.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}
BENCHMARK(BM_WriteCsvToString)->Unit(benchmark::kMillisecond);

int generateMode(const char* path) {
  std::string text;
  bench::generateCsv(text, kLines);
  std::ofstream out(path, std::ios::binary);
  out << text;
  return out ? 0 : 1;
}

int parseMode(const char* path, int repeat) {
  double best = 1e9;
  CountingDelegate last;
  for (int i = 0; i < repeat; ++i) {
    CountingDelegate d;
    auto t0 = std::chrono::steady_clock::now();
    parseFile(path, true, d);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    best = std::min(best, s);
    last = d;
  }
  std::printf("%.4f seconds (best of %d), %llu lines, %llu fields\n", best, repeat,
              static_cast<unsigned long long>(last.lines), static_cast<unsigned long long>(last.fields));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* parsePath = nullptr;
  int repeat = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--generate=", 11) == 0) return generateMode(argv[i] + 11);
    if (std::strncmp(argv[i], "--parse=", 8) == 0) parsePath = argv[i] + 8;
    if (std::strncmp(argv[i], "--repeat=", 9) == 0) repeat = std::max(1, std::atoi(argv[i] + 9));
  }
  if (parsePath) return parseMode(parsePath, repeat);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove(inputFile());
  return 0;
}
