#include "zip/driver/za_core.h"

namespace orv::zip {

int TProgressDetails::ItemPerCent() const {
  if (ItemSize == 0 || ItemPosition == 0) return 0;
  if (ItemSize > 214747) return static_cast<int>(ItemPosition / (ItemSize / 100));
  return static_cast<int>(ItemPosition * 100 / ItemSize);
}

int TProgressDetails::TotalPerCent() const {
  if (TotalSize <= 0 || TotalPosition <= 0) return 0;
  return static_cast<int>(TotalPosition * 100 / TotalSize);
}

TZACore::TZACore() : main_thread_(std::this_thread::get_id()) {}

void TZACore::ShowExceptionError(const EZipArchiver& error) {
  Messenger.ShowExceptionError(error);
  ErrCode = error.Ident();
  ErrMessage = error.what();
}

void TZACore::ShowZipMessage(int ident, const std::string& extra) { Messenger.ShowZipMessage(ident, extra); }

void TZACore::ReportProgress(ProgressType kind, const std::string& name, int64_t size) {
  if (Events.OnProgress) Events.OnProgress(kind, name, size);
  TProgressDetails& d = details_;
  d.Kind = kind;
  bool item = false, total = false, end = false;
  switch (kind) {
    case ProgressType::TotalFiles2Process:
      d.TotalCount = size;
      d.ItemNumber = 0;
      break;
    case ProgressType::TotalSize2Process:
      d.TotalSize = size;
      d.TotalPosition = 0;
      break;
    case ProgressType::NewFile:
      d.ItemName = name;
      d.ItemSize = size;
      d.ItemPosition = 0;
      ++d.ItemNumber;
      item = true;
      break;
    case ProgressType::ProgressUpdate:
      d.ItemPosition += size;
      d.TotalPosition += size;
      item = total = true;
      break;
    case ProgressType::NewExtra:
      extra_name_ = name;
      d.ItemName = name;
      d.ItemSize = size;
      d.ItemPosition = 0;
      item = true;
      break;
    case ProgressType::ExtraUpdate:
      d.ItemName = extra_name_;
      d.ItemPosition += size;
      item = true;
      break;
    case ProgressType::EndOfBatch:
      end = true;
      break;
  }
  if (Events.OnProgressDetails) Events.OnProgressDetails(d);
  if (end) {
    if (Events.OnItemProgress) Events.OnItemProgress(d.ItemName, 0, 101);
    if (Events.OnTotalProgress) Events.OnTotalProgress(0, 101);
    return;
  }
  if (item && Events.OnItemProgress) Events.OnItemProgress(d.ItemName, d.ItemSize, d.ItemPerCent());
  if (total && Events.OnTotalProgress) Events.OnTotalProgress(d.TotalSize, d.TotalPerCent());
}

void TZACore::StartWaitCursor() {
  if (cursor_depth_++ == 0 && !outside_main_thread_ && Ports.SetBusyCursor) Ports.SetBusyCursor(true);
}

void TZACore::StopWaitCursor() {
  if (cursor_depth_ == 0) return;
  if (--cursor_depth_ == 0 && !outside_main_thread_ && Ports.SetBusyCursor) Ports.SetBusyCursor(false);
}

void TZACore::RestoreCursor() {
  if (cursor_depth_ > 0 && !outside_main_thread_ && Ports.SetBusyCursor) Ports.SetBusyCursor(false);
  cursor_depth_ = 0;
}

void TZACore::Prepare() { outside_main_thread_ = std::this_thread::get_id() != main_thread_; }

}  // namespace orv::zip
