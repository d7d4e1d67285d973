// The emulated recorder: MMC command execution over the disc model and the image file.
#include "scsi/vrecorder/drive.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>

#include "platform/byte_order.h"

namespace orv::vrec {

using namespace orv::scsi;

namespace {

constexpr std::uint32_t kSector = 2048;

void PutMSF(std::uint8_t* p, std::uint32_t lba) {  // p[0] reserved, then M, S, F
  const std::uint32_t x = lba + 150;
  p[0] = 0;
  p[1] = static_cast<std::uint8_t>(x / 4500);
  p[2] = static_cast<std::uint8_t>((x / 75) % 60);
  p[3] = static_cast<std::uint8_t>(x % 75);
}
void PutPadded(std::uint8_t* p, const std::string& s, std::size_t width) {
  std::memset(p, ' ', width);
  std::memcpy(p, s.data(), std::min(s.size(), width));
}

// Sense key / ASC / ASCQ used below.
constexpr std::uint8_t NOT_READY = 2, MEDIUM_ERROR = 3, HARDWARE_ERROR = 4, ILLEGAL_REQUEST = 5;

}  // namespace

std::uint32_t VirtualDrive::SessionGap(bool dvd, std::uint32_t closed_sessions_before) {
  if (dvd) return 4096;
  // Lead-out (6750 sectors after the first session, 2250 after later ones), the next
  // session's lead-in (4500) and its first track's pre-gap (150).
  return (closed_sessions_before == 0 ? 6750u : 2250u) + 4500u + 150u;
}

VirtualDrive::VirtualDrive(DriveConfig config) : config_(std::move(config)) {
  write_params_ = DefaultWriteParameters();
  current_write_speed_ = *std::max_element(config_.write_speeds.begin(), config_.write_speeds.end());
  current_read_speed_ = config_.max_read_speed;
  not_ready_left_ = config_.not_ready;
  busy_left_ = config_.busy;
  hangs_left_ = config_.hang_opcode ? config_.hang_count : 0;
  LoadState();
}

VirtualDrive::~VirtualDrive() {
  // A process that ends normally leaves the drive flushed.
  (void)Persist();
  CloseImage();
  CloseReadableImage();
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

std::uint16_t VirtualDrive::Profile() const { return static_cast<std::uint16_t>(config_.profile); }

bool VirtualDrive::TakeHang(std::uint8_t opcode) {
  if (!config_.hang_opcode || *config_.hang_opcode != opcode || hangs_left_ == 0) return false;
  --hangs_left_;
  return true;
}

void VirtualDrive::Record(const Request& r) {
  char head[64];
  std::snprintf(head, sizeof head, "%u:%u:%u", r.SRB_HaId, r.SRB_Target, r.SRB_Lun);
  std::string line = head;
  const int n = std::min<int>(r.SRB_CDBLen, 16);
  for (int i = 0; i < n; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, " %02X", r.CDBByte[i]);
    line += b;
  }
  char tail[48];
  std::snprintf(tail, sizeof tail, " flags=%02X len=%u", r.SRB_Flags, static_cast<unsigned>(r.SRB_BufLen));
  line += tail;
  log_.push_back(line);
  if (!config_.log.empty()) {
    std::ofstream out(config_.log, std::ios::app);
    out << line << '\n';
  }
}

void VirtualDrive::Fail(Request& r, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  pending_ = {key, asc, ascq};
  std::uint8_t sense[18] = {};
  if (config_.descriptor_sense) {
    sense[0] = 0x72;
    sense[1] = key;
    sense[2] = asc;
    sense[3] = ascq;
    sense[7] = 0;
  } else {
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
  }
  std::memset(r.SenseArea, 0, sizeof r.SenseArea);
  const int n = std::clamp<int>(r.SRB_SenseLen, 14, 18);
  std::memcpy(r.SenseArea, sense, n);
  r.SRB_HaStat = 0;
  r.SRB_TargStat = STATUS_CHKCOND;
  r.SRB_Status = SS_ERR;
}

void VirtualDrive::Complete(Request& r, const std::uint8_t* answer, std::uint32_t length) {
  if (answer != nullptr && r.SRB_BufPointer != nullptr) {
    std::memcpy(r.SRB_BufPointer, answer, std::min(length, r.SRB_BufLen));
  }
  pending_ = {};
  r.SRB_HaStat = 0;
  r.SRB_TargStat = STATUS_GOOD;
  r.SRB_Status = SS_COMP;
}

bool VirtualDrive::MediumCommand(std::uint8_t op) const {
  switch (op) {
    case 0x00: case 0x28: case 0x2A: case 0x35: case 0x43: case 0x51: case 0x52:
    case 0x53: case 0x54: case 0x5B: case 0x5D: case 0xB6: case 0xBF:
      return true;
    default:
      return false;
  }
}

void VirtualDrive::Execute(Request& r) {
  const std::uint8_t op = r.CDBByte[0];
  if (MediumCommand(op)) {
    ReloadIfDiscChanged();
    if (busy_left_ > 0) {
      --busy_left_;
      std::memset(r.SenseArea, 0, sizeof r.SenseArea);
      r.SRB_HaStat = 0;
      r.SRB_TargStat = STATUS_BUSY;
      r.SRB_Status = SS_ERR;
      return;
    }
    if (tray_open_) return Fail(r, NOT_READY, 0x3A, 0x02);
    if (not_ready_left_ > 0) {
      --not_ready_left_;
      return Fail(r, NOT_READY, 0x04, 0x01);
    }
  }
  switch (op) {
    case 0x00: return Complete(r, nullptr, 0);
    case 0x03: return RequestSense(r);
    case 0x12: return Inquiry(r);
    case 0x16: return ReserveUnit(r);
    case 0x17: return ReleaseUnit(r);
    case 0x1B: return StartStop(r);
    case 0x1E: return Complete(r, nullptr, 0);
    case 0x28: return Read(r);
    case 0x2A: return Write(r);
    case 0x35: return SynchronizeCache(r);
    case 0x43: return ReadTOC(r);
    case 0x46: return GetConfiguration(r);
    case 0x51: return ReadDiscInformation(r);
    case 0x52: return ReadTrackInformation(r);
    case 0x53: return ReserveTrack(r);
    case 0x54:
      if (config_.profile == Profile::DVDRAM) return Fail(r, ILLEGAL_REQUEST, 0x20, 0x00);
      return Complete(r, nullptr, 0);
    case 0x55: return ModeSelect(r);
    case 0x5A: return ModeSense(r);
    case 0x5B: return CloseTrackSession(r);
    case 0x5C: return ReadBufferCapacity(r);
    case 0x5D:
      if (IsDVD(config_.profile)) return Fail(r, ILLEGAL_REQUEST, 0x20, 0x00);
      return Complete(r, nullptr, 0);
    case 0xB6:
      if (!IsDVD(config_.profile)) return Fail(r, ILLEGAL_REQUEST, 0x20, 0x00);
      if (bytes::load_be16(r.CDBByte + 9) < 28 || r.SRB_BufLen < 28) return Fail(r, ILLEGAL_REQUEST, 0x1A, 0x00);
      return Complete(r, nullptr, 0);
    case 0xBB: return SetCDSpeed(r);
    case 0xBF:
      if (!IsDVD(config_.profile)) return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
      return Complete(r, nullptr, 0);
    default:
      return Fail(r, ILLEGAL_REQUEST, 0x20, 0x00);  // includes REWIND (01h), a tape command
  }
}

void VirtualDrive::Inquiry(Request& r) {
  std::uint8_t a[96] = {};
  a[0] = 0x05;
  a[1] = 0x80;
  a[2] = 0x05;
  a[3] = 0x32;
  a[4] = 91;
  PutPadded(a + 8, config_.vendor, 8);
  PutPadded(a + 16, config_.product, 16);
  PutPadded(a + 32, config_.revision, 4);
  Complete(r, a, std::min<std::uint32_t>(r.CDBByte[4], sizeof a));
}

void VirtualDrive::RequestSense(Request& r) {
  std::uint8_t a[18] = {};
  a[0] = 0x70;
  a[2] = pending_.key;
  a[7] = 10;
  a[12] = pending_.asc;
  a[13] = pending_.ascq;
  Complete(r, a, std::min<std::uint32_t>(r.CDBByte[4], sizeof a));
}

void VirtualDrive::StartStop(Request& r) {
  const std::uint8_t b = r.CDBByte[4] & 0x03;
  if (b == 2) tray_open_ = true;
  if (b == 3) tray_open_ = false;
  Complete(r, nullptr, 0);
}

std::vector<std::uint8_t> VirtualDrive::CapabilitiesPage(bool defaults) const {
  std::vector<std::uint8_t> p(30, 0);
  const bool dvd = IsDVD(config_.profile);
  p[0] = 0x2A;
  p[1] = 0x1C;
  p[2] = dvd ? 0x3F : 0x07;
  std::uint8_t w = 0x03;  // CD-R, CD-RW write
  if (config_.test_write) w |= 0x04;
  if (config_.profile == Profile::DVDR || config_.profile == Profile::DVDPR) w |= 0x10;
  if (config_.profile == Profile::DVDRAM) w |= 0x20;
  p[3] = w;
  p[4] = static_cast<std::uint8_t>((config_.underrun_protection ? 0x80 : 0x00) | 0x40);
  p[6] = 0x29;
  const std::uint32_t max_write = *std::max_element(config_.write_speeds.begin(), config_.write_speeds.end());
  bytes::store_be16(p.data() + 8, config_.max_read_speed);
  bytes::store_be16(p.data() + 10, 256);
  bytes::store_be16(p.data() + 12, config_.buffer_size / 1024);
  bytes::store_be16(p.data() + 14, defaults ? config_.max_read_speed : current_read_speed_);
  bytes::store_be16(p.data() + 18, max_write);
  bytes::store_be16(p.data() + 20, defaults ? max_write : current_write_speed_);
  bytes::store_be16(p.data() + 28, defaults ? max_write : current_write_speed_);
  return p;
}

std::vector<std::uint8_t> VirtualDrive::DefaultWriteParameters() const {
  std::vector<std::uint8_t> p(52, 0);
  p[0] = 0x05;
  p[1] = 0x32;
  p[2] = static_cast<std::uint8_t>(0x01 | (config_.underrun_protection ? 0x40 : 0));
  p[3] = 0x04;
  p[4] = 0x08;
  p[15] = 150;
  return p;
}

void VirtualDrive::ModeSense(Request& r) {
  const std::uint8_t page = r.CDBByte[2] & 0x3F;
  const bool defaults = (r.CDBByte[2] >> 6) == 2;
  std::vector<std::uint8_t> body;
  if (page == 0x2A) {
    body = CapabilitiesPage(defaults);
  } else if (page == 0x05) {
    body = defaults ? DefaultWriteParameters() : write_params_;
  } else if (page == 0x30 && config_.page30) {
    body = {0x30, 0x06, 0x80, 0, 0, 0, 0, 0};
  } else {
    return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
  }
  const std::size_t bd = config_.block_descriptor ? 8 : 0;
  std::vector<std::uint8_t> a(8 + bd, 0);
  if (bd) {
    a[7] = 8;
    bytes::store_be16(a.data() + 8 + 6, kSector);  // block length in the low bytes of the descriptor
  }
  a.insert(a.end(), body.begin(), body.end());
  bytes::store_be16(a.data(), static_cast<std::uint32_t>(a.size() - 2));
  Complete(r, a.data(), std::min<std::uint32_t>(static_cast<std::uint32_t>(a.size()), bytes::load_be16(r.CDBByte + 7)));
}

void VirtualDrive::ModeSelect(Request& r) {
  const std::uint32_t length = bytes::load_be16(r.CDBByte + 7);
  if (length < 10 || r.SRB_BufLen < length || r.SRB_BufPointer == nullptr) return Fail(r, ILLEGAL_REQUEST, 0x1A, 0x00);
  const std::uint8_t* d = r.SRB_BufPointer;
  const std::uint32_t start = 8 + bytes::load_be16(d + 6);
  if (start + 2 > length) return Fail(r, ILLEGAL_REQUEST, 0x1A, 0x00);
  const std::uint8_t* page = d + start;
  if ((page[0] & 0x3F) != 0x05) return Fail(r, ILLEGAL_REQUEST, 0x26, 0x00);
  const std::uint32_t page_len = page[1] + 2u;
  if (page[1] < 0x32 || start + page_len > length) return Fail(r, ILLEGAL_REQUEST, 0x1A, 0x00);
  const std::uint8_t write_type = page[2] & 0x0F;
  std::uint8_t accepted = config_.write_modes;  // bit 0 RAW (3), bit 1 SAO (2), bit 2 TAO (1)
  if (IsDVD(config_.profile)) accepted &= 0x06;
  const bool ok = (write_type == 1 && (accepted & 4)) || (write_type == 2 && (accepted & 2)) ||
                  (write_type == 3 && (accepted & 1));
  if (!ok) return Fail(r, ILLEGAL_REQUEST, 0x26, 0x02);
  if ((page[2] & 0x10) && !config_.test_write) return Fail(r, ILLEGAL_REQUEST, 0x26, 0x02);
  if ((page[4] & 0x0F) > 13) return Fail(r, ILLEGAL_REQUEST, 0x26, 0x02);
  write_params_.assign(page, page + 52);
  write_params_[0] &= 0x3F;
  if (TestWriteMode() && !simulating_) {
    simulated_ = disc_;
    simulating_ = true;
  } else if (!TestWriteMode()) {
    simulating_ = false;
  }
  Complete(r, nullptr, 0);
}

void VirtualDrive::GetConfiguration(Request& r) {
  const std::uint8_t rt = r.CDBByte[1] & 0x03;
  const std::uint32_t feature = bytes::load_be16(r.CDBByte + 2);
  std::vector<std::uint8_t> a(8, 0);
  bytes::store_be16(a.data() + 6, tray_open_ ? 0 : Profile());
  auto add_profile_list = [&] {
    std::vector<std::uint16_t> profiles = {0x0008, 0x0009, 0x000A};
    if (IsDVD(config_.profile)) {
      profiles.insert(profiles.begin(), {0x0010, 0x0011, 0x0012, 0x001B});
    }
    std::sort(profiles.begin(), profiles.end(), std::greater<>());
    a.insert(a.end(), {0x00, 0x00, 0x03, static_cast<std::uint8_t>(4 * profiles.size())});
    for (auto p : profiles) {
      const bool current = !tray_open_ && p == Profile();
      a.insert(a.end(), {static_cast<std::uint8_t>(p >> 8), static_cast<std::uint8_t>(p),
                         static_cast<std::uint8_t>(current ? 1 : 0), 0});
    }
  };
  const bool dvd_r_writer = config_.profile == Profile::DVDR || config_.profile == Profile::DVDPR;
  auto add_feature = [&](std::uint16_t code) {
    if (code == 0x0000) return add_profile_list();
    if ((code == 0x002A || code == 0x002F) && dvd_r_writer) {
      const bool current = !tray_open_ && ((code == 0x002A) == (config_.profile == Profile::DVDPR));
      a.insert(a.end(), {0x00, static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(current ? 0x05 : 0x04),
                         0x04, 0x01, 0x00, 0x00, 0x00});
    }
  };
  if (rt == 2) {
    add_feature(static_cast<std::uint16_t>(feature));
  } else {
    for (std::uint16_t code : {0x0000, 0x002A, 0x002F}) {
      if (code >= feature) add_feature(code);
    }
  }
  bytes::store_be32(a.data(), static_cast<std::uint32_t>(a.size() - 4));
  Complete(r, a.data(), std::min<std::uint32_t>(static_cast<std::uint32_t>(a.size()), bytes::load_be16(r.CDBByte + 7)));
}

Track* VirtualDrive::OpenTrack(DiscState& d) {
  if (d.tracks.empty() || d.tracks.back().closed) return nullptr;
  return &d.tracks.back();
}

std::uint32_t VirtualDrive::InvisibleStart(DiscState& d) {
  if (Track* t = OpenTrack(d)) return t->reserved ? t->start + t->size : t->start;
  return d.next_start;
}

void VirtualDrive::ReadDiscInformation(Request& r) {
  DiscState& d = Active();
  std::uint8_t a[34] = {};
  bytes::store_be16(a, 32);
  const bool erasable = config_.profile == Profile::CDRW || config_.profile == Profile::DVDRAM;
  std::uint8_t status, session_state;
  if (config_.profile == Profile::DVDRAM) {
    status = 3;
    session_state = 3;
  } else if (d.complete) {
    status = 2;
    session_state = 3;
  } else if (Blank(d)) {
    status = 0;
    session_state = 0;
  } else {
    status = 1;
    session_state = OpenTrack(d) ? 1 : 0;
  }
  a[2] = static_cast<std::uint8_t>((erasable ? 0x10 : 0) | (session_state << 2) | status);
  a[3] = 1;
  // Sessions and tracks count the empty or incomplete last session of an appendable disc.
  a[4] = static_cast<std::uint8_t>(d.closed_sessions + (d.complete ? 0 : 1));
  Track* open = OpenTrack(d);
  const std::uint32_t current_session = d.complete ? d.closed_sessions : d.closed_sessions + 1;
  std::uint32_t last_track = static_cast<std::uint32_t>(d.tracks.size());
  if (!d.complete && !(open && !open->reserved)) ++last_track;
  std::uint32_t first_in_last = last_track;
  for (std::size_t i = 0; i < d.tracks.size(); ++i) {
    if (d.tracks[i].session == current_session) {
      first_in_last = static_cast<std::uint32_t>(i + 1);
      break;
    }
  }
  if (a[4] == 0) a[4] = 1;
  a[5] = static_cast<std::uint8_t>(first_in_last);
  a[6] = static_cast<std::uint8_t>(last_track);
  a[7] = 0x20;  // unrestricted use
  if (!IsDVD(config_.profile)) {
    if (d.complete) {
      std::memset(a + 16, 0xFF, 4);
    } else {
      PutMSF(a + 16, InvisibleStart(d) >= 4650 ? InvisibleStart(d) - 4650 : 0);
    }
    PutMSF(a + 20, config_.capacity);
  }
  Complete(r, a, std::min<std::uint32_t>(sizeof a, bytes::load_be16(r.CDBByte + 7)));
}

void VirtualDrive::ReadTrackInformation(Request& r) {
  DiscState& d = Active();
  if ((r.CDBByte[1] & 0x03) != 1) return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
  const std::uint32_t number = bytes::load_be32(r.CDBByte + 2);
  std::uint8_t a[36] = {};
  bytes::store_be16(a, 34);
  Track t;
  bool invisible = false;
  std::uint32_t track_number = number;
  Track* open = OpenTrack(d);
  const std::uint32_t invisible_number = static_cast<std::uint32_t>(d.tracks.size()) + ((open && !open->reserved) ? 0 : 1);
  if (number == 0xFF || number == invisible_number) {
    if (open && !open->reserved) {
      t = *open;
    } else {
      invisible = true;
      t.session = d.closed_sessions + 1;
      t.start = InvisibleStart(d);
    }
    track_number = invisible_number;
  } else if (number >= 1 && number <= d.tracks.size()) {
    t = d.tracks[number - 1];
  } else {
    return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
  }
  const bool writable = !d.complete && !t.closed && (!t.reserved || t.written < t.size) &&
                        config_.profile != Profile::DVDRAM;
  const std::uint32_t free_blocks =
      !writable ? 0 : (t.reserved ? t.size - t.written : (config_.capacity > t.start + t.written ? config_.capacity - t.start - t.written : 0));
  a[2] = static_cast<std::uint8_t>(track_number);
  a[3] = static_cast<std::uint8_t>(t.session);
  a[5] = 0x04;
  a[6] = static_cast<std::uint8_t>((t.reserved ? 0x80 : 0) | (t.written == 0 ? 0x40 : 0) | 0x01);
  a[7] = static_cast<std::uint8_t>((writable ? 0x01 : 0) | (t.written > 0 ? 0x02 : 0));
  bytes::store_be32(a + 8, t.start);
  bytes::store_be32(a + 12, writable ? t.start + t.written : 0);
  bytes::store_be32(a + 16, free_blocks);
  const std::uint32_t size = t.closed ? t.size : (t.reserved ? t.size : (invisible ? free_blocks : t.written + free_blocks));
  bytes::store_be32(a + 24, size);
  bytes::store_be32(a + 28, t.written > 0 ? t.start + t.written - 1 : 0);
  Complete(r, a, std::min<std::uint32_t>(sizeof a, bytes::load_be16(r.CDBByte + 7)));
}

void VirtualDrive::ReadTOC(Request& r) {
  DiscState& d = disc_;
  const std::uint8_t format = r.CDBByte[2] & 0x0F;
  const bool msf = (r.CDBByte[1] & 0x02) != 0;
  const std::uint32_t alloc = bytes::load_be16(r.CDBByte + 7);
  auto put_address = [&](std::uint8_t* p, std::uint32_t lba) {
    if (msf) PutMSF(p, lba);
    else bytes::store_be32(p, lba);
  };
  std::vector<std::uint8_t> a(4, 0);
  if (format == 4) {
    if (IsDVD(config_.profile)) return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
    a.resize(28, 0);
    bytes::store_be16(a.data(), 26);
    a[4] = 0x50;
    a[5] = 0x00;
    a[6] = static_cast<std::uint8_t>(0x80 | (config_.profile == Profile::CDRW ? 0x40 : 0x00));
    a[8] = 97; a[9] = 26; a[10] = 66;                      // lead-in start 97:26:66
    PutMSF(a.data() + 11, config_.capacity);               // last possible lead-out at 12..14
    a[11] = 0;
    return Complete(r, a.data(), std::min<std::uint32_t>(static_cast<std::uint32_t>(a.size()), alloc));
  }
  // Tracks of complete sessions only.
  std::vector<std::size_t> listed;
  for (std::size_t i = 0; i < d.tracks.size(); ++i)
    if (d.tracks[i].session <= d.closed_sessions) listed.push_back(i);
  if (listed.empty()) return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
  if (format == 1) {
    const std::size_t first = [&] {
      for (std::size_t i : listed)
        if (d.tracks[i].session == d.closed_sessions) return i;
      return listed.front();
    }();
    a.resize(12, 0);
    bytes::store_be16(a.data(), 10);
    a[2] = 1;
    a[3] = static_cast<std::uint8_t>(d.closed_sessions);
    a[5] = 0x14;
    a[6] = static_cast<std::uint8_t>(first + 1);
    put_address(a.data() + 8, d.tracks[first].start);
    return Complete(r, a.data(), std::min<std::uint32_t>(static_cast<std::uint32_t>(a.size()), alloc));
  }
  if (format != 0) return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
  const std::uint8_t starting = r.CDBByte[6];
  const std::size_t last_number = listed.back() + 1;
  if (starting != 0xAA && starting > last_number) return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
  a[2] = 1;
  a[3] = static_cast<std::uint8_t>(last_number);
  for (std::size_t i : listed) {
    if (starting == 0xAA || i + 1 < starting) continue;
    std::uint8_t desc[8] = {0, 0x14, static_cast<std::uint8_t>(i + 1), 0};
    put_address(desc + 4, d.tracks[i].start);
    a.insert(a.end(), desc, desc + 8);
  }
  const Track& last = d.tracks[listed.back()];
  std::uint8_t leadout[8] = {0, 0x14, 0xAA, 0};
  put_address(leadout + 4, last.start + last.size);
  a.insert(a.end(), leadout, leadout + 8);
  bytes::store_be16(a.data(), static_cast<std::uint32_t>(a.size() - 2));
  Complete(r, a.data(), std::min<std::uint32_t>(static_cast<std::uint32_t>(a.size()), alloc));
}

void VirtualDrive::ReserveTrack(Request& r) {
  DiscState& d = Active();
  const std::uint32_t size = bytes::load_be32(r.CDBByte + 5);
  if (config_.profile == Profile::DVDRAM || d.complete || OpenTrack(d) != nullptr || size == 0)
    return Fail(r, ILLEGAL_REQUEST, 0x2C, 0x00);
  const std::uint32_t start = InvisibleStart(d);
  if (start + size > config_.capacity) return Fail(r, ILLEGAL_REQUEST, 0x63, 0x01);
  Track t;
  t.session = d.closed_sessions + 1;
  t.start = start;
  t.size = size;
  t.reserved = true;
  d.tracks.push_back(t);
  if (!simulating_) {
    dirty_ = true;
    if (!Persist()) return Fail(r, MEDIUM_ERROR, 0x0C, 0x00);
  }
  Complete(r, nullptr, 0);
}

void VirtualDrive::Write(Request& r) {
  DiscState& d = Active();
  const std::uint32_t lba = bytes::load_be32(r.CDBByte + 2);
  const std::uint32_t blocks = bytes::load_be16(r.CDBByte + 7);
  if (r.SRB_BufPointer == nullptr || r.SRB_BufLen < blocks * kSector) return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
  if (lba + blocks > config_.capacity) return Fail(r, ILLEGAL_REQUEST, 0x63, 0x00);
  if (config_.medium_error && *config_.medium_error >= lba && *config_.medium_error < lba + blocks)
    return Fail(r, MEDIUM_ERROR, 0x0C, 0x00);
  Track* t = nullptr;
  if (config_.profile != Profile::DVDRAM) {
    if (d.complete) return Fail(r, ILLEGAL_REQUEST, 0x21, 0x02);
    t = OpenTrack(d);
    if (t != nullptr && t->reserved && t->written >= t->size) t = nullptr;
    const std::uint32_t nwa = t ? t->start + t->written : InvisibleStart(d);
    if (lba != nwa) return Fail(r, ILLEGAL_REQUEST, 0x21, 0x02);
    if (t != nullptr && t->reserved && t->written + blocks > t->size) return Fail(r, ILLEGAL_REQUEST, 0x63, 0x01);
    if (t == nullptr) {
      if (OpenTrack(d) != nullptr) OpenTrack(d)->closed = true;  // a fully written reservation
      Track fresh;
      fresh.session = d.closed_sessions + 1;
      fresh.start = nwa;
      d.tracks.push_back(fresh);
      t = &d.tracks.back();
    }
  }
  const bool new_track = t != nullptr && t->written == 0 && !t->reserved;
  if (!simulating_) {
    const int fd = WritableImage();
    bool ok = fd >= 0;
    int error = ok ? 0 : errno;
    std::uint64_t done = 0;
    const std::uint64_t total = std::uint64_t{blocks} * kSector;
    while (ok && done < total) {
      const ssize_t n = ::pwrite(fd, r.SRB_BufPointer + done, total - done,
                                 static_cast<off_t>(std::uint64_t{lba} * kSector + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        error = n < 0 ? errno : ENOSPC;
      } else {
        done += static_cast<std::uint64_t>(n);
      }
    }
    if (!ok) {
      load_error_ = "cannot write " + config_.image + ": " + std::strerror(error);
      CloseImage();
      if (new_track) d.tracks.pop_back();
      return Fail(r, MEDIUM_ERROR, 0x0C, 0x00);
    }
  }
  if (t != nullptr) {
    t->written += blocks;
    if (!t->reserved) t->size = t->written;
    if (!simulating_) {
      dirty_ = true;
      // A later process must see that a track was opened: without it an image with no
      // persisted track reads as a closed session.
      if (new_track && !Persist()) return Fail(r, MEDIUM_ERROR, 0x0C, 0x00);
    }
  }
  Complete(r, nullptr, 0);
}

void VirtualDrive::SynchronizeCache(Request& r) {
  if (!simulating_ && !Persist()) return Fail(r, MEDIUM_ERROR, 0x0C, 0x00);
  Complete(r, nullptr, 0);
}

void VirtualDrive::Read(Request& r) {
  const std::uint32_t lba = bytes::load_be32(r.CDBByte + 2);
  const std::uint32_t blocks = bytes::load_be16(r.CDBByte + 7);
  if (r.SRB_BufPointer == nullptr || r.SRB_BufLen < blocks * kSector) return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
  // A transfer above what the port takes at once (a kernel queue's limit).
  if (config_.max_read != 0 && blocks > config_.max_read) return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
  if (config_.medium_error && *config_.medium_error >= lba && *config_.medium_error < lba + blocks)
    return Fail(r, MEDIUM_ERROR, 0x11, 0x00);
  // Only recorded sectors can be read.
  for (std::uint32_t s = lba; s < lba + blocks; ++s) {
    bool recorded = config_.profile == Profile::DVDRAM && s < config_.capacity;
    for (const Track& t : disc_.tracks)
      if (s >= t.start && s < t.start + t.written) recorded = true;
    if (!recorded) return Fail(r, ILLEGAL_REQUEST, 0x21, 0x00);
  }
  std::memset(r.SRB_BufPointer, 0, std::uint64_t{blocks} * kSector);
  const int fd = ReadableImage();
  if (fd >= 0) {
    (void)::pread(fd, r.SRB_BufPointer, std::uint64_t{blocks} * kSector, static_cast<off_t>(std::uint64_t{lba} * kSector));
  }
  if (config_.corrupt_sector && *config_.corrupt_sector >= lba && *config_.corrupt_sector < lba + blocks)
    r.SRB_BufPointer[std::uint64_t{*config_.corrupt_sector - lba} * kSector] ^= 0xFF;
  Complete(r, nullptr, 0);
}

void VirtualDrive::ReserveUnit(Request& r) {
  if (lock_fd_ >= 0) return Complete(r, nullptr, 0);
  const std::string path = config_.image + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    load_error_ = "cannot open " + path + ": " + std::strerror(errno);
    return Fail(r, HARDWARE_ERROR, 0x44, 0x00);
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd);
    if (error != EWOULDBLOCK) {
      load_error_ = "cannot lock " + path + ": " + std::strerror(error);
      return Fail(r, HARDWARE_ERROR, 0x44, 0x00);
    }
    std::memset(r.SenseArea, 0, sizeof r.SenseArea);
    pending_ = {};
    r.SRB_HaStat = 0;
    r.SRB_TargStat = STATUS_RESCONF;
    r.SRB_Status = SS_ERR;
    return;
  }
  lock_fd_ = fd;
  Complete(r, nullptr, 0);
}

