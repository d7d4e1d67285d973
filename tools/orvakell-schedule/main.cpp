// orvakell-schedule: the weekly backup schedule of the installation, read and edited from the
// shell. It stores exactly what the window's week grid stores ("True"/"False" flags, day times
// of day 0 with hour and minute), so the grid shows the same after either.
//
//   orvakell-schedule [list] [--json]         the schedule, the working folder, what is due now
//   orvakell-schedule status [--json]         the service, the next run and the last outcome
//                                             of each database
//   orvakell-schedule set DB --day tue,fri --at 02:30 [--zip] [--disc]
//   orvakell-schedule verify DB always|weekly|never
//   orvakell-schedule keep N
//   orvakell-schedule unset DB --day tue[,...]
//   orvakell-schedule folder PATH             the working folder (made when missing)
//   orvakell-schedule refresh                 the database list from the server
//
// The settings database of the installation folder is opened as the window opens it (never
// created). Days: mon tue wed thu fri sat sun (or their full English names), "all".
// Exit status: 0 done; status: 0 when the last run of every scheduled database succeeded,
// 1 when any failed, 2 when the background service does not run; 1 when the settings database
// or the server cannot be used; 64 for bad input (nothing is stored then).
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/shell/working_folder.h"
#include "backup/log/run_log.h"
#include "dal/datetime.h"
#include "dal/sqlite_driver.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "server/server_driver.h"
#include "settings/connection/server_connection.h"
#include "settings/store/schedule.h"
#include "settings/store/settings_store.h"

namespace {

using namespace orv;
namespace fs = std::filesystem;

constexpr int kUsage = 64;

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string or_dash(const std::string& s) { return s.empty() ? "-" : s; }

std::string json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// ---- arguments ---------------------------------------------------------------------------------

// Day names to day indexes (1 = Sunday ... 7 = Saturday), in the order given.
std::vector<int> ParseDays(const std::string& text) {
  static const std::map<std::string, int> names = {
      {"sun", 1}, {"sunday", 1}, {"mon", 2}, {"monday", 2}, {"tue", 3}, {"tuesday", 3}, {"wed", 4}, {"wednesday", 4},
      {"thu", 5}, {"thursday", 5}, {"fri", 6}, {"friday", 6}, {"sat", 7}, {"saturday", 7}};
  std::vector<int> days;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    item = lower(item);
    if (item == "all") {
      for (int d : settings::kGridDayOrder) days.push_back(d);
      continue;
    }
    auto it = names.find(item);
    if (it == names.end()) throw UsageError("unknown day \"" + item + "\" (mon tue wed thu fri sat sun, all)");
    if (std::find(days.begin(), days.end(), it->second) == days.end()) days.push_back(it->second);
  }
  if (days.empty()) throw UsageError("--day needs at least one day");
  return days;
}

// "HH:MM" with 00..23 and 00..59.
std::pair<int, int> ParseTime(const std::string& text) {
  const auto colon = text.find(':');
  auto number = [&](const std::string& s, int max) {
    if (s.empty() || s.size() > 2 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return -1;
    const int v = std::stoi(s);
    return v <= max ? v : -1;
  };
  if (colon == std::string::npos) throw UsageError("time \"" + text + "\" is not HH:MM");
  const int h = number(text.substr(0, colon), 23), m = number(text.substr(colon + 1), 59);
  if (h < 0 || m < 0) throw UsageError("time \"" + text + "\" is not a time of day (00:00 to 23:59)");
  return {h, m};
}

struct Args {
  std::string command = "list";
  std::vector<std::string> positional;
  std::string days, at;
  bool zip = false, disc = false, json = false;
};

Args ParseArgs(int argc, char** argv) {
  Args a;
  int i = 1;
  if (i < argc && argv[i][0] != '-') a.command = argv[i++];
  for (; i < argc; ++i) {
    const std::string s = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw UsageError(s + " needs a value");
      return argv[++i];
    };
    if (s == "--day" || s == "--days")
      a.days = value();
    else if (s == "--at")
      a.at = value();
    else if (s == "--zip")
      a.zip = true;
    else if (s == "--disc")
      a.disc = true;
    else if (s == "--json")
      a.json = true;
    else if (!s.empty() && s[0] == '-')
      throw UsageError("unknown option " + s);
    else
      a.positional.push_back(s);
  }
  return a;
}

