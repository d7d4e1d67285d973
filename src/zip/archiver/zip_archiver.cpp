#include "zip/archiver/zip_archiver.h"

#include <unistd.h>

#include <filesystem>

#include "zip/messages/message_ids.h"

namespace orv::zip {

TCustomZipArchiver::TCustomZipArchiver() {
  BindEvents();
  worker_.SetActive(true);
}

TCustomZipArchiver::~TCustomZipArchiver() { worker_.AbortCall(); }

void TCustomZipArchiver::BindEvents() {
  ZAEvents& e = worker_.Events;
  e.OnCheckTerminate = nullptr;  // bound per run, so that an unset handler lets messages pump
  e.OnTick = [this] {
    if (OnTick) OnTick(Self());
  };
  e.OnProgress = [this](ProgressType t, const std::string& name, int64_t size) {
    if (OnProgress) OnProgress(Self(), t, name, size);
  };
  e.OnProgressDetails = [this](const TProgressDetails& d) {
    if (OnProgressDetails) OnProgressDetails(Self(), d);
  };
  e.OnItemProgress = [this](const std::string& item, int64_t size, int percent) {
    if (OnItemProgress) OnItemProgress(Self(), item, size, percent);
  };
  e.OnTotalProgress = [this](int64_t size, int percent) {
    if (OnTotalProgress) OnTotalProgress(Self(), size, percent);
  };
  e.OnNewName = [this](int seq, const ZipDirEntry& entry) {
    if (OnNewName) OnNewName(Self(), seq, entry);
  };
  e.OnDirUpdate = [this] {
    if (OnDirUpdate) OnDirUpdate(Self());
  };
  worker_.Messenger.OnMessage = [this](int code, const std::string& text) {
    if (OnMessage) OnMessage(Self(), code, text);
  };
}

void TCustomZipArchiver::CopySettings() {
  ZASettings& s = worker_.Settings;
  s.KeepFreeOnAllDisks = KeepFreeOnAllDisks;
  s.KeepFreeOnDisk1 = KeepFreeOnDisk1;
  s.MaxVolumeSize = MaxVolumeSize;
  s.MinFreeVolumeSize = MinFreeVolumeSize;
  s.SpanOptions = SpanOptions;
  s.ConfirmErase = ConfirmErase;
  s.AddCompLevel = AddCompLevel;
  s.AddFrom = AddFrom;
  s.AddOptions = AddOptions;
  s.AddStoreSuffixes = AddStoreSuffixes;
  s.ExtAddStoreSuffixes = ExtAddStoreSuffixes;
  s.CodePage = CodePage;
  s.ExtrBaseDir = ExtrBaseDir;
  s.ExtrOptions = ExtrOptions;
  s.Unattended = Unattended;
  s.Verbose = Verbose;
  s.Trace = Trace;
  s.FSpecArgs = FSpecArgs;
  s.FSpecArgsExcl = FSpecArgsExcl;
  s.Handle = Handle;
  s.HowToDelete = HowToDelete;
  s.Password = Password;
  s.PasswordReqCount = PasswordReqCount;
  s.UseDirOnlyEntries = UseDirOnlyEntries;
  s.RootDir = RootDir;
  worker_.DLLDirectory = DLLDirectory;
  s.TempDir = TempDir;
  if (!TempDir.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_directory(TempDir, ec) || ::access(TempDir.c_str(), W_OK) != 0)
      throw EZipArchiver(msg::CannotWriteTo, {TempDir});
  }
  worker_.Messenger.Unattended = Unattended;
  worker_.Messenger.Verbose = Verbose;
  worker_.Messenger.ApplicationTitle = ApplicationTitle;
  worker_.Messenger.Dialogs = Dialogs;
  worker_.Messenger.OnZipDialog = OnZipDialog;
  worker_.Ports = Ports;