void VirtualDrive::ReleaseUnit(Request& r) {
  if (lock_fd_ >= 0) ::close(lock_fd_);
  lock_fd_ = -1;
  Complete(r, nullptr, 0);
}

void VirtualDrive::CloseTrackSession(Request& r) {
  DiscState& d = Active();
  if (config_.profile == Profile::DVDRAM) return Complete(r, nullptr, 0);
  const std::uint8_t function = r.CDBByte[2] & 0x07;
  Track* open = OpenTrack(d);
  if (function == 1) {
    if (open == nullptr) return Fail(r, ILLEGAL_REQUEST, 0x2C, 0x00);
    open->closed = true;
    open->size = open->reserved ? open->size : open->written;
    d.next_start = open->start + open->size;
  } else if (function == 2) {
    const bool any_in_session = !d.tracks.empty() && d.tracks.back().session == d.closed_sessions + 1;
    if (d.complete || !any_in_session) return Fail(r, ILLEGAL_REQUEST, 0x2C, 0x00);
    if (open != nullptr) {
      open->closed = true;
      if (!open->reserved) open->size = open->written;
    }
    const Track& last = d.tracks.back();
    const std::uint32_t end = last.start + last.size;
    const bool multisession = (write_params_[3] & 0xC0) == 0xC0;
    d.next_start = IsDVD(config_.profile) ? ((end + 15) / 16) * 16 + SessionGap(true, d.closed_sessions)
                                           : end + SessionGap(false, d.closed_sessions);
    ++d.closed_sessions;
    d.complete = !multisession || d.next_start + 300 > config_.capacity;
  } else {
    return Fail(r, ILLEGAL_REQUEST, 0x24, 0x00);
  }
  if (!simulating_) {
    dirty_ = true;
    if (!Persist()) return Fail(r, MEDIUM_ERROR, 0x0C, 0x00);
  }
  Complete(r, nullptr, 0);
}

