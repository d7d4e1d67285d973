// Byte-order helpers for on-disc and on-wire records: little-endian (zip records, ISO 9660's
// little-endian fields, our backup file format), big-endian (SCSI command blocks and replies,
// ISO 9660's big-endian fields) and ISO 9660's both-byte-order fields (7.2.3 / 7.3.3 of ECMA-119:
// the little-endian value followed by the big-endian one).
//
// Header-only and constexpr; the pointers must address at least the field's width. The one
// definition of each helper: record readers and writers of every library use these.
#pragma once

#include <cstdint>

namespace orv::bytes {

constexpr std::uint16_t load_le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
constexpr std::uint32_t load_le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
constexpr std::uint64_t load_le64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(load_le32(p)) | (static_cast<std::uint64_t>(load_le32(p + 4)) << 32);
}
constexpr std::uint16_t load_be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
constexpr std::uint32_t load_be24(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[2];
}
constexpr std::uint32_t load_be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

constexpr void store_le16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
constexpr void store_le32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
constexpr void store_le64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
constexpr void store_be16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
constexpr void store_be24(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 16);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v);
}
constexpr void store_be32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

// ISO 9660 both-byte-order fields: 4 bytes (16-bit value) and 8 bytes (32-bit value). A reader
// takes the little-endian half, as the readers of peers do.
constexpr void store_both16(std::uint8_t* p, std::uint16_t v) {
  store_le16(p, v);
  store_be16(p + 2, v);
}
constexpr void store_both32(std::uint8_t* p, std::uint32_t v) {
  store_le32(p, v);
  store_be32(p + 4, v);
}
constexpr std::uint16_t load_both16(const std::uint8_t* p) { return load_le16(p); }
constexpr std::uint32_t load_both32(const std::uint8_t* p) { return load_le32(p); }

}  // namespace orv::bytes
