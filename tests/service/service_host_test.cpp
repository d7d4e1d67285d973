// The service's host over a simulated week with an injected clock: every due row runs once,
// missed runs are caught up at start and after a pause, a failing backup is logged and the next
// database runs; unreachable settings are logged once; the run lock defers a tick; a stop ends
// the run without touching the previous backup; boxes never wait.
#include <sstream>
#include <thread>

#include "core/clock.h"
#include "platform/instance_lock.h"
#include "service/service_host.h"
#include "service_fixture.h"

namespace orv::service::testing {
namespace {

class ServiceHostTest : public ServiceFixture {
 protected:
  std::unique_ptr<ServiceHost> make_host(const std::atomic<bool>* stop = nullptr) {
    ServiceHost::Options o;
    o.installation_folder = env.home();
    o.zip_engine_folder = orv::test::bin_dir().string();
    o.clock = &clock;
    o.stop = stop;
    o.err = &err;
    o.ticker = [this] {
      if (stop_after_reports > 0 && --stop_after_reports == 0) stop_flag = true;
      return steady;
    };
    o.log = backup::RunLog(log_file());
    o.disc = false;
    return std::make_unique<ServiceHost>(std::move(o));
  }
  // Ticks every minute (at second 1) from the clock's time until `end`.
  void tick_until(ServiceHost& host, dal::DateTime end) {
    while (clock.now().days < end.days) {
      host.Tick();
      clock.advance_seconds(60);
      steady += std::chrono::seconds(60);
    }
  }

  ui::FixedClock clock;
  std::atomic<bool> stop_flag{false};
  int stop_after_reports = 0;  // sets stop_flag at that report of a status line (0: never)
  std::ostringstream err;
  std::chrono::steady_clock::time_point steady{};
};

TEST_F(ServiceHostTest, SimulatedWeekRunsEveryDueRowOnceAndCatchesUp) {
  make_database("Daily");
  make_database("Twice");
  add_row("Gone");  // no such database on the server: its backup fails
  make_database("Late");
  make_database("Old");
  for (int day = 1; day <= 7; ++day) schedule("Daily", day, 12, 0);
  schedule("Twice", 2, 2, 30, /*zip=*/true);  // Monday
  schedule("Twice", 5, 2, 30, /*zip=*/true);  // Thursday
  schedule("Gone", 4, 12, 0);                 // Wednesday, in the same minute as Daily
  schedule("Late", 7, 23, 0);                 // Saturday: the evening before the start
  schedule("Old", 6, 20, 0);                  // Friday: more than a day before the start
  // Sunday 2026-12-06 00:00:01; the service was not running on Saturday evening.
  clock.set(at(2026, 12, 6, 0, 0, 1));
  auto host = make_host();

  // The missed runs: Late (Saturday 23:00) and Daily (Saturday 12:00), both within the day.
  ASSERT_EQ(host->Tick(), ServiceHost::TickResult::Ran);
  EXPECT_EQ(count("scheduled", "Late", "missed"), 1);
  EXPECT_EQ(count("scheduled", "Daily", "missed"), 1);
  EXPECT_EQ(count("scheduled", "Daily", "backed up"), 1);
  EXPECT_EQ(count("scheduled", "Late", "backed up"), 1);
  EXPECT_EQ(count("scheduled", "Old", "backed up"), 0);

  // Until Tuesday 10:00, a pause of four hours (the machine asleep), then to the week's end.
  clock.advance_seconds(60);
  tick_until(*host, at(2026, 12, 8, 10, 0, 1));
  clock.set(at(2026, 12, 8, 14, 0, 1));
  tick_until(*host, at(2026, 12, 13, 0, 0, 1));

  EXPECT_EQ(count("scheduled", "Daily", "backed up"), 8);  // the missed one and seven days
  EXPECT_EQ(count("scheduled", "Twice", "backed up"), 2);
  EXPECT_EQ(count("scheduled", "Gone", "backup failed"), 1);
  EXPECT_EQ(count("scheduled", "Late", "backed up"), 2);
  EXPECT_EQ(count("scheduled", "Old", "backed up"), 1);
  // Only the start's runs were missed ones; the pause was caught up by the next tick.
  int missed = 0;
  for (const auto& f : log_fields()) missed += f.size() > 4 && f[4] == "missed";
  EXPECT_EQ(missed, 2);
  // Tuesday's run of 12:00, inside the pause, ran at the first tick after it (14:00).
  bool tuesday = false;
  for (const auto& f : log_fields())
    tuesday = tuesday || (f.size() > 4 && f[2] == "Daily" && f[4] == "backed up" && f[0].rfind("2026-12-08 14:00", 0) == 0);
  EXPECT_TRUE(tuesday);
  // Wednesday: the failure of Gone is logged with the server's text, then Daily ran.
  const auto lines = log_fields();
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].size() > 5 && lines[i][2] == "Gone" && lines[i][4] == "backup failed") {
      EXPECT_NE(lines[i][5], "");
      ASSERT_LT(i + 1, lines.size());
      bool daily_after = false;
      for (size_t j = i + 1; j < lines.size() && j < i + 6; ++j)
        daily_after = daily_after || (lines[j].size() > 4 && lines[j][2] == "Daily" && lines[j][4] == "backed up");
      EXPECT_TRUE(daily_after);
    }
  EXPECT_TRUE(fs::exists(folder + "Twice.zip"));
  EXPECT_TRUE(fs::exists(folder + "Daily.Dat"));
  // The failure box went to the log and standard error, answered without waiting.
  EXPECT_NE(err.str().find("Bağlantı Ayarları"), std::string::npos) << err.str();
  // No temporary files left.
  for (const auto& e : fs::directory_iterator(folder)) EXPECT_NE(e.path().extension(), ".part") << e.path();
}

