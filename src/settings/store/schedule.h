// The weekly schedule's columns by day and the scheduler's query over Database_List.
//
// Day index: 1 = Sunday ... 7 = Saturday (the day of the week of a date, dal::day_of_week).
// Each day has four columns in Database_List: the day flag ("True" = back up that day), the
// day time (only hour and minute count), the disc flag and the zip flag.
//
// The scheduler's query is five lines: "Select * From Database_List", "Where ", then the day
// flag compared with the parameter :Gun and the day time's hour and minute compared with
// Time()'s. The names are written as the scheduler has always written them ("P_tesi",
// "Persembe"); the database matches column names without regard to letter case.
// Pure data and functions; thread-safe.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "dal/dataset.h"

namespace orv::settings {

struct DayColumns {
  int day_index;             // 1 = Sunday ... 7 = Saturday
  const char* band_caption;  // "Sunday" ...
  const char* flag;          // "Pazar"
  const char* time;          // "Pazar_T"
  const char* disc;          // "Pzr_CD"
  const char* zip;           // "Pzr_Zip"
};

// By day index order (Sunday first).
extern const std::array<DayColumns, 7> kDays;
// Monday first, as the week grid shows the bands and as the new-row rule walks them.
extern const std::array<int, 7> kGridDayOrder;

// Throws std::out_of_range for an index outside 1..7.
const DayColumns& day_columns(int day_index);

// The five lines of the scheduler's query for a day index.
std::vector<std::string> schedule_query_lines(int day_index);

// Closes the query, sets its text for the day, sets the parameter Gun to "True" and opens it.
void open_schedule_query(dal::Query& query, int day_index);

}  // namespace orv::settings
