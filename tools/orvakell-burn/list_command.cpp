// orvakell-burn --list: the device list entries and, per unit, its description,
// capabilities, write modes, speeds and the disc it holds, over whichever ASPI layer
// InitASPI chose (the pass-through emulation first; --no-spti puts the libraries first).
#include <ostream>
#include <set>
#include <sstream>

#include "commands.h"
#include "scsi/aspi_layer.h"
#include "scsi/scsi_device.h"

namespace orv::tools {
namespace {

using namespace orv::scsi;

std::string CapabilityText(std::uint32_t caps) {
  static const struct {
    std::uint32_t bit;
    const char* name;
  } kNames[] = {
      {CAP_CDR_READ, "CD-R read"},       {CAP_CDRW_READ, "CD-RW read"},     {CAP_METHOD2, "method 2"},
      {CAP_DVDROM_READ, "DVD-ROM read"}, {CAP_DVDR_READ, "DVD-R read"},     {CAP_DVDRW_READ, "DVD-RW read"},
      {CAP_DVDRAM_READ, "DVD-RAM read"}, {CAP_DVDPR_READ, "DVD+R read"},    {CAP_DVDPRW_READ, "DVD+RW read"},
      {CAP_CDR_WRITE, "CD-R write"},     {CAP_CDRW_WRITE, "CD-RW write"},   {CAP_TEST_WRITE, "test write"},
      {CAP_DVDR_WRITE, "DVD-R write"},   {CAP_DVDRW_WRITE, "DVD-RW write"}, {CAP_DVDRAM_WRITE, "DVD-RAM write"},
      {CAP_DVDPR_WRITE, "DVD+R write"},  {CAP_DVDPRW_WRITE, "DVD+RW write"},
      {CAP_UNDERRUN_PROTECTION, "underrun protection"},
  };
  std::string text;
  for (const auto& n : kNames) {
    if (!(caps & n.bit)) continue;
    if (!text.empty()) text += ", ";
    text += n.name;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%05X", caps);
  return (text.empty() ? std::string("none") : text) + " (" + hex + ")";
}

std::string WriteModeText(std::uint8_t modes) {
  std::string text;
  if (modes & WM_RAW) text += " RAW";
  if (modes & WM_SAO) text += " SAO";
  if (modes & WM_TAO) text += " TAO";
  return text.empty() ? " none" : text;
}

// The speeds the drive accepts, found as the recorder panel finds them: each speed from the
// maximum down to 1 is set and the drive's current speed read back.
std::string SpeedText(TSCSIDevice& device) {
  const std::uint16_t max = device.MaxWriteSpeed();
  std::set<std::uint16_t, std::greater<>> accepted;
  for (std::uint16_t s = max; s >= 1; --s) {
    device.SetWriteSpeed(s);
    const std::uint16_t current = device.CurrentWriteSpeed();
    if (current != 0) accepted.insert(current);
  }
  device.SetWriteSpeed(0);  // back to the drive's maximum
  std::string text;
  for (auto s : accepted) text += " " + std::to_string(s) + "x";
  return text.empty() ? " unknown" : text;
}

}  // namespace

int RunListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool use_spti = true;
  for (const auto& a : args) {
    if (a == "--no-spti") {
      use_spti = false;
    } else {
      err << "usage: orvakell-burn --list [--no-spti]\n";
      return 2;
    }
  }
  TSCSIDevice device;
  if (!device.InitializeASPI(use_spti)) {
    err << "orvakell-burn: no ASPI layer: no CD/DVD drive answers through SG_IO and neither "
        << kWnaspiFile << " nor " << kAsapiFile << " can be loaded\n";
    return 1;
  }
  out << "ASPI layer: " << ASPILayerName() << "\n";
  const std::vector<std::string> devices = device.Devices();
  if (devices.empty()) {
    out << "No CD/DVD units.\n";
    return 0;
  }
  for (const std::string& entry : devices) {
    out << entry << "\n";
    device.SetDeviceID(entry);
    if (device.DeviceID().empty()) {
      out << "  cannot be selected\n";
      continue;
    }
    out << "  Description:  " << device.DeviceDescription() << "\n";
    out << "  Capabilities: " << CapabilityText(device.Capabilities()) << "\n";
    out << "  Write modes: " << WriteModeText(device.WriteModes()) << "\n";
    out << "  Read speed:   " << device.MaxReadSpeed() << "x\n";
    out << "  Write speeds:" << SpeedText(device) << "\n";
    const std::uint8_t disc = device.GetDiscType();
    out << "  Disc:         " << DiscTypeNames[disc] << "\n";
  }
  return 0;
}

}  // namespace orv::tools
