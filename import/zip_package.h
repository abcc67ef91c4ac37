// Reading the parts of a zip container (the package of an .xlsx workbook)
// straight from the file or from memory, with limits that refuse hostile
// containers: entry count, uncompressed size, compression ratio, and entry
// names that would leave the container.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tabulix {

// The limits a container is read under.
struct ZipLimits {
  uint64_t maxEntries = 10000;         // entries listed before the container is refused
  uint64_t maxPartBytes = 2ull << 30;  // uncompressed bytes read from one entry
  uint64_t ratioFloor = 4ull << 20;    // below this many bytes the ratio is not checked
  uint64_t maxRatio = 200;             // uncompressed : compressed above the floor
};

// An open zip container. Every failure throws WorkbookError naming `displayName`.
class ZipPackage {
 public:
  // Opens the file at `path`.
  explicit ZipPackage(const std::filesystem::path& path, ZipLimits limits = {});
  // Opens a container held in memory (not copied; must outlive the package).
  ZipPackage(std::string_view bytes, std::string displayName, ZipLimits limits = {});
  ~ZipPackage();
  ZipPackage(const ZipPackage&) = delete;
  ZipPackage& operator=(const ZipPackage&) = delete;

  // True when the container has the entry (names compared without regard to ASCII case).
  bool contains(const std::string& name) const;
  // Streams the uncompressed bytes of entry `name` to `sink` in chunks until
  // the end or until `sink` returns false; at most `cap` bytes are accepted.
  void read(const std::string& name, uint64_t cap, const std::function<bool(const char*, size_t)>& sink);
  // The uncompressed size the directory claims for entry `name` (0 when it
  // has none): only a claim, good for telling progress, never for sizing.
  uint64_t declaredSize(const std::string& name) const;
  // The name used in error messages.
  const std::string& displayName() const { return displayName_; }

 private:
  struct Entry {
    uint64_t posInDir = 0;
    uint64_t numFile = 0;
    uint64_t compressed = 0;
    bool encrypted = false;
    uint64_t uncompressed = 0;
  };
  void open();
  void index();
  [[noreturn]] void fail(const std::string& what) const;

  struct Memory;
  std::unique_ptr<Memory> memory_;
  std::string displayName_;
  std::filesystem::path path_;
  uint64_t archiveBytes_ = 0;
  ZipLimits limits_;
  void* zip_ = nullptr;
  std::unordered_map<std::string, Entry> entries_;  // by lower-case name
};

}  // namespace tabulix
