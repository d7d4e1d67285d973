#include "backup/run/archive_step.h"

#include <filesystem>
#include <system_error>

#include "backup/run/run.h"

namespace orv::backup {

namespace fs = std::filesystem;

// ---- progress window without a screen --------------------------------------------------------

void RecordingProgressWindow::Open() {
  open_ = true;
  ++opens_;
  maximum_ = 100;
  position_ = 0;
}

void RecordingProgressWindow::Close() {
  if (!open_) return;
  open_ = false;
  ++closes_;
}

void RecordingProgressWindow::SetMaximum(std::int64_t maximum) { maximum_ = maximum; }

void RecordingProgressWindow::SetPosition(std::int64_t position) {
  position_ = position;
  positions_.push_back(position);
}

// ---- bar arithmetic --------------------------------------------------------------------------

std::int64_t ProgressBarPosition(std::int64_t done, std::int64_t size) {
  if (size == 0) return 10001;
  __extension__ using wide = __int128;
  const wide numerator = static_cast<wide>(done) * 10000;
  wide quotient = numerator / size;
  wide remainder = numerator % size;
  // Round half to even, for either sign.
  if (remainder != 0) {
    const bool negative = (numerator < 0) != (size < 0);
    const wide twice = 2 * (remainder < 0 ? -remainder : remainder);
    const wide divisor = size < 0 ? -static_cast<wide>(size) : static_cast<wide>(size);
    const wide step = negative ? -1 : 1;
    if (twice > divisor || (twice == divisor && (quotient % 2 != 0))) quotient += step;
  }
  return static_cast<std::int64_t>(quotient + 1);
}

void ZipArchiverProgress::operator()(zip::ProgressType ProgrType, const std::string& Filename,
                                     std::int64_t FileSize) {
  const bool bar = window_.IsOpen();
  switch (ProgrType) {
    case zip::ProgressType::TotalSize2Process:
      if (bar) {
        if (Filename.empty()) {
          window_.SetMaximum(10001);
        } else {
          window_.SetPosition(1);
          window_.SetMaximum(FileSize);
        }
      }
      break;
    case zip::ProgressType::NewFile:
      if (bar) window_.SetPosition(1);
      file_size_ = FileSize;
      file_done_ = 0;
      break;
    case zip::ProgressType::ProgressUpdate:
      if (Filename.empty()) {
        file_done_ += FileSize;
        if (bar) window_.SetPosition(file_size_ == 0 ? 10001 : ProgressBarPosition(file_done_, file_size_));
      } else if (bar) {
        window_.SetPosition(FileSize + 1);
      }
      break;
    case zip::ProgressType::EndOfBatch:
      if (bar) window_.SetPosition(1);
      break;
    default:
      break;
  }
  dialogs_.process_events();
}

void ZipArchiverProgress::BindTo(zip::TZipArchiver& archiver) {
  archiver.OnProgress = [this](zip::TZipArchiver*, zip::ProgressType type, const std::string& name,
                               std::int64_t size) { (*this)(type, name, size); };
}

// ---- the archiver's dialog as a box ----------------------------------------------------------

zip::ZipDialogAnswer DialogsZipPort::ShowZipDialog(const zip::ZipDialogRequest& request) {
  zip::ZipDialogAnswer answer;
  answer.pressed = zip::ZipButton::Cancel;
  if (request.kind == zip::ZipDialogKind::Password) return answer;
  bool has_yes = false, has_cancel = false;
  for (const auto& b : request.buttons) {
    has_yes = has_yes || b.button == zip::ZipButton::Yes;
    has_cancel = has_cancel || b.button == zip::ZipButton::Cancel;
  }
  ui::Box box;
  box.caption = request.title;
  box.text = request.text;
  switch (request.kind) {
    case zip::ZipDialogKind::Warning:
    case zip::ZipDialogKind::Error: box.kind = ui::BoxKind::Error; break;
    case zip::ZipDialogKind::Question: box.kind = ui::BoxKind::Question; break;
    default: box.kind = ui::BoxKind::Information; break;
  }
  box.buttons = has_yes ? ui::Buttons::YesNo : has_cancel ? ui::Buttons::OkCancel : ui::Buttons::Ok;
  switch (dialogs_.show_box(box)) {
    case ui::Answer::Yes: answer.pressed = zip::ZipButton::Yes; break;
    case ui::Answer::No: answer.pressed = zip::ZipButton::No; break;
    case ui::Answer::Ok: answer.pressed = zip::ZipButton::OK; break;
    case ui::Answer::Cancel: answer.pressed = zip::ZipButton::Cancel; break;
  }
  return answer;
}

// ---- the archive step ------------------------------------------------------------------------

std::string BackupRun::TestArchive(const std::string& archive, int entries) {
  archiver_.FSpecArgs.clear();
  const zip::ExtrOpts saved_options = archiver_.ExtrOptions;
  const std::string saved_folder = archiver_.ExtrBaseDir;
  archiver_.ExtrOptions = {zip::ExtrOptsEnum::ExtrTest};
  archiver_.ExtrBaseDir.clear();
  int listed = 0, tested = 0;
  try {
    archiver_.SetZipFileName(archive);
    listed = archiver_.Count();
    tested = listed == entries ? archiver_.Extract() : 0;
  } catch (...) {
    archiver_.ExtrOptions = saved_options;
    archiver_.ExtrBaseDir = saved_folder;
    throw;
  }
  archiver_.ExtrOptions = saved_options;
  archiver_.ExtrBaseDir = saved_folder;
  if (listed == entries && tested == entries) return "";
  std::string text = "The archive test read back " + std::to_string(tested < 0 ? 0 : tested) + " of " +
                     std::to_string(entries) + " entries (" + std::to_string(listed) + " listed)";
  if (!archiver_.Message().empty()) text += ": " + archiver_.Message();
  return text;
}

int BackupRun::ZipBackupFile(const std::string& source_file, const std::string& name) {
  const std::string folder = WorkingFolderText();
  const fs::path target = folder + BackupRun::ArchiveFileName(name);
  const fs::path temporary = folder + TemporaryArchiveName(name);
  zip_error_.clear();
  // A leftover of an interrupted step would be updated instead of replaced: start afresh.
  std::error_code ec;
  fs::remove(temporary, ec);
  if (ec) throw fs::filesystem_error("Cannot remove the unfinished archive", temporary, ec);

  archiver_.FSpecArgs.clear();
  archiver_.SetZipFileName(temporary.string());
  archiver_.FSpecArgs.push_back(source_file);

  progress_.Open();
  dialogs_.repaint();
  int added = 0;
  try {
    added = archiver_.Add();
  } catch (...) {
    if (progress_.IsOpen()) progress_.Close();
    fs::remove(temporary, ec);
    throw;
  }
  if (progress_.IsOpen()) progress_.Close();

  if (added == 1 && fs::is_regular_file(temporary, ec)) {
    if (OnArchiveWritten) OnArchiveWritten(temporary.string());
    // Only an archive whose every entry reads back whole replaces the previous one.
    zip_error_ = TestArchive(temporary.string(), 1);
    if (zip_error_.empty()) zip_error_ = PutInPlace(temporary, target);
    if (zip_error_.empty()) {
      LastBackupFile = ArchiveFileName(name);
      return 1;
    }
  } else {
    zip_error_ = archiver_.Message().empty() ? "The archive was not made (result " + std::to_string(added) + ")"
                                             : archiver_.Message();
  }
  fs::remove(temporary, ec);
  return 0;
}

}  // namespace orv::backup
