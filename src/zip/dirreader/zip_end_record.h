// Internal: finding the end-of-central-directory record (and the Zip64 end records).
#pragma once

#include <cstdint>
#include <string>

#include "zip/dirreader/zip_source.h"
#include "zip/records/zip_records.h"

namespace orv::zip::detail {

inline constexpr std::uint32_t kEndSignature = records::end_record::kSignature;
inline constexpr std::uint32_t kCentralSignature = records::central_header::kSignature;
inline constexpr std::uint32_t kLocalSignature = records::local_header::kSignature;
inline constexpr std::size_t kEndRecordSize = records::end_record::kSize;
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

// Reads until `count` bytes or the end of the data; false on a read error (text in *error).
bool ReadFully(ZipSource& source, std::uint64_t offset, std::uint8_t* out, std::size_t count,
               std::size_t& got, std::string* error);

EndRecord FindEndRecord(ZipSource& source);

}  // namespace orv::zip::detail
