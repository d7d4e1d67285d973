// TSCSIDevice: one CD/DVD recorder on the ASPI layer, with one operation per MMC command.
//
// Purpose: holds the address of the selected device (HaId:Target:Lun on the layer chosen by
// InitASPI), what was learned about it (inquiry data, capabilities, speeds, write modes,
// quirks), the results of the last commands, and the debug output hooks. Every command
// builds an SRB_ExecSCSICmd, hands it to ExecuteCommand with a fixed time-out and reports
// success as a bool. TDiscBurner derives from this class.
//
// Ownership: the object owns its device list and scratch buffers; DebugWindow is not owned.
// The ASPI layer is process-wide (aspi_layer.h) and outlives every device object.
//
// Threading: no locks. One thread at a time sends commands (the user-interface thread, or
// the burner's write thread during a burn). DeviceBufferSize/DeviceFreeBufferSize may be read
// from another thread while the commanding thread refreshes them (they are atomic).
//
// Errors: no exceptions. Commands return false; the cause is in LastError (a text),
// LastSense (33 raw sense bytes) and TargetBusy, and a failure line goes to DoDebugMessage.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "scsi/aspi_types.h"

namespace orv::scsi {

class TSCSIDevice;
class EventPort;

// The multi-line text control that receives debug lines (not owned).
class TDebugWindow {
 public:
  virtual ~TDebugWindow() = default;
  virtual void AddLine(const std::string& line) = 0;
};

using TOnDebugMsg = std::function<void(TSCSIDevice* Sender, const std::string& Message, std::uint8_t mType)>;
using TDeviceChangedEvent = std::function<void(TSCSIDevice* Sender)>;
using TEraseDoneEvent = std::function<void(TSCSIDevice* Sender, bool WithError)>;

// Capability bits (see ReadCapabilities).
inline constexpr std::uint32_t CAP_CDR_READ = 0x1;
inline constexpr std::uint32_t CAP_CDRW_READ = 0x2;
inline constexpr std::uint32_t CAP_METHOD2 = 0x4;
inline constexpr std::uint32_t CAP_DVDROM_READ = 0x8;
inline constexpr std::uint32_t CAP_DVDR_READ = 0x10;
inline constexpr std::uint32_t CAP_DVDRW_READ = 0x20;
inline constexpr std::uint32_t CAP_DVDRAM_READ = 0x40;
inline constexpr std::uint32_t CAP_DVDPR_READ = 0x80;
inline constexpr std::uint32_t CAP_DVDPRW_READ = 0x100;
inline constexpr std::uint32_t CAP_CDR_WRITE = 0x200;
inline constexpr std::uint32_t CAP_CDRW_WRITE = 0x400;
inline constexpr std::uint32_t CAP_TEST_WRITE = 0x800;
inline constexpr std::uint32_t CAP_DVDR_WRITE = 0x1000;
inline constexpr std::uint32_t CAP_DVDRW_WRITE = 0x2000;
inline constexpr std::uint32_t CAP_DVDRAM_WRITE = 0x4000;
inline constexpr std::uint32_t CAP_DVDPR_WRITE = 0x8000;
inline constexpr std::uint32_t CAP_DVDPRW_WRITE = 0x10000;
inline constexpr std::uint32_t CAP_UNDERRUN_PROTECTION = 0x40000;

// Write mode bits (WriteModes).
inline constexpr std::uint8_t WM_RAW = 0x1;
inline constexpr std::uint8_t WM_SAO = 0x2;
inline constexpr std::uint8_t WM_TAO = 0x4;

// Disc type codes (GetDiscType) and their display names, indexed by code.
enum : std::uint8_t {
  DT_UNKNOWN = 0, DT_CDROM = 1, DT_CDR = 2, DT_CDRW = 3, DT_DVDROM = 4, DT_DVDR = 5,
  DT_DVDRAM = 6, DT_DVDRW = 7, DT_DVDRW_SEQ = 8, DT_DVDPRW = 9, DT_DVDPR = 10,
  DT_DDCDROM = 11, DT_DDCDR = 12, DT_DDCDRW = 13
};
extern const std::array<const char*, 14> DiscTypeNames;

// Process-wide disc type of the current burn; the burner stores GetDiscType() here before
// it writes, WaitUntilReady reads it.
extern std::atomic<std::uint16_t> DiscType;

// Drive kB/s to "x": kbps / 176.46 rounded to nearest, halves to even.
std::uint16_t KBpsToX(std::uint32_t kbps);
// "x" to kB/s for SET CD SPEED: x * 177, 0xFFFF (drive maximum) for 0 and for speeds whose
// kB/s do not fit 16 bits.
std::uint16_t XToKBps(std::uint16_t x);

class TSCSIDevice {
 public:
  TSCSIDevice();
  virtual ~TSCSIDevice();
  TSCSIDevice(const TSCSIDevice&) = delete;
  TSCSIDevice& operator=(const TSCSIDevice&) = delete;

