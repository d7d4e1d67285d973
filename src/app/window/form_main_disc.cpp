// TFormMain: the disc panel (options file, recorder and speed lists, option boxes) and the disc
// step of a run (bBurnClick, Timer1Timer, CANCEL). The work is in backup/disc/; this file connects
// it to the window's controls.
#include "app/window/form_main_disc.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QLocale>
#include <QMetaObject>

#include <algorithm>

#include "app/window/form_main.h"
#include "i18n/messages.h"

namespace orv::app {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// The disc step's view over the window's status bar, lists and labels.
class WindowDiscView final : public backup::DiscView {
 public:
  explicit WindowDiscView(TFormMain& w) : w_(w) {}
  void SetDeviceBufferMaximum(std::int64_t v) override { w_.pHBuf->setMaximum(Clamp(v)); }
  void SetDeviceBufferPosition(std::int64_t v) override { w_.pHBuf->setValue(std::min(Clamp(v), w_.pHBuf->maximum())); }
  void SetCachePercent(int v) override { w_.pBuf->setValue(std::clamp(v, 0, 100)); }
  void SetTrackMaximum(std::int64_t v) override { w_.pcd->setMaximum(Clamp(v)); }
  void SetTrackPosition(std::int64_t v) override { w_.pcd->setValue(std::min(Clamp(v), w_.pcd->maximum())); }
  void SetSizeText(const std::string& t) override { w_.lSize->setText(q(t)); }
  std::string ThousandsSeparator() const override { return QLocale::system().groupSeparator().toStdString(); }
  std::string DecimalSeparator() const override { return QLocale::system().decimalPoint().toStdString(); }
  std::string SelectedSpeedForWrite() override {
    if (w_.cbSpeed->currentIndex() < 0 && w_.cbSpeed->count() > 0) w_.cbSpeed->setCurrentIndex(0);
    return w_.cbSpeed->currentText().toStdString();
  }
  void SetAbortVisible(bool v) override {
    w_.bAbort->setVisible(v);
    w_.showServiceText(v);
  }
  void SetTimer1Enabled(bool on) override {
    if (on)
      w_.Timer1->start();
    else
      w_.Timer1->stop();
  }
  void SetLabel8(const std::string& t) override { w_.Label8->setText(q(t)); }
  std::vector<std::string> DiscQueue() const override {
    std::vector<std::string> items;
    for (int i = 0; i < w_.clBox->count(); ++i) items.push_back(w_.clBox->item(i)->text().toStdString());
    return items;
  }
  // The disc progress bar carries the text until the next write starts.
  void ShowDiscStatus(const std::string& t) override {
    w_.pcd->setFormat(t.empty() ? QStringLiteral("%p%") : q(t));
    w_.pcd->setToolTip(q(t));
  }
  void MessageBox(const std::string& t) override { w_.dialogs().message(t); }
  void Beep() override { w_.dialogs().beep(); }
  void Repaint() override { w_.dialogs().repaint(); }
  void ProcessEvents() override { w_.dialogs().process_events(); }
  void PostToUi(std::function<void()> work) override {
    QMetaObject::invokeMethod(&w_, std::move(work), Qt::QueuedConnection);
  }

 private:
  static int Clamp(std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, 0, INT32_MAX)); }
  TFormMain& w_;
};

backup::DiscTexts Texts() {
  const i18n::MessageStrings& m = i18n::messages();
  return {m.CD_Error3_Str, m.CD_Add_File_Str, m.CD_Start_Str, m.CD_Skip1_Str,
          m.CD_Skip2_Str,  m.CD_Write1_Str,   m.CD_Write2_Str};
}

