#include "service/service_host.h"

#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "backup/disc/disc_options.h"
#include "dal/sqlite_driver.h"
#include "i18n/language_query.h"
#include "i18n/messages.h"
#include "platform/instance_lock.h"
#include "server/server_driver.h"
#include "settings/connection/server_connection.h"

namespace orv::service {

namespace {

constexpr const char* kSettingsKey = "settings database";
constexpr const char* kServerKey = "database server";
constexpr const char* kLanguageKey = "message texts";

std::uintmax_t FileSize(const std::filesystem::path& f) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(f, ec);
  return ec ? 0 : size;
}

// The lines appended to `file` after byte `from`.
std::vector<std::string> LinesFrom(const std::filesystem::path& file, std::uintmax_t from) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  if (!in) return lines;
  in.seekg(static_cast<std::streamoff>(from));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

// ---- the disc step without a screen ------------------------------------------------------------

class ServiceDiscView final : public backup::DiscView {
 public:
  ServiceDiscView(ThrottledReporter& reporter, LoggingDialogs& dialogs, backup::DiscOptionValues& values,
                  burner::TDiscBurner& burner, const ServiceRunView& run_view)
      : reporter_(reporter), dialogs_(dialogs), values_(values), burner_(burner), run_view_(run_view) {}
  void SetDeviceBufferMaximum(std::int64_t) override {}
  void SetDeviceBufferPosition(std::int64_t) override {}
  void SetCachePercent(int) override {}
  void SetTrackMaximum(std::int64_t sectors) override { track_max_ = sectors; }
  void SetTrackPosition(std::int64_t sectors) override {
    if (track_max_ > 0) reporter_.Report("disc " + std::to_string(sectors * 100 / track_max_) + "%");
  }
  void SetSizeText(const std::string&) override {}
  std::string ThousandsSeparator() const override { return ","; }
  std::string DecimalSeparator() const override { return "."; }
  std::string SelectedSpeedForWrite() override {
    const std::vector<std::string> items = backup::BuildSpeedList(burner_);
    if (items.empty()) return "";
    const int i = values_.CDSpeed.empty() ? 0 : backup::SelectItem(items, values_.CDSpeed);
    return items[static_cast<std::size_t>(i < 0 ? 0 : i)];
  }
  void SetAbortVisible(bool) override {}
  void SetTimer1Enabled(bool on) override { timer1_ = on; }
  void SetLabel8(const std::string&) override {}
  std::vector<std::string> DiscQueue() const override { return run_view_.DiscQueue(); }
  void ShowDiscStatus(const std::string& text) override {
    if (!text.empty()) dialogs_.Note("disc", text);
  }
  void MessageBox(const std::string& text) override { dialogs_.message(text); }
  void Beep() override {}
  void Repaint() override {}
  void ProcessEvents() override {}
  void PostToUi(std::function<void()> work) override {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(work));
  }
  // Runs what the write thread posted.
  void RunPosted() {
    std::vector<std::function<void()>> work;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      work.swap(posted_);
    }
    for (auto& w : work) w();
  }
  bool timer1() const { return timer1_; }

 private:
  ThrottledReporter& reporter_;
  LoggingDialogs& dialogs_;
  backup::DiscOptionValues& values_;
  burner::TDiscBurner& burner_;
  const ServiceRunView& run_view_;
  std::int64_t track_max_ = 0;
  bool timer1_ = false;
  std::mutex mutex_;
  std::vector<std::function<void()>> posted_;
};

struct ServiceHost::Disc {
  burner::TDiscBurner burner;
  backup::DiscOptionValues values;
  std::unique_ptr<ServiceDiscView> view;
  std::unique_ptr<backup::DiscStep> step;
};

backup::DiscTexts DiscTexts() {
  const i18n::MessageStrings& m = i18n::messages();
  return {m.CD_Error3_Str, m.CD_Add_File_Str, m.CD_Start_Str, m.CD_Skip1_Str,
          m.CD_Skip2_Str,  m.CD_Write1_Str,   m.CD_Write2_Str};
}

// ---- host --------------------------------------------------------------------------------------

ServiceHost::ServiceHost(Options options)
    : options_(std::move(options)),
      err_(*options_.err),
      dialogs_(options_.log, *options_.clock, err_),
      reporter_(err_, options_.ticker ? options_.ticker : SteadyTicker()),
      progress_(reporter_),
      view_(reporter_, err_),
      notice_(options_.notice, [this](const std::string& outcome, const std::string& text) { dialogs_.Note(outcome, text); }) {
  dal::register_sqlite_driver();
  server::register_server_driver();
  data_.installation_folder = options_.installation_folder.string();
  archiver_.DLLDirectory = options_.zip_engine_folder;
  archiver_.ApplicationTitle = ui::Dialogs::kApplicationTitle;
  const std::atomic<bool>* stop = options_.stop;
  // A stop asked while the archiver packs ends the archive step at its next block.
  archiver_.OnCheckTerminate = [stop](zip::TZipArchiver*, bool& abort) {
    if (stop != nullptr && stop->load()) abort = true;
  };
  run_ = std::make_unique<backup::BackupRun>(backup::BackupRun::Ports{
      &data_, &dialogs_, options_.clock, &view_, &progress_, &archiver_, options_.log});
  run_->SetStopRequested([stop] { return stop != nullptr && stop->load(); });
  view_.start_disc = [this] {
    if (!disc_) SetUpDisc();
    if (disc_) disc_->step->bBurnClick();
  };
}

ServiceHost::~ServiceHost() {
  StopDisc();
  run_.reset();
  disc_.reset();
}

