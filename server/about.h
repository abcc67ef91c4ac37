// What the About screen shows: the program's name and version and the
// licences of the libraries it is built with.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tabulix::server {

// A library the program uses, its licence and where Debian keeps its terms.
struct Dependency {
  std::string name;
  std::string purpose;
  std::string licence;
  std::string debianPackage;  // its /usr/share/doc/<package>/copyright holds the full terms
};

// The libraries of the program and its web interface.
const std::vector<Dependency>& dependencies();
// The About screen's data: name, version, dependencies.
nlohmann::json aboutJson();
// The full licence terms of the dependency at an index, when installed.
std::optional<std::string> licenceText(size_t index);

}  // namespace tabulix::server
