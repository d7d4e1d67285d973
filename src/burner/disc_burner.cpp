#include "burner/disc_burner.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "burner/burn_state.h"
#include "burner/image_writer.h"
#include "platform/byte_order.h"

namespace orv::burner {

TBurnState& ProcessBurnState() {
  static TBurnState state;
  return state;
}

TDiscBurner::TDiscBurner() {
  HeaderStream.clear();
  WritePostGap = true;
  ResetFileTree(65535, 8191);
  SetCacheSize(kDefaultCacheSize);
  JolietFileSystem = true;
  FinalizeTrack = true;
  SetUnderrunProtection(true);
}

TDiscBurner::~TDiscBurner() {
  WaitForBurn();
  ReleaseRecorder();
  HeaderStream.clear();
  HeaderStream.shrink_to_fit();
}

void TDiscBurner::SetCacheSize(int Value) {
  FCacheSize = Value < kMinCacheSize ? kMinCacheSize : Value - Value % 2048;
}

std::string TDiscBurner::CurrentFile() const {
  std::lock_guard<std::mutex> lock(FCurrentFileLock);
  return FCurrentFile;
}

void TDiscBurner::SetCurrentFile(const std::string& Path) {
  std::lock_guard<std::mutex> lock(FCurrentFileLock);
  FCurrentFile = Path;
}

TFileTree::Hooks TDiscBurner::TreeHooks() {
  TFileTree::Hooks h;
  h.ReplaceFile = ReplaceFile;
  h.LastFolderOnly = LastFolderOnly;
  if (OnAddFile) {
    h.OnAddFile = [this](const std::string& FullPath, std::string& LongFileName, std::string& ShortFileName,
                         TDateTime& DateTime, uint32_t Attr, int64_t FileSize, bool& Skip) {
      OnAddFile(this, FullPath, LongFileName, ShortFileName, DateTime, Attr, FileSize, Skip);
    };
  }
  h.Log = [this](const std::string& Message, uint8_t Type) { DoDebugMessage(Message, Type); };
  return h;
}

bool TDiscBurner::ResetFileTree(int MaxFiles, int MaxDirs) {
  HeaderStream.clear();
  ImportRefusals.clear();
  return Tree().ResetFileTree(MaxFiles, MaxDirs);
}

int TDiscBurner::AddFile(const std::string& DestPath, const std::string& SourceFile, bool KeepPath) {
  return Tree().AddFile(DestPath, SourceFile, KeepPath, TreeHooks());
}

bool TDiscBurner::RemoveEmptyDirs() { return Tree().RemoveEmptyDirs(); }

bool TDiscBurner::ClearArchiveBits() { return Tree().ClearArchiveBits(TreeHooks()); }

bool TDiscBurner::GetNextWritableAddress() {
  WaitUntilReady(10000, 500);
  const bool finalize = FinalizeDisc();
  SetFinalizeDisc(true);
  SetWriteParameters(TestWrite(), UnderrunProtection(), scsi::DiscType.load());
  SetFinalizeDisc(finalize);
  WaitUntilReady(10000, 500);
  FreeBlocks = -1;
  std::array<uint8_t, 34> disc{};
  const bool complete = ReadDiscInformation(disc.data(), static_cast<uint8_t>(disc.size())) && (disc[2] & 0x03) == 2;
  if (ReadTrackInformation(255)) {
    SessionStart = TrackInformationWord(12);
    FreeBlocks = complete ? 0 : TrackInformationWord(16);
    return true;
  }
  SessionStart = 0;
  if (complete) FreeBlocks = 0;
  return false;
}

void TDiscBurner::ClaimRecorder() {
  if (FClaimed) return;
  switch (ReserveUnit()) {
    case kReserved:
      FClaimed = true;
      return;
    case kReservedElsewhere:
      throw std::runtime_error(TrackMessage(kMsgRecorderInUse, DeviceID(), ""));
    case kNotReserved:
      // A layer or drive without reservations: written to without the claim.
      DoDebugMessage(">>> RESERVE: " + LastError(), 0);
      return;
  }
}

void TDiscBurner::ReleaseRecorder() {
  if (!FClaimed) return;
  FClaimed = false;
  (void)ReleaseUnit();
}

void TDiscBurner::CheckRoom(uint8_t DiscType) {
  // A DVD-RAM is written from its first sector again and has no track to fill.
  if (DiscType == scsi::DT_DVDRAM) return;
  if (FreeBlocks < 0) {
    DoDebugMessage(std::string(">>> ") + kMsgFreeUnknown, 0);
    return;
  }
  // A DVD-R track is reserved one sector larger than the track (burn_sequence.cpp).
  const bool reserved = DiscType == scsi::DT_DVDR || DiscType == scsi::DT_DVDRW || DiscType == scsi::DT_DVDRW_SEQ;
  const long long needed = TrackSize() + (reserved ? 1 : 0);
  if (needed <= FreeBlocks) return;
  char text[160];
  std::snprintf(text, sizeof text, kMsgNoRoom, needed, static_cast<long long>(FreeBlocks));
  DoDebugMessage(std::string(">>> ") + text, 4);
  throw std::runtime_error(text);
}

bool TDiscBurner::LayoutImage(bool ForImageFile, TDEntry* ImportRoot) {
  struct stat st {};
  if (BootImage.empty() || stat(BootImage.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) Bootable = false;
  SetDoDebug(false);
  SessionStart = 0;
  FreeBlocks = -1;
  uint8_t type = scsi::DT_UNKNOWN;
  if (!ForImageFile) {
    // The recorder is claimed before any command that changes its state.
    try {
      ClaimRecorder();
    } catch (const std::runtime_error&) {
      SetDoDebug(true);
      throw;
    }
    type = GetDiscType();
    scsi::DiscType.store(type);
    // DVD media too: the write thread writes at the next writable address, so the track is
    // laid out for it (a DVD-RAM is written from sector 0).
    if (type != scsi::DT_DVDRAM) {
      if (!GetNextWritableAddress()) {
        std::string message(">>> ");
        message += kMsgNoNextWritableAddress;
        DoDebugMessage(message, 0);
        SessionStart = 0;
      }
    }
    if (SessionStart > 0xFF000000u) SessionStart = 0;
    if (SessionToImport != 0) ImportSession(static_cast<uint8_t>(SessionToImport & 0xFF), ImportRoot);
  }
  TLayoutOptions options;
  options.SessionStart = SessionStart;
  options.Joliet = JolietFileSystem;
  options.Bootable = Bootable;
  if (Bootable) {
    std::ifstream boot(BootImage, std::ios::binary | std::ios::ate);
    if (!boot) {
      throw std::runtime_error(TrackMessage(kMsgCantOpenBootImage, BootImage, std::strerror(errno)));
    }
    options.BootImageSize = static_cast<int64_t>(boot.tellg());
  }
  Layout = LayoutTree(Tree(), options);
  ImageEndSector = Layout.ImageEndSector;
  if (!ForImageFile) {
    try {
      CheckRoom(type);
    } catch (const std::runtime_error&) {
      ReleaseRecorder();
      SetDoDebug(true);
      throw;
    }
  }
  return true;
}

void TDiscBurner::BuildImageHeaders() {
  TVolumeIds ids;
  ids.IdSystem = IdSystem;
  ids.IdVolume = IdVolume;
  ids.IdVolumeSet = IdVolumeSet;
  ids.IdPublisher = IdPublisher;
  ids.IdPreparer = IdPreparer;
  ids.IdApplication = IdApplication;
  ids.FileCopyright = FileCopyright;
  ids.FileAbstract = FileAbstract;
  ids.FileBibliographic = FileBibliographic;
  ids.DateCreation = DateCreation;
  ids.DateModification = DateModification;
  // Built afresh: a header appended to one of an earlier preparation would be streamed whole
  // and shift every sector of the track.
  HeaderStream.clear();
  orv::burner::BuildImageHeaders(Tree(), Layout, ids, HeaderStream, NowLocal());
  SetDoDebug(true);
}

bool TDiscBurner::PrepareImage(bool ForImageFile, TDEntry* ImportRoot) {
  LayoutImage(ForImageFile, ImportRoot);
  BuildImageHeaders();
  return true;
}

int64_t TDiscBurner::TrackSize() const {
  const auto sectors = static_cast<int64_t>(ImageEndSector) - static_cast<int64_t>(SessionStart);
  if (WritePostGap && sectors < static_cast<int64_t>(kMinTrackSectors)) return kMinTrackSectors;
  return sectors;
}

int TDiscBurner::CacheFillPercent() const {
  const TBurnState& state = ProcessBurnState();
  if (!state.CacheRunning.load()) return 0;
  const double percent = static_cast<double>(state.BytesInCache.load()) * 100.0 / static_cast<double>(FCacheSize);
  return static_cast<int>(std::lround(percent));
}

std::vector<TTrackPiece> TDiscBurner::TrackPieces() const {
  return orv::burner::TrackPieces(Tree(), Layout, static_cast<int64_t>(HeaderStream.size()),
                                  Layout.Bootable ? BootImage : std::string());
}

std::string TDiscBurner::WriteImage(const std::string& Path, int64_t Offset, std::atomic<int64_t>* BytesDone) const {
  TImageWriteOptions options;
  options.Offset = Offset;
  options.BytesDone = BytesDone;
  return WriteImageFile(Path, TrackPieces(), HeaderStream, options);
}

namespace {

// The disc in the recorder, up to 256 sectors (512 KiB) per READ(10). A drive behind a port
// that takes less at once (the kernel refuses an SG_IO transfer above the queue's limit, e.g.
// 120 KiB behind many USB bridges) fails the larger READ: the size is halved, down to the 32
// sectors every drive takes, and kept for the following READs. A MEDIUM ERROR is the disc's
// fault, not the size's: it fails the read at once.
class TRecorderReader : public TSectorSource {
 public:
  explicit TRecorderReader(TDiscBurner& Burner) : burner_(Burner) {}
  bool ReadSector(uint32_t Sector, uint8_t* Buffer) override { return ReadSectors(Sector, 1, Buffer); }
  bool ReadSectors(uint32_t Sector, uint32_t Count, uint8_t* Buffer) override {
    while (Count > 0) {
      const uint16_t n = static_cast<uint16_t>(std::min(Count, per_read_));
      if (!burner_.Read10(Sector, n, uint32_t{n} * 2048, Buffer)) {
        if (n <= kSmallestRead || (burner_.LastSense()[2] & 0x0F) == kMediumError) return false;
        per_read_ = std::max(kSmallestRead, per_read_ / 2);
        continue;
      }
      Sector += n;
      Count -= n;
      Buffer += size_t{n} * 2048;
    }
    return true;
  }

 private:
  static constexpr uint32_t kSmallestRead = 32;
  static constexpr uint8_t kMediumError = 0x03;  // sense key
  TDiscBurner& burner_;
  uint32_t per_read_ = 256;
};

}  // namespace

TVerifyResult TDiscBurner::VerifyLastWrite() {
  TRecorderReader disc(*this);
  TVerifyResult result = VerifySession(disc, FWrittenStart, FWrittenFiles);
  DoDebugMessage(">>> " + result.Text, result.Verified ? 0 : 4);
  return result;
}

TVerifyResult TDiscBurner::VerifyLastSession(const std::vector<TWrittenFile>& Files) {
  TVerifyResult result;
  const uint8_t last = GetLastSessionNumber();
  std::array<uint8_t, 254> toc{};
  if (last == 0 || !ReadTOC(0, toc.data(), false, last, 254, 0)) {
    result.Text = "READ-BACK: NO SESSION ON THE DISC [" + LastError() + "]";
    return result;
  }
  TRecorderReader disc(*this);
  return VerifySession(disc, bytes::load_be32(toc.data() + 8), Files);
}

}  // namespace orv::burner
