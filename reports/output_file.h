// Writing a file the user named so that a failed export never leaves a
// partial file where the user looks for it.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace tabulix::reports {

// An export that could not be written: the message names the file and the
// reason ("cannot write out.csv: No space left on device").
struct ExportError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The target of one export. A regular file (or a name not taken yet) is
// written beside it under a hidden temporary name and renamed over it once
// complete; a device, a pipe or another non-regular target is written in
// place. Not committed, the temporary file is removed.
class OutputFile {
 public:
  // Throws ExportError when the target cannot be written at all (its folder
  // is missing, it is a folder).
  explicit OutputFile(std::filesystem::path target);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Where the writer writes.
  const std::filesystem::path& path() const { return writePath_; }
  // Ends the export: `written` says whether every write and the close
  // succeeded, `error` is the errno of the first failure (0: unknown). On
  // success the file is flushed to disk and takes its name; otherwise, or
  // when that fails, throws ExportError and leaves the target as it was.
  void commit(bool written, int error);

 private:
  [[noreturn]] void fail(int error);
  std::filesystem::path target_, writePath_, renameTo_;
  bool inPlace_ = false, done_ = false;
};

// Writes `bytes` to a file through OutputFile; throws ExportError.
void writeOutputFile(const std::filesystem::path& target, std::string_view bytes);

}  // namespace tabulix::reports
