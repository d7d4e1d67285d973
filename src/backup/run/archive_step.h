// The archive step's window side: the progress window port (`TFormZip_Islem`), the archiver's
// progress handler `ZipArchiver1Progress` with its bar arithmetic, and the archiver's message
// dialog shown through the dialogs port. The archive step itself (`ZipBackupFile`) is a member
// of BackupRun (run.h).
//
// Every long operation of the main window (archiving, extraction during a restore, index and
// table maintenance) opens the progress window first, runs, then closes it if it is still open.
// The window (app/window/form_zip_islem.h) implements ProgressWindow over a Qt progress bar;
// RecordingProgressWindow keeps every change for tests.
//
// Threading: user-interface thread only. Errors: none of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/dialogs.h"
#include "zip/archiver/zip_archiver.h"
#include "zip/messages/zip_dialog.h"

namespace orv::backup {

// The progress window `TFormZip_Islem`: one bar `ProgressBar2`, range 0..100 until changed.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  // Creates the window, shows it without waiting, refreshes and repaints it. The bar starts at
  // 0 with maximum 100.
  virtual void Open() = 0;
  virtual bool IsOpen() const = 0;
  // Closes and frees the open window; nothing when none is open.
  virtual void Close() = 0;
  virtual void SetMaximum(std::int64_t maximum) = 0;
  virtual void SetPosition(std::int64_t position) = 0;
  virtual std::int64_t Maximum() const = 0;
  virtual std::int64_t Position() const = 0;
};

// A progress window without a screen: keeps the bar and counts opens and closes.
class RecordingProgressWindow final : public ProgressWindow {
 public:
  void Open() override;
  bool IsOpen() const override { return open_; }
  void Close() override;
  void SetMaximum(std::int64_t maximum) override;
  void SetPosition(std::int64_t position) override;
  std::int64_t Maximum() const override { return maximum_; }
  std::int64_t Position() const override { return position_; }

  int opens() const { return opens_; }
  int closes() const { return closes_; }
  // Every position set while open, in order.
  const std::vector<std::int64_t>& positions() const { return positions_; }

 private:
  bool open_ = false;
  int opens_ = 0, closes_ = 0;
  std::int64_t maximum_ = 100, position_ = 0;
  std::vector<std::int64_t> positions_;
};

// `ZipArchiver1Progress`: moves the open progress window's bar from the archiver's progress
// calls, so the bar shows the current file from 1 to 10001. Keeps the two counters (file size
// and file done). After every call it lets pending window messages run once. With no progress
// window open the bar is left alone (the counters still follow).
class ZipArchiverProgress {
 public:
  ZipArchiverProgress(ProgressWindow& window, ui::Dialogs& dialogs) : window_(window), dialogs_(dialogs) {}

  void operator()(zip::ProgressType ProgrType, const std::string& Filename, std::int64_t FileSize);
  // Installs this handler as the archiver's OnProgress.
  void BindTo(zip::TZipArchiver& archiver);

  std::int64_t file_size() const { return file_size_; }
  std::int64_t file_done() const { return file_done_; }

 private:
  ProgressWindow& window_;
  ui::Dialogs& dialogs_;
  std::int64_t file_size_ = 0;
  std::int64_t file_done_ = 0;
};

// done × 10000 ÷ size rounded to the nearest whole number, halves to the even neighbour, plus 1.
// A size of 0 gives 10001. Exact for every 64-bit done and size.
std::int64_t ProgressBarPosition(std::int64_t done, std::int64_t size);

// The archiver's message dialog drawn as a box of the dialogs port: warnings and errors as
// error boxes, questions as Yes/No, OK/Cancel kept; a password request is answered Cancel (the
// tool sets no passwords).
class DialogsZipPort final : public zip::ZipDialogPort {
 public:
  explicit DialogsZipPort(ui::Dialogs& dialogs) : dialogs_(dialogs) {}
  zip::ZipDialogAnswer ShowZipDialog(const zip::ZipDialogRequest& request) override;

 private:
  ui::Dialogs& dialogs_;
};

}  // namespace orv::backup
