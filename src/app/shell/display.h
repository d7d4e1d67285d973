// Whether the window can open on a display, decided before Qt is started (Qt aborts the program
// when its platform cannot connect). The program then says so in one line instead.
//
//   if (auto why = orv::shell::missing_display(environment); !why.empty()) { std::cerr << why; return 2; }
#pragma once

#include <functional>
#include <string>

namespace orv::shell {

// Looks up an environment variable; "" when unset.
using Environment = std::function<std::string(const char* name)>;
Environment process_environment();

// "" when a display is there: QT_QPA_PLATFORM names a platform that needs none (offscreen,
// minimal, vnc, eglfs, linuxfb...), WAYLAND_DISPLAY is set, or DISPLAY names a local X server
// whose socket exists (/tmp/.X11-unix/XN) or a remote one (host:N, tried by Qt). Otherwise the
// one line to print, naming the background service that runs the schedule without a window.
// `x11_socket_folder` is a parameter for tests.
std::string missing_display(const Environment& env, const std::string& x11_socket_folder = "/tmp/.X11-unix");

}  // namespace orv::shell
