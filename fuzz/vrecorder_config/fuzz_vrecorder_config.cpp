// The virtual recorder's configuration parser on arbitrary text: every accepted drive has a
// known profile, bounded product strings and at least one speed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "scsi/vrecorder/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto result = orv::vrec::ParseConfig(text);
  for (const auto& d : result.drives) {
    if (d.image.empty() || d.vendor.size() > 8 || d.product.size() > 16 || d.revision.size() > 4 ||
        d.write_speeds.empty() || d.capacity < 300)
      std::abort();
  }
  return 0;
}
