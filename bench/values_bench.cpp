// Reading numbers and dates from cell text, and writing numbers and dates.
//
// Targets: decimalNumberForString >= 20 million plain numbers per second;
// dateForString >= 2 million non-date words and >= 1 million dates per
// second. The *IcuOnly benchmark is the baseline the fast path is measured
// against; the formatter benchmarks show the cost per written figure and
// whether two threads share the formatters without contention.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "engine/date_detector.h"
#include "engine/number_format.h"
#include "engine/number_reading.h"

namespace {

using namespace tabulix;

constexpr size_t kInputs = 1 << 14;

// Numbers as they appear in data files: integers, decimals, negatives, some
// grouped, a few with exponents, written with `decimal` and `grouping`.
std::vector<std::string> plainNumbers(char decimal, char grouping) {
  std::mt19937_64 rng(42);
  auto pick = [&](int n) { return int(rng() % uint64_t(n)); };
  std::vector<std::string> out;
  for (size_t i = 0; i < kInputs; ++i) {
    std::string s;
    if (pick(4) == 0) s += '-';
    const int intDigits = 1 + pick(pick(4) == 0 ? 7 : 3);
    std::string integer;
    for (int d = 0; d < intDigits; ++d)
      integer += char('0' + (d == 0 && intDigits > 1 ? 1 + pick(9) : pick(10)));
    if (intDigits > 3 && pick(3) == 0) {
      std::string grouped;
      for (size_t k = 0; k < integer.size(); ++k) {
        if (k > 0 && (integer.size() - k) % 3 == 0) grouped += grouping;
        grouped += integer[k];
      }
      integer = grouped;
    }
    s += integer;
    if (pick(3) != 0) {
      s += decimal;
      const int fracDigits = 1 + pick(6);
      for (int d = 0; d < fracDigits; ++d) s += char('0' + pick(10));
    }
    if (pick(20) == 0) {
      s += 'E';
      s += std::to_string(pick(30) - 15);
    }
    out.push_back(s);
  }
  return out;
}

std::vector<std::string> cycle(std::initializer_list<const char*> texts) {
  std::vector<std::string> out;
  while (out.size() < kInputs) {
    for (const char* t : texts) out.push_back(t);
  }
  return out;
}

// Texts of categorical columns: none of them is a number or a date.
std::vector<std::string> words() {
  return cycle({"male",    "Female",   "N/A",     "yes",         "no",   "Group A", "12 apples",
                "A12",     "blue",     "Paris",   "high school", "none", "v2.0.1",  "control",
                "treated", "SW1A 1AA", "unknown", "O+",          "",     "x"});
}

std::vector<std::string> dates() {
  return cycle({"2021-03-15", "3/15/2021", "March 15, 2021", "2021-03-15T14:30:00Z", "14:30", "15-Mar-2021",
                "12/31/99", "Mon, 15 Mar 2021 10:00:00 +0000", "2:30 PM", "1990-07-04 08:15"});
}

void readNumbers(benchmark::State& state, const std::vector<std::string>& inputs,
                 const NumberReaders& readers, bool icuOnly) {
  size_t i = 0, found = 0;
  for (auto _ : state) {
    const std::string& text = inputs[i++ & (kInputs - 1)];
    auto v = icuOnly ? readers.icuNumberForString(text) : readers.decimalNumberForString(text);
    found += v.has_value();
    benchmark::DoNotOptimize(v);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["numbers"] = double(found) / double(state.iterations());
}

void BM_DecimalNumberForString_Plain(benchmark::State& state) {
  static const auto inputs = plainNumbers('.', ',');
  static const NumberReaders readers(".");
  readNumbers(state, inputs, readers, false);
}
BENCHMARK(BM_DecimalNumberForString_Plain);

void BM_DecimalNumberForString_PlainComma(benchmark::State& state) {
  static const auto inputs = plainNumbers(',', ' ');
  static const NumberReaders readers(",");
  readNumbers(state, inputs, readers, false);
}
BENCHMARK(BM_DecimalNumberForString_PlainComma);

void BM_DecimalNumberForString_PlainIcuOnly(benchmark::State& state) {
  static const auto inputs = plainNumbers('.', ',');
  static const NumberReaders readers(".");
  readNumbers(state, inputs, readers, true);
}
BENCHMARK(BM_DecimalNumberForString_PlainIcuOnly);

void BM_DecimalNumberForString_Words(benchmark::State& state) {
  static const auto inputs = words();
  static const NumberReaders readers(".");
  readNumbers(state, inputs, readers, false);
}
BENCHMARK(BM_DecimalNumberForString_Words);

void BM_DecimalNumberForString_PercentAndCurrency(benchmark::State& state) {
  static const auto inputs = cycle({"12%", "$1,200", "50%", "$3.50", "-7%", "USD 12"});
  static const NumberReaders readers(".");
  readNumbers(state, inputs, readers, false);
}
BENCHMARK(BM_DecimalNumberForString_PercentAndCurrency);

void readDates(benchmark::State& state, const std::vector<std::string>& inputs) {
  static const DateDetector detector("en_US");
  size_t i = 0, found = 0;
  for (auto _ : state) {
    auto v = detector.dateForString(inputs[i++ & (kInputs - 1)]);
    found += v.has_value();
    benchmark::DoNotOptimize(v);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["dates"] = double(found) / double(state.iterations());
}

void BM_DateForString_NonDates(benchmark::State& state) {
  static const auto inputs = words();
  readDates(state, inputs);
}
BENCHMARK(BM_DateForString_NonDates);

void BM_DateForString_Dates(benchmark::State& state) {
  static const auto inputs = dates();
  readDates(state, inputs);
}
BENCHMARK(BM_DateForString_Dates);

// Dates whose time is followed by a zone name: tz database ids (looked up
// once, then shared) and abbreviations.
void BM_DateForString_ZoneNames(benchmark::State& state) {
  static const auto inputs = cycle({"2024-05-13 14:30 Europe/Paris", "May 13, 2024 2:30 PM EST",
                                    "05/13/2024 9:00 PST", "2024-05-13T14:30:00+02:00[Europe/Paris]",
                                    "2024-01-13 14:30 America/New_York", "2024-05-13 14:30 CEST"});
  readDates(state, inputs);
}
BENCHMARK(BM_DateForString_ZoneNames);

void BM_NumberReaders_Construct(benchmark::State& state) {
  for (auto _ : state) {
    NumberReaders readers(".");
    benchmark::DoNotOptimize(&readers);
  }
}
BENCHMARK(BM_NumberReaders_Construct);

void BM_StringFromNumber(benchmark::State& state) {
  static const auto inputs = [] {
    std::vector<double> v;
    std::mt19937_64 rng(7);
    std::lognormal_distribution<double> magnitude(0, 6);
    for (size_t i = 0; i < kInputs; ++i) v.push_back(magnitude(rng) * (i % 3 ? 1 : -1));
    return v;
  }();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(stringFromNumber(inputs[i++ & (kInputs - 1)]));
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_StringFromNumber)->Threads(1)->Threads(2);

void BM_StringFromDateNumber(benchmark::State& state) {
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(stringFromDateNumber(1.6e9 + double(i++) * 3607.0));
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_StringFromDateNumber)->Threads(1)->Threads(2);

}  // namespace

BENCHMARK_MAIN();
