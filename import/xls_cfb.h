// Reading streams out of an OLE2 compound file (the container of .xls
// workbooks): header, DIFAT, FAT and mini-FAT chains, the directory tree.
// Nothing read from the file is trusted: every sector number, chain, count and
// size is checked against the file's real size before it is used.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tabulix::xls {

// A damaged or unsupported file. The message says what is wrong, without the
// file's name, which the caller adds.
struct FormatError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A compound file over bytes that stay owned by the caller and must outlive it.
class CompoundFile {
 public:
  // Reads the header, the allocation tables and the directory; throws
  // FormatError for a file that is not a valid compound file.
  explicit CompoundFile(std::span<const uint8_t> bytes);

  // The contents of the stream named `name` (compared without regard to ASCII
  // case) directly inside the root storage, or none when there is no such
  // stream. Throws FormatError when its sector chain is broken or too short.
  std::optional<std::vector<uint8_t>> rootStream(std::string_view name) const;

 private:
  struct Entry {
    std::u16string name;
    uint8_t type = 0;  // 0 unused, 1 storage, 2 stream, 5 root
    uint32_t left = 0, right = 0, child = 0;
    uint32_t start = 0;
    uint64_t size = 0;
  };

  std::span<const uint8_t> sector(uint32_t id) const;
  std::vector<uint32_t> chain(uint32_t first, const std::vector<uint32_t>& table, uint64_t maxLength,
                              const char* what) const;
  std::vector<uint8_t> readChain(uint32_t first, uint64_t size) const;
  std::vector<uint8_t> readMiniChain(uint32_t first, uint64_t size) const;

  std::span<const uint8_t> bytes_;
  uint32_t sectorShift_ = 9;
  uint32_t miniSectorShift_ = 6;
  uint32_t miniCutoff_ = 4096;
  uint32_t sectorCount_ = 0;  // whole or partial sectors after the header
  std::vector<uint32_t> fat_;
  std::vector<uint32_t> miniFat_;
  std::vector<Entry> entries_;
  std::vector<uint8_t> miniStream_;
};

}  // namespace tabulix::xls
