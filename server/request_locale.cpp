#include "server/request_locale.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "engine/number_format.h"

namespace tabulix::server {

namespace {

// A browser sends a handful; anything longer is not worth reading through.
constexpr size_t kMaxLanguages = 16;

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The q weight of one "tag;q=0.8" entry: 1 without one, 0 when malformed.
double weight(std::string_view params) {
  while (!params.empty()) {
    size_t semi = params.find(';');
    std::string_view p = trim(params.substr(0, semi));
    params = semi == std::string_view::npos ? std::string_view() : params.substr(semi + 1);
    if (p.size() > 2 && (p[0] == 'q' || p[0] == 'Q') && p[1] == '=') {
      std::string v(p.substr(2));
      char* end = nullptr;
      double q = std::strtod(v.c_str(), &end);
      if (end != v.c_str() + v.size() || !(q >= 0 && q <= 1)) return 0;
      return q;
    }
  }
  return 1;
}

}  // namespace

std::optional<std::string> localeFromAcceptLanguage(std::string_view header) {
  struct Entry {
    std::string_view tag;
    double q;
  };
  std::vector<Entry> entries;
  while (!header.empty() && entries.size() < kMaxLanguages) {
    size_t comma = header.find(',');
    std::string_view item = header.substr(0, comma);
    header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
    size_t semi = item.find(';');
    std::string_view tag = trim(item.substr(0, semi));
    double q = semi == std::string_view::npos ? 1 : weight(item.substr(semi + 1));
    if (!tag.empty() && tag != "*" && q > 0) entries.push_back({tag, q});
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.q > b.q; });
  for (const auto& e : entries)
    if (auto name = supportedLocale(e.tag)) return name;
  return std::nullopt;
}

std::optional<std::string> requestLocale(const httplib::Request& req) {
  if (!req.has_header("Accept-Language")) return std::nullopt;
  return localeFromAcceptLanguage(req.get_header_value("Accept-Language"));
}

std::string languageTag(const std::string& icuName) {
  std::string tag = icuName.substr(0, icuName.find('@'));
  std::replace(tag.begin(), tag.end(), '_', '-');
  return tag;
}

}  // namespace tabulix::server
