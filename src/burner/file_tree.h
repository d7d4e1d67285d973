// The file tree of the next burn: folders (TDEntry) with ordered entry lists (TFEntry), each
// entry carrying an ISO 9660 short name and a Joliet long name, and either a source file on
// the local disk or, for entries of an earlier session, the sector where its data lies.
//
// Joliet names are unique in each folder (compared without regard to ASCII case, as readers on
// Windows do): names that differ only in characters Joliet cannot hold get a number.
//
// Ownership: one TFileTree per process (ProcessFileTree()); it owns every record. DirTable
// holds the folders in creation order (index 0 the root), FileTable the entries in creation
// order, which is the order of the file data in the image. Pointers to records stay valid
// until the record is removed or the tree reset.
// Threading: none; the tree is changed by one thread (the user-interface thread) and read by
// the burn only while nobody changes it.
// Errors: operations answer with none/False/0/-1 and leave a line in the caller's log
// (Hooks::Log, message type 3 at a capacity limit, 4 for errors).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "burner/datetime.h"
#include "burner/source_files.h"

namespace orv::burner {

struct TFEntry;

struct TDEntry {
  std::string ShortName;
  std::string LongName;
  std::string JolietName;     // the name in the Joliet tree (UTF-8), as its folder entry's
  int64_t ISOSize = 0;        // bytes of the ISO directory, a multiple of 2048
  int64_t JolietSize = 0;     // bytes of the Joliet directory
  std::string TreePath;       // upper-case long-name path, "\A\B"; "\" for the root
  uint32_t ISOSector = 0;     // relative to the ISO directory area
  uint32_t JolietSector = 0;  // relative to the Joliet directory area
  int32_t Number = 0;         // path table number; the root is 1
  TDEntry* Parent = nullptr;  // the root is its own parent
  TFEntry* FirstEntry = nullptr;
};

struct TFEntry {
  std::string ShortName;
  std::string LongName;
  // The name in the Joliet tree (UTF-8, Basic Multilingual Plane only): LongName with the
  // characters Joliet cannot hold as '_', numbered when that form meets another in the folder.
  std::string JolietName;
  std::string SourcePath;     // empty for folders and imported entries
  bool Imported = false;      // extents are absolute sectors of the disc
  TDateTime DateTime = 0;     // local time
  int64_t ISOLength = 0;
  int64_t JolietLength = 0;
  uint32_t ISOExtent = 0;     // new file: sector offset from the first file sector
  uint32_t JolietExtent = 0;
  uint32_t Attr = 0;          // fa* bits of the source
  bool ClearArchive = false;
  TDEntry* Dir = nullptr;     // the folder a folder entry stands for
  TFEntry* Next = nullptr;
};

// The Joliet name of an entry or folder; a record made without the tree's rules (a test's
// hand-made tree) falls back to its long name, whose Joliet bytes are the same.
inline const std::string& JolietNameOf(const TFEntry& e) { return e.JolietName.empty() ? e.LongName : e.JolietName; }
inline const std::string& JolietNameOf(const TDEntry& d) { return d.JolietName.empty() ? d.LongName : d.JolietName; }

// Handler of the add-file event: may change the names and the date and set Skip.
using TAddFileHook = std::function<void(const std::string& FullPath, std::string& LongFileName,
                                        std::string& ShortFileName, TDateTime& DateTime, uint32_t Attr,
                                        int64_t FileSize, bool& Skip)>;
using TLogHook = std::function<void(const std::string& Message, uint8_t MessageType)>;

// Messages of the tree (capital letters, as the disc library writes them).
inline constexpr const char* kMsgMaxDirs = "MAXIMUM DIRECTORIES CAN BE %d";
inline constexpr const char* kMsgMaxFiles = "MAXIMUM FILES CAN BE %d";
inline constexpr const char* kMsgInvalidDestination = "INVALID DESTINATION PATH";
inline constexpr const char* kMsgFileTooLarge = "FILE IS 4 GB OR LARGER AND CANNOT BE WRITTEN: %s";
inline constexpr const char* kMsgNameTooLong = "NAME TOO LONG FOR THE DISC: %s";
inline constexpr const char* kMsgNameIsFolder = "A FOLDER OF THIS NAME EXISTS: %s";
inline constexpr const char* kMsgNameIsFile = "A FILE OF THIS NAME EXISTS: %s";
inline constexpr const char* kMsgNotAFile = "NOT A FILE: %s";
inline constexpr const char* kMsgJolietRenamed = "JOLIET NAME OF %s IS %s: ANOTHER ENTRY HAS THE SAME NAME";
inline constexpr const char* kMsgArchiveBit = "CAN'T CLEAR ARCHIVE ATTRIBUTE OF %s [%s]";

// A file of this size or more cannot be described by a 32-bit data length.
inline constexpr int64_t kMaxFileSize = 0xFFFFFFFFLL;

class TFileTree {
 public:
  // What the burner lends the tree for one operation.
  struct Hooks {
    bool ReplaceFile = false;
    bool LastFolderOnly = false;
    TAddFileHook OnAddFile;
    TLogHook Log;
  };

