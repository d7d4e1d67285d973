// A writer killed in the middle: `orvakell-zip add` (here the archiver in a child process)
// killed after N chunk writes leaves no temporary file and the previous archive untouched, and
// the next run (an add of the archive, an extraction of the file) removes what older writers
// left unless a live one holds it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "zip_test_support.h"

namespace orv::zip {
namespace {

namespace fs = std::filesystem;
using orv::test::read_file;
using orv::test::TestEnv;
using orv::test::write_file;
using testing::ArchiverFixture;

// Runs an add of `files` into `archive` in a child process that kills itself with SIGKILL at
// the kill_at-th progress report (0: never). Returns the child's wait status.
int add_in_child(const fs::path& archive, const std::vector<fs::path>& files, int kill_at) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ArchiverFixture f;
    int reports = 0;
    f.zip.OnProgress = [&](TZipArchiver*, ProgressType type, const std::string&, int64_t) {
      if (type == ProgressType::ProgressUpdate && ++reports == kill_at) ::kill(::getpid(), SIGKILL);
    };
    f.zip.SetZipFileName(archive.string());
    for (const auto& p : files) f.zip.FSpecArgs.push_back(p.string());
    const int added = f.zip.Add();
    ::_exit(added == static_cast<int>(files.size()) ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

TEST(ZipCrash, AddKilledAfterNWritesLeavesThePreviousArchiveAndNoStrayFile) {
  TestEnv env;
  const fs::path w = env.work();
  write_file(w / "Sales.Dat", testing::database_like_bytes(100000, 1));
  write_file(w / "Big.Dat", testing::database_like_bytes(24 << 20, 2));  // six 4 MiB chunks
  ASSERT_EQ(add_in_child(w / "a.zip", {w / "Sales.Dat"}, 0), 0);
  const std::string previous = read_file(w / "a.zip");
  const std::vector<std::string> before = testing::list_folder(w);

  for (int kill_at : {1, 2, 4, 7}) {
    SCOPED_TRACE("killed at progress report " + std::to_string(kill_at));
    const int status = add_in_child(w / "a.zip", {w / "Sales.Dat", w / "Big.Dat"}, kill_at);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child was not killed: " << status;
    EXPECT_EQ(testing::list_folder(w), before) << "a stray file is left";
    EXPECT_TRUE(read_file(w / "a.zip") == previous) << "the previous archive changed";
  }
  // Unkilled, the same add replaces the archive.
  EXPECT_EQ(add_in_child(w / "a.zip", {w / "Sales.Dat", w / "Big.Dat"}, 0), 0);
  EXPECT_EQ(testing::list_folder(w), before);
  EXPECT_FALSE(read_file(w / "a.zip") == previous);
}

TEST(ZipCrash, NextAddRemovesOrphansThatNoLiveWriterHolds) {
  TestEnv env;
  const fs::path w = env.work();
  write_file(w / "Sales.Dat", "sales");
  write_file(w / "a.zip.ze-Orphan", std::string(100000, 'o'));    // left by a killed writer
  write_file(w / "a.zip.ze-Live01", "written by a live process");  // held, as a live writer holds it
  write_file(w / "b.zip.ze-Orphan", "another archive's");          // another name: not ours to sweep
  write_file(w / "a.zip.ze-Orphan7", "not a temporary name");
  const int held = ::open((w / "a.zip.ze-Live01").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

  ASSERT_EQ(add_in_child(w / "a.zip", {w / "Sales.Dat"}, 0), 0);
  EXPECT_FALSE(fs::exists(w / "a.zip.ze-Orphan"));
  EXPECT_TRUE(fs::exists(w / "a.zip.ze-Live01"));
  EXPECT_TRUE(fs::exists(w / "b.zip.ze-Orphan"));
  EXPECT_TRUE(fs::exists(w / "a.zip.ze-Orphan7"));
  EXPECT_TRUE(fs::exists(w / "a.zip"));
  ::close(held);
}

TEST(ZipCrash, NextExtractRemovesOrphansOfTheFilesItWrites) {
  TestEnv env;
  const fs::path w = env.work();
  write_file(w / "a.txt", "alpha");
  write_file(w / "b.txt", "beta");
  {
    ArchiverFixture f;
    f.zip.SetZipFileName((w / "ab.zip").string());
    f.zip.FSpecArgs = {(w / "a.txt").string(), (w / "b.txt").string()};
    ASSERT_EQ(f.zip.Add(), 2);
  }
  const fs::path x = w / "x";
  fs::create_directories(x);
  write_file(x / "a.txt.ze-Orphan", std::string(100000, 'o'));  // an extraction killed while writing a.txt
  write_file(x / "b.txt.ze-Orphan", "b");
  write_file(x / "b.txt.ze-Live01", "held by a live extraction");
  write_file(x / "c.txt.ze-Orphan", "not a file of this archive");
  const int held = ::open((x / "b.txt.ze-Live01").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

  ArchiverFixture f;
  f.zip.SetZipFileName((w / "ab.zip").string());
  f.zip.ExtrBaseDir = x.string();
  ASSERT_EQ(f.zip.Extract(), 2);

  EXPECT_EQ(read_file(x / "a.txt"), "alpha");
  EXPECT_EQ(read_file(x / "b.txt"), "beta");
  EXPECT_FALSE(fs::exists(x / "a.txt.ze-Orphan"));
  EXPECT_FALSE(fs::exists(x / "b.txt.ze-Orphan"));
  EXPECT_TRUE(fs::exists(x / "b.txt.ze-Live01"));
  EXPECT_TRUE(fs::exists(x / "c.txt.ze-Orphan"));
  ::close(held);
}

}  // namespace
}  // namespace orv::zip
