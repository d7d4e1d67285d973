// The schedule orvakell-schedule writes is what the window's week grid writes: the same edit
// made once through the CLI and once through the grid's model gives identical stored values,
// and the grid's model reads the CLI's row back as ticked days at the set time.
#include <QTime>

#include "app/window/dataset_model.h"
#include "service_fixture.h"

namespace orv::service::testing {
namespace {

class ScheduleGridTest : public ServiceFixture {};

TEST_F(ScheduleGridTest, CliAndWeekGridStoreTheSameAndTheGridReadsTheCliRow) {
  add_row("ByCli");
  add_row("ByGrid");
  store.ADOConnection1.close();
  const auto r = orv::test::run_command(orv::test::shell_quote((orv::test::bin_dir() / "orvakell-schedule").string()) +
                                        " set ByCli --day tue,sun --at 02:30 --zip");
  ASSERT_EQ(r.exit_code, 0) << r.output;

  // The same edit through the grid's model, as the operator makes it in the week grid.
  {
    settings::SettingsStore s;
    s.Open(env.home());
    app::DataSetModel model(s.ADOTableDatabase);
    for (int day : {3, 1}) {
      const settings::DayColumns& d = settings::day_columns(day);
      model.setColumnKind(d.flag, app::DataSetModel::Kind::Check);
      model.setColumnKind(d.zip, app::DataSetModel::Kind::Check);
      model.setColumnKind(d.disc, app::DataSetModel::Kind::Check);
      model.setColumnKind(d.time, app::DataSetModel::Kind::Time);
    }
    ASSERT_TRUE(s.ADOTableDatabase.locate("Veri_Tabani_Adi", "ByGrid"));
    const int row = s.ADOTableDatabase.current_index();
    for (int day : {3, 1}) {
      const settings::DayColumns& d = settings::day_columns(day);
      ASSERT_TRUE(model.setData(model.index(row, model.columnOf(d.time)), QTime(2, 30), Qt::EditRole));
      ASSERT_TRUE(model.setData(model.index(row, model.columnOf(d.flag)), Qt::Checked, Qt::CheckStateRole));
      ASSERT_TRUE(model.setData(model.index(row, model.columnOf(d.zip)), Qt::Checked, Qt::CheckStateRole));
      ASSERT_TRUE(model.setData(model.index(row, model.columnOf(d.disc)), Qt::Unchecked, Qt::CheckStateRole));
    }
    s.ADOTableDatabase.post();
  }

  settings::SettingsStore s;
  s.Open(env.home());
  dal::Table& t = s.ADOTableDatabase;
  ASSERT_TRUE(t.locate("Veri_Tabani_Adi", "ByCli"));
  const int cli_row = t.current_index();
  ASSERT_TRUE(t.locate("Veri_Tabani_Adi", "ByGrid"));
  const int grid_row = t.current_index();
  for (const auto& d : settings::kDays)
    for (const char* column : {d.flag, d.time, d.zip, d.disc}) {
      const int c = t.field(column).index();
      EXPECT_EQ(t.value_at(cli_row, c), t.value_at(grid_row, c)) << column;
    }

  app::DataSetModel model(t);
  const settings::DayColumns& tue = settings::day_columns(3);
  model.setColumnKind(tue.flag, app::DataSetModel::Kind::Check);
  model.setColumnKind(tue.zip, app::DataSetModel::Kind::Check);
  model.setColumnKind(tue.time, app::DataSetModel::Kind::Time);
  EXPECT_EQ(model.data(model.index(cli_row, model.columnOf(tue.flag)), Qt::CheckStateRole).toInt(), int(Qt::Checked));
  EXPECT_EQ(model.data(model.index(cli_row, model.columnOf(tue.zip)), Qt::CheckStateRole).toInt(), int(Qt::Checked));
  EXPECT_EQ(model.data(model.index(cli_row, model.columnOf(tue.time)), Qt::EditRole).toTime(), QTime(2, 30));
  EXPECT_EQ(model.data(model.index(cli_row, model.columnOf(tue.time)), Qt::DisplayRole).toString(), QStringLiteral("02:30"));
}

}  // namespace
}  // namespace orv::service::testing
