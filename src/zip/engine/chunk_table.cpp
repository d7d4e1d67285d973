#include "zip/engine/chunk_table.h"

#include "zip/engine/zip_format.h"

namespace orv::zip::engine {

std::string encode_chunk_table(const ChunkTable& table) {
  const size_t data = 5 + 4 * table.compressed.size();
  if (data > 60000 || table.compressed.empty()) return {};
  ByteWriter w;
  w.u16(kChunkTableExtraId);
  w.u16(static_cast<uint16_t>(data));
  w.u8(1);
  w.u32(table.chunk_size);
  for (uint32_t n : table.compressed) w.u32(n);
  return std::string(w.bytes().begin(), w.bytes().end());
}

std::optional<ChunkTable> find_chunk_table(const std::string& extra, uint64_t compressed_size,
                                           uint64_t uncompressed_size) {
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const auto* p = reinterpret_cast<const uint8_t*>(extra.data() + at);
    const size_t len = orv::bytes::load_le16(p + 2);
    if (at + 4 + len > extra.size()) return std::nullopt;
    if (orv::bytes::load_le16(p) == kChunkTableExtraId && len >= 9 && (len - 5) % 4 == 0 && p[4] == 1) {
      ChunkTable t;
      t.chunk_size = orv::bytes::load_le32(p + 5);
      const size_t count = (len - 5) / 4;
      uint64_t sum = 0;
      for (size_t i = 0; i < count; ++i) {
        t.compressed.push_back(orv::bytes::load_le32(p + 9 + 4 * i));
        sum += t.compressed.back();
      }
      // The table must describe exactly this entry.
      if (t.chunk_size == 0 || t.chunk_size > (64u << 20) || sum != compressed_size) return std::nullopt;
      const uint64_t chunks = uncompressed_size == 0 ? 1 : (uncompressed_size + t.chunk_size - 1) / t.chunk_size;
      if (chunks != count) return std::nullopt;
      return t;
    }
    at += 4 + len;
  }
  return std::nullopt;
}

}  // namespace orv::zip::engine
