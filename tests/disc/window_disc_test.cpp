// The disc panel and the disc step in the real main window, offscreen, on a private installation
// with the local server engine and the virtual recorder: the panel's start-up and the options file
// through show, restore from the tray and close; and a scheduled run end to end, from the tick
// to two sessions on a virtual CD-R read back by xorriso.
#include <QLocale>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <map>
#include <sstream>
#include <variant>

#include "app/core/startup.h"
#include "core/clock.h"
#include "core/scripted_dialogs.h"
#include "app/window/dataset_model.h"
#include "app/window/form_main.h"
#include "app/window/form_main_disc.h"
#include "backup/disc/disc_options.h"
#include "i18n/messages.h"
#include "platform/profile.h"
#include "scsi/aspi_layer.h"
#include "scsi/platform.h"
#include "server/statement.h"
#include "settings/connection/server_connection.h"
#include "dal/connection.h"
#include "dal/datetime.h"
#include "settings/store/schedule.h"
#include "started_env.h"

using orv::app::TFormMain;
using orv::ui::ScriptedDialogs;
namespace fs = std::filesystem;

namespace {

// No /dev/sr* drive of the machine takes part: the virtual recorder is the only one.
class NoDrives : public orv::scsi::KernelPort {
 public:
  bool IsCDDrive(int) override { return false; }
  int OpenDrive(int) override { return -1; }
  void CloseDrive(int) override {}
  bool SendPassThrough(int, orv::scsi::PassThrough&) override { return false; }
  bool GetAddress(int, orv::scsi::ScsiAddress&) override { return false; }
};

// 2026-12-09 is a Wednesday (day index 4).
orv::dal::DateTime wednesday(int h, int m, int s) { return orv::dal::encode_date_time({2026, 12, 9, h, m, s, 0}); }

std::string run(const std::string& command) {
  const auto r = orv::test::run_command(command);
  return std::to_string(r.exit_code) + "\n" + r.output;
}

// Adds rows to a table t of the database on the local server: the database's name, or with
// `noise` > 0 that many pseudo-random hex digits, which zip keeps at about half their size.
void fill(const std::string& db, int rows, size_t noise = 0) {
  orv::dal::DataConnection c;
  c.open(orv::settings::WindowsConnectionString());
  c.execute(orv::server::use_statement(db));
  c.execute("CREATE TABLE IF NOT EXISTS t (a INTEGER, b TEXT)");
  std::mt19937 random(static_cast<unsigned>(std::hash<std::string>{}(db)));
  for (int i = 0; i < rows; ++i) {
    std::string b = db;
    if (noise > 0) {
      b.clear();
      for (size_t k = 0; k < noise; ++k) b += "0123456789abcdef"[random() % 16];
    }
    c.execute("INSERT INTO t VALUES (" + std::to_string(i) + ", '" + b + "')");
  }
  c.close();
}

// Wednesday's backup of the database at h:m, zipped and written to disc; `on` ticks the backup.
bool schedule(TFormMain& w, const std::string& db, int h, int m, bool on) {
  const orv::settings::DayColumns& day = orv::settings::day_columns(4);
  orv::dal::Table& t = w.data().ADOTableDatabase;
  if (!t.locate("Veri_Tabani_Adi", db)) return false;
  t.edit();
  t.field(day.time).set_date_time(orv::dal::encode_time(h, m));
  t.field(day.flag).set_string(on ? "True" : "False");
  t.field(day.zip).set_string("True");
  t.field(day.disc).set_string("True");
  t.post();
  return true;
}

// The working folder of the backup files.
void setBackupFolder(TFormMain& w, const fs::path& folder) {
  orv::dal::Table& system = w.data().ADOTableSystem;
  if (system.empty())
    system.append();
  else
    system.edit();
  system.field("Temp_Dizini").set_string(folder.string() + "/");
  system.post();
}

bool waitForDisc(TFormMain& w) {
  return QTest::qWaitFor([&] { return !orv::app::discHost(w).step->Busy(); }, 120000);
}

}  // namespace

class WindowDiscTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void panelStartsWithRecorderSpeedsAndDriveLabel();
  void unknownSpeedAndRecorderSelectTheFirstItem();
  void restoreFromTrayLoadsTheFileOverThePanel();
  void bootableAsksForTheImageAndUntickedWhenCancelled();
  void noLayerShowsTheAspiBoxOnEveryShow();
  void scheduledRunWritesTwoSessionsEndToEnd();
  void progressDisplayDuringWrite();

 private:
  void configureRecorder(const std::string& keys);
  std::unique_ptr<orv::test::Installation> inst_;
  NoDrives no_drives_;
  fs::path old_cwd_;
};

// Every test function starts on its own installation (home, working folder, settings, options
// file, recorder configuration) with no recorder layer in the process: the one an earlier
// function loaded was unloaded by its cleanup, so this one's configuration is read afresh.
void WindowDiscTest::init() {
  QVERIFY(!orv::scsi::ASPILoaded());
  void* resident = ::dlopen("libwnaspi32.so", RTLD_NOW | RTLD_NOLOAD);
  if (resident != nullptr) ::dlclose(resident);
  QVERIFY2(resident == nullptr, "the recorder layer of an earlier test function stayed loaded");
  orv::app::RegisterProviders();
  inst_ = std::make_unique<orv::test::Installation>();
  old_cwd_ = fs::current_path();
  fs::current_path(orv::test::bin_dir());  // the layer is found in the current folder first
  orv::scsi::SetKernelPort(&no_drives_);
}

void WindowDiscTest::cleanup() {
  (void)orv::scsi::FreeASPI();
  orv::scsi::SetKernelPort(nullptr);
  ::unsetenv("ORVAKELL_VRECORDER");
  fs::current_path(old_cwd_);
  inst_.reset();
}

void WindowDiscTest::configureRecorder(const std::string& keys) {
  const fs::path conf = inst_->env.work() / "vrecorder.conf";
  orv::test::write_file(conf, "\"" + (inst_->env.work() / "disc.iso").string() + "\" CD-R " + keys + "\n");
  ::setenv("ORVAKELL_VRECORDER", conf.c_str(), 1);
}

void WindowDiscTest::panelStartsWithRecorderSpeedsAndDriveLabel() {
  inst_->local_server({"Alpha"});
  configureRecorder("letter=R speeds=706,1411,2822");
  orv::platform::ProfileFile options(orv::backup::OptionsFilePath());
  options.write_string("Options", "CDSpeed", "8x");
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  std::vector<std::string> debug;
  orv::app::discHost(w).DiscBurner1.OnDebugMessage = [&](orv::scsi::TSCSIDevice*, const std::string& m, uint8_t) {
    debug.push_back(m);
  };
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QVERIFY(dialogs.boxes().empty());
  QCOMPARE(w.cbDrives->count(), 1);
  QVERIFY(w.cbDrives->currentText().startsWith("0:0:0,R: ORVAKELL"));
  QCOMPARE(w.cbDrives->toolTip(), w.cbDrives->currentText());
  QCOMPARE(w.lDrive->text(), QString::fromStdString(orv::i18n::messages().Drive_Str) + " R:");
  QStringList speeds;
  for (int i = 0; i < w.cbSpeed->count(); ++i) speeds << w.cbSpeed->itemText(i);
  QCOMPARE(speeds, QStringList({"Max", "16x", "8x", "4x"}));
  QCOMPARE(w.cbSpeed->currentText(), QString("8x"));
  QVERIFY(!debug.empty());
  QCOMPARE(QString::fromStdString(debug.front()), ">>> " + w.windowTitle());
  QCOMPARE(w.Label3->text(), QString("4 MB"));
  // The first close writes every key; the second write of speed and recorder keeps them last.
  w.close();
  const auto keys = options.keys("Options");
  QCOMPARE(int(keys.size()), 18);  // with VerifyWrite
  QCOMPARE(QString::fromStdString(keys.back()), QString("CDCins"));
  QCOMPARE(QString::fromStdString(options.read_string("Options", "CDSpeed", "")), QString("8x"));
  QCOMPARE(QString::fromStdString(options.read_string("Options", "VolumeLable", "")), w.shortDateToday());
}

