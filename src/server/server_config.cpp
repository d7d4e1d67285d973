#include "server/server_config.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>

#include "platform/paths.h"
#include "platform/profile.h"

namespace orv::server {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSection = "MSSQLServer";

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool readable(const fs::path& file) {
  std::ifstream in(file);
  return in.good();
}

bool is_integer(const std::string& text) {
  std::size_t i = text.size() > 1 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i >= text.size() || text.size() > 11) return false;
  return std::all_of(text.begin() + static_cast<long>(i), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

fs::path server_config_file() { return platform::config_folder() / "server.ini"; }

fs::path default_engine_folder() { return platform::xdg_data_home() / "orvakell" / "server"; }

std::optional<ServerConfig> load_server_config() {
  fs::path file = server_config_file();
  if (!readable(file)) return std::nullopt;
  platform::ProfileFile profile(file);
  if (profile.keys(kSection).empty()) return std::nullopt;
  ServerConfig c;
  c.login_mode = profile.read_string(kSection, "LoginMode", "");
  c.backend = lower(profile.read_string(kSection, "Backend", "Local")) == "odbc" ? ServerConfig::Backend::Odbc
                                                                                 : ServerConfig::Backend::Local;
  std::string folder = profile.read_string(kSection, "DataFolder", "");
  c.data_folder = folder.empty() ? default_engine_folder() : fs::path(folder);
  if (c.data_folder.is_relative()) c.data_folder = platform::config_folder() / c.data_folder;
  c.modern = std::atoi(profile.read_string(kSection, "Compatibility", "2000").c_str()) >= 2012;
  for (const auto& key : profile.keys("ODBC")) c.odbc.emplace_back(key, profile.read_string("ODBC", key, ""));
  std::stable_partition(c.odbc.begin(), c.odbc.end(), [](const auto& kv) { return lower(kv.first) == "driver"; });
  return c;
}

std::string read_login_mode() {
  auto c = load_server_config();
  if (!c) return "100";
  if (!is_integer(c->login_mode))
    throw std::runtime_error("Invalid value for LoginMode in " + server_config_file().string() + ": '" +
                             c->login_mode + "' is not an integer.");
  return std::to_string(std::stoll(c->login_mode));
}

void register_local_server(int login_mode, const fs::path& data_folder, bool modern) {
  platform::ensure_folder(platform::config_folder());
  platform::ProfileFile profile(server_config_file());
  profile.write_integer(kSection, "LoginMode", login_mode);
  profile.write_string(kSection, "Backend", "Local");
  profile.write_string(kSection, "DataFolder", data_folder.string());
  profile.write_string(kSection, "Compatibility", modern ? "2012" : "2000");
}

void register_odbc_server(int login_mode, const std::vector<std::pair<std::string, std::string>>& keywords) {
  platform::ensure_folder(platform::config_folder());
  platform::ProfileFile profile(server_config_file());
  profile.write_integer(kSection, "LoginMode", login_mode);
  profile.write_string(kSection, "Backend", "ODBC");
  for (const auto& [k, v] : keywords) profile.write_string("ODBC", k, v);
}

}  // namespace orv::server
