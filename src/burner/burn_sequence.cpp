// The burn: StartBurn primes the read-ahead cache and starts the write thread, whose run sets
// the recorder up for the disc type, writes one WRITE(10) per cache block from the track
// start, flushes, closes the session, returns the recorder to idle and reports the outcome
// through OnWriteDone on the write thread.
#include <pthread.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "burner/burn_state.h"
#include "burner/cache_thread.h"
#include "burner/disc_burner.h"
#include "burner/write_thread.h"
#include "scsi/aspi_layer.h"
#include "scsi/platform.h"
#include "scsi/spti.h"

namespace orv::burner {
namespace {

bool IsDVDMinusR(uint16_t type) { return type == scsi::DT_DVDR || type == scsi::DT_DVDRW || type == scsi::DT_DVDRW_SEQ; }

void Sleep(uint32_t ms) { scsi::Events().Sleep(ms); }

std::string Format(const char* format, const std::string& a, const std::string& b) {
  std::string out = format;
  size_t at = out.find("%s");
  if (at != std::string::npos) {
    out.replace(at, 2, a);
    at = out.find("%s", at + a.size());
    if (at != std::string::npos) out.replace(at, 2, b);
  }
  return out;
}

}  // namespace

std::string StartLineSpeed(uint16_t DiscType, uint16_t Speed) {
  const bool dvd = DiscType == scsi::DT_DVDR || DiscType == scsi::DT_DVDRW || DiscType == scsi::DT_DVDRW_SEQ ||
                   DiscType == scsi::DT_DVDPRW || DiscType == scsi::DT_DVDPR;
  const long x = dvd ? std::lround(Speed / 7.0) : Speed;
  return std::to_string(x) + "X";
}

std::array<uint8_t, 28> StreamingDescriptor() {
  return {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x23, 0x12, 0x7F, 0, 0, 0xAB, 0xBD,
          0, 0, 0x03, 0xE8, 0, 0, 0x05, 0x8A, 0, 0, 0x03, 0xE8};
}

bool TDiscBurner::StartBurn() {
  TBurnState& state = ProcessBurnState();
  if (FWriteThread.joinable() && !state.Writing.load()) FWriteThread.join();
  if (state.Writing.load() || FWriteThread.joinable()) {
    if (OnWriteDone) OnWriteDone(this, kMsgBurnRunning);
    return false;
  }
  state.Burner.store(this);
  state.AbortRequest.store(false);
  FWrittenFiles.clear();

  TCacheSources sources;
  if (Layout.Bootable) {
    sources.BootImageName = BootImage;
    sources.BootImageBytes = Layout.BootImageBytes;
    sources.BootPadBytes = Layout.BootPadBytes;
  }
  for (TTrackPiece& piece : TrackPieces())
    if (piece.kind == TTrackPiece::Kind::File) sources.Files.push_back(std::move(piece));
  const int64_t track_bytes = (static_cast<int64_t>(ImageEndSector) - static_cast<int64_t>(SessionStart)) * 2048;

  FLowestCacheBlocks.store(-1);
  state.CacheRunning.store(true);
  FCacheThread = std::make_shared<TCacheThread>(CacheSize(), WritePostGap, track_bytes, HeaderStream, std::move(sources));
  for (;;) {
    if (FCacheThread->WaitPrimed(std::chrono::milliseconds(100))) {
      StartWriteThread(false);
      return true;
    }
    const std::string error = FCacheThread->ErrorText();
    if (!error.empty()) {
      SetCurrentFile(FCacheThread->CurrentFile());
      FCacheThread.reset();
      state.CacheRunning.store(false);
      state.BytesInCache.store(0);
      state.Burner.store(nullptr);
      ReleaseRecorder();
      if (OnWriteDone) OnWriteDone(this, error);
      return false;
    }
  }
}

void TDiscBurner::StartWriteThread(bool /*ToImageFile*/) {
  ProcessBurnState().Writing.store(true);
  FWriteThread = std::thread([this] {
    // Time-critical where the system allows it; otherwise the normal priority stays.
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) != 0) (void)::setpriority(PRIO_PROCESS, 0, -10);
    WriteThreadRun();
  });
}

