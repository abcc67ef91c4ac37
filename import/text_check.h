// Whether a file to be read as delimited text is text at all.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tabulix {

// Why the bytes of a file's beginning are no text, or none: the signature
// of a known binary format (ELF, PDF, PNG, JPEG, GIF, ZIP, SQLite, OLE2), or
// NUL and control characters in most of the first kilobyte once byte-order
// marks and the NULs of UTF-16 are told apart. `name` is the file as shown.
std::optional<std::string> whyBytesAreNotText(std::string_view head, const std::string& name);

// The same for a file, read from its start; an empty file is refused too.
// A file that cannot be read gets none (its reader says why).
std::optional<std::string> whyNotTextFile(const std::filesystem::path& file);

}  // namespace tabulix
