#include "burner/cache_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "burner/burn_state.h"

namespace orv::burner {
namespace {

// Nice value added to the thread's starting one for each priority level (idle, lowest,
// lower, normal). The thread blocks while the queue is full instead of polling, so it does not
// drop to idle there: woken at idle it would starve behind other work and let the queue run dry.
constexpr int kNiceOfLevel[4] = {10, 2, 1, 0};

int ThreadId() { return static_cast<int>(::syscall(SYS_gettid)); }

void PublishFill(int64_t bytes) { ProcessBurnState().BytesInCache.store(bytes); }

}  // namespace

TCacheThread::TCacheThread(int CacheSize, bool WritePostGap, int64_t TrackBytes, std::vector<uint8_t>& HeaderStream,
                           TCacheSources Sources)
    : FBlockCapacity(CacheSize / 65536),
      FPadToMinimum(WritePostGap && TrackBytes < kMinTrackBytes),
      FTrackBytes(TrackBytes),
      FHeaderStream(HeaderStream),
      FSources(std::move(Sources)),
      FRemaining(TrackBytes) {
  PublishFill(0);
  FThread = std::thread([this] { Run(); });
}

TCacheThread::~TCacheThread() {
  Abort();
  WaitFor();
}

void TCacheThread::WaitFor() {
  if (FThread.joinable()) FThread.join();
}

std::string TCacheThread::ErrorText() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FErrorText;
}

std::string TCacheThread::CurrentFile() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FCurrentFile;
}

int64_t TCacheThread::Remaining() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FRemaining;
}

void TCacheThread::Abort() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FAborted.store(true);
  }
  FChanged.notify_all();
}

void TCacheThread::AbortWith(const std::string& Text) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FErrorText = Text;
    FAborted.store(true);
  }
  FChanged.notify_all();
}

bool TCacheThread::WaitPrimed(std::chrono::milliseconds Timeout) {
  std::unique_lock<std::mutex> lock(FLock);
  FChanged.wait_for(lock, Timeout, [this] { return FPrimed.load() || !FErrorText.empty() || FFinished.load(); });
  return FPrimed.load();
}

int TCacheThread::GetBlock(uint8_t* Dest) {
  std::unique_lock<std::mutex> lock(FLock);
  if (FStopped) return 0;
  if (FRemaining <= 0 && FFinished.load()) return 0;
  if (FBlocks.empty()) return FFinished.load() ? 0 : -1;
  if (FPrimed.load() && !FAllQueued) {
    const int queued = static_cast<int>(FBlocks.size());
    const int lowest = FLowestQueued.load();
    if (lowest < 0 || queued < lowest) FLowestQueued.store(queued);
  }
  std::unique_ptr<CacheBlock> block = std::move(FBlocks.front());
  FBlocks.pop_front();
  const uint32_t count = block->Count;
  std::memcpy(Dest, block->Data, count);
  FBytesInCache.fetch_sub(count);
  FRemaining -= count;
  PublishFill(FBytesInCache.load());
  FSpare.push_back(std::move(block));
  lock.unlock();
  FChanged.notify_all();
  return static_cast<int>(count);
}

int TCacheThread::WaitBlock(uint8_t* Dest, std::chrono::milliseconds Timeout) {
  const int n = GetBlock(Dest);
  if (n != -1) return n;
  {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait_for(lock, Timeout,
                      [this] { return !FBlocks.empty() || FFinished.load() || FStopped || FAborted.load(); });
  }
  return GetBlock(Dest);
}

std::unique_ptr<CacheBlock> TCacheThread::NewBlock() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (!FSpare.empty()) {
      std::unique_ptr<CacheBlock> block = std::move(FSpare.back());
      FSpare.pop_back();
      block->Count = 0;
      return block;
    }
  }
  return std::unique_ptr<CacheBlock>(new CacheBlock);
}

size_t TCacheThread::Append(std::unique_ptr<CacheBlock> Block) {
  size_t queued = 0;
  {
    std::lock_guard<std::mutex> lock(FLock);
    FBytesInCache.fetch_add(Block->Count);
    FBlocks.push_back(std::move(Block));
    queued = FBlocks.size();
    if (static_cast<int>(queued) > FMaxQueued.load()) FMaxQueued.store(static_cast<int>(queued));
    PublishFill(FBytesInCache.load());
  }
  FChanged.notify_all();
  return queued;
}

bool TCacheThread::WaitForRoom() {
  std::unique_lock<std::mutex> lock(FLock);
  while (static_cast<int>(FBlocks.size()) >= FBlockCapacity - 1) {
    if (FAborted.load()) return false;
    if (!FPrimed.load()) {
      FPrimed.store(true);
      FChanged.notify_all();
    }
    FChanged.wait(lock);
  }
  return !FAborted.load();
}

void TCacheThread::SetPriorityLevel(int Level) {
  if (Level == FPriorityLevel.load()) return;
  FPriorityLevel.store(Level);
  // Best effort: without the right to lower a nice value again, the thread keeps the level it
  // started with.
  if (FPriorityAdjustable) (void)::setpriority(PRIO_PROCESS, ThreadId(), FBaseNice + kNiceOfLevel[Level]);
}

