// The working-folder rule of the folder choice: a chosen folder is stored with a trailing "/" so
// file names can be appended to it, except the root "/", which already ends with one.
#pragma once

#include <string>

namespace orv::shell {

// "/" stays "/"; "/srv/backup" becomes "/srv/backup/": the path gets a separator appended when
// its first separator comes before its last character (the rule the stored Temp_Dizini values
// of existing settings databases were made with).
inline std::string working_folder_text(const std::string& chosen) {
  const auto first = chosen.find('/');
  if (first != std::string::npos && first + 1 < chosen.size()) return chosen + "/";
  return chosen;
}

}  // namespace orv::shell
