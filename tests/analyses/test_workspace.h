// A workspace in a temporary folder, built from rows of cell texts with the
// statistics and guessed types an import leaves, removed with the object.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/cell_access.h"
#include "engine/workspace_data.h"

namespace tabulix::testing {

// Where the R scripts of tests/reference/ write their reference tables.
inline const std::filesystem::path kReferenceDir =
    std::filesystem::path(TABULIX_SOURCE_DIR) / "tests/data/reference";

// The lines of a plain CSV file (no quoting) split at commas; a line ending
// in a comma ends with an empty field.
inline std::vector<std::vector<std::string>> readCsv(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<std::vector<std::string>> out;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string f;
    while (std::getline(ss, f, ',')) fields.push_back(f);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    out.push_back(fields);
  }
  return out;
}

class TestWorkspace {
 public:
  // Columns named `names`, one row per entry of `rowsData`.
  TestWorkspace(const std::vector<std::string>& names,
                const std::vector<std::vector<std::string>>& rowsData) {
    build(names, rowsData);
  }
  // A table whose first row holds the names.
  explicit TestWorkspace(std::vector<std::vector<std::string>> table) {
    std::vector<std::string> names = table.front();
    table.erase(table.begin());
    build(names, table);
  }
  ~TestWorkspace() { std::filesystem::remove_all(dir); }
  TestWorkspace(const TestWorkspace&) = delete;
  TestWorkspace& operator=(const TestWorkspace&) = delete;

  // The column numbered `num`.
  Column& col(int num) { return *columnNumber(model, static_cast<uint32_t>(num)); }
  // The column named `name`.
  Column& col(const std::string& name) {
    for (Column* c : columns(model))
      if (c->name == name) return *c;
    throw std::runtime_error("no column " + name);
  }

  std::filesystem::path dir;
  Model model;

 private:
  void build(const std::vector<std::string>& names, const std::vector<std::vector<std::string>>& rowsData) {
    char tmpl[] = "/tmp/tabulix-test-XXXXXX";
    dir = mkdtemp(tmpl);
    model.openStore(dir / "w.tbx");
    model.setMetadataValue(".", "decimalSeparator");
    addColumns(model, names);
    auto cols = columns(model);
    for (size_t r = 0; r < rowsData.size(); ++r)
      addRow(model, static_cast<uint32_t>(r + 1), rowsData[r], cols);
    for (Column* c : columns(model)) {
      basicStatsForColumn(model, *c);
      c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
    }
    model.saveContext();
  }
};

}  // namespace tabulix::testing
