#include <sqlite3.h>

#include <algorithm>
#include <cassert>
#include <iterator>
#include <map>
#include <set>

#include "engine/cell_chunk.h"
#include "engine/sql.h"
#include "engine/store.h"

namespace tabulix {

namespace fs = std::filesystem;
using namespace storage;

// --- cells --------------------------------------------------------------------

CellChunk& Context::chunk(int32_t colNum, int32_t first) {
  auto key = ChunkKey{colNum, first};
  auto it = chunks_.find(key);
  if (it != chunks_.end()) return *it->second;
  auto c = std::make_unique<CellChunk>();
  bool deleted =
      std::find(deletedColumnNums_.begin(), deletedColumnNums_.end(), colNum) != deletedColumnNums_.end();
  if (db_ && !deleted) {
    Stmt s(db_, "SELECT cells FROM cell_chunks WHERE colNum=? AND firstRow=?");
    s.bindInt64(1, colNum);
    s.bindInt64(2, first);
    if (s.step()) c->decode(s.blob(0));
  }
  return *chunks_.emplace(key, std::move(c)).first->second;
}

void Context::forEachCellOfColumn(
    int32_t colNum, const std::vector<int32_t>* rowNums,
    const std::function<void(int32_t rowNum, std::optional<std::string_view> data)>& fn) {
  bool deleted =
      std::find(deletedColumnNums_.begin(), deletedColumnNums_.end(), colNum) != deletedColumnNums_.end();
  // Stored chunks and chunks held in memory, in row order; memory wins.
  std::map<int32_t, const CellChunk*> order;
  std::vector<std::unique_ptr<CellChunk>> temporary;
  auto lo = chunks_.lower_bound(ChunkKey{colNum, INT32_MIN});
  for (auto it = lo; it != chunks_.end() && it->first.colNum == colNum; ++it)
    order[it->first.first] = it->second.get();
  auto visit = [&](int32_t first, const CellChunk& c) {
    if (!rowNums) {
      for (int i = 0; i < kCellsPerChunk; ++i)
        if (c.state[i] != CellChunk::kNoCell) fn(first + i, c.get(i));
      return;
    }
    auto b = std::lower_bound(rowNums->begin(), rowNums->end(), first);
    // In 64 bits: a requested row near INT32_MAX has its chunk end past it.
    for (; b != rowNums->end() && int64_t{*b} < int64_t{first} + kCellsPerChunk; ++b) {
      int i = *b - first;
      if (c.state[i] != CellChunk::kNoCell) fn(*b, c.get(i));
    }
  };
  if (db_ && !deleted) {
    // A row list limits the scan to the chunks that can hold its rows.
    Stmt s(db_,
           "SELECT firstRow, cells FROM cell_chunks WHERE colNum=? AND firstRow BETWEEN ? AND ? ORDER BY "
           "firstRow");
    s.bindInt64(1, colNum);
    s.bindInt64(2, rowNums && !rowNums->empty() ? chunkStart(rowNums->front()) : INT32_MIN);
    s.bindInt64(3, rowNums && !rowNums->empty() ? chunkStart(rowNums->back()) : INT32_MAX);
    CellChunk scratch;
    while (s.step()) {
      auto first = static_cast<int32_t>(s.int64(0));
      // Visit the in-memory chunks that come before this stored one.
      while (!order.empty() && order.begin()->first < first) {
        visit(order.begin()->first, *order.begin()->second);
        order.erase(order.begin());
      }
      auto mem = order.find(first);
      if (mem != order.end()) {
        visit(first, *mem->second);
        order.erase(mem);
        continue;
      }
      if (rowNums) {
        auto b = std::lower_bound(rowNums->begin(), rowNums->end(), first);
        if (b == rowNums->end() || int64_t{*b} >= int64_t{first} + kCellsPerChunk) continue;
      }
      if (!rowNums) {
        // A whole stored chunk is visited straight from the blob.
        visitEncoded(first, s.blob(1), fn);
        continue;
      }
      scratch.decode(s.blob(1));
      visit(first, scratch);
    }
  }
  for (auto& [first, c] : order) visit(first, *c);
}

std::vector<Cell> Context::fetchCells(const CellFetch& request) {
  std::vector<Cell> out;
  std::vector<int32_t> sortedRows;
  const std::vector<int32_t>* rows = request.rowNums;
  if (rows && !std::is_sorted(rows->begin(), rows->end())) {
    sortedRows = *rows;
    std::sort(sortedRows.begin(), sortedRows.end());
    rows = &sortedRows;
  }
  if (request.rowNum) {
    if (rows && !std::binary_search(rows->begin(), rows->end(), *request.rowNum)) return out;
    sortedRows = {*request.rowNum};
    rows = &sortedRows;
  }
  std::vector<int32_t> cols;
  if (request.colNum) {
    cols.push_back(*request.colNum);
  } else {
    cols = storedColumnNums();
  }
  bool sorted = request.sort.empty();
  // Without a sort order the limit can stop the scan early.
  size_t limit = sorted ? request.fetchLimit : 0;
  for (int32_t c : cols) {
    if (limit && out.size() >= limit) break;
    forEachCellOfColumn(c, rows, [&](int32_t r, std::optional<std::string_view> d) {
      if (request.nonEmptyOnly && (!d || d->empty())) return;
      if (limit && out.size() >= limit) return;
      Cell cell;
      if (d) cell.data = std::string(*d);
      cell.colNum = c;
      cell.rowNum = r;
      out.push_back(std::move(cell));
    });
  }
  if (!request.sort.empty()) {
    std::stable_sort(out.begin(), out.end(), [&](const Cell& a, const Cell& b) {
      for (const auto& s : request.sort) {
        int cmp = 0;
        switch (s.key) {
          case CellKey::RowNum:
            cmp = compareOptional(a.rowNum, b.rowNum);
            break;
          case CellKey::ColNum:
            cmp = compareOptional(a.colNum, b.colNum);
            break;
          case CellKey::Data:
            cmp = compareOptional(a.data, b.data);
            break;
        }
        if (cmp != 0) return s.ascending ? cmp < 0 : cmp > 0;
      }
      return false;
    });
    if (request.fetchLimit && out.size() > request.fetchLimit) out.resize(request.fetchLimit);
  }
  return out;
}

size_t Context::countCells(const CellFetch& request) {
  CellFetch unsorted = request;
  unsorted.sort.clear();
  return fetchCells(unsorted).size();
}

std::vector<std::string> Context::distinctCellData(int32_t colNum, bool nonEmptyOnly) {
  std::set<std::string, std::less<>> seen;
  std::vector<std::string> out;
  forEachCellOfColumn(colNum, nullptr, [&](int32_t, std::optional<std::string_view> d) {
    if (!d || (nonEmptyOnly && d->empty())) return;
    if (seen.find(*d) == seen.end()) {
      seen.emplace(*d);
      out.emplace_back(*d);
    }
  });
  return out;
}

std::vector<int32_t> Context::storedColumnNums() {
  // Every cell belongs to a column: the live columns' numbers name the
  // stored cells without scanning the cell table itself.
  std::set<int32_t> nums;
  for (Column* c : allColumns())
    if (c->num) nums.insert(*c->num);
  for (auto& [k, c] : chunks_) nums.insert(k.colNum);
  return {nums.begin(), nums.end()};
}

void Context::setCell(int32_t colNum, int32_t rowNum, OptText data) {
  int32_t first = chunkStart(rowNum);
  CellChunk& c = chunk(colNum, first);
  c.set(rowNum - first, data ? std::optional<std::string_view>(*data) : std::nullopt);
}

void Context::setCellText(int32_t colNum, int32_t rowNum, std::string_view data) {
  int32_t first = chunkStart(rowNum);
  if (colNum >= 0 && colNum < kRecentChunkColumns) {
    if (recentChunks_.size() <= static_cast<size_t>(colNum))
      recentChunks_.resize(static_cast<size_t>(colNum) + 1);
    RecentChunk& recent = recentChunks_[static_cast<size_t>(colNum)];
    if (recent.first != first || !recent.chunk) recent = RecentChunk{first, &chunk(colNum, first)};
    assert(chunks_.find(ChunkKey{colNum, first})->second.get() == recent.chunk);
    recent.chunk->set(rowNum - first, data);
    return;
  }
  chunk(colNum, first).set(rowNum - first, data);
}

std::optional<Cell> Context::cellAt(int32_t colNum, int32_t rowNum) {
  int32_t first = chunkStart(rowNum);
  CellChunk& c = chunk(colNum, first);
  int i = rowNum - first;
  if (c.state[i] == CellChunk::kNoCell) return std::nullopt;
  Cell cell;
  if (auto d = c.get(i)) cell.data = std::string(*d);
  cell.colNum = colNum;
  cell.rowNum = rowNum;
  return cell;
}

void Context::deleteRows(const std::vector<int32_t>& rowNums) {
  if (rowNums.empty()) return;
  assert(std::is_sorted(rowNums.begin(), rowNums.end()));
  std::vector<Row*> all = allRows();
  std::vector<int32_t> used;
  used.reserve(all.size());
  for (Row* r : all)
    if (r->num) used.push_back(*r->num);
  std::sort(used.begin(), used.end());
  std::vector<int32_t> kept;
  kept.reserve(used.size());
  std::set_difference(used.begin(), used.end(), rowNums.begin(), rowNums.end(), std::back_inserter(kept));
  if (kept.size() == used.size()) return;
  // The i-th kept row becomes row used[i]; cells from used[kept.size()] on go.
  for (Column* col : allColumns()) {
    if (!col->num) continue;
    const int32_t colNum = *col->num;
    std::vector<std::pair<int32_t, OptText>> moved;
    forEachCellOfColumn(colNum, nullptr, [&](int32_t r, std::optional<std::string_view> d) {
      auto at = std::lower_bound(kept.begin(), kept.end(), r);
      if (at == kept.end() || *at != r) return;  // a deleted row
      int32_t to = used[static_cast<size_t>(at - kept.begin())];
      if (to != r) moved.emplace_back(to, d ? OptText(std::string(*d)) : OptText());
    });
    for (auto& [to, d] : moved) setCell(colNum, to, std::move(d));
    for (size_t i = kept.size(); i < used.size(); ++i) {
      int32_t r = used[i], first = chunkStart(r);
      chunk(colNum, first).erase(r - first);
    }
  }
  const int32_t firstGone = used[kept.size()];
  for (auto& slot : rows_)
    if (!slot.deleted && slot.rec->num && *slot.rec->num >= firstGone) slot.deleted = true;
}

void Context::releaseCellMemory() {
  for (auto it = chunks_.begin(); it != chunks_.end();)
    it = it->second->dirty ? std::next(it) : chunks_.erase(it);
  recentChunks_.clear();
}
}  // namespace tabulix
