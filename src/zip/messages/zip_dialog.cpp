// Logic of the archiver's message dialog and of showing its messages (see zip_dialog.h).
#include "zip_dialog.h"

namespace orv::zip {

ZipDialogIcon ZipDialogIconOf(ZipDialogKind kind) {
  switch (kind) {
    case ZipDialogKind::Warning: return ZipDialogIcon::Exclamation;
    case ZipDialogKind::Error: return ZipDialogIcon::Stop;
    case ZipDialogKind::Information: return ZipDialogIcon::Information;
    case ZipDialogKind::Question: return ZipDialogIcon::Question;
    case ZipDialogKind::Password: return ZipDialogIcon::None;
  }
  return ZipDialogIcon::None;
}

ZipDialogSound ZipDialogSoundOf(ZipDialogKind kind) {
  switch (kind) {
    case ZipDialogKind::Warning: return ZipDialogSound::Exclamation;
    case ZipDialogKind::Error: return ZipDialogSound::Hand;
    case ZipDialogKind::Information: return ZipDialogSound::Asterisk;
    case ZipDialogKind::Question: return ZipDialogSound::Question;
    case ZipDialogKind::Password: return ZipDialogSound::None;
  }
  return ZipDialogSound::None;
}

TZipDialogBox::TZipDialogBox(ZipDialogKind kind, std::string title, std::string text, ZipButtons buttons)
    : offered_(buttons) {
  request_.kind = kind;
  request_.title = std::move(title);
  request_.text = std::move(text);
  request_.icon = ZipDialogIconOf(kind);
  request_.sound = ZipDialogSoundOf(kind);
  for (int b = 0; b <= static_cast<int>(ZipButton::YesToAll); ++b) {
    const auto button = static_cast<ZipButton>(b);
    if (buttons & ZipButtonBit(button))
      request_.buttons.push_back({button, LoadZipStr(msg::FirstButtonCaption + b)});
  }
  if (kind == ZipDialogKind::Password) {
    request_.password_edit = true;
    request_.password_max_length = kZipPasswordMaxLength;
  }
}

ZipDialogAnswer TZipDialogBox::ShowModal(ZipDialogPort& port, const ZipDialogHandler& on_zip_dialog) const {
  ZipDialogAnswer answer;
  if (!(on_zip_dialog && on_zip_dialog(request_, answer))) answer = port.ShowZipDialog(request_);
  if (!(offered_ & ZipButtonBit(answer.pressed))) answer.pressed = ZipButton::Cancel;
  if (!request_.password_edit) {
    answer.password.clear();
  } else if (answer.password.size() > kZipPasswordMaxLength) {
    answer.password.resize(kZipPasswordMaxLength);
  }
  return answer;
}

void ZipMessenger::ShowExceptionError(const EZipArchiver& error) {
  ErrCode = error.Ident();
  Message = error.what();
  if (!Unattended && error.DisplayMsg() && Dialogs) {
    TZipDialogBox box(ZipDialogKind::Error, ApplicationTitle, Message, kZipButtonsOK);
    (void)box.ShowModal(*Dialogs, OnZipDialog);
  }
  if (OnMessage) OnMessage(ErrCode, Message);
}

void ZipMessenger::ShowZipMessage(int ident, const std::string& extra) {
  const std::string text = LoadZipStr(ident) + extra;
  if (!Unattended && Dialogs) {
    TZipDialogBox box(ZipDialogKind::Information, ApplicationTitle, text, kZipButtonsOK);
    (void)box.ShowModal(*Dialogs, OnZipDialog);
  }
  if (OnMessage) OnMessage(ident, text);
}

void ZipMessenger::PassMessage(int code, const std::string& text) {
  if (OnMessage) OnMessage(code, text);
}

ZipDialogAnswer ZipMessenger::Ask(ZipDialogKind kind, const std::string& text, ZipButtons buttons) {
  if (Unattended || !Dialogs) return {};
  TZipDialogBox box(kind, ApplicationTitle, text, buttons);
  return box.ShowModal(*Dialogs, OnZipDialog);
}

}  // namespace orv::zip