void Need(const Args& a, size_t n, const char* usage) {
  if (a.positional.size() != n) throw UsageError(std::string("usage: orvakell-schedule ") + usage);
}

// ---- the settings database ---------------------------------------------------------------------

void Open(settings::SettingsStore& store) {
  dal::register_sqlite_driver();
  store.Open(platform::installation_folder());
}

// The Database_List row of `name` made current; a usage error when there is none.
void Locate(settings::SettingsStore& store, const std::string& name) {
  if (!store.ADOTableDatabase.locate("Veri_Tabani_Adi", name))
    throw UsageError("no database \"" + name + "\" in the schedule (orvakell-schedule refresh reads the server's list)");
}

bool Scheduled(dal::DataSet& t) {
  for (const auto& d : settings::kDays)
    if (settings::is_true(t.field(d.flag).as_string())) return true;
  return false;
}

// The next minute after `now` at which the current row falls due.
std::optional<dal::DateTime> NextDue(dal::DataSet& t, dal::DateTime now) {
  const long long today = static_cast<long long>(dal::date_part(now).days);
  for (int ahead = 0; ahead <= 7; ++ahead) {
    const dal::DateTime day{static_cast<double>(today + ahead)};
    const settings::DayColumns& d = settings::day_columns(dal::day_of_week(day));
    if (!settings::is_true(t.field(d.flag).as_string())) continue;
    const dal::DateTime time = t.field(d.time).as_date_time();
    const dal::DateTime due{day.days + dal::encode_time(dal::hour_of(time), dal::minute_of(time)).days};
    if (due.days * 1440 > std::floor(now.days * 1440 + 1e-6)) return due;
  }
  return std::nullopt;
}

std::string Minute(dal::DateTime t) { return dal::format_date_time(t).substr(0, 16); }

// ---- the run log -------------------------------------------------------------------------------

struct LastRun {
  std::string time, how, file, outcome, error;
};

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char c = s[++i];
      out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The newest backup line of each database (not the "missed" notes, not disc or service lines).
std::map<std::string, LastRun> LastRuns(const fs::path& log) {
  std::map<std::string, LastRun> last;
  FILE* f = std::fopen(log.c_str(), "rb");
  if (f == nullptr) return last;
  std::string line;
  auto take = [&] {
    std::vector<std::string> fields(1);
    for (char c : line) {
      if (c == '\t')
        fields.emplace_back();
      else
        fields.back() += c;
    }
    line.clear();
    if (fields.size() < 5) return;
    if (fields[1] != "scheduled" && fields[1] != "by hand") return;
    if (fields[4] == "missed") return;
    last[Unescape(fields[2])] =
        LastRun{fields[0], fields[1], Unescape(fields[3]), fields[4], fields.size() > 5 ? Unescape(fields[5]) : ""};
  };
  for (int c; (c = std::fgetc(f)) != EOF;) {
    if (c == '\n')
      take();
    else
      line += static_cast<char>(c);
  }
  if (!line.empty()) take();
  std::fclose(f);
  return last;
}

// ---- commands ----------------------------------------------------------------------------------

