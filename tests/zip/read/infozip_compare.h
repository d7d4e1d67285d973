// Lists an archive with orvakell-zip and with Info-ZIP's zipinfo/unzip, and compares the
// entries: name, sizes, CRC-32 and date/time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orv::zip::testing {

struct ListedEntry {
  std::string name;
  std::uint64_t size = 0;
  std::uint64_t compressed = 0;
  std::string crc;       // 8 hex digits, lower case
  std::string when;      // "YYYYMMDD.hhmmss"
  bool operator==(const ListedEntry&) const = default;
};

// orvakell-zip list ARCHIVE, parsed. `exit_code` gets the program's exit code.
std::vector<ListedEntry> ListWithOrvakell(const std::filesystem::path& archive, int& exit_code);
// zipinfo -lT (names, sizes, times) joined with unzip -v (CRC-32).
std::vector<ListedEntry> ListWithInfoZip(const std::filesystem::path& archive);

}  // namespace orv::zip::testing
