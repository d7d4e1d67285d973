#include "fakes.h"

#include <cstdio>
#include <cstring>

namespace orv::scsi::testing {

ScriptedLayer* ScriptedLayer::active = nullptr;

std::uint32_t ScriptedLayer::SupportInfo() { return 0x0101; }

std::uint32_t ScriptedLayer::Send(void* request) {
  ScriptedLayer* self = active;
  auto* h = static_cast<SRB_Header*>(request);
  if (self == nullptr) return SS_ERR;
  switch (h->SRB_Cmd) {
    case SC_HA_INQUIRY: {
      auto& r = *static_cast<SRB_HAInquiry*>(request);
      self->ha_inquiries.push_back(r.SRB_HaId);
      r.HA_Count = self->ha_count;
      std::memcpy(r.HA_ManagerId, "SCRIPTED LAYER\0\0", 16);
      std::memcpy(r.HA_Identifier, "  ADAPTER X \0\0\0\0", 16);
      r.SRB_Status = SS_COMP;
      return SS_COMP;
    }
    case SC_GET_DISK_INFO: {
      auto& r = *static_cast<SRB_GetDiskInfo*>(request);
      if (!self->disk_info_letter) {
        r.SRB_Status = SS_ERR;
        return SS_ERR;
      }
      r.SRB_Int13HDriveInfo = static_cast<std::uint8_t>(*self->disk_info_letter - 'A');
      r.SRB_Status = SS_COMP;
      return SS_COMP;
    }
    case SC_ABORT_SRB: {
      auto& a = *static_cast<SRB_Abort*>(request);
      ++self->aborts;
      self->abort_target = a.SRB_ToAbort;
      a.SRB_Status = SS_COMP;
      return SS_COMP;
    }
    case SC_EXEC_SCSI_CMD: {
      auto& r = *static_cast<SRB_ExecSCSICmd*>(request);
      SeenCommand s;
      s.cdb.assign(r.CDBByte, r.CDBByte + r.SRB_CDBLen);
      s.flags = r.SRB_Flags;
      s.buflen = r.SRB_BufLen;
      s.ha = r.SRB_HaId;
      s.target = r.SRB_Target;
      s.lun = r.SRB_Lun;
      s.senselen = r.SRB_SenseLen;
      if ((r.SRB_Flags & SRB_DIR_OUT) && r.SRB_BufPointer) s.data_out.assign(r.SRB_BufPointer, r.SRB_BufPointer + r.SRB_BufLen);
      self->seen.push_back(s);
      if (self->leave_pending) return SS_PENDING;
      r.SRB_Status = SS_COMP;
      if (self->respond) self->respond(r);
      return r.SRB_Status;
    }
    default:
      h->SRB_Status = SS_INVALID_CMD;
      return SS_INVALID_CMD;
  }
}

void ScriptedLayer::Answer(SRB_ExecSCSICmd& r, const std::vector<std::uint8_t>& bytes) {
  if (r.SRB_BufPointer != nullptr && !bytes.empty())
    std::memcpy(r.SRB_BufPointer, bytes.data(), std::min<std::size_t>(bytes.size(), r.SRB_BufLen));
  r.SRB_Status = SS_COMP;
}

void ScriptedLayer::CheckCondition(SRB_ExecSCSICmd& r, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  r.SRB_Status = SS_ERR;
  r.SRB_HaStat = 0;
  r.SRB_TargStat = STATUS_CHKCOND;
  r.SenseArea[0] = 0x70;
  r.SenseArea[2] = key;
  r.SenseArea[7] = 10;
  r.SenseArea[12] = asc;
  r.SenseArea[13] = ascq;
}

static int g_library_token;

void* FakeLibraries::Load(const std::string& name) {
  attempts.push_back(name);
  return available.count(name) ? &g_library_token : nullptr;
}

void* FakeLibraries::Symbol(void*, const char* name) {
  const std::string n = name;
  if (n == "GetASPI32SupportInfo" || n == "GetASAPI32SupportInfo")
    return reinterpret_cast<void*>(&ScriptedLayer::SupportInfo);
  if ((n == "SendASPI32Command" || n == "SendASAPI32Command") && !lacks_send_export)
    return reinterpret_cast<void*>(&ScriptedLayer::Send);
  return nullptr;
}

bool FakeLibraries::Free(void*) {
  ++frees;
  return true;
}

bool FakeKernel::IsCDDrive(int n) { return drives.count(n) != 0; }

int FakeKernel::OpenDrive(int n) {
  auto it = drives.find(n);
  if (it == drives.end() || it->second.open_fails) return -1;
  opened.push_back(n);
  ++open_handles;
  return 100 + n;  // handle encodes the drive number
}

void FakeKernel::CloseDrive(int handle) {
  closed.push_back(handle - 100);
  --open_handles;
}

bool FakeKernel::SendPassThrough(int handle, PassThrough& c) {
  commands.push_back(c);
  FakeDrive& d = drives.at(handle - 100);
  if (c.cdb[0] == 0x12 && c.data_length == 96) {  // the scan's INQUIRY
    if (d.inquiry_fails) return false;
    std::memcpy(c.data, d.inquiry.data(), std::min<std::size_t>(d.inquiry.size(), c.data_length));
    c.scsi_status = 0;
    c.sense_length = 0;
    return true;
  }
  c.scsi_status = d.scsi_status;
  c.sense_length = static_cast<std::uint8_t>(std::min<std::size_t>(d.sense.size(), c.sense_capacity));
  if (c.sense_length) std::memcpy(c.sense, d.sense.data(), c.sense_length);
  return true;
}

bool FakeKernel::GetAddress(int handle, ScsiAddress& address) {
  const FakeDrive& d = drives.at(handle - 100);
  if (!d.address) return false;
  address = *d.address;
  return true;
}

static int g_event_token;

void* VirtualClock::CreateEvent() {
  ++created;
  return &g_event_token;
}

bool VirtualClock::WaitForEvent(void*, std::uint32_t timeout_ms) {
  waits.push_back(timeout_ms);
  if (completed && completed()) return true;
  now_ms += timeout_ms;
  return false;
}

void VirtualClock::CloseEvent(void*) { ++closed; }

void VirtualClock::Sleep(std::uint32_t ms) {
  sleeps.push_back(ms);
  now_ms += ms;
  if (on_sleep) on_sleep();
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char b[4];
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
    out += b;
  }
  return out;
}

}  // namespace orv::scsi::testing
