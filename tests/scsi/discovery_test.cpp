// Device scan, selection with quirks, capabilities, speeds, write modes and disc type.
#include <gtest/gtest.h>

#include <cstring>

#include "device_fixture.h"

namespace orv::scsi::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A scripted drive: INQUIRY, mode pages 2Ah/05h/30h, GET CONFIGURATION, READ TOC ATIP and
// READ DISC INFORMATION answered from the fields below; anything else fails.
struct DriveScript {
  Bytes inquiry = InquiryAnswer(5, "ORVTEST", "RECORDER");
  Bytes page2a_default, page2a_current;  // pages without header
  bool block_descriptor = false;
  bool page30 = false;
  std::optional<Bytes> feature2a, feature2f;  // feature descriptors
  std::optional<std::uint16_t> profile;
  std::optional<std::uint8_t> atip6;
  std::optional<std::uint8_t> disc_info2;
  std::uint8_t accepted_write_types = 0x0E;  // bit per write type 1..3
  int mode_selects = 0;

  static Bytes Page2A(std::uint8_t read, std::uint8_t write, std::uint8_t byte4, std::uint16_t max_read,
                      std::uint16_t max_write, std::uint16_t cur_write) {
    Bytes p(30, 0);
    p[0] = 0x2A;
    p[1] = 0x1C;
    p[2] = read;
    p[3] = write;
    p[4] = byte4;
    p[8] = max_read >> 8;
    p[9] = max_read & 0xFF;
    p[12] = 0x08;  // 2048 KB buffer
    p[18] = max_write >> 8;
    p[19] = max_write & 0xFF;
    p[20] = cur_write >> 8;
    p[21] = cur_write & 0xFF;
    return p;
  }
  Bytes WithHeader(const Bytes& page) const {
    Bytes a(8, 0);
    if (block_descriptor) {
      a[7] = 8;
      a.insert(a.end(), 8, 0);
    }
    a.insert(a.end(), page.begin(), page.end());
    return a;
  }
  void Respond(SRB_ExecSCSICmd& r) {
    const std::uint8_t op = r.CDBByte[0];
    if (op == 0x12) return ScriptedLayer::Answer(r, inquiry);
    if (op == 0x5A) {
      const std::uint8_t page = r.CDBByte[2] & 0x3F;
      const bool defaults = r.CDBByte[2] & 0x80;
      if (page == 0x2A && !(defaults ? page2a_default : page2a_current).empty())
        return ScriptedLayer::Answer(r, WithHeader(defaults ? page2a_default : page2a_current));
      if (page == 0x30 && page30) return ScriptedLayer::Answer(r, WithHeader({0x30, 0x06, 0, 0, 0, 0, 0, 0}));
      if (page == 0x05) {
        Bytes p(52, 0);
        p[0] = 5;
        p[1] = 0x32;
        return ScriptedLayer::Answer(r, WithHeader(p));
      }
    }
    if (op == 0x55) {
      ++mode_selects;
      const std::uint8_t type = r.SRB_BufPointer[8 + 2] & 0x0F;
      if (accepted_write_types & (1u << type)) return;
      return ScriptedLayer::CheckCondition(r, 5, 0x26, 0x00);
    }
    if (op == 0x46) {
      Bytes a(8, 0);
      if (profile) {
        a[6] = *profile >> 8;
        a[7] = *profile & 0xFF;
      }
      if (r.CDBByte[3] == 0x2A && feature2a) a.insert(a.end(), feature2a->begin(), feature2a->end());
      if (r.CDBByte[3] == 0x2F && feature2f) a.insert(a.end(), feature2f->begin(), feature2f->end());
      if (r.CDBByte[3] == 0 && !profile) return ScriptedLayer::CheckCondition(r, 5, 0x20, 0);
      return ScriptedLayer::Answer(r, a);
    }
    if (op == 0x43 && r.CDBByte[2] == 4 && atip6) {
      Bytes a(28, 0);
      a[1] = 26;
      a[6] = *atip6;
      return ScriptedLayer::Answer(r, a);
    }
    if (op == 0x51 && disc_info2) {
      Bytes a(34, 0);
      a[1] = 32;
      a[2] = *disc_info2;
      return ScriptedLayer::Answer(r, a);
    }
    ScriptedLayer::CheckCondition(r, 5, 0x20, 0);
  }
};

class DiscoveryTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    layer.respond = [this](SRB_ExecSCSICmd& r) {
      if (r.SRB_Target == 0 && r.SRB_Lun == 0) script.Respond(r);
      else r.SRB_Status = SS_NO_DEVICE;
    };
  }
  DriveScript script;
};

