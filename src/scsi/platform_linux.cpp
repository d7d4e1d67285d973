// The real platform ports: /dev/srN with SG_IO and SCSI_IOCTL_GET_IDLUN, dlopen, eventfd.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <scsi/sg.h>
#include <scsi/scsi.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "scsi/platform.h"

namespace orv::scsi {
namespace {

// The driver status byte of sg_io_hdr: its low nibble, and the DRIVER_SENSE value in it.
constexpr unsigned kDriverStatusMask = 0x0F;
constexpr unsigned kDriverSense = 0x08;

std::string DriveNode(int drive_number) { return "/dev/sr" + std::to_string(drive_number - 2); }

class LinuxKernel final : public KernelPort {
 public:
  bool IsCDDrive(int drive_number) override {
    if (drive_number < 2 || drive_number > 25) return false;
    struct stat st {};
    return ::stat(DriveNode(drive_number).c_str(), &st) == 0 && S_ISBLK(st.st_mode);
  }
  int OpenDrive(int drive_number) override {
    if (drive_number < 2 || drive_number > 25) return -1;
    const std::string node = DriveNode(drive_number);
    int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd;
  }
  void CloseDrive(int handle) override {
    if (handle >= 0) ::close(handle);
  }
  int LockDrive(int drive_number) override {
    if (drive_number < 2 || drive_number > 25) return -1;
    const int fd = ::open(DriveNode(drive_number).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    // Only the drive's own block node is locked; anything else standing in for it is not
    // shared with other writers.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
      ::close(fd);
      return -1;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      return error == EWOULDBLOCK ? kDriveLocked : -1;
    }
    return fd;
  }
  void UnlockDrive(int lock) override {
    if (lock >= 0) ::close(lock);  // closing the descriptor ends its flock
  }
  bool SendPassThrough(int handle, PassThrough& c) override {
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.dxfer_direction = c.direction == DataDirection::In    ? SG_DXFER_FROM_DEV
                         : c.direction == DataDirection::Out ? SG_DXFER_TO_DEV
                                                             : SG_DXFER_NONE;
    if (c.data_length == 0) io.dxfer_direction = SG_DXFER_NONE;
    io.cmd_len = c.cdb_length;
    io.cmdp = c.cdb;
    io.dxferp = c.data;
    io.dxfer_len = c.data_length;
    io.sbp = c.sense;
    io.mx_sb_len = c.sense_capacity;
    io.timeout = c.timeout_seconds * 1000;
    int rc;
    do {
      rc = ::ioctl(handle, SG_IO, &io);
    } while (rc < 0 && errno == EINTR);
    c.scsi_status = io.status;
    c.sense_length = io.sb_len_wr;
    const auto resid = static_cast<std::uint32_t>(std::clamp<int>(io.resid, 0, static_cast<int>(io.dxfer_len)));
    c.data_transferred = io.dxfer_len - resid;
    if (rc < 0) return false;
    // A transport failure (no sense, no status) counts as a failed call; DRIVER_SENSE only
    // says that sense data came with a CHECK CONDITION status.
    if (io.host_status != 0 || (io.driver_status & kDriverStatusMask & ~kDriverSense) != 0) return false;
    // Data a drive did not take is data missing on the disc.
    return !(io.dxfer_direction == SG_DXFER_TO_DEV && c.data_transferred < c.data_length);
  }
  bool GetAddress(int handle, ScsiAddress& address) override {
    struct {
      std::uint32_t dev_id;
      std::uint32_t host_unique_id;
    } idlun{};
    if (::ioctl(handle, SCSI_IOCTL_GET_IDLUN, &idlun) != 0) return false;
    address.TargetId = idlun.dev_id & 0xFF;
    address.Lun = (idlun.dev_id >> 8) & 0xFF;
    address.PathId = (idlun.dev_id >> 16) & 0xFF;
    address.PortNumber = (idlun.dev_id >> 24) & 0xFF;
    return true;
  }
};

class DlLibraries final : public LibraryPort {
 public:
  void* Load(const std::string& name) override {
    if (name.find('/') == std::string::npos) {
      std::error_code ec;
      const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
      if (!ec) {
        const auto beside = exe.parent_path() / name;
        if (std::filesystem::exists(beside, ec)) {
          if (void* h = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
        }
      }
    }
    return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  void* Symbol(void* handle, const char* name) override { return ::dlsym(handle, name); }
  bool Free(void* handle) override { return ::dlclose(handle) == 0; }
};

class EventFds final : public EventPort {
 public:
  void* CreateEvent() override {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return nullptr;
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd));
  }
  void ResetEvent(void* event) override {
    std::uint64_t v;
    while (::read(Fd(event), &v, sizeof v) == sizeof v) {
    }
  }
  bool WaitForEvent(void* event, std::uint32_t timeout_ms) override {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
      pollfd p{Fd(event), POLLIN, 0};
      const int rc = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
      if (rc > 0) return true;  // manual reset: the count stays until ResetEvent
      if (rc == 0) return false;
      if (errno != EINTR) return false;
    }
  }
  void CloseEvent(void* event) override { ::close(Fd(event)); }
  void Sleep(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

 private:
  static int Fd(void* event) { return static_cast<int>(reinterpret_cast<std::intptr_t>(event)); }
};

LinuxKernel g_linux_kernel;
DlLibraries g_dl_libraries;
EventFds g_event_fds;
KernelPort* g_kernel = &g_linux_kernel;
LibraryPort* g_libraries = &g_dl_libraries;
EventPort* g_events = &g_event_fds;

}  // namespace

KernelPort& Kernel() { return *g_kernel; }
LibraryPort& Libraries() { return *g_libraries; }
EventPort& Events() { return *g_events; }
void SetKernelPort(KernelPort* port) { g_kernel = port ? port : &g_linux_kernel; }
void SetLibraryPort(LibraryPort* port) { g_libraries = port ? port : &g_dl_libraries; }
void SetEventPort(EventPort* port) { g_events = port ? port : &g_event_fds; }

}  // namespace orv::scsi