bool ServiceHost::Connect() {
  if (!data_.ADOConnection1.connected()) {
    try {
      data_.store.Open(options_.installation_folder);
      dialogs_.Cleared(kSettingsKey);
    } catch (const std::exception& e) {
      dialogs_.ErrorOnce(kSettingsKey, e.what());
      return false;
    }
    // The run's boxes and status lines in the language chosen in the window.
    try {
      i18n::QueryLanguageTable table(data_.ADOQueryLanguage);
      i18n::load_message_strings(table);
      dialogs_.Cleared(kLanguageKey);
    } catch (const std::exception& e) {
      dialogs_.ErrorOnce(kLanguageKey, e.what());
    }
  }
  if (!data_.ADOConnectionSQLC.connected()) {
    try {
      const std::string mode = settings::ServerCheck();
      if (mode == "100") throw std::runtime_error("no database server is registered (server.ini)");
      (void)data_.server.StartupConnect(data_.store, mode);
      dialogs_.Cleared(kServerKey);
    } catch (const std::exception& e) {
      data_.ADOConnectionSQLC.close();
      dialogs_.ErrorOnce(kServerKey, e.what());
      return false;
    }
  }
  return true;
}

void ServiceHost::Refresh() {
  // Another process (the window, orvakell-schedule) may have changed the rows since the last
  // tick: read them again. Only changed fields are ever written back.
  data_.ADOTableDatabase.close();
  data_.ADOTableDatabase.open();
  data_.ADOTableSystem.close();
  data_.ADOTableSystem.open();
}

ServiceHost::TickResult ServiceHost::Tick() {
  notice_.Poll();
  if (!Connect()) return TickResult::NotConnected;
  try {
    Refresh();
    dialogs_.Cleared(kSettingsKey);
  } catch (const std::exception& e) {
    dialogs_.ErrorOnce(kSettingsKey, e.what());
    data_.store.ADOConnection1.close();
    return TickResult::NotConnected;
  }
  platform::InstanceLock run_lock(platform::run_lock_file());
  if (run_lock.state() == platform::InstanceLock::State::HeldElsewhere) {
    if (!deferred_noted_) dialogs_.Note("deferred", "a backup run of another process is in progress; due runs follow it");
    deferred_noted_ = true;
    return TickResult::Deferred;
  }
  deferred_noted_ = false;
  if (run_lock.state() == platform::InstanceLock::State::Unavailable)
    dialogs_.ErrorOnce("run lock", run_lock.error());
  const std::uintmax_t log_size = FileSize(options_.log.file());
  const int boxes = dialogs_.boxes();
  bool ran = false;
  if (!caught_up_) {
    ran = !run_->CatchUpMissedRuns().empty();
    caught_up_ = true;
  } else {
    run_->Timer2Timer();
    ran = FileSize(options_.log.file()) != log_size;
  }
  if (dialogs_.boxes() == boxes) dialogs_.ForgetRepeats();
  if (ran) NoticeFailures(log_size);
  return ran ? TickResult::Ran : TickResult::Idle;
}

void ServiceHost::NoticeFailures(std::uintmax_t log_size_before) {
  const std::vector<std::string> lines = LinesFrom(options_.log.file(), log_size_before);
  for (const std::string& l : lines)
    if (backup::IsFailureLine(l)) {
      notice_.Start(lines);
      return;
    }
}

void ServiceHost::Reload() {
  dialogs_.Note("reload", "rereading server.ini and ORVAKELL.ini");
  data_.ADOConnectionSQLC.close();
  notice_.set_config(ReadFailureNoticeConfig(ServiceConfigPath()));
  if (disc_ && !disc_->step->Busy()) LoadDiscOptions();
}

void ServiceHost::SetUpDisc() {
  if (!options_.disc) return;
  auto d = std::make_unique<Disc>();
  backup::ApplyDesignValues(d->burner);
  d->view = std::make_unique<ServiceDiscView>(reporter_, dialogs_, d->values, d->burner, view_);
  d->step = std::make_unique<backup::DiscStep>(d->burner, d->values, *d->view, &DiscTexts,
                                               backup::DiscLog(options_.log.file()));
  disc_ = std::move(d);
  LoadDiscOptions();
}

void ServiceHost::LoadDiscOptions() {
  burner::TDiscBurner& b = disc_->burner;
  b.InitializeASPI(true);
  if (!b.ASPIInitialized()) {
    dialogs_.ErrorOnce("recorder", "no access to the recorders (SCSI generic devices)");
    return;
  }
  backup::LoadDiscOptions(platform::ProfileFile(backup::OptionsFilePath()), b, disc_->values);
  const std::vector<std::string>& devices = b.Devices();
  if (devices.empty()) {
    dialogs_.ErrorOnce("recorder", "no recorder found");
    return;
  }
  const int i = backup::SelectItem(devices, disc_->values.CDCins);
  b.SetDeviceID(devices[static_cast<std::size_t>(i < 0 ? 0 : i)]);
  dialogs_.Cleared("recorder");
}

bool ServiceHost::CancelStatement() { return data_.ADOConnectionSQLC.cancel(); }

void ServiceHost::StopDisc() {
  if (!disc_ || !disc_->step->Busy()) return;
  disc_->step->bAbortClick();
  disc_->burner.WaitForBurn();
  disc_->view->RunPosted();
  // A write that had ended is being read back on its own thread: its result is logged too.
  while (disc_->step->Busy()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    disc_->view->RunPosted();
  }
}

void ServiceHost::RunPosted() {
  if (disc_) disc_->view->RunPosted();
  notice_.Poll();
}

bool ServiceHost::DiscBusy() const { return disc_ && disc_->step->Busy(); }

void ServiceHost::DiscTimer() {
  if (disc_ && disc_->view->timer1()) disc_->step->Timer1Timer();
}

}  // namespace orv::service
