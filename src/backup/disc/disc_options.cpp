#include "backup/disc/disc_options.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "platform/paths.h"

namespace orv::backup {

namespace {

constexpr int kMiB = 1048576;
constexpr int kTrackBarMin = 2;
constexpr int kTrackBarMax = 64;

bool ReadBool(const platform::ProfileFile& f, const char* key, bool def) {
  return f.read_integer(kOptionsSection, key, def ? 1 : 0) != 0;
}

void WriteBool(platform::ProfileFile& f, const char* key, bool value) {
  f.write_string(kOptionsSection, key, value ? "1" : "0");
}

std::string Trim(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return text.substr(b, e - b);
}

int ClampToInt(long long v) { return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

}  // namespace

std::filesystem::path OptionsFilePath() { return platform::config_folder() / kOptionsFileName; }

void ApplyDesignValues(burner::TDiscBurner& b) {
  b.SetFinalizeDisc(false);
  b.JolietFileSystem = true;
  b.SetTestWrite(false);
  b.PerformOPC = true;
  b.SetUnderrunProtection(true);
  b.IdVolume = "QELMARDOX";
  b.SetCacheSize(4194304);
  b.SessionToImport = 0;
  b.BootImage.clear();
  b.Bootable = false;
  b.ReplaceFile = true;
  b.WritePostGap = false;
  b.IdSystem = " ";
  b.IdPublisher = "QELMARDOX";
  b.IdPreparer = "QELMARDOX";
}

void LoadDiscOptions(const platform::ProfileFile& f, burner::TDiscBurner& b, DiscOptionValues& v) {
  v.ArchiveFiles = ReadBool(f, "ArchiveFiles", v.ArchiveFiles);
  const bool import = ReadBool(f, "ImportSession", false);
  b.FinalizeTrack = true;
  b.SetFinalizeDisc(ReadBool(f, "CloseDisc", b.FinalizeDisc()));
  v.EjectDisc = ReadBool(f, "EjectDisc", v.EjectDisc);
  v.ShowFiles = ReadBool(f, "ShowFiles", v.ShowFiles);
  b.JolietFileSystem = ReadBool(f, "JolietFS", b.JolietFileSystem);
  b.SetTestWrite(ReadBool(f, "TestWrite", b.TestWrite()));
  b.PerformOPC = ReadBool(f, "PerformOPC", b.PerformOPC);
  v.QuickSaveISO = ReadBool(f, "QuickSaveISO", v.QuickSaveISO);
  v.VerifyWrite = ReadBool(f, "VerifyWrite", v.VerifyWrite);
  if (import) {
    // The session number is 16 bits wide; larger values keep their low bits as the field does.
    b.SessionToImport = static_cast<uint16_t>(f.read_integer(kOptionsSection, "SessionNo", b.SessionToImport));
  } else {
    b.SessionToImport = 0;
  }
  b.BootImage = f.read_string(kOptionsSection, "BootImage", b.BootImage);
  b.IdVolume = f.read_string(kOptionsSection, "VolumeLable", b.IdVolume);
  b.SetCacheSize(ClampToInt(f.read_integer(kOptionsSection, "CacheSize", b.CacheSize())));
  v.CDSpeed = f.read_string(kOptionsSection, "CDSpeed", v.CDSpeed);
  v.CDCins = f.read_string(kOptionsSection, "CDCins", v.CDCins);
}

DiscPanelValues ShownPanel(const burner::TDiscBurner& b, const DiscOptionValues& v, DiscPanelValues p) {
  p.cJoliet = b.JolietFileSystem;
  p.cQuickSaveISO = v.QuickSaveISO;
  p.cCloseDisc = b.FinalizeDisc();
  p.eVolLabel = b.IdVolume;
  p.cTestWrite = b.TestWrite();
  p.cOPC = b.PerformOPC;
  p.cBootable = b.Bootable;
  p.Label2 = b.BootImage;
  p.eSession = std::to_string(b.SessionToImport);
  p.cArchiveOnly = v.ArchiveFiles;
  p.cVerifyWrite = v.VerifyWrite;
  p.cUnderrunProtection = b.UnderrunProtection();
  // The track bar holds its range: 1 MiB shows 2, 100 MiB shows 64.
  p.sCacheSize = std::clamp(b.CacheSize() / kMiB, kTrackBarMin, kTrackBarMax);
  return p;
}

bool ApplyPanel(const DiscPanelValues& p, burner::TDiscBurner& b, DiscOptionValues& v) {
  b.JolietFileSystem = p.cJoliet;
  b.IdVolume = p.eVolLabel;
  b.SetFinalizeDisc(p.cCloseDisc);
  b.SetUnderrunProtection(p.cUnderrunProtection);
  b.SetTestWrite(p.cTestWrite);
  b.PerformOPC = p.cOPC;
  b.SetCacheSize(p.sCacheSize * kMiB);
  b.Bootable = p.cBootable;
  b.BootImage = p.Label2;
  v.ArchiveFiles = p.cArchiveOnly;
  const long long number = NumberOrDefault(p.eSession, 0);
  const bool warn = p.cImportSession && !Trim(p.eSession).empty() && number == 0;
  v.SessionImportNo = p.cImportSession ? static_cast<std::uint8_t>(number & 0xFF) : 0;
  v.QuickSaveISO = p.cQuickSaveISO;
  v.VerifyWrite = p.cVerifyWrite;
  return warn;
}

void WriteDiscOptions(platform::ProfileFile& f, const DiscPanelValues& p, const burner::TDiscBurner& b) {
  WriteBool(f, "ArchiveFiles", p.cArchiveOnly);
  WriteBool(f, "CloseTrack", b.FinalizeTrack);
  WriteBool(f, "CloseDisc", b.FinalizeDisc());
  WriteBool(f, "EjectDisc", p.cEject);
  WriteBool(f, "JolietFS", p.cJoliet);
  WriteBool(f, "Bootable", p.cBootable);
  WriteBool(f, "TestWrite", p.cTestWrite);
  WriteBool(f, "QuickSaveISO", p.cQuickSaveISO);
  WriteBool(f, "ShowFiles", p.cShowFiles);
  WriteBool(f, "PerformOPC", p.cOPC);
  f.write_string(kOptionsSection, "SessionNo", p.eSession);
  WriteBool(f, "ImportSession", p.cImportSession);
  f.write_string(kOptionsSection, "BootImage", p.Label2);
  f.write_string(kOptionsSection, "VolumeLable", b.IdVolume);
  f.write_integer(kOptionsSection, "CacheSize", b.CacheSize());
  WriteBool(f, "VerifyWrite", p.cVerifyWrite);
  // Speed and recorder stay the last keys: the window writes them again on its own.
  WriteSpeedAndRecorder(f, p);
}

void WriteSpeedAndRecorder(platform::ProfileFile& f, const DiscPanelValues& p) {
  f.write_string(kOptionsSection, "CDSpeed", p.cbSpeed);
  f.write_string(kOptionsSection, "CDCins", p.cbDrives);
}

long long NumberOrDefault(const std::string& text, long long def) {
  const std::string t = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  if (i == t.size()) return def;
  long long n = 0;
  for (; i < t.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(t[i]))) return def;
    if (n > (LLONG_MAX - 9) / 10) return def;
    n = n * 10 + (t[i] - '0');
  }
  return negative ? -n : n;
}

int ParseSpeedText(const std::string& text) {
  if (text == "Max") return 0;
  const size_t x = text.find('x');
  return ClampToInt(NumberOrDefault(text.substr(0, x), 0));
}

std::vector<std::string> BuildSpeedList(burner::TDiscBurner& b) {
  std::vector<std::string> items{"Max"};
  for (int s = b.MaxWriteSpeed(); s >= 1; --s) {
    b.SetWriteSpeed(static_cast<uint16_t>(s));
    const std::string text = std::to_string(b.CurrentWriteSpeed()) + "x";
    if (std::find(items.begin(), items.end(), text) == items.end()) items.push_back(text);
  }
  return items;
}

int SelectItem(const std::vector<std::string>& items, const std::string& wanted) {
  if (items.empty()) return -1;
  const auto it = std::find(items.begin(), items.end(), wanted);
  return it == items.end() ? 0 : static_cast<int>(it - items.begin());
}

}  // namespace orv::backup
