// The dialogs port: every message box, file and folder dialog, beep and forced repaint that an
// operation shows to the operator goes through this interface, so the window's handlers and the
// services behind them (src/backup/, src/settings/) run the same code under a test as on screen.
//
// The window installs the Qt implementation (app/window/qt_dialogs.h); tests install
// ScriptedDialogs (scripted_dialogs.h), which records every request in order and answers from a
// script. Plain C++: no Qt here, so plain-C++ services can depend on it.
//
// Threading: user-interface thread only. Errors: none of its own; a box is an answer, not an error.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orv::ui {

// The icon of a box, as the operator sees it.
enum class BoxKind { Plain, Information, Warning, Error, Question };
enum class Buttons { Ok, OkCancel, YesNo };
enum class Answer { Ok, Cancel, Yes, No };

struct Box {
  BoxKind kind = BoxKind::Plain;
  std::string caption;  // title bar; empty shows the application title
  std::string text;
  Buttons buttons = Buttons::Ok;
  friend bool operator==(const Box&, const Box&) = default;
};

// An "open file" request (the disc panel's boot image, the restore's backup file).
struct FileRequest {
  std::string title;
  std::string filter;             // "Description|*.A;*.B|All Files|*.*" pairs
  std::string default_extension;  // e.g. "*.Img"
  std::string initial_file;       // preselected file (may be empty)
  friend bool operator==(const FileRequest&, const FileRequest&) = default;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Shows a modal box and returns the button the operator pressed.
  virtual Answer show_box(const Box& box) = 0;
  // Modal open-file dialog; nullopt when cancelled.
  virtual std::optional<std::string> open_file(const FileRequest& request) = 0;
  // Modal folder choice; the full path of the chosen folder, nullopt when cancelled.
  virtual std::optional<std::string> choose_folder() = 0;
  // The platform's message beep.
  virtual void beep() = 0;
  // Processes pending paint requests at once (status lines are repainted after each change).
  virtual void repaint() = 0;
  // Lets pending events run (timer ticks and clicks), as a long operation does between steps.
  virtual void process_events() = 0;

  // Conveniences over show_box.
  Answer message(const std::string& text, const std::string& caption = {}, BoxKind kind = BoxKind::Plain,
                 Buttons buttons = Buttons::Ok) {
    return show_box(Box{kind, caption, text, buttons});
  }
  // The standard error box for an error no handler caught: the error's own text under the
  // application title.
  void standard_error(const std::string& text) { show_box(Box{BoxKind::Error, kApplicationTitle, text, Buttons::Ok}); }

  static constexpr const char* kApplicationTitle = "ORVAKELL";
};

}  // namespace orv::ui
