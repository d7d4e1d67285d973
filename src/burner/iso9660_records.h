// The records of an ISO 9660 volume as named layouts: every field of the directory record,
// the volume descriptors (primary, Joliet supplementary, El Torito boot record, terminator),
// the path table record and the El Torito boot catalog, each defined once with its offset and
// width and read or written through its codec. The image writer (image_headers.cpp,
// image_layout.cpp) and the readers (session_import.cpp) use these and nothing else.
//
// A field is a type: `DirRecord::Extent::Get(record)` reads the both-byte-order extent at
// offset 2, `DirRecord::Extent::Set(record, sector)` writes it. Get and Set take the start of
// the record; the caller guarantees that the record holds the field (Offset + Width bytes).
// Header-only, constexpr; no state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_order.h"

namespace orv::burner::iso9660 {

// A field of Width bytes at Offset with no numeric codec (texts, dates, byte strings).
template <std::size_t Offset, std::size_t Width>
struct Bytes {
  static constexpr std::size_t kOffset = Offset;
  static constexpr std::size_t kWidth = Width;
  static constexpr std::size_t kEnd = Offset + Width;
  static constexpr std::uint8_t* At(std::uint8_t* record) { return record + Offset; }
  static constexpr const std::uint8_t* At(const std::uint8_t* record) { return record + Offset; }
};

template <std::size_t Offset>
struct U8 : Bytes<Offset, 1> {
  static constexpr std::uint8_t Get(const std::uint8_t* r) { return r[Offset]; }
  static constexpr void Set(std::uint8_t* r, std::uint8_t v) { r[Offset] = v; }
};
template <std::size_t Offset>
struct Le16 : Bytes<Offset, 2> {
  static constexpr std::uint16_t Get(const std::uint8_t* r) { return bytes::load_le16(r + Offset); }
  static constexpr void Set(std::uint8_t* r, std::uint16_t v) { bytes::store_le16(r + Offset, v); }
};
template <std::size_t Offset>
struct Be16 : Bytes<Offset, 2> {
  static constexpr std::uint16_t Get(const std::uint8_t* r) { return bytes::load_be16(r + Offset); }
  static constexpr void Set(std::uint8_t* r, std::uint16_t v) { bytes::store_be16(r + Offset, v); }
};
template <std::size_t Offset>
struct Le32 : Bytes<Offset, 4> {
  static constexpr std::uint32_t Get(const std::uint8_t* r) { return bytes::load_le32(r + Offset); }
  static constexpr void Set(std::uint8_t* r, std::uint32_t v) { bytes::store_le32(r + Offset, v); }
};
template <std::size_t Offset>
struct Be32 : Bytes<Offset, 4> {
  static constexpr std::uint32_t Get(const std::uint8_t* r) { return bytes::load_be32(r + Offset); }
  static constexpr void Set(std::uint8_t* r, std::uint32_t v) { bytes::store_be32(r + Offset, v); }
};
template <std::size_t Offset>
struct Both16 : Bytes<Offset, 4> {
  static constexpr std::uint16_t Get(const std::uint8_t* r) { return bytes::load_both16(r + Offset); }
  static constexpr void Set(std::uint8_t* r, std::uint16_t v) { bytes::store_both16(r + Offset, v); }
};
template <std::size_t Offset>
struct Both32 : Bytes<Offset, 8> {
  static constexpr std::uint32_t Get(const std::uint8_t* r) { return bytes::load_both32(r + Offset); }
  static constexpr void Set(std::uint8_t* r, std::uint32_t v) { bytes::store_both32(r + Offset, v); }
};

inline constexpr std::uint32_t kSectorBytes = 2048;
// The first volume descriptor of a session lies this many sectors after its start.
inline constexpr std::uint32_t kFirstDescriptorSector = 16;

// Directory record: 33 fixed bytes, the identifier, a pad byte when the identifier length is
// even. Identifiers 0x00 and 0x01 name "." and "..".
struct DirRecord {
  using Length = U8<0>;
  using ExtAttrLength = U8<1>;
  using Extent = Both32<2>;
  using DataLength = Both32<10>;
  // Years since 1900, month, day, hour, minute, second, offset from Greenwich in 15 minutes.
  using RecordingDate = Bytes<18, 7>;
  using Flags = U8<25>;
  using FileUnitSize = U8<26>;
  using InterleaveGap = U8<27>;
  using VolumeSequence = Both16<28>;
  using IdLength = U8<32>;
  static constexpr std::size_t kIdentifier = 33;
  // The smallest record: one identifier byte, no pad.
  static constexpr std::size_t kMinLength = kIdentifier + 1;

  static constexpr std::uint8_t kFlagHidden = 0x01;
  static constexpr std::uint8_t kFlagDirectory = 0x02;

