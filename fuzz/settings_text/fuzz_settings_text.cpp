// Texts the settings layer reads from outside: date-times written by hand into the settings
// file, and connection strings. A parsed date-time must format and parse back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dal/datetime.h"
#include "dal/driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto parsed = orv::dal::parse_date_time(text)) {
    std::string formatted = orv::dal::format_date_time(*parsed);
    auto again = orv::dal::parse_date_time(formatted);
    if (!again || again->days != parsed->days) std::abort();
    (void)orv::dal::hour_of(*parsed);
    (void)orv::dal::day_of_week(*parsed);
  }
  orv::dal::ConnectionString cs(text);
  (void)cs.get("Data Source");
  return 0;
}
