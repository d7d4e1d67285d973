// The archiver's message dialog logic and the Unattended rule, through a recording port.
#include <gtest/gtest.h>

#include "zip/messages/zip_dialog.h"

namespace orv::zip {
namespace {

struct RecordingPort : ZipDialogPort {
  std::vector<ZipDialogRequest> shown;
  ZipDialogAnswer reply{ZipButton::OK, {}};
  ZipDialogAnswer ShowZipDialog(const ZipDialogRequest& request) override {
    shown.push_back(request);
    return reply;
  }
};

TEST(ZipDialogBox, KindsGiveIconsSoundsAndButtons) {
  const struct {
    ZipDialogKind kind;
    ZipDialogIcon icon;
    ZipDialogSound sound;
  } cases[] = {{ZipDialogKind::Warning, ZipDialogIcon::Exclamation, ZipDialogSound::Exclamation},
               {ZipDialogKind::Error, ZipDialogIcon::Stop, ZipDialogSound::Hand},
               {ZipDialogKind::Information, ZipDialogIcon::Information, ZipDialogSound::Asterisk},
               {ZipDialogKind::Question, ZipDialogIcon::Question, ZipDialogSound::Question},
               {ZipDialogKind::Password, ZipDialogIcon::None, ZipDialogSound::None}};
  for (const auto& c : cases) {
    const TZipDialogBox box(c.kind, "ORVAKELL", "text", kZipButtonsOKCancel);
    EXPECT_EQ(box.Request().icon, c.icon);
    EXPECT_EQ(box.Request().sound, c.sound);
    EXPECT_EQ(box.Request().password_edit, c.kind == ZipDialogKind::Password);
  }
  const TZipDialogBox all(ZipDialogKind::Question, "t", "x", 0x3FF);
  ASSERT_EQ(all.Request().buttons.size(), 10u);
  EXPECT_EQ(all.Request().buttons[0].caption, "&Yes");
  EXPECT_EQ(all.Request().buttons[2].caption, "&OK");
  EXPECT_EQ(all.Request().buttons[9].button, ZipButton::YesToAll);
  EXPECT_EQ(all.Request().buttons[9].caption, "YesToAll");
  const TZipDialogBox two(ZipDialogKind::Warning, "t", "x", ZipButtonBit(ZipButton::Retry) | ZipButtonBit(ZipButton::No));
  ASSERT_EQ(two.Request().buttons.size(), 2u);
  EXPECT_EQ(two.Request().buttons[0].caption, "&No");
  EXPECT_EQ(two.Request().buttons[1].caption, "&Retry");
}

TEST(ZipDialogBox, AnswersAreCheckedAndPasswordsCut) {
  RecordingPort port;
  const TZipDialogBox pw(ZipDialogKind::Password, "t", "Enter Password ", kZipButtonsOKCancel);
  EXPECT_EQ(pw.Request().password_max_length, 80u);
  port.reply = {ZipButton::OK, std::string(100, 'p')};
  EXPECT_EQ(pw.ShowModal(port).password, std::string(80, 'p'));
  port.reply = {ZipButton::YesToAll, "x"};  // not offered
  EXPECT_EQ(pw.ShowModal(port).pressed, ZipButton::Cancel);
  const TZipDialogBox info(ZipDialogKind::Information, "t", "x", kZipButtonsOK);
  port.reply = {ZipButton::OK, "leak"};
  EXPECT_EQ(info.ShowModal(port).password, "");  // no edit, no password
}

TEST(ZipDialogBox, OnZipDialogAnswersFirst) {
  RecordingPort port;
  const TZipDialogBox box(ZipDialogKind::Question, "t", "x", kZipButtonsOKCancel);
  int asked = 0;
  const ZipDialogHandler handler = [&](const ZipDialogRequest& r, ZipDialogAnswer& a) {
    ++asked;
    EXPECT_EQ(r.text, "x");
    a.pressed = ZipButton::OK;
    return true;
  };
  EXPECT_EQ(box.ShowModal(port, handler).pressed, ZipButton::OK);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(port.shown.empty());
  const ZipDialogHandler declines = [](const ZipDialogRequest&, ZipDialogAnswer&) { return false; };
  port.reply = {ZipButton::Cancel, {}};
  EXPECT_EQ(box.ShowModal(port, declines).pressed, ZipButton::Cancel);
  EXPECT_EQ(port.shown.size(), 1u);
}

TEST(ZipMessenger, ShowsErrorsAndMessagesThenTellsOnMessage) {
  RecordingPort port;
  ZipMessenger m;
  m.Dialogs = &port;
  m.ApplicationTitle = "ORVAKELL";
  std::vector<std::pair<int, std::string>> told;
  m.OnMessage = [&](int code, const std::string& text) { told.emplace_back(code, text); };

  m.ShowExceptionError(EZipArchiver(10104));
  ASSERT_EQ(port.shown.size(), 1u);
  EXPECT_EQ(port.shown[0].kind, ZipDialogKind::Error);
  EXPECT_EQ(port.shown[0].icon, ZipDialogIcon::Stop);
  EXPECT_EQ(port.shown[0].title, "ORVAKELL");
  EXPECT_EQ(port.shown[0].text, "Error - passwords do NOT match\r\nPassword ignored");
  ASSERT_EQ(port.shown[0].buttons.size(), 1u);
  EXPECT_EQ(port.shown[0].buttons[0].caption, "&OK");
  EXPECT_EQ(m.ErrCode, 10104);
  EXPECT_EQ(m.Message, port.shown[0].text);

  m.ShowZipMessage(10204, " (x.zip)");
  ASSERT_EQ(port.shown.size(), 2u);
  EXPECT_EQ(port.shown[1].kind, ZipDialogKind::Information);
  EXPECT_EQ(port.shown[1].text, "Warning - Garbage at the end of the zipfile! (x.zip)");
  EXPECT_EQ(m.ErrCode, 10104);  // a notice is no error

  m.ShowExceptionError(EZipArchiver(11036, false));  // an error that asks not to be shown
  EXPECT_EQ(port.shown.size(), 2u);
  m.PassMessage(4, "library text");
  EXPECT_EQ(port.shown.size(), 2u);

  const std::vector<std::pair<int, std::string>> expected = {
      {10104, "Error - passwords do NOT match\r\nPassword ignored"},
      {10204, "Warning - Garbage at the end of the zipfile! (x.zip)"},
      {11036, "This archive is not a valid Zip archive"},
      {4, "library text"}};
  EXPECT_EQ(told, expected);
}

TEST(ZipMessenger, UnattendedShowsNothingButTellsEverything) {
  RecordingPort port;
  ZipMessenger m;
  m.Dialogs = &port;
  m.Unattended = true;
  int asked = 0;
  m.OnZipDialog = [&](const ZipDialogRequest&, ZipDialogAnswer&) { ++asked; return false; };
  std::vector<int> told;
  m.OnMessage = [&](int code, const std::string&) { told.push_back(code); };
  m.ShowExceptionError(EZipArchiver(11013));
  m.ShowZipMessage(10203);
  m.ShowExceptionError(EZipArchiver(10124, {5LL}));
  EXPECT_EQ(m.Ask(ZipDialogKind::Question, "Please insert last disk ", kZipButtonsOKCancel).pressed, ZipButton::Cancel);
  EXPECT_TRUE(port.shown.empty());
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(told, (std::vector<int>{11013, 10203, 10124}));
  EXPECT_EQ(m.Message, "critical DLL Error 5");
}

}  // namespace
}  // namespace orv::zip
