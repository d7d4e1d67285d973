// Writing one archive: local headers, entry data (stored or deflated in chunks), the central
// directory and the end records, with Zip64 records exactly where a size, offset or count needs
// them. The archive goes to a temporary file beside the final name (unnamed where the file system
// allows) and replaces it only when complete and flushed; temporary files that killed writers
// left beside the same name are removed first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/engine/chunk_deflater.h"
#include "zip/engine/file_io.h"
#include "zip/engine/session.h"
#include "zip/engine/zip_format.h"

namespace orv::zip::engine {

struct NewEntry {
  std::string source;      // path of the file to read
  std::string name;        // stored name ('/' separators)
  uint64_t size = 0;       // size when the list was made
  int64_t mtime = 0;
  uint32_t mode = 0;       // st_mode
  bool store = false;      // no compression
};

class ZipWriter {
 public:
  // Creates the temporary file beside final_path.
  ZipWriter(const std::string& final_path, Session& session, int zip_level);
  ~ZipWriter();  // removes the temporary file unless committed
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Copies an entry of an existing archive unchanged (compressed data as is).
  void copy_entry(const ArchiveSource& from, const CentralEntry& entry);
  // Reads, compresses and writes one file. Returns the entry written.
  void add_file(const NewEntry& entry);
  // Central directory, end records, flush, rename over the final name.
  void commit(const std::string& comment);

  uint64_t written() const { return offset_; }

 private:
  void write(const void* data, size_t n);
  void write_local_header(const CentralEntry& e, bool zip64_sizes);

  std::string final_path_;
  TempFile temp_;
  File& out_;
  Session& session_;
  int zip_level_;
  uint64_t offset_ = 0;
  std::vector<CentralEntry> central_;
  std::unique_ptr<ChunkDeflater> deflater_;
  std::vector<DeflateChunk> chunks_;
};

}  // namespace orv::zip::engine
