// The library's own ASPI layer "PTASPI32": answers host adapter inquiry, device type and
// execute-SCSI requests from a table of the machine's CD/DVD drives, passing each command to
// its drive through SG_IO (via KernelPort, platform.h). Every request completes before
// SPTISendCommand returns; the request's event is never signalled.
// Threading: process-wide state, no locks; see aspi_layer.h.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace orv::scsi {

struct SPTIDriveEntry {
  std::uint8_t HaId = 0;
  std::uint8_t Target = 0;
  std::uint8_t Lun = 0;      // 250 marks, during the scan only, a drive without an address
  std::uint8_t DriveNumber = 0;
  bool Present = false;
  int Handle = -1;
  int Lock = -1;  // the node's lock while the drive is reserved (RESERVE(6))
  std::array<std::uint8_t, 40> InquiryData{};
};

// While true, a drive's handle is closed after each command passed to it. Initially false.
extern std::atomic<bool> SPTICloseAfterCommand;

// Scans drive numbers 2..26; returns the count found, or 0 without scanning when it ran
// since the last DoneSPTI.
std::uint8_t InitSPTI();
void DoneSPTI();
std::uint32_t SPTISendCommand(void* request);
std::uint32_t SPTIGetSupportInfo();

// Read-only views for discovery and tests.
const std::array<SPTIDriveEntry, 27>& SPTIDriveTable();
std::uint8_t SPTIAdapterCount();

// The 16-character manager identification the emulation reports.
inline constexpr const char kSPTIManagerId[17] = "ORVAKELL PTASPI ";

}  // namespace orv::scsi
