// The disc step on the virtual recorder: queued files land in one session in the root, a name
// too long for the disc writes nothing, a write that fails at once, CANCEL, a second disc step
// while a write runs, the run log lines, the progress display and the speed list.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "../burn/burn_fixture.h"
#include "backup/disc/disc_step.h"

namespace orv::backup {
namespace {

namespace fs = std::filesystem;
using orv::test::read_file;
using orv::test::run_command;
using orv::test::shell_quote;

// A disc view that records what the window would show and runs posted work when the test
// drains it.
class RecordingView : public DiscView {
 public:
  void SetDeviceBufferMaximum(std::int64_t v) override { hbuf_max = v; }
  void SetDeviceBufferPosition(std::int64_t v) override { hbuf = v; }
  void SetCachePercent(int v) override { cache = v; }
  void SetTrackMaximum(std::int64_t v) override { track_max = v; }
  void SetTrackPosition(std::int64_t v) override { track = v; }
  void SetSizeText(const std::string& t) override { size_texts.push_back(t); }
  std::string ThousandsSeparator() const override { return thousands; }
  std::string DecimalSeparator() const override { return decimal; }
  std::string SelectedSpeedForWrite() override { return speed; }
  void SetAbortVisible(bool v) override { abort_visible = v; }
  void SetTimer1Enabled(bool v) override { timer1 = v; }
  void SetLabel8(const std::string& t) override { label8 = t; }
  std::vector<std::string> DiscQueue() const override { return queue; }
  void ShowDiscStatus(const std::string& t) override { status = t; }
  void MessageBox(const std::string& t) override { boxes.push_back(t); }
  void Beep() override { ++beeps; }
  void Repaint() override {}
  void ProcessEvents() override {}
  void PostToUi(std::function<void()> work) override {
    std::lock_guard<std::mutex> g(lock_);
    posted_.push_back(std::move(work));
    changed_.notify_all();
  }
  // Runs posted work until `until` holds or 60 s have passed; false on time-out.
  bool Drain(const std::function<bool()>& until) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!until()) {
      std::unique_lock<std::mutex> g(lock_);
      if (!changed_.wait_until(g, deadline, [this] { return !posted_.empty(); })) return false;
      auto work = std::move(posted_.front());
      posted_.pop_front();
      g.unlock();
      work();
    }
    return true;
  }
  size_t Posted() {
    std::lock_guard<std::mutex> g(lock_);
    return posted_.size();
  }

  std::int64_t hbuf_max = -1, hbuf = -1, track_max = -1, track = -1;
  int cache = -1, beeps = 0;
  std::vector<std::string> size_texts, boxes, queue;
  std::string thousands = ",", decimal = ".", speed = "Max", label8, status;
  bool abort_visible = false, timer1 = true;

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> posted_;
};

DiscTexts Texts() {
  return {"CD_Error3", "CD_Add_File", "CD_Start ", "CD_Skip1 ", "CD_Skip2 ", "CD_Write1", "CD_Write2"};
}

class DiscStepTest : public burner::test::BurnFixture {
 protected:
  void Begin(const std::string& profile, const std::string& keys = "") {
    Start(profile, keys);
    ApplyDesignValues(*burner_);
    burner_->OnDebugMessage = [this](scsi::TSCSIDevice*, const std::string& m, std::uint8_t) {
      std::lock_guard<std::mutex> g(debug_lock_);
      debug_.push_back(m);
    };
    step_ = std::make_unique<DiscStep>(*burner_, values_, view_, &Texts, DiscLog(log_file_));
  }
  void TearDown() override {
    step_.reset();
    BurnFixture::TearDown();
  }
  bool WaitDone() {
    return view_.Drain([this] { return !step_->Busy(); });
  }
  std::vector<std::string> Debug() {
    std::lock_guard<std::mutex> g(debug_lock_);
    return debug_;
  }
  bool DebugHas(const std::string& line) {
    const auto d = Debug();
    return std::find(d.begin(), d.end(), line) != d.end();
  }
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::istringstream in(read_file(log_file_));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  bool EjectSent() {
    for (const auto& l : BurnFixture::LogLines())
      if (Field(l, 1) == "1B" && (Byte(l, 4) & 0x03) == 0x02) return true;  // LoEj without Start
    return false;
  }

