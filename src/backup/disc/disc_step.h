// The disc step of a backup run: after the run's last database, every file queued for disc is
// written in one new session of the disc in the chosen recorder (bBurnClick), with the progress
// shown in the main window's status bar (Timer1Timer) until the burner reports the end
// (DiscBurner1WriteDone), which stops the progress, clears archive attributes and ejects as the
// options say, empties the file tree and beeps.
//
// So that a disc write never fails unseen:
//   - a failed or cancelled write, a queued file left out of the disc, and a disc step refused
//     because a write is still running each append a line per file to the run log and show in
//     the status bar until the next write starts;
//   - a disc step started while a write runs is refused with a box instead of racing it.
//
// Plain C++ (no Qt). The window implements DiscView over its controls and the dialogs port.
// Ownership: the window owns one DiscStep and the burner it drives; both live as long as the
// window. Destroying a DiscStep while a write runs asks the write to stop and waits for it.
// Threading: every member runs on the user-interface thread. The burner reports the end of a
// write on its write thread; DiscStep hands that report to DiscView::PostToUi and does the work
// when the posted call runs. The read-back of a written session runs on a thread of its own,
// which posts its result the same way; the step stays Busy() until that result is handled.
// Errors: the burner reports by results and debug lines (DoDebugMessage); PrepareImage may throw
// std::runtime_error (unreadable boot image), which bBurnClick logs and passes on to the
// window's standard error box.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "backup/disc/disc_options.h"
#include "backup/log/run_log.h"
#include "burner/disc_burner.h"

namespace orv::backup {

// The translated message strings the disc step uses.
struct DiscTexts {
  std::string CD_Error3_Str, CD_Add_File_Str, CD_Start_Str, CD_Skip1_Str, CD_Skip2_Str, CD_Write1_Str, CD_Write2_Str;
};

// Shown when a disc step starts while the previous write is still running.
inline constexpr const char* kDiscBusyText =
    "A disc write is still running. The files of this run were not written to disc.";
// The caption of Label8 while a write runs.
inline constexpr const char* kWritingLabel = "ISLEM_YAP";
// Long names longer than this many characters are left off the disc.
inline constexpr size_t kMaxLongNameLength = 107;

class DiscView {
 public:
  virtual ~DiscView() = default;
  // Status bar: pHBuf (maximum, position), pBuf, pcd (maximum, position in sectors), lSize.
  virtual void SetDeviceBufferMaximum(std::int64_t bytes) = 0;
  virtual void SetDeviceBufferPosition(std::int64_t bytes) = 0;
  virtual void SetCachePercent(int percent) = 0;
  virtual void SetTrackMaximum(std::int64_t sectors) = 0;
  virtual void SetTrackPosition(std::int64_t sectors) = 0;
  virtual void SetSizeText(const std::string& text) = 0;
  // The locale's thousands and decimal separators for the "#,##0.00" sizes.
  virtual std::string ThousandsSeparator() const = 0;
  virtual std::string DecimalSeparator() const = 0;
  // The speed list: selects the first item when none is selected and returns the selected text.
  virtual std::string SelectedSpeedForWrite() = 0;
  virtual void SetAbortVisible(bool visible) = 0;
  virtual void SetTimer1Enabled(bool on) = 0;
  virtual void SetLabel8(const std::string& text) = 0;
  // The disc queue (clBox): full paths, in the order the run added them.
  virtual std::vector<std::string> DiscQueue() const = 0;
  // The status bar's disc text: why the last write did not reach the disc ("" clears it).
  virtual void ShowDiscStatus(const std::string& text) = 0;
  // Plain message box, message beep, forced repaint, pending events.
  virtual void MessageBox(const std::string& text) = 0;
  virtual void Beep() = 0;
  virtual void Repaint() = 0;
  virtual void ProcessEvents() = 0;
  // Runs `work` later on the user-interface thread; callable from any thread.
  virtual void PostToUi(std::function<void()> work) = 0;
};

// "#,##0.00": two decimals, groups of three digits, the given separators.
std::string FormatNumber(double value, const std::string& thousands, const std::string& decimal);

// The disc lines of the run log (the backup run's log file, same line format): one line per file,
// how = "disc", the database field empty.
class DiscLog {
 public:
  explicit DiscLog(std::filesystem::path file, std::function<std::tm()> now = {});
  const std::filesystem::path& file() const { return log_.file(); }
  // Returns the system's text when the line could not be written.
  [[nodiscard]] std::string Append(const std::string& path, const std::string& outcome, const std::string& error) const;
  static std::filesystem::path DefaultFile();  // <configuration folder>/backup-runs.log

 private:
  RunLog log_;
  std::function<std::tm()> now_;
};

inline constexpr const char* kDiscFailed = "disc write failed";
inline constexpr const char* kDiscCancelled = "disc write cancelled";
inline constexpr const char* kDiscRefused = "disc write refused";
inline constexpr const char* kDiscLeftOut = "left off the disc";
// A part of the imported session the new session does not carry (name field of its line:
// kDiscImportedSession), and the line of a write that left such parts off.
inline constexpr const char* kDiscImportLeftOut = "left out of the import";
inline constexpr const char* kDiscImportedSession = "imported session";
inline constexpr const char* kDiscWritten = "disc written";
// The line of a written session that read back equal (name field kDiscSession).
inline constexpr const char* kDiscVerified = "disc session verified";
inline constexpr const char* kDiscSession = "disc session";
// The size text of the status bar while the session is read back.
inline constexpr const char* kDiscVerifying = "verifying...";
// "disc written, N imported files left off"
std::string PartialImportText(size_t left_off);

class DiscStep {
 public:
  DiscStep(burner::TDiscBurner& burner, DiscOptionValues& values, DiscView& view,
           std::function<DiscTexts()> texts, DiscLog log);
  ~DiscStep();
  DiscStep(const DiscStep&) = delete;
  DiscStep& operator=(const DiscStep&) = delete;

  // Writes the queued files in one new session; returns once the write runs (or has ended).
  void bBurnClick();
  void AddRunFilesToDisc();
  void Timer1Timer();
  void bAbortClick();
  void DiscBurner1AddFile(const std::string& FullPath, const std::string& LongFileName, bool& Skip);
  // The end of a write, on the user-interface thread. Error empty = success. Starts the
  // read-back of the new session when VerifyWrite asks for it; FinishWrite follows its result.
  void DiscBurner1WriteDone(const std::string& Error);

  // True from the start of a disc step until the end of its write has been handled.
  bool Busy() const { return busy_ || writing_; }

 private:
  // The rest of the end of a write once the session has been read back (or was not): the run
  // log, eject, archive bits, status bar. `verified` is the read-back's text when it passed.
  void FinishWrite(const std::string& Error, const std::string& verified);
  void Debug(const std::string& line);
  void LogFiles(const std::vector<std::string>& files, const std::string& outcome, const std::string& error);
  std::string Mb(double bytes) const;

  burner::TDiscBurner& burner_;
  DiscOptionValues& values_;
  DiscView& view_;
  std::function<DiscTexts()> texts_;
  DiscLog log_;
  bool busy_ = false;     // inside bBurnClick
  bool writing_ = false;  // StartBurn called, end not yet handled
  bool abort_requested_ = false;
  std::vector<std::string> left_out_;  // queued files the tree did not take, with reasons
  std::vector<std::string> left_out_reasons_;
  std::vector<std::string> written_;   // files of the running write
  size_t import_left_off_ = 0;         // parts of the imported session left out
  std::thread verifier_;               // the read-back of the last write
};

}  // namespace orv::backup