int List(const Args& a) {
  settings::SettingsStore store;
  Open(store);
  dal::Table& system = store.ADOTableSystem;
  const std::string folder = system.empty() ? "" : system.field("Temp_Dizini").as_string();
  dal::Table& t = store.ADOTableDatabase;
  const dal::DateTime now = dal::sqlite_clock_now();
  const int today = dal::day_of_week(now);
  settings::open_schedule_query(store.ADOQueryZamanlama, today);
  dal::Query& due = store.ADOQueryZamanlama;
  std::vector<std::string> due_names;
  for (due.first(); !due.eof(); due.next()) due_names.push_back(due.field("Veri_Tabani_Adi").as_string());

  if (a.json) {
    std::cout << "{\"settings\":" << json(settings::settings_database_path(platform::installation_folder()).string())
              << ",\"working_folder\":" << json(folder) << ",\"databases\":[";
    bool first_row = true;
    for (t.first(); !t.eof(); t.next()) {
      std::cout << (first_row ? "" : ",") << "{\"name\":" << json(t.field("Veri_Tabani_Adi").as_string())
                << ",\"last_backup\":" << json(t.field("Son_Yedek_Tarih").as_string())
                << ",\"last_file\":" << json(t.field("Son_Yedek_Dosya_Adi").as_string()) << ",\"days\":[";
      first_row = false;
      bool first_day = true;
      for (int day : settings::kGridDayOrder) {
        const settings::DayColumns& d = settings::day_columns(day);
        if (!settings::is_true(t.field(d.flag).as_string())) continue;
        std::cout << (first_day ? "" : ",") << "{\"day\":" << json(lower(d.band_caption).substr(0, 3))
                  << ",\"at\":" << json(dal::format_hh_mm(t.field(d.time).as_date_time()))
                  << ",\"zip\":" << (settings::is_true(t.field(d.zip).as_string()) ? "true" : "false")
                  << ",\"disc\":" << (settings::is_true(t.field(d.disc).as_string()) ? "true" : "false") << "}";
        first_day = false;
      }
      std::cout << "]}";
    }
    std::cout << "],\"due_now\":[";
    for (size_t i = 0; i < due_names.size(); ++i) std::cout << (i ? "," : "") << json(due_names[i]);
    std::cout << "]}\n";
    return 0;
  }

  std::cout << "ORVAKELL schedule: " << settings::settings_database_path(platform::installation_folder()).string()
            << "\n";
  std::cout << "Working folder: " << (system.empty() ? "(not chosen)" : or_dash(folder)) << "\n\n";
  if (t.empty()) std::cout << "No databases in the schedule yet.\n";
  for (t.first(); !t.eof(); t.next()) {
    std::cout << t.field("Veri_Tabani_Adi").as_string() << "\n";
    std::cout << "  last backup: " << or_dash(t.field("Son_Yedek_Tarih").as_string())
              << "  file: " << or_dash(t.field("Son_Yedek_Dosya_Adi").as_string()) << "\n";
    bool any = false;
    for (int day : settings::kGridDayOrder) {
      const settings::DayColumns& d = settings::day_columns(day);
      if (!settings::is_true(t.field(d.flag).as_string())) continue;
      any = true;
      std::cout << "  " << std::left << std::setw(10) << d.band_caption << " "
                << dal::format_hh_mm(t.field(d.time).as_date_time())
                << (settings::is_true(t.field(d.zip).as_string()) ? "  zip" : "")
                << (settings::is_true(t.field(d.disc).as_string()) ? "  CD-DVD" : "") << "\n";
    }
    if (!any) std::cout << "  not scheduled\n";
  }
  std::cout << "\nDue now (" << settings::day_columns(today).band_caption << " " << dal::format_hh_mm(now) << "):";
  if (due_names.empty()) std::cout << " none";
  for (const auto& n : due_names) std::cout << " " << n;
  std::cout << "\n";
  return 0;
}

