// Status and sense texts, operation code names and the failure line of the device layer.
// All texts are in capitals. Pure functions over the request block; no state but the
// read-only tables.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "scsi/aspi_types.h"

namespace orv::scsi {

// 256 names indexed by operation code: two hex digits, or a name padded to 22 characters.
const std::array<std::string, 256>& OpcodeNames();

// Status text of (SRB_Status, SRB_HaStat, SRB_TargStat); busy is set for target status BUSY.
std::string GetStatusText(std::uint8_t Status, std::uint8_t HaStat, std::uint8_t TargStat, bool& busy);

// The status text refined by the sense key when the text is "CHECK CONDITION".
std::string SenseKeyText(const std::string& statusText, const std::uint8_t* sense);

// The additional sense text of (ASC, ASCQ), or nullptr when the pair is not in the table.
const char* AdditionalSenseText(std::uint8_t asc, std::uint8_t ascq);
// Number of pairs in the table (256).
int AdditionalSenseTableSize();

// Descriptor-format sense (response code 0x72/0x73) rewritten in the fixed format (0x70/0x71)
// so that key, ASC and ASCQ sit at bytes 2, 12 and 13; other data is returned unchanged.
void NormalizeSense(std::uint8_t* sense, int length);

// True when the command writes no failure line (probing/waiting commands, long write).
bool IsFailureLineExempt(const SRB_ExecSCSICmd& Request);
// The failure line of a decoded request.
std::string FailureLine(const SRB_ExecSCSICmd& Request, const std::string& LastError);

}  // namespace orv::scsi
