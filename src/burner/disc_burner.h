// TDiscBurner: the component through which the tool writes files to a CD or DVD. It derives
// from TSCSIDevice (which selects the recorder and sends it MMC commands) and adds the file
// tree of the next burn, the ISO 9660/Joliet/El Torito layout of one data track, the header
// area built in memory (HeaderStream), and an image-file writer for checking a layout
// without a recorder.
//
// Ownership: the file tree is process-wide (ProcessFileTree(), shared by every burner); the
// burner owns HeaderStream and its layout. The state of a running burn is process-wide too
// (ProcessBurnState(), burn_state.h).
// Threading: every operation here runs on the caller's (user-interface) thread. During a
// burn the write thread updates BytesWritten, CurrentFile and the device's buffer values;
// the caller only reads them.
// Errors: as the device layer, by Boolean or small integer results with lines to
// DoDebugMessage (type 0 status, 1 progress, 3 capacity of the tree reached, 4 errors).
// PrepareImage throws std::runtime_error when the boot image exists but cannot be opened, when
// another process holds the recorder (kMsgRecorderInUse) and when the track is larger than the
// room the disc reports (kMsgNoRoom): both before anything is written.
// One writer per recorder: preparing a track for a recorder reserves it for this process
// (ReserveUnit) until the burn has ended, the preparation failed or the burner goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "burner/datetime.h"
#include "burner/file_tree.h"
#include "burner/image_headers.h"
#include "burner/image_layout.h"
#include "burner/session_verify.h"
#include "burner/track_source.h"
#include "scsi/scsi_device.h"

namespace orv::burner {

class TDiscBurner;
class TCacheThread;

using TAddFileEvent = std::function<void(TDiscBurner* Sender, const std::string& FullPath, std::string& LongFileName,
                                         std::string& ShortFileName, TDateTime& DateTime, uint32_t Attr,
                                         int64_t FileSize, bool& Skip)>;
using TAddDirEvent = std::function<void(TDiscBurner* Sender, std::string& LongName, std::string& ShortName, bool& Skip)>;
using TWriteDoneEvent = std::function<void(TDiscBurner* Sender, const std::string& Error)>;
using TNotifyEvent = std::function<void(TDiscBurner* Sender)>;

inline constexpr const char* kBurnerVersion = "1.1.7";
inline constexpr int kDefaultCacheSize = 4194304;
inline constexpr int kMinCacheSize = 2097152;
inline constexpr uint64_t kMinTrackSectors = 300;
inline constexpr const char* kMsgNoNextWritableAddress = "ERROR GETTING NEXT WRITABLE ADDRESS";
inline constexpr const char* kMsgCantOpenBootImage = "CAN'T OPEN BOOT IMAGE \"%s\" [%s]";
inline constexpr const char* kMsgRecorderInUse = "RECORDER IN USE: ANOTHER PROCESS IS WRITING TO %s";
inline constexpr const char* kMsgNoRoom = "SESSION OF %lld SECTORS DOES NOT FIT THE %lld FREE SECTORS OF THE DISC";
inline constexpr const char* kMsgFreeUnknown = "FREE SECTORS OF THE DISC UNKNOWN";

class TDiscBurner : public scsi::TSCSIDevice {
 public:
  TDiscBurner();
  ~TDiscBurner() override;

  // ---- Published properties ----------------------------------------------------------
  bool ReplaceFile = false;
  bool FinalizeTrack = true;
  bool PerformOPC = false;
  std::string IdVolume, IdSystem, IdVolumeSet, IdPublisher, IdPreparer, IdApplication;
  std::string FileCopyright, FileAbstract, FileBibliographic;
  TDateTime DateCreation = 0;
  TDateTime DateModification = 0;
  TDateTime DateEffective = 0;   // not read: the image's effective date is always empty
  TDateTime DateExpiration = 0;  // not read
  int CacheSize() const { return FCacheSize; }
  // Below 2 MiB stores 2 MiB; otherwise rounds down to a multiple of 2048.
  void SetCacheSize(int Value);
  std::string ISOFileName;  // not read by any operation
  bool JolietFileSystem = true;
  TAddFileEvent OnAddFile;
  TAddDirEvent OnAddDir;  // declared; never raised
  TWriteDoneEvent OnWriteDone;
  TNotifyEvent OnFinalizingTrack;
  std::string Version() const { return kBurnerVersion; }
  void SetVersion(const std::string&) {}  // accepted and ignored
  bool WritePostGap = true;

  // ---- Public fields -------------------------------------------------------------------
  bool Bootable = false;
  std::string BootImage;
  uint16_t SessionToImport = 0;
  bool LastFolderOnly = false;

