// Zip records as the engine writes and reads them: little-endian field helpers, MS-DOS times,
// and the central-directory reader (with Zip64 end records and extra fields).
//
// The reader trusts nothing in the file: every length and offset is checked against the
// archive's size before use, and a damaged directory yields a FormatError with the reason.
#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv::zip::engine {

inline constexpr uint32_t kLocalSig = 0x04034B50;
inline constexpr uint32_t kCentralSig = 0x02014B50;
inline constexpr uint32_t kEndSig = 0x06054B50;
inline constexpr uint32_t kZip64EndSig = 0x06064B50;
inline constexpr uint32_t kZip64LocatorSig = 0x07064B50;
inline constexpr uint32_t kDescriptorSig = 0x08074B50;
inline constexpr uint16_t kZip64ExtraId = 0x0001;
inline constexpr uint16_t kTimeExtraId = 0x5455;  // extended timestamp ("UT")
inline constexpr uint32_t kMax32 = 0xFFFFFFFFu;
inline constexpr uint16_t kMax16 = 0xFFFF;

// Appends little-endian fields to a byte buffer.
class ByteWriter {
 public:
  void u8(uint8_t v) { bytes_.push_back(v); }
  void u16(uint16_t v) { u8(static_cast<uint8_t>(v)); u8(static_cast<uint8_t>(v >> 8)); }
  void u32(uint32_t v) { u16(static_cast<uint16_t>(v)); u16(static_cast<uint16_t>(v >> 16)); }
  void u64(uint64_t v) { u32(static_cast<uint32_t>(v)); u32(static_cast<uint32_t>(v >> 32)); }
  void raw(const std::string& s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
  void raw(const std::vector<uint8_t>& s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

inline uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t get32(const uint8_t* p) { return get16(p) | (static_cast<uint32_t>(get16(p + 2)) << 16); }
inline uint64_t get64(const uint8_t* p) { return get32(p) | (static_cast<uint64_t>(get32(p + 4)) << 32); }

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
