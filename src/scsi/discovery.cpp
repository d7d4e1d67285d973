// Discovery: layer initialisation, device scan, selection, capabilities, speeds, disc type.
#include <cstring>
#include <exception>
#include <string>

#include "platform/byte_order.h"
#include "scsi/aspi_layer.h"
#include "scsi/platform.h"
#include "scsi/scsi_device.h"

namespace orv::scsi {
namespace {

constexpr std::uint8_t kNoDevice = 254;

int FindPage(const std::uint8_t* answer, std::uint8_t page, int fallback) {
  if (answer[16] == page) return 16;
  if (answer[8] == page) return 8;
  if (answer[7] == page) return 7;
  return fallback;
}

std::uint16_t Host16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
void SetHost16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, 2); }

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

}  // namespace

bool TSCSIDevice::InitializeASPI(bool UseSPTI) {
  bool ok = false;
  try {
    ok = InitASPI(UseSPTI);
  } catch (const std::exception& e) {
    // No layer: the caller shows its box; the reason goes to the debug lines (type 4, errors).
    DoDebugMessage(std::string("CAN'T LOAD THE SCSI LAYER: ") + e.what(), 4);
    ok = false;
  }
  if (ok) {
    HostAdapterInquiry(0);
    ScanDevices();
  }
  return ok;
}

void TSCSIDevice::HostAdapterInquiry(std::uint8_t HaId) {
  std::memset(&FHAInquiry, 0, sizeof FHAInquiry);
  FHAInquiry.SRB_Cmd = SC_HA_INQUIRY;
  FHAInquiry.SRB_HaId = HaId;
  (void)SendASPI32Command(&FHAInquiry);
  if (FHAInquiry.SRB_Status == SS_COMP) {
    FAdapterCount = FHAInquiry.HA_Count == 0 ? 7 : FHAInquiry.HA_Count;
  } else {
    FAdapterCount = -1;
  }
}

void TSCSIDevice::ScanDevices() {
  FDevices.clear();
  const std::uint8_t ha = FHaId, target = FTarget, lun = FLun;
  FLun = 0;
  if (FDoDebug) DoDebugMessage(">>> " + ASPILayerName(), 1);
  const int adapters = FAdapterCount;
  for (int a = 0; a < adapters; ++a) {
    HostAdapterInquiry(static_cast<std::uint8_t>(a));
    if (FDoDebug) {
      auto text = [](const std::uint8_t* p) {
        std::size_t n = 0;
        while (n < 16 && p[n] != 0) ++n;
        return std::string(reinterpret_cast<const char*>(p), n);
      };
      DoDebugMessage(">>> " + text(FHAInquiry.HA_ManagerId) + " (" + Trim(text(FHAInquiry.HA_Identifier)) + ")", 1);
    }
    for (int t = 0; t < 8; ++t) {
      for (int l = 0; l < 8; ++l) {
        FHaId = static_cast<std::uint8_t>(a);
        FTarget = static_cast<std::uint8_t>(t);
        FLun = static_cast<std::uint8_t>(l);
        FInquiryData.fill(0);
        if (!Inquiry()) continue;
        const std::uint8_t type = FInquiryData[0];
        if (type != 5 && type != 4) continue;
        const char letter = GetDriveLetter();
        std::string entry = std::to_string(a) + ":" + std::to_string(t) + ":" + std::to_string(l) + ",";
        entry += letter != '\0' ? std::string(1, letter) + ":" : std::string("?:");
        entry += ' ';
        for (int i = 8; i < 36; ++i) {
          const auto c = static_cast<char>(FInquiryData[i]);
          entry += FInquiryData[i] < 0x20 ? ' ' : c;  // keep the list entry printable
        }
        if (type == 4) entry += " (not supported)";
        FDevices.push_back(entry);
      }
    }
  }
  FHaId = ha;
  FTarget = target;
  FLun = lun;
  FLastError.clear();
}

char TSCSIDevice::GetDriveLetter() {
  KernelPort& k = Kernel();
  for (int number = 1; number <= 25; ++number) {
    const int handle = k.OpenDrive(number);
    if (handle < 0) continue;
    ScsiAddress address;
    const bool match = k.GetAddress(handle, address) && address.PortNumber == FHaId && address.TargetId == FTarget;
    k.CloseDrive(handle);
    if (match) return static_cast<char>('A' + number);
  }
  SRB_GetDiskInfo info;
  std::memset(&info, 0, sizeof info);
  info.SRB_Cmd = SC_GET_DISK_INFO;
  info.SRB_HaId = FHaId;
  info.SRB_Target = FTarget;
  info.SRB_Lun = FLun;
  (void)SendASPI32Command(&info);
  if (info.SRB_Status == SS_COMP) return static_cast<char>('A' + info.SRB_Int13HDriveInfo);
  return '\0';
}

void TSCSIDevice::ClearSelection() {
  FDeviceID.clear();
  FDeviceDescription.clear();
  FDeviceType = 0x7F;
  FHaId = FTarget = FLun = kNoDevice;
}

