#include "import/zip_package.h"

#include <unzip.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "import/workbook_error.h"

namespace tabulix {

namespace {

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// A name that could reach outside a folder it were extracted into: absolute,
// with a drive or a backslash, or with a ".." segment.
bool escapes(const std::string& name) {
  if (name.empty() || name[0] == '/' || name.find('\\') != std::string::npos ||
      (name.size() > 1 && name[1] == ':') || name.find('\0') != std::string::npos)
    return true;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

// The memory stream behind minizip's I/O callbacks.
struct ZipPackage::Memory {
  std::string_view bytes;
  uint64_t pos = 0;

  static voidpf open(voidpf opaque, const void*, int) { return opaque; }
  static uLong read(voidpf, voidpf stream, void* buf, uLong size) {
    auto* m = static_cast<Memory*>(stream);
    uint64_t n = std::min<uint64_t>(size, m->bytes.size() - std::min<uint64_t>(m->pos, m->bytes.size()));
    if (n) std::memcpy(buf, m->bytes.data() + m->pos, n);
    m->pos += n;
    return static_cast<uLong>(n);
  }
  static uLong write(voidpf, voidpf, const void*, uLong) { return 0; }
  static ZPOS64_T tell(voidpf, voidpf stream) { return static_cast<Memory*>(stream)->pos; }
  static long seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* m = static_cast<Memory*>(stream);
    uint64_t base = origin == ZLIB_FILEFUNC_SEEK_SET   ? 0
                    : origin == ZLIB_FILEFUNC_SEEK_CUR ? m->pos
                                                       : m->bytes.size();
    if (offset > m->bytes.size() || base + offset > m->bytes.size()) return -1;
    m->pos = base + offset;
    return 0;
  }
  static int close(voidpf, voidpf) { return 0; }
  static int error(voidpf, voidpf) { return 0; }
};

ZipPackage::ZipPackage(const std::filesystem::path& path, ZipLimits limits)
    : displayName_(path.string()), path_(path), limits_(limits) {
  std::error_code ec;
  archiveBytes_ = std::filesystem::file_size(path, ec);
  if (ec) fail("it cannot be read (" + ec.message() + ")");
  open();
}

ZipPackage::ZipPackage(std::string_view bytes, std::string displayName, ZipLimits limits)
    : memory_(std::make_unique<Memory>()), displayName_(std::move(displayName)), limits_(limits) {
  memory_->bytes = bytes;
  archiveBytes_ = bytes.size();
  open();
}

ZipPackage::~ZipPackage() {
  if (zip_) unzClose(static_cast<unzFile>(zip_));
}

void ZipPackage::fail(const std::string& what) const {
  throw WorkbookError("The file " + displayName_ + " is not a readable workbook: " + what + ".");
}

void ZipPackage::open() {
  if (memory_) {
    zlib_filefunc64_def io{};
    io.zopen64_file = &Memory::open;
    io.zread_file = &Memory::read;
    io.zwrite_file = &Memory::write;
    io.ztell64_file = &Memory::tell;
    io.zseek64_file = &Memory::seek;
    io.zclose_file = &Memory::close;
    io.zerror_file = &Memory::error;
    io.opaque = memory_.get();
    zip_ = unzOpen2_64("memory", &io);
  } else {
    zip_ = unzOpen64(path_.c_str());
  }
  if (!zip_)
    fail(
        "it is not a zip container (an .xlsx workbook is one; this file may be damaged, cut short, or "
        "password-protected)");
  // A constructor that throws runs no destructor: the handle is closed here.
  try {
    index();
  } catch (...) {
    unzClose(static_cast<unzFile>(zip_));
    zip_ = nullptr;
    throw;
  }
}

void ZipPackage::index() {
  auto* z = static_cast<unzFile>(zip_);
  std::vector<char> name(65536 + 1);
  uint64_t count = 0;
  for (int rc = unzGoToFirstFile(z); rc != UNZ_END_OF_LIST_OF_FILE; rc = unzGoToNextFile(z)) {
    if (rc != UNZ_OK) fail("its list of entries is damaged");
    if (++count > limits_.maxEntries)
      fail("it has more than " + std::to_string(limits_.maxEntries) + " entries");
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(z, &info, name.data(), static_cast<uLong>(name.size() - 1), nullptr, 0,
                                nullptr, 0) != UNZ_OK)
      fail("its list of entries is damaged");
    std::string entry(name.data(), std::min<size_t>(info.size_filename, name.size() - 1));
    if (escapes(entry)) fail("the entry name \"" + entry + "\" points outside the container");
    unz64_file_pos pos{};
    if (unzGetFilePos64(z, &pos) != UNZ_OK) fail("its list of entries is damaged");
    // The first of two entries with the same name is the one read.
    entries_.try_emplace(lower(entry), Entry{pos.pos_in_zip_directory, pos.num_of_file, info.compressed_size,
                                             (info.flag & 1) != 0, info.uncompressed_size});
  }
}

bool ZipPackage::contains(const std::string& name) const { return entries_.count(lower(name)) != 0; }

uint64_t ZipPackage::declaredSize(const std::string& name) const {
  auto it = entries_.find(lower(name));
  return it == entries_.end() ? 0 : it->second.uncompressed;
}

void ZipPackage::read(const std::string& name, uint64_t cap,
                      const std::function<bool(const char*, size_t)>& sink) {
  auto it = entries_.find(lower(name));
  if (it == entries_.end()) fail("it has no part " + name);
  const Entry& e = it->second;
  if (e.encrypted) fail("the part " + name + " is encrypted");
  auto* z = static_cast<unzFile>(zip_);
  unz64_file_pos pos{e.posInDir, e.numFile};
  if (unzGoToFilePos64(z, &pos) != UNZ_OK || unzOpenCurrentFile(z) != UNZ_OK)
    fail("the part " + name + " cannot be opened (damaged, or compressed with a method other than deflate)");
  // The compressed size is only a claim of the file: the bytes behind it
  // cannot be more than the container holds.
  uint64_t compressed = std::max<uint64_t>(1, std::min(e.compressed, archiveBytes_));
  cap = std::min(cap, limits_.maxPartBytes);
  std::vector<char> buf(64 * 1024);
  uint64_t total = 0;
  bool complete = true;
  for (;;) {
    int n = unzReadCurrentFile(z, buf.data(), static_cast<unsigned>(buf.size()));
    if (n < 0) {
      unzCloseCurrentFile(z);
      fail("the part " + name + " is damaged (its compressed data cannot be read)");
    }
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    if (total > cap) {
      unzCloseCurrentFile(z);
      fail("the part " + name + " is larger than " + std::to_string(cap >> 20) + " MiB uncompressed");
    }
    if (total > limits_.ratioFloor && total / compressed > limits_.maxRatio) {
      unzCloseCurrentFile(z);
      fail("the part " + name + " expands more than " + std::to_string(limits_.maxRatio) +
           " times (a zip bomb?)");
    }
    if (!sink(buf.data(), static_cast<size_t>(n))) {
      complete = false;
      break;
    }
  }
  // The checksum is only known once the whole entry has been read.
  int rc = unzCloseCurrentFile(z);
  if (complete && rc == UNZ_CRCERROR) fail("the part " + name + " is damaged (checksum mismatch)");
}

}  // namespace tabulix
