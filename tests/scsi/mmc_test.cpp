// The MMC commands: exact CDB bytes, flags, lengths, time-outs, and the answers converted.
#include <gtest/gtest.h>

#include <cstring>

#include "device_fixture.h"

namespace orv::scsi::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MmcTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    SelectDrive();
  }
  const SeenCommand& Only() {
    EXPECT_EQ(layer.seen.size(), 1u);
    return layer.seen.back();
  }
  std::uint32_t LastWait() const { return clock.waits.empty() ? 0 : clock.waits.back(); }
};

TEST_F(MmcTest, CommandsWithoutData) {
  struct Case {
    const char* name;
    std::function<bool(TSCSIDevice&)> call;
    Bytes cdb;
  } cases[] = {
      {"TestUnitReady", [](TSCSIDevice& d) { return d.TestUnitReady(5000); }, Bytes(6, 0)},
      {"RewindUnit", [](TSCSIDevice& d) { return d.RewindUnit(); }, Bytes{0x01, 0, 0, 0, 0, 0}},
      {"Eject", [](TSCSIDevice& d) { return d.StartStopUnit(true); }, Bytes{0x1B, 0, 0, 0, 2, 0}},
      {"Load", [](TSCSIDevice& d) { return d.StartStopUnit(false); }, Bytes{0x1B, 0, 0, 0, 3, 0}},
      {"Prevent", [](TSCSIDevice& d) { return d.PreventAllowRemoval(false); }, Bytes{0x1E, 0, 0, 0, 1, 0}},
      {"Allow", [](TSCSIDevice& d) { return d.PreventAllowRemoval(true); }, Bytes{0x1E, 0, 0, 0, 0, 0}},
      {"SyncImmed", [](TSCSIDevice& d) { return d.SynchronizeCache(1800000, true); },
       Bytes{0x35, 2, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"Sync", [](TSCSIDevice& d) { return d.SynchronizeCache(120000, false); }, Bytes{0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"OPC", [](TSCSIDevice& d) { return d.SendOPCInformation(); }, Bytes{0x54, 1, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"CloseSession", [](TSCSIDevice& d) { return d.CloseTrackSession(false, true); },
       Bytes{0x5B, 1, 2, 0, 0, 0, 0, 0, 0, 0}},
      {"CloseTrack", [](TSCSIDevice& d) { return d.CloseTrackSession(true, false); },
       Bytes{0x5B, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
      {"SpeedMaxAnd8x", [](TSCSIDevice& d) { return d.SetCDSpeed(0, 8); },
       Bytes{0xBB, 0, 0xFF, 0xFF, 0x05, 0x88, 0, 0, 0, 0, 0, 0}},
  };
  for (auto& c : cases) {
    layer.seen.clear();
    EXPECT_TRUE(c.call(*device)) << c.name;
    ASSERT_EQ(layer.seen.size(), 1u) << c.name;
    EXPECT_EQ(Hex(layer.seen[0].cdb), Hex(c.cdb)) << c.name;
    EXPECT_EQ(layer.seen[0].flags, 0x40) << c.name;
    EXPECT_EQ(layer.seen[0].buflen, 0u) << c.name;
  }
}

TEST_F(MmcTest, TimeOutsOfTheCommands) {
  layer.leave_pending = true;  // every command runs into its wait limit
  struct Case {
    std::function<void(TSCSIDevice&)> call;
    std::uint32_t limit;
  } cases[] = {
      {[](TSCSIDevice& d) { (void)d.TestUnitReady(5000); }, 10000},
      {[](TSCSIDevice& d) { (void)d.StartStopUnit(true); }, 20000},
      {[](TSCSIDevice& d) { std::uint8_t b[2048]; (void)d.Write10(0, 1, 0x50, 2048, b); }, 120000},
      {[](TSCSIDevice& d) { (void)d.SynchronizeCache(1800000, true); }, 1800000},
      {[](TSCSIDevice& d) { std::uint8_t b[8]; (void)d.GetConfiguration(2, 0, 8, b); }, 30000},
      {[](TSCSIDevice& d) { (void)d.ReadTrackInformation(1); }, 60000},
      {[](TSCSIDevice& d) { (void)d.SendOPCInformation(); }, 150000},
      {[](TSCSIDevice& d) { std::uint8_t b[16]; (void)d.ModeSense10(5, b, false, 16, 15); }, 20000},
      {[](TSCSIDevice& d) { std::uint8_t b[4] = {}; (void)d.SendCueSheet(b, 4); }, 30000},
  };
  for (auto& c : cases) {
    c.call(*device);
    EXPECT_EQ(LastWait(), c.limit);
  }
}

TEST_F(MmcTest, DataInCommands) {
  std::uint8_t buf[256] = {};
  EXPECT_TRUE(device->RequestSense(buf, 40));
  EXPECT_EQ(Hex(Only().cdb), "03 00 00 00 28 00");
  EXPECT_EQ(Only().flags, 0x48);
  EXPECT_EQ(Only().buflen, 40u);
  layer.seen.clear();
  EXPECT_TRUE(device->Inquiry());
  EXPECT_EQ(Hex(Only().cdb), "12 00 00 00 80 00");
  EXPECT_EQ(Only().buflen, 128u);
  layer.seen.clear();
  EXPECT_TRUE(device->Read10(0x12345678, 31, 31 * 2048, nullptr));
  EXPECT_EQ(Hex(Only().cdb), "28 00 12 34 56 78 00 00 1F 00");
  EXPECT_EQ(Only().flags, 0x48);
  layer.seen.clear();
  EXPECT_TRUE(device->ReadTOC(0, buf, true, 3, 254, 0));
  EXPECT_EQ(Hex(Only().cdb), "43 02 00 00 00 00 03 00 FE 00");
  layer.seen.clear();
  EXPECT_TRUE(device->GetConfiguration(2, 0x2F, 114, buf));
  EXPECT_EQ(Hex(Only().cdb), "46 02 00 2F 00 00 00 00 72 00");
  layer.seen.clear();
  EXPECT_TRUE(device->ReserveTrack(0x00012345));
  EXPECT_EQ(Hex(Only().cdb), "53 00 00 00 00 00 01 23 45 00");
  EXPECT_EQ(Only().flags, 0x48);
  EXPECT_EQ(Only().buflen, 8u);
  layer.seen.clear();
  EXPECT_TRUE(device->ModeSense10(0x2A, buf, true, 128, 255));
  EXPECT_EQ(Hex(Only().cdb), "5A 00 AA 00 00 00 00 00 80 00");
}

TEST_F(MmcTest, DataOutCommands) {
  std::uint8_t page[60];
  for (int i = 0; i < 60; ++i) page[i] = static_cast<std::uint8_t>(i);
  EXPECT_TRUE(device->ModeSelect10(page, 60));
  EXPECT_EQ(Hex(Only().cdb), "55 10 00 00 00 00 00 00 3C 00");
  EXPECT_EQ(Only().flags, 0x50);
  EXPECT_EQ(Only().data_out, Bytes(page, page + 60));
  layer.seen.clear();
  std::vector<std::uint8_t> cue(0x0123, 0x41);
  EXPECT_TRUE(device->SendCueSheet(cue.data(), 0x0123));
  EXPECT_EQ(Hex(Only().cdb), "5D 00 00 00 00 00 00 01 23 00");
  layer.seen.clear();
  EXPECT_TRUE(device->SetStreaming(page, 28));
  EXPECT_EQ(Hex(Only().cdb), "B6 00 00 00 00 00 00 00 00 00 1C 00");
  layer.seen.clear();
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 9;
  when.tm_hour = 7;
  when.tm_min = 5;
  when.tm_sec = 3;
  EXPECT_TRUE(device->SendDVDTimeStamp(when));
  EXPECT_EQ(Hex(Only().cdb), "BF 00 00 00 00 00 00 0F 00 16 00 00");
  const Bytes& d = Only().data_out;
  ASSERT_EQ(d.size(), 22u);
  EXPECT_EQ(Hex(Bytes(d.begin(), d.begin() + 8)), "00 14 00 00 00 00 00 00");
  EXPECT_EQ(std::string(d.begin() + 8, d.end()), "20261209070503");
  layer.seen.clear();
  std::uint8_t data[32 * 2048] = {};
  EXPECT_TRUE(device->Write10(0x00010000, 32, 0x50, sizeof data, data));
  EXPECT_EQ(Hex(Only().cdb), "2A 00 00 01 00 00 00 00 20 00");
  EXPECT_EQ(Only().flags, 0x50);
  EXPECT_EQ(Only().buflen, 65536u);
}

TEST_F(MmcTest, SpeedsAreSentIn177KBpsSteps) {
  EXPECT_TRUE(device->SetCDSpeed(48, 0));
  EXPECT_EQ(Hex(Only().cdb), "BB 00 21 30 FF FF 00 00 00 00 00 00");  // 48 * 177 = 8496
  layer.seen.clear();
  device->SetReadSpeed(4);
  device->SetWriteSpeed(16);
  EXPECT_EQ(Hex(Only().cdb), "BB 00 02 C4 0B 10 00 00 00 00 00 00");
  EXPECT_EQ(device->WriteSpeed(), 16);
  layer.respond = [](SRB_ExecSCSICmd& r) { ScriptedLayer::CheckCondition(r, 5, 0x24, 0); };
  device->SetWriteSpeed(2);
  EXPECT_EQ(device->WriteSpeed(), 2);  // stored whatever the outcome
}

TEST_F(MmcTest, ReadBufferCapacityConvertsAndHandlesUnknownFree) {
  Bytes answer = {0, 10, 0, 0, 0x00, 0x20, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00};
  layer.respond = [&](SRB_ExecSCSICmd& r) { ScriptedLayer::Answer(r, answer); };
  std::uint32_t size = 0, free = 0;
  EXPECT_TRUE(device->ReadBufferCapacity(size, free));
  EXPECT_EQ(Hex(Only().cdb), "5C 00 00 00 00 00 00 00 20 00");
  EXPECT_EQ(Only().buflen, 32u);
  EXPECT_EQ(size, 0x200000u);
  EXPECT_EQ(free, 0x100000u);
  EXPECT_EQ(device->DeviceBufferSize(), 0x200000u);
  EXPECT_EQ(device->DeviceFreeBufferSize(), 0x100000u);
  answer = {0, 10, 0, 0, 0x00, 0x20, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_TRUE(device->ReadBufferCapacity(size, free));
  EXPECT_EQ(free, 0xFFFFFFFFu);
  EXPECT_EQ(device->DeviceFreeBufferSize(), 0x200000u);
  layer.respond = [](SRB_ExecSCSICmd& r) { ScriptedLayer::CheckCondition(r, 2, 0x3A, 0); };
  EXPECT_FALSE(device->ReadBufferCapacity(size, free));
  EXPECT_EQ(device->DeviceFreeBufferSize(), 0u);
  EXPECT_EQ(device->DeviceBufferSize(), 0x200000u);
}

TEST_F(MmcTest, TrackInformationOfTheInvisibleTrackInHostOrder) {
  Bytes answer(38, 0);
  answer[1] = 0x22;
  answer[2] = 2;
  const std::uint32_t fields[6] = {11400, 11400, 348449, 0, 348449, 0};
  for (int i = 0; i < 6; ++i)
    for (int b = 0; b < 4; ++b) answer[8 + 4 * i + b] = static_cast<std::uint8_t>(fields[i] >> (24 - 8 * b));
  layer.respond = [&](SRB_ExecSCSICmd& r) { ScriptedLayer::Answer(r, answer); };
  ASSERT_TRUE(device->ReadTrackInformation(255));
  EXPECT_EQ(Hex(Only().cdb), "52 01 00 00 00 FF 00 00 26 00");
  EXPECT_EQ(Only().buflen, 38u);
  EXPECT_EQ(device->TrackInformationWord(12), 11400u);
  EXPECT_EQ(device->TrackInformationWord(16), 348449u);
  std::uint16_t length;
  std::memcpy(&length, device->TrackInformation(), 2);
  EXPECT_EQ(length, 0x22);
  EXPECT_EQ(device->TrackInformation()[2], 2);
  // A failure leaves the record zeroed.
  layer.respond = [](SRB_ExecSCSICmd& r) { ScriptedLayer::CheckCondition(r, 5, 0x24, 0); };
  EXPECT_FALSE(device->ReadTrackInformation(7));
  EXPECT_EQ(device->TrackInformationWord(12), 0u);
}

TEST_F(MmcTest, DiscInformationAndLastSession) {
  Bytes disc(56, 0);
  disc[1] = 0x20;
  disc[2] = 0x0E;
  Bytes session = {0, 10, 1, 3};
  layer.respond = [&](SRB_ExecSCSICmd& r) {
    if (r.CDBByte[0] == 0x51) ScriptedLayer::Answer(r, disc);
    else ScriptedLayer::Answer(r, session);
  };
  ASSERT_TRUE(device->GetDiscInformation());
  EXPECT_EQ(Hex(Only().cdb), "51 00 00 00 00 00 00 00 38 00");
  std::uint16_t length;
  std::memcpy(&length, device->DiscInformation(), 2);
  EXPECT_EQ(length, 0x20);
  EXPECT_EQ(device->DiscInformation()[2], 0x0E);
  layer.seen.clear();
  EXPECT_EQ(device->GetLastSessionNumber(), 3);
  EXPECT_EQ(Hex(Only().cdb), "43 00 01 00 00 00 00 00 04 00");
  layer.respond = [](SRB_ExecSCSICmd& r) { ScriptedLayer::CheckCondition(r, 5, 0x24, 0); };
  EXPECT_EQ(device->GetLastSessionNumber(), 0);
}

TEST_F(MmcTest, ModeSenseZeroFillsAndCopiesTheAnswer) {
  std::uint8_t buf[40];
  std::memset(buf, 0xAB, sizeof buf);
  layer.respond = [](SRB_ExecSCSICmd& r) { ScriptedLayer::Answer(r, {0, 14, 0, 0, 0, 0, 0, 0, 0x05, 0x32, 0x41}); };
  ASSERT_TRUE(device->ModeSense10(5, buf, false, 16, 31));
  EXPECT_EQ(buf[8], 0x05);
  EXPECT_EQ(buf[10], 0x41);
  EXPECT_EQ(buf[11], 0);     // zero-filled up to MaxIndex
  EXPECT_EQ(buf[31], 0);
  EXPECT_EQ(buf[32], 0xAB);  // beyond MaxIndex untouched
}

// ---- SetWriteParameters ---------------------------------------------------------------

class WriteParametersTest : public MmcTest {
 protected:
  // A drive whose page 05h is `page` after a header (and an optional block descriptor).
  void DriveWithPage05(Bytes page, bool block_descriptor, std::uint32_t capabilities_page3 = 0x07,
                       std::uint8_t page4 = 0x80) {
    Bytes answer(8, 0);
    if (block_descriptor) {
      answer[7] = 8;
      answer.insert(answer.end(), 8, 0);
    }
    answer.insert(answer.end(), page.begin(), page.end());
    Bytes caps(8, 0);
    Bytes p2a(30, 0);
    p2a[0] = 0x2A;
    p2a[1] = 0x1C;
    p2a[3] = static_cast<std::uint8_t>(capabilities_page3);
    p2a[4] = page4;
    caps.insert(caps.end(), p2a.begin(), p2a.end());
    layer.respond = [answer, caps](SRB_ExecSCSICmd& r) {
      if (r.CDBByte[0] == 0x5A && (r.CDBByte[2] & 0x3F) == 0x05) ScriptedLayer::Answer(r, answer);
      else if (r.CDBByte[0] == 0x5A && (r.CDBByte[2] & 0x3F) == 0x2A) ScriptedLayer::Answer(r, caps);
      else if (r.CDBByte[0] == 0x55) r.SRB_Status = SS_COMP;
      else ScriptedLayer::CheckCondition(r, 5, 0x24, 0);
    };
    ASSERT_TRUE(device->ReadCapabilities());
    layer.seen.clear();
  }
  static Bytes DrivePage05() {
    Bytes p(52, 0);
    p[0] = 0x05;
    p[1] = 0x32;
    p[2] = 0x52;  // odd starting values that the algorithm must overwrite
    p[3] = 0x33;
    p[4] = 0x0A;
    p[5] = 0x10;
    p[8] = 0x20;
    p[10] = 0x11;
    p[15] = 150;
    return p;
  }
  Bytes SentPage() {
    const SeenCommand& select = layer.seen.back();
    EXPECT_EQ(select.cdb[0], 0x55);
    EXPECT_EQ(select.cdb[8], 60);
    EXPECT_EQ(select.data_out.size(), 60u);
    EXPECT_EQ(Hex(Bytes(select.data_out.begin(), select.data_out.begin() + 8)), "00 00 00 00 00 00 00 00");
    return Bytes(select.data_out.begin() + 8, select.data_out.end());
  }
};

TEST_F(WriteParametersTest, CDRWithUnderrunProtection) {
  DriveWithPage05(DrivePage05(), false);
  ASSERT_TRUE(device->Capabilities() & CAP_UNDERRUN_PROTECTION);
  ASSERT_TRUE(device->SetWriteParameters(false, true, DT_CDR));
  ASSERT_EQ(layer.seen.size(), 2u);
  EXPECT_EQ(Hex(layer.seen[0].cdb), "5A 00 05 00 00 00 00 02 00 00");  // 512 bytes, current values
  const Bytes page = SentPage();
  EXPECT_EQ(page[0], 0x05);
  EXPECT_EQ(page[1], 0x32);
  EXPECT_EQ(page[2], 0x41);
  EXPECT_EQ(page[3], 0xC4);
  EXPECT_EQ(page[4], 0x08);
  EXPECT_EQ(page[5], 0x00);
  EXPECT_EQ(page[8], 0x00);
  EXPECT_EQ(page[10], 0x00);
  EXPECT_EQ(page[15], 150);  // pause length kept
  EXPECT_EQ(device->WriteParametersPage()[2], 0x41);
}

TEST_F(WriteParametersTest, PageAfterABlockDescriptorIsFoundAtByte16) {
  DriveWithPage05(DrivePage05(), true);
  ASSERT_TRUE(device->SetWriteParameters(false, true, DT_CDR));
  EXPECT_EQ(SentPage()[3], 0xC4);
  EXPECT_EQ(SentPage()[15], 150);
}

TEST_F(WriteParametersTest, DVDRWithoutUnderrunProtection) {
  DriveWithPage05(DrivePage05(), false);
  ASSERT_TRUE(device->SetWriteParameters(false, false, DT_DVDRW_SEQ));
  const Bytes page = SentPage();
  EXPECT_EQ(page[2], 0x02);
  EXPECT_EQ(page[3], 0x05);
  EXPECT_EQ(page[4], 0x08);
  ASSERT_TRUE(device->SetWriteParameters(false, true, DT_DVDR));
  EXPECT_EQ(SentPage()[2], 0x42);
}

TEST_F(WriteParametersTest, DVDPlusRSessionAtOnceWithLinkSize) {
  DriveWithPage05(DrivePage05(), false);
  ASSERT_TRUE(device->SetWriteParameters(false, true, DT_DVDPR));
  const Bytes page = SentPage();
  EXPECT_EQ(page[2], 0x62);  // SAO with LS_V and BUFE
  EXPECT_EQ(page[5], 16);
}

TEST_F(WriteParametersTest, FinalizeTestWriteAndMissingCapabilities) {
  DriveWithPage05(DrivePage05(), false, /*page3*/ 0x03, /*page4*/ 0x00);  // no test write, no BUF
  ASSERT_FALSE(device->Capabilities() & CAP_UNDERRUN_PROTECTION);
  ASSERT_TRUE(device->SetWriteParameters(true, true, DT_CDR));
  EXPECT_EQ(SentPage()[2], 0x01);  // neither BUFE nor test write without the capability
  EXPECT_EQ(SentPage()[3], 0x04);  // test write keeps multi-session 00b
  device->SetFinalizeDisc(true);
  ASSERT_TRUE(device->SetWriteParameters(false, true, DT_CDR));
  EXPECT_EQ(SentPage()[3], 0x04);
}

TEST_F(WriteParametersTest, TestWriteBitWithTheCapability) {
  DriveWithPage05(DrivePage05(), false, 0x07, 0x80);
  ASSERT_TRUE(device->SetWriteParameters(true, true, DT_CDR));
  EXPECT_EQ(SentPage()[2], 0x51);
}

TEST_F(WriteParametersTest, DvdRamSendsNothingAndFailuresReport) {
  EXPECT_TRUE(device->SetWriteParameters(false, true, DT_DVDRAM));
  EXPECT_TRUE(layer.seen.empty());
  layer.respond = [](SRB_ExecSCSICmd& r) { ScriptedLayer::CheckCondition(r, 5, 0x24, 0); };
  EXPECT_FALSE(device->SetWriteParameters(false, true, DT_CDR));
  EXPECT_EQ(layer.seen.size(), 1u);  // no MODE SELECT after a failed MODE SENSE
}

// ---- WaitUntilReady -------------------------------------------------------------------

TEST_F(MmcTest, WaitUntilReadyGivesUpAfterThreeDiscInformationPolls) {
  layer.respond = [](SRB_ExecSCSICmd& r) { ScriptedLayer::CheckCondition(r, 2, 0x04, 0x08); };
  EXPECT_FALSE(device->WaitUntilReady(10000, 5000));
  int disc_info = 0;
  for (auto& s : layer.seen) disc_info += s.cdb[0] == 0x51;
  EXPECT_EQ(disc_info, 3);
  EXPECT_EQ(layer.seen.size(), 3u);
  EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{5000, 5000, 5000}));
}

TEST_F(MmcTest, WaitUntilReadyReturnsWhenTheDriveBecomesReady) {
  int polls = 0;
  layer.respond = [&](SRB_ExecSCSICmd& r) {
    if (r.CDBByte[0] == 0x51 && ++polls < 3) ScriptedLayer::CheckCondition(r, 2, 0x04, 0x01);
  };
  EXPECT_TRUE(device->WaitUntilReady(240000, 5000));
  EXPECT_EQ(polls, 3);
  ASSERT_EQ(layer.seen.size(), 4u);
  EXPECT_EQ(layer.seen[3].cdb[0], 0x00);  // the final TEST UNIT READY
}

TEST_F(MmcTest, WaitUntilReadyOnDvdRamUsesRequestSense) {
  DiscType = DT_DVDRAM;
  int senses = 0;
  layer.respond = [&](SRB_ExecSCSICmd& r) {
    if (r.CDBByte[0] == 0x03) {
      Bytes s(18, 0);
      s[0] = 0x70;
      if (++senses < 2) s[12] = 0x04;
      ScriptedLayer::Answer(r, s);
    }
  };
  EXPECT_TRUE(device->WaitUntilReady(10000, 500));
  EXPECT_EQ(senses, 2);
  for (auto& s : layer.seen) EXPECT_NE(s.cdb[0], 0x51);
}

TEST_F(MmcTest, WaitUntilReadyWithSlowReadyQuirkWaitsFirst) {
  SelectDrive("UJDA775");
  ASSERT_TRUE(device->SlowReadyQuirk());
  EXPECT_TRUE(device->WaitUntilReady(10000, 1000));
  ASSERT_GE(clock.sleeps.size(), 2u);
  EXPECT_EQ(clock.sleeps[0], 1500u);
  EXPECT_EQ(layer.seen[0].cdb[0], 0x00);
}

}  // namespace
}  // namespace orv::scsi::testing
