#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace orv::platform {

namespace fs = std::filesystem;

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

fs::path home_folder() {
  std::string home = env("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

// Reads one entry (XDG_DESKTOP_DIR="$HOME/Desktop") of user-dirs.dirs.
fs::path from_user_dirs(const std::string& key) {
  std::ifstream in(xdg_config_home() / "user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) return home_folder().string() + value.substr(5);
    return value;
  }
  return {};
}

fs::path named_user_folder(const char* env_key, const char* fallback) {
  std::string direct = env(env_key);
  if (!direct.empty()) return direct;
  fs::path configured = from_user_dirs(env_key);
  if (!configured.empty()) return configured;
  return home_folder() / fallback;
}

}  // namespace

fs::path installation_folder() {
  std::string home = env("ORVAKELL_HOME");
  if (!home.empty()) return home;
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path();
  return exe.parent_path();
}

fs::path xdg_config_home() {
  std::string v = env("XDG_CONFIG_HOME");
  return v.empty() ? home_folder() / ".config" : fs::path(v);
}

fs::path xdg_data_home() {
  std::string v = env("XDG_DATA_HOME");
  return v.empty() ? home_folder() / ".local" / "share" : fs::path(v);
}

fs::path config_folder() { return xdg_config_home() / "orvakell"; }

fs::path user_folder(UserFolder kind) {
  switch (kind) {
    case UserFolder::Desktop: return named_user_folder("XDG_DESKTOP_DIR", "Desktop");
    case UserFolder::Personal: return named_user_folder("XDG_DOCUMENTS_DIR", "Documents");
    case UserFolder::StartUp: return xdg_config_home() / "autostart";
    case UserFolder::Programs: return xdg_data_home() / "applications";
    case UserFolder::StartMenu: return {};
  }
  return {};
}

void ensure_folder(const fs::path& folder) { fs::create_directories(folder); }

std::string current_user_name() {
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return pw->pw_name;
  std::string user = env("USER");
  return user.empty() ? std::to_string(::geteuid()) : user;
}

}  // namespace orv::platform
