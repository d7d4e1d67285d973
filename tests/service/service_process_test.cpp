// orvakell-service as a process: a row due this minute runs at start with a line on standard
// error; SIGTERM in the middle of a 200 MiB backup ends the program with status 0, leaves the
// previous backup byte-identical, no temporary file and a run-log line saying it was stopped.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/clock.h"
#include "service_fixture.h"

namespace orv::service::testing {
namespace {

class ServiceProcessTest : public ServiceFixture {
 protected:
  void TearDown() override {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  // Schedules `name` for this minute of today (the service's clock is the machine's).
  void schedule_now(const std::string& name, bool zip) {
    const dal::DateTime now = ui::SystemClock().now();
    schedule(name, dal::day_of_week(now), dal::hour_of(now), dal::minute_of(now), zip);
  }
  void start_service() {
    fs::create_directories(env.work());
    stderr_file = env.work() / "service.err";
    pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const std::string program = (orv::test::bin_dir() / "orvakell-service").string();
      FILE* err = std::freopen(stderr_file.c_str(), "w", stderr);
      if (err == nullptr) ::_exit(126);
      ::execl(program.c_str(), "orvakell-service", static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  // Waits for the program's end; -1 when it did not end in time or ended by a signal.
  int wait_exit(std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  template <typename Pred>
  bool wait_for(Pred pred, std::chrono::seconds limit, std::chrono::milliseconds step = std::chrono::milliseconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (pred()) return true;
      std::this_thread::sleep_for(step);
    }
    return pred();
  }
  std::string err_text() const { return fs::exists(stderr_file) ? orv::test::read_file(stderr_file) : ""; }

  pid_t pid = -1;
  fs::path stderr_file;
};

TEST_F(ServiceProcessTest, RowDueThisMinuteRunsAtStartAndStopsOnSigint) {
  make_database("Accounting");
  schedule_now("Accounting", /*zip=*/true);
  start_service();
  ASSERT_TRUE(wait_for([&] { return count("scheduled", "Accounting", "backed up") == 1; }, std::chrono::seconds(60)))
      << err_text();
  EXPECT_TRUE(fs::exists(folder + "Accounting.Dat"));
  EXPECT_TRUE(fs::exists(folder + "Accounting.zip"));
  ::kill(pid, SIGINT);
  EXPECT_EQ(wait_exit(std::chrono::seconds(30)), 0);
  const std::string err = err_text();
  EXPECT_NE(err.find("Accounting: backed up"), std::string::npos) << err;
  EXPECT_NE(err.find("the service ends"), std::string::npos) << err;
  EXPECT_EQ(count("scheduled", "Accounting", "missed"), 1);  // due in the minute it started
}

TEST_F(ServiceProcessTest, SigtermDuringA200MiBBackupKeepsThePreviousBackup) {
  make_database("Big", 1);
  {
    dal::DataConnection c;
    c.open(settings::WindowsConnectionString());
    c.execute(server::use_statement("Big"));
    c.execute("CREATE TABLE blobs (n INTEGER, b BLOB)");
    c.execute("WITH RECURSIVE k(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM k WHERE x < 200) "
              "INSERT INTO blobs SELECT x, randomblob(1048576) FROM k");
  }
  fs::create_directories(folder);
  std::string previous(1 << 20, '\0');
  for (size_t i = 0; i < previous.size(); ++i) previous[i] = static_cast<char>((i * 7919) >> 3);
  orv::test::write_file(folder + "Big.Dat", previous);
  schedule_now("Big", /*zip=*/true);
  start_service();
  // The run's temporary backup carries the service's pid: ".Big.Dat.<pid>.part".
  const fs::path part = fs::path(folder) / (".Big.Dat." + std::to_string(pid) + ".part");
  ASSERT_TRUE(wait_for([&] { return fs::exists(part); }, std::chrono::seconds(60), std::chrono::milliseconds(1)))
      << err_text();
  ::kill(pid, SIGTERM);
  EXPECT_EQ(wait_exit(std::chrono::seconds(30)), 0) << err_text();
  EXPECT_EQ(orv::test::read_file(folder + "Big.Dat"), previous);
  EXPECT_FALSE(fs::exists(part));
  for (const auto& e : fs::directory_iterator(folder)) EXPECT_EQ(e.path().extension(), ".Dat") << e.path();
  EXPECT_FALSE(fs::exists(folder + "Big.zip"));
  EXPECT_EQ(count("scheduled", "Big", "stopped"), 1) << orv::test::read_file(log_file());
  EXPECT_EQ(count("scheduled", "Big", "backed up"), 0);
  EXPECT_NE(err_text().find("Terminated"), std::string::npos) << err_text();
}

}  // namespace
}  // namespace orv::service::testing
