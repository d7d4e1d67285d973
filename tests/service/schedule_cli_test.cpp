// orvakell-schedule's subcommands: what set/unset/folder store, bad input refused with status 64
// and nothing stored, and the exit status of `status` for success, failure and no service.
#include <map>

#include "platform/instance_lock.h"
#include "service_fixture.h"

namespace orv::service::testing {
namespace {

class ScheduleCliTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    make_database("Accounting");
    add_row("Payroll");
    store.ADOConnection1.close();
  }
  orv::test::CommandResult cli(const std::string& args) {
    return orv::test::run_command(orv::test::shell_quote((orv::test::bin_dir() / "orvakell-schedule").string()) + " " +
                                  args);
  }
  // The Database_List row of `name` as stored, field by field.
  std::map<std::string, dal::Value> row(const std::string& name) {
    settings::SettingsStore s;
    s.Open(env.home());
    std::map<std::string, dal::Value> out;
    dal::Table& t = s.ADOTableDatabase;
    EXPECT_TRUE(t.locate("Veri_Tabani_Adi", name));
    for (int i = 0; i < t.field_count(); ++i) out[t.field(i).name()] = t.value_at(t.current_index(), i);
    return out;
  }
  std::string text(const std::map<std::string, dal::Value>& r, const std::string& f) {
    const auto* s = std::get_if<std::string>(&r.at(f));
    return s ? *s : "<not text>";
  }
  void append_log(const std::string& line) {
    fs::create_directories(log_file().parent_path());
    std::string all = fs::exists(log_file()) ? orv::test::read_file(log_file()) : "";
    orv::test::write_file(log_file(), all + line + "\n");
  }
};

TEST_F(ScheduleCliTest, SetAndUnsetStoreTheGridsTexts) {
  const auto before = row("Accounting");
  auto r = cli("set Accounting --day tue,FRI --at 02:30 --zip");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  auto a = row("Accounting");
  EXPECT_EQ(text(a, "Sali"), "True");
  EXPECT_EQ(text(a, "Cuma"), "True");
  EXPECT_EQ(text(a, "Sl_Zip"), "True");
  EXPECT_EQ(text(a, "Sl_CD"), "False");
  EXPECT_EQ(std::get<dal::DateTime>(a.at("Sali_T")), dal::encode_time(2, 30));
  EXPECT_EQ(std::get<dal::DateTime>(a.at("Cuma_T")), dal::encode_time(2, 30));
  for (const char* other : {"Pazar", "Pazar_T", "P_Tesi", "Carsamba_T", "Son_Yedek_Tarih"})
    EXPECT_EQ(a.at(other), before.at(other)) << other;  // other days untouched
  r = cli("list --json");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("{\"name\":\"Accounting\",\"last_backup\":\"\",\"last_file\":\"\",\"days\":["
                          "{\"day\":\"tue\",\"at\":\"02:30\",\"zip\":true,\"disc\":false},"
                          "{\"day\":\"fri\",\"at\":\"02:30\",\"zip\":true,\"disc\":false}]}"),
            std::string::npos)
      << r.output;

  r = cli("unset Accounting --day tue");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  a = row("Accounting");
  EXPECT_EQ(text(a, "Sali"), "False");
  EXPECT_EQ(text(a, "Cuma"), "True");
}

TEST_F(ScheduleCliTest, VerifyStoresTheTestRestoreChoiceAsTheGridDoes) {
  EXPECT_EQ(text(row("Accounting"), "Test_Restore"), settings::kTestRestoreNever);
  auto r = cli("verify Accounting WEEKLY");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(text(row("Accounting"), "Test_Restore"), settings::kTestRestoreWeekly);
  ASSERT_EQ(cli("verify Accounting always").exit_code, 0);
  EXPECT_EQ(text(row("Accounting"), "Test_Restore"), settings::kTestRestoreAlways);
  EXPECT_EQ(text(row("Payroll"), "Test_Restore"), settings::kTestRestoreNever);
}

TEST_F(ScheduleCliTest, KeepStoresTheGenerationsTheRunReads) {
  auto r = cli("keep 3");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  settings::SettingsStore s;
  s.Open(env.home());
  EXPECT_EQ(s.ADOTableSystem.field("Keep").as_string(), "3");
  EXPECT_EQ(s.ADOTableSystem.field("Temp_Dizini").as_string(), folder);  // the rest of the row kept
}

