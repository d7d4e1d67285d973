// Status texts, sense key texts, operation code names and the failure line.
#include "scsi/sense.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orv::scsi {
namespace {

std::string Hex2(std::uint8_t v) {
  char b[3];
  std::snprintf(b, sizeof b, "%02X", v);
  return b;
}

std::array<std::string, 256> BuildOpcodeNames() {
  std::array<std::string, 256> names;
  for (int i = 0; i < 256; ++i) names[i] = Hex2(static_cast<std::uint8_t>(i));
  const struct {
    std::uint8_t code;
    const char* name;
  } known[] = {
      {0x00, "TEST UNIT READY"},        {0x01, "REWIND UNIT"},
      {0x03, "REQUEST SENSE"},          {0x04, "FORMAT UNIT"},
      {0x12, "INQUIRY"},                {0x1B, "START STOP UNIT"},
      {0x1E, "PREVENT/ALLOW REMOVAL"},  {0x23, "READ FORMAT CAPACITIES"},
      {0x25, "READ CAPACITY"},          {0x28, "READ (10)"},
      {0x2A, "WRITE (10)"},             {0x2B, "SEEK (10)"},
      {0x2E, "WRITE AND VERIFY (10)"},  {0x2F, "VERIFY (10)"},
      {0x35, "SYNCHRONIZE CACHE"},      {0x42, "READ SUB-CHANNEL"},
      {0x43, "READ TOC/PMA/ATIP"},      {0x45, "PLAY AUDIO (10)"},
      {0x46, "GET CONFIGURATION"},      {0x47, "PLAY AUDIO MSF"},
      {0x4A, "GET EVENT/STATUS NOTIF"}, {0x4B, "PAUSE/RESUME"},
      {0x4E, "STOP PLAY/SCAN"},         {0x51, "READ DISC INFORMATION"},
      {0x52, "READ TRACK INFORMATION"}, {0x53, "RESERVE TRACK"},
      {0x54, "SEND OPC INFORMATION"},   {0x55, "MODE SELECT (10)"},
      {0x58, "REPAIR TRACK"},           {0x5A, "MODE SENSE (10)"},
      {0x5B, "CLOSE TRACK/SESSION"},    {0x5C, "READ BUFFER CAPACITY"},
      {0x5D, "SEND CUE SHEET"},         {0xA1, "BLANK"},
      {0xA2, "SEND EVENT"},             {0xA3, "SEND KEY"},
      {0xA4, "REPORT KEY"},             {0xA5, "PLAY AUDIO (12)"},
      {0xA6, "LOAD/UNLOAD CD/DVD"},     {0xA7, "SET READ AHEAD"},
      {0xA8, "READ (12)"},              {0xAA, "WRITE (12)"},
      {0xAC, "GET PERFORMANCE"},        {0xAD, "READ DVD STRUCTURE"},
      {0xB6, "SET STREAMING"},          {0xB9, "READ CD MSF"},
      {0xBA, "SCAN"},                   {0xBB, "SET CD SPEED"},
      {0xBD, "MECHANISM STATUS"},       {0xBE, "READ CD"},
      {0xBF, "SEND DVD STRUCTURE"},
  };
  for (const auto& k : known) {
    std::string n = k.name;
    if (n.size() < 22) n.append(22 - n.size(), ' ');
    names[k.code] = n;
  }
  return names;
}

}  // namespace

const std::array<std::string, 256>& OpcodeNames() {
  static const std::array<std::string, 256> names = BuildOpcodeNames();
  return names;
}

std::string GetStatusText(std::uint8_t Status, std::uint8_t HaStat, std::uint8_t TargStat, bool& busy) {
  busy = false;
  switch (Status) {
    case 0x00:
    case 0x01: return "";
    case 0x02:
    case 0x03: return "OPERATION ABORTED BY USER";
    case 0x80: return "INVALID REQUEST";
    case 0x81: return "INVALID HOST ADAPTER";
    case 0x82: return "NO DEVICE";
    case 0xE0: return "INVALID SRB";
    case 0xE1: return "BUFFER ALIGNMENT";
    case 0xE5: return "ASPI IS BUSY";
    case 0xE6: return "BUFFER TOO BIG";
    case 0x04: break;
    default: return "UNKNOWN";
  }
  switch (HaStat) {
    case 0x00: break;
    case 0x09: return "COMMAND TIMEOUT";
    case 0x0B: return "SRB TIMEOUT";
    case 0x0D: return "MESSAGE REJECT";
    case 0x0E: return "BUS RESET";
    case 0x0F: return "PARITY ERROR";
    case 0x10: return "REQUEST SENSE FAILED";
    case 0x11: return "SELECTION TIMEOUT";
    case 0x12: return "DATA OVERRUN";
    case 0x13: return "UNEXPECTED BUS FREE";
    default: return "UNKNOWN";
  }
  switch (TargStat) {
    case 0x00:
    case 0x02: return "CHECK CONDITION";
    case 0x08: busy = true; return "TARGET BUSY";
    case 0x18: return "TARGET RESERVATION CONFLICT";
    case 0x28: return "TARGET QUEUE FULL";
    default: return "UNKNOWN";
  }
}