void TSCSIDevice::SetDeviceID(const std::string& Value) {
  static const char* kRejected = "INVALID DEVICE ID / NOT A CD OR DVD DRIVE";
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (Value.size() < 5 || !digit(Value[0]) || !digit(Value[2]) || !digit(Value[4])) {
    if (!Value.empty()) DoDebugMessage(kRejected, 0);
    ClearSelection();
    return;
  }
  FHaId = static_cast<std::uint8_t>(Value[0] - '0');
  FTarget = static_cast<std::uint8_t>(Value[2] - '0');
  FLun = static_cast<std::uint8_t>(Value[4] - '0');
  FDeviceID = Value;
  ReadDeviceInfo();
  if (FDeviceType != 5 && FDeviceType != 4) {
    DoDebugMessage(kRejected, 0);
    ClearSelection();
    return;
  }
  const std::string raw_product(reinterpret_cast<const char*>(FInquiryData.data() + 16), 16);
  const std::string product = Trim(raw_product);
  const std::string vendor = Trim(std::string(reinterpret_cast<const char*>(FInquiryData.data() + 8), 8));
  FW512Quirk = product == "CD-W512EB";
  FLinkSizeQuirk = product == "CRX175E" || product == "CD-RW  CRX800E";
  FSlowReadyQuirk = product.rfind("UJDA", 0) == 0 || vendor.rfind("TDK", 0) == 0;
  FCloseSessionImmed = product != "CDRW321040X";
  FDVRQuirk = raw_product == "DVD-RW  DVR-103 " || raw_product == "DVD-RW  DVR-104 ";
  if (FDVRQuirk) FCloseSessionImmed = true;
  if (OnDeviceChange) OnDeviceChange(this);
  DetectWriteModes();
}

void TSCSIDevice::ReadDeviceInfo() {
  (void)ReadCapabilities();
  FInquiryData.fill(0);
  if (!Inquiry()) {
    FDeviceDescription = FLastError;
    FDeviceType = 0x7F;  // an unanswered INQUIRY selects nothing
    return;
  }
  FDeviceType = FInquiryData[0];
  for (int i = 8; i <= 55; ++i) {
    if (FInquiryData[i] < 0x20) FInquiryData[i] = ' ';
  }
  const char* d = reinterpret_cast<const char*>(FInquiryData.data());
  FDeviceDescription = std::string(d + 8, 8) + " " + std::string(d + 16, 16) + " " + std::string(d + 32, 4);
}

bool TSCSIDevice::HasModePage30() {
  if (!ModeSense10(0x30, FCapabilitiesBuffer.data(), false, 128, 255)) return false;
  const std::uint8_t* b = FCapabilitiesBuffer.data();
  return b[16] == 0x30 || b[8] == 0x30 || b[7] == 0x30;
}

