// Restore of a database from a backup file (".Dat") or from a zip archive holding one: the work
// behind the main window's "RESTORE" (BitBtn2Click).
//
// The operator picks a file; a name containing ".zip" (any letter case, anywhere in the name)
// is an archive: its single entry is extracted into the working folder, replacing a file of the
// same name that may already lie there, and that file is restored. The server is asked what the
// backup holds (RESTORE HEADERONLY, RESTORE FILELISTONLY), the operator confirms database name
// and backup time, the folders of the recorded physical files are created, and the server
// restores the first backup set under the name recorded in it, at the recorded paths.
// Every statement is built by server/statement.h (names and paths quoted).
//
// Whatever the outcome, the final step closes the progress window, switches Timer2 on and
// clears both status lines; when a file was chosen but the restore did not complete, the
// Opera_Error_Str box follows. A server error is then rethrown unchanged (dal::ProviderError with
// the server's text) for the window's standard error box.
//
// Ownership: borrows everything in RestoreContext for the call. Threading: user-interface
// thread only.
#pragma once

#include <functional>
#include <string>

#include "core/dialogs.h"
#include "backup/restore/operation_view.h"
#include "i18n/messages.h"
#include "dal/dataset.h"
#include "zip/archiver/zip_archiver.h"

namespace orv::backup {

struct RestoreContext {
  ui::Dialogs& dialogs;
  OperationView& view;
  dal::Query& ADOQuerySQLBackup;     // on the server connection
  zip::TZipArchiver& ZipArchiver1;   // the window's archiver (its OnProgress drives the bar)
  std::string working_folder;        // Edit1: the working folder, with its final separator
  const i18n::MessageStrings& strings;
};

// How one restore ended (for the caller's log and for tests; the operator has seen it all).
struct RestoreResult {
  bool file_chosen = false;
  bool restored = false;
  std::string restore_file;  // the backup file the server read (empty before it was known)
  std::string database;      // the database name recorded in the backup
};

// The file dialog's title and filter.
inline constexpr const char* kRestoreDialogTitle = "QELMARDOX";
inline constexpr const char* kRestoreDialogFilter =
    "Varsayılan (*.Dat;*.zip)|*.dat;*.zip|Yedek Dosyası (*.Dat)|*.dat|Sıkıştırılmış Dosya (*.zip)|*.zip|Hepsi (*.*)|*.*";

// True when the upper-cased name contains ".ZIP" anywhere ("nightly.zip.dat" does).
bool IsArchiveName(const std::string& file_name);
// The file name without its folder part ("/" and "\" both separate).
std::string BareFileName(const std::string& path);
// folder + name, with one separator between them.
std::string JoinFolder(const std::string& folder, const std::string& name);
// Extracts the one entry of `archive` into `folder` through `zip`; a file of the entry's name
// there is replaced, so what is restored is the archive's content and never an older file.
// `extracting` runs once the archive is known to hold one entry, just before the extraction.
// Returns the extracted file's path; "" with `error` set when the archive does not hold exactly
// one entry, the entry's name is no file name, or the extraction failed (the archiver has shown
// its own box).
std::string ExtractOnlyEntry(zip::TZipArchiver& zip, const std::string& archive, const std::string& folder,
                             const std::function<void()>& extracting, std::string& error);

// The whole operation. Throws what the server or the file system threw, after the final step.
RestoreResult RestoreDatabase(RestoreContext& context);

}  // namespace orv::backup