void TDiscBurner::AbortWrite() { ProcessBurnState().AbortRequest.store(true); }

void TDiscBurner::WaitForBurn() {
  if (FWriteThread.joinable() && FWriteThread.get_id() != std::this_thread::get_id()) FWriteThread.join();
}

void TDiscBurner::WriteThreadRun() {
  TBurnState& state = ProcessBurnState();
  TCacheThread& cache = *FCacheThread;
  auto log = [this](const std::string& m) { DoDebugMessage(">>> " + m, 1); };
  std::vector<uint8_t> transfer(kCacheBlockBytes);
  uint8_t* TransferBuffer = transfer.data();
  int BufferCountdown = 5;
  BytesWritten.store(0);
  uint32_t size = 0, free_bytes = 0;

  // Recorder set-up.
  const uint16_t type = GetDiscType();
  scsi::DiscType.store(type);
  if (type != scsi::DT_DVDRAM) (void)StartStopUnit(false);
  if (type != scsi::DT_DVDPRW) (void)RewindUnit();
  if (type != scsi::DT_DVDRAM) (void)SetCDSpeed(ReadSpeed(), WriteSpeed());
  (void)WaitUntilReady(10000, 1000);
  const uint16_t speed = CurrentWriteSpeed();
  const bool finalize = FinalizeDisc();
  SetFinalizeDisc(true);
  (void)SetWriteParameters(TestWrite(), UnderrunProtection(), type);
  SetFinalizeDisc(finalize);

  // The header area names absolute sectors from the start it was laid out for: data written
  // anywhere else would not read back, so a different writable address stops the burn.
  const uint32_t laid_out = SessionStart;
  const bool have_address = GetNextWritableAddress();
  if (!have_address) SessionStart = 0;
  if (SessionStart != laid_out) {
    char text[160];
    std::snprintf(text, sizeof text, kMsgAddressMoved, static_cast<unsigned>(SessionStart),
                  static_cast<unsigned>(laid_out));
    cache.AbortWith(std::string(kMsgWriterError) + " [" + text + "]");
    SessionStart = laid_out;
  } else {
    if (IsDVDMinusR(type)) {
      const std::array<uint8_t, 28> descriptor = StreamingDescriptor();
      (void)SetStreaming(descriptor.data(), static_cast<uint16_t>(descriptor.size()));
      const std::time_t now = std::time(nullptr);
      std::tm local{};
      localtime_r(&now, &local);
      (void)SendDVDTimeStamp(local);
      (void)ReserveTrack(static_cast<uint32_t>(TrackSize() + 1));
      (void)WaitUntilReady(10000, 1000);
    }
    if (type != scsi::DT_DVDRAM && !TestWrite() && PerformOPC) (void)SendOPCInformation();
    const char* name = type < scsi::DiscTypeNames.size() ? scsi::DiscTypeNames[type] : "";
    log(Format(kMsgStartingWrite, name, StartLineSpeed(type, speed)));
    if (TestWrite()) log(kMsgTestWrite);

    // Writing: one WRITE(10) per block at consecutive sectors from the track start.
    uint32_t Sector = 0;
    int n = cache.GetBlock(TransferBuffer);
    scsi::SPTICloseAfterCommand.store(false);
    bool stop = false;
    while (n != 0 && !stop) {
      SetCurrentFile(cache.CurrentFile());
      if (n != -1) {
        BytesWritten.fetch_add(n);
        if (type != scsi::DT_DVDRAM && BufferCountdown == 0 && ReadBufferCapacity(size, free_bytes)) BufferCountdown = 5;
        --BufferCountdown;
        int retries = 0;
        for (;;) {
          if (state.AbortRequest.load()) {
            cache.AbortWith(kMsgAbortedByUser);
            stop = true;
            break;
          }
          if (Write10(SessionStart + Sector, static_cast<uint16_t>(n / 2048), 0x50, static_cast<uint32_t>(n),
                      TransferBuffer))
            break;
          const uint8_t asc = LastSense()[12];
          // A request that never reached a drive will not succeed on a retry.
          const bool unsent = LastError() == kMsgNoDevice;
          if (!unsent && (TargetBusy() || asc == 0x04 || asc == 0x00)) {
            Sleep(600);
            if (++retries < 10000) continue;
            cache.AbortWith(kMsgWriterBusy);
          } else {
            cache.AbortWith(std::string(kMsgWriterError) + " [" + LastError() + "]");
          }
          stop = true;
          break;
        }
        if (stop) break;
        Sector += static_cast<uint32_t>(n / 2048);
      }
      // Next block.
      for (;;) {
        if (state.AbortRequest.load()) {
          cache.AbortWith(kMsgAbortedByUser);
          stop = true;
          break;
        }
        n = cache.WaitBlock(TransferBuffer, std::chrono::milliseconds(1));
        if (!cache.ErrorText().empty()) {
          stop = true;
          break;
        }
        if (n != -1) break;
      }
    }
  }
  FLowestCacheBlocks.store(cache.LowestQueuedAfterPriming());

  // Flushing, also after an error or an abort.
  if (type != scsi::DT_DVDRAM) (void)ReadBufferCapacity(size, free_bytes);
  if (IsDVDMinusR(type)) {
    if (OnFinalizingTrack) OnFinalizingTrack(this);
    if (DVRQuirk()) log(kMsgWritingLeadOut);
    (void)SynchronizeCache(1800000, true);
    SetDeviceFreeBufferSize(DeviceBufferSize());
    // Bounded: a drive that never answers again must not hold the burn for ever.
    for (int polls = 0; polls < kMaxLeadOutPolls && !GetDiscInformation(); ++polls) {
      const uint32_t step = DeviceBufferSize() / 960;
      const uint32_t left = DeviceFreeBufferSize();
      SetDeviceFreeBufferSize(left > step ? left - step : 0);
      Sleep(1000);
    }
  } else {
    if (OnFinalizingTrack) OnFinalizingTrack(this);
    if (!SynchronizeCache(120000, false)) (void)SynchronizeCache(120000, true);
  }
  SetDeviceBufferSize(0);
  SetDeviceFreeBufferSize(0);

  if (cache.ErrorText().empty()) {
    // Closing the session.
    if (!TestWrite() && !IsDVDMinusR(type) && type != scsi::DT_DVDRAM && FinalizeTrack) {
      (void)SetWriteParameters(TestWrite(), UnderrunProtection(), type);
      for (int attempt = 0; attempt < 1000; ++attempt) {
        if (CloseTrackSession(false, CloseSessionImmed())) break;
        if (!TargetBusy() && LastSense()[12] != 0x04) {
          (void)CloseTrackSession(false, CloseSessionImmed());
          break;
        }
        Sleep(1000);
      }
    }
    // Returning the recorder to idle.
    (void)WaitUntilReady(240000, 5000);
    if (type != scsi::DT_DVDRAM) (void)ReadBufferCapacity(size, free_bytes);
    scsi::SPTICloseAfterCommand.store(true);
    (void)SetWriteParameters(false, false, 1);
    (void)SetCDSpeed(MaxReadSpeed(), 2);
    (void)RewindUnit();
    (void)PreventAllowRemoval(true);
    (void)StartStopUnit(false);
    (void)RewindUnit();
    (void)TestUnitReady(5000);
    if (type < scsi::DT_DVDR || type > scsi::DT_DVDPRW) (void)RewindUnit();
  }

  // End.
  ReleaseRecorder();
  scsi::SPTICloseAfterCommand.store(true);
  if (scsi::ASPILayerName() == scsi::kLayerEmulation) (void)scsi::ReinitASPI();
  SetCurrentFile(cache.CurrentFile());
  const std::string error = cache.ErrorText();
  FWrittenFiles.clear();
  if (error.empty() && !TestWrite()) {
    FWrittenFiles = WrittenFiles(Tree(), cache.Digests());
    FWrittenStart = SessionStart;
  }
  cache.Abort();
  cache.WaitFor();
  FCacheThread.reset();
  state.CacheRunning.store(false);
  state.BytesInCache.store(0);
  if (OnWriteDone) OnWriteDone(this, error);
  SetCurrentFile("");
  state.Burner.store(nullptr);
  state.Writing.store(false);
}

}  // namespace orv::burner
