// The shipped settings database file: made once from its SQL script, never over an existing
// file (an existing one holds the operator's schedule).
//
// The script runs into a temporary file beside the target ("<target>.new-<pid>"), which is
// linked under the target's name only when the whole script ran, then removed; so a failed
// script or a failed write leaves no half-made database under the target's name. SQLite writes
// the temporary database itself; the link goes through the write seam (platform/file_write.h).
// Blocking; no shared state.
#pragma once

#include <filesystem>
#include <string>

namespace orv::settings {

struct SettingsDbResult {
  enum class Outcome { Made, AlreadyThere, Failed };
  Outcome outcome = Outcome::Failed;
  std::string error;  // for Failed: what failed, with SQLite's or the system's text
};

[[nodiscard]] SettingsDbResult make_settings_db(const std::filesystem::path& script,
                                                const std::filesystem::path& target);

}  // namespace orv::settings