  // ---- Transport -------------------------------------------------------------------
  // Addresses Request to the selected device, sends it, waits for it (at least 10 s),
  // aborts it on time-out (status 4, host status 9) and decodes failures. Returns 0xE2
  // without sending when no layer is loaded or no device is selected (LastError then reads
  // "NO DEVICE"), else 1; judge the outcome by Request.SRB_Status.
  int ExecuteCommand(SRB_ExecSCSICmd& Request, int Timeout);
  void AbortRequest(SRB_ExecSCSICmd& Request);

  // ---- MMC commands (true = completed with status 1) ------------------------------------
  bool TestUnitReady(int Timeout);
  bool RewindUnit();
  bool RequestSense(std::uint8_t* Buffer, std::uint8_t Length);
  bool Inquiry();
  bool StartStopUnit(bool Eject);
  bool PreventAllowRemoval(bool Allow);
  // RESERVE(6) / RELEASE(6): this process as the recorder's one writer. ReserveUnit answers
  // kReserved, kReservedElsewhere (status RESERVATION CONFLICT: another process writes to
  // it) or kNotReserved (the layer or drive does not take reservations; LastError says why).
  enum TReserveResult { kReserved, kReservedElsewhere, kNotReserved };
  TReserveResult ReserveUnit();
  bool ReleaseUnit();
  bool Read10(std::uint32_t LBA, std::uint16_t Blocks, std::uint32_t BufLen, std::uint8_t* Buffer);
  // False also when the request could not be sent (no layer or no device): data that never
  // reached a drive is not reported as written.
  bool Write10(std::uint32_t LBA, std::uint16_t Blocks, std::uint8_t Flags, std::uint32_t BufLen,
               std::uint8_t* Buffer);
  bool SynchronizeCache(int Timeout, bool Immediate);
  bool ReadTOC(std::uint8_t Format, std::uint8_t* Buffer, bool MSF, std::uint8_t Track,
               std::uint8_t Length, std::uint8_t Control);
  bool GetConfiguration(std::uint8_t RT, std::uint8_t Feature, std::uint8_t Length, std::uint8_t* Buffer);
  bool ReadDiscInformation(std::uint8_t* Buffer, std::uint8_t Length);
  bool ReadTrackInformation(std::uint8_t Track);
  bool ReserveTrack(std::uint32_t Size);
  bool SendOPCInformation();
  bool ModeSelect10(const std::uint8_t* Buffer, std::uint8_t Length);
  bool ModeSense10(std::uint8_t Page, std::uint8_t* Buffer, bool DefaultValues, std::uint16_t Length,
                   int MaxIndex);
  bool CloseTrackSession(bool CloseTrack, bool Immediate);
  bool ReadBufferCapacity(std::uint32_t& Size, std::uint32_t& Free);
  bool SendCueSheet(const std::uint8_t* Buffer, std::uint16_t Length);
  bool SetStreaming(const std::uint8_t* Buffer, std::uint16_t Length);
  bool SetCDSpeed(std::uint16_t ReadSpeed, std::uint16_t WriteSpeed);  // in x; 0 = maximum
  bool SendDVDStructure(std::uint8_t Format, const std::uint8_t* Buffer, std::uint16_t Length);
  bool SendDVDTimeStamp(const std::tm& LocalTime);

