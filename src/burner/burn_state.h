// The state of the running burn, one per process: which burner is being written, the
// writing and abort-request flags, and the cache fill that callers display. The cache and
// write threads set these; the user-interface thread reads them without a lock.
#pragma once

#include <atomic>
#include <cstdint>

namespace orv::burner {

class TDiscBurner;

struct TBurnState {
  std::atomic<TDiscBurner*> Burner{nullptr};   // the burner of the running burn
  std::atomic<bool> Writing{false};            // from the start to the end of the write thread
  std::atomic<bool> AbortRequest{false};       // set by AbortWrite
  std::atomic<bool> CacheRunning{false};       // a cache thread exists
  std::atomic<int64_t> BytesInCache{0};        // bytes read ahead and not yet taken
};

TBurnState& ProcessBurnState();

}  // namespace orv::burner
