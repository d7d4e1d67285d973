// TZipArchiver: the non-visual archiver component. It holds the settings of zip operations,
// runs each operation through its operation driver TZAWorker (which calls the zip engine
// library libZipEngine179.so), reads an archive's directory, and reports through events.
//
// The tool uses four services: ZipFileName (set: reads the directory), Count and Entries, Add
// (packs FSpecArgs into ZipFileName) and Extract (unpacks into ExtrBaseDir). Every operation is
// a guarded run: while loading the result is -256, while inactive or already busy -255, a start
// failure gives its message number (or -9). FSpecArgs and FSpecArgsExcl are empty after Add and
// Extract.
//
// Ownership: the archiver owns its driver and the entry list. Threading: one thread (the
// user-interface thread in the tool); handlers run on it during an operation. Errors: never
// thrown to the caller; shown in the archiver's message dialog (unless Unattended) and passed
// to OnMessage; the operation's result is then 0 or the start error.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/driver/za_worker.h"

namespace orv::zip {

class TZipArchiver;

using TProgressEvent = std::function<void(TZipArchiver* Sender, ProgressType ProgrType, const std::string& Filename,
                                          int64_t FileSize)>;
using TMessageEvent = std::function<void(TZipArchiver* Sender, int ErrCode, const std::string& Message)>;
using TCheckTerminateEvent = std::function<void(TZipArchiver* Sender, bool& abort)>;
using TNotifyEvent = std::function<void(TZipArchiver* Sender)>;
using TItemProgressEvent = std::function<void(TZipArchiver* Sender, const std::string& Item, int64_t TotalSize, int PerCent)>;
using TTotalProgressEvent = std::function<void(TZipArchiver* Sender, int64_t TotalSize, int PerCent)>;
using TProgressDetailsEvent = std::function<void(TZipArchiver* Sender, const TProgressDetails& details)>;
using TNewNameEvent = std::function<void(TZipArchiver* Sender, int SeqNo, const ZipDirEntry& ZipEntry)>;
using TSetNameEvent = std::function<void(TZipArchiver* Sender, std::string& Name)>;
using TSetAddNameEvent = std::function<void(TZipArchiver* Sender, std::string& NewName, const std::string& ExtName)>;
using TCRC32ErrorEvent = std::function<void(TZipArchiver* Sender, const std::string& ForFile, uint32_t FoundCRC,
                                            uint32_t ExpectedCRC, bool& DoExtract)>;
using TExtractOverwriteEvent = std::function<void(TZipArchiver* Sender, const std::string& ForFile, bool IsOlder,
                                                  bool& DoOverwrite, int DirIndex)>;
using TExtractSkippedEvent = std::function<void(TZipArchiver* Sender, const std::string& ForFile,
                                                UnZipSkipTypes SkipType, int ExtError)>;
using TPasswordErrorEvent = std::function<void(TZipArchiver* Sender, bool IsZipAction, std::string& NewPassword,
                                               int& RequestCount, bool& CancelAll)>;

class TCustomZipArchiver {
 public:
  TCustomZipArchiver();
  virtual ~TCustomZipArchiver();
  TCustomZipArchiver(const TCustomZipArchiver&) = delete;
  TCustomZipArchiver& operator=(const TCustomZipArchiver&) = delete;

  // Activity. The component starts active (the value in force in the tool). BeginLoading marks
  // it as being loaded (operations give -256); Loaded ends that and activates when Active.
  bool Active() const { return active_; }
  void SetActive(bool active);
  void BeginLoading();
  void Loaded();

  // Settings (published properties; values in force in the tool as defaults).
  int AddCompLevel = 9;
  uint32_t AddFrom = 0;
  AddOpts AddOptions;
  AddStoreExts AddStoreSuffixes = DefaultAddStoreSuffixes();
  CodePageOpts CodePage = CodePageOpts::cpAuto;
  bool ConfirmErase = true;
  std::string ExtAddStoreSuffixes;
  std::string ExtrBaseDir;
  ExtrOpts ExtrOptions;
  std::vector<std::string> FSpecArgs;
  std::vector<std::string> FSpecArgsExcl;
  TDeleteOpts HowToDelete = TDeleteOpts::htdAllowUndo;
  int64_t KeepFreeOnAllDisks = 0;
  int64_t KeepFreeOnDisk1 = 0;
  int64_t MaxVolumeSize = 0;
  int64_t MinFreeVolumeSize = 65536;
  std::string Password;
  int PasswordReqCount = 1;
  std::string RootDir;
  SpanOpts SpanOptions;
  std::string TempDir;
  bool Trace = false;
  bool Unattended = false;
  bool UseDirOnlyEntries = false;
  bool Verbose = false;
  std::string DLLDirectory;   // folder of libZipEngine179.so ("" = the loader's search order)
  void* Handle = nullptr;     // the application window handle handed to the library
  std::string ApplicationTitle;
  ZipDialogPort* Dialogs = nullptr;  // where the message dialog is drawn; not owned
  ZAPorts Ports;                     // busy cursor and message pumping

  bool Dll_Load() const { return dll_load_; }
  void SetDll_Load(bool load);
  static const char* Version() { return "1.79.03.01"; }
  static const char* VersionInfo() { return "1.79.03.01"; }

  // The archive: setting it reads its directory (guarded run; deferred while inactive).
  const std::string& ZipFileName() const { return worker_.ZipFileName(); }
  void SetZipFileName(const std::string& name);

  int Count() const;
  const std::vector<ZipDirEntry>& Entries() const { return worker_.ZipContents(); }
  const std::string& ZipComment() const { return worker_.ZipComment(); }

  // Guarded runs of the driver's operations: files processed, or the start error.
  int Add();
  int Extract();

  bool Busy() const { return busy_; }
  int ErrCode() const { return worker_.ErrCode; }
  const std::string& Message() const { return worker_.ErrMessage; }

  // Events.
  TCheckTerminateEvent OnCheckTerminate;
  TItemProgressEvent OnItemProgress;
  TMessageEvent OnMessage;
  TProgressEvent OnProgress;
  TProgressDetailsEvent OnProgressDetails;
  TNotifyEvent OnTick;
  TTotalProgressEvent OnTotalProgress;
  ZipDialogHandler OnZipDialog;
  TCRC32ErrorEvent OnCRC32Error;
  TNotifyEvent OnDirUpdate;
  TExtractOverwriteEvent OnExtractOverwrite;
  TExtractSkippedEvent OnExtractSkipped;
  TNewNameEvent OnNewName;
  TPasswordErrorEvent OnPasswordError;
  TSetAddNameEvent OnSetAddName;
  TSetNameEvent OnSetExtName;
  TSetNameEvent OnSetNewName;

  // The driver, for diagnostics and tests.
  const TZAWorker& Worker() const { return worker_; }

 protected:
  virtual TZipArchiver* Self() = 0;

 private:
  enum class State { Inactive, Active, ActivePending };
  int GuardedRun(const std::function<void()>& operation);
  void CopySettings();
  void BindEvents();

  TZAWorker worker_;
  bool active_ = true;
  bool loading_ = false;
  bool busy_ = false;
  bool reentry_ = false;
  bool deactivate_pending_ = false;
  bool dll_load_ = false;
};

class TZipArchiver : public TCustomZipArchiver {
 public:
  TZipArchiver() = default;

 protected:
  TZipArchiver* Self() override { return this; }
};

}  // namespace orv::zip
