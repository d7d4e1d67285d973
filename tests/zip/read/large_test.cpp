// An archive holding more than 4 GiB (a sparse file compressed by Info-ZIP's zip).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "infozip_compare.h"
#include "test_env.h"

namespace orv::zip {
namespace {

TEST(InfoZipLargeArchives, MemberOver4GiB) {
  if (!test::have_program("zip") || !test::have_program("zipinfo") || !test::have_program("unzip"))
    GTEST_SKIP() << "Info-ZIP zip/zipinfo/unzip not installed";
  test::TestEnv env;
  std::filesystem::create_directories(env.work());
  const auto big = env.work() / "big.dat";
  const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 4400LL * 1024 * 1024), 0);
  ASSERT_EQ(::pwrite(fd, "end", 3, 4400LL * 1024 * 1024 - 3), 3);
  ::close(fd);
  test::write_file(env.work() / "small.txt", "small");
  const auto r = test::run_command("cd " + test::shell_quote(env.work().string()) + " && zip -q -X -1 big.zip big.dat small.txt");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  std::filesystem::remove(big);

  int exit_code = -1;
  const auto ours = testing::ListWithOrvakell(env.work() / "big.zip", exit_code);
  const auto theirs = testing::ListWithInfoZip(env.work() / "big.zip");
  EXPECT_EQ(exit_code, 0);
  ASSERT_EQ(theirs.size(), 2u);
  EXPECT_EQ(theirs[0].size, 4400ULL * 1024 * 1024);
  EXPECT_EQ(ours, theirs);
}

}  // namespace
}  // namespace orv::zip
