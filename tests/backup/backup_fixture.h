// Shared by the backup run and scheduler tests: the shipped settings database and the local
// server engine in the test's private folders, reached through the tool's own connections
// (MainData); a recording run view; scripted dialogs with a hook that runs inside a box (as a
// click or tick would while a box is open); a fixed clock; an archiver on this build's zip
// engine; and a timer driver that ticks Timer2 as the window's 55-second timer would.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/main_data.h"
#include "core/clock.h"
#include "core/scripted_dialogs.h"
#include "backup/run/run.h"
#include "i18n/messages.h"
#include "server/server_config.h"
#include "server/server_driver.h"
#include "server/statement.h"
#include "settings/connection/server_connection.h"
#include "dal/datetime.h"
#include "dal/sqlite_driver.h"
#include "settings/store/schedule.h"
#include "test_env.h"
#include "tds_route.h"

namespace orv::backup::testing {

namespace fs = std::filesystem;

// What the window would have shown, in order.
class RecordingRunView final : public RunView {
 public:
  void SetLabel10(const std::string& text) override {
    label10 = text;
    events.push_back("Label10=" + text);
    if (on_label10) on_label10(text);
  }
  void SetLabel11(const std::string& text) override {
    label11 = text;
    events.push_back("Label11=" + text);
  }
  void SetTimer2Enabled(bool on) override {
    timer2 = on;
    ++timer2_switches;
    if (on && on_timer2_on) on_timer2_on();
  }
  bool Timer2Enabled() const override { return timer2; }
  std::vector<int> SelectedDatabaseRows() const override { return selected; }
  void ClearDiscQueue() override { queue.clear(); }
  void AddToDiscQueue(const std::string& path) override { queue.push_back(path); }
  std::vector<std::string> DiscQueue() const override { return queue; }
  void StartDiscWrite() override {
    ++disc_writes;
    written_queue = queue;
  }
  void ShowLastOutcome(const std::string& text) override { last_outcome = text; }

  std::vector<std::string> events;
  std::string label10 = "untouched", label11 = "untouched";
  bool timer2 = true;
  int timer2_switches = 0;
  std::vector<int> selected;
  std::vector<std::string> queue, written_queue;
  int disc_writes = 0;
  std::string last_outcome;
  std::function<void(const std::string&)> on_label10;
  std::function<void()> on_timer2_on;
};

// Scripted dialogs whose hook runs when a box appears, before it is answered.
class HookedDialogs final : public ui::Dialogs {
 public:
  ui::Answer show_box(const ui::Box& box) override {
    if (on_box) on_box(box);
    return script.show_box(box);
  }
  std::optional<std::string> open_file(const ui::FileRequest& r) override { return script.open_file(r); }
  std::optional<std::string> choose_folder() override { return script.choose_folder(); }
  void beep() override { script.beep(); }
  void repaint() override { script.repaint(); }
  void process_events() override { script.process_events(); }

