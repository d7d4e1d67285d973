// Helpers shared by the image tests: a layout plus header built from the process tree, and
// byte readers for the fields of the image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "burner/file_tree.h"
#include "burner/image_headers.h"
#include "burner/image_layout.h"

namespace orv::burner::test {

struct Built {
  TImageLayout layout;
  std::vector<uint8_t> header;
  // Bytes of an absolute sector of the header area.
  const uint8_t* Sector(uint32_t absolute) const {
    return header.data() + static_cast<size_t>(absolute - layout.SessionStart) * kSectorSize;
  }
};

inline Built LayOut(TFileTree& tree, const TLayoutOptions& options, const TVolumeIds& ids = {}) {
  Built b;
  b.layout = LayoutTree(tree, options);
  BuildImageHeaders(tree, b.layout, ids, b.header, 0);
  return b;
}

inline uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t GetBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint32_t GetLe16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetBe16(const uint8_t* p) { return static_cast<uint32_t>((p[0] << 8) | p[1]); }
// A both-endian 32-bit field whose two halves must agree; returns 0xFFFFFFFF when they differ.
inline uint32_t GetBoth32(const uint8_t* p) { return GetLe32(p) == GetBe32(p + 4) ? GetLe32(p) : 0xFFFFFFFFu; }

struct DirRecordView {
  uint32_t length, extent, data_length;
  uint8_t flags;
  std::string id;
};
// The records of a directory of `sectors` sectors starting at p, following the rule that a
// zero length byte ends the sector.
inline std::vector<DirRecordView> ReadDirectory(const uint8_t* p, uint32_t bytes) {
  std::vector<DirRecordView> out;
  for (uint32_t sector = 0; sector < bytes; sector += kSectorSize) {
    uint32_t at = 0;
    while (at < kSectorSize && p[sector + at] != 0) {
      const uint8_t* r = p + sector + at;
      out.push_back({r[0], GetBoth32(r + 2), GetBoth32(r + 10), r[25], std::string(reinterpret_cast<const char*>(r + 33), r[32])});
      at += r[0];
    }
  }
  return out;
}

}  // namespace orv::burner::test