  RecordingView view_;
  DiscOptionValues values_;
  std::unique_ptr<DiscStep> step_;
  fs::path log_file_ = env_.config() / "orvakell" / "backup-runs.log";
  std::mutex debug_lock_;
  std::vector<std::string> debug_;
};

TEST_F(DiscStepTest, TwoQueuedFilesLandInOneSessionInTheRoot) {
  if (!orv::test::have_program("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  Begin("CD-R");
  const std::string a = Source("run/Sales.zip", 300000, 1);
  const std::string b = Source("run/Stock.zip", 70000, 2);
  view_.queue = {a, b};
  step_->bBurnClick();
  EXPECT_TRUE(view_.abort_visible);
  EXPECT_EQ(view_.label8, kWritingLabel);
  EXPECT_GT(view_.track_max, 0);
  EXPECT_EQ(view_.hbuf_max, 2097152);  // the recorder's buffer
  EXPECT_TRUE(DebugHas("CD_Start " + burner_->DeviceID()));
  ASSERT_TRUE(WaitDone());
  EXPECT_EQ(view_.beeps, 1);
  EXPECT_FALSE(view_.abort_visible);
  EXPECT_FALSE(view_.timer1);
  EXPECT_EQ(burner_->FileCount(), 0);  // tree emptied
  EXPECT_TRUE(DebugHas("CD_Write2"));
  EXPECT_EQ(view_.track, view_.track_max);  // the last refresh shows everything written
  EXPECT_EQ(view_.status, kDiscVerified);
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(std::string("\t") + kDiscSession + "\t" + kDiscVerified + "\tSESSION VERIFIED: 2 FILES"),
            std::string::npos)
      << lines[0];

  const fs::path out = env_.work() / "x";
  auto r = run_command("xorriso -osirrox on -indev stdio:" + shell_quote(Image()) + " -extract / " +
                       shell_quote(out.string()) + " 2>&1");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(read_file(out / "Sales.zip") == read_file(a));
  EXPECT_TRUE(read_file(out / "Stock.zip") == read_file(b));
  r = run_command("xorriso -indev stdio:" + shell_quote(Image()) + " -toc 2>&1");
  EXPECT_NE(r.output.find("Volume id    : 'QELMARDOX'"), std::string::npos) << r.output;
  run_command("chmod -R u+w " + shell_quote(out.string()));
}

TEST_F(DiscStepTest, NameLongerThan107CharactersWritesNothing) {
  Begin("CD-R");
  const std::string name(104, 'n');
  const std::string long_file = Source(name + ".zip", 1000, 3);  // 108 characters
  view_.queue = {long_file};
  step_->bBurnClick();
  EXPECT_TRUE(DebugHas("CD_Skip2 " + long_file));
  EXPECT_EQ(burner_->FileCount(), 0);
  EXPECT_FALSE(step_->Busy());
  EXPECT_FALSE(view_.abort_visible);
  EXPECT_EQ(view_.Posted(), 0u);      // no write was started
  EXPECT_FALSE(fs::exists(Image()));  // the blank disc stays blank
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\tdisc\t\t" + name + ".zip\t" + kDiscLeftOut + "\t"), std::string::npos) << lines[0];
  EXPECT_NE(view_.status.find(kDiscLeftOut), std::string::npos);

  // 107 characters pass (checked at the handler, the burner may shorten the disc name).
  bool skip = false;
  step_->DiscBurner1AddFile(long_file, std::string(107, 'n'), skip);
  EXPECT_FALSE(skip);
  step_->DiscBurner1AddFile(long_file, std::string(107, 'n') + "\xC3\xA7", skip);  // one more character
  EXPECT_TRUE(skip);
}

TEST_F(DiscStepTest, FileThatCannotBeOpenedIsReportedAndNotSkipped) {
  Begin("CD-R");
  const std::string gone = (env_.work() / "gone.zip").string();
  bool skip = false;
  step_->DiscBurner1AddFile(gone, "gone.zip", skip);
  EXPECT_FALSE(skip);
  EXPECT_TRUE(DebugHas("CD_Skip1 " + gone));
  ASSERT_EQ(view_.size_texts.size(), 1u);
  EXPECT_EQ(view_.size_texts[0], "0.00 MB");
  const std::string here = Source("here.zip", 3 << 20, 4);
  ASSERT_EQ(burner_->AddFile("\\", here, false), 1);
  EXPECT_FALSE(DebugHas("CD_Skip1 " + here));
  EXPECT_EQ(view_.size_texts.back(), "0.00 MB");  // shown before the file counts
  step_->DiscBurner1AddFile(here, "here.zip", skip);
  EXPECT_EQ(view_.size_texts.back(), "3.00 MB");
}

TEST_F(DiscStepTest, EmptyQueueShowsTheBoxAndWritesNothing) {
  Begin("CD-R");
  step_->bBurnClick();
  EXPECT_EQ(view_.boxes, std::vector<std::string>{"CD_Error3"});
  EXPECT_EQ(view_.Posted(), 0u);
  EXPECT_FALSE(step_->Busy());
}

TEST_F(DiscStepTest, WriteFailingAtOnceBeepsDoesNotEjectAndLogs) {
  Begin("CD-R", "medium_error=0");
  values_.ArchiveFiles = true;
  values_.EjectDisc = true;
  const std::string a = Source("Sales.zip", 100000, 5);
  const uint32_t before = burner::ReadAttributes(a);
  view_.queue = {a};
  step_->bBurnClick();
  ASSERT_TRUE(WaitDone());
  EXPECT_EQ(view_.beeps, 1);
  EXPECT_FALSE(view_.abort_visible);
  EXPECT_FALSE(EjectSent());
  EXPECT_TRUE(DebugHas("CD_Write1"));
  const auto d = Debug();
  const auto it = std::find(d.begin(), d.end(), "CD_Write1");
  ASSERT_NE(it + 1, d.end());
  EXPECT_EQ((it + 1)->rfind(">>> WRITER ERROR [", 0), 0u) << *(it + 1);
  // Files the tree did not mark keep their archive attribute: a failed write never marks a
  // backup as saved.
  EXPECT_EQ(burner::ReadAttributes(a) & burner::faArchive, before & burner::faArchive);
  EXPECT_EQ(burner_->FileCount(), 0);
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\tSales.zip\t" + std::string(kDiscFailed) + "\tWRITER ERROR ["), std::string::npos)
      << lines[0];
  EXPECT_EQ(view_.status.rfind(std::string(kDiscFailed) + ": WRITER ERROR [", 0), 0u) << view_.status;

}

TEST_F(DiscStepTest, GoodWriteEjectsWhenAskedAndClearsTheOldDiscStatus) {
  Begin("CD-R");
  values_.EjectDisc = true;
  view_.status = "disc write failed: WRITER ERROR [x]";
  view_.queue = {Source("Sales.zip", 10000, 9)};
  step_->bBurnClick();
  EXPECT_EQ(view_.status, "");
  ASSERT_TRUE(WaitDone());
  EXPECT_EQ(view_.beeps, 1);
  EXPECT_TRUE(EjectSent());
  EXPECT_EQ(LogLines().size(), 1u);  // the read-back's line
  EXPECT_EQ(view_.status, kDiscVerified);
}

TEST_F(DiscStepTest, SessionThatDoesNotReadBackIsAFailedWriteNamingTheFile) {
  // A first disc tells where the file lands on a blank disc.
  Begin("CD-R");
  const std::string a = Source("Sales.zip", 60000, 15);
  view_.queue = {a};
  step_->bBurnClick();
  ASSERT_TRUE(WaitDone());
  const uint32_t sales = burner::test::JolietExtent(Image(), "Sales.zip");
  ASSERT_GT(sales, 0u);
  step_.reset();
  fs::remove(Image());
  fs::remove(Image() + ".vrec");
  fs::remove(log_file_);
  debug_.clear();
  Begin("CD-R", "corrupt_sector=" + std::to_string(sales + 2));
  values_.EjectDisc = true;
  view_.queue = {a};
  step_->bBurnClick();
  ASSERT_TRUE(WaitDone());
  const std::string text = "READ-BACK: \"\\Sales.zip\" DIFFERS AT SECTOR " + std::to_string(sales + 2);
  EXPECT_TRUE(DebugHas("CD_Write1"));
  EXPECT_TRUE(DebugHas(">>> " + text));
  EXPECT_FALSE(EjectSent());
  EXPECT_EQ(view_.status, std::string(kDiscFailed) + ": " + text);
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(std::string("\tSales.zip\t") + kDiscFailed + "\tREAD-BACK: "), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("DIFFERS AT SECTOR " + std::to_string(sales + 2)), std::string::npos) << lines[0];

  // Without the option the same write is not read back.
  step_.reset();
  fs::remove(Image());
  fs::remove(Image() + ".vrec");
  fs::remove(log_file_);
  debug_.clear();
  Begin("CD-R", "corrupt_sector=" + std::to_string(sales + 2));
  values_.VerifyWrite = false;
  view_.queue = {a};
  step_->bBurnClick();
  ASSERT_TRUE(WaitDone());
  EXPECT_TRUE(DebugHas("CD_Write2"));
  EXPECT_EQ(view_.status, "");
  EXPECT_FALSE(fs::exists(log_file_));
}

TEST_F(DiscStepTest, CancelEndsThroughWriteDoneAndHidesTheButton) {
  Begin("CD-R", "delay_ms=20");
  const std::string big = Source("Big.zip", 6 << 20, 6);
  view_.queue = {big};
  step_->bBurnClick();
  ASSERT_TRUE(view_.abort_visible);
  // Wait (bounded) until data flows, then press CANCEL.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (burner_->BytesWritten.load() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  step_->bAbortClick();
  EXPECT_FALSE(view_.abort_visible);  // at once
  EXPECT_TRUE(step_->Busy());         // until OnWriteDone has been handled
  ASSERT_TRUE(WaitDone());
  EXPECT_EQ(view_.beeps, 1);
  EXPECT_TRUE(DebugHas(">>> OPERATION ABORTED BY USER"));
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(std::string("\t") + kDiscCancelled + "\tOPERATION ABORTED BY USER"), std::string::npos)
      << lines[0];
}

