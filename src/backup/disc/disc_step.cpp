#include "backup/disc/disc_step.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/paths.h"
#include "dal/datetime.h"

namespace orv::backup {

namespace {

constexpr double kMiB = 1048576.0;
constexpr const char* kAbortedText = "OPERATION ABORTED BY USER";

size_t Utf8Length(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string BareName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

std::string FormatNumber(double value, const std::string& thousands, const std::string& decimal) {
  const bool negative = value < 0;
  const long long cents = std::llround(std::fabs(value) * 100.0);
  const std::string whole = std::to_string(cents / 100);
  std::string out = negative && cents != 0 ? "-" : "";
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += thousands;
    out += whole[i];
  }
  char frac[3];
  std::snprintf(frac, sizeof frac, "%02lld", cents % 100);
  return out + decimal + frac;
}

std::string PartialImportText(size_t left_off) {
  return std::string(kDiscWritten) + ", " + std::to_string(left_off) + " imported " +
         (left_off == 1 ? "file" : "files") + " left off";
}

// ---- DiscLog ----------------------------------------------------------------------------------

DiscLog::DiscLog(std::filesystem::path file, std::function<std::tm()> now) : log_(std::move(file)), now_(std::move(now)) {
  if (!now_) {
    now_ = [] {
      const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
      std::tm tm{};
      localtime_r(&t, &tm);
      return tm;
    };
  }
}

std::filesystem::path DiscLog::DefaultFile() { return platform::config_folder() / RunLog::kFileName; }

std::string DiscLog::Append(const std::string& path, const std::string& outcome, const std::string& error) const {
  const std::tm tm = now_();
  const dal::DateTime time = dal::encode_date_time(
      {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 0});
  const auto failure = log_.AppendFields(
      time, {"disc", "", BareName(path), outcome, error.empty() ? path : error + " (" + path + ")"});
  return failure.value_or("");
}

// ---- DiscStep ---------------------------------------------------------------------------------

DiscStep::DiscStep(burner::TDiscBurner& burner, DiscOptionValues& values, DiscView& view,
                   std::function<DiscTexts()> texts, DiscLog log)
    : burner_(burner), values_(values), view_(view), texts_(std::move(texts)), log_(std::move(log)) {
  burner_.OnAddFile = [this](burner::TDiscBurner*, const std::string& FullPath, std::string& LongFileName,
                             std::string&, burner::TDateTime&, uint32_t, int64_t, bool& Skip) {
    DiscBurner1AddFile(FullPath, LongFileName, Skip);
  };
  // Raised on the write thread (or on this thread when the start fails): the work is the
  // user-interface thread's.
  burner_.OnWriteDone = [this](burner::TDiscBurner*, const std::string& Error) {
    view_.PostToUi([this, Error] { DiscBurner1WriteDone(Error); });
  };
}

DiscStep::~DiscStep() {
  // A write still running when the window goes is stopped, not left writing into a freed window.
  if (writing_) burner_.AbortWrite();
  burner_.WaitForBurn();
  if (verifier_.joinable()) verifier_.join();
  burner_.OnWriteDone = nullptr;
  burner_.OnAddFile = nullptr;
}

void DiscStep::Debug(const std::string& line) { burner_.DoDebugMessage(line, 0); }

std::string DiscStep::Mb(double bytes) const {
  return FormatNumber(bytes / kMiB, view_.ThousandsSeparator(), view_.DecimalSeparator());
}

void DiscStep::LogFiles(const std::vector<std::string>& files, const std::string& outcome, const std::string& error) {
  std::string failure;
  for (const std::string& f : files) {
    const std::string e = log_.Append(f, outcome, error);
    if (!e.empty()) failure = e;
  }
  std::string status = outcome;
  if (!error.empty()) status += ": " + error;
  if (!failure.empty()) status += " (" + failure + ")";
  view_.ShowDiscStatus(status);
}

void DiscStep::bBurnClick() {
  if (Busy()) {
    // The previous write still owns the recorder and the file tree.
    const std::vector<std::string> queue = view_.DiscQueue();
    LogFiles(queue, kDiscRefused, kDiscBusyText);
    view_.MessageBox(kDiscBusyText);
    return;
  }
  busy_ = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{busy_};
  view_.ShowDiscStatus("");
  const DiscTexts t = texts_();

  uint32_t size = 0, free = 0;
  if (!burner_.ReadBufferCapacity(size, free)) size = burner_.DeviceBufferSize();
  view_.SetDeviceBufferMaximum(size);
  burner_.SetWriteSpeed(static_cast<uint16_t>(ParseSpeedText(view_.SelectedSpeedForWrite())));
  view_.ProcessEvents();
  burner_.ResetFileTree(65535, 8191);
  left_out_.clear();
  left_out_reasons_.clear();
  import_left_off_ = 0;
  AddRunFilesToDisc();
  Debug(t.CD_Add_File_Str);
  view_.ProcessEvents();
  for (size_t i = 0; i < left_out_.size(); ++i) LogFiles({left_out_[i]}, kDiscLeftOut, left_out_reasons_[i]);
  if (burner_.DirCount() == 0 && burner_.FileCount() == 0) return;

  written_ = view_.DiscQueue();
  for (const std::string& f : left_out_) std::erase(written_, f);
  try {
    burner_.PrepareImage(false, nullptr);
  } catch (const std::exception& e) {
    LogFiles(written_, kDiscFailed, e.what());
    burner_.ResetFileTree(65535, 8191);
    throw;
  }
  view_.SetTrackMaximum(burner_.TrackSize());
  view_.SetAbortVisible(true);
  view_.SetTimer1Enabled(true);
  Debug(t.CD_Start_Str + burner_.DeviceID());
  view_.SetLabel8(kWritingLabel);
  writing_ = true;
  abort_requested_ = false;
  (void)burner_.StartBurn();  // a failed start has already reported through OnWriteDone
}

void DiscStep::AddRunFilesToDisc() {
  if (values_.SessionImportNo != 0) {
    burner_.SessionToImport = 0;
    (void)burner_.ImportSession(values_.SessionImportNo, nullptr);
    // The outcome is in ImportRefusals: every part of the earlier session that the new one
    // will not carry gets its own run-log line.
    import_left_off_ = burner_.ImportRefusals.size();
    for (const std::string& refusal : burner_.ImportRefusals)
      LogFiles({kDiscImportedSession}, kDiscImportLeftOut, refusal);
  }
  const std::vector<std::string> queue = view_.DiscQueue();
  if (queue.empty()) {
    view_.MessageBox(texts_().CD_Error3_Str);
    return;
  }
  for (const std::string& path : queue) {
    burner_.LastFolderOnly = false;
    const size_t before = left_out_.size();
    const int added = burner_.AddFile("\\", path, false);
    if (added != 1 && left_out_.size() == before) {
      left_out_.push_back(path);
      const std::string& why = burner_.Tree().LastRefusal;
      left_out_reasons_.push_back(added < 0 ? "file not found" : (why.empty() ? "refused by the file tree" : why));
    }
  }
  burner_.RemoveEmptyDirs();
}

void DiscStep::DiscBurner1AddFile(const std::string& FullPath, const std::string& LongFileName, bool& Skip) {
  const DiscTexts t = texts_();
  if (!FullPath.empty()) {
    const int fd = ::open(FullPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
      Debug(t.CD_Skip1_Str + FullPath);
    else
      ::close(fd);
  }
  if (Utf8Length(LongFileName) > kMaxLongNameLength) {
    Debug(t.CD_Skip2_Str + FullPath);
    Skip = true;
    if (!FullPath.empty()) {
      left_out_.push_back(FullPath);
      left_out_reasons_.push_back("name longer than 107 characters");
    }
  }
  if (!Skip) {
    view_.SetSizeText(Mb(static_cast<double>(burner_.FilesSize())) + " MB");
    view_.Repaint();
  }
}

void DiscStep::Timer1Timer() {
  view_.SetCachePercent(burner_.CacheFillPercent());
  const int64_t written = burner_.BytesWritten.load();
  view_.SetSizeText(Mb(static_cast<double>(written)) + "/" + Mb(static_cast<double>(burner_.TrackSize()) * 2048.0) +
                    " MB");
  view_.SetTrackPosition(written / 2048);
  const int64_t used =
      static_cast<int64_t>(burner_.DeviceBufferSize()) - static_cast<int64_t>(burner_.DeviceFreeBufferSize());
  view_.SetDeviceBufferPosition(used < 0 ? 0 : used);
}

void DiscStep::bAbortClick() {
  abort_requested_ = true;
  burner_.AbortWrite();
  view_.SetAbortVisible(false);
}

void DiscStep::DiscBurner1WriteDone(const std::string& WriteError) {
  // The write thread ends right after its report; no device command before it has.
  burner_.WaitForBurn();
  view_.SetTimer1Enabled(false);
  Timer1Timer();
  if (!WriteError.empty() || !values_.VerifyWrite || burner_.TestWrite()) {
    FinishWrite(WriteError, "");
    return;
  }
  // The new session is read back through the recorder before anything else (an eject) happens;
  // a session that does not read back equal is a failed write. Reading a whole disc back takes
  // minutes on a real drive, so it runs on a thread of its own and the window stays live.
  view_.SetSizeText(kDiscVerifying);
  view_.SetAbortVisible(false);
  view_.Repaint();
  if (verifier_.joinable()) verifier_.join();
  verifier_ = std::thread([this] {
    burner::TVerifyResult checked;
    try {
      checked = burner_.VerifyLastWrite();
    } catch (const std::exception& e) {
      checked.Verified = false;
      checked.Text = std::string("READ-BACK: ") + e.what();
    }
    view_.PostToUi([this, checked] {
      if (verifier_.joinable()) verifier_.join();
      if (checked.Verified) FinishWrite("", checked.Text);
      else FinishWrite(checked.Text, "");
    });
  });
}

void DiscStep::FinishWrite(const std::string& Error, const std::string& verified) {
  const DiscTexts t = texts_();
  if (!Error.empty()) {
    Debug(t.CD_Write1_Str);
    Debug(">>> " + Error);
  } else {
    Debug(t.CD_Write2_Str);
    if (values_.ArchiveFiles) burner_.ClearArchiveBits();
  }
  if (Error.empty() && values_.EjectDisc) burner_.StartStopUnit(true);
  if (values_.ArchiveFiles) burner_.ClearArchiveBits();
  burner_.ResetFileTree(65535, 8191);
  view_.Beep();
  view_.SetAbortVisible(false);
  Debug(" ");
  if (!Error.empty()) {
    const bool cancelled = abort_requested_ || Error == kAbortedText;
    LogFiles(written_, cancelled ? kDiscCancelled : kDiscFailed, Error);
  } else {
    std::string status;
    if (!verified.empty()) {
      const std::string failure = log_.Append(kDiscSession, kDiscVerified, verified);
      status = failure.empty() ? kDiscVerified : std::string(kDiscVerified) + " (" + failure + ")";
    }
    if (import_left_off_ > 0) {
      // Written, but without parts of the imported session: never reported as a plain good write.
      const std::string text = PartialImportText(import_left_off_);
      Debug(">>> " + text);
      const std::string failure = log_.Append(kDiscImportedSession, kDiscWritten, text);
      status = (failure.empty() ? text : text + " (" + failure + ")") + (status.empty() ? "" : "; " + status);
    }
    view_.ShowDiscStatus(status);
  }
  written_.clear();
  writing_ = false;
  abort_requested_ = false;
  import_left_off_ = 0;
}

}  // namespace orv::backup
