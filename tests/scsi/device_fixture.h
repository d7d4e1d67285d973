// A TSCSIDevice on the scripted layer (loaded as "./libwnaspi32.so" through the fake library
// port), with a virtual clock and a kernel without drives, and device 0:0:0 selected.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes.h"
#include "scsi/aspi_layer.h"
#include "scsi/scsi_device.h"
#include "scsi/spti.h"

namespace orv::scsi::testing {

inline std::vector<std::uint8_t> InquiryAnswer(std::uint8_t type, const std::string& vendor, const std::string& product,
                                               const std::string& revision = "1.00") {
  std::vector<std::uint8_t> a(96, 0);
  a[0] = type;
  auto put = [&](std::size_t at, const std::string& s, std::size_t w) {
    for (std::size_t i = 0; i < w; ++i) a[at + i] = i < s.size() ? static_cast<std::uint8_t>(s[i]) : ' ';
  };
  put(8, vendor, 8);
  put(16, product, 16);
  put(32, revision, 4);
  return a;
}

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetKernelPort(&kernel);
    SetLibraryPort(&libraries);
    SetEventPort(&clock);
    ScriptedLayer::active = &layer;
    libraries.available = {"./libwnaspi32.so"};
    ASSERT_TRUE(InitASPI(false));
    ASSERT_EQ(ASPILayerName(), "WNASPI32.DLL");
    device = std::make_unique<TSCSIDevice>();
    device->OnDebugMessage = [this](TSCSIDevice*, const std::string& m, std::uint8_t t) {
      lines.push_back(m);
      types.push_back(t);
    };
    layer.seen.clear();  // the constructor's scan
    clock = VirtualClock();
  }
  void TearDown() override {
    device.reset();
    (void)FreeASPI();
    DoneSPTI();
    ScriptedLayer::active = nullptr;
    SetKernelPort(nullptr);
    SetLibraryPort(nullptr);
    SetEventPort(nullptr);
    DiscType = 0;
  }

  // Selects 0:0:0 as a CD/DVD unit that rejects every probing command but INQUIRY, then
  // forgets what the selection sent.
  void SelectDrive(const std::string& product = "TEST RECORDER") {
    auto answer = InquiryAnswer(5, "ORVTEST", product);
    layer.respond = [answer](SRB_ExecSCSICmd& r) {
      if (r.CDBByte[0] == 0x12) ScriptedLayer::Answer(r, answer);
      else ScriptedLayer::CheckCondition(r, 5, 0x20, 0x00);
    };
    device->SetDeviceID("0:0:0,E: ORVTEST TEST RECORDER 1.00");
    ASSERT_EQ(device->HaId(), 0);
    layer.seen.clear();
    lines.clear();
    types.clear();
    layer.respond = nullptr;
  }

  FakeKernel kernel;
  FakeLibraries libraries;
  VirtualClock clock;
  ScriptedLayer layer;
  std::unique_ptr<TSCSIDevice> device;
  std::vector<std::string> lines;
  std::vector<std::uint8_t> types;
};

}  // namespace orv::scsi::testing