void WindowDiscTest::unknownSpeedAndRecorderSelectTheFirstItem() {
  inst_->local_server({"Alpha"});
  configureRecorder("speeds=706,1411");
  orv::platform::ProfileFile options(orv::backup::OptionsFilePath());
  options.write_string("Options", "CDSpeed", "52x");
  options.write_string("Options", "CDCins", "1:0:0,E: GONE RECORDER");
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QCOMPARE(w.cbDrives->currentIndex(), 0);
  QCOMPARE(w.cbSpeed->currentText(), QString("Max"));
  QCOMPARE(w.lDrive->text(), QString::fromStdString(orv::i18n::messages().Drive_Str) + " :");  // no letter
  QCOMPARE(QString::fromStdString(orv::app::discHost(w).DiscBurner1.DeviceID()), w.cbDrives->currentText());
}

void WindowDiscTest::restoreFromTrayLoadsTheFileOverThePanel() {
  inst_->local_server({"Alpha"});
  configureRecorder("");
  orv::platform::ProfileFile options(orv::backup::OptionsFilePath());
  options.write_string("Options", "CacheSize", "104857600");
  options.write_string("Options", "VolumeLable", "OLDLABEL");
  ScriptedDialogs dialogs;
  orv::ui::FixedClock clock(wednesday(9, 0, 0));
  TFormMain w({&dialogs, &clock});
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  orv::burner::TDiscBurner& b = orv::app::discHost(w).DiscBurner1;
  QCOMPARE(b.CacheSize(), 104857600);
  QCOMPARE(w.sCacheSize->value(), 64);
  QCOMPARE(w.Label3->text(), QString("64 MB"));
  QCOMPARE(QString::fromStdString(b.IdVolume), QString("OLDLABEL"));
  QCOMPARE(w.eVolLabel->text(), w.shortDateToday());
  w.cTestWrite->setChecked(true);
  w.cEject->setChecked(true);
  // A tick is not read when it changes: a write started now would be a real write, and the file
  // is not touched before the close.
  QVERIFY(!b.TestWrite());
  QCOMPARE(QString::fromStdString(options.read_string("Options", "TestWrite", "unset")), QString("unset"));
  w.hideToTray();
  clock.set(orv::dal::DateTime{wednesday(9, 0, 0).days + 1.0});  // restored the next day
  w.showFromTray();
  QVERIFY(!w.cTestWrite->isChecked());  // the file was loaded again over the tick
  QVERIFY(!b.TestWrite());
  QCOMPARE(w.eVolLabel->text(), w.shortDateToday());
  w.cEject->setChecked(true);
  w.close();
  QCOMPARE(QString::fromStdString(options.read_string("Options", "EjectDisc", "")), QString("1"));
  QCOMPARE(QString::fromStdString(options.read_string("Options", "TestWrite", "")), QString("0"));
  QCOMPARE(QString::fromStdString(options.read_string("Options", "CacheSize", "")), QString("67108864"));
  QCOMPARE(QString::fromStdString(options.read_string("Options", "VolumeLable", "")), w.shortDateToday());
}

