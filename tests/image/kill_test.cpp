// The image writer killed in the middle: a child process writes an image and is killed at its
// N-th write (pwrite, copy_file_range; both are wrapped at link time, see CMakeLists.txt), for
// every N the image takes. Nothing may be left behind, neither under the image's name nor as a
// temporary file beside it, and an older image of that name keeps its bytes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "burner/disc_burner.h"
#include "test_env.h"

extern "C" {
ssize_t __real_pwrite(int fd, const void* data, size_t n, off_t at);
ssize_t __real_pwrite64(int fd, const void* data, size_t n, off64_t at);
ssize_t __real_copy_file_range(int in, loff_t* in_at, int out, loff_t* out_at, size_t n, unsigned flags);
ssize_t __wrap_pwrite(int fd, const void* data, size_t n, off_t at);
ssize_t __wrap_pwrite64(int fd, const void* data, size_t n, off64_t at);
ssize_t __wrap_copy_file_range(int in, loff_t* in_at, int out, loff_t* out_at, size_t n, unsigned flags);
}

namespace {

std::atomic<int> g_writes{0};
int g_kill_at = 0;  // 0: never

void CountWrite() {
  const int n = ++g_writes;
  if (g_kill_at > 0 && n == g_kill_at) ::kill(::getpid(), SIGKILL);
}

}  // namespace

extern "C" ssize_t __wrap_pwrite(int fd, const void* data, size_t n, off_t at) {
  CountWrite();
  return __real_pwrite(fd, data, n, at);
}
extern "C" ssize_t __wrap_pwrite64(int fd, const void* data, size_t n, off64_t at) {
  CountWrite();
  return __real_pwrite64(fd, data, n, at);
}
extern "C" ssize_t __wrap_copy_file_range(int in, loff_t* in_at, int out, loff_t* out_at, size_t n, unsigned flags) {
  CountWrite();
  return __real_copy_file_range(in, in_at, out, out_at, n, flags);
}

namespace {

namespace fs = std::filesystem;

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

class ImageKill : public ::testing::Test {
 protected:
  void SetUp() override {
    out_dir = env.work() / "out";
    fs::create_directories(out_dir);
    for (int i = 0; i < 4; ++i)
      orv::test::write_file(env.work() / "src" / ("part" + std::to_string(i) + ".dat"),
                            std::string(70000 + 3000 * static_cast<size_t>(i), static_cast<char>('a' + i)));
  }

  // Writes the image in a child killed at its kill_at-th write (0: not killed); the child's
  // count of writes when it was not killed, -1 when it was.
  int WriteInChild(int kill_at) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      g_writes = 0;
      g_kill_at = kill_at;
      orv::burner::TDiscBurner b;
      b.ResetFileTree(65535, 8191);
      for (int i = 0; i < 4; ++i)
        if (b.AddFile("\\", (env.work() / "src" / ("part" + std::to_string(i) + ".dat")).string(), false) != 1)
          ::_exit(101);
      if (!b.PrepareImage(true, nullptr)) ::_exit(102);
      const std::string error = b.WriteImage((out_dir / "backup.iso").string(), 0);
      ::_exit(error.empty() ? std::min(g_writes.load(), 99) : 103);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), SIGKILL);
      return -1;
    }
    EXPECT_TRUE(WIFEXITED(status));
    return WEXITSTATUS(status);
  }

  orv::test::TestEnv env;
  fs::path out_dir;
};

TEST_F(ImageKill, KilledAtEveryWriteLeavesNoFileAndTheOldImageWhole) {
  // An undisturbed run counts the writes the image takes.
  const int writes = WriteInChild(0);
  ASSERT_GT(writes, 3) << "the child did not write the image";
  ASSERT_LT(writes, 99);
  ASSERT_EQ(Listing(out_dir), (std::set<std::string>{"backup.iso"}));
  const std::string good = orv::test::read_file(out_dir / "backup.iso");

  // No image yet: a killed write leaves the folder empty.
  fs::remove(out_dir / "backup.iso");
  for (int n = 1; n <= writes; ++n) {
    ASSERT_EQ(WriteInChild(n), -1) << "write " << n << " did not kill the child";
    EXPECT_TRUE(Listing(out_dir).empty()) << "killed at write " << n << " of " << writes;
  }

  // An older image of that name keeps its bytes whenever the new write dies.
  orv::test::write_file(out_dir / "backup.iso", "the image of last night");
  for (int n = 1; n <= writes; ++n) {
    ASSERT_EQ(WriteInChild(n), -1);
    EXPECT_EQ(Listing(out_dir), (std::set<std::string>{"backup.iso"})) << "killed at write " << n;
    EXPECT_EQ(orv::test::read_file(out_dir / "backup.iso"), "the image of last night") << "killed at write " << n;
  }

  // Written to the end, the new image replaces the old one.
  EXPECT_EQ(WriteInChild(0), writes);
  EXPECT_EQ(Listing(out_dir), (std::set<std::string>{"backup.iso"}));
  EXPECT_EQ(fs::file_size(out_dir / "backup.iso"), good.size());  // its dates may differ by a second
}

}  // namespace
