// Building the command records of the zip engine library from the driver's settings: the add
// and extract records, their file specifications (with the ">", "|" and "<" line marks), and
// the texts they point to. A built record owns its copies; they live as long as the builder.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "zip/driver/za_types.h"
#include "zip/engine/ze_api.h"

namespace orv::zip {

// Every value the driver copies from the archiver before an operation.
struct ZASettings {
  int AddCompLevel = 9;
  uint32_t AddFrom = 0;  // MS-DOS packed date and time
  AddOpts AddOptions;
  AddStoreExts AddStoreSuffixes = DefaultAddStoreSuffixes();
  std::string ExtAddStoreSuffixes;
  CodePageOpts CodePage = CodePageOpts::cpAuto;
  std::string ExtrBaseDir;
  ExtrOpts ExtrOptions;
  bool Unattended = false;
  bool Verbose = false;
  bool Trace = false;
  std::vector<std::string> FSpecArgs;
  std::vector<std::string> FSpecArgsExcl;
  void* Handle = nullptr;  // application window handle
  TDeleteOpts HowToDelete = TDeleteOpts::htdAllowUndo;
  std::string Password;
  int PasswordReqCount = 1;
  bool UseDirOnlyEntries = false;
  std::string RootDir;
  std::string TempDir;
  bool ConfirmErase = true;
  int64_t KeepFreeOnAllDisks = 0;
  int64_t KeepFreeOnDisk1 = 0;
  int64_t MaxVolumeSize = 0;
  int64_t MinFreeVolumeSize = 65536;
  SpanOpts SpanOptions;
};

// One parsed line of FSpecArgs for an add.
struct ZAFileSpecLine {
  std::string spec;      // trimmed; "" for an empty line
  bool has_password = false;
  std::string password;
  int32_t encrypt = 0;
  int32_t recurse = 0;
};

// Applies the line marks: a leading ">" recurses (0xFFFF), "|" does not (0); otherwise the
// record's recurse value (low 16 bits). A "<" ends the file name pattern and starts a password
// (encrypt 0xFFFF); "<" followed by nothing or a blank means no encryption for the line.
ZAFileSpecLine ParseAddSpecLine(const std::string& line, int32_t record_encrypt, int32_t record_recurse);

class ZARecordBuilder {
 public:
  // A zero-terminated copy that lives as long as the builder; null for an empty text when
  // null_when_empty.
  const char* Text(const std::string& text, bool null_when_empty = true);

  // The add record for `archive` (expanded to a full path by the caller).
  ZE_ZipCommand& BuildAdd(const ZASettings& s, const std::string& archive, const std::string& comment, void* caller,
                          ZE_CallbackFn callback);
  // The extract record; `extract_dir` "" gives null.
  ZE_UnzipCommand& BuildExtract(const ZASettings& s, const std::string& archive, const std::string& extract_dir,
                                int password_req_count, void* caller, ZE_CallbackFn callback);

 private:
  std::deque<std::string> texts_;
  std::vector<ZE_ZipFileSpec> add_specs_;
  std::vector<ZE_UnzipFileSpec> extract_specs_;
  std::vector<const char*> excludes_;
  ZE_ZipCommand add_{};
  ZE_UnzipCommand extract_{};
};

}  // namespace orv::zip
