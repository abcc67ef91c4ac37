// Byte sources read by the file readers and byte sinks written by the writers:
// files (streamed, never held whole) and memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tabulix {

// A readable stream of bytes.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Opens the stream; reading an unopened stream opens it.
  virtual void open() {}
  // Reads up to `maxLength` bytes into `buffer`; 0 at the end of the input or
  // after a read error (which therefore ends the input).
  virtual size_t read(uint8_t* buffer, size_t maxLength) = 0;
  // Whether a further read may still return bytes.
  virtual bool hasBytesAvailable() = 0;
  // Starts the stream over from its first byte; false (nothing changed) for
  // a stream that cannot go back, such as a pipe.
  virtual bool rewind() { return false; }
};

// Bytes held in memory (tests, fuzzing, text parsed from a string).
class MemoryByteSource : public ByteSource {
 public:
  // Takes a copy of `bytes`.
  explicit MemoryByteSource(std::string_view bytes);
  // `chunkLimit` > 0 caps every read at that many bytes, as a pipe would.
  MemoryByteSource(std::string_view bytes, size_t chunkLimit);
  size_t read(uint8_t* buffer, size_t maxLength) override;
  bool hasBytesAvailable() override { return position_ < bytes_.size(); }
  bool rewind() override {
    position_ = 0;
    return true;
  }

 private:
  std::string bytes_;
  size_t position_ = 0;
  size_t chunkLimit_ = 0;
};

// A file read through a 64 KiB window.
class FileByteSource : public ByteSource {
 public:
  explicit FileByteSource(std::filesystem::path path);
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;
  void open() override;
  size_t read(uint8_t* buffer, size_t maxLength) override;
  bool hasBytesAvailable() override;
  bool rewind() override;
  // Whether the file could be opened (after open()).
  bool isOpen() const { return fd_ >= 0; }
  // How many bytes read() has delivered since the open or the last rewind.
  uint64_t delivered() const { return delivered_; }

 private:
  bool fillWindow();
  std::filesystem::path path_;
  int fd_ = -1;
  bool opened_ = false;
  bool atEnd_ = false;
  std::vector<uint8_t> window_;
  size_t windowPos_ = 0;
  size_t windowLen_ = 0;
  uint64_t delivered_ = 0;
};

// A writable stream of bytes.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Opens the stream if it is not open yet.
  virtual void open() {}
  // Writes the bytes; failures are remembered, not reported.
  virtual void write(const char* data, size_t length) = 0;
  // Flushes and closes; later writes are ignored.
  virtual void close() {}
  // Whether the stream opened and every write so far succeeded.
  virtual bool good() const { return true; }
  // The errno of the first failure, 0 when none is known.
  virtual int error() const { return 0; }
};

// Appends to a string owned by the caller, which must outlive the sink.
class StringByteSink : public ByteSink {
 public:
  explicit StringByteSink(std::string& target) : target_(&target) {}
  void write(const char* data, size_t length) override;
  void close() override { target_ = nullptr; }

 private:
  std::string* target_;
};

// Writes to a std::ostream owned by the caller.
class OstreamByteSink : public ByteSink {
 public:
  explicit OstreamByteSink(std::ostream& target) : target_(&target) {}
  void write(const char* data, size_t length) override;
  void close() override;
  bool good() const override { return ok_; }

 private:
  std::ostream* target_;
  bool ok_ = true;
};

// Creates or truncates a file. Writes pass through a 64 KiB buffer that
// close() (or destruction) flushes.
class FileByteSink : public ByteSink {
 public:
  explicit FileByteSink(std::filesystem::path path);
  ~FileByteSink() override;
  FileByteSink(const FileByteSink&) = delete;
  FileByteSink& operator=(const FileByteSink&) = delete;
  void open() override;
  void write(const char* data, size_t length) override;
  void close() override;
  bool good() const override { return ok_; }
  int error() const override { return error_; }

 private:
  void flush();
  void failed(int error);
  std::filesystem::path path_;
  int fd_ = -1;
  bool opened_ = false;
  bool ok_ = true;
  int error_ = 0;
  std::string buffer_;
};

}  // namespace tabulix
