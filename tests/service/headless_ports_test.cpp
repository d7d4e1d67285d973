// The service's ports and failure notice: boxes answered with their default and written to the
// log and standard error; repeated errors written once; progress at most every 10 seconds; the
// failure command gets the run's lines and is ended past its limit.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "core/clock.h"
#include "service/failure_notice.h"
#include "service/headless_ports.h"
#include "test_env.h"

namespace orv::service {
namespace {

namespace fs = std::filesystem;

struct PortsTest : ::testing::Test {
  orv::test::TestEnv env;
  ui::FixedClock clock{dal::DateTime{46000.5}};
  std::ostringstream err;
  fs::path log_file = env.work() / "runs.log";
  std::string log() { return fs::exists(log_file) ? orv::test::read_file(log_file) : ""; }
};

TEST_F(PortsTest, BoxesAreAnsweredWithTheirDefaultAndWrittenToLogAndStderr) {
  LoggingDialogs d(backup::RunLog(log_file), clock, err);
  EXPECT_EQ(d.message("Lütfen kontrol", "Bağlantı Ayarları", ui::BoxKind::Error), ui::Answer::Ok);
  EXPECT_EQ(d.message("Overwrite?", "Zip", ui::BoxKind::Question, ui::Buttons::YesNo), ui::Answer::Yes);
  EXPECT_EQ(d.message("Go on?", "", ui::BoxKind::Warning, ui::Buttons::OkCancel), ui::Answer::Ok);
  EXPECT_FALSE(d.open_file(ui::FileRequest{"Boot image", "", "", ""}).has_value());
  EXPECT_FALSE(d.choose_folder().has_value());
  const std::string l = log();
  EXPECT_NE(l.find("service\t\t\tbox error\tBağlantı Ayarları: Lütfen kontrol [answered OK]"), std::string::npos) << l;
  EXPECT_NE(l.find("Zip: Overwrite? [answered Yes]"), std::string::npos) << l;
  EXPECT_NE(l.find("ORVAKELL: Go on?"), std::string::npos) << l;
  EXPECT_NE(err.str().find("Bağlantı Ayarları: Lütfen kontrol"), std::string::npos);
}

TEST_F(PortsTest, RepeatedErrorsAreWrittenOncePerDistinctText) {
  LoggingDialogs d(backup::RunLog(log_file), clock, err);
  EXPECT_TRUE(d.ErrorOnce("server", "connection refused"));
  EXPECT_FALSE(d.ErrorOnce("server", "connection refused"));
  EXPECT_TRUE(d.ErrorOnce("settings", "database is locked"));
  EXPECT_TRUE(d.ErrorOnce("server", "login failed"));
  d.Cleared("server");
  EXPECT_TRUE(d.ErrorOnce("server", "login failed"));
  // The standard error box: repeats are dropped until a tick had no box.
  d.standard_error("disk I/O error");
  d.standard_error("disk I/O error");
  d.ForgetRepeats();
  d.standard_error("disk I/O error");
  size_t n = 0;
  for (size_t at = log().find("disk I/O error"); at != std::string::npos; at = log().find("disk I/O error", at + 1)) ++n;
  EXPECT_EQ(n, 2u);
  EXPECT_NE(log().find("recovered\tserver is reachable again"), std::string::npos);
}

TEST_F(PortsTest, ProgressGoesToStderrAtMostEveryTenSeconds) {
  std::chrono::steady_clock::time_point now{};
  ThrottledReporter r(err, [&] { return now; });
  StderrProgressWindow w(r);
  w.Open();
  w.SetMaximum(10001);
  for (int s = 0; s <= 25; ++s) {  // one position a second for 25 seconds
    w.SetPosition(1 + s * 400);
    now += std::chrono::seconds(1);
  }
  w.Close();
  // At 0, 10 and 20 seconds.
  EXPECT_EQ(err.str(), "orvakell-service: archive 0%\norvakell-service: archive 40%\norvakell-service: archive 80%\n");
}

TEST_F(PortsTest, FailureLinesAreTheFailedOutcomes) {
  using backup::IsFailureLine;
  EXPECT_TRUE(IsFailureLine("2026-12-06 02:30:00\tscheduled\tA\t\tbackup failed\tno such database"));
  EXPECT_TRUE(IsFailureLine("2026-12-06 02:30:00\tdisc\t\tA.zip\tdisc write failed\tno disc"));
  EXPECT_TRUE(IsFailureLine("2026-12-06 02:30:00\tscheduled\tA\tA.Dat\tzip failed\tdisk full"));
  EXPECT_FALSE(IsFailureLine("2026-12-06 02:30:00\tscheduled\tA\tA.zip\tbacked up\t"));
  EXPECT_TRUE(IsFailureLine("2026-12-06 02:30:00\tscheduled\tA\tA.Dat\trestore test failed\tRESTORE detected an error"));
  EXPECT_FALSE(IsFailureLine("2026-12-06 02:30:00\tscheduled\tA\tA.Dat\trestore test passed\t"));
  EXPECT_FALSE(IsFailureLine("2026-12-06 02:30:00\tscheduled\tA\tA.Dat\tbackup verified\t"));
  EXPECT_FALSE(IsFailureLine("2026-12-06 02:30:00\tscheduled\tA\t\tmissed\tbackup failed"));
  EXPECT_FALSE(IsFailureLine("garbage"));

  // New failure lines of background runs, read once each; an unfinished last line waits.
  fs::create_directories(env.work());
  orv::test::write_file(log_file, "2026-12-06 02:30:00\tby hand\tA\t\tbackup failed\tx\n"
                                  "2026-12-06 02:30:00\tscheduled\tB\t\tbackup failed\ty\n"
                                  "2026-12-06 02:31:00\tscheduled\tC\tC.Dat\tbacked up\t\n"
                                  "2026-12-06 02:32:00\tscheduled\tD\t\tbackup fai");
  std::uintmax_t offset = 0;
  auto lines = backup::NewFailureLines(log_file, offset, /*background=*/true);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\tB\t"), std::string::npos);
  EXPECT_TRUE(backup::NewFailureLines(log_file, offset, true).empty());
  orv::test::write_file(log_file, orv::test::read_file(log_file) + "led\tz\n");
  lines = backup::NewFailureLines(log_file, offset, true);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\tD\t"), std::string::npos);
}

TEST_F(PortsTest, FailureCommandGetsTheLinesAndIsEndedPastItsLimit) {
  fs::create_directories(env.work());
  std::vector<std::string> notes;
  auto note = [&](const std::string& o, const std::string& t) { notes.push_back(o + ": " + t); };
  const fs::path got = env.work() / "got.txt";
  FailureNotice ok(FailureNotice::Config{"cat > " + orv::test::shell_quote(got.string()), std::chrono::seconds(60)}, note);
  ok.Start({"line one", "line\ttwo"});
  ok.WaitAll();
  EXPECT_EQ(orv::test::read_file(got), "line one\nline\ttwo\n");
  EXPECT_TRUE(notes.empty());

  FailureNotice failing(FailureNotice::Config{"exit 3", std::chrono::seconds(60)}, note);
  failing.Start({"x"});
  failing.WaitAll();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("exit status 3"), std::string::npos) << notes[0];

  FailureNotice slow(FailureNotice::Config{"sleep 30", std::chrono::seconds(1)}, note);
  const auto start = std::chrono::steady_clock::now();
  slow.Start({"x"});
  EXPECT_EQ(slow.running(), 1u);  // Start does not wait for it
  slow.WaitAll();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_NE(notes[1].find("ran past 1 s"), std::string::npos) << notes[1];
}

TEST_F(PortsTest, ServiceIniNamesTheCommand) {
  fs::create_directories(env.work());
  const fs::path ini = env.work() / "service.ini";
  orv::test::write_file(ini, "[Service]\nOnFailure=mail -s failed root\n");
  EXPECT_EQ(ReadFailureNoticeConfig(ini).command, "mail -s failed root");
  EXPECT_EQ(ReadFailureNoticeConfig(env.work() / "missing.ini").command, "");
}

}  // namespace
}  // namespace orv::service
