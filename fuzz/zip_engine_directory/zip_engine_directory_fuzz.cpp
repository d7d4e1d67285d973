// The engine's own central-directory reader (used before every extract and when an add keeps
// the entries of an existing archive) on arbitrary bytes: it must either fail with a
// FormatError or give entries whose data lies inside the archive and whose names map to safe
// paths; the overlap check passes only entries that share no byte.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zip/engine/safe_name.h"
#include "zip/engine/zip_format.h"

namespace {

class Bytes : public orv::zip::engine::ArchiveSource {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t size() const override { return size_; }
  void read_at(uint64_t offset, void* buffer, size_t length) const override {
    if (offset > size_ || size_ - offset < length) throw orv::zip::engine::FormatError("read past the end");
    if (length > 0) std::memcpy(buffer, data_ + offset, length);
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv::zip::engine;
  Bytes src(data, size);
  try {
    const CentralDirectory dir = read_central_directory(src);
    for (const CentralEntry& e : dir.entries) {
      for (bool folders : {false, true}) {
        const std::string path = safe_entry_path(e.name, folders);
        const std::string wrapped = "/" + path + "/";
        if (wrapped.find("/../") != std::string::npos || wrapped.find("/./") != std::string::npos) std::abort();
        if (!path.empty() && path[0] == '/') std::abort();
        if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos) std::abort();
      }
      try {
        const uint64_t at = local_data_offset(src, e);
        if (at > size || size - at < e.compressed_size) std::abort();
      } catch (const FormatError&) {
      }
    }
    // Entries that pass the overlap check share no byte: no local header or data inside another's.
    try {
      check_entries_apart(src, dir.entries);
      const size_t n = std::min<size_t>(dir.entries.size(), 64);
      for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 1; j < n; ++j) {
          const CentralEntry& a = dir.entries[i];
          const CentralEntry& b = dir.entries[j];
          const uint64_t a_end = local_data_offset(src, a) + a.compressed_size;
          const uint64_t b_end = local_data_offset(src, b) + b.compressed_size;
          if (a.local_offset < b_end && b.local_offset < a_end) std::abort();
        }
    } catch (const FormatError&) {
    }
  } catch (const FormatError&) {
  }
  return 0;
}
