// Helpers shared by the image tests: a layout plus header built from the process tree, and
// byte readers for the fields of the image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "burner/file_tree.h"
#include "burner/image_headers.h"
#include "burner/image_layout.h"
#include "platform/byte_order.h"

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

// A both-byte-order field whose halves must agree; 0xFFFFFFFF when they do not.
inline uint32_t GetBoth32(const uint8_t* p) {
  return orv::bytes::load_le32(p) == orv::bytes::load_be32(p + 4) ? orv::bytes::load_le32(p) : 0xFFFFFFFFu;
}

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
