#include "reports/dataset_export.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "import/csv_writer.h"

namespace tabulix::reports {

namespace {
constexpr size_t kBatchRows = 4096;
}

std::string exportProgressText(size_t row, size_t total) {
  return fillPlaceholders(tr("Exporting dataset...\nLine %d of %d"),
                          {std::to_string(row), std::to_string(total)});
}

void exportDataset(Model& model, const std::filesystem::path& file,
                   const std::optional<std::vector<int32_t>>& chosen,
                   const std::function<void(size_t, size_t)>& progress) {
  auto writer = CsvWriter::initForWritingToCSVFile(file);
  if (!writer) throw std::runtime_error("cannot write " + file.string());
  std::vector<Column*> cols = columns(model);
  std::map<int32_t, size_t> indexOfNum;
  std::vector<std::string> header;
  for (size_t i = 0; i < cols.size(); ++i) {
    indexOfNum[cols[i]->num.value_or(-1)] = i;
    header.push_back(cols[i]->name.value_or(""));
  }
  writer->writeLineOfFields(header);
  const size_t total = chosen ? chosen->size() : model.context().countRows();
  std::vector<std::string> line(cols.size());
  for (size_t start = 0; start < total; start += kBatchRows) {
    const size_t end = std::min(total, start + kBatchRows);
    std::vector<int32_t> batch;
    for (size_t i = start; i < end; ++i) batch.push_back(chosen ? (*chosen)[i] : static_cast<int32_t>(i + 1));
    // The cell fetch wants ascending rows; the lines follow the given order.
    std::vector<int32_t> ascending = batch;
    std::sort(ascending.begin(), ascending.end());
    CellFetch fetch;
    fetch.rowNums = &ascending;
    fetch.sort = {{CellKey::RowNum, true}, {CellKey::ColNum, true}};
    std::vector<Cell> cells = model.context().fetchCells(fetch);
    std::map<int32_t, std::pair<size_t, size_t>> spanOfRow;  // row -> [first, last) in cells
    for (size_t c = 0; c < cells.size();) {
      size_t d = c;
      while (d < cells.size() && cells[d].rowNum == cells[c].rowNum) ++d;
      spanOfRow[cells[c].rowNum.value_or(0)] = {c, d};
      c = d;
    }
    for (size_t i = 0; i < batch.size(); ++i) {
      std::fill(line.begin(), line.end(), std::string());
      if (auto it = spanOfRow.find(batch[i]); it != spanOfRow.end())
        for (size_t c = it->second.first; c < it->second.second; ++c)
          if (auto col = indexOfNum.find(cells[c].colNum.value_or(-1)); col != indexOfNum.end())
            line[col->second] = cells[c].data.value_or("");
      writer->writeLineOfFields(line);
      // Progress at row numbers 100, 200, ... (the chosen rows' own numbers).
      if (progress && batch[i] % 100 == 0) progress(static_cast<size_t>(batch[i]), total);
    }
    model.context().releaseCellMemory();
  }
  writer->closeStream();
}

}  // namespace tabulix::reports