TEST_F(DiscoveryTest, ScanListsCdUnitsWithLetterAndNotSupportedMark) {
  layer.ha_count = 2;
  layer.disk_info_letter = 'G';
  Bytes worm = InquiryAnswer(4, "WORMCO", "WRITE ONCE", "0.1");
  layer.respond = [&](SRB_ExecSCSICmd& r) {
    if (r.CDBByte[0] != 0x12) return ScriptedLayer::CheckCondition(r, 5, 0x20, 0);
    if (r.SRB_HaId == 0 && r.SRB_Target == 1 && r.SRB_Lun == 0) return ScriptedLayer::Answer(r, script.inquiry);
    if (r.SRB_HaId == 1 && r.SRB_Target == 5 && r.SRB_Lun == 2) return ScriptedLayer::Answer(r, worm);
    if (r.SRB_HaId == 1 && r.SRB_Target == 0 && r.SRB_Lun == 0) return ScriptedLayer::Answer(r, InquiryAnswer(0, "DISK", "HARD DISK"));
    r.SRB_Status = SS_NO_DEVICE;
  };
  device->SetDoDebug(true);
  device->HostAdapterInquiry(0);
  device->ScanDevices();
  ASSERT_EQ(device->Devices().size(), 2u);
  EXPECT_EQ(device->Devices()[0], "0:1:0,G: ORVTEST RECORDER        1.00");
  EXPECT_EQ(device->Devices()[1], "1:5:2,G: WORMCO  WRITE ONCE      0.1  (not supported)");
  EXPECT_EQ(layer.seen.size(), 2u * 64u);
  EXPECT_EQ(device->HaId(), 254);  // the address before the scan comes back
  EXPECT_EQ(device->LastError(), "");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], ">>> WNASPI32.DLL");
  EXPECT_EQ(lines[1], ">>> SCRIPTED LAYER (ADAPTER X)");
  EXPECT_EQ(types[0], 1);
}

