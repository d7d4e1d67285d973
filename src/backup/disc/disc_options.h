// The recorder options: the options file "ORVAKELL.ini" (section "Options") in the configuration
// folder, the process-wide option values, and the disc panel's controls as plain values.
//
// Values travel file -> burner and process-wide values -> panel at every show of the main window
// (LoadDiscOptions, then ShownPanel), and panel -> burner and process-wide values -> file when it
// closes (ApplyPanel, then WriteDiscOptions). Nothing re-reads the panel in between: a disc write
// uses the burner properties and the process-wide values as loaded.
//
// Plain C++ (no Qt): the window copies its controls into a DiscPanelValues and back.
// Ownership: the caller owns the burner, the values and the profile file.
// Threading: user-interface thread only, and never while a burn runs (the burner's options are
// read by its write thread).
// Errors: a missing file or key reads as the target's current value; a file that cannot be
// written throws std::runtime_error with the system's text (platform::ProfileFile).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "burner/disc_burner.h"
#include "platform/profile.h"

namespace orv::backup {

inline constexpr const char* kOptionsFileName = "ORVAKELL.ini";
inline constexpr const char* kOptionsSection = "Options";

// The options file of the configuration folder.
std::filesystem::path OptionsFilePath();

// Process-wide option values of the main window (false/empty/0 at process start).
struct DiscOptionValues {
  bool ArchiveFiles = false;  // clear the archive attribute of written files
  bool EjectDisc = false;     // eject after a successful write
  bool ShowFiles = false;     // kept and written back; used by nothing else
  bool QuickSaveISO = false;  // kept and written back; used by nothing else
  std::string CDSpeed;        // the speed list item to select
  std::string CDCins;         // the recorder list item to select
  std::uint8_t SessionImportNo = 0;  // set only while the window closes
  bool VerifyWrite = true;    // read the new session back after each write ("VerifyWrite")
};

// The disc panel's controls as plain values (check boxes, edit texts, track bar position, the
// texts of the two lists).
struct DiscPanelValues {
  bool cJoliet = true;
  bool cUnderrunProtection = true;
  bool cTestWrite = false;
  bool cImportSession = false;
  std::string eSession = "0";
  bool cOPC = true;
  bool cQuickSaveISO = false;
  bool cBootable = false;
  bool cShowFiles = false;
  bool cArchiveOnly = false;
  bool cEject = false;
  bool cCloseDisc = false;
  bool cVerifyWrite = true;
  std::string Label2;        // boot image
  std::string eVolLabel;     // volume label text
  int sCacheSize = 4;        // MB, 2..64
  std::string cbSpeed;       // text of the speed list
  std::string cbDrives;      // text of the recorder list
  friend bool operator==(const DiscPanelValues&, const DiscPanelValues&) = default;
};

// The main window's design values of the burner, before any load: FinalizeDisc false, Joliet on,
// TestWrite false, PerformOPC on, UnderrunProtection on, IdVolume "QELMARDOX", CacheSize 4 MiB,
// no session import, no boot image, ReplaceFile on, no post-gap, IdSystem " ", publisher and
// preparer "QELMARDOX".
void ApplyDesignValues(burner::TDiscBurner& burner);

// Load step 1: reads the keys in their order into the burner and the process-wide values
// (FinalizeTrack is set first, always true). A missing key keeps its target's current value.
void LoadDiscOptions(const platform::ProfileFile& file, burner::TDiscBurner& burner, DiscOptionValues& values);

// Load step 5: what the panel shows after a load. Unchanged fields come from `current` (the
// import, eject and show-files boxes are not shown from the file; the list texts are chosen by
// the lists).
DiscPanelValues ShownPanel(const burner::TDiscBurner& burner, const DiscOptionValues& values,
                           DiscPanelValues current);

// Save steps 1 and 3: copies the panel into the burner and the process-wide values. Returns true
// when the operator must be told that the session number is not valid (import ticked, a
// non-empty session text whose number is 0: the Session_Str box).
[[nodiscard]] bool ApplyPanel(const DiscPanelValues& panel, burner::TDiscBurner& burner, DiscOptionValues& values);

// Save step 4: writes the keys in their order.
void WriteDiscOptions(platform::ProfileFile& file, const DiscPanelValues& panel, const burner::TDiscBurner& burner);

// Closing writes "CDSpeed" and "CDCins" once more with the same values.
void WriteSpeedAndRecorder(platform::ProfileFile& file, const DiscPanelValues& panel);

// "Max" gives 0; any other text the whole number formed by its characters before the first "x"
// (0 when those are not a number).
int ParseSpeedText(const std::string& text);

// The number of a decimal text with optional sign and surrounding blanks, else `def`.
long long NumberOrDefault(const std::string& text, long long def);

// The speed list: "Max", then for every speed from the recorder's MaxWriteSpeed down to 1 the
// speed the recorder reports after it was asked for it ("0x" format), each text once. Sends
// SET CD SPEED for every speed tried; the recorder is left at the last one.
std::vector<std::string> BuildSpeedList(burner::TDiscBurner& burner);

// The item equal to `wanted`, else the first (0); -1 for an empty list.
int SelectItem(const std::vector<std::string>& items, const std::string& wanted);

}  // namespace orv::backup