void WindowDiscTest::bootableAsksForTheImageAndUntickedWhenCancelled() {
  inst_->local_server({"Alpha"});
  configureRecorder("");
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  w.ScrollBox->ensureWidgetVisible(w.cBootable);
  w.Label2->setText("/images/old.img");
  dialogs.answer_file(std::string("/images/boot.img"));
  QTest::mouseClick(w.cBootable, Qt::LeftButton, {}, QPoint(8, w.cBootable->height() / 2));
  QVERIFY(w.cBootable->isChecked());
  QCOMPARE(w.Label2->text(), QString("/images/boot.img"));
  const auto* request = std::get_if<orv::ui::FileRequest>(&dialogs.events().back());
  QVERIFY(request != nullptr);
  QCOMPARE(QString::fromStdString(request->filter), QString("All Image Files|*.IMG;*.IMA;*.BIN|All Files|*.*"));
  QCOMPARE(QString::fromStdString(request->default_extension), QString("*.Img"));
  QCOMPARE(QString::fromStdString(request->initial_file), QString("/images/old.img"));
  QTest::mouseClick(w.cBootable, Qt::LeftButton, {}, QPoint(8, w.cBootable->height() / 2));  // untick: no dialog
  QVERIFY(!w.cBootable->isChecked());
  dialogs.answer_file(std::nullopt);
  QTest::mouseClick(w.cBootable, Qt::LeftButton, {}, QPoint(8, w.cBootable->height() / 2));
  QVERIFY(!w.cBootable->isChecked());  // cancelled
  QCOMPARE(w.Label2->text(), QString("/images/boot.img"));
  QVERIFY(dialogs.script_used_up());
}

void WindowDiscTest::noLayerShowsTheAspiBoxOnEveryShow() {
  inst_->local_server({"Alpha"});
  // No drive, and no layer in the current folder, beside the program or on the library path.
  const fs::path empty = inst_->env.work() / "empty";
  fs::create_directories(empty);
  fs::current_path(empty);
  ScriptedDialogs dialogs;
  TFormMain w({&dialogs, nullptr});
  w.eVolLabel->setText("untouched");
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QVERIFY(!orv::scsi::ASPILoaded());
  QCOMPARE(int(dialogs.boxes().size()), 1);
  QCOMPARE(dialogs.boxes()[0], (orv::ui::Box{orv::ui::BoxKind::Plain, "", orv::app::kAspiErrorText, orv::ui::Buttons::Ok}));
  QCOMPARE(w.cbDrives->count(), 0);
  QCOMPARE(w.eVolLabel->text(), QString("untouched"));  // the show ends at the box
  // A restore from the tray tries again, and says so again.
  w.hideToTray();
  w.showFromTray();
  QCOMPARE(int(dialogs.boxes().size()), 2);
  QCOMPARE(QString::fromStdString(dialogs.boxes()[1].text), QString(orv::app::kAspiErrorText));
  w.close();
}

