// The process-wide ASPI layer: which implementation carries request blocks to devices.
//
// InitASPI chooses, in order (UseSPTI true): the pass-through emulation "PTASPI32" when it
// finds a drive, "./libwnaspi32.so", "libwnaspi32.so" (executable's folder, then the system
// search order), "libasapi.so"; with UseSPTI false the libraries come first and the
// emulation last. The layer stays loaded for the life of the process.
// Threading: InitASPI/ReinitASPI/FreeASPI must not overlap a command on another thread.
#pragma once

#include <cstdint>
#include <string>

namespace orv::scsi {

inline constexpr const char* kLayerEmulation = "PTASPI32";
inline constexpr const char* kLayerWnaspi = "WNASPI32.DLL";
inline constexpr const char* kLayerAsapi = "ASAPI.DLL";
inline constexpr const char* kWnaspiFile = "libwnaspi32.so";
inline constexpr const char* kAsapiFile = "libasapi.so";

bool InitASPI(bool UseSPTI);
bool ReinitASPI();
bool FreeASPI();

bool ASPILoaded();
const std::string& ASPILayerName();

// The active layer's entry points. SendASPI32Command returns SS_NO_ASPI when nothing is loaded.
std::uint32_t SendASPI32Command(void* request);
std::uint32_t GetASPI32SupportInfo();

}  // namespace orv::scsi
