// A first look at a delimited text file for the import sheet: its first
// lines as they read, and the delimiter and decimal separator that fit them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tabulix {

// What the first lines of a delimited file suggest.
struct DelimitedSniff {
  std::vector<std::string> lines;  // the first lines, as text (UTF-8), quotes kept
  std::string encoding;            // the encoding they were read in ("UTF-8", ...)
  char16_t delimiter = u',';       // the candidate that splits the lines most evenly
  std::string decimalSeparator;    // "." or ",", whichever reads more fields as numbers
  bool delimiterFound = false;     // false: no candidate gave two or more fields per line
};

// Candidate delimiters, in order of preference on a tie: comma, semicolon,
// tab, pipe, space.
const std::u16string& sniffedDelimiters();

// Reads at most the first 64 KiB of the file and at most `maxLines` lines.
// Without a clear winner the delimiter is `fallbackDelimiter` and the decimal
// separator `fallbackDecimal`. A file that cannot be read gives no lines.
DelimitedSniff sniffDelimitedFile(const std::filesystem::path& file, char16_t fallbackDelimiter,
                                  const std::string& fallbackDecimal, size_t maxLines = 8);

// The same for bytes in memory (the file's beginning).
DelimitedSniff sniffDelimitedBytes(std::string_view bytes, bool complete, char16_t fallbackDelimiter,
                                   const std::string& fallbackDecimal, size_t maxLines = 8);

}  // namespace tabulix
