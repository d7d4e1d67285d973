// The compressed message record generated at build time by zipmsgc from messages.txt.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv::zip {
extern const std::uint8_t kBuiltinZipMessageRecord[];
extern const std::size_t kBuiltinZipMessageRecordSize;
}  // namespace orv::zip
