// The zip records as named layouts: the one definition of every field's offset and width of the
// local header, the central header, the end record, the Zip64 end record and its locator, and the
// data descriptor. Writers (engine/zip_writer.cpp) and readers (engine/zip_format.cpp,
// dirreader/) use these names instead of bare offsets; the central header is decoded by
// ParseCentralHeader only.
//
// All fields are little-endian (platform/byte_order.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/byte_order.h"

namespace orv::zip::records {

// A field: its offset in the record and its width in bytes (2, 4 or 8).
template <std::size_t Offset, std::size_t Width>
struct Field {
  static_assert(Width == 2 || Width == 4 || Width == 8);
  static constexpr std::size_t offset = Offset;
  static constexpr std::size_t width = Width;
  using type = std::conditional_t<Width == 2, std::uint16_t, std::conditional_t<Width == 4, std::uint32_t, std::uint64_t>>;
};

template <class F>
constexpr typename F::type get(const std::uint8_t* record) {
  if constexpr (F::width == 2) return orv::bytes::load_le16(record + F::offset);
  else if constexpr (F::width == 4) return orv::bytes::load_le32(record + F::offset);
  else return orv::bytes::load_le64(record + F::offset);
}

template <class F>
constexpr void put(std::uint8_t* record, typename F::type value) {
  if constexpr (F::width == 2) orv::bytes::store_le16(record + F::offset, value);
  else if constexpr (F::width == 4) orv::bytes::store_le32(record + F::offset, value);
  else orv::bytes::store_le64(record + F::offset, value);
}

// Marks of a value kept in a Zip64 record or extra field instead.
inline constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;
inline constexpr std::uint16_t kMax16 = 0xFFFF;

// General purpose flags.
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagUtf8 = 0x0800;

// Extra field blocks: a 2-byte id and a 2-byte length before the data.
namespace extra {
inline constexpr std::size_t kHeaderSize = 4;
using Id = Field<0, 2>;
using Length = Field<2, 2>;
inline constexpr std::uint16_t kZip64 = 0x0001;
inline constexpr std::uint16_t kExtendedTime = 0x5455;  // "UT"
}  // namespace extra

namespace local_header {
inline constexpr std::uint32_t kSignature = 0x04034B50;
inline constexpr std::size_t kSize = 30;  // then name and extra field
using Signature = Field<0, 4>;
using VersionNeeded = Field<4, 2>;
using Flags = Field<6, 2>;
using Method = Field<8, 2>;
using DosTime = Field<10, 4>;
using Crc = Field<14, 4>;
using CompressedSize = Field<18, 4>;
using UncompressedSize = Field<22, 4>;
using NameLength = Field<26, 2>;
using ExtraLength = Field<28, 2>;
}  // namespace local_header

namespace central_header {
inline constexpr std::uint32_t kSignature = 0x02014B50;
inline constexpr std::size_t kSize = 46;  // then name, extra field and comment
using Signature = Field<0, 4>;
using MadeBy = Field<4, 2>;  // low byte: writer version; high byte: host system
using VersionNeeded = Field<6, 2>;
using Flags = Field<8, 2>;
using Method = Field<10, 2>;
using DosTime = Field<12, 4>;
using Crc = Field<16, 4>;
using CompressedSize = Field<20, 4>;
using UncompressedSize = Field<24, 4>;
using NameLength = Field<28, 2>;
using ExtraLength = Field<30, 2>;
using CommentLength = Field<32, 2>;
using DiskStart = Field<34, 2>;
using InternalAttr = Field<36, 2>;
using ExternalAttr = Field<38, 4>;
using LocalOffset = Field<42, 4>;
}  // namespace central_header

namespace end_record {
inline constexpr std::uint32_t kSignature = 0x06054B50;
inline constexpr std::size_t kSize = 22;  // then the archive comment
using Signature = Field<0, 4>;
using ThisDisk = Field<4, 2>;
using CentralDisk = Field<6, 2>;
using EntriesThisDisk = Field<8, 2>;
using TotalEntries = Field<10, 2>;
using CentralSize = Field<12, 4>;
using CentralOffset = Field<16, 4>;
using CommentLength = Field<20, 2>;
}  // namespace end_record

namespace zip64_end_record {
inline constexpr std::uint32_t kSignature = 0x06064B50;
inline constexpr std::size_t kSize = 56;  // version 1, without extensible data
using Signature = Field<0, 4>;
using RecordSize = Field<4, 8>;  // of what follows this field: kSize - 12
using MadeBy = Field<12, 2>;
using VersionNeeded = Field<14, 2>;
using ThisDisk = Field<16, 4>;
using CentralDisk = Field<20, 4>;
using EntriesThisDisk = Field<24, 8>;
using TotalEntries = Field<32, 8>;
using CentralSize = Field<40, 8>;
using CentralOffset = Field<48, 8>;
}  // namespace zip64_end_record

namespace zip64_locator {
inline constexpr std::uint32_t kSignature = 0x07064B50;
inline constexpr std::size_t kSize = 20;  // right before the end record
using Signature = Field<0, 4>;
using Zip64EndDisk = Field<4, 4>;
using Zip64EndOffset = Field<8, 8>;
using TotalDisks = Field<16, 4>;
}  // namespace zip64_locator

namespace data_descriptor {
inline constexpr std::uint32_t kSignature = 0x08074B50;
}  // namespace data_descriptor

// A central header's fixed part, decoded. The 32-bit sizes and offset and the 16-bit disk are as
// stored: kMax32 / kMax16 mean "in the Zip64 extra field".
struct CentralHeader {
  std::uint16_t made_by = 0;
  std::uint16_t version_needed = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t dos_time = 0;
  std::uint32_t crc = 0;
  std::uint32_t compressed_size = 0;
  std::uint32_t uncompressed_size = 0;
  std::uint16_t name_length = 0;
  std::uint16_t extra_length = 0;
  std::uint16_t comment_length = 0;
  std::uint16_t disk_start = 0;
  std::uint16_t internal_attr = 0;
  std::uint32_t external_attr = 0;
  std::uint32_t local_offset = 0;

  // Bytes of the whole header: fixed part, name, extra field and comment.
  std::size_t total_size() const {
    return central_header::kSize + std::size_t{name_length} + extra_length + comment_length;
  }
};

// Decodes the fixed part at h (central_header::kSize bytes); false when the signature is wrong.
bool ParseCentralHeader(const std::uint8_t* h, CentralHeader& out);

}  // namespace orv::zip::records
