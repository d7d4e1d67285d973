// Internal: finding the end-of-central-directory record (and the Zip64 end records).
#pragma once

#include <cstdint>
#include <string>

#include "zip/dirreader/zip_source.h"

namespace orv::zip::detail {

inline constexpr std::uint32_t kEndSignature = 0x06054B50;
inline constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
inline constexpr std::uint32_t kCentralSignature = 0x02014B50;
inline constexpr std::uint32_t kLocalSignature = 0x04034B50;
inline constexpr std::size_t kEndRecordSize = 22;
inline constexpr std::size_t kMaxEndSearch = 65557;  // record + longest comment

enum class EndStatus { Found, NotFound, ReadError, BadZip64 };

struct EndRecord {
  EndStatus status = EndStatus::NotFound;
  std::string read_error;
  std::uint64_t position = 0;        // of the 22-byte record
  std::uint64_t logical_size = 0;    // position + 22 + comment length
  std::uint32_t this_disk = 0;
  std::uint32_t central_disk = 0;
  std::uint64_t entries_this_disk = 0;
  std::uint64_t total_entries = 0;
  std::uint64_t central_size = 0;
  std::uint64_t central_offset = 0;  // as recorded
  std::string comment;               // raw bytes
  bool garbage = false;              // bytes after the comment that are not padding
  bool zip64 = false;
  std::uint64_t zip64_position = 0;  // where the Zip64 end record was found
};

std::uint16_t Le16(const std::uint8_t* p);
std::uint32_t Le32(const std::uint8_t* p);
std::uint64_t Le64(const std::uint8_t* p);

// Reads until `count` bytes or the end of the data; false on a read error (text in *error).
bool ReadFully(ZipSource& source, std::uint64_t offset, std::uint8_t* out, std::size_t count,
               std::size_t& got, std::string* error);

EndRecord FindEndRecord(ZipSource& source);

}  // namespace orv::zip::detail