  // Bytes of a record with an identifier of n bytes.
  static constexpr std::uint32_t Size(std::size_t id_length) {
    return static_cast<std::uint32_t>(kIdentifier + id_length + (id_length % 2 == 0 ? 1 : 0));
  }
};
static_assert(DirRecord::IdLength::kEnd == DirRecord::kIdentifier);
static_assert(DirRecord::RecordingDate::kEnd == DirRecord::Flags::kOffset);

// Offsets inside the 7-byte recording date.
struct RecordingDate {
  using Year = U8<0>;  // years since 1900
  using Month = U8<1>;
  using Day = U8<2>;
  using Hour = U8<3>;
  using Minute = U8<4>;
  using Second = U8<5>;
  using ZoneOffset = U8<6>;  // signed, 15-minute units east of Greenwich
};

// Fields every volume descriptor starts with.
struct VolumeDescriptorHead {
  using Type = U8<0>;
  using StandardId = Bytes<1, 5>;  // "CD001"
  using Version = U8<6>;

  static constexpr std::uint8_t kBootRecord = 0;
  static constexpr std::uint8_t kPrimary = 1;
  static constexpr std::uint8_t kSupplementary = 2;
  static constexpr std::uint8_t kTerminator = 255;
  static constexpr const char* kStandardId = "CD001";
};

// Primary and supplementary (Joliet) volume descriptor.
struct VolumeDescriptor : VolumeDescriptorHead {
  using SystemId = Bytes<8, 32>;
  using VolumeId = Bytes<40, 32>;
  using VolumeSpaceSize = Both32<80>;
  using EscapeSequences = Bytes<88, 32>;  // supplementary only: "%/@" for Joliet level 1
  using VolumeSetSize = Both16<120>;
  using VolumeSequenceNumber = Both16<124>;
  using LogicalBlockSize = Both16<128>;
  using PathTableSize = Both32<132>;
  using PathTableL = Le32<140>;
  using OptionalPathTableL = Le32<144>;
  using PathTableM = Be32<148>;
  using OptionalPathTableM = Be32<152>;
  using RootDirectoryRecord = Bytes<156, 34>;
  using VolumeSetId = Bytes<190, 128>;
  using PublisherId = Bytes<318, 128>;
  using PreparerId = Bytes<446, 128>;
  using ApplicationId = Bytes<574, 128>;
  using CopyrightFileId = Bytes<702, 37>;
  using AbstractFileId = Bytes<739, 37>;
  using BibliographicFileId = Bytes<776, 37>;
  // "yyyymmddhhmmsscc" and the offset from Greenwich in 15-minute units.
  using CreationDate = Bytes<813, 17>;
  using ModificationDate = Bytes<830, 17>;
  using ExpirationDate = Bytes<847, 17>;
  using EffectiveDate = Bytes<864, 17>;
  using FileStructureVersion = U8<881>;
  using ApplicationUse = Bytes<883, 512>;

  // The 16 digits of a descriptor date, before its zone byte.
  static constexpr std::size_t kDateDigits = 16;
};
static_assert(VolumeDescriptor::RootDirectoryRecord::kEnd == VolumeDescriptor::VolumeSetId::kOffset);
static_assert(VolumeDescriptor::EffectiveDate::kEnd == VolumeDescriptor::FileStructureVersion::kOffset);

// El Torito boot record volume descriptor.
struct BootRecord : VolumeDescriptorHead {
  using BootSystemId = Bytes<7, 32>;  // "EL TORITO SPECIFICATION", zero padded
  using BootCatalogSector = Le32<71>;
  static constexpr const char* kElTorito = "EL TORITO SPECIFICATION";
};

// Path table record: 8 fixed bytes, the identifier, a pad byte when its length is odd. The
// extent and the parent number are little-endian in the L table and big-endian in the M table.
struct PathRecord {
  using IdLength = U8<0>;
  using ExtAttrLength = U8<1>;
  using ExtentL = Le32<2>;
  using ExtentM = Be32<2>;
  using ParentL = Le16<6>;
  using ParentM = Be16<6>;
  static constexpr std::size_t kIdentifier = 8;

  static constexpr std::uint32_t Size(std::size_t id_length) {
    return static_cast<std::uint32_t>(kIdentifier + id_length + id_length % 2);
  }
};

// El Torito boot catalog: the validation entry (32 bytes) and the initial/default entry.
struct BootCatalog {
  using HeaderId = U8<0>;  // 1
  using PlatformId = U8<1>;
  using IdString = Bytes<4, 24>;
  using Checksum = Le16<28>;  // the 16-bit words of the validation entry sum to zero
  using Key55 = U8<30>;
  using KeyAA = U8<31>;
  static constexpr std::size_t kValidationEntry = 32;
  using BootIndicator = U8<32>;  // 0x88: bootable
  using MediaType = U8<33>;
  using LoadSegment = Le16<34>;
  using SystemType = U8<36>;
  using SectorCount = Le16<38>;  // 512-byte virtual sectors loaded at boot
  using LoadRba = Le32<40>;
};
static_assert(BootCatalog::KeyAA::kEnd == BootCatalog::kValidationEntry);

}  // namespace orv::burner::iso9660
