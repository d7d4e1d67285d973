#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "test_env.h"

namespace {

using namespace orv::platform;

TEST(Paths, FoldersFollowTheEnvironment) {
  orv::test::TestEnv env;
  EXPECT_EQ(installation_folder(), env.home());
  EXPECT_EQ(config_folder(), env.config() / "orvakell");
  EXPECT_EQ(user_folder(UserFolder::StartUp), env.config() / "autostart");
  EXPECT_EQ(user_folder(UserFolder::Programs), env.data() / "applications");
  EXPECT_EQ(user_folder(UserFolder::Desktop), env.root() / "desktop");
  EXPECT_TRUE(user_folder(UserFolder::StartMenu).empty());
}

TEST(Paths, DesktopComesFromUserDirsWhenTheVariableIsUnset) {
  orv::test::TestEnv env;
  ::unsetenv("XDG_DESKTOP_DIR");
  orv::test::write_file(env.config() / "user-dirs.dirs", "# comment\nXDG_DESKTOP_DIR=\"/srv/desk top\"\n");
  EXPECT_EQ(user_folder(UserFolder::Desktop), std::filesystem::path("/srv/desk top"));
}

TEST(Paths, InstallationFolderIsTheExecutablesFolderWithoutOverride) {
  orv::test::TestEnv env;
  ::unsetenv("ORVAKELL_HOME");
  EXPECT_EQ(installation_folder(), std::filesystem::read_symlink("/proc/self/exe").parent_path());
}

}  // namespace