int Status(const Args& a) {
  const std::string owner = platform::lock_owner(platform::scheduler_lock_file());
  const bool service = owner.rfind("service ", 0) == 0;
  settings::SettingsStore store;
  Open(store);
  const auto last = LastRuns(backup::RunLog().file());
  const dal::DateTime now = dal::sqlite_clock_now();
  dal::Table& t = store.ADOTableDatabase;
  bool failed = false;
  std::ostringstream text, js;
  text << "Service: " << (service ? "running (pid " + owner.substr(8) + ")" : "not running")
       << (owner.rfind("window ", 0) == 0 ? "; the window runs the schedule (pid " + owner.substr(7) + ")" : "") << "\n";
  js << "{\"service\":{\"running\":" << (service ? "true" : "false")
     << ",\"scheduler\":" << json(owner.empty() ? "" : owner.substr(0, owner.find(' '))) << "},\"databases\":[";
  bool first = true;
  for (t.first(); !t.eof(); t.next()) {
    const std::string name = t.field("Veri_Tabani_Adi").as_string();
    const bool scheduled = Scheduled(t);
    const auto next = NextDue(t, now);
    auto it = last.find(name);
    const bool ok = it == last.end() || it->second.outcome == backup::RunOutcomeText(backup::RunOutcome::Ok);
    if (scheduled && !ok) failed = true;
    text << name << "\n  next run: " << (next ? Minute(*next) : std::string("not scheduled")) << "\n  last run: ";
    if (it == last.end())
      text << "none in the run log\n";
    else
      text << it->second.time << " " << it->second.how << ", " << it->second.outcome
           << (it->second.error.empty() ? "" : " (" + it->second.error + ")") << "\n";
    js << (first ? "" : ",") << "{\"name\":" << json(name) << ",\"scheduled\":" << (scheduled ? "true" : "false")
       << ",\"next_run\":" << (next ? json(Minute(*next)) : "null") << ",\"last_run\":";
    if (it == last.end())
      js << "null";
    else
      js << "{\"time\":" << json(it->second.time) << ",\"how\":" << json(it->second.how)
         << ",\"file\":" << json(it->second.file) << ",\"outcome\":" << json(it->second.outcome)
         << ",\"error\":" << json(it->second.error) << ",\"ok\":" << (ok ? "true" : "false") << "}";
    js << "}";
    first = false;
  }
  const int code = !service ? 2 : failed ? 1 : 0;
  js << "],\"exit_status\":" << code << "}\n";
  std::cout << (a.json ? js.str() : text.str());
  return code;
}

int Set(const Args& a, bool on) {
  Need(a, 1, on ? "set DB --day tue,fri --at 02:30 [--zip] [--disc]" : "unset DB --day tue");
  if (a.days.empty()) throw UsageError("--day is required");
  const std::vector<int> days = ParseDays(a.days);
  std::pair<int, int> at{0, 0};
  if (on) {
    if (a.at.empty()) throw UsageError("--at is required");
    at = ParseTime(a.at);
  } else if (!a.at.empty() || a.zip || a.disc) {
    throw UsageError("unset takes only --day");
  }
  settings::SettingsStore store;
  Open(store);
  Locate(store, a.positional[0]);
  dal::Table& t = store.ADOTableDatabase;
  t.edit();
  try {
    for (int day : days) {
      const settings::DayColumns& d = settings::day_columns(day);
      if (on) {
        // As the week grid stores them: the time of day 0, and the check boxes' texts.
        t.field(d.time).set_date_time(dal::encode_time(at.first, at.second));
        t.field(d.flag).set_string("True");
        t.field(d.zip).set_string(settings::yes_no(a.zip));
        t.field(d.disc).set_string(settings::yes_no(a.disc));
      } else {
        t.field(d.flag).set_string("False");
      }
    }
    t.post();
  } catch (...) {
    t.cancel();
    throw;
  }
  std::cout << a.positional[0] << ": " << (on ? "scheduled" : "unscheduled") << " on " << a.days
            << (on ? " at " + a.at : std::string()) << "\n";
  return 0;
}

// The row's test restore after a backup, as the grid's "Test restore" column stores it.
int Verify(const Args& a) {
  Need(a, 2, "verify DB always|weekly|never");
  std::string choice = a.positional[1];
  for (char& c : choice) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const char* stored = choice == "always"   ? settings::kTestRestoreAlways
                       : choice == "weekly" ? settings::kTestRestoreWeekly
                       : choice == "never"  ? settings::kTestRestoreNever
                                            : nullptr;
  if (stored == nullptr) throw UsageError("\"" + a.positional[1] + "\" is none of always, weekly, never");
  settings::SettingsStore store;
  Open(store);
  Locate(store, a.positional[0]);
  dal::Table& t = store.ADOTableDatabase;
  if (t.find_field("Test_Restore") == nullptr) throw std::runtime_error("The settings database has no Test_Restore column");
  t.edit();
  try {
    t.field("Test_Restore").set_string(stored);
    t.post();
  } catch (...) {
    t.cancel();
    throw;
  }
  std::cout << a.positional[0] << ": test restore " << choice << "\n";
  return 0;
}

