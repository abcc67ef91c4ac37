#include "textio/byte_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tabulix {

namespace {
constexpr size_t kWindow = 64 * 1024;
}

MemoryByteSource::MemoryByteSource(std::string_view bytes) : bytes_(bytes) {}

MemoryByteSource::MemoryByteSource(std::string_view bytes, size_t chunkLimit)
    : bytes_(bytes), chunkLimit_(chunkLimit) {}

size_t MemoryByteSource::read(uint8_t* buffer, size_t maxLength) {
  size_t n = std::min(maxLength, bytes_.size() - position_);
  if (chunkLimit_ > 0) n = std::min(n, chunkLimit_);
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return n;
}

FileByteSource::FileByteSource(std::filesystem::path path) : path_(std::move(path)) {}

FileByteSource::~FileByteSource() {
  if (fd_ >= 0) ::close(fd_);
}

void FileByteSource::open() {
  if (opened_) return;
  opened_ = true;
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) atEnd_ = true;
}

bool FileByteSource::fillWindow() {
  if (!opened_) open();
  if (atEnd_) return false;
  if (window_.empty()) window_.resize(kWindow);
  ssize_t n;
  do {
    n = ::read(fd_, window_.data(), window_.size());
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    atEnd_ = true;
    return false;
  }
  windowPos_ = 0;
  windowLen_ = static_cast<size_t>(n);
  return true;
}

size_t FileByteSource::read(uint8_t* buffer, size_t maxLength) {
  if (windowPos_ == windowLen_ && !fillWindow()) return 0;
  size_t n = std::min(maxLength, windowLen_ - windowPos_);
  std::memcpy(buffer, window_.data() + windowPos_, n);
  windowPos_ += n;
  delivered_ += n;
  return n;
}

bool FileByteSource::hasBytesAvailable() { return windowPos_ < windowLen_ || fillWindow(); }

bool FileByteSource::rewind() {
  if (!opened_) open();
  if (fd_ < 0 || ::lseek(fd_, 0, SEEK_SET) != 0) return false;
  windowPos_ = windowLen_ = 0;
  delivered_ = 0;
  atEnd_ = false;
  return true;
}

void StringByteSink::write(const char* data, size_t length) {
  if (target_) target_->append(data, length);
}

void OstreamByteSink::write(const char* data, size_t length) {
  if (!target_) return;
  target_->write(data, static_cast<std::streamsize>(length));
  if (!*target_) ok_ = false;
}

void OstreamByteSink::close() {
  if (target_) target_->flush();
  target_ = nullptr;
}

FileByteSink::FileByteSink(std::filesystem::path path) : path_(std::move(path)) {}

FileByteSink::~FileByteSink() { close(); }

void FileByteSink::open() {
  if (opened_) return;
  opened_ = true;
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) failed(errno);
}

void FileByteSink::failed(int error) {
  if (ok_) error_ = error;
  ok_ = false;
}

void FileByteSink::write(const char* data, size_t length) {
  if (!opened_) open();
  if (fd_ < 0) return;
  buffer_.append(data, length);
  if (buffer_.size() >= kWindow) flush();
}

void FileByteSink::flush() {
  size_t done = 0;
  while (done < buffer_.size()) {
    ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed(n < 0 ? errno : ENOSPC);
      break;
    }
    done += static_cast<size_t>(n);
  }
  buffer_.clear();
}

void FileByteSink::close() {
  if (fd_ < 0) return;
  flush();
  if (::close(fd_) != 0) failed(errno);
  fd_ = -1;
}

}  // namespace tabulix