void WindowDiscTest::scheduledRunWritesTwoSessionsEndToEnd() {
  for (const char* tool : {"xorriso", "unzip"})
    if (!orv::test::have_program(tool)) QSKIP("xorriso and unzip are needed");
  inst_->local_server({"Sales", "Stock", "Extra"});
  configureRecorder("");
  // The zip engine beside the program, as installed.
  fs::create_symlink(orv::test::bin_dir() / "libZipEngine179.so", inst_->env.home() / "libZipEngine179.so");
  const fs::path folder = inst_->env.work() / "backups";
  fs::create_directories(folder);

  fill("Sales", 40);
  fill("Stock", 7);
  fill("Extra", 3);
  auto extract = [&](const std::string& sector, const std::string& name) {
    const fs::path out = inst_->env.work() / name;
    const std::string r = run("xorriso -osirrox on -load sbsector " + sector + " -indev stdio:" +
                              orv::test::shell_quote((inst_->env.work() / "disc.iso").string()) + " -extract / " +
                              orv::test::shell_quote(out.string()) + " 2>&1");
    return std::make_pair(out, r);
  };
  auto lastFile = [](TFormMain& w, const QString& db) {
    const int name = w.DSDAtabase->columnOf("Veri_Tabani_Adi");
    const int file = w.DSDAtabase->columnOf("Son_Yedek_Dosya_Adi");
    for (int r = 0; r < w.DSDAtabase->rowCount(); ++r)
      if (w.DSDAtabase->index(r, name).data().toString() == db) return w.DSDAtabase->index(r, file).data().toString();
    return QString("<no row>");
  };

  std::map<std::string, std::string> first;
  {
    ScriptedDialogs dialogs;
    orv::ui::FixedClock clock(wednesday(10, 0, 20));
    TFormMain w({&dialogs, &clock});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    setBackupFolder(w, folder);
    QVERIFY(schedule(w, "Sales", 10, 0, true));
    QVERIFY(schedule(w, "Stock", 10, 0, true));
    QVERIFY(schedule(w, "Extra", 10, 0, true));
    w.Timer2Timer();  // the scheduler's tick in the scheduled minute
    QVERIFY(waitForDisc(w));
    QStringList seen;
    for (const auto& b : dialogs.boxes()) seen << QString::fromStdString(b.caption + " | " + b.text);
    for (int i = 0; i < w.clBox->count(); ++i) seen << "queued " + w.clBox->item(i)->text();
    QVERIFY2(dialogs.beeps() == 1, qPrintable(seen.join("\n")));
    QVERIFY(!w.bAbort->isVisible());
    QCOMPARE(lastFile(w, "Sales"), QString("Sales.zip"));
    QCOMPARE(lastFile(w, "Stock"), QString("Stock.zip"));
    QCOMPARE(w.pcd->value(), w.pcd->maximum());
    for (const char* f : {"Sales.zip", "Stock.zip", "Extra.zip"}) {
      first[f] = orv::test::read_file(folder / f);
      const std::string t = run("unzip -t " + orv::test::shell_quote((folder / f).string()));
      QVERIFY2(t.rfind("0\n", 0) == 0, t.c_str());
    }
    auto [out, r] = extract("0", "first");
    QVERIFY2(r.rfind("0\n", 0) == 0, r.c_str());
    for (const auto& [f, bytes] : first) QVERIFY2(orv::test::read_file(out / f) == bytes, f.c_str());
    // The next window session imports the last session.
    w.cImportSession->setChecked(true);
    w.eSession->setText("1");
    w.close();
  }

  fill("Sales", 25);  // changed contents, same file names
  fill("Stock", 60);
  std::string second_sector;
  {
    ScriptedDialogs dialogs;
    orv::ui::FixedClock clock(wednesday(10, 5, 20));
    TFormMain w({&dialogs, &clock});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(int(orv::app::discHost(w).DiscBurner1.SessionToImport), 1);
    QVERIFY(schedule(w, "Sales", 10, 5, true));
    QVERIFY(schedule(w, "Stock", 10, 5, true));
    QVERIFY(schedule(w, "Extra", 10, 0, false));
    w.Timer2Timer();
    QVERIFY(waitForDisc(w));
    QCOMPARE(dialogs.beeps(), 1);
    second_sector = std::to_string(orv::app::discHost(w).DiscBurner1.SessionStart);
    QVERIFY(second_sector != "0");
    w.close();
  }
  const std::string sales = orv::test::read_file(folder / "Sales.zip");
  const std::string stock = orv::test::read_file(folder / "Stock.zip");
  QVERIFY(sales != first["Sales.zip"]);
  QVERIFY(stock != first["Stock.zip"]);
  auto [out2, r2] = extract(second_sector, "second");
  QVERIFY2(r2.rfind("0\n", 0) == 0, r2.c_str());
  QVERIFY(orv::test::read_file(out2 / "Sales.zip") == sales);
  QVERIFY(orv::test::read_file(out2 / "Stock.zip") == stock);
  QVERIFY(orv::test::read_file(out2 / "Extra.zip") == first["Extra.zip"]);  // carried forward
  auto [out1, r1] = extract("0", "first-again");
  QVERIFY2(r1.rfind("0\n", 0) == 0, r1.c_str());
  for (const auto& [f, bytes] : first) QVERIFY2(orv::test::read_file(out1 / f) == bytes, f.c_str());
  run("chmod -R u+w " + orv::test::shell_quote(inst_->env.work().string()));
}

