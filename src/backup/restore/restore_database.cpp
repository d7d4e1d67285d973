#include "backup/restore/restore_database.h"

#include <cmath>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "server/statement.h"

namespace orv::backup {

namespace fs = std::filesystem;

bool IsArchiveName(const std::string& file_name) {
  std::string upper = file_name;
  for (char& ch : upper)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return upper.find(".ZIP") != std::string::npos;
}

std::string BareFileName(const std::string& path) {
  auto cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string JoinFolder(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder + name;
  return folder + "/" + name;
}

std::string ExtractOnlyEntry(zip::TZipArchiver& zip, const std::string& archive, const std::string& folder,
                             const std::function<void()>& extracting, std::string& error) {
  zip.FSpecArgs.clear();
  zip.ExtrBaseDir = folder;
  zip.SetZipFileName(archive);
  if (const int count = zip.Count(); count != 1) {
    error = archive + " holds " + std::to_string(count) + " entries, not the one backup file";
    return "";
  }
  if (extracting) extracting();
  const zip::ExtrOpts saved = zip.ExtrOptions;
  zip.ExtrOptions.insert(zip::ExtrOptsEnum::ExtrOverWrite);
  int extracted = 0;
  try {
    extracted = zip.Extract();
  } catch (...) {
    zip.ExtrOptions = saved;
    throw;
  }
  zip.ExtrOptions = saved;
  if (extracted != 1 || zip.Entries().empty()) {
    error = zip.Message().empty() ? "The entry of " + archive + " could not be extracted" : zip.Message();
    return "";
  }
  const std::string bare = BareFileName(zip.Entries()[0].FileName);
  if (bare.empty() || bare == "." || bare == "..") {
    error = "The entry of " + archive + " has no file name: \"" + zip.Entries()[0].FileName + "\"";
    return "";
  }
  return JoinFolder(folder, bare);
}

namespace {

// The folder part of a recorded physical file name ("" when it has none).
std::string FolderOf(const std::string& physical_name) {
  auto cut = physical_name.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : physical_name.substr(0, cut);
}

class Restore {
 public:
  explicit Restore(RestoreContext& c) : c_(c) {}

  // Steps 2-12; false when the operation ended early (the final step follows either way).
  bool Run() {
    auto chosen = c_.dialogs.open_file(ui::FileRequest{kRestoreDialogTitle, kRestoreDialogFilter, "", ""});
    if (!chosen) return false;
    result_.file_chosen = true;
    if (chosen->empty()) {
      c_.view.SetTimer2(true);
      return false;
    }
    if (IsArchiveName(*chosen)) {
      if (!ExtractArchive(*chosen)) return false;
    } else {
      result_.restore_file = *chosen;
    }
    if (!ReadHeaderAndConfirm()) return false;
    if (!CreateFolders()) return false;

    c_.view.SetLabel10(c_.strings.Restore_Dtb_Str);
    auto& q = c_.ADOQuerySQLBackup;
    // The server refuses to restore the database a session is in (maintenance leaves the
    // connection in the database it worked on).
    q.close();
    q.set_sql({server::use_statement("master")});
    q.exec_sql();
    q.close();
    q.set_sql({server::restore_statement(result_.database, result_.restore_file)});
    q.exec_sql();

    c_.dialogs.message(c_.strings.Restore_Comp_Str, c_.strings.Restore_Bsk_Str, ui::BoxKind::Information);
    result_.restored = true;
    return true;
  }

  RestoreResult& result() { return result_; }

 private:
  bool ExtractArchive(const std::string& archive) {
    c_.view.OpenProgress();
    std::string error;  // the archiver has shown its box; the final step shows the operation's
    result_.restore_file = ExtractOnlyEntry(
        c_.ZipArchiver1, archive, c_.working_folder, [this] { c_.view.SetLabel10(c_.strings.Extract_Zip_Str); },
        error);
    c_.view.CloseProgress();
    return !result_.restore_file.empty();
  }

  bool ReadHeaderAndConfirm() {
    c_.view.SetLabel10(c_.strings.Check_Bck_Str);
    auto& q = c_.ADOQuerySQLBackup;
    q.close();
    q.set_sql({server::restore_headeronly_statement(result_.restore_file)});
    q.open();
    if (q.empty()) throw std::runtime_error("The backup file holds no backup set: " + result_.restore_file);
    q.first();
    result_.database = q.field("Databasename").as_string();
    const dal::DateTime started = q.field("BackupStartDate").as_date_time();
    const bool midnight = started.days == std::floor(started.days);
    const std::string time_text = c_.view.DateTimeText(started, !midnight);

    if (!c_.view.ConfirmRestore(result_.database, time_text)) {
      c_.view.SetTimer2(true);
      c_.view.SetLabel10("");
      c_.view.SetLabel11("");
      return false;
    }
    c_.view.RepaintMain();
    c_.dialogs.process_events();
    return true;
  }

  bool CreateFolders() {
    c_.view.SetLabel10(c_.strings.Check_Direc_Str);
    auto& q = c_.ADOQuerySQLBackup;
    q.close();
    q.set_sql({server::restore_filelistonly_statement(result_.restore_file)});
    q.open();
    for (q.first(); !q.eof(); q.next()) {
      const std::string physical = q.field("PhysicalName").as_string();
      const std::string folder = FolderOf(physical);
      if (folder.empty()) continue;
      std::error_code ec;
      if (fs::is_directory(folder, ec)) continue;
      fs::create_directories(folder, ec);
      if (ec || !fs::is_directory(folder)) {
        c_.view.SetTimer2(true);
        c_.view.SetLabel10("");
        c_.view.SetLabel11("");
        c_.dialogs.message(i18n::replace_placeholder(c_.strings.Directory_Create_Error_Str, "<Directory>", physical),
                           c_.strings.Directory_Create_Error_Str_Bsk, ui::BoxKind::Error);
        return false;
      }
    }
    return true;
  }

  RestoreContext& c_;
  RestoreResult result_;
};

}  // namespace

RestoreResult RestoreDatabase(RestoreContext& context) {
  context.view.SetTimer2(false);
  Restore restore(context);
  std::exception_ptr error;
  try {
    restore.Run();
  } catch (...) {
    error = std::current_exception();
  }
  // Final step, whatever happened above.
  context.view.CloseProgress();
  context.view.SetTimer2(true);
  context.view.SetLabel10("");
  context.view.SetLabel11("");
  const RestoreResult& result = restore.result();
  if (!result.restored && result.file_chosen)
    context.dialogs.message(context.strings.Opera_Error_Str, context.strings.Restore_Bsk_Str, ui::BoxKind::Error);
  if (error) std::rethrow_exception(error);
  return result;
}

}  // namespace orv::backup
