// What the restore and the maintenance operations need of the main window besides boxes and
// dialogs (core/dialogs.h): the status lines, the scheduler timer, the progress window and
// the restore's confirmation window. The Qt window implements it over its controls
// (TFormMain: Label10, Label11, Timer2, TFormZip_Islem, TFormRest_File); tests record it.
//
// Plain C++, no Qt. Threading: user-interface thread only. Errors: none of its own.
#pragma once

#include <string>

#include "dal/driver.h"

namespace orv::backup {

class OperationView {
 public:
  virtual ~OperationView() = default;

  // Label10 / Label11 of the main window, repainted at once.
  virtual void SetLabel10(const std::string& text) = 0;
  virtual void SetLabel11(const std::string& text) = 0;
  // The scheduler timer Timer2.
  virtual void SetTimer2(bool enabled) = 0;
  // Repaints the main window.
  virtual void RepaintMain() = 0;

  // The progress window TFormZip_Islem: create, show without waiting, refresh and repaint.
  virtual void OpenProgress() = 0;
  // Closes the progress window when one is open; nothing otherwise.
  virtual void CloseProgress() = 0;
  // Sets ProgressBar2's position (range 0..100) and repaints the bar; nothing when no window
  // is open.
  virtual void SetProgressPosition(int position) = 0;

  // TFormRest_File, shown modally with the database name and the backup time text; true when
  // the operator answered OK.
  virtual bool ConfirmRestore(const std::string& database, const std::string& backup_time) = 0;
  // A date-time in the platform's short date format, followed by its long time format when
  // with_time is set.
  virtual std::string DateTimeText(dal::DateTime value, bool with_time) = 0;
};

}  // namespace orv::backup
