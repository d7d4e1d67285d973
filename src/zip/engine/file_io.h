// Plain POSIX file access for the engine: whole reads and writes that retry short transfers,
// and errors as EngineError(ZE_IO_ERROR) carrying the path and the system's text. Writes, fsync
// and close go through the write seam (platform/file_write.h).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

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

  // Takes over an open descriptor.
  static File adopt(int fd, const std::string& path);

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

// A new file beside `final_path` while it is written. Where the file system allows, it has no
// name at all (O_TMPFILE) and a killed process leaves nothing; elsewhere it is named
// `<final_path>.ze-XXXXXX`. Either way it is held under an exclusive flock for its whole life, so
// sweep_orphans() can tell a file of a live writer from one a killed process left.
class TempFile {
 public:
  TempFile() = default;
  // mode: the permission bits the published file gets. anonymous = false forces a named file.
  TempFile(const std::string& final_path, unsigned mode, bool anonymous = true);
  ~TempFile();  // removes the file unless published
  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&& other) noexcept;

  File& file() { return file_; }
  bool anonymous() const { return anonymous_; }
  const std::string& temp_path() const { return temp_path_; }  // "" while anonymous
  // Gives the file a name beside the final one (an anonymous file), closes it (errors of the
  // close are reported) and renames it over the final name. The caller has flushed it.
  void publish();

 private:
  void discard() noexcept;

  std::string final_path_;
  std::string temp_path_;
  File file_;
  bool anonymous_ = false;
  bool published_ = true;  // nothing to remove for a default-made one
};

// Removes `<final_path>.ze-XXXXXX` files in final_path's folder that no live process holds
// (their flock can be taken): what a writer killed before it could clean up left behind.
// Returns how many were removed; errors are ignored (the next run tries again).
int sweep_orphans(const std::string& final_path);

// sweep_orphans for many final paths (the files of one extraction): each folder is read once,
// on its first final path.
class OrphanSweeper {
 public:
  int sweep(const std::string& final_path);

 private:
  std::map<std::string, std::vector<std::string>> temporaries_;  // folder -> names of temporary form
};

[[noreturn]] void throw_io(const std::string& what, const std::string& path, int error);

}  // namespace orv::zip::engine