TEST_F(ScheduleCliTest, BadInputIsRefusedWith64AndNothingIsStored) {
  const std::string before = orv::test::read_file(env.home() / "Velmora.db");
  fs::create_directories(env.work());
  orv::test::write_file(env.work() / "plain-file", "x");
  for (const std::string& args :
       {std::string("set Nobody --day tue --at 02:30"), std::string("set Accounting --day tuesdayish --at 02:30"),
        std::string("set Accounting --day tue --at 25:61"), std::string("set Accounting --day tue --at 2:3x"),
        std::string("set Accounting --at 02:30"), std::string("set Accounting --day tue"),
        std::string("unset Accounting --day tue --zip"), std::string("set Accounting --day tue --at 02:30 --bogus"),
        "folder " + orv::test::shell_quote((env.work() / "plain-file" / "sub").string()), std::string("folder rel/ative"),
        std::string("verify Accounting sometimes"), std::string("verify Accounting"),
        std::string("verify Nobody weekly"), std::string("keep 0"), std::string("keep 100"), std::string("keep 2x"),
        std::string("keep"), std::string("frobnicate")}) {
    const auto r = cli(args);
    EXPECT_EQ(r.exit_code, 64) << args << "\n" << r.output;
    EXPECT_NE(r.output.find("orvakell-schedule: "), std::string::npos) << args;
  }
  EXPECT_EQ(orv::test::read_file(env.home() / "Velmora.db"), before);
}

TEST_F(ScheduleCliTest, FolderIsMadeAndStoredAsTheFolderChoiceStoresIt) {
  const fs::path target = env.work() / "new" / "backups";
  const auto r = cli("folder " + orv::test::shell_quote(target.string() + "/"));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(fs::is_directory(target));
  settings::SettingsStore s;
  s.Open(env.home());
  EXPECT_EQ(s.ADOTableSystem.field("Temp_Dizini").as_string(), target.string() + "/");
}

TEST_F(ScheduleCliTest, RefreshAddsTheServersDatabases) {
  dal::DataConnection c;
  c.open(settings::WindowsConnectionString());
  c.execute("CREATE DATABASE Stock");
  c.close();
  const auto r = cli("refresh");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  settings::SettingsStore s;
  s.Open(env.home());
  EXPECT_TRUE(s.ADOTableDatabase.locate("Veri_Tabani_Adi", "Stock"));
}

TEST_F(ScheduleCliTest, StatusExitCodesForNoServiceSuccessAndFailure) {
  ASSERT_EQ(cli("set Accounting --day mon --at 02:30").exit_code, 0);
  ASSERT_EQ(cli("set Payroll --day mon --at 03:00").exit_code, 0);
  auto r = cli("status");
  EXPECT_EQ(r.exit_code, 2) << r.output;
  EXPECT_NE(r.output.find("Service: not running"), std::string::npos) << r.output;

  platform::InstanceLock scheduler(platform::scheduler_lock_file());  // the service, as it holds it
  ASSERT_EQ(scheduler.state(), platform::InstanceLock::State::Acquired);
  ASSERT_EQ(scheduler.SetOwner("service 4242"), "");
  append_log("2026-12-07 02:30:05\tscheduled\tAccounting\tAccounting.Dat\tbacked up\t");
  append_log("2026-12-07 03:00:05\tscheduled\tPayroll\t\tbackup failed\tCannot open backup device");
  r = cli("status --json");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("\"running\":true"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("\"outcome\":\"backup failed\",\"error\":\"Cannot open backup device\",\"ok\":false"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("\"next_run\":\""), std::string::npos) << r.output;

  // The next run of Payroll succeeds; a "missed" note after it does not count as an outcome.
  append_log("2026-12-14 03:00:04\tscheduled\tPayroll\t\tmissed\tdue at 2026-12-14 03:00, caught up now");
  append_log("2026-12-14 03:00:09\tscheduled\tPayroll\tPayroll.Dat\tbacked up\t");
  r = cli("status");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("Service: running (pid 4242)"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace orv::service::testing