bool TSCSIDevice::ReadCapabilities() {
  FCapabilities = 0;
  FDeviceMaxWriteSpeed = 0;
  FDeviceMaxReadSpeed = 0;
  FCapabilitiesPage.fill(0);
  std::uint8_t* buf = FCapabilitiesBuffer.data();
  FCapabilitiesBuffer.fill(0);
  int start = 8;
  if (ModeSense10(0x2A, buf, true, 128, 255)) {
    start = FindPage(buf, 0x2A, 8);
    std::memmove(buf, buf + start, FCapabilitiesBuffer.size() - start);
    std::memcpy(FCapabilitiesPage.data(), buf, FCapabilitiesPage.size());
    const std::uint8_t* page = FCapabilitiesPage.data();
    const std::uint8_t r = page[2], w = page[3];
    if (r & 0x01) FCapabilities |= CAP_CDR_READ;
    if (r & 0x02) FCapabilities |= CAP_CDRW_READ;
    if (r & 0x04) FCapabilities |= CAP_METHOD2;
    if (r & 0x08) FCapabilities |= CAP_DVDROM_READ;
    if (r & 0x10) FCapabilities |= CAP_DVDR_READ | CAP_DVDRW_READ;
    if (r & 0x20) FCapabilities |= CAP_DVDRAM_READ;
    if (w & 0x01) FCapabilities |= CAP_CDR_WRITE;
    if (w & 0x02) FCapabilities |= CAP_CDRW_WRITE;
    if (w & 0x04) FCapabilities |= CAP_TEST_WRITE;
    if (w & 0x10) FCapabilities |= CAP_DVDR_WRITE | CAP_DVDRW_WRITE;
    if (w & 0x20) FCapabilities |= CAP_DVDRAM_WRITE;
    if (page[4] & 0x80) FCapabilities |= CAP_UNDERRUN_PROTECTION;
    if (HasModePage30() || FW512Quirk) FCapabilities |= CAP_UNDERRUN_PROTECTION;
    const bool ram_write = (w & 0x20) != 0;
    const std::uint16_t max_write = bytes::load_be16(page + 18), max_read = bytes::load_be16(page + 8);
    FDeviceMaxWriteSpeed = max_write != 0 ? KBpsToX(max_write) : (ram_write ? 1 : 0);
    FDeviceMaxReadSpeed = max_read != 0 ? KBpsToX(max_read) : (ram_write ? 1 : 0);
    FConfigurationBuffer.fill(0);
    if (GetConfiguration(2, 0x2A, 114, FConfigurationBuffer.data()) && bytes::load_be16(FConfigurationBuffer.data() + 8) == 0x2A) {
      FCapabilities |= CAP_DVDPR_READ | CAP_DVDPRW_READ;
      if (FConfigurationBuffer[12] == 1) FCapabilities |= CAP_DVDPR_WRITE | CAP_DVDPRW_WRITE;
    }
    FConfigurationBuffer.fill(0);
    if (GetConfiguration(2, 0x2F, 114, FConfigurationBuffer.data()) && bytes::load_be16(FConfigurationBuffer.data() + 8) == 0x2F) {
      FCapabilities |= CAP_DVDR_READ | CAP_DVDRW_READ;
      if (FConfigurationBuffer[12] == 1) FCapabilities |= CAP_DVDR_WRITE | CAP_DVDRW_WRITE;
    }
  } else {
    FDeviceMaxWriteSpeed = 0;
    FDeviceMaxReadSpeed = 0;
  }
  FCapabilitiesBuffer.fill(0);
  if (!ModeSense10(0x2A, buf, false, 128, 255)) return false;
  start = FindPage(buf, 0x2A, start);
  std::memmove(buf, buf + start, FCapabilitiesBuffer.size() - start);
  std::memcpy(FCapabilitiesPage.data(), buf, FCapabilitiesPage.size());
  std::uint8_t* page = FCapabilitiesPage.data();
  if (page[3] & 0x20) {
    SetHost16(page + 18, 177);
    SetHost16(page + 20, 177);
  } else {
    SetHost16(page + 18, bytes::load_be16(page + 18));
    SetHost16(page + 20, bytes::load_be16(page + 20));
  }
  SetHost16(page + 14, bytes::load_be16(page + 14));
  SetHost16(page + 8, bytes::load_be16(page + 8));
  SetHost16(page + 12, bytes::load_be16(page + 12));
  FCapabilitiesBuffer.fill(0);
  const std::uint16_t write_x = KBpsToX(Host16(page + 18));
  const std::uint16_t read_x = KBpsToX(Host16(page + 8));
  if (write_x > FDeviceMaxWriteSpeed) FDeviceMaxWriteSpeed = write_x;
  if (read_x > FDeviceMaxReadSpeed) FDeviceMaxReadSpeed = read_x;
  return true;
}

std::uint16_t TSCSIDevice::MaxWriteSpeed() {
  return ReadCapabilities() ? KBpsToX(Host16(FCapabilitiesPage.data() + 18)) : 0;
}
std::uint16_t TSCSIDevice::MaxReadSpeed() {
  return ReadCapabilities() ? KBpsToX(Host16(FCapabilitiesPage.data() + 8)) : 0;
}
std::uint16_t TSCSIDevice::CurrentWriteSpeed() {
  return ReadCapabilities() ? KBpsToX(Host16(FCapabilitiesPage.data() + 20)) : 0;
}

void TSCSIDevice::SetWriteSpeed(std::uint16_t v) {
  (void)SetCDSpeed(FReadSpeed, v);
  FWriteSpeed = v;
}

std::uint8_t TSCSIDevice::GetDiscType() {
  std::uint8_t code = DT_UNKNOWN;
  FConfigurationBuffer.fill(0);
  if (GetConfiguration(2, 0, 114, FConfigurationBuffer.data())) {
    switch (bytes::load_be16(FConfigurationBuffer.data() + 6)) {
      case 0x0008: code = DT_CDROM; break;
      case 0x0009: code = DT_CDR; break;
      case 0x000A: code = DT_CDRW; break;
      case 0x0010: code = DT_DVDROM; break;
      case 0x0011: code = DT_DVDR; break;
      case 0x0012: code = DT_DVDRAM; break;
      case 0x0013:
      case 0x0014: code = DT_DVDRW; break;
      case 0x001A: code = DT_DVDPRW; break;
      case 0x001B: code = DT_DVDPR; break;
      case 0x0020: code = DT_DDCDROM; break;
      case 0x0021: code = DT_DDCDR; break;
      case 0x0022: code = DT_DDCDRW; break;
      default: break;
    }
  }
  if (code == DT_UNKNOWN) {
    FATIP.fill(0);
    if (ReadTOC(4, FATIP.data(), true, 0, 26, 0)) {
      if (FATIP[6] & 0x80) {
        code = (FATIP[6] & 0x40) ? DT_CDRW : DT_CDR;
      } else {
        code = DT_CDROM;
      }
    }
  }
  if (GetDiscInformation() && code == DT_UNKNOWN) code = (FDiscInformation[2] & 0x10) ? DT_CDRW : DT_CDR;
  if (code == DT_UNKNOWN && TestUnitReady(5000)) code = DT_CDROM;
  return code;
}

}  // namespace orv::scsi