void VirtualDrive::SetCDSpeed(Request& r) {
  const std::uint32_t read = bytes::load_be16(r.CDBByte + 2);
  const std::uint32_t write = bytes::load_be16(r.CDBByte + 4);
  current_read_speed_ = std::min(read, config_.max_read_speed);
  // The highest accepted speed not above the request, else the lowest one.
  std::vector<std::uint32_t> speeds = config_.write_speeds;
  std::sort(speeds.begin(), speeds.end());
  std::uint32_t chosen = speeds.front();
  for (std::uint32_t s : speeds)
    if (s <= write) chosen = s;
  current_write_speed_ = chosen;
  Complete(r, nullptr, 0);
}

void VirtualDrive::ReadBufferCapacity(Request& r) {
  std::uint8_t a[12] = {};
  bytes::store_be16(a, 10);
  bytes::store_be32(a + 4, config_.buffer_size);
  bytes::store_be32(a + 8, config_.free_unknown ? 0xFFFFFFFFu : config_.buffer_size);
  Complete(r, a, std::min<std::uint32_t>(sizeof a, bytes::load_be16(r.CDBByte + 7)));
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> VirtualDrive::ImageIdentity() const {
  struct stat st {};
  if (::stat(config_.image.c_str(), &st) != 0) return std::nullopt;
  return std::make_pair(static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino));
}

