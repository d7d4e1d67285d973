// Hand-made archives for the hostile cases: every field of every record set by the test, so an
// archive can lie about offsets and sizes in ways no writer would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv::zip::testing {

struct RawEntry {
  std::string name;
  std::string data;             // bytes as stored (already compressed for method 8)
  uint16_t method = 0;
  uint16_t flags = 0;
  uint16_t made_by = (3 << 8) | 30;
  uint32_t crc = 0;             // filled from `plain` by make_entry
  uint64_t compressed = 0;
  uint64_t uncompressed = 0;
  uint64_t local_offset = 0;    // where the central header says the local header is
  bool zip64_sizes = false;     // sizes in a Zip64 extra field of the central header
};

// An entry whose stored bytes are `plain` (method 0) or its raw deflate stream (method 8), with
// true sizes and CRC; callers then falsify what they like.
RawEntry make_entry(const std::string& name, const std::string& plain, uint16_t method);
std::string raw_deflate(const std::string& plain);

// The local header of `e` followed by its data.
std::string local_record(const RawEntry& e);

// Archive = prefix + `body` (local records laid out by the caller) + central directory of
// `entries` (their local_offset relative to the start of body) + end record (Zip64 end
// records when zip64).
std::string archive_bytes(const std::string& body, const std::vector<RawEntry>& entries, bool zip64 = false,
                          const std::string& prefix = {});

// The usual layout: each entry's local record in turn, offsets filled in.
std::string simple_archive(std::vector<RawEntry> entries, bool zip64 = false, const std::string& prefix = {});

}  // namespace orv::zip::testing
