// The cells of one column over kCellsPerChunk consecutive rows, and their
// encoding as one stored blob. Used only by the store's own files.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/store.h"

namespace tabulix {

// The first row of the chunk that holds a row.
int32_t chunkStart(int32_t rowNum);
// Appends an unsigned LEB128 varint.
void putVarint(std::string& out, uint64_t v);
// Reads a varint from the front of `in`; false when it is cut off.
bool getVarint(std::string_view& in, uint64_t& v);

// The cells of kCellsPerChunk consecutive rows of one column. Texts are kept
// in one byte buffer; a changed cell appends its new text, and encode()
// writes only the live bytes.
struct CellChunk {
  enum : uint8_t { kNoCell = 0, kNoData = 1, kText = 2 };
  std::vector<uint8_t> state = std::vector<uint8_t>(kCellsPerChunk, kNoCell);
  std::vector<uint32_t> start = std::vector<uint32_t>(kCellsPerChunk, 0);
  std::vector<uint32_t> len = std::vector<uint32_t>(kCellsPerChunk, 0);
  std::string bytes;
  bool dirty = false;

  void set(int i, std::optional<std::string_view> text) {
    if (!text) {
      state[i] = kNoData;
      len[i] = 0;
    } else {
      state[i] = kText;
      start[i] = static_cast<uint32_t>(bytes.size());
      len[i] = static_cast<uint32_t>(text->size());
      bytes.append(*text);
    }
    dirty = true;
  }
  // Removes the cell (no cell at all, as past the end of a column).
  void erase(int i) {
    state[i] = kNoCell;
    len[i] = 0;
    dirty = true;
  }
  std::optional<std::string_view> get(int i) const {
    if (state[i] != kText) return std::nullopt;
    return std::string_view(bytes).substr(start[i], len[i]);
  }

  // Blob layout: for each cell up to the last one present, a varint tag
  // (0 no cell, 1 cell without data, 2 + length a text), then all texts.
  std::string encode() const {
    int n = kCellsPerChunk;
    while (n > 0 && state[n - 1] == kNoCell) --n;
    std::string head, body;
    for (int i = 0; i < n; ++i) {
      if (state[i] == kText) {
        putVarint(head, 2 + uint64_t{len[i]});
        body.append(bytes, start[i], len[i]);
      } else {
        putVarint(head, state[i]);
      }
    }
    std::string out;
    putVarint(out, static_cast<uint64_t>(n));
    out += head;
    out += body;
    return out;
  }

  // Decodes a stored blob; a damaged blob throws instead of reading past it.
  void decode(std::string_view in) {
    state.assign(kCellsPerChunk, kNoCell);
    uint64_t n = 0;
    if (!getVarint(in, n) || n > static_cast<uint64_t>(kCellsPerChunk))
      throw StoreError("Damaged cell chunk", "");
    uint64_t total = 0;
    for (uint64_t i = 0; i < n; ++i) {
      uint64_t tag;
      if (!getVarint(in, tag)) throw StoreError("Damaged cell chunk", "");
      if (tag >= 2) {
        uint64_t l = tag - 2;
        if (l > in.size() || total + l > in.size()) throw StoreError("Damaged cell chunk", "");
        state[i] = kText;
        start[i] = static_cast<uint32_t>(total);
        len[i] = static_cast<uint32_t>(l);
        total += l;
      } else {
        state[i] = static_cast<uint8_t>(tag);
      }
    }
    if (total != in.size()) throw StoreError("Damaged cell chunk", "");
    bytes.assign(in.data(), in.size());
  }

  // Drops the texts that edits replaced, once they outweigh the live ones.
  void compact() {
    size_t live = 0;
    for (int i = 0; i < kCellsPerChunk; ++i) live += len[i];
    if (bytes.size() > 2 * live + 4096) decode(encode());
  }
};

// Visits the cells of an encoded chunk in row order without copying texts;
// a damaged blob throws like CellChunk::decode.
void visitEncoded(int32_t first, std::string_view in,
                  const std::function<void(int32_t, std::optional<std::string_view>)>& fn);

}  // namespace tabulix