  // ---- State ---------------------------------------------------------------------------
  std::vector<uint8_t> HeaderStream;  // header area of the prepared track
  uint32_t SessionStart = 0;          // absolute sector where the track starts
  uint64_t ImageEndSector = 0;        // first sector after the image
  int64_t FreeBlocks = -1;            // free sectors the disc reported at the layout, -1 unknown
  TImageLayout Layout;                // every address of the prepared track
  std::atomic<int64_t> BytesWritten{0};
  int64_t FilesSize() const { return Tree().FilesSize; }
  std::string CurrentFile() const;
  void SetCurrentFile(const std::string& Path);

  // ---- Operations ------------------------------------------------------------------------
  bool ResetFileTree(int MaxFiles, int MaxDirs);
  int AddFile(const std::string& DestPath, const std::string& SourceFile, bool KeepPath);
  bool RemoveEmptyDirs();
  int DirCount() const { return Tree().DirCount(); }
  int FileCount() const { return Tree().FileCount(); }
  // LayoutImage followed by BuildImageHeaders. ForImageFile skips every device command and
  // lays the track out from sector 0. HeaderStream is rebuilt, not appended to, so preparing
  // twice gives the same track.
  bool PrepareImage(bool ForImageFile, TDEntry* ImportRoot);
  bool LayoutImage(bool ForImageFile, TDEntry* ImportRoot);
  void BuildImageHeaders();
  // Reads the next writable address (SessionStart) and the free sectors from there (FreeBlocks).
  bool GetNextWritableAddress();
  // Gives up the reservation of the recorder taken by PrepareImage (nothing when none is held).
  void ReleaseRecorder();
  // ImageEndSector - SessionStart, raised to 300 with WritePostGap.
  int64_t TrackSize() const;
  // 0 while no burn runs, else the cache fill as a rounded percentage of CacheSize.
  int CacheFillPercent() const;
  bool ClearArchiveBits();

  // ---- Burn (burn_sequence.cpp) and session import (session_import.cpp) ------------------
  // Starts the cache thread, waits until it is primed and starts the write thread. False when
  // the cache failed first; OnWriteDone has then been raised on this thread.
  bool StartBurn();
  void StartWriteThread(bool ToImageFile);
  // Asks the running burn to stop at its next block.
  void AbortWrite();
  // Waits until this burner's write thread has ended (at once when none runs; never from the
  // write thread itself). The destructor waits too.
  void WaitForBurn();
  // Imports the tree of an earlier session (255: the last) into IntoDir (none: the root).
  // Every part of that session it leaves out (a damaged or misplaced record, a name that
  // cannot be kept, or the whole session when it cannot be read) is named in ImportRefusals,
  // one line each; a blank disc leaves it empty.
  bool ImportSession(uint8_t SessionNo, TDEntry* IntoDir);
  std::vector<std::string> ImportRefusals;
  // Read-back. VerifyLastWrite checks the session of the last burn that ended without an
  // error against the digests it took (TestWrite burns write nothing and leave no files to
  // check); VerifyLastSession checks the last session of the disc against Files (digests of
  // files read now, DigestFile). Both read through the recorder (READ(10)).
  TVerifyResult VerifyLastWrite();
  TVerifyResult VerifyLastSession(const std::vector<TWrittenFile>& Files);
  const std::vector<TWrittenFile>& LastWrittenFiles() const { return FWrittenFiles; }
  // Fewest blocks queued when the writer came for one after priming, in the last burn
  // (-1 when the producer always had everything queued).
  int LowestCacheBlocks() const { return FLowestCacheBlocks.load(); }

  // ---- Reading the prepared track --------------------------------------------------------
  // The pieces of the prepared track in image order (header, boot image, padding, files).
  std::vector<TTrackPiece> TrackPieces() const;
  // Writes the prepared track into an image file (at Offset bytes for a multi-session image
  // file). Empty text on success, else the reason.
  [[nodiscard]] std::string WriteImage(const std::string& Path, int64_t Offset = 0,
                                       std::atomic<int64_t>* BytesDone = nullptr) const;

  // The tree and the hooks its operations use on behalf of this burner (for the session
  // import, which adds entries through AddDirFromSearchRec/AddFileFromSearchRec).
  TFileTree& Tree() const { return ProcessFileTree(); }
  TFileTree::Hooks TreeHooks();

 private:
  void WriteThreadRun();

  void ClaimRecorder();
  void CheckRoom(uint8_t DiscType);

  bool FClaimed = false;  // this burner holds the recorder's reservation
  std::vector<TWrittenFile> FWrittenFiles;  // files of the last burn that ended well
  uint32_t FWrittenStart = 0;               // and the sector its track started at
  int FCacheSize = kDefaultCacheSize;
  std::thread FWriteThread;
  std::shared_ptr<TCacheThread> FCacheThread;
  std::atomic<int> FLowestCacheBlocks{-1};
  mutable std::mutex FCurrentFileLock;
  std::string FCurrentFile;
};

}  // namespace orv::burner