// Opening the speed list rebuilds it first (cbSpeedDropDown).
class SpeedDropDownFilter final : public QObject {
 public:
  SpeedDropDownFilter(TFormMain& w, QComboBox* combo, QObject* parent) : QObject(parent), w_(w), combo_(combo) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    // Only the combo box's own pointer is read until it opens: events also arrive while the
    // window is being taken down.
    if (watched != combo_) return false;
    const bool opens = event->type() == QEvent::MouseButtonPress ||
                       (event->type() == QEvent::KeyPress && (static_cast<QKeyEvent*>(event)->modifiers() & Qt::AltModifier));
    if (opens && combo_->isEnabled()) w_.cbSpeedDropDown();
    return false;
  }

 private:
  TFormMain& w_;
  QComboBox* combo_;
};

class DiscHostObject final : public QObject {
 public:
  explicit DiscHostObject(TFormMain& window) : QObject(&window) {
    setObjectName(QStringLiteral("DiscHost"));
    backup::ApplyDesignValues(host.DiscBurner1);
    host.view = std::make_unique<WindowDiscView>(window);
    host.step = std::make_unique<backup::DiscStep>(host.DiscBurner1, host.options, *host.view, &Texts,
                                                   backup::DiscLog(backup::DiscLog::DefaultFile()));
    window.cbSpeed->installEventFilter(new SpeedDropDownFilter(window, window.cbSpeed, this));
  }
  ~DiscHostObject() override { host.step.reset(); }
  DiscHost host;
};

backup::DiscPanelValues ReadPanel(const TFormMain& w) {
  backup::DiscPanelValues p;
  p.cJoliet = w.cJoliet->isChecked();
  p.cUnderrunProtection = w.cUnderrunProtection->isChecked();
  p.cTestWrite = w.cTestWrite->isChecked();
  p.cImportSession = w.cImportSession->isChecked();
  p.eSession = w.eSession->text().toStdString();
  p.cOPC = w.cOPC->isChecked();
  p.cQuickSaveISO = w.cQuickSaveISO->isChecked();
  p.cBootable = w.cBootable->isChecked();
  p.cShowFiles = w.cShowFiles->isChecked();
  p.cArchiveOnly = w.cArchiveOnly->isChecked();
  p.cEject = w.cEject->isChecked();
  p.cCloseDisc = w.cCloseDisc->isChecked();
  p.cVerifyWrite = w.cVerifyWrite->isChecked();
  p.Label2 = w.Label2->text().toStdString();
  p.eVolLabel = w.eVolLabel->text().toStdString();
  p.sCacheSize = w.sCacheSize->value();
  p.cbSpeed = w.cbSpeed->currentText().toStdString();
  p.cbDrives = w.cbDrives->currentText().toStdString();
  return p;
}

}  // namespace

DiscHost& discHost(TFormMain& window) {
  auto* found = dynamic_cast<DiscHostObject*>(
      window.findChild<QObject*>(QStringLiteral("DiscHost"), Qt::FindDirectChildrenOnly));
  if (found == nullptr) found = new DiscHostObject(window);
  return found->host;
}

// ---- disc panel -------------------------------------------------------------------------------

