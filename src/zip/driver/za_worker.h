// TZAWorker: the archiver's operation driver. It checks an operation's preconditions, builds
// the engine's command record, calls the library, answers its callbacks while it runs (turning
// them into the archiver's events), shows errors through the archiver's messages, and keeps the
// archive's entry list, which it reads itself.
//
// Ownership: one per archiver component, created and freed with it; it owns the entry list.
// Threading: everything runs on the thread that called the archiver; the library calls back on
// that thread. Errors: never thrown to the caller; each is shown (dialog unless Unattended, and
// OnMessage) and the operation ends with SuccessCnt 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/dirreader/zip_dir_reader.h"
#include "zip/driver/za_dynamic_bind.h"
#include "zip/driver/za_records.h"

namespace orv::zip {

class TZAWorker : public TZADynamicBind {
 public:
  TZAWorker() = default;
  ~TZAWorker() override = default;

  ZASettings Settings;  // copied in by the archiver's start step
  bool Active = false;

  // Becomes active; runs a directory reading that was asked for while inactive.
  void SetActive(bool active);

  const std::string& ZipFileName() const { return zip_file_name_; }
  void SetZipFileName(const std::string& name) { zip_file_name_ = name; }
  // Reads the archive's directory into the entry list (deferred while inactive). Returns 0 or
  // the number of the message shown; after an error the archive name is cleared.
  int List();
  const std::vector<ZipDirEntry>& ZipContents() const { return directory_.Entries; }
  const ZipDirectoryState& Directory() const { return directory_; }
  const std::string& ZipComment() const { return directory_.ZipComment; }

  // The tool's two operations.
  void Add();
  void Extract();

  int SuccessCnt = 0;
  bool Cancel = false;
  bool AddBusy() const { return add_busy_; }
  bool ExtractBusy() const { return extract_busy_; }
  const std::string& HandlerFault() const { return handler_fault_; }
  int32_t AbortHandle() const { return abort_handle_; }

  // The function whose address goes into the command records.
  static int32_t LibraryCallback(void* caller, ZE_CallbackRecord* record);

 private:
  int32_t HandleCallback(ZE_CallbackRecord& r);
  void DispatchCallback(int kind, ZE_CallbackRecord& r);
  void AddChecks();
  bool ExtractChecks(std::string& folder);  // false: stop (an error was shown)
  void ShowLibraryFailure(int32_t result);
  void ClearSpecs();

  std::string zip_file_name_;
  ZipDirectoryState directory_;
  bool list_pending_ = false;
  bool add_busy_ = false;
  bool extract_busy_ = false;
  bool in_library_call_ = false;
  std::string handler_fault_;
  std::string library_text_;  // text of the last failure the library reported (kind 4)
  int32_t abort_handle_ = 0;
};

}  // namespace orv::zip
