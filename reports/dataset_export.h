// The data set as delimited text: a header of every variable's name in
// list order, then one line per chosen row with its cells exactly as stored.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "engine/model.h"

namespace tabulix::reports {

// Writes the rows (all rows 1…countRows when none are given; else these, in
// the order given) of the model's workspace to a CSV file. `progress` hears
// (row number, total) at row numbers 100, 200, .... Reads only; the cells are read a few
// thousand rows at a time and the context is released between batches, so
// memory stays bounded. Throws ExportError (naming the file and the reason)
// when the file cannot be written, leaving no partial file under its name.
void exportDataset(Model& model, const std::filesystem::path& file,
                   const std::optional<std::vector<int32_t>>& rows,
                   const std::function<void(size_t row, size_t total)>& progress = {});

// The progress text: "Exporting dataset...\nLine %d of %d".
std::string exportProgressText(size_t row, size_t total);

}  // namespace tabulix::reports
