#include "engine/missing_codes.h"

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>
#include <optional>

namespace tabulix {
namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A number written with a point, as codes are given; nothing else (no
// grouping, no locale): a code is compared with the cells' own texts.
std::optional<double> plainNumber(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

}  // namespace

std::vector<std::string> storedMissingCodes(const Column& column) {
  std::vector<std::string> out;
  if (!column.missingCodes || column.missingCodes->empty()) return out;
  // A damaged value declares nothing rather than failing every reader.
  nlohmann::json j = nlohmann::json::parse(*column.missingCodes, nullptr, false);
  if (!j.is_array()) return out;
  for (const auto& e : j)
    if (e.is_string() && out.size() < kMaxMissingCodes) out.push_back(e.get<std::string>());
  return out;
}

void setStoredMissingCodes(Column& column, const std::vector<std::string>& codes) {
  std::vector<std::string> kept;
  for (const std::string& c : codes) {
    std::string t(trimmed(c));
    if (!t.empty() && std::find(kept.begin(), kept.end(), t) == kept.end()) kept.push_back(t);
  }
  if (kept.empty())
    column.missingCodes.reset();
  else
    column.missingCodes = nlohmann::json(kept).dump();
}

MissingCodes::MissingCodes(const Column& column) {
  for (std::string& c : storedMissingCodes(column)) {
    if (auto v = plainNumber(c)) numbers_.push_back(*v);
    texts_.push_back(std::move(c));
  }
}

bool MissingCodes::matches(std::string_view text) const {
  text = trimmed(text);
  if (text.empty()) return false;
  for (const std::string& t : texts_)
    if (t == text) return true;
  if (numbers_.empty()) return false;
  auto v = plainNumber(text);
  return v && std::find(numbers_.begin(), numbers_.end(), *v) != numbers_.end();
}

}  // namespace tabulix
