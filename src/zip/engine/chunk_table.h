// The engine's private extra field (id 0x564F) that lists the independent chunks of a
// deflated entry written by ChunkDeflater, so that the engine can inflate them on both cores
// with libdeflate. Other tools ignore the field; the entry is an ordinary deflate stream.
//
// Layout: version (1 byte, 1), uncompressed chunk size (4), then the compressed length of every
// chunk (4 each). Every chunk but the last ends with an empty stored block, byte-aligned; a
// chunk becomes a complete stream when an empty final block (0x03 0x00) is appended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv::zip::engine {

inline constexpr uint16_t kChunkTableExtraId = 0x564F;

struct ChunkTable {
  uint32_t chunk_size = 0;
  std::vector<uint32_t> compressed;  // length of each chunk's deflate bytes
};

// The extra-field block (id, length, data), or "" when the table does not fit an extra field.
std::string encode_chunk_table(const ChunkTable& table);

// The table from an entry's extra field when present and consistent with the entry's sizes.
std::optional<ChunkTable> find_chunk_table(const std::string& extra, uint64_t compressed_size,
                                           uint64_t uncompressed_size);

}  // namespace orv::zip::engine
