#include "app/shell/shortcuts.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "platform/paths.h"

namespace orv::shell {

namespace fs = std::filesystem;
using platform::UserFolder;

fs::path shortcut_folder(int kind) {
  switch (kind) {
    case 0: return platform::user_folder(UserFolder::Desktop);
    case 3:  // the start menu and the programs menu are one folder of desktop entries
    case 6: return platform::user_folder(UserFolder::Programs);
    case 4: return platform::user_folder(UserFolder::Personal);
    case 5: return platform::user_folder(UserFolder::StartUp);
    default: return {};
  }
}

std::string shortcut_file_name(const fs::path& target) {
  fs::path name = target.filename();
  name.replace_extension(".desktop");
  return name.string();
}

namespace {

// Exec= quoting of the desktop entry format: inside double quotes, ", `, $ and \ take a
// backslash; then the value's own escaping doubles every backslash; % is written %%.
std::string exec_quoted(const std::string& path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string out;
  for (char c : quoted) {
    if (c == '\\') out += "\\\\";
    else if (c == '%') out += "%%";
    else out += c;
  }
  return out;
}

std::string value_escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

}  // namespace

std::string desktop_entry_text(const fs::path& target) {
  std::string text = "[Desktop Entry]\n";
  text += "Type=Application\n";
  text += "Name=" + value_escaped(target.stem().string()) + "\n";
  text += "Exec=" + exec_quoted(target.string()) + "\n";
  text += "Terminal=false\n";
  return text;
}

ShortcutResult CreateShellShortcut(const fs::path& target, int kind) {
  ShortcutResult result;
  const fs::path folder = shortcut_folder(kind);
  if (folder.empty()) return result;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    result.error = folder.string() + ": " + ec.message();
    return result;
  }
  const fs::path link = folder / shortcut_file_name(target);
  const fs::path temp = folder / ("." + shortcut_file_name(target) + ".tmp");
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << desktop_entry_text(target);
    out.close();
    if (!out) {
      result.error = temp.string() + ": " + std::strerror(errno);
      fs::remove(temp, ec);
      return result;
    }
  }
  ::chmod(temp.c_str(), 0755);  // desktop environments launch only executable entries
  fs::rename(temp, link, ec);
  if (ec) {
    result.error = link.string() + ": " + ec.message();
    fs::remove(temp, ec);
    return result;
  }
  result.link = link;
  return result;
}

}  // namespace orv::shell
