// Plain POSIX file access for the engine: whole reads and writes that retry short transfers,
// and errors as EngineError(ZE_IO_ERROR) carrying the path and the system's text. Writes, fsync
// and close go through the write seam (platform/file_write.h).
#pragma once

#include <cstdint>
#include <string>

#include "zip/engine/zip_format.h"

namespace orv::zip::engine {

class File : public ArchiveSource {
 public:
  File() = default;
  File(const std::string& path, int flags, int mode = 0644);
  ~File() override;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  uint64_t size() const override;
  void read_at(uint64_t offset, void* buffer, size_t length) const override;
  // Reads up to length bytes from the current position; returns the count (0 at the end).
  size_t read_some(void* buffer, size_t length);
  // Reads until length bytes or the end of the file; returns the count.
  size_t read_full(void* buffer, size_t length);
  void write_all(const void* data, size_t length);
  void write_at(uint64_t offset, const void* data, size_t length);
  void sync();
  void close();  // reports a failed close as an error (delayed write errors show here)

 private:
  int fd_ = -1;
  std::string path_;
};

[[noreturn]] void throw_io(const std::string& what, const std::string& path, int error);

}  // namespace orv::zip::engine