TEST_F(ServiceHostTest, ScheduleChangedByAnotherProcessIsSeenAtTheNextTick) {
  make_database("Accounting");
  clock.set(at(2026, 12, 6, 9, 0, 1));
  auto host = make_host();
  EXPECT_EQ(host->Tick(), ServiceHost::TickResult::Idle);
  schedule("Accounting", 1, 9, 1);  // Sunday 09:01, written after the host read the rows
  clock.advance_seconds(60);
  EXPECT_EQ(host->Tick(), ServiceHost::TickResult::Ran);
  EXPECT_EQ(count("scheduled", "Accounting", "backed up"), 1);
  // The host's record of the backup did not undo the schedule written by the other store.
  settings::SettingsStore again;
  again.Open(env.home());
  ASSERT_TRUE(again.ADOTableDatabase.locate("Veri_Tabani_Adi", "Accounting"));
  EXPECT_EQ(again.ADOTableDatabase.field("Pazar").as_string(), "True");
  EXPECT_EQ(again.ADOTableDatabase.field("Son_Yedek_Dosya_Adi").as_string(), "Accounting.Dat");
}

TEST_F(ServiceHostTest, RunLockOfAnotherProcessDefersTheTickAndTheNextCatchesUp) {
  make_database("Accounting");
  schedule("Accounting", 1, 9, 1);
  clock.set(at(2026, 12, 6, 9, 0, 1));
  auto host = make_host();
  EXPECT_EQ(host->Tick(), ServiceHost::TickResult::Idle);
  {
    platform::InstanceLock by_hand(platform::run_lock_file());  // a window's run by hand
    ASSERT_EQ(by_hand.state(), platform::InstanceLock::State::Acquired);
    clock.advance_seconds(60);
    EXPECT_EQ(host->Tick(), ServiceHost::TickResult::Deferred);
    clock.advance_seconds(60);
    EXPECT_EQ(host->Tick(), ServiceHost::TickResult::Deferred);
    EXPECT_EQ(count("scheduled", "Accounting", "backed up"), 0);
  }
  clock.advance_seconds(60);
  EXPECT_EQ(host->Tick(), ServiceHost::TickResult::Ran);  // 09:03 runs the row of 09:01
  EXPECT_EQ(count("scheduled", "Accounting", "backed up"), 1);
  EXPECT_EQ(count("service", "", "deferred"), 1);  // once, not at every tick
}

