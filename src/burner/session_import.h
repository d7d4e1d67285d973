// Session import: reads the directory tree of an earlier session from the disc and adds every
// folder and file of it to the file tree as imported entries, whose data stays where it lies
// (their records in the new session point at the old sectors). The Joliet tree is preferred;
// the ISO 9660 tree is the fallback.
//
// TDiscBurner::ImportSession (session_import.cpp) finds the session through the recorder
// (last session number, table of contents) and hands the sectors to TDiscDirectoryReader,
// which works on any TSectorSource, so the parser of this outside data runs on memory in
// tests and under the fuzzer.
//
// The disc is outside data: a directory met twice (a loop), extents beyond the end of the
// recorded disc, records that cross their sector or their directory's end, identifiers that
// do not fit their record and names that cannot be a file name are refused with a log line;
// nothing of it can crash or hang the import.
// Threading: the caller's thread; the tree is changed in place.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "burner/file_tree.h"

namespace orv::burner {

inline constexpr const char* kMsgImportingSession = "IMPORTING SESSION # %d";
inline constexpr const char* kMsgImportError = "ERROR IMPORTING SESSION";
inline constexpr const char* kMsgImportNotFound = "ERROR IMPORTING SESSION %d (ISO IMAGE NOT FOUND)";
inline constexpr const char* kMsgImportNameTooLong = "ERROR IMPORTING SESSION, FILE NAME LENGTH EXCEEDS 120 CHARS";
inline constexpr const char* kMsgImportBadRecord = "ERROR IMPORTING SESSION, DAMAGED DIRECTORY RECORD IN SECTOR %u";
inline constexpr const char* kMsgImportOutside = "ERROR IMPORTING SESSION, \"%s\" LIES OUTSIDE THE DISC";
inline constexpr const char* kMsgImportLoop = "ERROR IMPORTING SESSION, DIRECTORY \"%s\" IS LISTED TWICE";
inline constexpr const char* kMsgImportBadName = "ERROR IMPORTING SESSION, INVALID NAME \"%s\"";
inline constexpr const char* kMsgImportTooDeep = "ERROR IMPORTING SESSION, DIRECTORY \"%s\" IS NESTED TOO DEEPLY";
inline constexpr const char* kMsgImportDvdRam =
    "ERROR IMPORTING SESSION # %d (A DVD-RAM IS WRITTEN FROM ITS FIRST SECTOR AGAIN)";

// Sectors of the disc as the import reads them (2048 bytes each).
class TSectorSource {
 public:
  virtual ~TSectorSource() = default;
  virtual bool ReadSector(uint32_t Sector, uint8_t* Buffer) = 0;
  // Count sectors from Sector (one ReadSector each unless the source reads more at once).
  virtual bool ReadSectors(uint32_t Sector, uint32_t Count, uint8_t* Buffer);
};

// ISO 9660 / Joliet directories of one session, read into a file tree.
class TDiscDirectoryReader {
 public:
  // DiscEnd: first sector after the recorded disc; nothing at or beyond it is accepted.
  TDiscDirectoryReader(TSectorSource& Disc, TFileTree& Tree, const TFileTree::Hooks& Hooks, uint32_t DiscEnd);

  // Looks for the session's supplementary (Joliet) volume descriptor, then for its primary
  // one, in the 21 sectors from Start + 16, and imports the tree found. False (with the
  // "ISO IMAGE NOT FOUND" line) when neither is there.
  bool ImportSessionAt(uint32_t Start, uint8_t SessionNo, TDEntry* IntoDir);
  // Read one directory and the ones below it. True when a record was taken.
  bool ImportJolietDir(uint32_t Extent, uint32_t Length, TDEntry* IntoDir);
  bool ImportISODir(uint32_t Extent, uint32_t Length, TDEntry* IntoDir);

  // Records refused because they were damaged or pointed outside the disc, and the line
  // naming each (what of the session the import leaves out).
  int Refused() const { return static_cast<int>(refusals_.size()); }
  const std::vector<std::string>& Refusals() const { return refusals_; }

  // Folders nested deeper than this are not imported.
  static constexpr int kMaxDepth = 255;

 private:
  bool ImportDir(uint32_t Extent, uint32_t Length, TDEntry* IntoDir, bool Joliet, int Depth);
  void Log(const std::string& Message, uint8_t Type);
  void Refuse(const char* Format, const std::string& What);
  std::string UniqueShortName(const TDEntry* Dir, const std::string& Name, bool IsFile) const;

  TSectorSource& disc_;
  TFileTree& tree_;
  const TFileTree::Hooks& hooks_;
  uint32_t disc_end_;
  std::set<uint32_t> visited_;  // directory extents already read
  std::vector<std::string> refusals_;
};

// UCS-2 big-endian bytes to UTF-8 (unpaired surrogates become '_').
std::string Ucs2BEToUtf8(const uint8_t* Data, size_t Chars);

}  // namespace orv::burner