  std::vector<ui::Box> boxes() const { return script.boxes(); }
  ui::ScriptedDialogs script;
  std::function<void(const ui::Box&)> on_box;
};

// Message strings that read as their keys, with placeholders (in mixed letter case) where the
// run replaces them, so every box and status line shows which string it used.
inline i18n::MessageStrings test_strings() {
  i18n::MessageStrings s;
  for (const auto& k : i18n::kMessageKeys) s.*k.field = std::string(k.key);
  s.Backup_To_Str = "Backup_To_Str <DATABASE>";
  s.Backup_To_Direct_Str = "Backup_To_Direct_Str <directory>";
  s.Directory_Create_Error_Str = "Directory_Create_Error_Str <Directory>|<DIRECTORY>";
  return s;
}

inline dal::DateTime at(int y, int mo, int d, int h, int mi, int s = 0) {
  return dal::encode_date_time(dal::DateTimeParts{y, mo, d, h, mi, s, 0});
}

// 2026-12-06 is a Sunday.
inline dal::DateTime sunday(int h, int mi, int s = 0) { return at(2026, 12, 6, h, mi, s); }

class BackupFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(env.home());
    fs::copy_file(orv::test::bin_dir() / "Velmora.db", env.home() / "Velmora.db");
    server::register_local_server(2, server::default_engine_folder());
    if (orv::test::tds_route_wanted()) {
      // The same suite through FreeTDS and the TDS listener, with a SQL login.
      route = std::make_unique<orv::test::TdsRoute>();
      login = settings::PasswordLoginConnectionString(orv::test::TdsRoute::kUser, orv::test::TdsRoute::kPassword);
    }
    server::register_server_driver();
    data.store.Open(env.home());
    data.ADOConnectionSQLC.open(login);
    i18n::messages() = test_strings();
    folder = (env.work() / "backups").string() + "/";
    set_system(folder, false, false);
    archiver.DLLDirectory = orv::test::bin_dir().string();
    clock.set(sunday(12, 0));
    run = std::make_unique<BackupRun>(BackupRun::Ports{&data, &dialogs, &clock, &view, &progress, &archiver,
                                                       RunLog(env.config() / "orvakell" / RunLog::kFileName)});
  }
  void TearDown() override {
    run.reset();
    data.ADOConnectionSQLC.close();
    route.reset();
    i18n::messages() = {};
  }

  void set_system(const std::string& temp, bool zip, bool disc) {
    dal::Table& s = data.ADOTableSystem;
    s.edit();
    s.field("Temp_Dizini").set_string(temp);
    s.field("Ziple").set_string(settings::yes_no(zip));
    s.field("CD_Yaz").set_string(settings::yes_no(disc));
    s.post();
  }

  // A database on the server with one table of `rows` rows, and its row in Database_List.
  void make_database(const std::string& name, int rows = 3) {
    dal::DataConnection c;
    c.open(login);
    c.execute("CREATE DATABASE " + server::quote_identifier(name));
    c.execute(server::use_statement(name));
    c.execute("CREATE TABLE t (a INTEGER, b TEXT)");
    for (int i = 0; i < rows; ++i) c.execute("INSERT INTO t VALUES (" + std::to_string(i) + ", 'row')");
    c.close();
    add_row(name);
  }
  // A row of Database_List alone (no database of that name on the server).
  void add_row(const std::string& name) {
    dal::Table& t = data.ADOTableDatabase;
    t.append();
    t.field("Veri_Tabani_Adi").set_string(name);
    t.post();
  }
  // Today's schedule of a row: day flag, time, zip and disc flags.
  void schedule(const std::string& name, int day_index, int hour, int minute, bool zip = false, bool disc = false) {
    dal::Table& t = data.ADOTableDatabase;
    ASSERT_TRUE(t.locate("Veri_Tabani_Adi", name));
    const settings::DayColumns& d = settings::day_columns(day_index);
    t.edit();
    t.field(d.time).set_date_time(dal::encode_time(hour, minute));
    t.field(d.flag).set_string("True");
    t.field(d.zip).set_string(settings::yes_no(zip));
    t.field(d.disc).set_string(settings::yes_no(disc));
    t.post();
  }
  int row_of(const std::string& name) {
    dal::Table& t = data.ADOTableDatabase;
    const int col = t.field("Veri_Tabani_Adi").index();
    for (int i = 0; i < t.record_count(); ++i)
      if (t.text_at(i, col) == name) return i;
    ADD_FAILURE() << "no row " << name;
    return -1;
  }
  std::string last_file(const std::string& name) {
    dal::Table& t = data.ADOTableDatabase;
    return t.text_at(row_of(name), t.field("Son_Yedek_Dosya_Adi").index());
  }
  dal::Value last_time(const std::string& name) {
    dal::Table& t = data.ADOTableDatabase;
    return t.value_at(row_of(name), t.field("Son_Yedek_Tarih").index());
  }
  // The outcome lines of the run log (one per database and disc file), without the lines of
  // passed checks ("backup verified", "archive tested", ...), which all_log_lines() keeps.
  std::vector<std::string> log_lines() {
    std::vector<std::string> lines;
    for (const auto& l : all_log_lines())
      if (!is_check_line(l)) lines.push_back(l);
    return lines;
  }
  static bool is_check_line(const std::string& line) {
    for (const char* what : {"\tbackup verified\t", "\tarchive tested\t", "\trestore test passed\t"})
      if (line.find(what) != std::string::npos) return true;
    return false;
  }
  std::vector<std::string> all_log_lines() {
    std::vector<std::string> lines;
    const fs::path f = env.config() / "orvakell" / RunLog::kFileName;
    if (!fs::exists(f)) return lines;
    std::string all = orv::test::read_file(f), line;
    for (char c : all) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    return lines;
  }
  bool has_box(ui::BoxKind kind, const std::string& text, const std::string& caption) {
    for (const auto& b : dialogs.boxes())
      if (b.kind == kind && b.text == text && b.caption == caption) return true;
    return false;
  }
  int count_boxes_with(const std::string& text) {
    int n = 0;
    for (const auto& b : dialogs.boxes()) n += b.text == text;
    return n;
  }
  fs::path file(const std::string& name) const { return fs::path(folder) / name; }

  orv::test::TestEnv env;
  std::string login = settings::WindowsConnectionString();
  std::unique_ptr<orv::test::TdsRoute> route;
  core::MainData data;
  HookedDialogs dialogs;
  ui::FixedClock clock;
  RecordingRunView view;
  RecordingProgressWindow progress;
  zip::TZipArchiver archiver;
  std::unique_ptr<BackupRun> run;
  std::string folder;
};

// Ticks Timer2 as the window's timer does: 55 s after it was last switched on, while it is on.
// A run may move the clock on (a hook of the view), so the next tick counts from the run's end.
class TimerDriver {
 public:
  TimerDriver(BackupRun& run, RecordingRunView& view, ui::FixedClock& clock) : run_(run), view_(view), clock_(clock) {
    view_.on_timer2_on = [this] { switched_on_at_ = clock_.now().days; };
  }
  ~TimerDriver() { view_.on_timer2_on = nullptr; }

  // Switches the timer on at the clock's time (as window creation does).
  void start() {
    view_.timer2 = true;
    switched_on_at_ = clock_.now().days;
  }
  // Ticks until `end`; returns the time of every tick. Stops early when the timer stays off.
  std::vector<dal::DateTime> run_until(dal::DateTime end) {
    std::vector<dal::DateTime> ticks;
    while (view_.timer2) {
      const double next = switched_on_at_ + 55.0 / 86400.0;
      if (next >= end.days) break;
      clock_.set(dal::DateTime{next});
      ticks.push_back(clock_.now());
      run_.Timer2Timer();
    }
    return ticks;
  }

 private:
  BackupRun& run_;
  RecordingRunView& view_;
  ui::FixedClock& clock_;
  double switched_on_at_ = 0;
};

}  // namespace orv::backup::testing
