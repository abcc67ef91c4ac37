#include "import/xls_cfb.h"

#include <algorithm>
#include <cstring>

namespace tabulix::xls {

namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr size_t kHeaderDifatEntries = 109;
constexpr size_t kEntrySize = 128;
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint64_t u64(const uint8_t* p) { return u32(p) | static_cast<uint64_t>(u32(p + 4)) << 32; }

char16_t asciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool sameNameIgnoringCase(const std::u16string& a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

CompoundFile::CompoundFile(std::span<const uint8_t> bytes) : bytes_(bytes) {
  if (bytes.size() < 512 || !std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin())) {
    throw FormatError("it is not an OLE2 compound file (the container of Excel 97-2003 workbooks)");
  }
  const uint8_t* h = bytes.data();
  sectorShift_ = u16(h + 30);
  miniSectorShift_ = u16(h + 32);
  if (sectorShift_ != 9 && sectorShift_ != 12) {
    throw FormatError("its compound-file header gives an invalid sector size (2^" +
                      std::to_string(sectorShift_) + ")");
  }
  if (miniSectorShift_ != 6) throw FormatError("its compound-file header gives an invalid mini-sector size");
  const size_t sectorSize = size_t{1} << sectorShift_;
  if (bytes.size() < sectorSize) throw FormatError("it is too short for its compound-file header");
  const uint64_t sectors = (bytes.size() - sectorSize + sectorSize - 1) / sectorSize;
  sectorCount_ = static_cast<uint32_t>(std::min<uint64_t>(sectors, 0xFFFFFFF0u));
  miniCutoff_ = u32(h + 56);

  // The FAT's sector numbers: the first 109 in the header, the rest in the
  // DIFAT sector chain, each DIFAT sector ending with the next one's number.
  const uint32_t fatSectors = u32(h + 44);
  if (fatSectors > sectorCount_) {
    throw FormatError("its header claims " + std::to_string(fatSectors) +
                      " allocation-table sectors but the file holds " + std::to_string(sectorCount_) +
                      " sectors");
  }
  std::vector<uint32_t> fatIds;
  fatIds.reserve(fatSectors);
  for (size_t i = 0; i < kHeaderDifatEntries && fatIds.size() < fatSectors; ++i) {
    fatIds.push_back(u32(h + 76 + 4 * i));
  }
  uint32_t difat = u32(h + 68);
  uint32_t difatSeen = 0;
  while (fatIds.size() < fatSectors && difat != kEndOfChain && difat != kFreeSector) {
    if (++difatSeen > sectorCount_) throw FormatError("its DIFAT sector chain loops");
    std::span<const uint8_t> s = sector(difat);
    if (s.size() < sectorSize) throw FormatError("its DIFAT sector chain is truncated");
    const size_t perSector = sectorSize / 4 - 1;
    for (size_t i = 0; i < perSector && fatIds.size() < fatSectors; ++i)
      fatIds.push_back(u32(s.data() + 4 * i));
    difat = u32(s.data() + 4 * perSector);
  }
  if (fatIds.size() < fatSectors)
    throw FormatError("its DIFAT lists fewer allocation-table sectors than its header claims");

  fat_.reserve(std::min<uint64_t>(uint64_t{fatSectors} * (sectorSize / 4), sectorCount_));
  for (uint32_t id : fatIds) {
    std::span<const uint8_t> s = sector(id);
    for (size_t i = 0; i + 4 <= s.size() && fat_.size() < sectorCount_; i += 4)
      fat_.push_back(u32(s.data() + i));
    if (fat_.size() >= sectorCount_) break;
  }

  // The directory: 128-byte entries in the chain that the header starts.
  const std::vector<uint32_t> dir = chain(u32(h + 48), fat_, UINT64_MAX, "directory");
  entries_.reserve(dir.size() * (sectorSize / kEntrySize));
  for (uint32_t id : dir) {
    std::span<const uint8_t> s = sector(id);
    for (size_t off = 0; off + kEntrySize <= s.size(); off += kEntrySize) {
      const uint8_t* e = s.data() + off;
      Entry entry;
      const uint16_t nameBytes = u16(e + 64);
      if (nameBytes >= 2 && nameBytes <= 64 && nameBytes % 2 == 0) {
        for (size_t i = 0; i + 1 < nameBytes / 2u; ++i)
          entry.name.push_back(static_cast<char16_t>(u16(e + 2 * i)));
      }
      entry.type = e[66];
      entry.left = u32(e + 68);
      entry.right = u32(e + 72);
      entry.child = u32(e + 76);
      entry.start = u32(e + 116);
      // Version 3 files may leave garbage in the size's high half.
      entry.size = sectorShift_ == 9 ? u32(e + 120) : u64(e + 120);
      entries_.push_back(std::move(entry));
    }
  }
  if (entries_.empty() || entries_[0].type != 5)
    throw FormatError("its compound-file directory has no root entry");
}

std::span<const uint8_t> CompoundFile::sector(uint32_t id) const {
  const uint64_t offset = (uint64_t{id} + 1) << sectorShift_;
  if (id >= sectorCount_ || offset >= bytes_.size()) {
    throw FormatError("it refers to sector " + std::to_string(id) + ", beyond the end of the file");
  }
  return bytes_.subspan(offset, std::min<uint64_t>(uint64_t{1} << sectorShift_, bytes_.size() - offset));
}

std::vector<uint32_t> CompoundFile::chain(uint32_t first, const std::vector<uint32_t>& table,
                                          uint64_t maxLength, const char* what) const {
  std::vector<uint32_t> ids;
  std::vector<bool> seen(table.size());
  uint32_t id = first;
  while (id != kEndOfChain && ids.size() < maxLength) {
    if (id >= table.size()) {
      throw FormatError(std::string("its ") + what + " sector chain is broken (sector " + std::to_string(id) +
                        ")");
    }
    if (seen[id]) throw FormatError(std::string("its ") + what + " sector chain loops");
    seen[id] = true;
    ids.push_back(id);
    id = table[id];
  }
  return ids;
}

std::vector<uint8_t> CompoundFile::readChain(uint32_t first, uint64_t size) const {
  const uint64_t sectorSize = uint64_t{1} << sectorShift_;
  const uint64_t needed = (size + sectorSize - 1) / sectorSize;
  if (needed > sectorCount_) throw FormatError("a stream is larger than the whole file");
  const std::vector<uint32_t> ids = chain(first, fat_, needed, "stream");
  if (ids.size() < needed) throw FormatError("a stream's sector chain ends before its stated size");
  std::vector<uint8_t> out(size);
  uint64_t done = 0;
  for (uint32_t id : ids) {
    std::span<const uint8_t> s = sector(id);
    const uint64_t n = std::min<uint64_t>(sectorSize, size - done);
    if (s.size() < n) throw FormatError("the file is truncated inside a stream");
    std::memcpy(out.data() + done, s.data(), n);
    done += n;
  }
  return out;
}

std::vector<uint8_t> CompoundFile::readMiniChain(uint32_t first, uint64_t size) const {
  const Entry& root = entries_[0];
  const std::vector<uint8_t> miniStream = readChain(root.start, root.size);
  // The mini FAT is a regular chain of sectors holding 32-bit entries.
  const uint8_t* h = bytes_.data();
  const std::vector<uint32_t> miniFatIds = chain(u32(h + 60), fat_, UINT64_MAX, "mini allocation table");
  std::vector<uint32_t> miniFat;
  for (uint32_t id : miniFatIds) {
    std::span<const uint8_t> s = sector(id);
    for (size_t i = 0; i + 4 <= s.size(); i += 4) miniFat.push_back(u32(s.data() + i));
  }
  const uint64_t miniSize = uint64_t{1} << miniSectorShift_;
  const uint64_t needed = (size + miniSize - 1) / miniSize;
  const std::vector<uint32_t> ids = chain(first, miniFat, needed, "mini stream");
  if (ids.size() < needed) throw FormatError("a small stream's chain ends before its stated size");
  std::vector<uint8_t> out(size);
  uint64_t done = 0;
  for (uint32_t id : ids) {
    const uint64_t offset = uint64_t{id} * miniSize;
    const uint64_t n = std::min<uint64_t>(miniSize, size - done);
    if (offset + n > miniStream.size())
      throw FormatError("a small stream lies beyond the end of the mini stream");
    std::memcpy(out.data() + done, miniStream.data() + offset, n);
    done += n;
  }
  return out;
}

std::optional<std::vector<uint8_t>> CompoundFile::rootStream(std::string_view name) const {
  // The root's children form a binary tree through their sibling links;
  // damaged links are skipped and no entry is visited twice.
  std::vector<bool> visited(entries_.size());
  std::vector<uint32_t> pending{entries_[0].child};
  while (!pending.empty()) {
    const uint32_t id = pending.back();
    pending.pop_back();
    if (id == kNoStream || id >= entries_.size() || visited[id]) continue;
    visited[id] = true;
    const Entry& e = entries_[id];
    if (e.type == 2 && sameNameIgnoringCase(e.name, name)) {
      if (e.size < miniCutoff_) return readMiniChain(e.start, e.size);
      return readChain(e.start, e.size);
    }
    pending.push_back(e.left);
    pending.push_back(e.right);
  }
  return std::nullopt;
}

}  // namespace tabulix::xls
