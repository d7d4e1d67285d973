// Backup files of the local server engine: one or more backup sets, each the full image of one
// database, appended one after the other (a backup without INIT adds a set at the end).
//
// One set on disk (integers little-endian):
//   "ORVKBAK1"  u32 header length  u32 CRC-32 of the header  header text
//   the bytes of each file listed in the header, in order, each exactly its Size
//   "ORVKEND1"  f64 finish date (days since 1899-12-30)  u32 file count  u32 CRC-32 per file
//   u64 length of the whole set  u32 CRC-32 of the trailer bytes before it
// The header text is "Key=Value" lines (values with '%', CR and LF percent-encoded): Version,
// ServerName, UserName, DatabaseName, BackupStartDate ("YYYY-MM-DD HH:MM:SS.mmm", local time),
// then File.<n>.LogicalName / PhysicalName / Type ("D" data, "L" log) / Size for n = 1, 2, ...
//
// Readers work on a ByteSource so that files and memory buffers (tests, fuzzing) go through
// the same code. Every malformed, truncated or foreign input throws BackupFormatError; nothing
// here trusts a length before checking it against the source's size.
// Not thread-safe per object; distinct objects may be used from distinct threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dal/driver.h"

namespace orv::server {

class BackupFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // Reads exactly n bytes at offset; throws BackupFormatError when they are not there.
  virtual void read_at(std::uint64_t offset, void* buffer, std::size_t n) const = 0;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const void* data, std::size_t size) : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  std::uint64_t size() const override { return size_; }
  void read_at(std::uint64_t offset, void* buffer, std::size_t n) const override;

 private:
  const unsigned char* data_;
  std::size_t size_;
};

// A file opened read-only; throws std::system_error when it cannot be opened.
class FileSource : public ByteSource {
 public:
  explicit FileSource(const std::filesystem::path& path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  std::uint64_t size() const override { return size_; }
  void read_at(std::uint64_t offset, void* buffer, std::size_t n) const override;

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

struct BackupFile {
  std::string logical_name;
  std::string physical_name;
  char type = 'D';  // 'D' data, 'L' log
  std::uint64_t size = 0;
  std::uint64_t data_offset = 0;  // where its bytes start in the backup file
  std::uint32_t crc = 0;          // CRC-32 of its bytes, from the trailer
};

struct BackupSet {
  int position = 1;  // 1 = first set of the file
  std::string server_name;
  std::string user_name;
  std::string database_name;
  dal::DateTime start_date;
  dal::DateTime finish_date;
  std::vector<BackupFile> files;
  std::uint64_t offset = 0;  // of the set's magic in the file
  std::uint64_t length = 0;  // of the whole set
};

// Reads every set's header and trailer (the file bytes are skipped, not checked).
std::vector<BackupSet> read_backup_sets(const ByteSource& source);

// Streams one file of a set to sink in chunks, checking its CRC-32 at the end; throws
// BackupFormatError on a mismatch (the sink has then seen damaged bytes: write to a temporary).
void copy_backup_file(const ByteSource& source, const BackupFile& file,
                      const std::function<void(const void*, std::size_t)>& sink);

// What a new set records; the file bytes are read from `fd` of each entry.
struct BackupSource {
  BackupFile entry;  // logical/physical name, type, size (offset and crc are filled in)
  int fd = -1;       // an open descriptor to read `entry.size` bytes from, starting at 0
  // Checked between chunks: once true, the write stops with std::system_error(ECANCELED) and
  // the previous file is left as it was.
  const std::atomic<bool>* cancel = nullptr;
};

// Writes one set at the end of the file (or replaces the file when init). A non-empty existing
// file that is not a sequence of intact sets is refused (BackupFormatError) and left as it is.
// A new or replaced file is written beside the old one ("<file>.new-XXXXXX") and renamed over it
// when complete and on disk; a set appended to an existing file is cut off again on failure. So a
// failed write leaves the previous file as it was. Errors of the file system throw
// std::system_error with the errno value and the path. Writes go through platform/file_write.h.
void append_backup_set(const std::filesystem::path& file, const BackupSet& header, std::vector<BackupSource>& files,
                       bool init);

// CRC-32 (the zip/ethernet polynomial).
std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t n);

// Local wall time now, and the conversions of the header's date text.
dal::DateTime now_local();
std::string format_date(dal::DateTime d);                  // "YYYY-MM-DD HH:MM:SS.mmm"
bool parse_date(const std::string& text, dal::DateTime& out);

}  // namespace orv::server
