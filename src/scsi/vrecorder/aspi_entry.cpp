// The ASPI entry points of the virtual recorder (libwnaspi32.so).
//
// Requests with SRB_EVENT_NOTIFY and an event complete on a worker thread: SendASPI32Command
// returns 0 (pending) and the worker later sets the final status and signals the eventfd in
// SRB_PostProc. Requests without an event, and drives configured with sync=1, complete before
// the call returns. A request that the configuration makes hang stays pending until aborted.
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "scsi/aspi_types.h"
#include "scsi/vrecorder/config.h"
#include "scsi/vrecorder/drive.h"

using namespace orv::scsi;
using orv::vrec::VirtualDrive;

namespace {

constexpr char kManagerId[17] = "ORVAKELL VREC   ";
constexpr char kIdentifier[17] = "VIRTUAL RECORDER";

class Recorder {
 public:
  ~Recorder() { Stop(); }

  std::uint32_t Send(void* request);
  std::uint32_t SupportInfo();
  void Reload();
  std::string Log(unsigned drive);
  std::string Errors();

 private:
  void LoadLocked();
  VirtualDrive* Find(std::uint8_t ha, std::uint8_t target, std::uint8_t lun);
  std::uint8_t AdapterCount();
  void Worker();
  void Stop();
  static void Finish(SRB_ExecSCSICmd& r, std::uint8_t status);
  std::uint32_t Abort(SRB_Abort& a);

  std::mutex mutex_;
  std::condition_variable wake_;
  bool loaded_ = false;
  bool stopping_ = false;
  std::vector<std::unique_ptr<VirtualDrive>> drives_;
  std::vector<std::string> errors_;
  std::deque<SRB_ExecSCSICmd*> queue_;
  std::vector<SRB_ExecSCSICmd*> hung_;
  SRB_ExecSCSICmd* waiting_ = nullptr;  // taken from the queue, in its completion delay
  std::thread worker_;
};

void Recorder::LoadLocked() {
  if (loaded_) return;
  loaded_ = true;
  drives_.clear();
  errors_.clear();
  const char* path = std::getenv("ORVAKELL_VRECORDER");
  if (path == nullptr || *path == '\0') return;
  std::ifstream in(path);
  if (!in) {
    errors_.push_back(std::string("cannot read ") + path);
    return;
  }
  std::stringstream text;
  text << in.rdbuf();
  auto parsed = orv::vrec::ParseConfig(text.str());
  errors_ = parsed.errors;
  for (auto& d : parsed.drives) drives_.push_back(std::make_unique<VirtualDrive>(std::move(d)));
}

VirtualDrive* Recorder::Find(std::uint8_t ha, std::uint8_t target, std::uint8_t lun) {
  for (auto& d : drives_) {
    const auto& c = d->Config();
    if (c.ha == ha && c.target == target && c.lun == lun) return d.get();
  }
  return nullptr;
}

std::uint8_t Recorder::AdapterCount() {
  int highest = -1;
  for (auto& d : drives_) highest = std::max<int>(highest, d->Config().ha);
  return static_cast<std::uint8_t>(highest + 1);
}

void Recorder::Finish(SRB_ExecSCSICmd& r, std::uint8_t status) {
  std::atomic_ref<std::uint8_t>(r.SRB_Status).store(status, std::memory_order_release);
  if (r.SRB_PostProc != nullptr) {
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(r.SRB_PostProc));
    const std::uint64_t one = 1;
    (void)!::write(fd, &one, sizeof one);
  }
}

std::uint32_t Recorder::Send(void* request) {
  if (request == nullptr) return SS_ERR;
  auto* header = static_cast<SRB_Header*>(request);
  std::unique_lock lock(mutex_);
  LoadLocked();
  switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY: {
      auto& r = *static_cast<SRB_HAInquiry*>(request);
      r.HA_Count = AdapterCount();
      if (r.SRB_HaId >= r.HA_Count) {
        r.SRB_Status = r.HA_Count == 0 ? SS_COMP : SS_INVALID_HA;  // no drives: an empty adapter list
        return r.SRB_Status;
      }
      r.HA_SCSI_ID = 7;
      std::memcpy(r.HA_ManagerId, kManagerId, 16);
      std::memcpy(r.HA_Identifier, kIdentifier, 16);
      std::memset(r.HA_Unique, 0, sizeof r.HA_Unique);
      r.HA_Unique[3] = 8;
      r.HA_Unique[6] = 0x10;  // 1 MiB maximum transfer, little-endian
      r.SRB_Status = SS_COMP;
      return SS_COMP;
    }
    case SC_GET_DEV_TYPE: {
      auto& r = *static_cast<SRB_GDEVBlock*>(request);
      const bool found = Find(r.SRB_HaId, r.SRB_Target, r.SRB_Lun) != nullptr;
      r.SRB_DeviceType = found ? 5 : 0x1F;
      r.SRB_Status = found ? SS_COMP : SS_NO_DEVICE;
      return r.SRB_Status;
    }
    case SC_GET_DISK_INFO: {
      auto& r = *static_cast<SRB_GetDiskInfo*>(request);
      VirtualDrive* d = Find(r.SRB_HaId, r.SRB_Target, r.SRB_Lun);
      if (d == nullptr || d->Config().letter == 0) {
        r.SRB_Status = d == nullptr ? SS_NO_DEVICE : SS_ERR;
        return r.SRB_Status;
      }
      r.SRB_Int13HDriveInfo = static_cast<std::uint8_t>(d->Config().letter - 'A');
      r.SRB_Status = SS_COMP;
      return SS_COMP;
    }
    case SC_ABORT_SRB: return Abort(*static_cast<SRB_Abort*>(request));
    case SC_EXEC_SCSI_CMD: {
      auto& r = *static_cast<SRB_ExecSCSICmd*>(request);
      if (r.SRB_HaId >= AdapterCount()) {
        r.SRB_Status = SS_INVALID_HA;
        return SS_INVALID_HA;
      }
      VirtualDrive* d = Find(r.SRB_HaId, r.SRB_Target, r.SRB_Lun);
      if (d == nullptr) {
        r.SRB_Status = SS_NO_DEVICE;
        return SS_NO_DEVICE;
      }
      d->Record(r);
      const bool event = (r.SRB_Flags & SRB_EVENT_NOTIFY) && r.SRB_PostProc != nullptr;
      if (d->TakeHang(r.CDBByte[0])) {
        r.SRB_Status = SS_PENDING;
        hung_.push_back(&r);
        return SS_PENDING;
      }
      if (!event || d->Config().synchronous) {
        d->Execute(r);
        return r.SRB_Status;
      }
      std::atomic_ref<std::uint8_t>(r.SRB_Status).store(SS_PENDING);
      queue_.push_back(&r);
      if (!worker_.joinable()) worker_ = std::thread([this] { Worker(); });
      wake_.notify_all();
      return SS_PENDING;
    }
    default:
      header->SRB_Status = SS_INVALID_CMD;
      return SS_INVALID_CMD;
  }
}