void TCacheThread::Fail(const std::string& Text) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (FErrorText.empty()) FErrorText = Text;
    FFinished.store(true);
  }
  FChanged.notify_all();
}

void TCacheThread::StopAfterAbort() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FBlocks.clear();
    FSpare.clear();
    FBytesInCache.store(0);
    PublishFill(0);
    if (FErrorText.empty()) FErrorText = kMsgAbortedByUser;
    FStopped = true;
    FFinished.store(true);
  }
  FChanged.notify_all();
}

// Queues everything the reader delivers. True when the reader is exhausted; false after a
// stop request or an error (Finished is then set).
bool TCacheThread::QueueReader(TTrackReader& Reader, bool FileData) {
  for (;;) {
    if (Stopping()) {
      StopAfterAbort();
      return false;
    }
    std::unique_ptr<CacheBlock> block = NewBlock();
    const int64_t n = Reader.Read(block->Data, kCacheBlockBytes);
    if (FileData && (n != 0 || !Reader.CurrentFile().empty())) {
      // A reader that reached its end in this read has let go of the name of its last file.
      std::lock_guard<std::mutex> lock(FLock);
      if (!Reader.CurrentFile().empty()) FCurrentFile = Reader.CurrentFile();
      else if (n > 0 && !FSources.Files.empty()) FCurrentFile = FSources.Files.back().path;
    }
    if (n < 0) {
      Fail(Reader.Error());
      return false;
    }
    if (n == 0) return true;
    block->Count = static_cast<uint32_t>(n);
    const int queued = static_cast<int>(Append(std::move(block)));
    if (FileData) {
      SetPriorityLevel(queued < FBlockCapacity / 4 ? 3 : queued < FBlockCapacity / 2 ? 2 : 1);
    }
    if (!WaitForRoom()) {
      StopAfterAbort();
      return false;
    }
  }
}

void TCacheThread::Run() {
  // Start one step below normal; lowering works for everyone, raising again only with the
  // right to do so, which decides whether the level may follow the queue.
  const int tid = ThreadId();
  errno = 0;
  FBaseNice = ::getpriority(PRIO_PROCESS, tid);
  if (errno == 0 && ::setpriority(PRIO_PROCESS, tid, FBaseNice + 1) == 0) {
    FPriorityAdjustable = ::setpriority(PRIO_PROCESS, tid, FBaseNice) == 0;
    if (FPriorityAdjustable) (void)::setpriority(PRIO_PROCESS, tid, FBaseNice + kNiceOfLevel[2]);
  }

  // Header area, cut into blocks of at most 31 sectors.
  {
    TTrackReader header({{TTrackPiece::Kind::Header, {}, static_cast<int64_t>(FHeaderStream.size()),
                          static_cast<int64_t>(FHeaderStream.size()), nullptr}},
                        FHeaderStream);
    if (!QueueReader(header, false)) return;
    FHeaderStream.clear();
  }
  if (!WaitForRoom()) return StopAfterAbort();

  // Boot image, then the zeros the layout put between it and the first file.
  if (!FSources.BootImageName.empty()) {
    TTrackReader boot({{TTrackPiece::Kind::BootImage, FSources.BootImageName, FSources.BootImageBytes,
                        FSources.BootImageBytes, nullptr}},
                      FHeaderStream);
    if (!QueueReader(boot, false)) return;
    if (FSources.BootPadBytes > 0) {
      TTrackReader pad({{TTrackPiece::Kind::Zeros, {}, FSources.BootPadBytes, FSources.BootPadBytes, nullptr}},
                       FHeaderStream);
      if (!QueueReader(pad, false)) return;
    }
  }

  // File data, packed: a block holds the tail of one file and the heads of the next.
  {
    TTrackReader files(FSources.Files, FHeaderStream);
    const bool queued = QueueReader(files, true);
    {
      std::lock_guard<std::mutex> lock(FLock);
      FDigests = files.Digests();
    }
    if (!queued) return;
  }

  // Zero sectors up to the 300-sector minimum, appended at once.
  if (FPadToMinimum) {
    int64_t pad = kMinTrackBytes - FTrackBytes;
    {
      std::lock_guard<std::mutex> lock(FLock);
      FRemaining += pad;
    }
    while (pad > 0) {
      std::unique_ptr<CacheBlock> block = NewBlock();
      const int64_t n = std::min<int64_t>(pad, kCacheBlockBytes);
      std::memset(block->Data, 0, static_cast<size_t>(n));
      block->Count = static_cast<uint32_t>(n);
      Append(std::move(block));
      pad -= n;
    }
  }

  // Everything is queued: wait until the writer has taken it, or a stop.
  std::unique_lock<std::mutex> lock(FLock);
  FAllQueued = true;
  FPrimed.store(true);
  FChanged.notify_all();
  FChanged.wait(lock, [this] { return FRemaining <= 0 || FAborted.load(); });
  if (FRemaining > 0 || FAborted.load()) {
    lock.unlock();
    StopAfterAbort();
    return;
  }
  FFinished.store(true);
  lock.unlock();
  FChanged.notify_all();
}

std::vector<TFileDigest> TCacheThread::Digests() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FDigests;
}

}  // namespace orv::burner