  // ---- Operations built on the commands ---------------------------------------------
  bool GetDiscInformation();
  std::uint8_t GetLastSessionNumber();  // 0 when READ TOC fails
  bool SetWriteParameters(bool TestWrite, bool UnderrunProtection, std::uint16_t DiscType,
                          bool Unused = false);
  bool WaitUntilReady(int TimeBudget, int Interval);  // milliseconds

  // ---- Discovery, selection, capabilities and speeds --------------------------------------
  bool InitializeASPI(bool UseSPTI);
  void HostAdapterInquiry(std::uint8_t HaId);
  void ScanDevices();
  char GetDriveLetter();  // '\0' when unknown
  const std::string& DeviceID() const { return FDeviceID; }
  void SetDeviceID(const std::string& Value);
  void ReadDeviceInfo();
  bool ReadCapabilities();
  bool HasModePage30();
  std::uint16_t MaxWriteSpeed();
  std::uint16_t MaxReadSpeed();
  std::uint16_t CurrentWriteSpeed();
  void DetectWriteModes();
  std::uint8_t GetDiscType();

  // ---- Debug output -------------------------------------------------------------------
  void DoDebugMessage(const std::string& Msg, std::uint8_t MsgType);
  TDebugWindow* DebugWindow() const { return FDebugWindow; }
  void SetDebugWindow(TDebugWindow* Window) { FDebugWindow = Window; }
  TOnDebugMsg OnDebugMessage;
  TDeviceChangedEvent OnDeviceChange;
  TEraseDoneEvent OnEraseDone;  // never raised

  // ---- Properties -------------------------------------------------------------------------
  bool ASPIInitialized() const;
  const std::string& LastError() const { return FLastError; }
  const std::uint8_t* LastSense() const { return FLastSense.data(); }
  bool TargetBusy() const { return FTargetBusy; }
  std::uint8_t HaId() const { return FHaId; }
  std::uint8_t Target() const { return FTarget; }
  std::uint8_t Lun() const { return FLun; }
  int AdapterCount() const { return FAdapterCount; }
  const std::vector<std::string>& Devices() const { return FDevices; }
  std::uint8_t DeviceType() const { return FDeviceType; }
  const std::string& DeviceDescription() const { return FDeviceDescription; }
  const std::uint8_t* InquiryData() const { return FInquiryData.data(); }
  std::uint32_t Capabilities() const { return FCapabilities; }
  std::uint8_t WriteModes() const { return FWriteModes; }
  const std::uint8_t* CapabilitiesPage() const { return FCapabilitiesPage.data(); }  // 22 bytes
  const std::uint8_t* WriteParametersPage() const { return FWriteParametersPage.data(); }  // 54
  // 38 bytes; data length and the six address words at 8..28 in host order.
  const std::uint8_t* TrackInformation() const { return FTrackInformation.data(); }
  std::uint32_t TrackInformationWord(int offset) const;  // host-order word at offset
  const std::uint8_t* ATIP() const { return FATIP.data(); }  // 26 bytes
  const std::uint8_t* DiscInformation() const { return FDiscInformation.data(); }  // 56 bytes
  std::uint16_t DeviceMaxWriteSpeed() const { return FDeviceMaxWriteSpeed; }
  std::uint16_t DeviceMaxReadSpeed() const { return FDeviceMaxReadSpeed; }
  std::uint32_t DeviceBufferSize() const { return FDeviceBufferSize.load(std::memory_order_relaxed); }
  void SetDeviceBufferSize(std::uint32_t v) { FDeviceBufferSize.store(v, std::memory_order_relaxed); }
  std::uint32_t DeviceFreeBufferSize() const { return FDeviceFreeBufferSize.load(std::memory_order_relaxed); }
  void SetDeviceFreeBufferSize(std::uint32_t v) { FDeviceFreeBufferSize.store(v, std::memory_order_relaxed); }
  bool UnderrunProtection() const { return FUnderrunProtection; }
  void SetUnderrunProtection(bool v) { FUnderrunProtection = v; }
  bool TestWrite() const { return FTestWrite; }
  void SetTestWrite(bool v) { FTestWrite = v; }
  bool FinalizeDisc() const { return FFinalizeDisc; }
  void SetFinalizeDisc(bool v) { FFinalizeDisc = v; }
  bool DoDebug() const { return FDoDebug; }
  void SetDoDebug(bool v) { FDoDebug = v; }
  bool Erasing() const { return false; }
  std::uint16_t ReadSpeed() const { return FReadSpeed; }
  void SetReadSpeed(std::uint16_t v) { FReadSpeed = v; }
  std::uint16_t WriteSpeed() const { return FWriteSpeed; }
  void SetWriteSpeed(std::uint16_t v);  // sends SetCDSpeed(ReadSpeed, v), stores v regardless
  // Quirks of the selected drive.
  bool DVRQuirk() const { return FDVRQuirk; }
  bool W512Quirk() const { return FW512Quirk; }
  bool LinkSizeQuirk() const { return FLinkSizeQuirk; }
  bool SlowReadyQuirk() const { return FSlowReadyQuirk; }
  bool CloseSessionImmed() const { return FCloseSessionImmed; }

