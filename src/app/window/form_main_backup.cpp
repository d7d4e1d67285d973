// TFormMain: the backup run by hand (BitBtn4Click) and the weekly scheduler (Timer2Timer); the
// work is BackupRun's, this file connects it to the window's controls.
#include "app/window/form_main_backup.h"

#include <QListWidget>
#include <QObject>

#include "app/window/form_main.h"

namespace orv::app {

namespace {

// The run's view over the window's controls.
class WindowRunView final : public backup::RunView {
 public:
  explicit WindowRunView(TFormMain& w) : w_(w) {}
  void SetLabel10(const std::string& text) override { w_.Label10->setText(QString::fromStdString(text)); }
  void SetLabel11(const std::string& text) override { w_.Label11->setText(QString::fromStdString(text)); }
  void SetTimer2Enabled(bool on) override { w_.setTimer2(on); }
  bool Timer2Enabled() const override { return w_.Timer2->isActive(); }
  std::vector<int> SelectedDatabaseRows() const override { return w_.selectedDatabaseRows(); }
  void ClearDiscQueue() override { w_.clBox->clear(); }
  void AddToDiscQueue(const std::string& path) override { w_.clBox->addItem(QString::fromStdString(path)); }
  std::vector<std::string> DiscQueue() const override {
    std::vector<std::string> items;
    for (int i = 0; i < w_.clBox->count(); ++i) items.push_back(w_.clBox->item(i)->text().toStdString());
    return items;
  }
  // The disc step: bBurnClick writes the queued files in one new session.
  void StartDiscWrite() override { w_.bBurnClick(); }
  void ShowLastOutcome(const std::string& text) override {
    const QString t = QString::fromStdString(text);
    w_.Label5->setToolTip(t);
    w_.pbottom->setToolTip(t);
  }

 private:
  TFormMain& w_;
};

class BackupHostObject final : public QObject {
 public:
  explicit BackupHostObject(TFormMain& window) : QObject(&window) {
    setObjectName(QStringLiteral("BackupHost"));
    host.ZipArchiver1.DLLDirectory = window.data().installation_folder;
    host.ZipArchiver1.ApplicationTitle = ui::Dialogs::kApplicationTitle;
    host.progress = std::make_unique<ZipIslemProgress>(&window);
    host.view = std::make_unique<WindowRunView>(window);
    host.run = std::make_unique<backup::BackupRun>(backup::BackupRun::Ports{
        &window.data(), &window.dialogs(), &window.clock(), host.view.get(), host.progress.get(),
        &host.ZipArchiver1, backup::RunLog()});
  }
  ~BackupHostObject() override {
    host.run.reset();
    host.progress.reset();
  }
  BackupHost host;
};

}  // namespace

BackupHost& backupHost(TFormMain& window) {
  auto* found = dynamic_cast<BackupHostObject*>(
      window.findChild<QObject*>(QStringLiteral("BackupHost"), Qt::FindDirectChildrenOnly));
  if (found == nullptr) found = new BackupHostObject(window);
  return found->host;
}

bool TakeRunLock(platform::InstanceLock& lock, ui::Dialogs& dialogs, const char* text) {
  if (lock.state() != platform::InstanceLock::State::HeldElsewhere) return true;
  dialogs.message(text, ui::Dialogs::kApplicationTitle, ui::BoxKind::Warning);
  return false;
}

void TFormMain::BitBtn4Click() {
  // Runs of the window and the background service never overlap.
  platform::InstanceLock running(platform::run_lock_file());
  if (!TakeRunLock(running, *dialogs_, platform::kRunInProgressText)) return;
  backupHost(*this).run->BitBtn4Click();
}

void TFormMain::VerifyByRestoringClick() {
  // A test restore sends statements on the run's connection.
  platform::InstanceLock running(platform::run_lock_file());
  if (!TakeRunLock(running, *dialogs_, platform::kOperationWaitsForRunText)) return;
  backupHost(*this).run->VerifyByRestoring();
}

void TFormMain::Timer2Timer() {
  // A run of another process holds the lock: this tick passes, the next one runs the minutes it
  // skipped.
  platform::InstanceLock running(platform::run_lock_file());
  if (running.state() == platform::InstanceLock::State::HeldElsewhere) return;
  backupHost(*this).run->Timer2Timer();
}

void TFormMain::CatchUpMissedRuns() {
  if (scheduleInService_) return;
  platform::InstanceLock running(platform::run_lock_file());
  if (running.state() == platform::InstanceLock::State::HeldElsewhere) return;
  backupHost(*this).run->CatchUpMissedRuns();
}

}  // namespace orv::app
