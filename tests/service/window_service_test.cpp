// The window on an installation whose schedule the background service runs: its timer stays
// off (also after a run by hand) and its status bar says so; a run by hand is refused while a
// run of the service is in progress; without the service the window runs the timer and catches
// up, right after its start, a run that fell due while no scheduler ran.
#include <QCoreApplication>
#include <QTest>

#include <filesystem>

#include "app/window/form_main.h"
#include "app/window/form_main_backup.h"
#include "core/clock.h"
#include "core/scripted_dialogs.h"
#include "dal/connection.h"
#include "dal/datetime.h"
#include "dal/sqlite_driver.h"
#include "i18n/messages.h"
#include "platform/instance_lock.h"
#include "server/server_config.h"
#include "server/server_driver.h"
#include "settings/connection/server_connection.h"
#include "settings/store/schedule.h"
#include "settings/store/settings_store.h"
#include "test_env.h"

namespace fs = std::filesystem;
using namespace orv;

namespace {

// A private installation with the database Sales on the local engine, its row scheduled on
// Saturday at 23:00 and the working folder chosen.
struct Installation {
  orv::test::TestEnv env;
  std::string folder;
  Installation() {
    fs::create_directories(env.home());
    fs::copy_file(orv::test::bin_dir() / "Velmora.db", env.home() / "Velmora.db");
    dal::register_sqlite_driver();
    server::register_server_driver();
    server::register_local_server(2, server::default_engine_folder());
    dal::DataConnection c;
    c.open(settings::WindowsConnectionString());
    c.execute("CREATE DATABASE Sales");
    c.execute("USE Sales");
    c.execute("CREATE TABLE t (a INTEGER)");
    c.close();
    folder = (env.work() / "backups").string() + "/";
    settings::SettingsStore s;
    s.Open(env.home());
    s.ADOTableSystem.edit();
    s.ADOTableSystem.field("Temp_Dizini").set_string(folder);
    s.ADOTableSystem.post();
    s.ADOTableDatabase.append();
    s.ADOTableDatabase.field("Veri_Tabani_Adi").set_string("Sales");
    const settings::DayColumns& sat = settings::day_columns(7);
    s.ADOTableDatabase.field(sat.time).set_date_time(dal::encode_time(23, 0));
    s.ADOTableDatabase.field(sat.flag).set_string("True");
    s.ADOTableDatabase.field(sat.zip).set_string("False");
    s.ADOTableDatabase.field(sat.disc).set_string("False");
    s.ADOTableDatabase.post();
  }
  std::string log() const {
    const fs::path f = env.config() / "orvakell" / "backup-runs.log";
    return fs::exists(f) ? orv::test::read_file(f) : "";
  }
};

// Sunday 2026-12-06 00:10: Saturday's 23:00 run fell due 70 minutes before.
dal::DateTime SundayMorning() { return dal::encode_date_time({2026, 12, 6, 0, 10, 0, 0}); }

}  // namespace

class WindowServiceTest : public QObject {
  Q_OBJECT
 private slots:
  void timerStaysOffWhileTheServiceRunsTheSchedule();
  void runByHandIsRefusedWhileTheServiceRuns();
  void restoreAndRepairsWaitForTheServicesRun();
  void withoutTheServiceTheWindowCatchesUpAtStart();
};

void WindowServiceTest::timerStaysOffWhileTheServiceRunsTheSchedule() {
  Installation inst;
  platform::InstanceLock service(platform::scheduler_lock_file());
  QCOMPARE(service.state(), platform::InstanceLock::State::Acquired);
  QCOMPARE(service.SetOwner("service 1"), std::string());
  ui::ScriptedDialogs dialogs;
  ui::FixedClock clock(SundayMorning());
  app::TFormMain w({&dialogs, &clock});
  QVERIFY(w.scheduleInService());
  QVERIFY(!w.Timer2->isActive());
  QVERIFY(!w.lService->isHidden());
  QCOMPARE(w.lService->text(), QStringLiteral("Scheduled backups run in the background service."));
  QVERIFY(w.pBuf->isHidden());
  // No catch-up: that is the service's.
  QCoreApplication::processEvents();
  QVERIFY(!fs::exists(inst.folder + "Sales.Dat"));

  // A run by hand ends by switching the timer on: it stays off here.
  i18n::load_message_strings(w.language());
  app::backupHost(w).ZipArchiver1.DLLDirectory = orv::test::bin_dir().string();
  QVERIFY(w.data().ADOTableDatabase.locate("Veri_Tabani_Adi", "Sales"));
  dialogs.answer_box(ui::Answer::Yes);
  w.BitBtn4Click();
  QVERIFY(fs::exists(inst.folder + "Sales.Dat"));
  QVERIFY(!w.Timer2->isActive());
  w.setTimer2(true);
  QVERIFY(!w.Timer2->isActive());

  // The service's failures reach the tray once each; the window's own run by hand does not.
  QVERIFY(w.NoticeBackgroundFailures().empty());
  const fs::path log = inst.env.config() / "orvakell" / "backup-runs.log";
  orv::test::write_file(log, orv::test::read_file(log) +
                                 "2026-12-06 02:30:09\tscheduled\tPayroll\t\tbackup failed\tCannot open backup device\n");
  const auto shown = w.NoticeBackgroundFailures();
  QCOMPARE(int(shown.size()), 1);
  QVERIFY(shown[0].find("Payroll") != std::string::npos);
  QVERIFY(w.NoticeBackgroundFailures().empty());
  QVERIFY(w.TimerNotice && w.TimerNotice->isActive());
}

