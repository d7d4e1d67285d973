#include "platform/profile.h"

#include <gtest/gtest.h>

#include "test_env.h"

namespace {

using orv::platform::ProfileFile;

TEST(ProfileFile, MissingFileReadsDefaultsAndFirstWriteCreatesIt) {
  orv::test::TestEnv env;
  auto path = env.config() / "sub" / "ORVAKELL.ini";
  ProfileFile profile(path);
  EXPECT_EQ(profile.read_string("Options", "CDSpeed", "x"), "x");
  EXPECT_EQ(profile.read_integer("Options", "CacheSize", 7), 7);
  EXPECT_FALSE(std::filesystem::exists(path));
  profile.write_string("Options", "CDSpeed", "8x");
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(orv::test::read_file(path), "[Options]\r\nCDSpeed=8x\r\n");
}

TEST(ProfileFile, SectionsAndKeysIgnoreCaseAndNewKeysAppendInWriteOrder) {
  orv::test::TestEnv env;
  ProfileFile profile(env.config() / "o.ini");
  profile.write_string("Options", "B", "1");
  profile.write_string("Other", "Z", "z");
  profile.write_string("options", "A", "2");
  profile.write_string("OPTIONS", "b", "3");  // replaces B in place, keeps its spelling slot
  EXPECT_EQ(profile.keys("Options"), (std::vector<std::string>{"b", "A"}));
  EXPECT_EQ(profile.read_string("OPTIONS", "a", ""), "2");
  EXPECT_EQ(profile.read_string("Other", "z", ""), "z");
  EXPECT_EQ(orv::test::read_file(profile.path()), "[Options]\r\nb=3\r\nA=2\r\n[Other]\r\nZ=z\r\n");
}

TEST(ProfileFile, IntegersReadLikeTheWindowsFunction) {
  orv::test::TestEnv env;
  ProfileFile profile(env.config() / "o.ini");
  profile.write_string("S", "n", "1048576");
  profile.write_string("S", "neg", "-12abc");
  profile.write_string("S", "bad", "abc");
  EXPECT_EQ(profile.read_integer("S", "n", 0), 1048576);
  EXPECT_EQ(profile.read_integer("S", "neg", 0), -12);
  EXPECT_EQ(profile.read_integer("S", "bad", 5), 5);
}

TEST(ProfileFile, UnwritableFolderThrowsWithTheSystemText) {
  orv::test::TestEnv env;
  orv::test::write_file(env.work() / "file", "x");
  ProfileFile profile(env.work() / "file" / "o.ini");  // parent is a file
  EXPECT_THROW(profile.write_string("S", "k", "v"), std::exception);
}

}  // namespace
