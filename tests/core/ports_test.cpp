// The dialogs and clock ports.
#include <gtest/gtest.h>

#include <cmath>

#include "core/clock.h"
#include "core/scripted_dialogs.h"
#include "dal/datetime.h"

namespace {

using namespace orv::ui;

TEST(ScriptedDialogs, RecordsRequestsInOrderAndAnswersFromTheScript) {
  ScriptedDialogs d;
  d.answer_box(Answer::No);
  d.answer_folder(std::string("/srv"));
  EXPECT_EQ(d.message("Back up?", "Backup", BoxKind::Question, Buttons::YesNo), Answer::No);
  EXPECT_EQ(d.choose_folder(), std::optional<std::string>("/srv"));
  EXPECT_EQ(d.message("Done"), Answer::Ok) << "unscripted boxes take their first button";
  EXPECT_EQ(d.message("Again?", "", BoxKind::Question, Buttons::YesNo), Answer::Yes);
  EXPECT_EQ(d.open_file({"t", "All Files|*.*", "", ""}), std::nullopt) << "unscripted dialogs are cancelled";
  d.standard_error("disk full");
  ASSERT_EQ(d.events().size(), 6u);
  EXPECT_TRUE(std::holds_alternative<ScriptedDialogs::FolderRequest>(d.events()[1]));
  const auto boxes = d.boxes();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0], (Box{BoxKind::Question, "Backup", "Back up?", Buttons::YesNo}));
  EXPECT_EQ(boxes[3], (Box{BoxKind::Error, "ORVAKELL", "disk full", Buttons::Ok}));
  EXPECT_TRUE(d.script_used_up());
}

TEST(Clocks, FixedClockShowsWhatIsSetAndAdvances) {
  const auto at = orv::dal::encode_date_time({2026, 12, 9, 14, 30, 0, 0});
  FixedClock c(at);
  EXPECT_EQ(c.now(), at);
  c.advance_seconds(90);
  const auto p = orv::dal::decode_date_time(c.now());
  EXPECT_EQ(p.hour, 14);
  EXPECT_EQ(p.minute, 31);
  EXPECT_EQ(p.second, 30);
  EXPECT_EQ(orv::dal::day_of_week(c.now()), 4) << "2026-12-09 is a Wednesday";
}

TEST(Clocks, SystemClockAgreesWithTheDataLayersLocalTime) {
  SystemClock c;
  const double mine = c.now().days;
  const double theirs = orv::dal::from_local(std::chrono::system_clock::now()).days;
  EXPECT_LT(std::fabs(mine - theirs) * 86400.0, 5.0);
}

}  // namespace
