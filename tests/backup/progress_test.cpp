// The progress handler's bar arithmetic and the archiver's dialog drawn as boxes.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "core/scripted_dialogs.h"
#include "backup/run/archive_step.h"
#include "backup/log/run_log.h"

namespace orv::backup {
namespace {

using zip::ProgressType;

TEST(ProgressBarPosition, RoundsHalvesToEvenAndAddsOne) {
  EXPECT_EQ(ProgressBarPosition(0, 0), 10001);
  EXPECT_EQ(ProgressBarPosition(5, 0), 10001);
  EXPECT_EQ(ProgressBarPosition(0, 7), 1);
  EXPECT_EQ(ProgressBarPosition(7, 7), 10001);
  EXPECT_EQ(ProgressBarPosition(1, 3), 3334);       // 3333.33
  EXPECT_EQ(ProgressBarPosition(2, 3), 6668);       // 6666.67
  EXPECT_EQ(ProgressBarPosition(1, 20000), 1);      // 0.5 -> 0
  EXPECT_EQ(ProgressBarPosition(3, 20000), 3);      // 1.5 -> 2
  EXPECT_EQ(ProgressBarPosition(5, 20000), 3);      // 2.5 -> 2
  EXPECT_EQ(ProgressBarPosition(7, 20000), 5);      // 3.5 -> 4
  // No overflow where done x 10000 leaves 64 bits.
  constexpr std::int64_t big = std::numeric_limits<std::int64_t>::max() / 2;
  EXPECT_EQ(ProgressBarPosition(big, big), 10001);
  EXPECT_EQ(ProgressBarPosition(big / 2, big), 5001);
}

struct Bar : ::testing::Test {
  ui::ScriptedDialogs dialogs;
  RecordingProgressWindow window;
  ZipArchiverProgress handler{window, dialogs};
};

TEST_F(Bar, FollowsTheCurrentFileFromOneTo10001) {
  window.Open();
  handler(ProgressType::TotalSize2Process, "", 123456);
  EXPECT_EQ(window.Maximum(), 10001);
  handler(ProgressType::NewFile, "a.Dat", 400);
  EXPECT_EQ(window.Position(), 1);
  EXPECT_EQ(handler.file_size(), 400);
  handler(ProgressType::ProgressUpdate, "", 100);
  EXPECT_EQ(window.Position(), 2501);
  handler(ProgressType::ProgressUpdate, "", 300);
  EXPECT_EQ(window.Position(), 10001);
  EXPECT_EQ(handler.file_done(), 400);
  handler(ProgressType::NewFile, "b.Dat", 0);
  EXPECT_EQ(handler.file_done(), 0);
  handler(ProgressType::ProgressUpdate, "", 0);
  EXPECT_EQ(window.Position(), 10001);  // a file of size 0
  handler(ProgressType::EndOfBatch, "", 0);
  EXPECT_EQ(window.Position(), 1);
  // Every call let pending messages run once.
  EXPECT_EQ(dialogs.event_pumps(), 7);
}

TEST_F(Bar, NamedCallsSetRangeAndPositionDirectly) {
  window.Open();
  handler(ProgressType::TotalSize2Process, "x", 5000);
  EXPECT_EQ(window.Maximum(), 5000);
  EXPECT_EQ(window.Position(), 1);
  handler(ProgressType::ProgressUpdate, "x", 1234);
  EXPECT_EQ(window.Position(), 1235);
  EXPECT_EQ(handler.file_done(), 0);  // the counters move only for unnamed updates
  const auto before = window.positions().size();
  handler(ProgressType::NewExtra, "x", 9);
  handler(ProgressType::ExtraUpdate, "x", 9);
  handler(ProgressType::TotalFiles2Process, "", 3);
  EXPECT_EQ(window.positions().size(), before);
  EXPECT_EQ(window.Maximum(), 5000);
}

TEST_F(Bar, NoWindowOpenLeavesTheBarAloneButCounts) {
  handler(ProgressType::NewFile, "a", 10);
  handler(ProgressType::ProgressUpdate, "", 5);
  EXPECT_TRUE(window.positions().empty());
  EXPECT_EQ(handler.file_done(), 5);
  window.Open();
  window.Close();
  window.Close();
  EXPECT_EQ(window.closes(), 1);
}

TEST(DialogsZipPort, DrawsTheArchiverDialogAsABoxAndMapsTheAnswer) {
  ui::ScriptedDialogs dialogs;
  DialogsZipPort port(dialogs);
  zip::ZipDialogRequest error;
  error.kind = zip::ZipDialogKind::Error;
  error.title = "ORVAKELL";
  error.text = "Failed to load libZipEngine179.so";
  error.buttons = {{zip::ZipButton::OK, "&OK"}};
  EXPECT_EQ(port.ShowZipDialog(error).pressed, zip::ZipButton::OK);

  zip::ZipDialogRequest question = error;
  question.kind = zip::ZipDialogKind::Question;
  question.buttons = {{zip::ZipButton::Yes, "&Yes"}, {zip::ZipButton::No, "&No"}};
  dialogs.answer_box(ui::Answer::No);
  EXPECT_EQ(port.ShowZipDialog(question).pressed, zip::ZipButton::No);

  zip::ZipDialogRequest password = error;
  password.kind = zip::ZipDialogKind::Password;
  EXPECT_EQ(port.ShowZipDialog(password).pressed, zip::ZipButton::Cancel);

  const auto boxes = dialogs.boxes();
  ASSERT_EQ(boxes.size(), 2u);  // no box for the password request
  EXPECT_EQ(boxes[0], (ui::Box{ui::BoxKind::Error, "ORVAKELL", "Failed to load libZipEngine179.so", ui::Buttons::Ok}));
  EXPECT_EQ(boxes[1].kind, ui::BoxKind::Question);
  EXPECT_EQ(boxes[1].buttons, ui::Buttons::YesNo);
}

TEST(RunLogFormat, OneLinePerDatabaseWithEscapedFields) {
  RunLogLine line;
  line.time = dal::DateTime{46362.5 + 1.0 / 86400 * 7.4};  // 2026-12-06 12:00:07.4
  line.scheduled = true;
  line.database = "a\tb";
  line.file = "a\tb.zip";
  line.outcome = RunOutcome::BackupFailed;
  line.error = "line one\nline two \\ end\r";
  EXPECT_EQ(FormatRunLogLine(line),
            "2026-12-06 12:00:07\tscheduled\ta\\tb\ta\\tb.zip\tbackup failed\tline one\\nline two \\\\ end\\r");
}

}  // namespace
}  // namespace orv::backup
