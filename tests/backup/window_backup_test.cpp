// The window side of the backup: the progress window TFormZip_Islem, and a scheduler tick through
// the real main window (its controls as the run's view) with the clock injected.
#include <QPointer>
#include <QTest>

#include <filesystem>

#include "core/clock.h"
#include "core/scripted_dialogs.h"
#include "app/window/form_main.h"
#include "app/window/form_main_backup.h"
#include "app/window/form_zip_islem.h"
#include "i18n/messages.h"
#include "server/engine.h"
#include "server/server_config.h"
#include "dal/datetime.h"
#include "settings/store/schedule.h"
#include "test_env.h"

namespace fs = std::filesystem;

class WindowBackupTest : public QObject {
  Q_OBJECT
 private slots:
  void progressWindowShowsOneBarAndFreesItself();
  void scheduledTickThroughTheWindow();
};

void WindowBackupTest::progressWindowShowsOneBarAndFreesItself() {
  QWidget owner;
  owner.resize(800, 600);
  orv::app::ZipIslemProgress progress(&owner);
  QVERIFY(!progress.IsOpen());
  progress.Open();
  QVERIFY(progress.IsOpen());
  QPointer<orv::app::TFormZip_Islem> window = orv::app::FormZip_Islem;
  QVERIFY(window);
  QCOMPARE(window->windowTitle(), QStringLiteral("Process"));
  QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
  QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
  QCOMPARE(window->size(), QSize(557, 19));
  QCOMPARE(window->ProgressBar2->size(), QSize(555, 17));
  QCOMPARE(window->ProgressBar2->minimum(), 0);
  QCOMPARE(window->ProgressBar2->maximum(), 100);
  QVERIFY(!window->rect().contains(window->Edit3->geometry()));

  progress.SetMaximum(10001);
  progress.SetPosition(5001);
  QCOMPARE(window->ProgressBar2->maximum(), 10001);
  QCOMPARE(window->ProgressBar2->value(), 5001);
  // A range beyond an int: the same fraction of the bar.
  progress.SetMaximum(8'000'000'000LL);
  progress.SetPosition(2'000'000'000LL);
  QCOMPARE(progress.Position(), 2'000'000'000LL);
  const double shown = double(window->ProgressBar2->value()) / window->ProgressBar2->maximum();
  QVERIFY(shown > 0.249 && shown < 0.251);

  progress.Close();
  QVERIFY(!progress.IsOpen());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QVERIFY(window.isNull());
  progress.Close();  // none open: nothing
  progress.SetPosition(3);
  QCOMPARE(progress.Position(), 0LL);
}

void WindowBackupTest::scheduledTickThroughTheWindow() {
  orv::test::TestEnv env;
  fs::create_directories(env.home());
  fs::copy_file(orv::test::bin_dir() / "Velmora.db", env.home() / "Velmora.db");
  const fs::path root = env.data() / "server";
  orv::server::register_local_server(2, root);
  {
    orv::server::EngineOptions options;
    options.root = root;
    orv::server::LoginRequest login;
    login.integrated = true;
    auto session = orv::server::Engine::open(options)->connect(login);
    session->execute("CREATE DATABASE Sales", {});
    session->execute("USE Sales", {});
    session->execute("CREATE TABLE t (a INTEGER)", {});
    session->execute("INSERT INTO t VALUES (1)", {});
  }
  orv::ui::ScriptedDialogs dialogs;
  // Sunday 2026-12-06 02:30:12.
  orv::ui::FixedClock clock(orv::dal::encode_date_time({2026, 12, 6, 2, 30, 12, 0}));
  orv::app::TFormMain w({&dialogs, &clock});
  orv::core::MainData& data = w.data();
  orv::i18n::load_message_strings(w.language());

  const std::string folder = (env.work() / "backups").string() + "/";
  data.ADOTableSystem.edit();
  data.ADOTableSystem.field("Temp_Dizini").set_string(folder);
  data.ADOTableSystem.post();
  QVERIFY(data.ADOTableDatabase.locate("Veri_Tabani_Adi", "Sales"));
  data.ADOTableDatabase.edit();
  data.ADOTableDatabase.field("Pazar_T").set_date_time(orv::dal::encode_time(2, 30));
  data.ADOTableDatabase.field("Pzr_Zip").set_string("True");
  data.ADOTableDatabase.field("Pzr_CD").set_string("False");
  data.ADOTableDatabase.post();

  // The installation folder here is the test's own; the zip engine is the build's.
  orv::app::backupHost(w).ZipArchiver1.DLLDirectory = orv::test::bin_dir().string();

  w.Timer2Timer();

  QVERIFY(fs::is_regular_file(folder + "Sales.Dat"));
  QVERIFY(fs::is_regular_file(folder + "Sales.zip"));
  QVERIFY(data.ADOTableDatabase.locate("Veri_Tabani_Adi", "Sales"));
  QCOMPARE(data.ADOTableDatabase.field("Son_Yedek_Dosya_Adi").as_string(), std::string("Sales.zip"));
  QCOMPARE(data.ADOTableDatabase.field("Son_Yedek_Tarih").as_date_time().days, clock.now().days);
  // Nothing for disc; the status lines cleared; the scheduler on again; no box.
  QCOMPARE(w.clBox->count(), 0);
  QVERIFY(w.Label10->text().isEmpty());
  QVERIFY(w.Timer2->isActive());
  QVERIFY(dialogs.boxes().empty());
  QCOMPARE(data.UnattendedRun, std::string("HAYIR"));
  QVERIFY(orv::app::FormZip_Islem == nullptr);
  const std::string log = orv::test::read_file(env.config() / "orvakell" / "backup-runs.log");
  QCOMPARE(log, std::string("2026-12-06 02:30:12\tscheduled\tSales\tSales.Dat\tbackup verified\t\n"
                            "2026-12-06 02:30:12\tscheduled\tSales\tSales.zip\tarchive tested\t\n"
                            "2026-12-06 02:30:12\tscheduled\tSales\tSales.zip\tbacked up\t\n"));
  QVERIFY(w.Label5->toolTip().contains(QStringLiteral("Sales: backed up")));
}

QTEST_MAIN(WindowBackupTest)
#include "window_backup_test.moc"
