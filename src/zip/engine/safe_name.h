// Where an archive entry may be written: the only place that turns a stored name into a path.
#pragma once

#include <string>

namespace orv::zip::engine {

// The relative path (with '/' separators) under which the entry named `stored` is written
// below the target folder, or "" when the name gives no safe place. Backslashes count as
// separators; a drive prefix ("C:"), leading separators, "." and ".." components never take
// the path out of the folder. keep_folders false: the bare last component only.
std::string safe_entry_path(const std::string& stored, bool keep_folders);

// The name an added file is stored under: '/' separators, no drive, no leading '/', no "."
// or ".." components. "" when nothing is left.
std::string clean_stored_name(const std::string& name);

}  // namespace orv::zip::engine
