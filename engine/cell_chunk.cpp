#include "engine/cell_chunk.h"

namespace tabulix {

int32_t chunkStart(int32_t rowNum) {
  // Rows count from 1; chunk k holds rows k*N+1 … (k+1)*N. Row numbers below
  // 1 (never made by the engine) still land in a well-defined chunk.
  int64_t r = static_cast<int64_t>(rowNum) - 1;
  int64_t k = r >= 0 ? r / kCellsPerChunk : -((-r + kCellsPerChunk - 1) / kCellsPerChunk);
  return static_cast<int32_t>(k * kCellsPerChunk + 1);
}

void putVarint(std::string& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<char>((v & 0x7f) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
}

bool getVarint(std::string_view& in, uint64_t& v) {
  v = 0;
  for (int shift = 0; shift < 64 && !in.empty(); shift += 7) {
    auto b = static_cast<uint8_t>(in.front());
    in.remove_prefix(1);
    v |= static_cast<uint64_t>(b & 0x7f) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

void visitEncoded(int32_t first, std::string_view in,
                  const std::function<void(int32_t, std::optional<std::string_view>)>& fn) {
  uint64_t n = 0;
  if (!getVarint(in, n) || n > static_cast<uint64_t>(kCellsPerChunk))
    throw StoreError("Damaged cell chunk", "");
  // The tags come first, then the texts in the same order.
  std::string_view tags = in;
  uint64_t total = 0;
  for (uint64_t i = 0; i < n; ++i) {
    uint64_t tag;
    if (!getVarint(in, tag)) throw StoreError("Damaged cell chunk", "");
    if (tag >= 2) total += tag - 2;
  }
  if (total != in.size()) throw StoreError("Damaged cell chunk", "");
  std::string_view body = in;
  size_t offset = 0;
  for (uint64_t i = 0; i < n; ++i) {
    uint64_t tag;
    getVarint(tags, tag);
    int32_t row = first + static_cast<int32_t>(i);
    if (tag >= 2) {
      fn(row, body.substr(offset, tag - 2));
      offset += tag - 2;
    } else if (tag == CellChunk::kNoData) {
      fn(row, std::nullopt);
    }
  }
}

}  // namespace tabulix
