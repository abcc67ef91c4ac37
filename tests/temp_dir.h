// A folder under /tmp for one test, removed with everything in it when the
// object goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace tabulix::testing {

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    char tmpl[] = "/tmp/tabulix-test-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Writes `content` to the file `name` inside the folder and returns its path.
  std::filesystem::path write(const std::string& name, const std::string& content) {
    std::filesystem::create_directories((path / name).parent_path());
    std::ofstream(path / name, std::ios::binary) << content;
    return path / name;
  }
};

}  // namespace tabulix::testing