void VirtualDrive::ReloadIfDiscChanged() {
  // A streaming track or a test write holds on to the disc it started on.
  if (image_fd_ >= 0 || simulating_) return;
  if (ImageIdentity() == image_id_) return;
  CloseReadableImage();
  disc_ = DiscState{};
  simulated_ = DiscState{};
  stale_from_.reset();
  dirty_ = false;
  load_error_.clear();
  LoadState();
}

void VirtualDrive::LoadState() {
  image_id_ = ImageIdentity();
  // A state file whose image is gone describes a disc that is no longer in the drive.
  if (!image_id_) return;
  const std::string state_path = config_.image + ".vrec";
  std::ifstream in(state_path);
  if (in) {
    std::string word;
    DiscState d;
    bool ok = static_cast<bool>(in >> word) && word == "ORVAKELL-VRECORDER" && static_cast<bool>(in >> word) && word == "1";
    while (ok && in >> word) {
      if (word == "sessions") ok = static_cast<bool>(in >> d.closed_sessions);
      else if (word == "next") ok = static_cast<bool>(in >> d.next_start);
      else if (word == "complete") ok = static_cast<bool>(in >> d.complete);
      else if (word == "track") {
        Track t;
        ok = static_cast<bool>(in >> t.session >> t.start >> t.size >> t.written >> t.reserved >> t.closed);
        d.tracks.push_back(t);
      } else ok = false;
    }
    if (ok) {
      disc_ = d;
      NoteStaleTail();
      return;
    }
    load_error_ = "damaged state file " + state_path + "; the disc reads as its image alone";
  }
  struct stat st {};
  if (::stat(config_.image.c_str(), &st) != 0 || st.st_size == 0) return;  // blank
  Track t;
  t.start = 0;
  t.written = t.size = static_cast<std::uint32_t>((static_cast<std::uint64_t>(st.st_size) + kSector - 1) / kSector);
  t.closed = true;
  disc_.tracks.push_back(t);
  disc_.closed_sessions = 1;
  disc_.next_start = t.size + SessionGap(IsDVD(config_.profile), 0);
  disc_.complete = config_.closed;
}

