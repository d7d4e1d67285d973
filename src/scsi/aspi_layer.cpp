// Choice and loading of the process-wide ASPI layer.
#include "scsi/aspi_layer.h"

#include "scsi/aspi_types.h"
#include "scsi/platform.h"
#include "scsi/spti.h"

namespace orv::scsi {
namespace {

bool g_loaded = false;
std::string g_layer_name;
void* g_library = nullptr;
GetSupportInfoFn g_get_support_info = nullptr;
SendCommandFn g_send_command = nullptr;
bool g_use_spti = true;

bool UseEmulationIfDrives() {
  if (InitSPTI() == 0) return false;
  g_get_support_info = &SPTIGetSupportInfo;
  g_send_command = &SPTISendCommand;
  g_layer_name = kLayerEmulation;
  g_loaded = true;
  return true;
}

// Takes both exports of a loaded library; a library lacking one does not count as loaded.
bool TakeExports(void* handle, const char* support_name, const char* send_name) {
  LibraryPort& libs = Libraries();
  auto support = reinterpret_cast<GetSupportInfoFn>(libs.Symbol(handle, support_name));
  auto send = reinterpret_cast<SendCommandFn>(libs.Symbol(handle, send_name));
  if (support == nullptr || send == nullptr) {
    libs.Free(handle);
    return false;
  }
  g_library = handle;
  g_get_support_info = support;
  g_send_command = send;
  g_loaded = true;
  return true;
}

// nullptr when the library is not there; a loader that throws reaches InitASPI's caller with
// its text (TSCSIDevice::InitializeASPI reports it).
void* TryLoad(const std::string& name) { return Libraries().Load(name); }

}  // namespace

bool InitASPI(bool UseSPTI) {
  if (UseSPTI) UseEmulationIfDrives();
  if (!g_loaded) {
    void* handle = TryLoad(std::string("./") + kWnaspiFile);
    if (handle == nullptr) handle = TryLoad(kWnaspiFile);
    if (handle != nullptr) {
      g_layer_name = kLayerWnaspi;
      if (!TakeExports(handle, "GetASPI32SupportInfo", "SendASPI32Command")) g_layer_name.clear();
    } else if ((handle = TryLoad(kAsapiFile)) != nullptr) {
      g_layer_name = kLayerAsapi;
      if (!TakeExports(handle, "GetASAPI32SupportInfo", "SendASAPI32Command")) g_layer_name.clear();
    }
    if (!g_loaded) UseEmulationIfDrives();
  }
  if (g_loaded) (void)g_get_support_info();
  g_use_spti = UseSPTI;
  return g_loaded;
}

bool FreeASPI() {
  bool ok = true;
  if (g_library != nullptr) {
    ok = Libraries().Free(g_library);
    g_library = nullptr;
  }
  g_loaded = false;
  g_get_support_info = nullptr;
  g_send_command = nullptr;
  g_layer_name.clear();
  return ok;
}

bool ReinitASPI() {
  if (g_layer_name == kLayerEmulation) {
    g_loaded = false;
    g_get_support_info = nullptr;
    g_send_command = nullptr;
    g_layer_name.clear();
    DoneSPTI();
  } else {
    (void)FreeASPI();
  }
  (void)InitASPI(g_use_spti);
  return true;
}

bool ASPILoaded() { return g_loaded; }
const std::string& ASPILayerName() { return g_layer_name; }

std::uint32_t SendASPI32Command(void* request) {
  if (!g_loaded || g_send_command == nullptr) return SS_NO_ASPI;
  return g_send_command(request);
}

std::uint32_t GetASPI32SupportInfo() {
  if (!g_loaded || g_get_support_info == nullptr) return 0;
  return g_get_support_info();
}

}  // namespace orv::scsi
