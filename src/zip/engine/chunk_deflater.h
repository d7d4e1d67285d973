// Deflate of a large input as independent chunks joined into one raw deflate stream, so that
// both cores compress at once and no file is ever held whole in memory.
//
// Each chunk is compressed on its own by libdeflate. Every chunk but the stream's last is then
// made non-final and closed with an empty stored block, which byte-aligns it, so the chunks
// concatenate into one valid stream. Finding the final block means decoding the chunk once
// with zlib; the decoded bytes are checked against the input's CRC-32, so each chunk is
// proved to round-trip before it is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orv::zip::engine {

struct DeflateChunk {
  std::vector<uint8_t> input;   // capacity kChunkSize; input_size bytes used
  size_t input_size = 0;
  std::vector<uint8_t> output;  // the stream bytes to append, output_size used
  size_t output_size = 0;
  uint32_t crc = 0;             // CRC-32 of the input bytes alone
  std::string error;            // non-empty when compressing failed
};

class ChunkDeflater {
 public:
  static constexpr size_t kChunkSize = size_t{4} << 20;

  // level: the libdeflate level (1-12); workers: chunks compressed at once (at least 1).
  ChunkDeflater(int level, unsigned workers);
  ~ChunkDeflater();
  ChunkDeflater(const ChunkDeflater&) = delete;
  ChunkDeflater& operator=(const ChunkDeflater&) = delete;

  unsigned workers() const { return static_cast<unsigned>(workers_.size()); }

  // Compresses chunks[0..count) at once. ends_stream: chunks[count-1] is the stream's last.
  // Returns false when a chunk failed (its error says why).
  [[nodiscard]] bool compress(std::vector<DeflateChunk>& chunks, size_t count, bool ends_stream);

 private:
  struct Worker;
  std::vector<std::unique_ptr<Worker>> workers_;
};

// Maps the archiver's level (1-9) to the libdeflate level that is used.
int libdeflate_level_for(int zip_level);

}  // namespace orv::zip::engine
