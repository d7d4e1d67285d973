// Emulated /dev/srN: the --wrap'ed open, close, ioctl and stat (see emulated_sr.h).
#include "emulated_sr.h"

#include <fcntl.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "scsi/aspi_types.h"
#include "scsi/vrecorder/config.h"
#include "scsi/vrecorder/drive.h"

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_close(int fd);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_stat(const char* path, struct stat* st);
int __wrap_open(const char* path, int flags, ...);
int __wrap_close(int fd);
int __wrap_ioctl(int fd, unsigned long request, ...);
int __wrap_stat(const char* path, struct stat* st);
}

namespace orv::sgio_test {
namespace {

// Linux host and driver status values (the kernel's DID_* and DRIVER_* codes).
constexpr std::uint16_t kDidError = 0x07;
constexpr std::uint16_t kDidTimeOut = 0x03;
constexpr std::uint16_t kDriverSense = 0x08;

struct Node {
  std::unique_ptr<vrec::VirtualDrive> drive;
  std::deque<SgFault> faults;
  std::vector<SgCall> calls;
};

struct State {
  std::recursive_mutex lock;  // the drive model's own open/close come back through the wrappers
  std::map<int, Node> nodes;  // node number -> drive
  std::map<int, int> handles;  // open descriptor -> node number
  int opens = 0;
};

State& S() {
  static State* state = new State;  // outlives every static destructor that may still close files
  return *state;
}

// The N of "/dev/srN", or -1 for any other path.
int NodeOf(const char* path) {
  static constexpr char kPrefix[] = "/dev/sr";
  if (path == nullptr || std::strncmp(path, kPrefix, sizeof kPrefix - 1) != 0) return -1;
  const char* digits = path + sizeof kPrefix - 1;
  if (*digits == '\0' || std::strlen(digits) > 3) return -1;
  for (const char* p = digits; *p; ++p)
    if (*p < '0' || *p > '9') return -1;
  return std::atoi(digits);
}

// Sense bytes the drive model reported: 8 header bytes and the additional length.
unsigned SenseLength(const std::uint8_t* sense) {
  const std::uint8_t code = sense[0] & 0x7F;
  if (code == 0x70 || code == 0x71 || code == 0x72 || code == 0x73) return 8u + sense[7];
  return 0;
}

int SgIo(Node& node, sg_io_hdr_t& io) {
  SgCall call;
  call.interface_id = io.interface_id;
  call.dxfer_direction = io.dxfer_direction;
  call.cmd_len = io.cmd_len;
  if (io.cmdp != nullptr) call.cdb.assign(io.cmdp, io.cmdp + io.cmd_len);
  call.dxfer_len = io.dxfer_len;
  call.mx_sb_len = io.mx_sb_len;
  call.timeout_ms = io.timeout;
  if (io.interface_id != 'S' || io.cmdp == nullptr || io.cmd_len < 6 || io.cmd_len > 16 ||
      (io.dxfer_len > 0 && io.dxferp == nullptr && io.dxfer_direction != SG_DXFER_NONE)) {
    node.calls.push_back(call);
    errno = EINVAL;
    return -1;
  }
  std::optional<SgFault> fault;
  if (!node.faults.empty()) {
    fault = node.faults.front();
    node.faults.pop_front();
  }
  if (fault && fault->kind == SgFault::Kind::Errno) {
    node.calls.push_back(call);
    errno = fault->value;
    return -1;
  }
  io.status = 0;
  io.masked_status = 0;
  io.msg_status = 0;
  io.host_status = 0;
  io.driver_status = 0;
  io.sb_len_wr = 0;
  io.resid = 0;
  io.duration = 1;
  const bool timed_out = (fault && fault->kind == SgFault::Kind::TimeOut) || node.drive->TakeHang(io.cmdp[0]);
  const bool transport =
      fault && (fault->kind == SgFault::Kind::HostStatus || fault->kind == SgFault::Kind::DriverStatus);
  if (timed_out) {
    // The command was aborted when its time ran out: nothing transferred, no status.
    io.host_status = kDidTimeOut;
    io.resid = static_cast<int>(io.dxfer_len);
    io.duration = io.timeout;
  } else if (transport) {
    // The command never reached the drive (or its answer was lost on the way): no status, no
    // sense, nothing transferred.
    if (fault->kind == SgFault::Kind::HostStatus) io.host_status = static_cast<unsigned short>(fault->value);
    else io.driver_status = static_cast<unsigned short>(fault->value);
    io.resid = static_cast<int>(io.dxfer_len);
  } else {
    const auto& config = node.drive->Config();
    scsi::SRB_ExecSCSICmd r{};
    r.SRB_Cmd = scsi::SC_EXEC_SCSI_CMD;
    r.SRB_HaId = config.ha;
    r.SRB_Target = config.target;
    r.SRB_Lun = config.lun;
    const bool out = io.dxfer_direction == SG_DXFER_TO_DEV;
    const bool in = io.dxfer_direction == SG_DXFER_FROM_DEV;
    r.SRB_Flags = out ? scsi::SRB_DIR_OUT : (in ? scsi::SRB_DIR_IN : 0);
    r.SRB_BufLen = (in || out) ? io.dxfer_len : 0;
    r.SRB_BufPointer = (in || out) ? static_cast<std::uint8_t*>(io.dxferp) : nullptr;
    r.SRB_SenseLen = 18;
    r.SRB_CDBLen = io.cmd_len;
    std::memcpy(r.CDBByte, io.cmdp, io.cmd_len);
    node.drive->Execute(r);
    io.status = r.SRB_TargStat;
    io.masked_status = static_cast<unsigned char>((r.SRB_TargStat >> 1) & 0x7F);
    if (r.SRB_Status != scsi::SS_COMP && r.SRB_TargStat == scsi::STATUS_GOOD) io.host_status = kDidError;
    if (r.SRB_TargStat == scsi::STATUS_CHKCOND) {
      io.driver_status = kDriverSense;
      const unsigned length = std::min<unsigned>(SenseLength(r.SenseArea), sizeof r.SenseArea);
      const unsigned copied = std::min<unsigned>(length, io.mx_sb_len);
      if (io.sbp != nullptr && copied > 0) std::memcpy(io.sbp, r.SenseArea, copied);
      io.sb_len_wr = static_cast<unsigned char>(io.sbp != nullptr ? copied : 0);
    }
    if (fault && fault->kind == SgFault::Kind::ShortTransfer)
      io.resid = static_cast<int>(io.dxfer_len) - std::min(fault->value, static_cast<int>(io.dxfer_len));
  }
  io.info = (io.status | io.host_status | io.driver_status) != 0 ? SG_INFO_CHECK : SG_INFO_OK;
  call.status = io.status;
  call.host_status = io.host_status;
  call.driver_status = io.driver_status;
  call.resid = io.resid;
  call.sb_len_wr = io.sb_len_wr;
  node.calls.push_back(call);
  return 0;
}

}  // namespace

void AddDrive(int node, const std::string& config_line) {
  auto parsed = vrec::ParseConfig(config_line + "\n");
  if (parsed.drives.size() != 1 || !parsed.errors.empty())
    throw std::invalid_argument("bad drive line: " + config_line +
                                (parsed.errors.empty() ? std::string() : " (" + parsed.errors.front() + ")"));
  std::lock_guard<std::recursive_mutex> g(S().lock);
  S().nodes[node].drive = std::make_unique<vrec::VirtualDrive>(std::move(parsed.drives.front()));
}

void ClearDrives() {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  S().nodes.clear();
  S().opens = 0;
}

void QueueFault(int node, SgFault fault) {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  S().nodes.at(node).faults.push_back(fault);
}

std::vector<SgCall> Calls(int node) {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  const auto it = S().nodes.find(node);
  return it == S().nodes.end() ? std::vector<SgCall>{} : it->second.calls;
}

void ForgetCalls() {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  for (auto& [number, node] : S().nodes) node.calls.clear();
}

int OpenHandles() {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  return static_cast<int>(S().handles.size());
}

int Opens() {
  std::lock_guard<std::recursive_mutex> g(S().lock);
  return S().opens;
}

}  // namespace orv::sgio_test