TEST_F(ServiceHostTest, UnreachableSettingsDatabaseIsLoggedOnceAndTriedAgain) {
  make_database("Accounting");
  schedule("Accounting", 1, 9, 3);
  store.ADOConnection1.close();
  const fs::path db = env.home() / "Velmora.db", aside = env.work() / "Velmora.db";
  fs::create_directories(env.work());
  fs::rename(db, aside);
  clock.set(at(2026, 12, 6, 9, 0, 1));
  auto host = make_host();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(host->Tick(), ServiceHost::TickResult::NotConnected);
    clock.advance_seconds(60);
  }
  EXPECT_EQ(count("service", "", "error"), 1);
  fs::rename(aside, db);
  EXPECT_EQ(host->Tick(), ServiceHost::TickResult::Ran);  // 09:03: first tick, the row is due now
  EXPECT_EQ(count("service", "", "recovered"), 1);
  EXPECT_EQ(count("scheduled", "Accounting", "backed up"), 1);
}

TEST_F(ServiceHostTest, StopDuringTheRunKeepsThePreviousBackupAndLogsStopped) {
  make_database("First");
  make_database("Second");
  schedule("First", 1, 9, 1);
  schedule("Second", 1, 9, 1);
  fs::create_directories(folder);
  orv::test::write_file(folder + "First.Dat", "previous good backup");
  clock.set(at(2026, 12, 6, 9, 0, 1));
  auto host = make_host(&stop_flag);
  EXPECT_EQ(host->Tick(), ServiceHost::TickResult::Idle);
  // The stop comes with the second status line of First ("backing up First to ..."), just
  // before its statement runs, as a signal during the statement would.
  stop_after_reports = 2;
  clock.advance_seconds(60);
  host->Tick();
  EXPECT_TRUE(stop_flag);
  EXPECT_EQ(count("scheduled", "First", "stopped"), 1);
  EXPECT_EQ(orv::test::read_file(folder + "First.Dat"), "previous good backup");
  for (const auto& e : fs::directory_iterator(folder)) EXPECT_NE(e.path().extension(), ".part") << e.path();
  EXPECT_FALSE(fs::exists(folder + "Second.Dat"));
  EXPECT_EQ(count("scheduled", "Second", "backed up"), 0);
  EXPECT_TRUE(host->run().Stopped());
}

// A stop during a long statement cancels it through the provider (as the service's stop
// watcher does): the run ends with the database logged as stopped, not failed, and the previous
// backup and no temporary file remain.
TEST_F(ServiceHostTest, StatementCancelledOnStopEndsTheRunAsStopped) {
  make_database("Big");
  {
    dal::DataConnection c;
    c.open(settings::WindowsConnectionString());
    c.execute(server::use_statement("Big"));
    c.execute("CREATE TABLE blobs (n INTEGER, b BLOB)");
    c.execute("WITH RECURSIVE k(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM k WHERE x < 96) "
              "INSERT INTO blobs SELECT x, randomblob(1048576) FROM k");
  }
  schedule("Big", 1, 9, 1);
  fs::create_directories(folder);
  orv::test::write_file(folder + "Big.Dat", "previous good backup");
  clock.set(at(2026, 12, 6, 9, 0, 1));
  auto host = make_host(&stop_flag);
  EXPECT_EQ(host->Tick(), ServiceHost::TickResult::Idle);

  std::atomic<bool> tick_done{false};
  std::thread stopper([&] {
    // The statement is in progress once the server has started the temporary file.
    auto writing = [&] {
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.path().filename().string().rfind(".Big.Dat.", 0) == 0) return true;
      return false;
    };
    while (!tick_done && !writing()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    stop_flag = true;
    while (!tick_done) {
      host->CancelStatement();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  clock.advance_seconds(60);
  host->Tick();
  tick_done = true;
  stopper.join();
  EXPECT_EQ(count("scheduled", "Big", "stopped"), 1) << orv::test::read_file(log_file());
  EXPECT_EQ(count("scheduled", "Big", "backup failed"), 0);
  EXPECT_EQ(orv::test::read_file(folder + "Big.Dat"), "previous good backup");
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(folder)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"Big.Dat"});
  EXPECT_TRUE(host->run().Stopped());
}

}  // namespace
}  // namespace orv::service::testing
