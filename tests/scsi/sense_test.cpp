// Status and sense texts, the failure line and the exemptions.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "device_fixture.h"
#include "scsi/sense.h"

namespace orv::scsi::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SenseTable, HoldsTheListedPairsWithTheStandardWording) {
  EXPECT_EQ(AdditionalSenseTableSize(), 256);
  const struct {
    std::uint8_t asc, ascq;
    const char* text;
  } examples[] = {
      {0x04, 0x08, "LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS"},
      {0x0C, 0x09, "WRITE ERROR - LOSS OF STREAMING"},
      {0x21, 0x02, "INVALID ADDRESS FOR WRITE"},
      {0x24, 0x00, "INVALID FIELD IN CDB"},
      {0x28, 0x00, "NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED"},
      {0x30, 0x09, "CURRENT SESSION NOT FIXATED FOR APPEND"},
      {0x3A, 0x00, "MEDIUM NOT PRESENT"},
      {0x5D, 0xFF, "FAILURE PREDICTION THRESHOLD EXCEEDED (FALSE)"},
      {0x63, 0x01, "PACKET DOES NOT FIT IN AVAILABLE SPACE"},
      {0x72, 0x03, "SESSION FIXATION ERROR - INCOMPLETE TRACK IN SESSION"},
      {0x73, 0x02, "POWER CALIBRATION AREA IS FULL"},
      {0x04, 0x02, "LOGICAL UNIT NOT READY, INITIALIZING CMD. REQUIRED"},
      {0x08, 0x03, "LOGICAL UNIT COMMUNICATION CRC ERROR (ULTRA-DMA/32)"},
      {0x18, 0x01, "RECOVERED DATA WITH ERROR CORR. & RETRIES APPLIED"},
  };
  for (const auto& e : examples) {
    const char* t = AdditionalSenseText(e.asc, e.ascq);
    ASSERT_NE(t, nullptr) << int(e.asc) << "/" << int(e.ascq);
    EXPECT_STREQ(t, e.text);
  }
  // Every text in capitals; pairs outside the list have none.
  int found = 0;
  for (int asc = 0; asc < 256; ++asc) {
    for (int ascq = 0; ascq < 256; ++ascq) {
      const char* t = AdditionalSenseText(static_cast<std::uint8_t>(asc), static_cast<std::uint8_t>(ascq));
      if (t == nullptr) continue;
      ++found;
      for (const char* c = t; *c; ++c) EXPECT_FALSE(*c >= 'a' && *c <= 'z') << t;
    }
  }
  EXPECT_EQ(found, 256);
  EXPECT_EQ(AdditionalSenseText(0x57, 0x03), nullptr);
  EXPECT_EQ(AdditionalSenseText(0x04, 0x05), nullptr);
  EXPECT_EQ(AdditionalSenseText(0x30, 0x0A), nullptr);
  EXPECT_NE(AdditionalSenseText(0x30, 0x10), nullptr);
  EXPECT_NE(AdditionalSenseText(0x3F, 0x11), nullptr);
}

TEST(StatusText, ByStatusHostStatusAndTargetStatus) {
  bool busy = true;
  EXPECT_EQ(GetStatusText(1, 0, 0, busy), "");
  EXPECT_FALSE(busy);
  EXPECT_EQ(GetStatusText(2, 0, 0, busy), "OPERATION ABORTED BY USER");
  EXPECT_EQ(GetStatusText(0x81, 0, 0, busy), "INVALID HOST ADAPTER");
  EXPECT_EQ(GetStatusText(0xE6, 0, 0, busy), "BUFFER TOO BIG");
  EXPECT_EQ(GetStatusText(0x77, 0, 0, busy), "UNKNOWN");
  EXPECT_EQ(GetStatusText(4, 0x09, 0, busy), "COMMAND TIMEOUT");
  EXPECT_EQ(GetStatusText(4, 0x11, 2, busy), "SELECTION TIMEOUT");
  EXPECT_EQ(GetStatusText(4, 0x14, 2, busy), "UNKNOWN");
  EXPECT_EQ(GetStatusText(4, 0, 0x18, busy), "TARGET RESERVATION CONFLICT");
  EXPECT_FALSE(busy);
  EXPECT_EQ(GetStatusText(4, 0, 0x08, busy), "TARGET BUSY");
  EXPECT_TRUE(busy);
}

TEST(OpcodeNamesTable, NamesPaddedToTwentyTwoAndHexOtherwise) {
  const auto& names = OpcodeNames();
  EXPECT_EQ(names[0x2A], "WRITE (10)            ");
  EXPECT_EQ(names[0x2A].size(), 22u);
  EXPECT_EQ(names[0x52], "READ TRACK INFORMATION");  // exactly 22: kept whole
  EXPECT_EQ(names[0x4A], "GET EVENT/STATUS NOTIF");
  EXPECT_EQ(names[0x02], "02");
  EXPECT_EQ(names[0xFF], "FF");
  int named = 0;
  for (const auto& n : names) named += n.size() == 22;
  EXPECT_EQ(named, 51);
}