  TFileTree();

  // Empties the tree, sets the capacities, creates the root.
  bool ResetFileTree(int MaxFiles, int MaxDirs);

  TDEntry* Root() const { return DirTable.front().get(); }
  int DirCount() const { return static_cast<int>(DirTable.size()) - 1; }
  int FileCount() const { return static_cast<int>(FileTable.size()); }

  TDEntry* NewDirEntry(const Hooks& h);
  TFEntry* NewFileEntry(const Hooks& h);
  TDEntry* FindDir(const std::string& Path) const;
  TDEntry* ForceDirs(const std::string& Path, const Hooks& h);
  TDEntry* AddDir(TDEntry* Parent, const std::string& Name, uint32_t Attr, const Hooks& h);
  TDEntry* AddDirFromSearchRec(TDEntry* Parent, const TSearchRec& Rec, const Hooks& h);
  bool AddFileFromSearchRec(TDEntry* Dir, const TSearchRec& Rec, const std::string& SourcePath,
                            uint32_t ImportedSector, bool ClearArchive, const Hooks& h);
  // 1 when the source was found (added or dropped by the rules), 0 when the destination folder
  // does not exist or the file cannot be written to a disc (4 GiB or more, a name too long,
  // not a regular file), -1 when the source does not exist.
  int AddFile(const std::string& DestPath, const std::string& SourceFile, bool KeepPath, const Hooks& h);
  TFEntry* FindEntry(const TDEntry* Dir, const std::string& LongName) const;
  void RemoveEntry(TDEntry* Dir, TFEntry* Entry);
  bool RemoveDir(TDEntry* Dir);
  bool RemoveFile(const std::string& DirPath, const std::string& LongName);
  bool RemoveEmptyDirs();
  bool ClearArchiveBits(const Hooks& h);

  // Checks the invariants (every folder but the root listed once in its parent, tables and
  // lists agree, FilesSize is the sum of the new files). Empty text when all hold.
  std::string Verify() const;

  std::vector<std::unique_ptr<TDEntry>> DirTable;
  std::vector<TDEntry*> ISODirOrder;
  std::vector<TDEntry*> JolietDirOrder;
  std::vector<std::unique_ptr<TFEntry>> FileTable;
  int MaxDirs = 0;
  int MaxFiles = 0;
  int64_t FilesSize = 0;
  std::string LastRefusal;  // the message of the last file the tree refused, for the caller

 private:
  void IndexDir(TDEntry* d);
  void UnindexDir(TDEntry* d);
  void TakeOutDir(TDEntry* d);
  void TakeOutFile(TFEntry* e);
  void Refuse(const Hooks& h, const char* format, const std::string& what);
  // The Joliet name of an entry named long_name in Dir, unique among the other entries
  // (self excluded); a change from long_name's own Joliet form is logged.
  std::string UniqueJolietName(const TDEntry* Dir, const TFEntry* self, const std::string& long_name,
                               const std::string& shown, const Hooks& h) const;

  std::unordered_map<std::string, TDEntry*> path_index_;  // TreePath -> first folder of that path
  size_t refusals_ = 0;
};

// The tree shared by every burner of the process.
TFileTree& ProcessFileTree();

// Rounds a byte count up to whole 2048-byte sectors.
constexpr int64_t RoundUpToSector(int64_t bytes) { return (bytes + 2047) / 2048 * 2048; }

}  // namespace orv::burner
