// Test support: builds small BIFF5/BIFF8 workbook streams record by record and
// wraps them in an OLE2 compound file, for the cases no writer produces
// (MULRK, BIFF5, damaged tables, out-of-order cells).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tabulix::xlstest {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32(Bytes& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
inline void putDouble(Bytes& b, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  put32(b, static_cast<uint32_t>(bits));
  put32(b, static_cast<uint32_t>(bits >> 32));
}
inline void putBytes(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// One record: id, length, data.
inline Bytes record(uint16_t id, const Bytes& data) {
  Bytes r;
  put16(r, id);
  put16(r, static_cast<uint32_t>(data.size()));
  // (GCC 12 warns falsely about inserting an empty range here.)
  for (uint8_t b : data) r.push_back(b);
  return r;
}
// The start of a cell record: row, column, XF (0-based row and column).
inline Bytes cell(uint32_t row, uint32_t col, uint32_t xf = 0) {
  Bytes d;
  put16(d, row);
  put16(d, col);
  put16(d, xf);
  return d;
}
inline Bytes number(uint32_t row, uint32_t col, double v, uint32_t xf = 0) {
  Bytes d = cell(row, col, xf);
  putDouble(d, v);
  return record(0x0203, d);
}
// A BIFF8 string with 8-bit characters (Latin-1 text in `s`).
inline Bytes label8(uint32_t row, uint32_t col, const std::string& s, uint32_t xf = 0) {
  Bytes d = cell(row, col, xf);
  put16(d, static_cast<uint32_t>(s.size()));
  d.push_back(0);
  putBytes(d, s);
  return record(0x0204, d);
}
// A BIFF5 label: a byte string in the workbook's code page.
inline Bytes label5(uint32_t row, uint32_t col, const std::string& bytes) {
  Bytes d = cell(row, col);
  put16(d, static_cast<uint32_t>(bytes.size()));
  putBytes(d, bytes);
  return record(0x0204, d);
}

struct SheetSpec {
  std::string name;  // BIFF8: Latin-1 characters; BIFF5: bytes in the code page
  uint8_t visibility = 0;
  std::vector<Bytes> records;  // between the sheet's BOF and EOF
};

// A workbook stream: globals (BOF, `globals`, BOUNDSHEETs, EOF), then the sheets.
inline Bytes workbookStream(const std::vector<Bytes>& globals, const std::vector<SheetSpec>& sheets,
                            bool biff8 = true) {
  auto bof = [&](uint16_t type) {
    Bytes d;
    put16(d, biff8 ? 0x0600 : 0x0500);
    put16(d, type);
    put32(d, 0);
    if (biff8) put32(d, 0), put32(d, 0);
    return record(0x0809, d);
  };
  Bytes out = bof(0x0005);
  for (const Bytes& r : globals) out.insert(out.end(), r.begin(), r.end());
  std::vector<size_t> offsetAt;
  for (const SheetSpec& s : sheets) {
    Bytes d;
    put32(d, 0);
    d.push_back(s.visibility);
    d.push_back(0);
    d.push_back(static_cast<uint8_t>(s.name.size()));
    if (biff8) d.push_back(0);
    putBytes(d, s.name);
    offsetAt.push_back(out.size() + 4);
    Bytes r = record(0x0085, d);
    out.insert(out.end(), r.begin(), r.end());
  }
  Bytes eof = record(0x000A, {});
  out.insert(out.end(), eof.begin(), eof.end());
  for (size_t i = 0; i < sheets.size(); ++i) {
    const uint32_t at = static_cast<uint32_t>(out.size());
    for (int k = 0; k < 4; ++k) out[offsetAt[i] + k] = static_cast<uint8_t>(at >> (8 * k));
    Bytes b = bof(0x0010);
    out.insert(out.end(), b.begin(), b.end());
    for (const Bytes& r : sheets[i].records) out.insert(out.end(), r.begin(), r.end());
    out.insert(out.end(), eof.begin(), eof.end());
  }
  return out;
}

// A version-3 compound file (512-byte sectors) holding `stream` under `name`
// in its root storage; streams under 4,096 bytes go into the mini stream.
inline Bytes compoundFile(const Bytes& stream, const std::string& name = "Workbook") {
  constexpr uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSect = 0xFFFFFFFD;
  const bool mini = stream.size() < 4096;
  auto sectorsFor = [](size_t n, size_t unit) { return static_cast<uint32_t>((n + unit - 1) / unit); };
  // Sector use: FAT sectors, one directory sector, then the stream's sectors
  // or (mini) one mini-FAT sector and the mini stream's sectors.
  const uint32_t payload =
      mini ? 1 + sectorsFor(sectorsFor(stream.size(), 64) * 64, 512) : sectorsFor(stream.size(), 512);
  // FAT sectors beyond the header's 109 are listed in DIFAT sectors of 127.
  uint32_t fatSectors = 1, difatSectors = 0;
  for (;;) {
    difatSectors = fatSectors > 109 ? (fatSectors - 109 + 126) / 127 : 0;
    if (fatSectors * 128 >= fatSectors + difatSectors + 1 + payload) break;
    ++fatSectors;
  }
  std::vector<uint32_t> fat(fatSectors * 128, kFree);
  for (uint32_t i = 0; i < fatSectors; ++i) fat[i] = kFatSect;
  for (uint32_t i = 0; i < difatSectors; ++i) fat[fatSectors + i] = 0xFFFFFFFC;
  const uint32_t dirSector = fatSectors + difatSectors;
  fat[dirSector] = kEnd;
  uint32_t first = dirSector + 1;
  for (uint32_t i = 0; i < payload; ++i) fat[first + i] = (i + 1 == payload) ? kEnd : first + i + 1;
  uint32_t miniFatSector = kEnd, miniStreamStart = kEnd, streamStart = first;
  uint32_t miniStreamSize = 0;
  if (mini) {
    miniFatSector = first;
    fat[first] = kEnd;
    miniStreamStart = first + 1;
    for (uint32_t i = 1; i < payload; ++i) fat[first + i] = (i + 1 == payload) ? kEnd : first + i + 1;
    miniStreamSize = sectorsFor(stream.size(), 64) * 64;
    streamStart = 0;  // mini sector 0
  }

  Bytes out(512, 0);
  const uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(out.data(), sig, 8);
  auto at16 = [&](size_t o, uint32_t v) { out[o] = v & 0xFF, out[o + 1] = (v >> 8) & 0xFF; };
  auto at32 = [&](size_t o, uint32_t v) { at16(o, v & 0xFFFF), at16(o + 2, v >> 16); };
  at16(24, 0x3E);
  at16(26, 3);
  at16(28, 0xFFFE);
  at16(30, 9);
  at16(32, 6);
  at32(44, fatSectors);
  at32(48, dirSector);
  at32(56, 4096);
  at32(60, miniFatSector);
  at32(64, mini ? 1 : 0);
  at32(68, difatSectors ? fatSectors : kEnd);
  at32(72, difatSectors);
  for (uint32_t i = 0; i < 109; ++i) at32(76 + 4 * i, i < fatSectors ? i : kFree);

  auto sectorBytes = [](const std::vector<uint32_t>& words, size_t from) {
    Bytes s;
    for (size_t i = 0; i < 128; ++i) put32(s, from + i < words.size() ? words[from + i] : kFree);
    return s;
  };
  for (uint32_t i = 0; i < fatSectors; ++i) {
    Bytes s = sectorBytes(fat, i * 128);
    out.insert(out.end(), s.begin(), s.end());
  }
  for (uint32_t i = 0; i < difatSectors; ++i) {
    std::vector<uint32_t> words;
    for (uint32_t k = 0; k < 127; ++k) {
      const uint32_t fatIndex = 109 + i * 127 + k;
      words.push_back(fatIndex < fatSectors ? fatIndex : kFree);
    }
    words.push_back(i + 1 < difatSectors ? fatSectors + i + 1 : kEnd);
    Bytes s = sectorBytes(words, 0);
    out.insert(out.end(), s.begin(), s.end());
  }
  // Directory: root, the stream, two unused entries.
  Bytes dir(512, 0);
  auto entry = [&](size_t index, const std::string& n, uint8_t type, uint32_t child, uint32_t start,
                   uint32_t size) {
    uint8_t* e = dir.data() + 128 * index;
    for (size_t i = 0; i < n.size(); ++i) e[2 * i] = static_cast<uint8_t>(n[i]);
    const uint32_t nameBytes = static_cast<uint32_t>(2 * (n.size() + 1));
    e[64] = nameBytes & 0xFF;
    e[65] = nameBytes >> 8;
    e[66] = type;
    e[67] = 1;
    for (size_t o : {68, 72, 76}) std::memset(e + o, 0xFF, 4);
    e[76] = child & 0xFF, e[77] = (child >> 8) & 0xFF, e[78] = (child >> 16) & 0xFF, e[79] = child >> 24;
    for (int k = 0; k < 4; ++k) e[116 + k] = static_cast<uint8_t>(start >> (8 * k));
    for (int k = 0; k < 4; ++k) e[120 + k] = static_cast<uint8_t>(size >> (8 * k));
  };
  entry(0, "Root Entry", 5, 1, miniStreamStart, miniStreamSize);
  entry(1, name, 2, 0xFFFFFFFF, streamStart, static_cast<uint32_t>(stream.size()));
  for (size_t i = 2; i < 4; ++i) {
    for (size_t o : {68, 72, 76}) std::memset(dir.data() + 128 * i + o, 0xFF, 4);
  }
  out.insert(out.end(), dir.begin(), dir.end());
  if (mini) {
    std::vector<uint32_t> miniFat;
    const uint32_t n = sectorsFor(stream.size(), 64);
    for (uint32_t i = 0; i < n; ++i) miniFat.push_back(i + 1 == n ? kEnd : i + 1);
    Bytes s = sectorBytes(miniFat, 0);
    out.insert(out.end(), s.begin(), s.end());
  }
  Bytes body = stream;
  body.resize(static_cast<size_t>(payload - (mini ? 1 : 0)) * 512, 0);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace tabulix::xlstest
