// The archiver's message dialog `TZipDialogBox` and the showing of its messages.
//
// The dialog's logic lives here in plain C++: kind -> icon and sound, requested buttons ->
// captions (messages 10220..10229 in button order), the password edit (at most 80 characters,
// shown as asterisks), the `OnZipDialog` handler that may answer first, and the `Unattended`
// rule of ZipMessenger (no dialog at all; `OnMessage` still receives every message). Drawing
// the window is the job of a ZipDialogPort; the Qt port lives with the application, tests use a
// recording port. Every call happens on the user-interface thread. Nothing here throws except
// what a port or handler throws.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "zip_messages.h"

namespace orv::zip {

enum class ZipDialogKind { Warning, Error, Information, Question, Password };
enum class ZipDialogIcon { None, Exclamation, Stop, Information, Question };
enum class ZipDialogSound { None, Exclamation, Hand, Asterisk, Question };

// Buttons in caption order: captions are messages 10220 + ordinal.
enum class ZipButton { Yes, No, OK, Cancel, Abort, Retry, Ignore, CancelAll, NoToAll, YesToAll };
using ZipButtons = std::uint16_t;  // set of ZipButton, bit = ordinal
constexpr ZipButtons ZipButtonBit(ZipButton b) { return static_cast<ZipButtons>(1u << static_cast<int>(b)); }
inline constexpr ZipButtons kZipButtonsOK = ZipButtonBit(ZipButton::OK);
inline constexpr ZipButtons kZipButtonsOKCancel = ZipButtonBit(ZipButton::OK) | ZipButtonBit(ZipButton::Cancel);
inline constexpr std::size_t kZipPasswordMaxLength = 80;

ZipDialogIcon ZipDialogIconOf(ZipDialogKind kind);
ZipDialogSound ZipDialogSoundOf(ZipDialogKind kind);

struct ZipDialogButtonSpec {
  ZipButton button;
  std::string caption;  // "&OK" ...
};

// What the port draws: everything is decided already.
struct ZipDialogRequest {
  ZipDialogKind kind = ZipDialogKind::Information;
  std::string title;    // the application's title
  std::string text;     // word-wrapped by the port
  ZipDialogIcon icon = ZipDialogIcon::None;
  ZipDialogSound sound = ZipDialogSound::None;
  std::vector<ZipDialogButtonSpec> buttons;  // in caption order
  bool password_edit = false;                // only for the password kind
  std::size_t password_max_length = 0;       // 80 with the edit
};

struct ZipDialogAnswer {
  ZipButton pressed = ZipButton::Cancel;  // closing the window = Cancel
  std::string password;                   // password kind only
};

// Drawing of the modal dialog: centred, dialog-style, sounds `sound` when it appears.
class ZipDialogPort {
 public:
  virtual ~ZipDialogPort() = default;
  virtual ZipDialogAnswer ShowZipDialog(const ZipDialogRequest& request) = 0;
};

// Asked before the dialog; return true with `answer` filled to answer instead of it.
using ZipDialogHandler = std::function<bool(const ZipDialogRequest& request, ZipDialogAnswer& answer)>;

class TZipDialogBox {
 public:
  TZipDialogBox(ZipDialogKind kind, std::string title, std::string text, ZipButtons buttons);
  const ZipDialogRequest& Request() const { return request_; }
  // OnZipDialog first (when set), else the port. The password is cut to 80 characters and a
  // button that was not offered counts as Cancel.
  ZipDialogAnswer ShowModal(ZipDialogPort& port, const ZipDialogHandler& on_zip_dialog = {}) const;

 private:
  ZipDialogRequest request_;
  ZipButtons offered_;
};

// Shows the archiver's errors and messages and passes each to OnMessage.
class ZipMessenger {
 public:
  bool Unattended = false;
  bool Verbose = false;
  std::string ApplicationTitle;
  ZipDialogPort* Dialogs = nullptr;       // not owned; no port = no dialog
  ZipDialogHandler OnZipDialog;
  std::function<void(int err_code, const std::string& message)> OnMessage;

  int ErrCode = 0;        // number of the last error shown
  std::string Message;    // its text

  // Error kind: ErrCode/Message := the error; dialog unless Unattended; then OnMessage.
  void ShowExceptionError(const EZipArchiver& error);
  // Information kind: text := message `ident` + extra; dialog unless Unattended; OnMessage.
  void ShowZipMessage(int ident, const std::string& extra = {});
  // A ready text (library messages, verbose notes): OnMessage only, never the dialog.
  void PassMessage(int code, const std::string& text);
  // A question put to the operator (disk prompts): the answer, or Cancel when Unattended.
  ZipDialogAnswer Ask(ZipDialogKind kind, const std::string& text, ZipButtons buttons);
};

}  // namespace orv::zip
