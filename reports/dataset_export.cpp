#include "reports/dataset_export.h"

#include <algorithm>
#include <span>
#include <stdexcept>

#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "reports/output_file.h"
#include "textio/csv_writer.h"

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
  OutputFile output(file);
  auto writer = CsvWriter::initForWritingToCSVFile(output.path());
  std::vector<Column*> cols = columns(model);
  std::vector<int32_t> nums;
  std::vector<std::string> header;
  for (Column* c : cols) {
    nums.push_back(c->num.value_or(-1));
    header.push_back(c->name.value_or(""));
  }
  writer->writeLineOfFields(header);
  const size_t total = chosen ? chosen->size() : model.context().countRows();
  const size_t width = cols.size();
  // One batch's texts, row by row in ascending row order; the strings keep
  // their storage from batch to batch.
  std::vector<std::string> texts;
  std::vector<int32_t> ascending;
  std::vector<size_t> slotOf;  // batch index -> row slot in `texts`
  for (size_t start = 0; start < total; start += kBatchRows) {
    const size_t end = std::min(total, start + kBatchRows);
    ascending.clear();
    for (size_t i = start; i < end; ++i)
      ascending.push_back(chosen ? (*chosen)[i] : static_cast<int32_t>(i + 1));
    const bool inOrder = std::is_sorted(ascending.begin(), ascending.end());
    if (!inOrder) std::sort(ascending.begin(), ascending.end());
    ascending.erase(std::unique(ascending.begin(), ascending.end()), ascending.end());
    texts.resize(ascending.size() * width);
    for (auto& t : texts) t.clear();
    // Column by column over the batch's rows, straight from the cell chunks.
    for (size_t k = 0; k < width; ++k) {
      size_t slot = 0;
      model.context().forEachCellOfColumn(nums[k], &ascending,
                                          [&](int32_t row, std::optional<std::string_view> data) {
                                            while (slot < ascending.size() && ascending[slot] < row) ++slot;
                                            if (slot < ascending.size() && ascending[slot] == row && data)
                                              texts[slot * width + k].assign(*data);
                                          });
    }
    slotOf.clear();
    for (size_t i = start; i < end; ++i) {
      int32_t row = chosen ? (*chosen)[i] : static_cast<int32_t>(i + 1);
      slotOf.push_back(inOrder
                           ? i - start
                           : static_cast<size_t>(std::lower_bound(ascending.begin(), ascending.end(), row) -
                                                 ascending.begin()));
    }
    for (size_t i = start; i < end; ++i) {
      const size_t slot = slotOf[i - start];
      writer->writeLineOfFields(std::span<const std::string>(texts.data() + slot * width, width));
      const int32_t row = ascending[slot];
      // Progress at row numbers 100, 200, ... (the chosen rows' own numbers).
      if (progress && row % 100 == 0) progress(static_cast<size_t>(row), total);
    }
    model.context().releaseCellMemory();
    // A full disk stops the export at once rather than after every row.
    if (!writer->good()) break;
  }
  writer->closeStream();
  output.commit(writer->good(), writer->error());
}

}  // namespace tabulix::reports