using orv::sgio_test::S;

extern "C" int __wrap_open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list ap;
    va_start(ap, flags);
    mode = static_cast<mode_t>(va_arg(ap, unsigned));
    va_end(ap);
  }
  const int number = orv::sgio_test::NodeOf(path);
  if (number < 0) return __real_open(path, flags, mode);
  std::lock_guard<std::recursive_mutex> g(S().lock);
  if (S().nodes.count(number) == 0) {
    errno = ENOENT;
    return -1;
  }
  const int fd = __real_open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd < 0) return -1;
  S().handles[fd] = number;
  ++S().opens;
  return fd;
}

extern "C" int __wrap_close(int fd) {
  {
    std::lock_guard<std::recursive_mutex> g(S().lock);
    S().handles.erase(fd);
  }
  return __real_close(fd);
}

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  std::lock_guard<std::recursive_mutex> g(S().lock);
  const auto handle = S().handles.find(fd);
  if (handle == S().handles.end()) return __real_ioctl(fd, request, arg);
  auto node = S().nodes.find(handle->second);
  if (node == S().nodes.end()) {
    errno = ENODEV;  // the drive went away while the node was open
    return -1;
  }
  if (request == SG_IO) return orv::sgio_test::SgIo(node->second, *static_cast<sg_io_hdr_t*>(arg));
  if (request == SCSI_IOCTL_GET_IDLUN) {
    const auto& c = node->second.drive->Config();
    if (!c.address_given) {
      errno = ENOTTY;  // a node that is no SCSI device answers no address
      return -1;
    }
    auto* idlun = static_cast<std::uint32_t*>(arg);
    idlun[0] = static_cast<std::uint32_t>(c.target) | (static_cast<std::uint32_t>(c.lun) << 8) |
               (static_cast<std::uint32_t>(c.ha) << 24);
    idlun[1] = static_cast<std::uint32_t>(c.ha) + 1;
    return 0;
  }
  errno = ENOTTY;
  return -1;
}

extern "C" int __wrap_stat(const char* path, struct stat* st) {
  const int number = orv::sgio_test::NodeOf(path);
  if (number < 0) return __real_stat(path, st);
  std::lock_guard<std::recursive_mutex> g(S().lock);
  if (S().nodes.count(number) == 0) {
    errno = ENOENT;
    return -1;
  }
  std::memset(st, 0, sizeof *st);
  st->st_mode = S_IFBLK | 0660;
  st->st_rdev = makedev(11, static_cast<unsigned>(number));
  return 0;
}
