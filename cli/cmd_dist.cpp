// tabulix dist FUNCTION ARG...: a probability calculator over the distribution
// routines. Prints the result as the shortest decimal that reads back as the
// same double, or "nan", "inf", "-inf".
#include <charconv>
#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/commands.h"
#include "engine/translate.h"
#include "stats/distributions.h"

namespace tabulix::cli {
namespace {

using D = Distributions;

// One routine: its name, its parameter names (for the usage text), which of
// them are whole numbers, and the call.
struct Routine {
  std::string_view name;
  std::vector<std::string_view> params;
  std::vector<bool> whole;
  std::function<double(std::span<const double>)> call;
};

const std::vector<Routine>& routines() {
  using A = std::span<const double>;
  static const std::vector<Routine> all = {
      {"normcdfz", {"z"}, {}, [](A a) { return D::normcdfz(a[0]); }},
      {"normcdf", {"x", "mean", "stdDev"}, {}, [](A a) { return D::normcdf(a[0], a[1], a[2]); }},
      {"dnormpdf", {"x", "mean", "stdDev"}, {}, [](A a) { return D::dnormpdf(a[0], a[1], a[2]); }},
      {"normZForConfidence", {"p"}, {}, [](A a) { return D::normZForConfidence(a[0]); }},
      {"dtpdf", {"x", "mean", "stdDev", "df"}, {}, [](A a) { return D::dtpdf(a[0], a[1], a[2], a[3]); }},
      {"tcdf", {"t", "df"}, {}, [](A a) { return D::tcdf(a[0], a[1]); }},
      {"tcdf", {"x", "mean", "stdDev", "df"}, {}, [](A a) { return D::tcdf(a[0], a[1], a[2], a[3]); }},
      {"tForConfidence", {"p", "df"}, {}, [](A a) { return D::tForConfidence(a[0], a[1]); }},
      {"chicdf", {"x", "df"}, {}, [](A a) { return D::chicdf(a[0], a[1]); }},
      {"chiXForConfidence", {"p", "df"}, {}, [](A a) { return D::chiXForConfidence(a[0], a[1]); }},
      {"chiXForConfidence", {"p"}, {}, [](A a) { return D::chiXForConfidence(a[0]); }},
      {"dchipdf", {"x", "mean", "obs"}, {}, [](A a) { return D::dchipdf(a[0], a[1], a[2]); }},
      {"fcdf", {"f", "df1", "df2"}, {}, [](A a) { return D::fcdf(a[0], a[1], a[2]); }},
      {"bipdf",
       {"x", "mean", "obs"},
       {true, false, true},
       [](A a) { return D::bipdf(int(a[0]), a[1], int(a[2])); }},
      {"dbipdf", {"x", "mean", "obs"}, {}, [](A a) { return D::dbipdf(a[0], a[1], a[2]); }},
      {"bicdf",
       {"x", "mean", "obs"},
       {true, false, true},
       [](A a) { return D::bicdf(int(a[0]), a[1], int(a[2])); }},
      {"biLowerTail",
       {"x", "mean", "obs"},
       {true, false, true},
       [](A a) { return D::biLowerTail(int(a[0]), a[1], int(a[2])); }},
      {"biUpperTail",
       {"x", "mean", "obs"},
       {true, false, true},
       [](A a) { return D::biUpperTail(int(a[0]), a[1], int(a[2])); }},
      {"p_gamma", {"a", "x"}, {}, [](A a) { return D::p_gamma(a[0], a[1]); }},
      {"q_gamma", {"a", "x"}, {}, [](A a) { return D::q_gamma(a[0], a[1]); }},
      {"logBeta", {"a", "b"}, {}, [](A a) { return D::logBeta(a[0], a[1]); }},
      {"betaFunction", {"a", "b"}, {}, [](A a) { return D::betaFunction(a[0], a[1]); }},
      {"incompleteBeta", {"x", "a", "b"}, {}, [](A a) { return D::incompleteBeta(a[0], a[1], a[2]); }},
      {"binomialTerm",
       {"n", "k", "p"},
       {true, true, false},
       [](A a) { return D::binomialTerm(int(a[0]), int(a[1]), a[2]); }},
      {"roundHalfUp", {"x"}, {}, [](A a) { return D::roundHalfUp(a[0]); }},
  };
  return all;
}

std::string usage() {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on chains of
  // std::string operator+ at -O3.
  std::string text = tr("usage: tabulix dist FUNCTION ARG...");
  text += '\n';
  text += tr("functions:");
  text += '\n';
  for (const Routine& r : routines()) {
    text += "  ";
    text += r.name;
    for (std::string_view p : r.params) {
      text += ' ';
      text += p;
    }
    text += '\n';
  }
  return text;
}

// A number in C-locale syntax ("inf" and "nan" included); the whole text must be used.
bool parseNumber(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

bool parseWhole(const std::string& text, double& value) {
  int n = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, n);
  value = n;
  return ec == std::errc() && ptr == end && !text.empty();
}

std::string formatResult(double v) {
  if (std::isnan(v)) return "NaN";  // the one text for not-a-number, as in every export
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, ptr) : std::string("NaN");
}

CommandResult run(const std::vector<std::string>& words) {
  if (words.empty()) {
    std::cerr << usage();
    return 2;
  }
  const std::string& name = words[0];
  const std::size_t count = words.size() - 1;
  const Routine* chosen = nullptr;
  bool known = false;
  for (const Routine& r : routines()) {
    if (r.name != name) continue;
    known = true;
    if (r.params.size() == count) chosen = &r;
  }
  if (!chosen) {
    std::cerr << (known ? tr("tabulix dist: wrong number of arguments for ")
                        : tr("tabulix dist: unknown function "))
              << name << "\n"
              << usage();
    return 2;
  }
  std::vector<double> args(count);
  for (std::size_t i = 0; i < count; ++i) {
    const bool whole = i < chosen->whole.size() && chosen->whole[i];
    const bool ok = whole ? parseWhole(words[i + 1], args[i]) : parseNumber(words[i + 1], args[i]);
    if (!ok) {
      std::cerr << (whole ? tr("tabulix dist: not a whole number: ") : tr("tabulix dist: not a number: "))
                << words[i + 1] << "\n"
                << usage();
      return 2;
    }
  }
  std::cout << formatResult(chosen->call(args)) << "\n";
  return 0;
}

const RegisterCommand kDist{{
    "dist",
    "Evaluate a probability distribution routine: dist FUNCTION ARG...",
    [](CLI::App& app) -> std::function<CommandResult()> {
      // Everything after `dist` is taken as it stands, so that negative
      // numbers such as -1.96 are arguments rather than options.
      app.prefix_command();
      return [&app] { return run(app.remaining()); };
    },
}};

}  // namespace
}  // namespace tabulix::cli
