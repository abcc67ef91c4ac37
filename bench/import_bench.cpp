// Whole imports of generated mixed CSV files: reading, storing, every
// variable's statistics and type.
//   import_bench --generate FILE ROWS COLS   writes a data file and exits
//   import_bench [benchmark flags]           imports IMPORT_BENCH_FILE (or a
//                                            generated 100,000 x 20 file)
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "import/documents.h"
#include "import/file_importer.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

// Columns cycle through numbers, categories, yes/no and dates; about 2% of
// the cells are empty.
void generate(const fs::path& file, int rows, int cols) {
  std::mt19937_64 rng(20261205);
  std::uniform_real_distribution<double> u(0, 1);
  const char* cats[] = {"north", "south", "east", "west", "centre", "islands"};
  std::ofstream out(file);
  for (int c = 0; c < cols; ++c) out << (c ? "," : "") << "v" << c;
  out << "\n";
  char buf[64];
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      if (c) out << ',';
      if (u(rng) < 0.02) continue;
      switch (c % 5) {
        case 0:
        case 1: std::snprintf(buf, sizeof buf, "%.3f", 50 + 15 * (u(rng) + u(rng) + u(rng) - 1.5)); out << buf; break;
        case 2: out << cats[static_cast<int>(u(rng) * 6)]; break;
        case 3: out << (u(rng) < 0.4 ? "yes" : "no"); break;
        default:
          std::snprintf(buf, sizeof buf, "%02d/%02d/%d", 1 + static_cast<int>(u(rng) * 12),
                        1 + static_cast<int>(u(rng) * 28), 2000 + static_cast<int>(u(rng) * 24));
          out << buf;
      }
    }
    out << "\n";
  }
}

fs::path benchFile() {
  if (const char* f = std::getenv("IMPORT_BENCH_FILE"); f && *f) return f;
  fs::path p = fs::temp_directory_path() / "tabulix-import-100000x20.csv";
  if (!fs::exists(p)) generate(p, 100000, 20);
  return p;
}

void BM_ImportWholeFile(benchmark::State& state) {
  fs::path data = benchFile();
  fs::path target = fs::temp_directory_path() / "tabulix-import-bench.tbx";
  ImportOutcome r;
  for (auto _ : state) {
    ImportOptions o;
    o.dataFile = data;
    o.target = target;
    r = importDataFile(o, target.parent_path(), {});
    if (r.code != kImportReadToEnd && r.code != kImportLimitReached) state.SkipWithError("import failed");
  }
  state.counters["rows"] = r.observations;
  state.counters["variables"] = r.variables;
  fs::remove(target);
}
BENCHMARK(BM_ImportWholeFile)->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--generate") {
    generate(argv[2], std::stoi(argv[3]), std::stoi(argv[4]));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
