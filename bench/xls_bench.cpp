// .xls reading speed: a 65,535-row, 20-column sheet read and every cell
// converted to text (numbers, shared strings, dates).
//
//   xls_bench                           Google Benchmark runs over a workbook
//                                       built in memory (RK, NUMBER, LABELSST
//                                       and date cells)
//   xls_bench --read=PATH [--repeat=N]  reads sheet 0 of PATH N times (default
//                                       5) and prints the best wall and CPU
//                                       times in seconds, the lines and fields
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "import/xls_import.h"
#include "tests/import/xls_test_util.h"

namespace {

using namespace tabulix;
using namespace tabulix::xlstest;

constexpr int kRows = 65535;
constexpr int kColumns = 20;

// Counts what a consumer would see, so nothing is optimised away.
struct Count {
  uint64_t lines = 0, fields = 0, bytes = 0;
  XlsLineHandler handler() {
    return [this](uint64_t, const std::vector<std::string>& f) {
      ++lines;
      fields += f.size();
      for (const auto& s : f) bytes += s.size();
      return true;
    };
  }
};

Bytes generatedWorkbook() {
  Bytes sst;
  put32(sst, 1000);
  put32(sst, 1000);
  for (int i = 0; i < 1000; ++i) {
    const std::string s = "level " + std::to_string(i);
    put16(sst, static_cast<uint32_t>(s.size()));
    sst.push_back(0);
    putBytes(sst, s);
  }
  Bytes xfGeneral(20, 0), xfDate(20, 0);
  xfDate[2] = 14;
  SheetSpec sheet{"Data", 0, {}};
  uint32_t seed = 1;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      if (c < 8) {
        sheet.records.push_back(number(r, c, (next() % 1000000) / 997.0));
      } else if (c < 12) {
        Bytes d = cell(r, c);
        put32(d, (next() % 100000) << 2 | 2);  // an integer RK
        sheet.records.push_back(record(0x027E, d));
      } else if (c < 18) {
        Bytes d = cell(r, c);
        put32(d, next() % 1000);
        sheet.records.push_back(record(0x00FD, d));
      } else {
        sheet.records.push_back(number(r, c, 40000 + next() % 5000, 1));
      }
    }
  }
  return compoundFile(
      workbookStream({record(0x00E0, xfGeneral), record(0x00E0, xfDate), record(0x00FC, sst)}, {sheet}));
}

void BM_ReadXlsSheet(benchmark::State& state) {
  static const Bytes file = generatedWorkbook();
  for (auto _ : state) {
    Count count;
    readXlsSheetFromMemory(file, 0, count.handler());
    benchmark::DoNotOptimize(count.bytes);
    if (count.lines != kRows) state.SkipWithError("wrong line count");
  }
  state.SetItemsProcessed(state.iterations() * kRows * kColumns);
}
BENCHMARK(BM_ReadXlsSheet)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  int repeat = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--read=", 7) == 0) path = argv[i] + 7;
    if (std::strncmp(argv[i], "--repeat=", 9) == 0) repeat = std::stoi(argv[i] + 9);
  }
  if (!path.empty()) {
    // Wall and CPU time: on a shared machine the CPU time is the steadier one.
    double best = 1e300, bestCpu = 1e300;
    Count last;
    for (int i = 0; i < repeat; ++i) {
      Count count;
      const auto t0 = std::chrono::steady_clock::now();
      const std::clock_t c0 = std::clock();
      readXlsSheet(path, 0, count.handler());
      bestCpu = std::min(bestCpu, static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC);
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      last = count;
    }
    std::cout << best << ' ' << bestCpu << ' ' << last.lines << ' ' << last.fields << '\n';
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
