// The frames that carry a parsed statistical file from the reader's child
// process to the importer: a tag byte, a 32-bit payload length, the payload.
// Integers are little-endian, doubles their IEEE bits, texts a 32-bit length
// and the bytes. The reading side checks every length against what is left.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace tabulix {

// Frame tags.
enum class StatFrame : uint8_t {
  File = 'F',      // u32 variables in the file, i64 rows (-1 unknown), text file label, text encoding
  Variable = 'V',  // u32 index, text name, text label, text format, u8 string?, text label set,
                   // then (optional) u32 user-missing codes, each a u8 kind and its value
  Label = 'L',     // text set, u8 kind (0 number, 1 text, 2 tagged), value, text label
  Row = 'R',       // u32 cells, then per cell u8 kind (0 missing, 1 number, 2 text) and the value
  End = 'E',       // i32 ReadStat's error code (0 none), text message
};

// Cell and label value kinds.
enum class StatValueKind : uint8_t { Missing = 0, Number = 1, Text = 2, Tagged = 3 };

// A variable passes on at most this many user-missing codes.
inline constexpr uint32_t kStatMaxMissingCodes = 64;

// Frames larger than this are refused by the reading side.
inline constexpr uint32_t kStatMaxFrame = 64u << 20;

// Appends frame payload fields.
struct FrameWriter {
  std::string bytes;

  void u8(uint8_t v) { bytes.push_back(static_cast<char>(v)); }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(v >> (8 * i)));
  }
  void i64(int64_t v) {
    auto u = static_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>(u >> (8 * i)));
  }
  void f64(double v) {
    int64_t bits;
    std::memcpy(&bits, &v, 8);
    i64(bits);
  }
  void text(std::string_view s) {
    u32(static_cast<uint32_t>(s.size()));
    bytes.append(s);
  }
  // Starts a frame; finish() fills in its length.
  size_t begin(StatFrame tag) {
    u8(static_cast<uint8_t>(tag));
    size_t at = bytes.size();
    u32(0);
    return at;
  }
  void finish(size_t at) {
    auto n = static_cast<uint32_t>(bytes.size() - at - 4);
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(n >> (8 * i));
  }
};

// Reads payload fields; every read fails (none, and `ok` false) past the end.
struct FrameReader {
  std::string_view rest;
  bool ok = true;

  bool take(size_t n) {
    if (!ok || rest.size() < n) ok = false;
    return ok;
  }
  uint8_t u8() {
    if (!take(1)) return 0;
    uint8_t v = static_cast<uint8_t>(rest[0]);
    rest.remove_prefix(1);
    return v;
  }
  uint32_t u32() {
    if (!take(4)) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{static_cast<uint8_t>(rest[i])} << (8 * i);
    rest.remove_prefix(4);
    return v;
  }
  int64_t i64() {
    if (!take(8)) return 0;
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t{static_cast<uint8_t>(rest[i])} << (8 * i);
    rest.remove_prefix(8);
    return static_cast<int64_t>(v);
  }
  double f64() {
    int64_t bits = i64();
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
  }
  std::string_view text() {
    uint32_t n = u32();
    if (!take(n)) return {};
    std::string_view v = rest.substr(0, n);
    rest.remove_prefix(n);
    return v;
  }
};

}  // namespace tabulix
