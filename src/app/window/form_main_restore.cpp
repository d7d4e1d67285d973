// TFormMain: "RESTORE" (BitBtn2Click), "REPAIR INDEX" and "REPAIR TABLE". The work is the
// restore and maintenance services' (backup/restore/); this file gives them the window's
// controls, the archiver and the progress window of the backup host.
#include <QDate>
#include <QLocale>
#include <QTime>

#include "app/window/form_main.h"
#include "app/window/form_main_backup.h"
#include "app/window/form_rest_file.h"
#include "app/window/translate_form.h"
#include "backup/restore/maintenance.h"
#include "backup/restore/restore_database.h"
#include "dal/datetime.h"
#include "platform/instance_lock.h"

namespace orv::app {

namespace {

class WindowOperationView final : public backup::OperationView {
 public:
  WindowOperationView(TFormMain& w, ZipIslemProgress& progress) : w_(w), progress_(progress) {}

  void SetLabel10(const std::string& text) override {
    w_.Label10->setText(QString::fromStdString(text));
    w_.Label10->repaint();
  }
  void SetLabel11(const std::string& text) override {
    w_.Label11->setText(QString::fromStdString(text));
    w_.Label11->repaint();
  }
  void SetTimer2(bool enabled) override { w_.setTimer2(enabled); }
  void RepaintMain() override { w_.repaint(); }
  void OpenProgress() override { progress_.Open(); }
  void CloseProgress() override { progress_.Close(); }
  void SetProgressPosition(int position) override {
    if (progress_.IsOpen()) progress_.SetPosition(position);
  }
  bool ConfirmRestore(const std::string& database, const std::string& backup_time) override {
    TFormRest_File form(&w_, [this](QWidget* window) { TranslateForm(window, w_.language()); });
    form.Edit1->setText(QString::fromStdString(database));
    form.Edit2->setText(QString::fromStdString(backup_time));
    return form.exec() == TFormRest_File::kResultOk;
  }
  std::string DateTimeText(dal::DateTime value, bool with_time) override {
    const dal::DateTimeParts p = dal::decode_date_time(value);
    const QLocale locale = QLocale::system();
    QString text = locale.toString(QDate(p.year, p.month, p.day), QLocale::ShortFormat);
    if (with_time) text += QLatin1Char(' ') + locale.toString(QTime(p.hour, p.minute, p.second), QLocale::LongFormat);
    return text.toStdString();
  }

 private:
  TFormMain& w_;
  ZipIslemProgress& progress_;
};

}  // namespace

void TFormMain::BitBtn2Click() {
  platform::InstanceLock running(platform::run_lock_file());
  if (!TakeRunLock(running, *dialogs_, platform::kOperationWaitsForRunText)) return;
  BackupHost& host = backupHost(*this);
  WindowOperationView view(*this, *host.progress);
  runHandler([&] {
    backup::RestoreContext context{*dialogs_, view, data_.ADOQuerySQLBackup, host.ZipArchiver1,
                                   Edit1->text().toStdString(), i18n::messages()};
    (void)backup::RestoreDatabase(context);
  });
}

namespace {

backup::MaintenanceContext MaintenanceFor(TFormMain& w, backup::OperationView& view) {
  core::MainData& d = w.data();
  return backup::MaintenanceContext{w.dialogs(), view, d.ADOQueryDetay, d.ADOQueryIndex,
                                    [&d] { return d.ADOTableDatabase.field("Veri_Tabani_Adi").as_string(); },
                                    i18n::messages()};
}

}  // namespace

void TFormMain::RepairIndexClick() {
  platform::InstanceLock running(platform::run_lock_file());
  if (!TakeRunLock(running, *dialogs_, platform::kOperationWaitsForRunText)) return;
  WindowOperationView view(*this, *backupHost(*this).progress);
  runHandler([&] {
    backup::MaintenanceContext context = MaintenanceFor(*this, view);
    (void)backup::RepairIndex(context);
  });
}

void TFormMain::RepairTableClick() {
  platform::InstanceLock running(platform::run_lock_file());
  if (!TakeRunLock(running, *dialogs_, platform::kOperationWaitsForRunText)) return;
  WindowOperationView view(*this, *backupHost(*this).progress);
  runHandler([&] {
    backup::MaintenanceContext context = MaintenanceFor(*this, view);
    (void)backup::RepairTable(context);
  });
}

}  // namespace orv::app
