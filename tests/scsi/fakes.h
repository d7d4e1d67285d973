// Test doubles for the device layer's platform ports: a scripted ASPI library behind a fake
// LibraryPort, a fake kernel with CD/DVD drives, and a virtual clock for events and sleeps.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "scsi/aspi_types.h"
#include "scsi/platform.h"

namespace orv::scsi::testing {

// What the scripted layer saw of one execute request.
struct SeenCommand {
  std::vector<std::uint8_t> cdb;  // SRB_CDBLen bytes
  std::uint8_t flags = 0;
  std::uint32_t buflen = 0;
  std::uint8_t ha = 0, target = 0, lun = 0;
  std::uint8_t senselen = 0;
  std::vector<std::uint8_t> data_out;  // the buffer as sent, for data-out commands
};

// A scripted ASPI library. `respond` answers execute requests; by default they complete
// with status 1 and no data. Set `leave_pending` to make every request hang.
struct ScriptedLayer {
  std::function<void(SRB_ExecSCSICmd&)> respond;
  std::vector<SeenCommand> seen;
  std::uint8_t ha_count = 1;
  std::vector<std::uint8_t> ha_inquiries;
  bool leave_pending = false;
  int aborts = 0;
  void* abort_target = nullptr;
  std::optional<char> disk_info_letter;

  static ScriptedLayer* active;
  static std::uint32_t Send(void* request);
  static std::uint32_t SupportInfo();

  // Helpers for `respond`.
  static void Answer(SRB_ExecSCSICmd& r, const std::vector<std::uint8_t>& bytes);
  static void CheckCondition(SRB_ExecSCSICmd& r, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
};

// Offers the scripted layer under the names in `available`; records every load attempt.
class FakeLibraries : public LibraryPort {
 public:
  std::set<std::string> available;
  std::vector<std::string> attempts;
  bool lacks_send_export = false;
  int frees = 0;
  void* Load(const std::string& name) override;
  void* Symbol(void* handle, const char* name) override;
  bool Free(void* handle) override;
};

struct FakeDrive {
  std::vector<std::uint8_t> inquiry;  // answer to the scan's INQUIRY
  std::optional<ScsiAddress> address;
  bool open_fails = false;
  bool inquiry_fails = false;
  // Pass-through result of commands other than the scan's INQUIRY.
  std::uint8_t scsi_status = 0;
  std::vector<std::uint8_t> sense;
};

inline FakeDrive MakeDrive(std::vector<std::uint8_t> inquiry, std::optional<ScsiAddress> address) {
  FakeDrive d;
  d.inquiry = std::move(inquiry);
  d.address = address;
  return d;
}

class FakeKernel : public KernelPort {
 public:
  std::map<int, FakeDrive> drives;  // by drive number (2 = C)
  std::vector<PassThrough> commands;
  std::vector<int> opened, closed;
  int open_handles = 0;
  bool IsCDDrive(int drive_number) override;
  int OpenDrive(int drive_number) override;
  void CloseDrive(int handle) override;
  bool SendPassThrough(int handle, PassThrough& command) override;
  bool GetAddress(int handle, ScsiAddress& address) override;
  // Node locks: drives in locked_elsewhere are held by another process; held maps a lock
  // handle (900 + drive number) to its drive.
  std::set<int> locked_elsewhere;
  std::map<int, int> held;
  int LockDrive(int drive_number) override {
    if (locked_elsewhere.count(drive_number)) return kDriveLocked;
    held[900 + drive_number] = drive_number;
    return 900 + drive_number;
  }
  void UnlockDrive(int lock) override { held.erase(lock); }
};

// Events never signal on their own: a wait reports signalled when the request already
// completed (the layer set a final status), otherwise it advances the virtual clock by the
// whole limit and reports a time-out. Sleeps advance the clock.
class VirtualClock : public EventPort {
 public:
  std::uint64_t now_ms = 0;
  std::vector<std::uint32_t> waits;
  std::vector<std::uint32_t> sleeps;
  int created = 0, closed = 0;
  std::function<bool()> completed;  // asked by WaitForEvent
  std::function<void()> on_sleep;   // called after each sleep
  void* CreateEvent() override;
  void ResetEvent(void*) override {}
  bool WaitForEvent(void* event, std::uint32_t timeout_ms) override;
  void CloseEvent(void* event) override;
  void Sleep(std::uint32_t ms) override;
};

std::string Hex(const std::vector<std::uint8_t>& bytes);

}  // namespace orv::scsi::testing
