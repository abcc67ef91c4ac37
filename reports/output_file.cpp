#include "reports/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "engine/translate.h"

namespace tabulix::reports {

namespace fs = std::filesystem;

OutputFile::OutputFile(fs::path target) : target_(std::move(target)), writePath_(target_) {
  struct stat st {};
  if (::stat(target_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) fail(EISDIR);
    inPlace_ = !S_ISREG(st.st_mode);
  } else if (errno != ENOENT) {
    fail(errno);
  }
  if (inPlace_) return;
  // A link to a file is followed: the file it names is replaced, the link
  // stays.
  std::error_code ec;
  fs::path real = fs::exists(target_, ec) ? fs::canonical(target_, ec) : fs::path();
  renameTo_ = real.empty() || ec ? target_ : real;
  fs::path folder = renameTo_.parent_path();
  struct stat dir {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &dir) != 0) fail(errno);
  if (!S_ISDIR(dir.st_mode)) fail(ENOTDIR);
  static std::atomic<unsigned> counter{0};
  // Built by appending (GCC 12 warns wrongly about "x" + to_string chains).
  std::string hidden = ".";
  hidden += renameTo_.filename().string();
  hidden += ".part-";
  hidden += std::to_string(::getpid());
  hidden += '-';
  hidden += std::to_string(counter++);
  writePath_ = folder / hidden;
}

OutputFile::~OutputFile() {
  if (!inPlace_ && !done_) ::unlink(writePath_.c_str());
}

void OutputFile::fail(int error) {
  if (!inPlace_ && writePath_ != target_) ::unlink(writePath_.c_str());
  done_ = true;
  std::string reason = error ? std::strerror(error) : tr("the data could not be written");
  throw ExportError(fillPlaceholders(tr("Cannot write %@: %@"), {target_.string(), reason}));
}

void OutputFile::commit(bool written, int error) {
  if (!written) fail(error ? error : EIO);
  if (inPlace_) {
    done_ = true;
    return;
  }
  // A full disk can show only when the data reaches it.
  int fd = ::open(writePath_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail(errno);
  int rc = ::fsync(fd);
  int syncError = errno;
  ::close(fd);
  if (rc != 0) fail(syncError);
  if (::rename(writePath_.c_str(), renameTo_.c_str()) != 0) fail(errno);
  done_ = true;
}

void writeOutputFile(const fs::path& target, std::string_view bytes) {
  OutputFile out(target);
  int fd = ::open(out.path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return out.commit(false, errno);
  int error = 0;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && !error) error = errno;
  out.commit(error == 0, error);
}

}  // namespace tabulix::reports