// How many verified backups (and archives) are kept per database: System.Keep.
int Keep(const Args& a) {
  Need(a, 1, "keep N");
  const std::string& text = a.positional[0];
  int n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size() || n < 1 || n > settings::kMaxKeep)
    throw UsageError("keep takes a number from 1 to " + std::to_string(settings::kMaxKeep) + ", not \"" + text + "\"");
  settings::SettingsStore store;
  Open(store);
  dal::Table& system = store.ADOTableSystem;
  if (system.find_field("Keep") == nullptr) throw std::runtime_error("The settings database has no Keep column");
  if (system.state() != dal::DataSetState::Edit && system.state() != dal::DataSetState::Insert) system.edit();
  system.field("Keep").set_string(std::to_string(n));
  system.post();
  std::cout << "Generations kept: " << n << "\n";
  return 0;
}

int Folder(const Args& a) {
  Need(a, 1, "folder PATH");
  std::string path = a.positional[0];
  if (path.empty() || path[0] != '/') throw UsageError("the working folder must be an absolute path");
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec || !fs::is_directory(path, ec))
    throw UsageError("cannot make the folder " + path + (ec ? ": " + ec.message() : std::string()));
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  settings::SettingsStore store;
  Open(store);
  dal::Table& system = store.ADOTableSystem;
  if (system.state() != dal::DataSetState::Edit && system.state() != dal::DataSetState::Insert) system.edit();
  system.field("Temp_Dizini").set_string(shell::working_folder_text(path));
  system.post();
  std::cout << "Working folder: " << shell::working_folder_text(path) << "\n";
  return 0;
}

int Refresh(const Args& a) {
  Need(a, 0, "refresh");
  settings::SettingsStore store;
  Open(store);
  server::register_server_driver();
  const std::string mode = settings::ServerCheck();
  if (mode == "100") throw std::runtime_error("no database server is registered (server.ini)");
  settings::ServerConnection server;
  const int before = store.ADOTableDatabase.record_count();
  (void)server.StartupConnect(store, mode);
  std::cout << "Databases: " << store.ADOTableDatabase.record_count() << " (" << store.ADOTableDatabase.record_count() - before
            << " new)\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Args a = ParseArgs(argc, argv);
    if (a.command == "list") {
      Need(a, 0, "list [--json]");
      return List(a);
    }
    if (a.command == "status") {
      Need(a, 0, "status [--json]");
      return Status(a);
    }
    if (a.command == "set") return Set(a, true);
    if (a.command == "unset") return Set(a, false);
    if (a.command == "verify") return Verify(a);
    if (a.command == "keep") return Keep(a);
    if (a.command == "folder") return Folder(a);
    if (a.command == "refresh") return Refresh(a);
    if (a.command == "help" || a.command == "--help") {
      std::cout << "usage: orvakell-schedule [list|status] [--json]\n"
                   "       orvakell-schedule set DB --day tue,fri --at 02:30 [--zip] [--disc]\n"
                   "       orvakell-schedule unset DB --day tue\n"
                   "       orvakell-schedule verify DB always|weekly|never\n"
                   "       orvakell-schedule keep N\n"
                   "       orvakell-schedule folder PATH\n"
                   "       orvakell-schedule refresh\n";
      return 0;
    }
    throw UsageError("unknown command \"" + a.command + "\" (list, status, set, unset, verify, keep, folder, refresh)");
  } catch (const UsageError& e) {
    std::cerr << "orvakell-schedule: " << e.what() << "\n";
    return kUsage;
  } catch (const std::exception& e) {
    std::cerr << "orvakell-schedule: " << e.what() << "\n";
    return 1;
  }
}
