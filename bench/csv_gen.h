// Generator of a realistic delimited-text benchmark input: a header and rows of
// 20 columns mixing ids, decimals, counts, categories, dates, free text with
// quotes and commas, and missing values. Deterministic for a given seed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace tabulix::bench {

// Appends `lines` lines (header included) of 20 comma-separated fields to
// `out`; about 120 bytes a line.
inline void generateCsv(std::string& out, int lines, uint32_t seed = 20240601) {
  std::mt19937 rng(seed);
  static const char* const colours[] = {"red", "green", "blue", "yellow", "black", "white", "orange"};
  static const char* const names[] = {"\"Smith, J\"", "\"O'Neil, K\"", "Lee", "\"Wu \"\"Jr\"\"\"", "Garcia"};
  static const char* const yesNo[] = {"yes", "no"};
  out += "id,price,qty,colour,date,name,score,flag,group,ratio,a1,a2,a3,a4,a5,b1,b2,b3,b4,note\n";
  char buf[64];
  // Draws in a fixed order (function arguments have none), so the file is the
  // same with every compiler.
  auto draw = [&rng](unsigned bound) { return static_cast<unsigned>(rng() % bound); };
  for (int row = 1; row < lines; ++row) {
    int n = std::snprintf(buf, sizeof buf, "%d,", row);
    out.append(buf, n);
    unsigned whole = draw(10000), cents = draw(100);
    n = std::snprintf(buf, sizeof buf, "%u.%02u,", whole, cents);
    out.append(buf, n);
    n = std::snprintf(buf, sizeof buf, "%u,", draw(50));
    out.append(buf, n);
    out += colours[draw(7)];
    out += ',';
    unsigned year = draw(24), month = 1 + draw(12), day = 1 + draw(28);
    n = std::snprintf(buf, sizeof buf, "20%02u-%02u-%02u,", year, month, day);
    out.append(buf, n);
    out += names[draw(5)];
    out += ',';
    unsigned units = draw(100), tenths = draw(10);
    n = std::snprintf(buf, sizeof buf, "%u.%u,", units, tenths);
    out.append(buf, n);
    out += yesNo[draw(2)];
    out += ',';
    out += static_cast<char>('A' + draw(6));
    out += ',';
    n = std::snprintf(buf, sizeof buf, "0.%03u,", draw(1000));
    out.append(buf, n);
    for (int k = 0; k < 9; ++k) {
      if (draw(20) == 0) {
        out += ',';  // missing value
        continue;
      }
      n = std::snprintf(buf, sizeof buf, "%u,", draw(100000));
      out.append(buf, n);
    }
    out += draw(4) == 0 ? "\"late, ok\"" : "all fine";
    out += '\n';
  }
}

}  // namespace tabulix::bench