bool TFormMain::StartDiscPanel() {
  DiscHost& h = discHost(*this);
  h.DiscBurner1.DoDebugMessage(">>> " + windowTitle().toStdString(), 0);
  // While a write runs the recorder and the burner's options belong to it: no device command and
  // no reload until it has ended.
  if (h.step->Busy()) return true;
  h.DiscBurner1.InitializeASPI(true);
  if (!h.DiscBurner1.ASPIInitialized()) {
    dialogs_->message(kAspiErrorText);
    return false;
  }
  runHandler([&] {
    burner::TDiscBurner& b = h.DiscBurner1;
    backup::LoadDiscOptions(platform::ProfileFile(backup::OptionsFilePath()), b, h.options);
    if (!b.Devices().empty()) {
      std::vector<std::string> devices = b.Devices();
      {
        const QSignalBlocker block(cbDrives);
        cbDrives->clear();
        for (const std::string& d : devices) cbDrives->addItem(q(d));
        cbDrives->setCurrentIndex(backup::SelectItem(devices, h.options.CDCins));
      }
      cbDrivesChange();
    }
    cbSpeedDropDown();
    b.DoDebugMessage(" ", 0);
    const backup::DiscPanelValues shown = backup::ShownPanel(b, h.options, ReadPanel(*this));
    cJoliet->setChecked(shown.cJoliet);
    cQuickSaveISO->setChecked(shown.cQuickSaveISO);
    cCloseDisc->setChecked(shown.cCloseDisc);
    eVolLabel->setText(q(shown.eVolLabel));
    cTestWrite->setChecked(shown.cTestWrite);
    cOPC->setChecked(shown.cOPC);
    const bool bootableTicked = shown.cBootable && !cBootable->isChecked();
    cBootable->setChecked(shown.cBootable);
    Label2->setText(q(shown.Label2));
    // Ticking the box from the options runs its click handler, as a tick by the operator does.
    if (bootableTicked) cBootableClick();
    eSession->setText(q(shown.eSession));
    cArchiveOnly->setChecked(shown.cArchiveOnly);
    cVerifyWrite->setChecked(shown.cVerifyWrite);
    cUnderrunProtection->setChecked(shown.cUnderrunProtection);
    cUnderrunProtection->setEnabled((b.Capabilities() & scsi::CAP_UNDERRUN_PROTECTION) != 0);
    sCacheSize->setValue(shown.sCacheSize);
    sCacheSizeChange();
  });
  return true;
}

void TFormMain::SaveDiscOptions() {
  DiscHost& h = discHost(*this);
  if (h.step->Busy()) {
    // Closing while a write runs: the write is stopped (and logged as cancelled) before the
    // options it reads are changed.
    h.step->bAbortClick();
    h.DiscBurner1.WaitForBurn();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
  }
  runHandler([&] {
    const backup::DiscPanelValues panel = ReadPanel(*this);
    if (backup::ApplyPanel(panel, h.DiscBurner1, h.options)) dialogs_->message(i18n::messages().Session_Str);
    platform::ProfileFile file(backup::OptionsFilePath());
    backup::WriteDiscOptions(file, panel, h.DiscBurner1);
    // Closing writes the speed and the recorder once more.
    backup::WriteSpeedAndRecorder(file, panel);
  });
}

void TFormMain::cbDrivesChange() {
  DiscHost& h = discHost(*this);
  if (h.step->Busy()) return;  // the running write owns the recorder
  const std::string id = cbDrives->currentText().toStdString();
  h.DiscBurner1.SetDeviceID(id);
  cbDrives->setToolTip(q(id));
  const char letter = h.DiscBurner1.GetDriveLetter();
  const std::string drive = i18n::messages().Drive_Str;
  lDrive->setText(q(letter != '\0' ? drive + " " + letter + ":" : drive + " :"));
}

void TFormMain::cbSpeedDropDown() {
  DiscHost& h = discHost(*this);
  if (h.step->Busy()) return;  // the running write owns the recorder
  const std::vector<std::string> items = backup::BuildSpeedList(h.DiscBurner1);
  const QSignalBlocker block(cbSpeed);
  cbSpeed->clear();
  for (const std::string& s : items) cbSpeed->addItem(q(s));
  cbSpeed->setCurrentIndex(h.options.CDSpeed.empty() ? 0 : backup::SelectItem(items, h.options.CDSpeed));
}

void TFormMain::cBootableClick() {
  if (!cBootable->isChecked()) return;
  ui::FileRequest request;
  request.filter = "All Image Files|*.IMG;*.IMA;*.BIN|All Files|*.*";
  request.default_extension = "*.Img";
  request.initial_file = Label2->text().toStdString();
  const std::optional<std::string> chosen = dialogs_->open_file(request);
  if (chosen)
    Label2->setText(q(*chosen));
  else
    cBootable->setChecked(false);
}

// ---- disc step --------------------------------------------------------------------------------

void TFormMain::bBurnClick() {
  runHandler([this] { discHost(*this).step->bBurnClick(); });
}

void TFormMain::bAbortClick() { discHost(*this).step->bAbortClick(); }

void TFormMain::Timer1Timer() { discHost(*this).step->Timer1Timer(); }

}  // namespace orv::app
