#include "zip/driver/za_worker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "zip/messages/message_ids.h"

namespace orv::zip {

namespace fs = std::filesystem;

namespace {

std::string full_path(const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
}

void put_reply_text(ZE_CallbackRecord& r, const std::string& text, size_t max) {
  const size_t n = std::min(text.size(), std::min(max, ZE_REPLY_CAPACITY - 1));
  char* p = ZE_ReplyBuffer(&r);
  std::memcpy(p, text.data(), n);
  p[n] = '\0';
}

}  // namespace

void TZAWorker::SetActive(bool active) {
  Active = active;
  if (Active && list_pending_) {
    list_pending_ = false;
    (void)List();
  }
}

int TZAWorker::List() {
  directory_.Clear();
  if (!Active) {
    list_pending_ = true;
    return 0;
  }
  if (zip_file_name_.empty()) return 0;
  ZipDirReaderOptions options;
  options.UseDirOnlyEntries = Settings.UseDirOnlyEntries;
  options.CodePage = Settings.CodePage;
  ZipDirReaderEvents events;
  events.OnProgress = [this](ProgressType kind, const std::string& name, int64_t size) { ReportProgress(kind, name, size); };
  events.OnNewName = Events.OnNewName;
  events.OnDirUpdate = Events.OnDirUpdate;
  events.Cancel = [this] { return Cancel; };
  events.Busy = [this](bool busy) { busy ? StartWaitCursor() : StopWaitCursor(); };
  const int error = ReadZipDirectoryFile(zip_file_name_, options, events, Messenger, directory_);
  if (error != 0) {
    ErrCode = error;
    ErrMessage = Messenger.Message;
    zip_file_name_.clear();
  }
  return error;
}

void TZAWorker::ClearSpecs() {
  Settings.FSpecArgs.clear();
  Settings.FSpecArgsExcl.clear();
}

void TZAWorker::AddChecks() {
  using O = AddOptsEnum;
  AddOpts& o = Settings.AddOptions;
  if (Settings.FSpecArgs.empty()) {
    if (!(o.contains(O::AddFreshen) || o.contains(O::AddUpdate))) throw EZipArchiver(msg::NoFilesToZip);
    o.erase(O::AddUpdate);
    o.insert(O::AddFreshen);
    Settings.FSpecArgs.push_back("*.*");
  }
  if (o.contains(O::AddDiskSpanErase)) {
    o.insert(O::AddDiskSpan);
    Settings.SpanOptions.insert(SpanOptsEnum::spWipeFiles);
  }
  if (Settings.Unattended && o.contains(O::AddEncrypt) && Settings.Password.empty())
    throw EZipArchiver(msg::UnattendedNeedsPassword);
  if (zip_file_name_.empty()) throw EZipArchiver(msg::NoZipFileSpecified);
  // Linux has no drive letters: the archive's folder stands for its drive.
  const fs::path archive = full_path(zip_file_name_);
  const fs::path folder = archive.parent_path();
  std::error_code ec;
  if (o.contains(O::AddForceDest)) fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) throw EZipArchiver(msg::DestinationMustExist, {folder.string()});
  // The archive must be writable: an existing one opens for writing, a new one can be made.
  if (fs::exists(archive, ec)) {
    const int fd = ::open(archive.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw EZipArchiver(msg::CannotWriteTo, {archive.string()});
    ::close(fd);
  } else {
    const int fd = ::open(archive.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throw EZipArchiver(msg::CannotWriteTo, {archive.string()});
    ::close(fd);
    ::unlink(archive.c_str());
  }
  Load(ZALoadReason::Operation);
}

void TZAWorker::ShowLibraryFailure(int32_t result) {
  const int ident = MessageForResult(result);
  std::string text = ident == msg::DllCriticalError ? FmtLoadZipStr(ident, {static_cast<long long>(result)})
                                                    : LoadZipStr(ident);
  text += handler_fault_;
  // The library's own reason (a file it could not read, a CRC error) follows on a new line,
  // so that the operator learns why the archive was not made or extracted.
  if (!library_text_.empty()) text += "\r\n" + library_text_;
  ShowExceptionError(EZipArchiver(ident, text, true));
}

void TZAWorker::Add() {
  if (add_busy_) return;
  SuccessCnt = 0;
  ErrCode = 0;
  ErrMessage.clear();
  try {
    AddChecks();
  } catch (const EZipArchiver& e) {
    ShowExceptionError(e);
    ClearSpecs();
    return;
  }
  add_busy_ = true;
  Cancel = false;
  handler_fault_.clear();
  library_text_.clear();
  StartWaitCursor();
  try {
    ZARecordBuilder builder;
    ZE_ZipCommand& cmd = builder.BuildAdd(Settings, full_path(zip_file_name_), directory_.ZipComment, this,
                                          &TZAWorker::LibraryCallback);
    in_library_call_ = true;
    const int32_t result = CallZipExec(cmd);
    in_library_call_ = false;
    if (result < 0) ShowLibraryFailure(result);
    else SuccessCnt = result;
  } catch (const EZipArchiver& e) {
    in_library_call_ = false;
    ShowExceptionError(EZipArchiver(e.Ident(), e.what() + handler_fault_, true));
  } catch (const std::exception&) {
    in_library_call_ = false;
    ShowExceptionError(EZipArchiver(msg::FatalDllError));
  }
  ClearSpecs();
  StopWaitCursor();
  Release(ZALoadReason::Operation);
  Cancel = false;
  add_busy_ = false;
  if (SuccessCnt > 0) (void)List();
}

bool TZAWorker::ExtractChecks(std::string& folder) {
  using O = ExtrOptsEnum;
  if (zip_file_name_.empty()) throw EZipArchiver(msg::NoZipFileSpecified);
  if (directory_.Entries.empty()) {
    const int before = ErrCode;
    ErrCode = 0;
    const int error = List();
    if (directory_.Entries.empty()) {
      if (error == 0 && ErrCode == 0) throw EZipArchiver(msg::ZipFileNotOpened);
      if (ErrCode == 0) ErrCode = before;
      return false;  // the reading showed its own error
    }
  }
  folder.clear();
  if (!Settings.ExtrBaseDir.empty() && !Settings.ExtrOptions.contains(O::ExtrTest)) {
    folder = full_path(Settings.ExtrBaseDir);
    if (folder.back() != '/') folder += '/';
    std::error_code ec;
    if (Settings.ExtrOptions.contains(O::ExtrForceDirs)) fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) throw EZipArchiver(msg::ExtractDirMustExist, {folder});
    std::string scratch = folder + "tmpXXXXXX";
    const int fd = ::mkstemp(scratch.data());
    if (fd < 0) throw EZipArchiver(msg::CannotWriteTo, {folder});
    ::close(fd);
    ::unlink(scratch.c_str());
  }
  Load(ZALoadReason::Operation);
  return true;
}

void TZAWorker::Extract() {
  if (extract_busy_) return;
  SuccessCnt = 0;
  ErrCode = 0;
  ErrMessage.clear();
  const int saved_req_count = Settings.PasswordReqCount;
  extract_busy_ = true;
  Cancel = false;
  std::string folder;
  bool loaded = false;
  try {
    loaded = ExtractChecks(folder);
  } catch (const EZipArchiver& e) {
    ShowExceptionError(e);
  }
  if (loaded) {
    handler_fault_.clear();
    library_text_.clear();
    int req_count = Settings.PasswordReqCount;
    if (Settings.Unattended && Settings.Password.empty() && !Events.OnPasswordError) {
      req_count = 0;
      Messenger.PassMessage(msg::UnattendedExtractWarning, LoadZipStr(msg::UnattendedExtractWarning));
    }
    try {
      ZARecordBuilder builder;
      ZE_UnzipCommand& cmd = builder.BuildExtract(Settings, full_path(zip_file_name_), folder, req_count, this,
                                                  &TZAWorker::LibraryCallback);
      in_library_call_ = true;
      const int32_t result = CallUnzExec(cmd);
      in_library_call_ = false;
      if (result < 0) ShowLibraryFailure(result);
      else SuccessCnt = result;
    } catch (const EZipArchiver& e) {
      in_library_call_ = false;
      ShowExceptionError(e);
    } catch (const std::exception&) {
      in_library_call_ = false;
      ShowExceptionError(EZipArchiver(msg::FatalDllError));
    }
    Release(ZALoadReason::Operation);
  }
  extract_busy_ = false;
  ClearSpecs();
  Settings.PasswordReqCount = saved_req_count;
  Cancel = false;
}

int32_t TZAWorker::LibraryCallback(void* caller, ZE_CallbackRecord* record) {
  if (caller == nullptr || record == nullptr) return 1;
  return static_cast<TZAWorker*>(caller)->HandleCallback(*record);
}

int32_t TZAWorker::HandleCallback(ZE_CallbackRecord& r) {
  const int kind = r.ActionCode & 63;
  if (kind == ZE_CB_ABORT_HANDLE) {
    abort_handle_ = r.Arg1;
    SetAbortHandle(r.Arg1);
    return handler_fault_.empty() ? (Cancel ? 1 : 0) : 10106;
  }
  try {
    DispatchCallback(kind, r);
    if (Events.OnCheckTerminate) Events.OnCheckTerminate(Cancel);
    else if (!OutsideMainThread() && Ports.ProcessMessages) Ports.ProcessMessages();
  } catch (const std::exception& e) {
    if (handler_fault_.empty()) handler_fault_ = " #" + std::to_string(kind) + " \"" + e.what() + "\"";
    Cancel = true;
  } catch (...) {
    if (handler_fault_.empty()) handler_fault_ = " #" + std::to_string(kind) + " \"unknown error\"";
    Cancel = true;
  }
  if (!handler_fault_.empty()) return 10106;
  return Cancel ? 1 : 0;
}

void TZAWorker::DispatchCallback(int kind, ZE_CallbackRecord& r) {
  const std::string name = r.MsgP ? r.MsgP : "";
  if (r.IsOperationZip) SetWritten(r.Written);
  switch (kind) {
    case ZE_CB_TICK:
      if (Events.OnTick) Events.OnTick();
      break;
    case ZE_CB_NEW_FILE:
      ReportProgress(ProgressType::NewFile, name, r.FileSize);
      break;
    case ZE_CB_PROGRESS:
      ReportProgress(ProgressType::ProgressUpdate, {}, r.FileSize);
      break;
    case ZE_CB_END_OF_BATCH:
      ReportProgress(ProgressType::EndOfBatch, {}, 0);
      break;
    case ZE_CB_MESSAGE:
      if (r.Arg1 != 0) {
        ErrCode = r.Arg1 & 0xFF;
        ErrMessage = (r.Arg1 == 9 && !handler_fault_.empty()) ? LoadZipStr(msg::ExceptionInEvent) : name;
        library_text_ = ErrMessage;
      }
      Messenger.PassMessage(r.Arg1, name);
      break;
    case ZE_CB_TOTAL_FILES:
      ReportProgress(ProgressType::TotalFiles2Process, {}, r.Arg1);
      break;
    case ZE_CB_TOTAL_SIZE:
      ReportProgress(ProgressType::TotalSize2Process, {}, r.FileSize);
      break;
    case ZE_CB_NEW_NAME: {
      std::string changed = name;
      const std::string source = r.Msg2P ? r.Msg2P : "";
      if (Events.OnSetNewName) Events.OnSetNewName(changed);
      if (Events.OnSetAddName) Events.OnSetAddName(changed, source);
      if (changed != name) {
        put_reply_text(r, changed, 512);
        r.ActionCode = -1;
      }
      break;
    }
    case ZE_CB_PASSWORD: {
      const bool is_add = r.IsOperationZip != 0;
      std::string password;
      int count = r.Arg1;
      bool cancel_all = false;
      if (Events.OnPasswordError) {
        Events.OnPasswordError(is_add, password, count, cancel_all);
      } else if (Settings.Unattended) {
        const int ident = is_add ? msg::NoAddPassword : msg::NoExtractPassword;
        Messenger.PassMessage(ident, LoadZipStr(ident));
      } else {
        const ZipDialogAnswer a = Messenger.Ask(ZipDialogKind::Password, LoadZipStr(msg::EnterPassword),
                                                kZipButtonsOKCancel | ZipButtonBit(ZipButton::CancelAll) |
                                                    ZipButtonBit(ZipButton::Abort));
        if (a.pressed == ZipButton::OK) password = a.password;
        if (a.pressed == ZipButton::CancelAll) cancel_all = true;
        if (a.pressed == ZipButton::Abort) Cancel = true;
        if (is_add && a.pressed == ZipButton::OK) {
          const ZipDialogAnswer b = Messenger.Ask(ZipDialogKind::Password, LoadZipStr(msg::ConfirmPassword), kZipButtonsOKCancel);
          if (b.password != password) {
            ShowZipMessage(msg::PasswordsDiffer);
            password.clear();
          }
        }
      }
      r.Arg1 = std::min(count, 15);
      if (cancel_all) {
        r.ActionCode = -3;
      } else if (!password.empty()) {
        put_reply_text(r, password, 80);
        r.ActionCode = -1;
      } else {
        r.Arg1 = 0;
        r.ActionCode = -2;
      }
      break;
    }
    case ZE_CB_CRC_ERROR:
      if (Events.OnCRC32Error) {
        bool anyway = false;
        Events.OnCRC32Error(name, static_cast<uint32_t>(r.Arg1), static_cast<uint32_t>(r.Arg2), anyway);
        r.ActionCode = anyway ? -1 : -3;
      }
      break;
    case ZE_CB_OVERWRITE:
      if (Events.OnExtractOverwrite) {
        bool overwrite = r.Arg1 != 0;
        Events.OnExtractOverwrite(name, r.Arg3 != 2, overwrite, r.Arg2);
        r.ActionCode = overwrite ? -1 : -2;
      }
      break;
    case ZE_CB_SKIPPED:
      if (r.Arg1 != 0) ErrCode = r.Arg1 & 0xFF;
      if (Events.OnExtractSkipped) {
        Events.OnExtractSkipped(name, static_cast<UnZipSkipTypes>(r.Arg2 - 1), r.Arg1);
      } else {
        Messenger.PassMessage(msg::UnknownErrorCode, FmtLoadZipStr(msg::SkippedFile, {name, static_cast<long long>(r.Arg2)}));
      }
      break;
    case ZE_CB_COMMENT:
      if (Events.OnFileComment) {
        std::string comment = r.Msg2P ? r.Msg2P : "";
        bool changed = false;
        Events.OnFileComment(name, comment, changed);
        if (changed) {
          put_reply_text(r, comment, 511);
          r.Arg1 = static_cast<int32_t>(std::min<size_t>(comment.size(), 511));
          r.ActionCode = -1;
        }
      }
      break;
    case ZE_CB_NEW_EXTRA:
      ReportProgress(ProgressType::NewExtra, name, r.FileSize);
      break;
    case ZE_CB_EXTRA_PROGRESS:
      ReportProgress(ProgressType::ExtraUpdate, {}, r.FileSize);
      break;
    case ZE_CB_EXTRACT_NAME:
      if (Events.OnSetExtName) {
        std::string changed = name;
        Events.OnSetExtName(changed);
        const bool old_sep = !name.empty() && name.back() == '/';
        const bool new_sep = !changed.empty() && changed.back() == '/';
        if (changed != name && old_sep == new_sep) {
          put_reply_text(r, changed, 512);
          r.ActionCode = -1;
        }
      }
      break;
    default:  // stream size (13) and extra data (14): not used by this driver
      break;
  }
}

}  // namespace orv::zip
