// orvakell-schedule: prints the weekly backup schedule held in the settings database of the
// installation folder, the working folder, and which databases are due this minute.
//
// It opens Velmora.db exactly as the tool does (never creating it) and only reads.
// Exit status: 0 when the schedule was printed, 1 when the database could not be read.
#include <chrono>
#include <exception>
#include <iomanip>
#include <iostream>
#include <string>

#include "platform/paths.h"
#include "dal/datetime.h"
#include "dal/sqlite_driver.h"
#include "settings/store/schedule.h"
#include "settings/store/settings_store.h"

namespace {

using namespace orv;

std::string or_dash(const std::string& s) { return s.empty() ? "-" : s; }

void print_row(dal::DataSet& t) {
  std::cout << t.field("Veri_Tabani_Adi").as_string() << "\n";
  std::cout << "  last backup: " << or_dash(t.field("Son_Yedek_Tarih").as_string()) << "  file: "
            << or_dash(t.field("Son_Yedek_Dosya_Adi").as_string()) << "\n";
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

}  // namespace

int main() {
  try {
    const auto folder = platform::installation_folder();
    settings::SettingsStore store;
    store.Open(folder);
    std::cout << "ORVAKELL schedule: " << settings::settings_database_path(folder).string() << "\n";

    dal::Table& system = store.ADOTableSystem;
    std::cout << "Working folder: " << (system.empty() ? "(not chosen)" : or_dash(system.field("Temp_Dizini").as_string()))
              << "\n\n";

    dal::Table& t = store.ADOTableDatabase;
    if (t.empty()) std::cout << "No databases in the schedule yet.\n";
    for (t.first(); !t.eof(); t.next()) print_row(t);

    const dal::DateTime now = dal::sqlite_clock_now();
    const int today = dal::day_of_week(now);
    settings::open_schedule_query(store.ADOQueryZamanlama, today);
    std::cout << "\nDue now (" << settings::day_columns(today).band_caption << " " << dal::format_hh_mm(now) << "):";
    dal::Query& due = store.ADOQueryZamanlama;
    if (due.empty()) std::cout << " none";
    for (due.first(); !due.eof(); due.next()) std::cout << " " << due.field("Veri_Tabani_Adi").as_string();
    std::cout << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "orvakell-schedule: " << e.what() << "\n";
    return 1;
  }
}