 protected:
  void DecodeError(const SRB_ExecSCSICmd& Request);
  void GetSenseText(const SRB_ExecSCSICmd& Request);
  void ClearSelection();
  bool TestWriteMode(std::uint8_t Mode);
  // Builds a zeroed request with the given flags, lengths and CDB length.
  static SRB_ExecSCSICmd NewRequest(std::uint8_t Flags, std::uint8_t CDBLen, std::uint32_t BufLen,
                                    std::uint8_t* Buffer);
  bool Run(SRB_ExecSCSICmd& Request, int Timeout);  // ExecuteCommand, true on status 1
  // The completion event of this device's commands, created on first use and kept until
  // the device goes or a command times out; nullptr when none can be made.
  void* CommandEvent();
  void DropEvent();

  std::uint8_t FHaId = 254, FTarget = 254, FLun = 254;
  int FAdapterCount = 0;
  std::array<std::uint8_t, 22> FCapabilitiesPage{};
  std::array<std::uint8_t, 54> FWriteParametersPage{};
  TDebugWindow* FDebugWindow = nullptr;
  bool FUnderrunProtection = false;
  bool FTestWrite = false;
  std::string FLastError;
  std::string FDeviceID;
  std::uint8_t FDeviceType = 0x7F;
  std::string FDeviceDescription;
  std::array<std::uint8_t, 131> FInquiryData{};
  bool FDoDebug = false;
  std::uint32_t FCapabilities = 0;
  std::vector<std::string> FDevices;
  bool FTargetBusy = false;
  SRB_HAInquiry FHAInquiry{};
  SRB_Abort FAbortBlock{};
  std::array<std::uint8_t, 38> FTrackInformation{};
  std::array<std::uint8_t, 26> FATIP{};
  std::array<std::uint8_t, 56> FDiscInformation{};
  std::uint16_t FDeviceMaxWriteSpeed = 0;
  std::uint16_t FDeviceMaxReadSpeed = 0;
  std::atomic<std::uint32_t> FDeviceBufferSize{0};
  std::atomic<std::uint32_t> FDeviceFreeBufferSize{0};
  bool FFinalizeDisc = false;
  std::array<std::uint8_t, SENSE_AREA_LEN> FLastSense{};
  std::uint8_t FWriteModes = 0;
  std::uint16_t FReadSpeed = 0;
  std::uint16_t FWriteSpeed = 0;
  bool FDVRQuirk = false;
  bool FW512Quirk = false;
  bool FLinkSizeQuirk = false;
  bool FSlowReadyQuirk = false;
  bool FCloseSessionImmed = true;
  void* FEvent = nullptr;          // completion event, reused by every command
  EventPort* FEventPort = nullptr;  // the port that made FEvent

  // Scratch buffers, one per purpose.
  std::array<std::uint8_t, 512> FModePageBuffer{};
  std::array<std::uint8_t, 256> FCapabilitiesBuffer{};
  std::array<std::uint8_t, 512> FWriteParamsBuffer1{};
  std::array<std::uint8_t, 512> FWriteParamsBuffer2{};
  std::array<std::uint8_t, 114> FConfigurationBuffer{};
  std::array<std::uint8_t, 64> FParameterBuffer{};
  std::array<std::uint8_t, 40> FSenseBuffer{};
  std::array<std::uint8_t, 4> FSessionBuffer{};
};

}  // namespace orv::scsi
