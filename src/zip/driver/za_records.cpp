#include "zip/driver/za_records.h"

#include <cstring>
#include <filesystem>

namespace orv::zip {

namespace {

constexpr int32_t kTrue = -1;
int32_t flag(bool b) { return b ? kTrue : 0; }

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  const size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

}  // namespace

ZAFileSpecLine ParseAddSpecLine(const std::string& line, int32_t record_encrypt, int32_t record_recurse) {
  ZAFileSpecLine out;
  out.encrypt = record_encrypt;
  out.recurse = record_recurse & 0xFFFF;
  std::string text = line;
  if (!text.empty() && text[0] == '>') {
    out.recurse = 0xFFFF;
    text.erase(0, 1);
  } else if (!text.empty() && text[0] == '|') {
    out.recurse = 0;
    text.erase(0, 1);
  }
  const size_t lt = text.find('<');
  if (lt != std::string::npos) {
    const std::string rest = text.substr(lt + 1);
    text.erase(lt);
    if (rest.empty() || rest[0] == ' ') {
      out.encrypt = 0;
    } else {
      out.encrypt = 0xFFFF;
      out.has_password = true;
      out.password = rest;
    }
  }
  out.spec = trim(text);
  return out;
}

const char* ZARecordBuilder::Text(const std::string& text, bool null_when_empty) {
  if (text.empty() && null_when_empty) return nullptr;
  texts_.push_back(text);
  return texts_.back().c_str();
}

ZE_ZipCommand& ZARecordBuilder::BuildAdd(const ZASettings& s, const std::string& archive, const std::string& comment,
                                         void* caller, ZE_CallbackFn callback) {
  using O = AddOptsEnum;
  const AddOpts& o = s.AddOptions;
  ZE_ZipCommand& c = add_;
  std::memset(&c, 0, sizeof c);
  c.Handle = s.Handle;
  c.Caller = caller;
  c.Version = 179;
  c.Callback = callback;
  c.Trace = flag(s.Trace);
  if (!s.Password.empty()) c.Password = Text(s.Password.substr(0, 81));
  c.Suffix = Text(StoreSuffixText(s.AddStoreSuffixes, s.ExtAddStoreSuffixes));
  c.Encrypt = flag(o.contains(O::AddEncrypt));
  c.SystemHidden = flag(o.contains(O::AddHiddenFiles));
  c.Volume = flag(o.contains(O::AddVolume));
  c.Extra = 0;
  c.NoDirEntries = flag(!o.contains(O::AddSeparateDirs));
  c.FromDate = flag(o.contains(O::AddFromDate));
  c.Verbose = flag(s.Verbose || s.Trace);
  c.Quiet = kTrue;
  c.Level = s.AddCompLevel;
  c.CRLF_LF = 0;
  c.JunkDir = flag(!o.contains(O::AddDirNames));
  c.Recurse = flag(o.contains(O::AddRecurseDirs));
  c.Force = flag(!o.contains(O::AddSafe));
  c.ForceDOS = flag(o.contains(O::AddForceDOS));
  c.Move = flag(o.contains(O::AddMove));
  c.DeleteEntries = 0;
  c.Update = flag(o.contains(O::AddUpdate));
  c.Freshen = flag(o.contains(O::AddFreshen) && !o.contains(O::AddUpdate));
  c.JunkSFX = 0;
  c.LatestTime = flag(o.contains(O::AddZipTime));
  c.Date = s.AddFrom;
  c.ZipFileName = Text(archive);
  c.TempPath = Text(s.TempDir);
  c.Comment = Text(comment);
  c.ArchiveOnly = o.contains(O::AddArchiveOnly) ? 1 : 0;
  c.ResetArchive = o.contains(O::AddResetArchive) ? 1 : 0;

  add_specs_.assign(s.FSpecArgs.size(), ZE_ZipFileSpec{});
  for (size_t i = 0; i < s.FSpecArgs.size(); ++i) {
    ZE_ZipFileSpec& f = add_specs_[i];
    std::memset(&f, 0, sizeof f);
    const ZAFileSpecLine line = ParseAddSpecLine(s.FSpecArgs[i], c.Encrypt, c.Recurse);
    f.FileSpec = Text(line.spec);
    if (line.has_password) f.Password = Text(line.password);
    f.Encrypt = line.encrypt;
    f.Recurse = line.recurse;
    f.NoRecurseFiles = 0;
  }
  c.Argc = static_cast<int32_t>(add_specs_.size());
  c.FSpecs = add_specs_.empty() ? nullptr : add_specs_.data();
  excludes_.clear();
  for (const std::string& x : s.FSpecArgsExcl) excludes_.push_back(Text(x, false));
  c.ExclCount = static_cast<int32_t>(excludes_.size());
  c.Excludes = excludes_.empty() ? nullptr : excludes_.data();
  c.HowToMove = flag(s.HowToDelete == TDeleteOpts::htdAllowUndo);
  c.CodePage = s.CodePage == CodePageOpts::cpOEM ? 2 : 0;
  c.Version2 = 179;
  if (!s.RootDir.empty()) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(s.RootDir, ec);
    c.RootDir = Text(ec ? s.RootDir : full.string());
  }
  c.Check = 7;
  return c;
}

ZE_UnzipCommand& ZARecordBuilder::BuildExtract(const ZASettings& s, const std::string& archive,
                                               const std::string& extract_dir, int password_req_count, void* caller,
                                               ZE_CallbackFn callback) {
  using O = ExtrOptsEnum;
  const ExtrOpts& o = s.ExtrOptions;
  ZE_UnzipCommand& c = extract_;
  std::memset(&c, 0, sizeof c);
  c.Handle = s.Unattended ? nullptr : s.Handle;
  c.Caller = caller;
  c.Version = 179;
  c.Callback = callback;
  c.Trace = flag(s.Trace);
  c.Password = Text(s.Password, false);
  c.Test = flag(o.contains(O::ExtrTest));
  c.Quiet = kTrue;
  c.Verbose = flag(s.Verbose || s.Trace);
  c.Update = flag(o.contains(O::ExtrUpdate));
  c.Freshen = flag(o.contains(O::ExtrFreshen) && !o.contains(O::ExtrUpdate));
  c.Directories = flag(o.contains(O::ExtrDirNames));
  c.Overwrite = flag(o.contains(O::ExtrOverWrite));
  c.ZipFileName = Text(archive);
  extract_specs_.clear();
  if (!s.FSpecArgs.empty() && s.FSpecArgs.front() != "*.*") {
    for (const std::string& line : s.FSpecArgs) {
      ZE_UnzipFileSpec f;
      std::memset(&f, 0, sizeof f);
      f.FileSpec = Text(line, false);
      extract_specs_.push_back(f);
    }
  }
  c.Argc = static_cast<int32_t>(extract_specs_.size());
  c.FSpecs = extract_specs_.empty() ? nullptr : extract_specs_.data();
  c.PasswordRequestCount = password_req_count;
  c.ExtractDir = Text(extract_dir);
  c.Check = 7;
  return c;
}

}  // namespace orv::zip
