// ASPI request blocks and status codes: the binary contract between the device layer and
// any ASPI layer behind `SendASPI32Command` (the pass-through emulation, or an outside
// library loaded with dlopen such as the virtual recorder libwnaspi32.so).
//
// Layouts follow ASPI for Win32 field by field, packed to 1 byte, with native pointer width
// (so on x86-64 an SRB_ExecSCSICmd is 105 bytes: 64 + 8 for the wider pointers + 33 sense
// bytes). The completion "event" in SRB_PostProc is an eventfd(2) descriptor stored as a
// pointer-sized integer; a layer signals it by writing a non-zero 8-byte count to it.
// Plain C layout: this header is included by outside layers too.
#pragma once

#include <cstdint>

namespace orv::scsi {

// SRB_Cmd values.
inline constexpr std::uint8_t SC_HA_INQUIRY = 0x00;
inline constexpr std::uint8_t SC_GET_DEV_TYPE = 0x01;
inline constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr std::uint8_t SC_ABORT_SRB = 0x03;
inline constexpr std::uint8_t SC_GET_DISK_INFO = 0x06;

// SRB_Flags.
inline constexpr std::uint8_t SRB_DIR_IN = 0x08;
inline constexpr std::uint8_t SRB_DIR_OUT = 0x10;
inline constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;

// SRB_Status.
inline constexpr std::uint8_t SS_PENDING = 0x00;
inline constexpr std::uint8_t SS_COMP = 0x01;
inline constexpr std::uint8_t SS_ABORTED = 0x02;
inline constexpr std::uint8_t SS_ABORT_FAIL = 0x03;
inline constexpr std::uint8_t SS_ERR = 0x04;
inline constexpr std::uint8_t SS_INVALID_CMD = 0x80;
inline constexpr std::uint8_t SS_INVALID_HA = 0x81;
inline constexpr std::uint8_t SS_NO_DEVICE = 0x82;
inline constexpr std::uint8_t SS_INVALID_SRB = 0xE0;
inline constexpr std::uint8_t SS_BUFFER_ALIGN = 0xE1;
inline constexpr std::uint8_t SS_NO_ASPI = 0xE2;
inline constexpr std::uint8_t SS_ASPI_IS_BUSY = 0xE5;
inline constexpr std::uint8_t SS_BUFFER_TO_BIG = 0xE6;

// SRB_HaStat.
inline constexpr std::uint8_t HASTAT_OK = 0x00;
inline constexpr std::uint8_t HASTAT_TIMEOUT = 0x09;

// SCSI status bytes (SRB_TargStat).
inline constexpr std::uint8_t STATUS_GOOD = 0x00;
inline constexpr std::uint8_t STATUS_CHKCOND = 0x02;
inline constexpr std::uint8_t STATUS_BUSY = 0x08;
// The unit is reserved by another initiator (RESERVE(6)).
inline constexpr std::uint8_t STATUS_RESCONF = 0x18;

inline constexpr int SENSE_LEN = 14;        // what the layer is asked to return
inline constexpr int SENSE_AREA_LEN = 33;   // what the request block has room for

#pragma pack(push, 1)

struct SRB_Header {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t HA_Count;
  std::uint8_t HA_SCSI_ID;
  std::uint8_t HA_ManagerId[16];
  std::uint8_t HA_Identifier[16];
  std::uint8_t HA_Unique[16];
  std::uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint8_t SRB_DeviceType;
  std::uint8_t SRB_Rsvd1;
};

struct SRB_GetDiskInfo {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint8_t SRB_DriveFlags;
  std::uint8_t SRB_Int13HDriveInfo;
  std::uint8_t SRB_Heads;
  std::uint8_t SRB_Sectors;
  std::uint8_t SRB_Rsvd1[10];
};

struct SRB_ExecSCSICmd {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint16_t SRB_Rsvd1;
  std::uint32_t SRB_BufLen;
  std::uint8_t* SRB_BufPointer;
  std::uint8_t SRB_SenseLen;
  std::uint8_t SRB_CDBLen;
  std::uint8_t SRB_HaStat;
  std::uint8_t SRB_TargStat;
  void* SRB_PostProc;
  std::uint8_t SRB_Rsvd2[20];
  std::uint8_t CDBByte[16];
  std::uint8_t SenseArea[SENSE_AREA_LEN];
};

struct SRB_Abort {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  void* SRB_ToAbort;
};

#pragma pack(pop)

static_assert(sizeof(SRB_ExecSCSICmd) == 64 - 8 + 2 * sizeof(void*) + SENSE_AREA_LEN);
static_assert(sizeof(SRB_HAInquiry) == 60);

// Entry point types of a layer.
using GetSupportInfoFn = std::uint32_t (*)();
using SendCommandFn = std::uint32_t (*)(void* request);

}  // namespace orv::scsi
