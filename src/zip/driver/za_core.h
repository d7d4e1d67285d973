// TZACore: the base of the archiver's operation driver. It owns the message channel (errors
// and notices through the archiver's message dialog, Part of the messages library), the
// progress dispatch that turns library progress into the archiver's events with item and total
// percentages, and the busy cursor.
//
// Ownership: one per archiver component. Threading: used on the thread that runs the
// operation (the user-interface thread in the tool). Errors: handlers may throw; the driver's
// callback catches what they throw during a library call (za_worker.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "zip/driver/za_types.h"
#include "zip/messages/zip_dialog.h"

namespace orv::zip {

// The state behind OnProgressDetails.
struct TProgressDetails {
  ProgressType Kind = ProgressType::EndOfBatch;
  std::string ItemName;
  int64_t ItemSize = 0;
  int64_t ItemPosition = 0;
  int64_t ItemNumber = 0;
  int64_t TotalCount = 0;
  int64_t TotalSize = 0;
  int64_t TotalPosition = 0;
  int64_t Written = 0;  // bytes written so far during an add

  // position ÷ (size ÷ 100) above 214747, else position × 100 ÷ size; 0 when either is 0.
  int ItemPerCent() const;
  // total position × 100 ÷ total size; 0 when either is not positive.
  int TotalPerCent() const;
};

// Events the driver raises; the archiver forwards them to its own, with itself as Sender.
struct ZAEvents {
  std::function<void(bool& cancel)> OnCheckTerminate;
  std::function<void()> OnTick;
  std::function<void(ProgressType, const std::string& file_name, int64_t file_size)> OnProgress;
  std::function<void(const TProgressDetails&)> OnProgressDetails;
  std::function<void(const std::string& item, int64_t size, int percent)> OnItemProgress;
  std::function<void(int64_t total_size, int percent)> OnTotalProgress;
  std::function<void(std::string& name)> OnSetNewName;
  std::function<void(std::string& name, const std::string& source)> OnSetAddName;
  std::function<void(std::string& name)> OnSetExtName;
  std::function<void(const std::string& name, uint32_t found, uint32_t expected, bool& extract_anyway)> OnCRC32Error;
  std::function<void(const std::string& name, bool is_older, bool& overwrite, int index)> OnExtractOverwrite;
  std::function<void(const std::string& name, UnZipSkipTypes reason, int error)> OnExtractSkipped;
  std::function<void(const std::string& name, std::string& comment, bool& changed)> OnFileComment;
  std::function<void(bool is_add, std::string& password, int& request_count, bool& cancel)> OnPasswordError;
  std::function<void(int sequence, const ZipDirEntry& entry)> OnNewName;
  std::function<void()> OnDirUpdate;
};

// Platform ports: how the driver shows a busy cursor and lets pending window messages run.
// Unset ports do nothing (a command line, a test).
struct ZAPorts {
  std::function<void(bool busy)> SetBusyCursor;
  std::function<void()> ProcessMessages;
};

class TZACore {
 public:
  TZACore();
  virtual ~TZACore() = default;

  ZipMessenger Messenger;  // Unattended/Verbose/OnMessage/Dialogs live here
  ZAEvents Events;
  ZAPorts Ports;

  // Error code and text of the last message shown or reported by the library.
  int ErrCode = 0;
  std::string ErrMessage;

  // Shows an archiver error (dialog unless Unattended, then OnMessage); keeps code and text.
  void ShowExceptionError(const EZipArchiver& error);
  // Shows a notice of message `ident` plus extra text.
  void ShowZipMessage(int ident, const std::string& extra = {});

  // Progress dispatch: OnProgress, then the details, OnProgressDetails, OnItemProgress and
  // OnTotalProgress where they apply.
  void ReportProgress(ProgressType kind, const std::string& name, int64_t size);
  const TProgressDetails& ProgressDetails() const { return details_; }
  void SetWritten(int64_t written) { details_.Written = written; }

  // Nested busy sections: the first shows the busy cursor, leaving the last restores it.
  void StartWaitCursor();
  void StopWaitCursor();
  void RestoreCursor();  // the archiver's end step: restore whatever the depth

  // Marks whether the running operation is outside the thread that made the driver.
  void Prepare();
  bool OutsideMainThread() const { return outside_main_thread_; }

 private:
  TProgressDetails details_;
  std::string extra_name_;
  int cursor_depth_ = 0;
  std::thread::id main_thread_;
  bool outside_main_thread_ = false;
};

}  // namespace orv::zip
