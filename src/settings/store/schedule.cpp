#include "settings/store/schedule.h"

#include <stdexcept>

namespace orv::settings {

const std::array<DayColumns, 7> kDays = {{
    {1, "Sunday", "Pazar", "Pazar_T", "Pzr_CD", "Pzr_Zip"},
    {2, "Monday", "P_Tesi", "P_Tesi_T", "Pts_CD", "Pts_Zip"},
    {3, "Tuesday", "Sali", "Sali_T", "Sl_CD", "Sl_Zip"},
    {4, "Wednesday", "Carsamba", "Carsamba_T", "C_CD", "C_Zip"},
    {5, "Thursday", "PErsembe", "PErsembe_T", "Prs_CD", "Prs_Zip"},
    {6, "Friday", "Cuma", "Cuma_T", "Cm_CD", "Cm_Zip"},
    {7, "Saturday", "C_Tesi", "C_Tesi_T", "Cts_CD", "Cts_Zip"},
}};

const std::array<int, 7> kGridDayOrder = {2, 3, 4, 5, 6, 7, 1};

const DayColumns& day_columns(int day_index) {
  if (day_index < 1 || day_index > 7) throw std::out_of_range("day index " + std::to_string(day_index));
  return kDays[static_cast<size_t>(day_index - 1)];
}

std::vector<std::string> schedule_query_lines(int day_index) {
  // The scheduler's own spelling of the names, not the columns' letter case.
  static const char* const names[] = {"Pazar", "P_tesi", "Sali", "Carsamba", "Persembe", "Cuma", "C_Tesi"};
  day_columns(day_index);  // range check
  std::string day = names[day_index - 1];
  return {"Select * From Database_List", "Where ", day + "=:Gun", "and Hour(" + day + "_T)=Hour(Time())",
          "and Minute(" + day + "_T)=Minute(Time())"};
}

void open_schedule_query(dal::Query& query, int day_index) {
  query.close();
  query.set_sql(schedule_query_lines(day_index));
  query.param("Gun").set_string("True");
  query.open();
}

}  // namespace orv::settings