void WindowServiceTest::runByHandIsRefusedWhileTheServiceRuns() {
  Installation inst;
  platform::InstanceLock service(platform::scheduler_lock_file());
  ui::ScriptedDialogs dialogs;
  ui::FixedClock clock(SundayMorning());
  app::TFormMain w({&dialogs, &clock});
  i18n::load_message_strings(w.language());
  QVERIFY(w.data().ADOTableDatabase.locate("Veri_Tabani_Adi", "Sales"));
  dialogs.clear();
  {
    platform::InstanceLock running(platform::run_lock_file());  // the service's run
    QCOMPARE(running.state(), platform::InstanceLock::State::Acquired);
    w.BitBtn4Click();
  }
  const auto boxes = dialogs.boxes();
  QCOMPARE(int(boxes.size()), 1);
  QCOMPARE(boxes[0].text, std::string(platform::kRunInProgressText));
  QCOMPARE(boxes[0].kind, ui::BoxKind::Warning);
  QVERIFY(!fs::exists(inst.folder + "Sales.Dat"));
  QCOMPARE(inst.log(), std::string());
}

void WindowServiceTest::restoreAndRepairsWaitForTheServicesRun() {
  Installation inst;
  platform::InstanceLock service(platform::scheduler_lock_file());
  ui::ScriptedDialogs dialogs;
  ui::FixedClock clock(SundayMorning());
  app::TFormMain w({&dialogs, &clock});
  i18n::load_message_strings(w.language());
  QVERIFY(w.data().ADOTableDatabase.locate("Veri_Tabani_Adi", "Sales"));
  dialogs.clear();
  {
    platform::InstanceLock running(platform::run_lock_file());  // the service's run
    QCOMPARE(running.state(), platform::InstanceLock::State::Acquired);
    w.BitBtn2Click();
    w.RepairIndexClick();
    w.RepairTableClick();
  }
  // One box each and nothing asked: no confirmation, no file dialog, no statement.
  const auto boxes = dialogs.boxes();
  QCOMPARE(int(boxes.size()), 3);
  for (const auto& box : boxes) {
    QCOMPARE(box.text, std::string(platform::kOperationWaitsForRunText));
    QCOMPARE(box.kind, ui::BoxKind::Warning);
  }
  QCOMPARE(inst.log(), std::string());
}

void WindowServiceTest::withoutTheServiceTheWindowCatchesUpAtStart() {
  Installation inst;
  ui::ScriptedDialogs dialogs;
  ui::FixedClock clock(SundayMorning());
  app::TFormMain w({&dialogs, &clock});
  QVERIFY(!w.scheduleInService());
  QVERIFY(w.Timer2->isActive());
  QVERIFY(w.lService->isHidden());
  // The window holds the scheduler lock: a service started now waits.
  QVERIFY(platform::lock_owner(platform::scheduler_lock_file()).rfind("window ", 0) == 0);
  QVERIFY(!fs::exists(inst.folder + "Sales.Dat"));
  QCoreApplication::processEvents();  // the catch-up posted by the start
  QVERIFY(fs::exists(inst.folder + "Sales.Dat"));
  const std::string log = inst.log();
  QVERIFY2(log.find("\tscheduled\tSales\t\tmissed\tdue at 2026-12-05 23:00, caught up now\n") != std::string::npos, log.c_str());
  QVERIFY2(log.find("\tscheduled\tSales\tSales.Dat\tbacked up\t\n") != std::string::npos, log.c_str());
  QVERIFY(w.Timer2->isActive());
  // The first tick of the same minute does not run it again.
  w.Timer2Timer();
  size_t runs = 0;
  for (size_t at = log.find("backed up"); at != std::string::npos; at = log.find("backed up", at + 1)) ++runs;
  QCOMPARE(runs, size_t(1));
  QCOMPARE(inst.log(), log);
}

QTEST_MAIN(WindowServiceTest)
#include "window_service_test.moc"