// The status bar while the disc step of a scheduled run writes: the share of the track, the size
// text in the locale's "#,##0.00" form, the cache fill and the CANCEL button. With ORV_SCREENSHOT
// set, a picture of the window scrolled to the disc panel is saved there (and with
// ORV_SCREENSHOT_WHOLE, one of the whole window content). The recorder answers every command late
// so that the write lasts long enough to be seen.
void WindowDiscTest::progressDisplayDuringWrite() {
  inst_->local_server({"Accounting", "Inventory", "Payroll", "Sales"});
  configureRecorder("letter=R speeds=706,1411,2822,5644 delay_ms=60");
  fs::create_symlink(orv::test::bin_dir() / "libZipEngine179.so", inst_->env.home() / "libZipEngine179.so");
  const fs::path folder = inst_->env.work() / "backups";
  fs::create_directories(folder);
  for (const char* db : {"Accounting", "Payroll", "Sales"}) fill(db, 500, 5000);
  ScriptedDialogs dialogs;
  orv::ui::FixedClock clock(wednesday(22, 0, 5));
  TFormMain w({&dialogs, &clock});
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  setBackupFolder(w, folder);
  for (const char* db : {"Accounting", "Payroll", "Sales"}) QVERIFY(schedule(w, db, 22, 0, true));
  w.cEject->setChecked(true);
  w.Timer2Timer();
  QVERIFY(orv::app::discHost(w).step->Busy());
  QCOMPARE(w.clBox->count(), 3);
  QVERIFY(w.bAbort->isVisible());
  // Some way into the track, after the progress display's next tick.
  QVERIFY(QTest::qWaitFor([&] { return w.pcd->maximum() > 0 && w.pcd->value() * 5 >= w.pcd->maximum() * 2; }, 60000));
  QTest::qWait(600);
  QVERIFY(w.pcd->value() < w.pcd->maximum());
  QVERIFY(w.pBuf->value() > 0);  // the recorder is slow: the cache holds blocks
  const QString dec = QRegularExpression::escape(QLocale::system().decimalPoint());
  const QRegularExpression size("^(\\d+)" + dec + "(\\d\\d)/(\\d+)" + dec + "(\\d\\d) MB$");
  const auto m = size.match(w.lSize->text());
  QVERIFY2(m.hasMatch(), qPrintable(w.lSize->text()));
  const double written = m.captured(1).toDouble() + m.captured(2).toDouble() / 100;
  const double total = m.captured(3).toDouble() + m.captured(4).toDouble() / 100;
  QVERIFY2(written > 0 && written < total && total > 3, qPrintable(w.lSize->text()));
  const QByteArray target = qgetenv("ORV_SCREENSHOT");
  if (!target.isEmpty()) {
    w.ScrollBox->horizontalScrollBar()->setValue(w.ScrollBox->horizontalScrollBar()->maximum());
    w.ScrollBox->verticalScrollBar()->setValue(w.ScrollBox->verticalScrollBar()->maximum());
    QTest::qWait(50);
    QVERIFY(w.grab().save(QString::fromLocal8Bit(target)));
  }
  const QByteArray whole = qgetenv("ORV_SCREENSHOT_WHOLE");
  if (!whole.isEmpty()) QVERIFY(w.Content->grab().save(QString::fromLocal8Bit(whole)));
  QVERIFY(waitForDisc(w));
  QCOMPARE(dialogs.beeps(), 1);
  QVERIFY(!w.bAbort->isVisible());
  QCOMPARE(w.pcd->value(), w.pcd->maximum());
  run("chmod -R u+w " + orv::test::shell_quote(inst_->env.work().string()));
}

QTEST_MAIN(WindowDiscTest)
#include "window_disc_test.moc"