std::uint32_t Recorder::Abort(SRB_Abort& a) {
  auto* target = static_cast<SRB_ExecSCSICmd*>(a.SRB_ToAbort);
  bool removed = false;
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (*it == target) {
      queue_.erase(it);
      removed = true;
      break;
    }
  }
  for (auto it = hung_.begin(); !removed && it != hung_.end(); ++it) {
    if (*it == target) {
      hung_.erase(it);
      removed = true;
      break;
    }
  }
  if (!removed && waiting_ == target) {
    waiting_ = nullptr;
    removed = true;
  }
  if (removed) target->SRB_Status = SS_ABORTED;  // never signalled afterwards
  a.SRB_Status = removed ? SS_COMP : SS_ABORT_FAIL;
  return a.SRB_Status;
}

void Recorder::Worker() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    SRB_ExecSCSICmd* r = queue_.front();
    queue_.pop_front();
    VirtualDrive* d = Find(r->SRB_HaId, r->SRB_Target, r->SRB_Lun);
    waiting_ = r;
    if (d != nullptr && d->Config().delay_ms > 0) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(d->Config().delay_ms);
      wake_.wait_until(lock, until, [&] { return stopping_ || waiting_ != r; });
    }
    if (stopping_) return;
    if (waiting_ != r) continue;  // aborted while waiting
    waiting_ = nullptr;
    if (d == nullptr) {
      Finish(*r, SS_NO_DEVICE);
      continue;
    }
    // Work on a copy so that the status byte, which the caller may be polling, changes
    // only once, atomically, after everything else is in place. Data goes straight to the
    // caller's buffer, which it does not touch while the request is pending.
    SRB_ExecSCSICmd work;
    std::memcpy(&work, r, sizeof work);
    d->Execute(work);
    r->SRB_HaStat = work.SRB_HaStat;
    r->SRB_TargStat = work.SRB_TargStat;
    std::memcpy(r->SenseArea, work.SenseArea, sizeof work.SenseArea);
    Finish(*r, work.SRB_Status);
  }
}

void Recorder::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

std::uint32_t Recorder::SupportInfo() {
  std::lock_guard lock(mutex_);
  LoadLocked();
  const std::uint8_t n = AdapterCount();
  return n != 0 ? 0x0100u + n : 0xE800u;
}

void Recorder::Reload() {
  std::lock_guard lock(mutex_);
  queue_.clear();
  hung_.clear();
  waiting_ = nullptr;
  loaded_ = false;
  LoadLocked();
}

std::string Recorder::Log(unsigned drive) {
  std::lock_guard lock(mutex_);
  LoadLocked();
  if (drive >= drives_.size()) return "";
  std::string out;
  for (const auto& line : drives_[drive]->Log()) out += line + "\n";
  return out;
}

std::string Recorder::Errors() {
  std::lock_guard lock(mutex_);
  LoadLocked();
  std::string out;
  for (const auto& e : errors_) out += e + "\n";
  for (const auto& d : drives_)
    if (!d->LoadError().empty()) out += d->LoadError() + "\n";
  return out;
}

Recorder& TheRecorder() {
  static Recorder recorder;
  return recorder;
}

std::size_t CopyOut(const std::string& text, char* buffer, std::size_t capacity) {
  if (buffer != nullptr && capacity > 0) {
    const std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return text.size() + 1;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo() { return TheRecorder().SupportInfo(); }

__attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void* request) {
  return TheRecorder().Send(request);
}

// Test hooks: re-read ORVAKELL_VRECORDER and reset every drive (pending requests are dropped).
__attribute__((visibility("default"))) void VRecorderReload() { TheRecorder().Reload(); }

// The CDBs drive number `drive` (configuration order) received, one line each:
// "ha:target:lun XX XX ... flags=XX len=N". Returns the size needed including the NUL.
__attribute__((visibility("default"))) std::size_t VRecorderCommandLog(unsigned drive, char* buffer, std::size_t capacity) {
  return CopyOut(TheRecorder().Log(drive), buffer, capacity);
}

// Configuration and image errors, one per line. Returns the size needed including the NUL.
__attribute__((visibility("default"))) std::size_t VRecorderErrors(char* buffer, std::size_t capacity) {
  return CopyOut(TheRecorder().Errors(), buffer, capacity);
}

}
