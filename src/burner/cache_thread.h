// TCacheThread: the read-ahead cache of a burn. A producer thread reads the whole track ahead
// of the writer into a bounded queue of blocks of up to 31 sectors: the header area, the boot
// image and the zeros after it, the data of every file in file-table order (files packed
// without gaps, each starting on a sector), and for short tracks zero sectors up to 300.
// The write thread takes the blocks one by one with GetBlock and sends one WRITE(10) each.
//
// Ownership: the burn's write thread creates, owns and destroys the cache thread; the
// destructor stops the producer and joins it. The header stream is borrowed and emptied once
// it has been queued; the file pieces are copied.
// Threading: GetBlock/WaitBlock are called by one consumer; Abort, AbortWith and the readers
// (Primed, ErrorText, CurrentFile, BytesInCache, Finished) from any thread. A mutex guards the
// queue, the byte counts and the texts; condition variables replace the busy-flag polling.
// Errors: the producer never throws; it leaves the message that ends the burn in ErrorText
// (an open failure, a source that changed size or could not be read, an abort).
#pragma once

#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "burner/track_source.h"

namespace orv::burner {

inline constexpr int kCacheBlockSectors = 31;
inline constexpr int kCacheBlockBytes = kCacheBlockSectors * 2048;  // 63488
// Tracks shorter than this get zero sectors up to it when WritePostGap is set (300 sectors).
inline constexpr int64_t kMinTrackBytes = 614400;
inline constexpr const char* kMsgAbortedByUser = "OPERATION ABORTED BY USER";

struct CacheBlock {
  uint8_t Data[kCacheBlockBytes];
  uint32_t Count = 0;  // valid bytes, a multiple of 2048
};

// What the cache streams besides the header: the boot image piece, the zeros after it and the
// file pieces, as TrackPieces() lists them.
struct TCacheSources {
  std::string BootImageName;      // empty without a boot image
  int64_t BootImageBytes = 0;     // rounded up to whole sectors
  int64_t BootPadBytes = 0;       // zero bytes between the boot image and the first file
  std::vector<TTrackPiece> Files;
};

class TCacheThread {
 public:
  // Starts the producer at once. TrackBytes is the track length in bytes without the
  // 300-sector minimum.
  TCacheThread(int CacheSize, bool WritePostGap, int64_t TrackBytes, std::vector<uint8_t>& HeaderStream,
               TCacheSources Sources);
  ~TCacheThread();
  TCacheThread(const TCacheThread&) = delete;
  TCacheThread& operator=(const TCacheThread&) = delete;

  // Copies the oldest block into Dest (kCacheBlockBytes) and returns its byte count; 0 at the
  // end of the data or after a stop; -1 when no block is ready yet.
  int GetBlock(uint8_t* Dest);
  // As GetBlock, but waits up to Timeout for a block (or the end) before answering -1.
  int WaitBlock(uint8_t* Dest, std::chrono::milliseconds Timeout);
  // Stop request; queued blocks are discarded and ErrorText becomes "OPERATION ABORTED BY
  // USER" unless a message is already set.
  void Abort();
  // Sets ErrorText to Text (replacing an earlier message) and stops.
  void AbortWith(const std::string& Text);
  // Waits until the producer has ended.
  void WaitFor();
  // Waits up to Timeout until the queue is primed or an error is set; true when primed.
  bool WaitPrimed(std::chrono::milliseconds Timeout);

  bool Primed() const { return FPrimed.load(); }
  bool Finished() const { return FFinished.load(); }
  std::string ErrorText() const;
  std::string CurrentFile() const;
  int64_t BytesInCache() const { return FBytesInCache.load(); }
  int64_t Remaining() const;
  int BlockCapacity() const { return FBlockCapacity; }
  bool PadToMinimum() const { return FPadToMinimum; }
  int PriorityLevel() const { return FPriorityLevel.load(); }
  // Most blocks ever queued at once, and the fewest queued when the writer came for a block
  // after priming while the producer still had data to read (-1 when never measured).
  int MaxQueued() const { return FMaxQueued.load(); }
  int LowestQueuedAfterPriming() const { return FLowestQueued.load(); }
  // The digest of every file the producer read to its end (all of them once it has queued
  // the file data).
  std::vector<TFileDigest> Digests() const;

 private:
  void Run();
  // Appends a filled block; returns the queue length after it.
  size_t Append(std::unique_ptr<CacheBlock> Block);
  std::unique_ptr<CacheBlock> NewBlock();
  // Waits while the queue holds BlockCapacity - 1 blocks or more; false when a stop came.
  bool WaitForRoom();
  bool Stopping() const { return FAborted.load(); }
  void Fail(const std::string& Text);
  void StopAfterAbort();
  void SetPriorityLevel(int Level);
  bool QueueReader(TTrackReader& Reader, bool FileData);

  const int FBlockCapacity;
  const bool FPadToMinimum;
  const int64_t FTrackBytes;
  std::vector<uint8_t>& FHeaderStream;
  const TCacheSources FSources;

  mutable std::mutex FLock;
  std::condition_variable FChanged;  // queue, Primed, Finished, ErrorText, stop
  std::deque<std::unique_ptr<CacheBlock>> FBlocks;
  std::vector<std::unique_ptr<CacheBlock>> FSpare;  // taken blocks, reused
  int64_t FRemaining = 0;
  bool FStopped = false;  // queue discarded after a stop: GetBlock answers 0
  bool FAllQueued = false;
  std::string FErrorText;
  std::string FCurrentFile;
  std::vector<TFileDigest> FDigests;

  std::atomic<bool> FAborted{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FPrimed{false};
  std::atomic<int64_t> FBytesInCache{0};
  std::atomic<int> FPriorityLevel{2};
  std::atomic<int> FMaxQueued{0};
  std::atomic<int> FLowestQueued{-1};
  bool FPriorityAdjustable = false;
  int FBaseNice = 0;
  std::thread FThread;
};

}  // namespace orv::burner
