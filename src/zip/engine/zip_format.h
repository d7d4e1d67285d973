// Zip records as the engine writes and reads them (layouts in zip/records/zip_records.h): MS-DOS
// times, and the central-directory reader (with Zip64 end records and extra fields).
//
// The reader trusts nothing in the file: every length and offset is checked against the
// archive's size before use, and a damaged directory yields a FormatError with the reason.
#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "zip/records/zip_records.h"

namespace orv::zip::engine {

// Names the engine's code uses for the record constants of zip/records/zip_records.h.
inline constexpr uint32_t kLocalSig = records::local_header::kSignature;
inline constexpr uint32_t kCentralSig = records::central_header::kSignature;
inline constexpr uint32_t kEndSig = records::end_record::kSignature;
inline constexpr uint32_t kZip64EndSig = records::zip64_end_record::kSignature;
inline constexpr uint32_t kZip64LocatorSig = records::zip64_locator::kSignature;
inline constexpr uint32_t kDescriptorSig = records::data_descriptor::kSignature;
inline constexpr uint16_t kZip64ExtraId = records::extra::kZip64;
inline constexpr uint16_t kTimeExtraId = records::extra::kExtendedTime;
inline constexpr uint32_t kMax32 = records::kMax32;
inline constexpr uint16_t kMax16 = records::kMax16;

// Appends little-endian fields to a byte buffer (for variable-length parts: extra fields, and
// the records of tests).
class ByteWriter {
 public:
  void u8(uint8_t v) { bytes_.push_back(v); }
  void u16(uint16_t v) { append<2>(v, orv::bytes::store_le16); }
  void u32(uint32_t v) { append<4>(v, orv::bytes::store_le32); }
  void u64(uint64_t v) { append<8>(v, orv::bytes::store_le64); }
  void raw(const std::string& s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
  void raw(const std::vector<uint8_t>& s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
  void raw(const uint8_t* p, size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  template <size_t N, typename T>
  void append(T v, void (*store)(uint8_t*, T)) {
    uint8_t b[N];
    store(b, v);
    bytes_.insert(bytes_.end(), b, b + N);
  }
  std::vector<uint8_t> bytes_;
};

// MS-DOS packed date (high 16 bits) and time (low 16 bits) in local time; years before 1980
// become 1980-01-01 00:00.
uint32_t dos_time_from_unix(std::time_t t);
std::time_t unix_time_from_dos(uint32_t dos);

class FormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One central-directory entry with the Zip64 values already folded in.
struct CentralEntry {
  std::string name;           // raw bytes as stored
  std::string text_name;      // UTF-8, as the listing shows it (zip/records/zip_text.h)
  uint16_t made_by = 0;
  uint16_t version_needed = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dos_time = 0;
  uint32_t crc = 0;
  uint64_t compressed_size = 0;
  uint64_t uncompressed_size = 0;
  uint64_t local_offset = 0;  // already corrected for data before the archive
  uint16_t internal_attr = 0;
  uint32_t external_attr = 0;
  bool has_unix_time = false;
  int64_t unix_mtime = 0;
  std::string extra;          // raw central extra field

  bool is_directory() const { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }
  bool is_encrypted() const { return (flags & 1) != 0; }
  bool needs_zip64() const;
};

struct CentralDirectory {
  std::vector<CentralEntry> entries;
  std::string comment;
  uint64_t start = 0;  // offset of the first central header
};

// Reads what is needed from an archive. read_at(offset, buffer, length) must read exactly
// length bytes or throw; size is the archive's size in bytes.
class ArchiveSource {
 public:
  virtual ~ArchiveSource() = default;
  virtual uint64_t size() const = 0;
  virtual void read_at(uint64_t offset, void* buffer, size_t length) const = 0;
};

CentralDirectory read_central_directory(const ArchiveSource& source);

// Offset of the entry's data: past the local header, its name and its extra field.
uint64_t local_data_offset(const ArchiveSource& source, const CentralEntry& entry);

// Refuses an archive whose entries share bytes: a local header inside another entry's header or
// data, or two entries over the same data (the overlapping-entry bomb). Reads every local header.
void check_entries_apart(const ArchiveSource& source, const std::vector<CentralEntry>& entries);

}  // namespace orv::zip::engine
