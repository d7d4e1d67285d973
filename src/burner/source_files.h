// The platform's view of a source file: a directory search record (name, alternate 8.3 name,
// size, attributes, time stamp) and the archive attribute, mapped to Linux. Hidden means the
// name starts with "."; the archive attribute lives in the extended attribute user.DOSATTRIB
// (text "0x%x" of the DOS attribute bits; absent means archive set). Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "burner/datetime.h"

namespace orv::burner {

constexpr uint32_t faReadOnly = 0x01;
constexpr uint32_t faHidden = 0x02;
constexpr uint32_t faSysFile = 0x04;
constexpr uint32_t faVolumeID = 0x08;
constexpr uint32_t faDirectory = 0x10;
constexpr uint32_t faArchive = 0x20;

struct TSearchRec {
  TDateTime Time = 0;       // local time, as a directory search reports it
  int64_t Size = 0;         // bytes
  uint32_t Attr = 0;        // fa* bits
  std::string Name;         // long name
  std::string AlternateName;  // 8.3 name, empty when Name is already a plain 8.3 name
};

// Searches one source path (symbolic links followed). Gives no record when nothing is there.
// NameTaken tells whether an alternate name is already used where the file goes; the search
// then numbers on (~1, ~2, ...) so that short names stay unique in the target folder.
std::optional<TSearchRec> FindSourceFile(const std::string& path,
                                         const std::function<bool(const std::string&)>& NameTaken = {});

// DOS attribute bits of a file from its mode, name and user.DOSATTRIB.
uint32_t ReadAttributes(const std::string& path);
// Stores the archive/read-only/hidden/system bits in user.DOSATTRIB. Returns an empty text on
// success, else the system's error text.
[[nodiscard]] std::string WriteAttributes(const std::string& path, uint32_t attributes);

}  // namespace orv::burner
