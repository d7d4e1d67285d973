// First-start links and the working-folder rule.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>

#include "app/shell/display.h"
#include "app/shell/shortcuts.h"
#include "app/shell/working_folder.h"
#include "test_env.h"

namespace {

namespace fs = std::filesystem;
using orv::shell::CreateShellShortcut;

TEST(Shortcuts, DesktopAndAutostartLinksPointAtTheTarget) {
  orv::test::TestEnv env;
  const fs::path target = env.home() / "orvakell";
  for (int kind : {0, 5}) {
    const auto r = CreateShellShortcut(target, kind);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_FALSE(r.link.empty());
  }
  const fs::path desktop = env.root() / "desktop" / "orvakell.desktop";
  const fs::path autostart = env.config() / "autostart" / "orvakell.desktop";
  ASSERT_TRUE(fs::exists(desktop));
  ASSERT_TRUE(fs::exists(autostart)) << "the autostart folder is created when missing";
  const std::string text = orv::test::read_file(autostart);
  EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
  EXPECT_NE(text.find("Exec=\"" + target.string() + "\"\n"), std::string::npos);
  EXPECT_EQ(orv::test::read_file(desktop), text);
  struct stat st {};
  ASSERT_EQ(::stat(desktop.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  // No temporary file is left beside the link.
  int files = 0;
  for (const auto& e : fs::directory_iterator(desktop.parent_path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST(Shortcuts, ExistingLinkIsOverwrittenAndKindsWithoutFolderMakeNone) {
  orv::test::TestEnv env;
  const fs::path link = env.root() / "desktop" / "ORVAKELL.desktop";
  orv::test::write_file(link, "stale");
  const auto r = CreateShellShortcut(env.home() / "ORVAKELL.exe", 0);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.link, link) << "the link is named after the target with its extension changed";
  EXPECT_NE(orv::test::read_file(link).find("ORVAKELL.exe"), std::string::npos);
  for (int kind : {1, 2, 7, 8, -1}) {
    const auto none = CreateShellShortcut(env.home() / "x", kind);
    EXPECT_TRUE(none.ok());
    EXPECT_TRUE(none.link.empty()) << kind;
  }
}

TEST(Shortcuts, ExecLineQuotesSpecialCharacters) {
  const std::string text = orv::shell::desktop_entry_text("/opt/my tools/a\"b$c%d\\e/orvakell");
  // Inside quotes ", $ and \ take a backslash, then the value doubles backslashes; % is doubled.
  EXPECT_NE(text.find("Exec=\"/opt/my tools/a\\\\\"b\\\\$c%%d\\\\\\\\e/orvakell\"\n"), std::string::npos) << text;
}

TEST(Shortcuts, UnwritableFolderIsReportedWithTheSystemText) {
  orv::test::TestEnv env;
  const fs::path desktop = env.root() / "desktop";
  fs::remove_all(desktop);
  orv::test::write_file(desktop, "a file where the folder should be");
  const auto r = CreateShellShortcut(env.home() / "orvakell", 0);
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error.find(desktop.string()), std::string::npos) << r.error;
  EXPECT_TRUE(r.link.empty());
}

TEST(WorkingFolder, RootStaysAndFoldersGetATrailingSeparator) {
  using orv::shell::working_folder_text;
  EXPECT_EQ(working_folder_text("/"), "/");
  EXPECT_EQ(working_folder_text("/srv"), "/srv/");
  EXPECT_EQ(working_folder_text("/srv/backup dir"), "/srv/backup dir/");
  EXPECT_EQ(working_folder_text(""), "");
}

}  // namespace

namespace {

using orv::shell::missing_display;

orv::shell::Environment env_of(std::map<std::string, std::string> vars) {
  return [vars](const char* name) {
    auto it = vars.find(name);
    return it == vars.end() ? std::string() : it->second;
  };
}

TEST(Display, WhenTheWindowCanOpenAndTheLineWhenNot) {
  orv::test::TestEnv env;
  const fs::path sockets = env.root() / "x11";
  fs::create_directories(sockets);
  orv::test::write_file(sockets / "X3", "");
  const std::string folder = sockets.string();

  // A server without a desktop: nothing set.
  const std::string none = missing_display(env_of({}), folder);
  EXPECT_NE(none.find("no display"), std::string::npos) << none;
  EXPECT_NE(none.find("orvakell-service"), std::string::npos) << none;
  EXPECT_EQ(none.find('\n'), none.size() - 1) << "one line";

  EXPECT_EQ(missing_display(env_of({{"DISPLAY", ":3"}}), folder), "");
  EXPECT_EQ(missing_display(env_of({{"DISPLAY", ":3.0"}}), folder), "");
  const std::string gone = missing_display(env_of({{"DISPLAY", ":7"}}), folder);
  EXPECT_NE(gone.find(":7 is not reachable"), std::string::npos) << gone;
  EXPECT_EQ(missing_display(env_of({{"DISPLAY", "localhost:10.0"}}), folder), "") << "a forwarded display is Qt's to try";
  EXPECT_EQ(missing_display(env_of({{"WAYLAND_DISPLAY", "wayland-0"}}), folder), "");
  // Platforms that draw without a display server; the desktop ones still need one.
  EXPECT_EQ(missing_display(env_of({{"QT_QPA_PLATFORM", "offscreen"}}), folder), "");
  EXPECT_NE(missing_display(env_of({{"QT_QPA_PLATFORM", "xcb"}}), folder), "");
  EXPECT_NE(missing_display(env_of({{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":7"}}), folder), "");
}

}  // namespace
