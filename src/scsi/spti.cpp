// The pass-through emulation "PTASPI32": drive table, scan and the emulated SendCommand.
#include "scsi/spti.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"
#include "scsi/aspi_types.h"
#include "scsi/platform.h"

namespace orv::scsi {

std::atomic<bool> SPTICloseAfterCommand{false};

namespace {

constexpr std::uint8_t kNoAddressLun = 250;

std::array<SPTIDriveEntry, 27> g_table;
std::uint8_t g_adapter_count = 0;
std::uint8_t g_unaddressed = 0;
bool g_ready = false;
std::uint8_t g_scan_buffer[1025];

void ClearState() {
  for (auto& e : g_table) e = SPTIDriveEntry{};
  g_adapter_count = 0;
  g_unaddressed = 0;
}

std::uint8_t ComputeAdapterCount() {
  std::uint8_t highest = 0;
  for (int i = 1; i <= 26; ++i) highest = std::max(highest, g_table[i].HaId);
  return static_cast<std::uint8_t>(highest + 1);
}

void ProbeDrive(int number) {
  KernelPort& k = Kernel();
  const int handle = k.OpenDrive(number);
  if (handle < 0) return;
  std::memset(g_scan_buffer, 0, sizeof g_scan_buffer);
  std::uint8_t sense[32] = {};
  PassThrough pt;
  pt.direction = DataDirection::In;
  pt.cdb_length = 6;
  pt.cdb[0] = 0x12;
  pt.cdb[4] = 96;
  pt.data = g_scan_buffer;
  pt.data_length = 96;
  pt.sense = sense;
  pt.sense_capacity = 24;
  pt.timeout_seconds = 120;
  if (!k.SendPassThrough(handle, pt)) {
    k.CloseDrive(handle);
    return;
  }
  SPTIDriveEntry& e = g_table[number];
  std::memcpy(e.InquiryData.data(), g_scan_buffer, e.InquiryData.size());
  ScsiAddress address;
  if (k.GetAddress(handle, address)) {
    e.HaId = address.PortNumber;
    e.Target = address.TargetId;
    e.Lun = address.Lun;
  } else {
    e.HaId = 0;
    e.Target = g_unaddressed;
    e.Lun = kNoAddressLun;
    ++g_unaddressed;
  }
  e.Present = true;
  e.DriveNumber = static_cast<std::uint8_t>(number);
  e.Handle = -1;
  k.CloseDrive(handle);
}

SPTIDriveEntry* FindEntry(std::uint8_t ha, std::uint8_t target, std::uint8_t lun) {
  for (int i = 2; i <= 26; ++i) {
    SPTIDriveEntry& e = g_table[i];
    if (e.Present && e.HaId == ha && e.Target == target && e.Lun == lun) return &e;
  }
  return nullptr;
}

std::uint32_t HostAdapterInquiry(SRB_HAInquiry& r) {
  r.HA_Count = g_adapter_count;
  if (r.SRB_HaId >= g_adapter_count) {
    r.SRB_Status = SS_INVALID_HA;
    return SS_INVALID_HA;
  }
  r.HA_SCSI_ID = 7;
  std::memcpy(r.HA_ManagerId, kSPTIManagerId, 16);
  std::memset(r.HA_Identifier, 0, 16);
  std::memcpy(r.HA_Identifier, "SPTI ", 5);
  r.HA_Identifier[5] = static_cast<std::uint8_t>('0' + r.SRB_HaId);
  std::memset(r.HA_Unique, 0, 13);
  r.HA_Unique[0] = 7;
  r.HA_Unique[3] = 8;
  const std::uint32_t max_transfer = 0x00FF0000;
  bytes::store_le32(r.HA_Unique + 4, max_transfer);
  r.SRB_Status = SS_COMP;
  return SS_COMP;
}

std::uint32_t ExecSCSICommand(SRB_ExecSCSICmd& r) {
  SPTIDriveEntry* e = FindEntry(r.SRB_HaId, r.SRB_Target, r.SRB_Lun);
  if (e == nullptr) {
    r.SRB_Status = SS_NO_DEVICE;
    return SS_NO_DEVICE;
  }
  if (r.CDBByte[0] == 0x12) {  // INQUIRY comes from the table
    if (r.SRB_HaId >= g_adapter_count) {
      r.SRB_Status = SS_INVALID_HA;
      return SS_INVALID_HA;
    }
    if (r.SRB_BufPointer != nullptr) std::memcpy(r.SRB_BufPointer, e->InquiryData.data(), 36);
    r.SRB_Status = SS_COMP;
    return SS_COMP;
  }
  KernelPort& k = Kernel();
  // RESERVE(6) and RELEASE(6) claim the drive for this process by a lock on its node rather
  // than at the drive, so that a second writer is refused before its first command reaches
  // the drive (the same for drives that do not know these commands).
  if (r.CDBByte[0] == 0x16) {
    if (e->Lock < 0) {
      const int lock = k.LockDrive(e->DriveNumber);
      if (lock == KernelPort::kDriveLocked) {
        std::memset(r.SenseArea, 0, sizeof r.SenseArea);
        r.SRB_TargStat = STATUS_RESCONF;
        r.SRB_Status = SS_ERR;
        return SS_ERR;
      }
      e->Lock = lock;  // -1: the node cannot be locked; the claim goes on without one
    }
    r.SRB_TargStat = STATUS_GOOD;
    r.SRB_Status = SS_COMP;
    return SS_COMP;
  }
  if (r.CDBByte[0] == 0x17) {
    if (e->Lock >= 0) k.UnlockDrive(e->Lock);
    e->Lock = -1;
    r.SRB_TargStat = STATUS_GOOD;
    r.SRB_Status = SS_COMP;
    return SS_COMP;
  }
  if (e->Handle == -1) e->Handle = k.OpenDrive(e->DriveNumber);
  PassThrough pt;
  pt.direction = (r.SRB_Flags & SRB_DIR_IN)    ? DataDirection::In
                 : (r.SRB_Flags & SRB_DIR_OUT) ? DataDirection::Out
                                               : DataDirection::Unspecified;
  pt.cdb_length = std::min<std::uint8_t>(r.SRB_CDBLen, 16);
  std::memcpy(pt.cdb, r.CDBByte, pt.cdb_length);
  std::uint8_t sense[32] = {};
  pt.sense = sense;
  pt.sense_capacity = std::min<std::uint8_t>(r.SRB_SenseLen, sizeof sense);
  pt.data = r.SRB_BufPointer;
  pt.data_length = r.SRB_BufLen;
  pt.timeout_seconds = 120;
  const bool called = e->Handle >= 0 && k.SendPassThrough(e->Handle, pt);
  if (called && pt.scsi_status == 0 && (pt.sense_length == 0 || pt.sense_length == 32)) {
    r.SRB_Status = SS_COMP;
  } else {
    r.SRB_Status = SS_ERR;
    const int n = std::min<int>(pt.sense_length, SENSE_AREA_LEN);
    std::memcpy(r.SenseArea, sense, std::min<int>(n, sizeof sense));
    r.SRB_TargStat = pt.scsi_status;
  }
  if (SPTICloseAfterCommand.load() && e->Handle >= 0) {
    k.CloseDrive(e->Handle);
    e->Handle = -1;
  }
  return r.SRB_Status;
}

}  // namespace

std::uint8_t InitSPTI() {
  if (g_ready) return 0;
  ClearState();
  std::uint8_t found = 0;
  for (int number = 2; number <= 26; ++number) {
    if (!Kernel().IsCDDrive(number)) continue;
    ProbeDrive(number);
    if (g_table[number].Present) ++found;
  }
  g_adapter_count = ComputeAdapterCount();
  if (g_unaddressed > 0) {
    for (auto& e : g_table) {
      if (e.Present && e.Lun == kNoAddressLun) {
        e.Lun = 0;
        e.HaId = g_adapter_count;
      }
    }
    g_adapter_count = ComputeAdapterCount();
  }
  g_ready = true;
  return found;
}

void DoneSPTI() {
  for (auto& e : g_table) {
    if (e.Handle >= 0) Kernel().CloseDrive(e.Handle);
    if (e.Lock >= 0) Kernel().UnlockDrive(e.Lock);
  }
  ClearState();
  g_ready = false;
}

std::uint32_t SPTISendCommand(void* request) {
  if (request == nullptr) return SS_ERR;
  auto* header = static_cast<SRB_Header*>(request);
  switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY: return HostAdapterInquiry(*static_cast<SRB_HAInquiry*>(request));
    case SC_GET_DEV_TYPE: {
      auto& r = *static_cast<SRB_GDEVBlock*>(request);
      if (FindEntry(r.SRB_HaId, r.SRB_Target, r.SRB_Lun) != nullptr) {
        r.SRB_Status = SS_COMP;
        r.SRB_DeviceType = 5;
      } else {
        r.SRB_Status = SS_NO_DEVICE;
        r.SRB_DeviceType = 0x1F;
      }
      return r.SRB_Status;
    }
    case SC_EXEC_SCSI_CMD: return ExecSCSICommand(*static_cast<SRB_ExecSCSICmd*>(request));
    case SC_GET_DISK_INFO: header->SRB_Status = 0; return SS_ERR;
    default: header->SRB_Status = SS_ERR; return SS_ERR;
  }
}

std::uint32_t SPTIGetSupportInfo() {
  return g_adapter_count != 0 ? 0x0100u + g_adapter_count : 0xE800u;
}

const std::array<SPTIDriveEntry, 27>& SPTIDriveTable() { return g_table; }
std::uint8_t SPTIAdapterCount() { return g_adapter_count; }

}  // namespace orv::scsi