TEST(DescriptorSense, MapsToTheFixedFields) {
  std::uint8_t s[SENSE_AREA_LEN] = {0x72, 0x03, 0x0C, 0x00, 0, 0, 0, 20,
                                    // information descriptor: valid, LBA 0x0000000000012345
                                    0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0x00, 0x01, 0x23, 0x45,
                                    // stream commands descriptor with ILI
                                    0x04, 0x02, 0x00, 0x20};
  NormalizeSense(s, SENSE_AREA_LEN);
  EXPECT_EQ(s[0], 0xF0);
  EXPECT_EQ(s[2], 0x23);
  EXPECT_EQ(s[3], 0x00);
  EXPECT_EQ(s[6], 0x45);
  EXPECT_EQ(s[7], 10);
  EXPECT_EQ(s[12], 0x0C);
  EXPECT_EQ(s[13], 0x00);
  // Fixed-format data is left as it is.
  std::uint8_t fixed[SENSE_AREA_LEN] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
  std::uint8_t copy[SENSE_AREA_LEN];
  std::memcpy(copy, fixed, sizeof copy);
  NormalizeSense(fixed, SENSE_AREA_LEN);
  EXPECT_EQ(std::memcmp(fixed, copy, sizeof copy), 0);
}

// ---- LastError through the device -------------------------------------------------------

class DecodeTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    SelectDrive();
  }
  // Fails the next command with the given statuses and sense bytes.
  void FailWith(std::uint8_t status, std::uint8_t hastat, std::uint8_t targstat, Bytes sense) {
    layer.respond = [=](SRB_ExecSCSICmd& r) {
      r.SRB_Status = status;
      r.SRB_HaStat = hastat;
      r.SRB_TargStat = targstat;
      if (!sense.empty()) std::memcpy(r.SenseArea, sense.data(), sense.size());
    };
  }
  static Bytes Sense(std::uint8_t code, std::uint8_t byte2, std::uint8_t length, std::uint8_t asc, std::uint8_t ascq) {
    Bytes s(18, 0);
    s[0] = code;
    s[2] = byte2;
    s[7] = length;
    s[12] = asc;
    s[13] = ascq;
    return s;
  }
};

TEST_F(DecodeTest, SenseExamples) {
  FailWith(4, 0, 2, Sense(0x70, 5, 10, 0x24, 0x00));
  EXPECT_FALSE(device->SendOPCInformation());
  EXPECT_EQ(device->LastError(), "ILLEGAL REQUEST (INVALID FIELD IN CDB)");
  EXPECT_EQ(device->LastSense()[12], 0x24);

  FailWith(4, 0, 2, Sense(0x70, 5, 10, 0x57, 0x03));
  EXPECT_FALSE(device->SendOPCInformation());
  EXPECT_EQ(device->LastError(), "ILLEGAL REQUEST (87,3)");

  FailWith(4, 0, 2, Sense(0x70, 0x20, 10, 0x00, 0x00));
  EXPECT_FALSE(device->SendOPCInformation());
  EXPECT_EQ(device->LastError(), "ILLEGAL LENGTH (NO ADDITIONAL SENSE INFORMATION)");

  FailWith(4, 0, 2, Sense(0x71, 0x80, 0, 0x00, 0x00));
  EXPECT_FALSE(device->SendOPCInformation());
  EXPECT_EQ(device->LastError(), "FILEMARK");

  FailWith(4, 0x11, 0, Sense(0x70, 5, 0, 0x24, 0x00));
  EXPECT_FALSE(device->SendOPCInformation());
  EXPECT_EQ(device->LastError(), "SELECTION TIMEOUT");

  FailWith(4, 0x11, 0, Sense(0x70, 5, 10, 0x24, 0x00));
  EXPECT_FALSE(device->SendOPCInformation());
  EXPECT_EQ(device->LastError(), "SELECTION TIMEOUT (INVALID FIELD IN CDB)");

  FailWith(4, 0, 2, Sense(0x00, 5, 0, 0x00, 0x00));
  EXPECT_FALSE(device->SendOPCInformation());
  EXPECT_EQ(device->LastError(), "");  // response code 0, no additional length

  FailWith(4, 0, 2, Sense(0x12, 5, 0, 0x00, 0x00));
  EXPECT_FALSE(device->SendOPCInformation());
  EXPECT_EQ(device->LastError(), "UNKNOWN");

  FailWith(4, 0, 2, Sense(0x70, 0x09, 0, 0, 0));
  EXPECT_FALSE(device->SendOPCInformation());
  EXPECT_EQ(device->LastError(), "CHECK CONDITION");

  std::vector<std::uint8_t> d(18, 0);
  d[0] = 0x72;
  d[1] = 0x03;
  d[2] = 0x0C;
  d[3] = 0x09;
  FailWith(4, 0, 2, d);
  EXPECT_FALSE(device->SendOPCInformation());
  EXPECT_EQ(device->LastError(), "MEDIUM ERROR (WRITE ERROR - LOSS OF STREAMING)");
  EXPECT_EQ(device->LastSense()[12], 0x0C);
  EXPECT_EQ(device->LastSense()[13], 0x09);
}