std::string SenseKeyText(const std::string& statusText, const std::uint8_t* sense) {
  if (statusText != "CHECK CONDITION") return statusText;
  if (sense[0] == 0) return "";
  if ((sense[0] & 0x7E) != 0x70) return "UNKNOWN";
  switch (sense[2] & 0x0F) {
    case 0x0:
      if (sense[2] & 0x80) return "FILEMARK";
      if (sense[2] & 0x40) return "END OF MEDIA";
      if (sense[2] & 0x20) return "ILLEGAL LENGTH";
      return "NO ADDITIONAL SENSE INFORMATION";
    case 0x1: return "RECOVERED ERROR";
    case 0x2: return "NOT READY";
    case 0x3: return "MEDIUM ERROR";
    case 0x4: return "HARDWARE ERROR";
    case 0x5: return "ILLEGAL REQUEST";
    case 0x6: return "UNIT ATTENTION";
    case 0x7: return "DATA PROTECT";
    case 0x8: return "ERASE CHECK";
    case 0xA: return "COPYABORTED";
    case 0xB: return "ABORTED COMMAND";
    case 0xD: return "VOLUME OVERFLOW";
    case 0xE: return "MISCOMPARE";
    case 0xF: return "RESERVED";
    default: return statusText;  // 9 and 0xC keep CHECK CONDITION
  }
}

void NormalizeSense(std::uint8_t* sense, int length) {
  if (length < 8 || (sense[0] & 0x7E) != 0x72) return;
  std::uint8_t fixed[SENSE_AREA_LEN] = {};
  const int len = std::min(length, SENSE_AREA_LEN);
  fixed[0] = static_cast<std::uint8_t>(0x70 | (sense[0] & 0x01));
  fixed[2] = sense[1] & 0x0F;
  fixed[7] = 10;
  fixed[12] = sense[2];
  fixed[13] = sense[3];
  // Walk the descriptors that fit: information (type 0) and stream flags (type 4).
  int pos = 8;
  const int end = std::min(len, 8 + static_cast<int>(sense[7]));
  while (pos + 2 <= end) {
    const std::uint8_t type = sense[pos];
    const int dlen = sense[pos + 1];
    if (pos + 2 + dlen > end) break;
    if (type == 0x00 && dlen >= 0x0A) {
      if (sense[pos + 2] & 0x80) fixed[0] |= 0x80;
      std::memcpy(fixed + 3, sense + pos + 8, 4);  // low 32 bits of the 64-bit information
    } else if (type == 0x04 && dlen >= 2) {
      fixed[2] |= sense[pos + 3] & 0xE0;  // FILEMARK, EOM, ILI
    }
    pos += 2 + dlen;
  }
  std::memset(sense, 0, len);
  std::memcpy(sense, fixed, len);
}

bool IsFailureLineExempt(const SRB_ExecSCSICmd& Request) {
  static constexpr std::uint8_t exempt[] = {0x00, 0x01, 0x12, 0x1B, 0x1E, 0x23, 0x35, 0x43,
                                            0x46, 0x51, 0x52, 0x55, 0x5A, 0x5C, 0xB6, 0xBB};
  if (std::find(std::begin(exempt), std::end(exempt), Request.CDBByte[0]) != std::end(exempt)) return true;
  return Request.SenseArea[12] == 0x04 && Request.SenseArea[13] == 0x08;
}

std::string FailureLine(const SRB_ExecSCSICmd& Request, const std::string& LastError) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u:%X:%u <%02X> [%04X]", Request.SRB_HaId, Request.SRB_Target,
                Request.SRB_Lun, Request.SRB_Status, static_cast<unsigned>(Request.SRB_BufLen));
  const std::string address = buf;
  std::string command = "(" + Hex2(Request.CDBByte[0]) + ") {" + Hex2(Request.SRB_Flags) + "|" +
                        Hex2(Request.SRB_CDBLen) + "} - " + address + " ";
  for (int i = 1; i <= 15; ++i) command += Hex2(Request.CDBByte[i]) + " ";
  std::string body = OpcodeNames()[Request.CDBByte[0]] + " " + command + " " + "| ";
  if (Request.SRB_BufLen != 0 && Request.SRB_BufPointer != nullptr) {
    const std::uint32_t n = std::min<std::uint32_t>(Request.SRB_BufLen, 257);
    for (std::uint32_t i = 0; i < n; ++i) body += Hex2(Request.SRB_BufPointer[i]) + " ";
  }
  return "<<< " + body + "= " + Hex2(Request.SRB_HaStat) + " " + Hex2(Request.SRB_TargStat) + " " +
         Hex2(Request.SenseArea[0]) + " " + Hex2(Request.SenseArea[2]) + " " + "ASC:" +
         Hex2(Request.SenseArea[12]) + ",ASQ:" + Hex2(Request.SenseArea[13]) + " " + LastError;
}

}  // namespace orv::scsi
