// What a backup run needs of the main window besides boxes and the clock: the two status lines,
// the scheduler timer's switch, the database list's selection, the disc queue (`clBox`) and the
// start of the disc write. TFormMain implements it over its controls; tests use a recording
// view. Boxes, repaints and "now" go through the dialogs and clock ports (core/).
//
// Threading: user-interface thread only. Errors: implementations may throw; the run treats a
// throw like any other error inside its steps.
#pragma once

#include <string>
#include <vector>

namespace orv::backup {

class RunView {
 public:
  virtual ~RunView() = default;

  // The status lines Label10 and Label11 (the caller repaints through the dialogs port).
  virtual void SetLabel10(const std::string& text) = 0;
  virtual void SetLabel11(const std::string& text) = 0;

  // Timer2, the scheduler's timer. Switching it on restarts its 55-second interval.
  virtual void SetTimer2Enabled(bool on) = 0;
  virtual bool Timer2Enabled() const = 0;

  // Rows of Database_List selected in the database list grid, as dataset row numbers in
  // dataset order; empty when nothing is selected.
  virtual std::vector<int> SelectedDatabaseRows() const = 0;

  // The disc queue: full paths of the files the disc step writes, in the order added.
  virtual void ClearDiscQueue() = 0;
  virtual void AddToDiscQueue(const std::string& path) = 0;
  virtual std::vector<std::string> DiscQueue() const = 0;

  // The disc step's start (`bBurnClick`): writes every queued file in one new disc session.
  // Called once after the last database when the queue is not empty; it does not wait for the
  // write. Until the disc step exists the window's implementation does nothing.
  virtual void StartDiscWrite() = 0;

  // The status bar's "last backup" text: the outcome of the last database a run handled.
  virtual void ShowLastOutcome(const std::string& text) = 0;
};

}  // namespace orv::backup
