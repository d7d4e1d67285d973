#include "app/shell/display.h"

#include <cstdlib>
#include <filesystem>

namespace orv::shell {

Environment process_environment() {
  return [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
}

std::string missing_display(const Environment& env, const std::string& x11_socket_folder) {
  const std::string platform = env("QT_QPA_PLATFORM");
  // Platforms other than the two desktop ones draw without a display server.
  if (!platform.empty() && platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0) return "";
  if (!env("WAYLAND_DISPLAY").empty()) return "";
  const std::string display = env("DISPLAY");
  if (!display.empty()) {
    const auto colon = display.find(':');
    // host:N (an SSH forward, a remote server): only Qt can tell.
    if (colon != 0 && colon != std::string::npos) return "";
    if (colon == 0) {
      std::string number = display.substr(1, display.find('.') == std::string::npos ? std::string::npos
                                                                                    : display.find('.') - 1);
      std::error_code ec;
      if (!number.empty() && std::filesystem::exists(std::filesystem::path(x11_socket_folder) / ("X" + number), ec))
        return "";
      return "orvakell: the display " + display +
             " is not reachable; without a desktop, scheduled backups run in the background service (orvakell-service)\n";
    }
  }
  return "orvakell: no display (DISPLAY and WAYLAND_DISPLAY are unset); without a desktop, scheduled backups run in "
         "the background service (orvakell-service)\n";
}

}  // namespace orv::shell
