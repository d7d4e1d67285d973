// Byte sources the directory reader reads an archive through: a file, a memory buffer, and
// wrappers for tests (count reads, fail the Nth read, deliver in small pieces).
//
// A source is used by one thread at a time. ReadAt returns how many bytes it delivered (fewer
// than asked at the end of the data or on a short read) or an error value with errno's text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orv::zip {

struct [[nodiscard]] ZipReadResult {
  std::size_t count = 0;   // bytes delivered
  bool ok = true;
  std::string error;       // the system's text when !ok
};

class ZipSource {
 public:
  virtual ~ZipSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads up to out.size() bytes at `offset` (offset past the end delivers 0 bytes).
  virtual ZipReadResult ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

class MemoryZipSource final : public ZipSource {
 public:
  explicit MemoryZipSource(std::span<const std::uint8_t> data) : data_(data) {}
  std::uint64_t Size() const override { return data_.size(); }
  ZipReadResult ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

 private:
  std::span<const std::uint8_t> data_;  // not owned
};

class FileZipSource final : public ZipSource {
 public:
  // Opens read-only. Open() tells whether it worked and why not.
  explicit FileZipSource(const std::filesystem::path& path);
  ~FileZipSource() override;
  FileZipSource(const FileZipSource&) = delete;
  FileZipSource& operator=(const FileZipSource&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& OpenError() const { return open_error_; }
  std::uint64_t Size() const override { return size_; }
  ZipReadResult ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::string open_error_;
};

// Counts reads and bytes, fails read number `fail_at` (1-based, 0 = never), and delivers at
// most `max_chunk` bytes per call (0 = no limit) to exercise short reads.
class TestingZipSource final : public ZipSource {
 public:
  explicit TestingZipSource(ZipSource& inner) : inner_(inner) {}
  std::uint64_t Size() const override { return inner_.Size(); }
  ZipReadResult ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;

  std::size_t fail_at = 0;
  std::size_t max_chunk = 0;
  std::size_t reads = 0;
  std::uint64_t bytes = 0;
  std::vector<std::pair<std::uint64_t, std::size_t>> log;  // offset, asked

 private:
  ZipSource& inner_;
};

}  // namespace orv::zip