TEST_F(DiscStepTest, SecondDiscStepWhileWritingIsRefused) {
  Begin("CD-R", "delay_ms=20");
  const std::string big = Source("Big.zip", 4 << 20, 7);
  view_.queue = {big};
  step_->bBurnClick();
  ASSERT_TRUE(step_->Busy());
  const std::string other = Source("Other.zip", 1000, 8);
  view_.queue = {other};
  step_->bBurnClick();
  EXPECT_EQ(view_.boxes, std::vector<std::string>{kDiscBusyText});
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(std::string("\tOther.zip\t") + kDiscRefused), std::string::npos) << lines[0];
  ASSERT_TRUE(WaitDone());
  EXPECT_EQ(view_.beeps, 1);
  ASSERT_EQ(LogLines().size(), 2u);  // the first write succeeded and read back equal
  EXPECT_NE(LogLines()[1].find(kDiscVerified), std::string::npos);
}

TEST_F(DiscStepTest, DamagedImportIsNamedAndTheWriteReportedPartial) {
  Begin("CD-R");
  view_.queue = {Source("Kept.zip", 5000, 11), Source("Damaged.zip", 7000, 12)};
  step_->bBurnClick();
  ASSERT_TRUE(WaitDone());
  ASSERT_TRUE(burner::test::DamageJolietRecord(Image(), "Damaged.zip"));
  values_.SessionImportNo = 255;
  view_.queue = {Source("Today.zip", 3000, 13)};
  step_->bBurnClick();
  ASSERT_TRUE(WaitDone());
  EXPECT_TRUE(DebugHas("CD_Write2"));
  EXPECT_EQ(view_.status, PartialImportText(1) + "; " + kDiscVerified);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 4u);  // first write verified; refusal, verified, partial write
  EXPECT_NE(lines[0].find(kDiscVerified), std::string::npos) << lines[0];
  EXPECT_NE(lines[2].find("SESSION VERIFIED: 1 FILES"), std::string::npos) << lines[2];
  lines = {lines[1], lines[3]};
  EXPECT_NE(lines[0].find(std::string("\t") + kDiscImportedSession + "\t" + kDiscImportLeftOut +
                          "\tERROR IMPORTING SESSION, \""),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[0].find("Damaged.zip\" LIES OUTSIDE THE DISC"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find(std::string("\t") + kDiscWritten + "\t" + PartialImportText(1)), std::string::npos)
      << lines[1];
  EXPECT_EQ(PartialImportText(3), "disc written, 3 imported files left off");
}

