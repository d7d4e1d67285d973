// TSCSIDevice: lifecycle, request execution, error decoding and debug output.
#include "scsi/scsi_device.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "scsi/aspi_layer.h"
#include "scsi/platform.h"
#include "scsi/sense.h"

namespace orv::scsi {

const std::array<const char*, 14> DiscTypeNames = {
    "UNKNOWN", "CD-ROM", "CD-R", "CD-RW", "DVD-ROM", "DVD-R", "DVD-RAM",
    "DVD-RW", "DVD-RW", "DVD+RW", "DVD+R", "DDCD-ROM", "DDCD-R", "DDCD-RW"};

std::atomic<std::uint16_t> DiscType{0};

std::uint16_t KBpsToX(std::uint32_t kbps) {
  // nearbyint uses the current rounding mode, round-half-to-even by default.
  return static_cast<std::uint16_t>(std::nearbyint(static_cast<double>(kbps) / 176.46));
}

std::uint16_t XToKBps(std::uint16_t x) {
  // Beyond the field's range the request can only mean "as fast as the drive goes".
  return x == 0 ? 0xFFFF : static_cast<std::uint16_t>(std::min<std::uint32_t>(x * 177u, 0xFFFF));
}

TSCSIDevice::TSCSIDevice() {
  if (ASPIInitialized()) {
    HostAdapterInquiry(0);
    ScanDevices();
  }
}

TSCSIDevice::~TSCSIDevice() { DropEvent(); }

bool TSCSIDevice::ASPIInitialized() const { return ASPILoaded(); }

SRB_ExecSCSICmd TSCSIDevice::NewRequest(std::uint8_t Flags, std::uint8_t CDBLen, std::uint32_t BufLen,
                                        std::uint8_t* Buffer) {
  SRB_ExecSCSICmd r;
  std::memset(&r, 0, sizeof r);
  r.SRB_Flags = Flags;
  r.SRB_CDBLen = CDBLen;
  r.SRB_BufLen = BufLen;
  r.SRB_BufPointer = Buffer;
  r.SRB_SenseLen = SENSE_LEN;
  return r;
}

bool TSCSIDevice::Run(SRB_ExecSCSICmd& Request, int Timeout) {
  ExecuteCommand(Request, Timeout);
  return Request.SRB_Status == SS_COMP;
}

int TSCSIDevice::ExecuteCommand(SRB_ExecSCSICmd& Request, int Timeout) {
  FLastError.clear();
  FTargetBusy = false;
  FLastSense.fill(0);
  if (!ASPILoaded() || FHaId == 254) {
    FLastError = "NO DEVICE";
    return SS_NO_ASPI;
  }

  EventPort& events = Events();
  void* event = nullptr;
  if (Request.SRB_Flags & SRB_EVENT_NOTIFY) {
    event = CommandEvent();
    if (event != nullptr) events.ResetEvent(event);
  }
  Request.SRB_PostProc = event;
  Request.SRB_Cmd = SC_EXEC_SCSI_CMD;
  Request.SRB_HaId = FHaId;
  Request.SRB_Target = FTarget;
  Request.SRB_Lun = FLun;
  Request.SRB_SenseLen = SENSE_LEN;
  Request.CDBByte[1] = static_cast<std::uint8_t>((Request.CDBByte[1] & 0x1F) | ((FLun & 0x07) << 5));
  const std::uint32_t limit = static_cast<std::uint32_t>(std::max(Timeout, 10000));

  std::atomic_ref<std::uint8_t> status(Request.SRB_Status);
  if (Request.CDBByte[0] == 0xFF) {
    status.store(SS_COMP);
  } else {
    (void)SendASPI32Command(&Request);
  }
  if (event != nullptr && status.load() == SS_PENDING) {
    // The event is shared by this device's commands: the previous command may signal it
    // after its status was seen, while this one is pending. That stale signal is consumed
    // and the wait repeated, once.
    bool signalled = events.WaitForEvent(event, limit);
    if (signalled && status.load() == SS_PENDING) {
      events.ResetEvent(event);
      if (status.load() == SS_PENDING) (void)events.WaitForEvent(event, limit);
    }
  }

  const std::uint8_t final_status = status.load();
  if (final_status != SS_COMP && final_status != SS_PENDING) {
    NormalizeSense(Request.SenseArea, SENSE_AREA_LEN);
    DecodeError(Request);
    if (!IsFailureLineExempt(Request)) DoDebugMessage(FailureLine(Request, FLastError), 0);
  }
  if (final_status == SS_PENDING) {
    AbortRequest(Request);
    // A layer that completes the aborted request late must not signal the next command.
    if (event != nullptr) DropEvent();
    status.store(SS_ERR);
    Request.SRB_HaStat = HASTAT_TIMEOUT;
  }
  Request.SRB_PostProc = nullptr;
  return 1;
}

void* TSCSIDevice::CommandEvent() {
  EventPort& events = Events();
  if (FEvent != nullptr && FEventPort != &events) DropEvent();  // the port was exchanged
  if (FEvent == nullptr) {
    FEvent = events.CreateEvent();
    FEventPort = FEvent != nullptr ? &events : nullptr;
  }
  return FEvent;
}

void TSCSIDevice::DropEvent() {
  if (FEvent != nullptr && FEventPort != nullptr) FEventPort->CloseEvent(FEvent);
  FEvent = nullptr;
  FEventPort = nullptr;
}

void TSCSIDevice::AbortRequest(SRB_ExecSCSICmd& Request) {
  std::memset(&FAbortBlock, 0, sizeof FAbortBlock);
  FAbortBlock.SRB_Cmd = SC_ABORT_SRB;
  FAbortBlock.SRB_HaId = FHaId;
  FAbortBlock.SRB_ToAbort = &Request;
  (void)SendASPI32Command(&FAbortBlock);
  (void)FAbortBlock.SRB_Status;  // read, not acted on
}

void TSCSIDevice::DecodeError(const SRB_ExecSCSICmd& Request) {
  bool busy = false;
  const std::string status = GetStatusText(Request.SRB_Status, Request.SRB_HaStat, Request.SRB_TargStat, busy);
  FTargetBusy = busy;
  FLastError = SenseKeyText(status, Request.SenseArea);
  GetSenseText(Request);
}

void TSCSIDevice::GetSenseText(const SRB_ExecSCSICmd& Request) {
  const std::uint8_t asc = Request.SenseArea[12];
  const std::uint8_t ascq = Request.SenseArea[13];
  const char* known = AdditionalSenseText(asc, ascq);
  std::memcpy(FLastSense.data(), Request.SenseArea, SENSE_AREA_LEN);
  const std::string text = known != nullptr ? std::string(known) : std::to_string(asc) + "," + std::to_string(ascq);
  if (Request.SenseArea[7] != 0) FLastError += " (" + text + ")";
}

void TSCSIDevice::DoDebugMessage(const std::string& Msg, std::uint8_t MsgType) {
  if (FDebugWindow != nullptr) FDebugWindow->AddLine(Msg);
  if (OnDebugMessage) OnDebugMessage(this, Msg, MsgType);
}

std::uint32_t TSCSIDevice::TrackInformationWord(int offset) const {
  std::uint32_t v;
  std::memcpy(&v, FTrackInformation.data() + offset, 4);
  return v;
}

}  // namespace orv::scsi