void VirtualDrive::NoteStaleTail() {
  if (config_.profile == Profile::DVDRAM) return;  // random access: the image is the data
  std::uint64_t recorded_end = 0;
  for (const Track& t : disc_.tracks)
    recorded_end = std::max<std::uint64_t>(recorded_end, (std::uint64_t{t.start} + t.written) * kSector);
  struct stat st {};
  if (::stat(config_.image.c_str(), &st) != 0 || static_cast<std::uint64_t>(st.st_size) <= recorded_end) return;
  stale_from_ = recorded_end;
  load_error_ = config_.image + ": " + std::to_string((static_cast<std::uint64_t>(st.st_size) - recorded_end + kSector - 1) / kSector) +
                " sectors written after the last flush are lost";
}

bool VirtualDrive::DropStaleTail(int fd) {
  if (!stale_from_) return true;
  if (::ftruncate(fd, static_cast<off_t>(*stale_from_)) != 0) {
    load_error_ = "cannot truncate " + config_.image + ": " + std::strerror(errno);
    return false;
  }
  stale_from_.reset();
  return true;
}

int VirtualDrive::WritableImage() {
  if (image_fd_ >= 0) return image_fd_;
  const int fd = ::open(config_.image.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  if (!DropStaleTail(fd)) {
    ::close(fd);
    return -1;
  }
  image_fd_ = fd;
  image_id_ = ImageIdentity();  // made here when the disc was blank
  return fd;
}

void VirtualDrive::CloseImage() {
  if (image_fd_ >= 0) ::close(image_fd_);
  image_fd_ = -1;
}

int VirtualDrive::ReadableImage() {
  if (read_fd_ >= 0 && read_id_ == image_id_) return read_fd_;
  CloseReadableImage();
  const int fd = ::open(config_.image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) == 0)
    read_id_ = std::make_pair(static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino));
  read_fd_ = fd;
  return fd;
}

void VirtualDrive::CloseReadableImage() {
  if (read_fd_ >= 0) ::close(read_fd_);
  read_fd_ = -1;
  read_id_.reset();
}

bool VirtualDrive::Persist() {
  CloseImage();
  if (!dirty_) return true;
  if (stale_from_) {
    // The layout is about to be saved without the stale sectors: cut them off first.
    const int fd = WritableImage();
    CloseImage();
    if (fd < 0) return false;
  }
  if (!SaveState()) return false;
  dirty_ = false;
  return true;
}

bool VirtualDrive::SaveState() {
  const std::string path = config_.image + ".vrec";
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << "ORVAKELL-VRECORDER 1\n"
        << "sessions " << disc_.closed_sessions << "\nnext " << disc_.next_start << "\ncomplete "
        << (disc_.complete ? 1 : 0) << "\n";
    for (const Track& t : disc_.tracks)
      out << "track " << t.session << ' ' << t.start << ' ' << t.size << ' ' << t.written << ' ' << (t.reserved ? 1 : 0)
          << ' ' << (t.closed ? 1 : 0) << '\n';
    out.flush();
    if (!out) {
      load_error_ = "cannot write " + tmp;
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    load_error_ = "cannot replace " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace orv::vrec
