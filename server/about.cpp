#include "server/about.h"

#include <fstream>
#include <sstream>

#include "engine/translate.h"

namespace tabulix::server {

const std::vector<Dependency>& dependencies() {
  static const std::vector<Dependency> list = {
      {"SQLite", "workspace files", "Public domain", "libsqlite3-0"},
      {"ICU", "reading and writing numbers and dates, text search", "Unicode License v3", "libicu72"},
      {"BLAS and LAPACK", "least squares and matrix steps", "BSD-3-Clause", "liblapack3"},
      {"nlohmann/json", "JSON results and the server's API", "MIT", "nlohmann-json3-dev"},
      {"cpp-httplib", "the HTTP server", "MIT", "libcpp-httplib0.11"},
      {"OpenSSL", "linked by the HTTP library", "Apache-2.0", "libssl3"},
      {"zlib", "compressed data", "Zlib", "zlib1g"},
      {"Brotli", "linked by the HTTP library", "MIT", "libbrotli1"},
      {"CLI11", "the command line", "BSD-3-Clause", "libcli11-dev"},
      {"cmark", "the glossary's texts", "BSD-2-Clause", "libcmark0.30.2"},
      {"Preact", "the web interface", "MIT", ""},
  };
  return list;
}

nlohmann::json aboutJson() {
  nlohmann::json deps = nlohmann::json::array();
  for (size_t i = 0; i < dependencies().size(); ++i) {
    const auto& d = dependencies()[i];
    deps.push_back({{"index", i},
                    {"name", d.name},
                    {"purpose", tr(d.purpose)},
                    {"licence", d.licence},
                    {"hasText", licenceText(i).has_value()}});
  }
  return {{"name", "Tabulix"}, {"version", TABULIX_VERSION}, {"dependencies", deps}};
}

std::optional<std::string> licenceText(size_t index) {
  if (index >= dependencies().size() || dependencies()[index].debianPackage.empty()) return std::nullopt;
  std::ifstream in("/usr/share/doc/" + dependencies()[index].debianPackage + "/copyright");
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace tabulix::server