TEST_F(DecodeTest, TargetBusyIsSetAndClearedByTheNextCommand) {
  FailWith(4, 0, 8, Bytes{});
  EXPECT_FALSE(device->SendOPCInformation());
  EXPECT_EQ(device->LastError(), "TARGET BUSY");
  EXPECT_TRUE(device->TargetBusy());
  layer.respond = nullptr;
  EXPECT_TRUE(device->SendOPCInformation());
  EXPECT_FALSE(device->TargetBusy());
  EXPECT_EQ(device->LastError(), "");
  for (int i = 0; i < SENSE_AREA_LEN; ++i) EXPECT_EQ(device->LastSense()[i], 0);
}

TEST_F(DecodeTest, FailureLineByteForByte) {
  FailWith(4, 0, 2, Sense(0x70, 5, 10, 0x24, 0x00));
  EXPECT_FALSE(device->SendOPCInformation());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(types[0], 0);
  EXPECT_EQ(lines[0],
            "<<< SEND OPC INFORMATION   (54) {40|0A} - 0:0:0 <04> [0000] 01 00 00 00 00 00 00 00 00 00 00 00 00 "
            "00 00  | = 00 02 70 05 ASC:24,ASQ:00 ILLEGAL REQUEST (INVALID FIELD IN CDB)");
}

TEST_F(DecodeTest, FailingWriteLogsAtMost257DataBytes) {
  FailWith(4, 0, 2, Sense(0x70, 3, 10, 0x0C, 0x00));
  std::vector<std::uint8_t> data(65536);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  EXPECT_FALSE(device->Write10(0x1234, 32, 0x50, 65536, data.data()));
  EXPECT_EQ(device->LastError(), "MEDIUM ERROR (WRITE ERROR)");
  ASSERT_EQ(lines.size(), 1u);
  const std::string& line = lines[0];
  const std::string head = "<<< WRITE (10)             (2A) {50|0A} - 0:0:0 <04> [10000] 00 00 00 12 34 00 00 20 00 00 00 00 00 00 00  | ";
  ASSERT_EQ(line.substr(0, head.size()), head);
  const auto tail = line.find("= 00 02 70 03 ASC:0C,ASQ:00 MEDIUM ERROR (WRITE ERROR)");
  ASSERT_NE(tail, std::string::npos);
  const std::string data_part = line.substr(head.size(), tail - head.size());
  EXPECT_EQ(data_part.size(), 257u * 3);
  EXPECT_EQ(data_part.substr(0, 12), "00 01 02 03 ");
  EXPECT_EQ(data_part.substr(data_part.size() - 6), "FF 00 ");  // bytes 255 and 256
}

TEST_F(DecodeTest, ExemptCommandsWriteNoLine) {
  FailWith(4, 0, 2, Sense(0x70, 2, 10, 0x3A, 0x00));
  EXPECT_FALSE(device->TestUnitReady(5000));
  EXPECT_FALSE(device->ReadTrackInformation(1));
  EXPECT_FALSE(device->SetCDSpeed(0, 0));
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(device->LastError(), "NOT READY (MEDIUM NOT PRESENT)");
  FailWith(4, 0, 2, Sense(0x70, 2, 10, 0x04, 0x08));
  std::uint8_t buf[2048] = {};
  EXPECT_FALSE(device->Write10(0, 1, 0x50, sizeof buf, buf));
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(device->LastError(), "NOT READY (LOGICAL UNIT NOT READY, LONG WRITE IN PROGRESS)");
}

TEST_F(DecodeTest, DebugWindowGetsTheLineToo) {
  struct Window : TDebugWindow {
    std::vector<std::string> text;
    void AddLine(const std::string& l) override { text.push_back(l); }
  } window;
  device->SetDebugWindow(&window);
  device->DoDebugMessage(">>> HELLO", 3);
  ASSERT_EQ(window.text.size(), 1u);
  EXPECT_EQ(window.text[0], ">>> HELLO");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(types[0], 3);
  device->SetDebugWindow(nullptr);
}

}  // namespace
}  // namespace orv::scsi::testing
