// Build tool: makes the shipped settings database from its SQL script.
//
//   orv_make_settings_db <script.sql> <Velmora.db>
//
// An existing database file is never touched (it holds the operator's schedule); see
// settings/store/settings_db_file.h for how the new file is made.
#include <iostream>

#include "settings/store/settings_db_file.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: orv_make_settings_db <script.sql> <database>\n";
    return 2;
  }
  const auto result = orv::settings::make_settings_db(argv[1], argv[2]);
  switch (result.outcome) {
    case orv::settings::SettingsDbResult::Outcome::AlreadyThere:
      return 0;
    case orv::settings::SettingsDbResult::Outcome::Made:
      std::cout << "Made " << argv[2] << " from " << argv[1] << "\n";
      return 0;
    case orv::settings::SettingsDbResult::Outcome::Failed:
      break;
  }
  std::cerr << "orv_make_settings_db: " << result.error << "\n";
  return 1;
}
