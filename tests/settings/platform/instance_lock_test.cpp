// The one-copy lock: a second holder in this process or another is refused, the lock goes with
// its holder, and a folder without write access gives Unavailable with the system's text.
#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_env.h"

namespace orv::platform {
namespace {

namespace fs = std::filesystem;

TEST(InstanceLock, SecondCopyIsRefusedUntilTheFirstEnds) {
  orv::test::TestEnv env;
  fs::create_directories(env.work());
  const fs::path file = env.work() / ".orvakell.lock";
  {
    InstanceLock first(file);
    ASSERT_EQ(first.state(), InstanceLock::State::Acquired) << first.error();
    InstanceLock second(file);
    EXPECT_EQ(second.state(), InstanceLock::State::HeldElsewhere);
    EXPECT_EQ(second.error(), "");
    // Another process sees it held too.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      InstanceLock other(file);
      ::_exit(other.state() == InstanceLock::State::HeldElsewhere ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  InstanceLock next(file);  // the first copy has ended
  EXPECT_EQ(next.state(), InstanceLock::State::Acquired);
}

TEST(InstanceLock, LockOfAProcessThatDiedIsFree) {
  orv::test::TestEnv env;
  fs::create_directories(env.work());
  const fs::path file = env.work() / ".orvakell.lock";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InstanceLock held(file);
    const char c = held.state() == InstanceLock::State::Acquired ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    ::pause();  // killed while holding the lock
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_EQ(InstanceLock(file).state(), InstanceLock::State::HeldElsewhere);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(InstanceLock(file).state(), InstanceLock::State::Acquired);
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(InstanceLock, UnwritableFolderIsUnavailableWithTheSystemText) {
  orv::test::TestEnv env;
  const fs::path file = env.work() / "missing" / ".orvakell.lock";
  InstanceLock lock(file);
  EXPECT_EQ(lock.state(), InstanceLock::State::Unavailable);
  EXPECT_EQ(lock.error(), file.string() + ": No such file or directory");
}

}  // namespace
}  // namespace orv::platform