TEST_F(DiscoveryTest, ZeroAdaptersMeansScanningSeven) {
  layer.ha_count = 0;
  device->HostAdapterInquiry(0);
  EXPECT_EQ(device->AdapterCount(), 7);
  layer.ha_inquiries.clear();
  device->ScanDevices();
  EXPECT_EQ(layer.ha_inquiries, (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(layer.seen.size(), 7u * 64u);
}

TEST_F(DiscoveryTest, DriveLetterFromTheKernelAddress) {
  kernel.drives[6] = MakeDrive(Bytes{}, ScsiAddress{0, 0, 0, 5});  // G: answers 0:0 (lun not compared)
  layer.disk_info_letter = 'Q';
  device->SetDeviceID("0:0:0,?: X");
  EXPECT_EQ(device->GetDriveLetter(), 'G');
  EXPECT_EQ(kernel.open_handles, 0);
  kernel.drives[6].address = ScsiAddress{0, 0, 1, 0};
  EXPECT_EQ(device->GetDriveLetter(), 'Q');  // from the layer's disk information
  layer.disk_info_letter.reset();
  EXPECT_EQ(device->GetDriveLetter(), '\0');
}

TEST_F(DiscoveryTest, SelectionReadsIdentityAndQuirks) {
  script.inquiry = InquiryAnswer(5, "PIONEER", "DVD-RW  DVR-104 ", "1.2");
  script.inquiry[20] = 0x07;  // a control character in the product
  int changes = 0;
  device->OnDeviceChange = [&](TSCSIDevice*) { ++changes; };
  device->SetDeviceID("0:0:0,E: PIONEER DVD-RW  DVR-104 1.2");
  EXPECT_EQ(device->DeviceType(), 5);
  EXPECT_EQ(device->DeviceID(), "0:0:0,E: PIONEER DVD-RW  DVR-104 1.2");
  EXPECT_EQ(device->DeviceDescription(), "PIONEER  DVD- W  DVR-104  1.2 ");
  EXPECT_EQ(device->DeviceDescription().size(), 30u);
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(device->DVRQuirk());  // the control character broke the exact product text
  script.inquiry[20] = 'R';
  device->SetDeviceID("0:0:0,E: PIONEER");
  EXPECT_TRUE(device->DVRQuirk());
  EXPECT_TRUE(device->CloseSessionImmed());

  script.inquiry = InquiryAnswer(5, "TDK", "CDRW321040X");
  device->SetDeviceID("0:0:0,E: TDK");
  EXPECT_TRUE(device->SlowReadyQuirk());
  EXPECT_FALSE(device->CloseSessionImmed());
  EXPECT_FALSE(device->DVRQuirk());

  script.inquiry = InquiryAnswer(5, "PLEXTOR", "CD-RW  CRX800E");
  device->SetDeviceID("0:0:0,E: X");
  EXPECT_TRUE(device->LinkSizeQuirk());
  script.inquiry = InquiryAnswer(5, "LG", "CD-W512EB");
  device->SetDeviceID("0:0:0,E: X");
  EXPECT_TRUE(device->W512Quirk());
  EXPECT_FALSE(device->LinkSizeQuirk());
}

TEST_F(DiscoveryTest, RejectedSelections) {
  device->SetDeviceID("");
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(device->HaId(), 254);
  device->SetDeviceID("0:0");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "INVALID DEVICE ID / NOT A CD OR DVD DRIVE");
  EXPECT_EQ(types[0], 0);
  device->SetDeviceID("0:X:0,E: bad digit");
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_EQ(device->DeviceType(), 0x7F);
  script.inquiry = InquiryAnswer(0, "DISK", "HARD DISK");
  device->SetDeviceID("0:0:0,C: DISK");
  EXPECT_EQ(lines.size(), 3u);
  EXPECT_EQ(device->HaId(), 254);
  EXPECT_EQ(device->DeviceID(), "");
  EXPECT_EQ(device->DeviceDescription(), "");
  script.inquiry = InquiryAnswer(4, "WORM", "ONCE");
  device->SetDeviceID("0:0:0,?: WORM");
  EXPECT_EQ(device->DeviceType(), 4);  // write-once units can still be selected
  EXPECT_EQ(device->HaId(), 0);
}

TEST_F(DiscoveryTest, CapabilitiesAndSpeedsFromPage2A) {
  script.page2a_default = DriveScript::Page2A(0x3B, 0x17, 0x80, 8467, 1411, 1411);
  script.page2a_current = DriveScript::Page2A(0x3B, 0x17, 0x80, 8467, 1411, 706);
  script.block_descriptor = true;
  script.feature2a = Bytes{0x00, 0x2A, 0x03, 0x04, 0x01, 0, 0, 0};
  script.feature2f = Bytes{0x00, 0x2F, 0x03, 0x04, 0x44, 0, 0, 0};
  device->SetDeviceID("0:0:0,E: X");
  const std::uint32_t caps = device->Capabilities();
  EXPECT_EQ(caps, CAP_CDR_READ | CAP_CDRW_READ | CAP_DVDROM_READ | CAP_DVDR_READ | CAP_DVDRW_READ | CAP_DVDRAM_READ |
                      CAP_DVDPR_READ | CAP_DVDPRW_READ | CAP_CDR_WRITE | CAP_CDRW_WRITE | CAP_TEST_WRITE |
                      CAP_DVDR_WRITE | CAP_DVDRW_WRITE | CAP_DVDPR_WRITE | CAP_DVDPRW_WRITE | CAP_UNDERRUN_PROTECTION);
  EXPECT_EQ(device->DeviceMaxWriteSpeed(), 8);  // 1411 / 176.46 = 7.996
  EXPECT_EQ(device->DeviceMaxReadSpeed(), 48);  // 8467 / 176.46 = 47.98
  EXPECT_EQ(device->MaxWriteSpeed(), 8);
  EXPECT_EQ(device->CurrentWriteSpeed(), 4);
  EXPECT_EQ(device->MaxReadSpeed(), 48);
  std::uint16_t buffer;
  std::memcpy(&buffer, device->CapabilitiesPage() + 12, 2);
  EXPECT_EQ(buffer, 2048);
}

TEST_F(DiscoveryTest, Feature2FDvdRWriteOnlyForTheExactValueOne) {
  script.page2a_default = DriveScript::Page2A(0x01, 0x01, 0x00, 1411, 1411, 1411);
  script.page2a_current = script.page2a_default;
  script.feature2f = Bytes{0x00, 0x2F, 0x03, 0x04, 0x44, 0, 0, 0};
  device->SetDeviceID("0:0:0,E: X");
  EXPECT_TRUE(device->Capabilities() & CAP_DVDR_READ);
  EXPECT_FALSE(device->Capabilities() & CAP_DVDR_WRITE);
  EXPECT_FALSE(device->Capabilities() & CAP_UNDERRUN_PROTECTION);
  script.feature2f = Bytes{0x00, 0x2F, 0x03, 0x04, 0x01, 0, 0, 0};
  script.page30 = true;
  ASSERT_TRUE(device->ReadCapabilities());
  EXPECT_TRUE(device->Capabilities() & CAP_DVDR_WRITE);
  EXPECT_TRUE(device->Capabilities() & CAP_DVDRW_WRITE);
  EXPECT_TRUE(device->Capabilities() & CAP_UNDERRUN_PROTECTION);  // page 30h answers
}

TEST_F(DiscoveryTest, DvdRamWriterReportsOneX) {
  script.page2a_default = DriveScript::Page2A(0x3F, 0x20, 0x00, 0, 0, 0);
  script.page2a_current = script.page2a_default;
  device->SetDeviceID("0:0:0,E: X");
  EXPECT_TRUE(device->Capabilities() & CAP_DVDRAM_WRITE);
  EXPECT_EQ(device->DeviceMaxWriteSpeed(), 1);
  EXPECT_EQ(device->CurrentWriteSpeed(), 1);  // 177 / 176.46
}

TEST_F(DiscoveryTest, NoCapabilitiesPageReadsZero) {
  device->SetDeviceID("0:0:0,E: X");
  EXPECT_FALSE(device->ReadCapabilities());
  EXPECT_EQ(device->MaxWriteSpeed(), 0);
  EXPECT_EQ(device->CurrentWriteSpeed(), 0);
  EXPECT_EQ(device->Capabilities(), 0u);
}

TEST_F(DiscoveryTest, WriteModesFromTheAcceptedProbes) {
  script.accepted_write_types = 0x06;  // TAO (1) and SAO (2)
  device->SetDeviceID("0:0:0,E: X");
  EXPECT_EQ(device->WriteModes(), WM_SAO | WM_TAO);
  EXPECT_EQ(script.mode_selects, 3);
  // The last probe (TAO) stays in the page.
  EXPECT_EQ(device->WriteParametersPage()[2], 1);
  EXPECT_EQ(device->WriteParametersPage()[15], 150);
  script.accepted_write_types = 0x08;
  device->DetectWriteModes();
  EXPECT_EQ(device->WriteModes(), WM_RAW);
  EXPECT_EQ(device->WriteParametersPage()[4], 0);  // the rejected TAO probe's data block type
}

TEST_F(DiscoveryTest, DiscTypeFromProfileAtipAndDiscInformation) {
  device->SetDeviceID("0:0:0,E: X");
  script.profile = 0x0014;
  EXPECT_EQ(device->GetDiscType(), DT_DVDRW);
  script.profile = 0x001B;
  EXPECT_EQ(device->GetDiscType(), DT_DVDPR);
  script.profile = 0x0012;
  EXPECT_EQ(device->GetDiscType(), DT_DVDRAM);
  script.profile.reset();
  script.atip6 = 0xC0;
  EXPECT_EQ(device->GetDiscType(), DT_CDRW);
  script.atip6 = 0x80;
  EXPECT_EQ(device->GetDiscType(), DT_CDR);
  script.atip6 = 0x00;
  EXPECT_EQ(device->GetDiscType(), DT_CDROM);
  script.atip6.reset();
  script.disc_info2 = 0x10;
  EXPECT_EQ(device->GetDiscType(), DT_CDRW);
  script.disc_info2 = 0x01;
  EXPECT_EQ(device->GetDiscType(), DT_CDR);
  script.disc_info2.reset();
  EXPECT_EQ(device->GetDiscType(), DT_UNKNOWN);  // TEST UNIT READY fails too
  EXPECT_STREQ(DiscTypeNames[DT_DVDRW_SEQ], "DVD-RW");
  EXPECT_STREQ(DiscTypeNames[DT_DVDPR], "DVD+R");
}

TEST(SpeedConversion, KBpsToNearestX) {
  EXPECT_EQ(KBpsToX(1411), 8);
  EXPECT_EQ(KBpsToX(706), 4);
  EXPECT_EQ(KBpsToX(8467), 48);
  EXPECT_EQ(KBpsToX(177), 1);
  EXPECT_EQ(KBpsToX(44115), 250);  // exactly 250.0
  EXPECT_EQ(KBpsToX(441), 2);      // 441 / 176.46 = 2.4991
  EXPECT_EQ(KBpsToX(0), 0);
  EXPECT_EQ(XToKBps(0), 0xFFFF);
  EXPECT_EQ(XToKBps(8), 1416);
  EXPECT_EQ(XToKBps(370), 65490);
  EXPECT_EQ(XToKBps(371), 0xFFFF);  // 65667 does not fit: the drive's maximum
}

}  // namespace
}  // namespace orv::scsi::testing
