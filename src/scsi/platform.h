// The platform operations the device layer needs, behind small interfaces so that the layer
// logic (layer choice, drive table, pass-through emulation, request execution) runs against
// a fake kernel in tests.
//
// KernelPort  : the CD/DVD drive nodes, SG_IO pass-through and the SCSI address ioctl.
// LibraryPort : dlopen/dlsym/dlclose of an outside ASPI layer.
// EventPort   : the completion event of a request (an eventfd on Linux), the timed wait and
//               the sleeps of polling loops (so tests run on a virtual clock).
//
// A drive "letter" is a drive number 0..25 (0 = A). Letter C (2) stands for /dev/sr0,
// D (3) for /dev/sr1, ... Z (25) for /dev/sr23; A and B never name a drive.
// Ports are process-wide; tests install fakes with the Set* functions and restore the real
// ones with nullptr. Not thread-safe: install ports before any command runs.
#pragma once

#include <cstdint>
#include <string>

namespace orv::scsi {

enum class DataDirection : std::uint8_t { In = 1, Out = 0, Unspecified = 2 };

// One pass-through command, the SG_IO counterpart of SCSI_PASS_THROUGH_DIRECT.
struct PassThrough {
  DataDirection direction = DataDirection::Unspecified;
  std::uint8_t cdb[16] = {};
  std::uint8_t cdb_length = 0;
  std::uint8_t* data = nullptr;        // the caller's buffer itself, no copy
  std::uint32_t data_length = 0;
  std::uint8_t* sense = nullptr;
  std::uint8_t sense_capacity = 0;     // SenseInfoLength on the way in
  std::uint32_t timeout_seconds = 120;
  // Filled by the port:
  std::uint8_t scsi_status = 0;        // ScsiStatus
  std::uint8_t sense_length = 0;       // SenseInfoLength on the way out
  std::uint32_t data_transferred = 0;  // bytes moved: data_length less the residual count
};

struct ScsiAddress {
  std::uint8_t PortNumber = 0;
  std::uint8_t PathId = 0;
  std::uint8_t TargetId = 0;
  std::uint8_t Lun = 0;
};

class KernelPort {
 public:
  virtual ~KernelPort() = default;
  // GetDriveTypeA(...) == DRIVE_CDROM: the drive number names an existing CD/DVD node.
  virtual bool IsCDDrive(int drive_number) = 0;
  // Read-write (non-blocking), else read-only; returns -1 when both fail.
  virtual int OpenDrive(int drive_number) = 0;
  virtual void CloseDrive(int handle) = 0;
  // True when the call itself succeeded (the command may still have failed at the drive:
  // see scsi_status and sense_length). A transport failure (host or driver status other
  // than "sense follows"), an ioctl error and a write that moved fewer bytes than it holds
  // are failed calls; a read may move fewer bytes than asked (data_transferred).
  virtual bool SendPassThrough(int handle, PassThrough& command) = 0;
  virtual bool GetAddress(int handle, ScsiAddress& address) = 0;
  // An exclusive lock (flock) on the drive's node, held on its own descriptor until
  // UnlockDrive: the one writer of the drive. Returns the lock's handle, kDriveLocked when
  // another process holds it, or -1 when the node cannot be opened or locked otherwise.
  // Ports without locks (test fakes that do not model it) keep these defaults.
  static constexpr int kDriveLocked = -2;
  virtual int LockDrive(int /*drive_number*/) { return -1; }
  virtual void UnlockDrive(int /*lock*/) {}
};

class LibraryPort {
 public:
  virtual ~LibraryPort() = default;
  // Returns nullptr when the library cannot be loaded. A name without '/' is searched in
  // the executable's folder first, then in the system's order.
  virtual void* Load(const std::string& name) = 0;
  virtual void* Symbol(void* handle, const char* name) = 0;
  virtual bool Free(void* handle) = 0;
};

class EventPort {
 public:
  virtual ~EventPort() = default;
  // Manual-reset event, not signalled; nullptr when none could be made.
  virtual void* CreateEvent() = 0;
  virtual void ResetEvent(void* event) = 0;
  // True when the event was signalled within timeout_ms.
  virtual bool WaitForEvent(void* event, std::uint32_t timeout_ms) = 0;
  virtual void CloseEvent(void* event) = 0;
  // The device layer's sleeps (polling loops) go through here too.
  virtual void Sleep(std::uint32_t ms) = 0;
};

KernelPort& Kernel();
LibraryPort& Libraries();
EventPort& Events();
void SetKernelPort(KernelPort* port);    // nullptr: the real /dev/sr* kernel interface
void SetLibraryPort(LibraryPort* port);  // nullptr: dlopen
void SetEventPort(EventPort* port);      // nullptr: eventfd

}  // namespace orv::scsi
