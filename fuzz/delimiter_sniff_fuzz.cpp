// libFuzzer target for the import sheet's sniffer over bytes in memory: the
// first byte chooses whether the bytes are the whole file and the fallback
// delimiter; the rest is the file's beginning.
#include <cstdint>
#include <string_view>

#include "engine/log.h"
#include "import/delimiter_sniffer.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tabulix::setLogSink([](std::string_view) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::u16string& candidates = tabulix::sniffedDelimiters();
  const char16_t fallback = candidates[(data[0] >> 1) % candidates.size()];
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  tabulix::DelimitedSniff s = tabulix::sniffDelimitedBytes(bytes, data[0] & 1, fallback, ".", 8);
  if (s.lines.size() > 8) __builtin_trap();
  if (s.decimalSeparator != "." && s.decimalSeparator != ",") __builtin_trap();
  if (candidates.find(s.delimiter) == std::u16string::npos) __builtin_trap();
  return 0;
}
