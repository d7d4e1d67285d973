// Builds small zip archives in memory, byte by byte, with control over every field that the
// directory reader looks at (hosts, flags, Zip64 fields, comments, damage).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv::zip::testing {

struct FixtureEntry {
  std::string name;
  std::string data;              // stored
  std::uint8_t host = 0;
  std::uint8_t made_by = 20;
  std::uint16_t flag = 0;
  std::uint32_t dos_time = 0x5B8E7A31;  // 2025-12-14 15:17:34
  std::uint32_t crc = 0;         // written as given
  std::string comment;
  std::string extra;             // central extra field
  bool zip64_sizes = false;      // header sizes 0xFFFFFFFF, values in a Zip64 extra field
  std::uint64_t zip64_usize = 0, zip64_csize = 0;
};

struct FixtureOptions {
  std::string prefix;            // bytes in front of the archive (shifts every offset)
  std::string comment;
  std::string trailer;           // bytes after the end record
  bool zip64_end = false;        // Zip64 end record + locator, end record fields set to marks
  std::int64_t total_entries_delta = 0;  // damage: wrong entry count
};

struct Fixture {
  std::string bytes;
  std::uint64_t central_offset = 0;  // in bytes (prefix included)
  std::uint64_t central_size = 0;
  std::uint64_t end_position = 0;
  std::vector<std::uint64_t> central_header_at;  // position of each central header
};

Fixture BuildZip(const std::vector<FixtureEntry>& entries, const FixtureOptions& options = {});

void Put16(std::string& s, std::uint64_t v);
void Put32(std::string& s, std::uint64_t v);
void Put64(std::string& s, std::uint64_t v);
void Set16(std::string& s, std::size_t at, std::uint16_t v);
void Set32(std::string& s, std::size_t at, std::uint32_t v);

}  // namespace orv::zip::testing
