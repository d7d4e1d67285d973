// Platform folders: where the tool is installed, where it keeps its configuration, and the
// user's desktop-style folders, following the XDG conventions of a Linux desktop.
//
// Installation folder: ORVAKELL_HOME when set, otherwise the folder of the running
// executable. It holds the programs, the shared objects and the settings database.
// Configuration folder: $XDG_CONFIG_HOME/orvakell (default ~/.config/orvakell); it holds the
// options file, the registered server and the run log. Nothing here creates folders
// except ensure_folder().
#pragma once

#include <filesystem>
#include <string>

namespace orv::platform {

std::filesystem::path installation_folder();
std::filesystem::path config_folder();

// $XDG_CONFIG_HOME (default ~/.config) and $XDG_DATA_HOME (default ~/.local/share).
std::filesystem::path xdg_config_home();
std::filesystem::path xdg_data_home();

// The shell folders the tool links into. Kinds with no counterpart on Linux read as empty.
enum class UserFolder { Desktop, StartUp, Programs, StartMenu, Personal };
// Desktop and Personal come from XDG_DESKTOP_DIR / XDG_DOCUMENTS_DIR, then from
// user-dirs.dirs in the configuration home, then ~/Desktop and ~/Documents. StartUp is
// $XDG_CONFIG_HOME/autostart; Programs is $XDG_DATA_HOME/applications; StartMenu is empty.
std::filesystem::path user_folder(UserFolder kind);

// Creates the folder and its parents; throws std::filesystem::filesystem_error on failure.
void ensure_folder(const std::filesystem::path& folder);

// The login name of the account running the process (used as the integrated-security user).
std::string current_user_name();

}  // namespace orv::platform