TEST_F(DiscStepTest, SessionThatDoesNotFitIsRefusedWithBothNumbersInTheRunLog) {
  Begin("CD-R", "capacity=1000");
  view_.queue = {Source("Big.zip", 5 << 20, 14)};
  EXPECT_THROW(step_->bBurnClick(), std::runtime_error);
  EXPECT_FALSE(step_->Busy());
  EXPECT_EQ(view_.Posted(), 0u);
  EXPECT_FALSE(fs::exists(Image()));
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(std::string("\tBig.zip\t") + kDiscFailed + "\tSESSION OF "), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(" SECTORS DOES NOT FIT THE 1000 FREE SECTORS OF THE DISC"), std::string::npos) << lines[0];
  EXPECT_NE(view_.status.find("1000 FREE SECTORS"), std::string::npos) << view_.status;
}

TEST_F(DiscStepTest, ProgressDisplayAndSpeedList) {
  Begin("CD-R", "speeds=706,1411,2822");
  EXPECT_EQ(BuildSpeedList(*burner_), (std::vector<std::string>{"Max", "16x", "8x", "4x"}));
  view_.thousands = ".";
  view_.decimal = ",";
  step_->Timer1Timer();  // before any write: zero values
  EXPECT_EQ(view_.size_texts.back(), "0,00/0,00 MB");
  EXPECT_EQ(view_.cache, 0);
  EXPECT_EQ(view_.track, 0);
}