  ZAEvents& e = worker_.Events;
  if (OnCheckTerminate) e.OnCheckTerminate = [this](bool& cancel) { OnCheckTerminate(Self(), cancel); };
  else e.OnCheckTerminate = nullptr;
  e.OnSetNewName = OnSetNewName ? std::function<void(std::string&)>([this](std::string& n) { OnSetNewName(Self(), n); }) : nullptr;
  e.OnSetAddName = OnSetAddName ? std::function<void(std::string&, const std::string&)>(
                                      [this](std::string& n, const std::string& src) { OnSetAddName(Self(), n, src); })
                                : nullptr;
  e.OnSetExtName = OnSetExtName ? std::function<void(std::string&)>([this](std::string& n) { OnSetExtName(Self(), n); }) : nullptr;
  e.OnCRC32Error = OnCRC32Error ? std::function<void(const std::string&, uint32_t, uint32_t, bool&)>(
                                      [this](const std::string& f, uint32_t a, uint32_t b, bool& x) { OnCRC32Error(Self(), f, a, b, x); })
                                : nullptr;
  e.OnExtractOverwrite = OnExtractOverwrite ? std::function<void(const std::string&, bool, bool&, int)>(
                                                  [this](const std::string& f, bool older, bool& ow, int i) {
                                                    OnExtractOverwrite(Self(), f, older, ow, i);
                                                  })
                                            : nullptr;
  e.OnExtractSkipped = OnExtractSkipped ? std::function<void(const std::string&, UnZipSkipTypes, int)>(
                                              [this](const std::string& f, UnZipSkipTypes t, int err) { OnExtractSkipped(Self(), f, t, err); })
                                        : nullptr;
  e.OnPasswordError = OnPasswordError ? std::function<void(bool, std::string&, int&, bool&)>(
                                            [this](bool z, std::string& p, int& c, bool& all) { OnPasswordError(Self(), z, p, c, all); })
                                      : nullptr;
}

int TCustomZipArchiver::GuardedRun(const std::function<void()>& operation) {
  if (loading_) return -256;
  if (!active_) return -255;
  if (busy_) {
    reentry_ = true;
    if (Verbose) worker_.Messenger.PassMessage(0, "Re-entry");
    return -255;
  }
  int result = 0;
  try {
    CopySettings();
    worker_.SetActive(true);
    worker_.Prepare();
    busy_ = true;
    if (dll_load_) worker_.Load(ZALoadReason::Keep);
    else worker_.Release(ZALoadReason::Keep);
  } catch (const EZipArchiver& e) {
    worker_.ShowExceptionError(e);
    result = e.Ident();
  } catch (const std::exception& e) {
    // Any other failure of the set-up: result -9, its text kept as the last error.
    worker_.ErrCode = -9;
    worker_.ErrMessage = e.what();
    result = -9;
  }
  if (result == 0) operation();
  // End step, always.
  worker_.RestoreCursor();
  busy_ = false;
  reentry_ = false;
  FSpecArgs = worker_.Settings.FSpecArgs;
  FSpecArgsExcl = worker_.Settings.FSpecArgsExcl;
  if (deactivate_pending_) {
    deactivate_pending_ = false;
    active_ = false;
    worker_.Active = false;
  }
  return result;
}

void TCustomZipArchiver::SetActive(bool active) {
  if (active == active_) return;
  if (!active && busy_) {
    deactivate_pending_ = true;
    return;
  }
  active_ = active;
  if (loading_) return;
  if (active_) (void)GuardedRun([] {});  // activation runs a deferred directory reading
  else worker_.Active = false;
}

void TCustomZipArchiver::BeginLoading() { loading_ = true; }

void TCustomZipArchiver::Loaded() {
  loading_ = false;
  if (active_) (void)GuardedRun([] {});
}

void TCustomZipArchiver::SetDll_Load(bool load) {
  dll_load_ = load;
  if (busy_ || !active_ || loading_) return;
  try {
    worker_.DLLDirectory = DLLDirectory;
    if (load) worker_.Load(ZALoadReason::Keep);
    else worker_.Release(ZALoadReason::Keep);
  } catch (const EZipArchiver& e) {
    worker_.ShowExceptionError(e);
    dll_load_ = false;
  }
}

void TCustomZipArchiver::SetZipFileName(const std::string& name) {
  if (!active_ || loading_) {
    worker_.SetZipFileName(name);
    worker_.Active = false;
    (void)worker_.List();  // marks the reading as pending until activation
    return;
  }
  (void)GuardedRun([this, &name] {
    worker_.SetZipFileName(name);
    (void)worker_.List();
  });
}

int TCustomZipArchiver::Count() const {
  if (!active_ || worker_.ZipFileName().empty()) return 0;
  return static_cast<int>(worker_.ZipContents().size());
}

int TCustomZipArchiver::Add() {
  const int start = GuardedRun([this] { worker_.Add(); });
  return start != 0 ? start : worker_.SuccessCnt;
}

int TCustomZipArchiver::Extract() {
  const int start = GuardedRun([this] { worker_.Extract(); });
  return start != 0 ? start : worker_.SuccessCnt;
}

}  // namespace orv::zip
