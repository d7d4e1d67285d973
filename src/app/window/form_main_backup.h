// The backup side of the main window: the archiver `ZipArchiver1`, the progress window port over
// TFormZip_Islem, and the backup run with its scheduler (backup/run/run.h) wired to the window's
// controls. Created on first use and owned by the window (a child object), so it lives exactly
// as long as the window. The restore and maintenance handlers take ZipArchiver1 and the progress
// window from here, so one archiver and one progress window serve every operation.
//
// Threading: user-interface thread only.
#pragma once

#include <memory>

#include "app/window/form_zip_islem.h"
#include "backup/run/run.h"
#include "core/dialogs.h"
#include "platform/instance_lock.h"
#include "zip/archiver/zip_archiver.h"

namespace orv::app {

class TFormMain;

struct BackupHost {
  zip::TZipArchiver ZipArchiver1;
  std::unique_ptr<ZipIslemProgress> progress;
  std::unique_ptr<backup::RunView> view;
  std::unique_ptr<backup::BackupRun> run;
};

// The window's backup host, created with its first use.
BackupHost& backupHost(TFormMain& window);

// Operations by hand (backup, restore, repairs, test restore) hold the run lock, so they never
// run beside a backup of the background service (whose tick then waits and catches up). True
// when `lock` was taken; false after a box saying `text` when the service's run holds it.
bool TakeRunLock(platform::InstanceLock& lock, ui::Dialogs& dialogs, const char* text);

}  // namespace orv::app