TEST(FormatNumber, GroupsAndDecimals) {
  EXPECT_EQ(FormatNumber(0, ",", "."), "0.00");
  EXPECT_EQ(FormatNumber(0.005, ",", "."), "0.01");
  EXPECT_EQ(FormatNumber(999.999, ",", "."), "1,000.00");
  EXPECT_EQ(FormatNumber(1234567.891, ",", "."), "1,234,567.89");
  EXPECT_EQ(FormatNumber(1234567.891, ".", ","), "1.234.567,89");
  EXPECT_EQ(FormatNumber(12.5, "\xE2\x80\xAF", ","), "12,50");
  EXPECT_EQ(FormatNumber(4500.0, "\xE2\x80\xAF", ","), "4\xE2\x80\xAF" "500,00");
}

// Disc lines join the run's own lines in one file, in the run's format: how "disc", no database,
// the bare file name, and the error with the full path (or the path alone).
TEST(DiscLogLines, RunLogFormatWithEscapedFields) {
  orv::test::TestEnv env;
  const fs::path file = env.work() / "logs" / "backup-runs.log";
  orv::test::write_file(env.work() / "keep", "");
  const DiscLog log(file, [] {
    std::tm tm{};
    tm.tm_year = 126, tm.tm_mon = 11, tm.tm_mday = 9, tm.tm_hour = 3, tm.tm_min = 4, tm.tm_sec = 5;
    return tm;
  });
  EXPECT_EQ(log.Append("/b/Sales.zip", kDiscFailed, "WRITER ERROR\tline\n2"), "");
  EXPECT_EQ(log.Append("/b/a\\b.zip", kDiscCancelled, ""), "");
  EXPECT_EQ(read_file(file),
            "2026-12-09 03:04:05\tdisc\t\tSales.zip\tdisc write failed\tWRITER ERROR\\tline\\n2 (/b/Sales.zip)\n"
            "2026-12-09 03:04:05\tdisc\t\ta\\\\b.zip\tdisc write cancelled\t/b/a\\\\b.zip\n");
  // A log that cannot be written says why.
  const DiscLog blocked(env.work() / "keep" / "backup-runs.log");
  EXPECT_NE(blocked.Append("/b/Sales.zip", kDiscFailed, "x").find("Run log "), std::string::npos);
}

}  // namespace
}  // namespace orv::backup
