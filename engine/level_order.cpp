#include "engine/level_order.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "engine/text_fold.h"
#include "engine/translate.h"
#include "engine/values.h"

namespace tabulix {

std::vector<std::string> storedLevelOrder(const Column& column) {
  std::vector<std::string> out;
  if (!column.levelOrder || column.levelOrder->empty()) return out;
  // A damaged value is no order rather than an error: the default applies.
  nlohmann::json j = nlohmann::json::parse(*column.levelOrder, nullptr, false);
  if (!j.is_array()) return out;
  for (const auto& e : j)
    if (e.is_string()) out.push_back(e.get<std::string>());
  return out;
}

void setStoredLevelOrder(Column& column, const std::vector<std::string>& levels) {
  std::vector<std::string> unique;
  std::unordered_set<std::string> seen;
  for (const std::string& l : levels)
    if (seen.insert(l).second) unique.push_back(l);
  if (unique.empty())
    column.levelOrder.reset();
  else
    column.levelOrder = nlohmann::json(unique).dump();
}

namespace {

// Compares two folded texts, digit runs by value (leading zeros ignored).
int compareNatural(std::string_view a, std::string_view b) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      size_t si = i, sj = j;
      while (si < a.size() && a[si] == '0') ++si;
      while (sj < b.size() && b[sj] == '0') ++sj;
      size_t ei = si, ej = sj;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
      if (int c = a.substr(si, ei - si).compare(b.substr(sj, ej - sj)); c != 0) return c < 0 ? -1 : 1;
      i = ei;
      j = ej;
      continue;
    }
    const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

// The sort key of one level under the default order.
struct LevelKey {
  int group = 0;  // 0 a number or date, 1 another text, 2 the empty text (missing)
  double value = 0;
  std::string folded;
};

}  // namespace

bool naturalLess(std::string_view a, std::string_view b) {
  int c = compareNatural(foldForSearch(a), foldForSearch(b));
  return c != 0 ? c < 0 : a < b;
}

void sortLevels(Model& model, const Column& column, std::vector<std::string>& levels) {
  std::unordered_map<std::string, size_t> userRank;
  std::vector<std::string> stored = storedLevelOrder(column);
  for (size_t k = 0; k < stored.size(); ++k) userRank.emplace(stored[k], k);
  const bool dates = column.type == static_cast<int32_t>(VariableType::DateTime);
  // Keys are made once per level: folding and number reading are far
  // dearer than the comparisons.
  std::unordered_map<std::string, LevelKey> keys;
  for (const std::string& l : levels) {
    if (userRank.count(l)) continue;
    LevelKey k;
    if (l.empty()) {
      // Missing values come last, as R's tables put NA.
      k.group = 2;
    } else {
      std::optional<double> v = dates ? dateForString(model, l) : decimalNumberForString(model, l);
      if (v && std::isfinite(*v)) {
        k.group = 0;
        k.value = *v;
      } else {
        k.group = 1;
        k.folded = foldForSearch(l);
      }
    }
    keys.emplace(l, std::move(k));
  }
  std::sort(levels.begin(), levels.end(), [&](const std::string& a, const std::string& b) {
    auto ua = userRank.find(a), ub = userRank.find(b);
    if (ua != userRank.end() || ub != userRank.end()) {
      if (ua == userRank.end()) return false;
      if (ub == userRank.end()) return true;
      return ua->second < ub->second;
    }
    const LevelKey &ka = keys.at(a), &kb = keys.at(b);
    if (ka.group != kb.group) return ka.group < kb.group;
    if (ka.group == 0 && ka.value != kb.value) return ka.value < kb.value;
    if (ka.group == 1)
      if (int c = compareNatural(ka.folded, kb.folded); c != 0) return c < 0;
    return a < b;
  });
}

TopFrequencies orderedLevels(Model& model, const Column& column, const FrequencyDict& counts, uint32_t top) {
  const bool cut = counts.size() > top;
  TopValues kept = dictionary(counts, cut ? (top > 0 ? top - 1 : 0) : top);
  std::unordered_map<std::string, int64_t> countOf;
  int64_t total = 0, named = 0;
  for (const auto& [level, count] : counts) total += count;
  for (size_t k = 0; k < kept.levels.size(); ++k) {
    countOf[kept.levels[k]] = kept.counts[k];
    named += kept.counts[k];
  }
  TopFrequencies out;
  out.levels = std::move(kept.levels);
  sortLevels(model, column, out.levels);
  for (const std::string& l : out.levels) out.counts.push_back(countOf.at(l));
  if (cut && total - named > 0) {
    out.levels.push_back(tr("Others"));
    out.counts.push_back(total - named);
  }
  double running = 0;
  for (int64_t c : out.counts) {
    running += static_cast<double>(c) / static_cast<double>(total);
    out.cumulative.push_back(running);
  }
  return out;
}

}  // namespace tabulix
