// TFormMain: creation, closing, and the handlers of the working folder, the connection dialog
// and the translation editor.
#include <QCoreApplication>
#include <QTimer>

#include <filesystem>

#include "app/core/startup.h"
#include "app/shell/working_folder.h"
#include "app/window/form_language.h"
#include "app/window/form_main.h"
#include "app/window/form_sql_connect.h"
#include "backup/log/run_log.h"

namespace orv::app {

void TFormMain::FormCreate() {
  Label10->clear();
  Label11->clear();
  const CreateOutcome outcome = CreateSteps(data_, *dialogs_);
  if (outcome.reached == CreateReached::Connected) eVolLabel->setText(shortDateToday());
  // One scheduler per installation: while the background service holds the scheduler lock this
  // window serves editing and the by-hand actions, and its timer stays off.
  schedulerLock_ = std::make_unique<platform::InstanceLock>(platform::scheduler_lock_file());
  scheduleInService_ = schedulerLock_->state() == platform::InstanceLock::State::HeldElsewhere;
  if (scheduleInService_) schedulerLock_.reset();
  else if (schedulerLock_->state() == platform::InstanceLock::State::Acquired)
    (void)schedulerLock_->SetOwner("window " + std::to_string(QCoreApplication::applicationPid()));
  setTimer2(Timer2->isActive());
  showServiceText(false);
  if (scheduleInService_) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(backup::RunLog().file(), ec);
    runLogSeen_ = ec ? 0 : size;
    TimerNotice = new QTimer(this);
    TimerNotice->setObjectName(QStringLiteral("TimerNotice"));
    TimerNotice->setInterval(60000);
    connect(TimerNotice, &QTimer::timeout, this, [this] { NoticeBackgroundFailures(); });
    TimerNotice->start();
  }
  // Rows that fell due while no scheduler ran (this minute included) run once the window is up.
  if (outcome.reached == CreateReached::Connected && !scheduleInService_)
    QTimer::singleShot(0, this, &TFormMain::CatchUpMissedRuns);
}

std::vector<std::string> TFormMain::NoticeBackgroundFailures() {
  std::vector<std::string> lines = backup::NewFailureLines(backup::RunLog().file(), runLogSeen_, /*background=*/true);
  if (lines.empty()) return lines;
  QStringList shown;
  for (const std::string& line : lines) {
    // time, how, database, file, outcome, error
    const QStringList f = QString::fromStdString(line).split(QLatin1Char('\t'));
    if (f.size() < 5) continue;
    QString text = (f[2].isEmpty() ? f[3] : f[2]) + QStringLiteral(": ") + f[4];
    if (f.size() > 5 && !f[5].isEmpty()) text += QStringLiteral(" (") + f[5] + QStringLiteral(")");
    shown << text;
  }
  if (shown.size() > 5) shown = shown.mid(shown.size() - 5);
  FormTrayIcon1->showMessage(QStringLiteral("ORVAKELL"), shown.join(QLatin1Char('\n')), QSystemTrayIcon::Warning);
  return lines;
}

void TFormMain::FormClose() {
  SaveDiscOptions();
  CloseSteps(data_, *dialogs_);
}

void TFormMain::SpeedButton1Click() {
  runHandler([this] {
    const std::optional<std::string> chosen = dialogs_->choose_folder();
    if (!chosen) return;
    dal::Table& system = data_.ADOTableSystem;
    if (system.state() != dal::DataSetState::Edit && system.state() != dal::DataSetState::Insert) system.edit();
    system.field("Temp_Dizini").set_string(shell::working_folder_text(*chosen));
    system.post();
  });
}

void TFormMain::BitBtn5Click() {
  TFormSQLConnect dialog(*this);
  dialog.exec();
}

void TFormMain::BitBtn3Click() {
  std::unique_ptr<TFormLanguage> editor;
  if (!runHandler([&] { editor = std::make_unique<TFormLanguage>(*this); })) return;
  editor->exec();
}

}  // namespace orv::app
