// Emulated /dev/srN nodes for tests of the real Linux kernel port (src/scsi/platform_linux.cpp).
//
// The test binary is linked with --wrap for open, close, ioctl and stat: every call that code
// of the binary makes comes to emulated_sr.cpp first. Calls on an emulated node are answered
// here — stat as a block device, open with a descriptor of /dev/null that stands for the
// drive, SG_IO and SCSI_IOCTL_GET_IDLUN from the virtual recorder's drive model
// (src/scsi/vrecorder/drive.h) — and every other call goes on to the C library. Every /dev/srN
// that is not emulated does not exist, so a drive of the machine never takes part.
//
// SG_IO answers as the kernel's block layer does: status, masked status, DRIVER_SENSE with the
// sense bytes cut to mx_sb_len, resid, duration and SG_INFO_CHECK. Faults queued for a node
// replace or change the answer of its next SG_IO calls: an ioctl error (errno), a host or
// driver status, a short transfer, and a time-out (the drive model's `hang=` key also times out).
// Threading: one lock around everything; the burn's threads may call at once.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orv::sgio_test {

// One SG_IO call as the port made it and as it was answered.
struct SgCall {
  int interface_id = 0;
  int dxfer_direction = 0;
  unsigned cmd_len = 0;
  std::vector<std::uint8_t> cdb;
  unsigned dxfer_len = 0;
  unsigned mx_sb_len = 0;
  unsigned timeout_ms = 0;
  std::uint8_t status = 0;
  std::uint16_t host_status = 0;
  std::uint16_t driver_status = 0;
  int resid = 0;
  unsigned sb_len_wr = 0;
};

struct SgFault {
  enum class Kind { Errno, HostStatus, DriverStatus, ShortTransfer, TimeOut };
  Kind kind = Kind::Errno;
  int value = 0;  // the errno, the host or driver status, or the bytes transferred
};

// Adds /dev/sr<node> served by a drive model made from one line of the virtual recorder's
// configuration (docs/scsi.md), e.g. "\"/tmp/x/disc.iso\" CD-R ha=1 target=2".
void AddDrive(int node, const std::string& config_line);
// Removes every emulated node and drive (closing their images) and forgets calls and faults.
void ClearDrives();
void QueueFault(int node, SgFault fault);
std::vector<SgCall> Calls(int node);
void ForgetCalls();
// Descriptors of emulated nodes opened and not yet closed.
int OpenHandles();
// Opens of emulated nodes since the last ClearDrives.
int Opens();

}  // namespace orv::sgio_test
