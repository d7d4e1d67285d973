// Layer choice, the pass-through emulation over a fake kernel, and ExecuteCommand.
#include <gtest/gtest.h>

#include <cstring>

#include "device_fixture.h"
#include "fakes.h"
#include "scsi/aspi_layer.h"
#include "scsi/scsi_device.h"
#include "scsi/spti.h"

namespace orv::scsi::testing {
namespace {

class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetKernelPort(&kernel);
    SetLibraryPort(&libraries);
    SetEventPort(&clock);
    ScriptedLayer::active = &layer;
  }
  void TearDown() override {
    (void)FreeASPI();
    DoneSPTI();
    SPTICloseAfterCommand = false;
    ScriptedLayer::active = nullptr;
    SetKernelPort(nullptr);
    SetLibraryPort(nullptr);
    SetEventPort(nullptr);
  }
  FakeKernel kernel;
  FakeLibraries libraries;
  VirtualClock clock;
  ScriptedLayer layer;
};

TEST_F(LayerTest, EmulationFirstWhenPreferredAndADriveAnswers) {
  kernel.drives[4] = MakeDrive(InquiryAnswer(5, "VENDOR", "DRIVE E"), ScsiAddress{1, 0, 0, 0});  // E:
  libraries.available = {"./libwnaspi32.so"};
  ASSERT_TRUE(InitASPI(true));
  EXPECT_EQ(ASPILayerName(), "PTASPI32");
  EXPECT_TRUE(libraries.attempts.empty());
  EXPECT_EQ(SPTIAdapterCount(), 2);
  EXPECT_EQ(SPTIGetSupportInfo(), 0x0102u);
  const auto& e = SPTIDriveTable()[4];
  EXPECT_TRUE(e.Present);
  EXPECT_EQ(e.HaId, 1);
  EXPECT_EQ(e.Target, 0);
  EXPECT_EQ(e.Lun, 0);
  EXPECT_EQ(e.Handle, -1);  // the probing handle is closed
  EXPECT_EQ(kernel.open_handles, 0);
}

TEST_F(LayerTest, LibrariesInOrderWhenEmulationIsNotPreferred) {
  kernel.drives[4] = MakeDrive(InquiryAnswer(5, "VENDOR", "DRIVE E"), ScsiAddress{1, 0, 0, 0});
  libraries.available = {"libasapi.so"};
  ASSERT_TRUE(InitASPI(false));
  EXPECT_EQ(ASPILayerName(), "ASAPI.DLL");
  EXPECT_EQ(libraries.attempts, (std::vector<std::string>{"./libwnaspi32.so", "libwnaspi32.so", "libasapi.so"}));
}

TEST_F(LayerTest, LibraryWinsWhenEmulationFindsNoDrive) {
  libraries.available = {"libwnaspi32.so"};
  ASSERT_TRUE(InitASPI(true));
  EXPECT_EQ(ASPILayerName(), "WNASPI32.DLL");
  EXPECT_EQ(libraries.attempts, (std::vector<std::string>{"./libwnaspi32.so", "libwnaspi32.so"}));
}

TEST_F(LayerTest, EmulationLastWhenNoLibraryLoads) {
  kernel.drives[3] = MakeDrive(InquiryAnswer(5, "V", "P"), ScsiAddress{0, 0, 2, 0});
  ASSERT_TRUE(InitASPI(false));
  EXPECT_EQ(ASPILayerName(), "PTASPI32");
}

TEST_F(LayerTest, NothingAnywhereLeavesNoLayer) {
  EXPECT_FALSE(InitASPI(true));
  EXPECT_FALSE(ASPILoaded());
  EXPECT_EQ(SendASPI32Command(nullptr), SS_NO_ASPI);
}

TEST_F(LayerTest, LibraryWithoutBothExportsDoesNotCount) {
  libraries.available = {"./libwnaspi32.so"};
  libraries.lacks_send_export = true;
  EXPECT_FALSE(InitASPI(false));
  EXPECT_FALSE(ASPILoaded());
  EXPECT_EQ(libraries.frees, 1);
}

TEST_F(LayerTest, ReinitBuildsTheDriveTableAfresh) {
  kernel.drives[4] = MakeDrive(InquiryAnswer(5, "V", "P"), ScsiAddress{0, 0, 1, 0});
  ASSERT_TRUE(InitASPI(true));
  kernel.drives[5] = MakeDrive(InquiryAnswer(5, "V", "Q"), ScsiAddress{0, 0, 2, 0});
  EXPECT_EQ(InitSPTI(), 0);  // already scanned: no rescan
  EXPECT_FALSE(SPTIDriveTable()[5].Present);
  EXPECT_TRUE(ReinitASPI());
  EXPECT_EQ(ASPILayerName(), "PTASPI32");
  EXPECT_TRUE(SPTIDriveTable()[5].Present);
}

TEST_F(LayerTest, DrivesWithoutAddressLandOnAnExtraAdapter) {
  kernel.drives[3] = MakeDrive(InquiryAnswer(5, "V", "D"), std::nullopt);                 // D:
  kernel.drives[4] = MakeDrive(InquiryAnswer(5, "V", "E"), ScsiAddress{1, 0, 3, 0});      // E: on port 1
  kernel.drives[5] = MakeDrive(InquiryAnswer(5, "V", "F"), std::nullopt);                 // F:
  ASSERT_EQ(InitSPTI(), 3);
  const auto& t = SPTIDriveTable();
  EXPECT_EQ(t[3].HaId, 2);
  EXPECT_EQ(t[3].Target, 0);
  EXPECT_EQ(t[3].Lun, 0);
  EXPECT_EQ(t[5].HaId, 2);
  EXPECT_EQ(t[5].Target, 1);
  EXPECT_EQ(t[5].Lun, 0);
  EXPECT_EQ(t[4].HaId, 1);
  EXPECT_EQ(SPTIAdapterCount(), 3);
}

TEST_F(LayerTest, ScanSkipsDrivesThatCannotBeOpenedOrAsked) {
  kernel.drives[3] = MakeDrive(InquiryAnswer(5, "V", "D"), ScsiAddress{});
  kernel.drives[3].open_fails = true;
  kernel.drives[4] = MakeDrive(InquiryAnswer(5, "V", "E"), ScsiAddress{});
  kernel.drives[4].inquiry_fails = true;
  EXPECT_EQ(InitSPTI(), 0);
  EXPECT_FALSE(SPTIDriveTable()[3].Present);
  EXPECT_FALSE(SPTIDriveTable()[4].Present);
  EXPECT_EQ(kernel.open_handles, 0);
  EXPECT_EQ(SPTIGetSupportInfo(), 0x0101u);  // no drive: one (empty) adapter
}

TEST_F(LayerTest, ScanInquiryCarriesTheFixedFields) {
  kernel.drives[2] = MakeDrive(InquiryAnswer(5, "V", "C"), ScsiAddress{});
  ASSERT_EQ(InitSPTI(), 1);
  ASSERT_EQ(kernel.commands.size(), 1u);
  const PassThrough& pt = kernel.commands[0];
  EXPECT_EQ(pt.cdb[0], 0x12);
  EXPECT_EQ(pt.cdb[4], 96);
  EXPECT_EQ(pt.cdb_length, 6);
  EXPECT_EQ(pt.data_length, 96u);
  EXPECT_EQ(pt.sense_capacity, 24);
  EXPECT_EQ(pt.timeout_seconds, 120u);
  EXPECT_EQ(pt.direction, DataDirection::In);
}

class EmulationTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    kernel.drives[4] = MakeDrive(InquiryAnswer(5, "VENDOR", "DRIVE E"), ScsiAddress{1, 0, 0, 0});
    ASSERT_TRUE(InitASPI(true));
    kernel.commands.clear();
  }
  SRB_ExecSCSICmd Exec(std::uint8_t ha, std::uint8_t target, std::uint8_t opcode, std::uint8_t flags,
                       std::uint8_t* buf, std::uint32_t len) {
    SRB_ExecSCSICmd r;
    std::memset(&r, 0, sizeof r);
    r.SRB_Cmd = SC_EXEC_SCSI_CMD;
    r.SRB_HaId = ha;
    r.SRB_Target = target;
    r.SRB_Flags = flags;
    r.SRB_BufPointer = buf;
    r.SRB_BufLen = len;
    r.SRB_CDBLen = 10;
    r.SRB_SenseLen = SENSE_LEN;
    r.CDBByte[0] = opcode;
    r.CDBByte[4] = 128;
    returned = SendASPI32Command(&r);
    return r;
  }
  std::uint32_t returned = 0;
};

TEST_F(EmulationTest, HostAdapterInquiryNamesTheAdapter) {
  SRB_HAInquiry q;
  std::memset(&q, 0, sizeof q);
  q.SRB_Cmd = SC_HA_INQUIRY;
  q.SRB_HaId = 1;
  EXPECT_EQ(SendASPI32Command(&q), SS_COMP);
  EXPECT_EQ(q.HA_Count, 2);
  EXPECT_EQ(q.HA_SCSI_ID, 7);
  EXPECT_EQ(std::memcmp(q.HA_Identifier, "SPTI 1\0\0\0\0\0\0\0\0\0\0", 16), 0);
  EXPECT_EQ(q.HA_Unique[0], 7);
  EXPECT_EQ(q.HA_Unique[3], 8);
  std::uint32_t max_transfer;
  std::memcpy(&max_transfer, q.HA_Unique + 4, 4);
  EXPECT_EQ(max_transfer, 0x00FF0000u);
  q.SRB_HaId = 2;
  EXPECT_EQ(SendASPI32Command(&q), SS_INVALID_HA);
}

TEST_F(EmulationTest, InquiryIsAnsweredFromTheTableWith36Bytes) {
  std::uint8_t buf[128];
  std::memset(buf, 0xEE, sizeof buf);
  auto r = Exec(1, 0, 0x12, 0x48, buf, 128);
  EXPECT_EQ(returned, SS_COMP);
  EXPECT_EQ(r.SRB_Status, SS_COMP);
  EXPECT_EQ(buf[0], 5);
  EXPECT_EQ(std::memcmp(buf + 16, "DRIVE E         ", 16), 0);
  EXPECT_EQ(buf[35], '0');  // last revision byte
  EXPECT_EQ(buf[36], 0xEE);  // exactly 36 bytes copied
  EXPECT_TRUE(kernel.commands.empty());
}

TEST_F(EmulationTest, UnknownAddressIsNoDevice) {
  auto r = Exec(1, 3, 0x00, 0x40, nullptr, 0);
  EXPECT_EQ(r.SRB_Status, SS_NO_DEVICE);
  SRB_GDEVBlock g;
  std::memset(&g, 0, sizeof g);
  g.SRB_Cmd = SC_GET_DEV_TYPE;
  g.SRB_HaId = 1;
  EXPECT_EQ(SendASPI32Command(&g), SS_COMP);
  EXPECT_EQ(g.SRB_DeviceType, 5);
  g.SRB_Target = 1;
  EXPECT_EQ(SendASPI32Command(&g), SS_NO_DEVICE);
  EXPECT_EQ(g.SRB_DeviceType, 0x1F);
}

TEST_F(EmulationTest, CommandsGoToTheDriveWithTheCallersBuffer) {
  std::uint8_t buf[56] = {};
  auto r = Exec(1, 0, 0x51, 0x48, buf, 56);
  EXPECT_EQ(r.SRB_Status, SS_COMP);
  ASSERT_EQ(kernel.commands.size(), 1u);
  EXPECT_EQ(kernel.commands[0].data, buf);
  EXPECT_EQ(kernel.commands[0].direction, DataDirection::In);
  EXPECT_EQ(kernel.commands[0].cdb_length, 10);
  EXPECT_EQ(kernel.commands[0].timeout_seconds, 120u);
  Exec(1, 0, 0x2A, 0x50, buf, 56);
  EXPECT_EQ(kernel.commands[1].direction, DataDirection::Out);
  Exec(1, 0, 0x00, 0x40, nullptr, 0);
  EXPECT_EQ(kernel.commands[2].direction, DataDirection::Unspecified);
  // One handle opened on the first command and kept.
  EXPECT_EQ(kernel.opened.size(), 2u);  // scan + first command
  EXPECT_EQ(SPTIDriveTable()[4].Handle, 104);
}

TEST_F(EmulationTest, HandleClosedAfterEachCommandWhenAsked) {
  SPTICloseAfterCommand = true;
  Exec(1, 0, 0x00, 0x40, nullptr, 0);
  Exec(1, 0, 0x00, 0x40, nullptr, 0);
  EXPECT_EQ(SPTIDriveTable()[4].Handle, -1);
  EXPECT_EQ(kernel.open_handles, 0);
  EXPECT_EQ(kernel.opened.size(), 3u);
}

TEST_F(EmulationTest, FailureCopiesSenseAndScsiStatus) {
  kernel.drives[4].scsi_status = 2;
  kernel.drives[4].sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
  auto r = Exec(1, 0, 0x5A, 0x48, nullptr, 0);
  EXPECT_EQ(r.SRB_Status, SS_ERR);
  EXPECT_EQ(r.SRB_TargStat, 2);
  EXPECT_EQ(r.SRB_HaStat, 0);
  EXPECT_EQ(r.SenseArea[2], 0x05);
  EXPECT_EQ(r.SenseArea[12], 0x24);
  EXPECT_EQ(r.SenseArea[14], 0);  // only the 14 bytes asked for
}

TEST_F(EmulationTest, ReserveLocksTheNodeAndNeverReachesTheDrive) {
  auto r = Exec(1, 0, 0x16, 0x40, nullptr, 0);
  EXPECT_EQ(r.SRB_Status, SS_COMP);
  EXPECT_EQ(SPTIDriveTable()[4].Lock, 904);
  EXPECT_EQ(kernel.held.size(), 1u);
  r = Exec(1, 0, 0x16, 0x40, nullptr, 0);  // held already: the same lock
  EXPECT_EQ(r.SRB_Status, SS_COMP);
  EXPECT_EQ(kernel.held.size(), 1u);
  r = Exec(1, 0, 0x17, 0x40, nullptr, 0);
  EXPECT_EQ(r.SRB_Status, SS_COMP);
  EXPECT_TRUE(kernel.held.empty());
  EXPECT_EQ(SPTIDriveTable()[4].Lock, -1);
  EXPECT_TRUE(kernel.commands.empty()) << "reservations are settled at the node";

  kernel.locked_elsewhere.insert(4);
  r = Exec(1, 0, 0x16, 0x40, nullptr, 0);
  EXPECT_EQ(r.SRB_Status, SS_ERR);
  EXPECT_EQ(r.SRB_TargStat, STATUS_RESCONF);
  EXPECT_TRUE(kernel.held.empty());
  kernel.locked_elsewhere.clear();
  Exec(1, 0, 0x16, 0x40, nullptr, 0);
  DoneSPTI();
  EXPECT_TRUE(kernel.held.empty()) << "the lock goes with the drive table";
}

TEST_F(EmulationTest, DiskInfoAndAbortAreNotAnswered) {
  SRB_GetDiskInfo d;
  std::memset(&d, 0, sizeof d);
  d.SRB_Cmd = SC_GET_DISK_INFO;
  d.SRB_HaId = 1;
  EXPECT_EQ(SendASPI32Command(&d), SS_ERR);
  EXPECT_EQ(d.SRB_Status, 0);
  SRB_Abort a;
  std::memset(&a, 0, sizeof a);
  a.SRB_Cmd = SC_ABORT_SRB;
  EXPECT_EQ(SendASPI32Command(&a), SS_ERR);
  EXPECT_EQ(a.SRB_Status, SS_ERR);
}

// ---- ExecuteCommand ------------------------------------------------------------------

TEST_F(DeviceTest, NoDeviceSelectedSendsNothing) {
  SRB_ExecSCSICmd r;
  std::memset(&r, 0, sizeof r);
  r.SRB_Flags = 0x40;
  EXPECT_EQ(device->ExecuteCommand(r, 1000), 0xE2);
  EXPECT_EQ(r.SRB_Status, 0);
  EXPECT_TRUE(layer.seen.empty());
  EXPECT_FALSE(device->TestUnitReady(1000));
  EXPECT_EQ(device->LastError(), "NO DEVICE");
  std::uint8_t buf[2048] = {};
  EXPECT_FALSE(device->Write10(0, 1, 0x50, sizeof buf, buf));  // nothing written is no success
  EXPECT_TRUE(layer.seen.empty());
}

TEST_F(DeviceTest, ExecuteAddressesTheRequestAndPutsTheLunIntoTheCdb) {
  auto answer = InquiryAnswer(5, "V", "P");
  layer.respond = [answer](SRB_ExecSCSICmd& r) {
    if (r.CDBByte[0] == 0x12) ScriptedLayer::Answer(r, answer);
    else ScriptedLayer::CheckCondition(r, 5, 0x20, 0);
  };
  device->SetDeviceID("1:2:3,?: V P");
  ASSERT_EQ(device->Lun(), 3);
  layer.seen.clear();
  clock = VirtualClock();
  layer.respond = nullptr;
  SRB_ExecSCSICmd r;
  std::memset(&r, 0, sizeof r);
  r.SRB_Flags = 0x40;
  r.SRB_CDBLen = 10;
  r.CDBByte[0] = 0x5B;
  r.CDBByte[1] = 0x01;
  EXPECT_EQ(device->ExecuteCommand(r, 1000), 1);
  ASSERT_EQ(layer.seen.size(), 1u);
  EXPECT_EQ(layer.seen[0].ha, 1);
  EXPECT_EQ(layer.seen[0].target, 2);
  EXPECT_EQ(layer.seen[0].lun, 3);
  EXPECT_EQ(layer.seen[0].senselen, 14);
  EXPECT_EQ(layer.seen[0].cdb[1], 0x61);  // lun 3 in bits 5-7, Immed kept
  EXPECT_TRUE(clock.waits.empty());  // completed at once: no wait
  // One completion event serves every command of the device and goes with it.
  const int created = clock.created;
  EXPECT_LE(created, 1);
  EXPECT_EQ(clock.closed, 0);
  EXPECT_EQ(device->ExecuteCommand(r, 1000), 1);
  EXPECT_EQ(layer.seen.size(), 2u);
  EXPECT_EQ(clock.created, created);
  EXPECT_EQ(clock.closed, 0);
  device.reset();
  EXPECT_EQ(clock.closed, 1);
}

TEST_F(DeviceTest, OpcodeFFIsNeverSent) {
  SelectDrive();
  SRB_ExecSCSICmd r;
  std::memset(&r, 0, sizeof r);
  r.SRB_Flags = 0x40;
  r.CDBByte[0] = 0xFF;
  EXPECT_EQ(device->ExecuteCommand(r, 1000), 1);
  EXPECT_EQ(r.SRB_Status, SS_COMP);
  EXPECT_TRUE(layer.seen.empty());
}

TEST_F(DeviceTest, NeverCompletingCommandIsAbortedAfterTheTenSecondFloor) {
  SelectDrive();
  layer.leave_pending = true;
  SRB_ExecSCSICmd r;
  std::memset(&r, 0, sizeof r);
  r.SRB_Flags = 0x40;
  r.SRB_CDBLen = 6;
  r.CDBByte[0] = 0x00;
  EXPECT_EQ(device->ExecuteCommand(r, 5000), 1);
  EXPECT_EQ(clock.waits, std::vector<std::uint32_t>{10000});
  EXPECT_EQ(clock.now_ms, 10000u);
  EXPECT_EQ(layer.aborts, 1);
  EXPECT_EQ(layer.abort_target, &r);
  EXPECT_EQ(r.SRB_Status, SS_ERR);
  EXPECT_EQ(r.SRB_HaStat, 9);
  EXPECT_EQ(device->LastError(), "");
  EXPECT_TRUE(lines.empty());  // a time-out writes no line
  // The aborted request's event is closed; the next command gets a fresh one.
  EXPECT_EQ(clock.closed, 1);
  const int created = clock.created;
  layer.leave_pending = false;
  EXPECT_TRUE(device->TestUnitReady(5000));
  EXPECT_EQ(clock.created, created + 1);
}

TEST_F(DeviceTest, LateSignalOfTheEarlierCommandDoesNotEndThisOne) {
  SelectDrive();
  layer.leave_pending = true;
  SRB_ExecSCSICmd r;
  std::memset(&r, 0, sizeof r);
  r.SRB_Flags = 0x40;
  r.SRB_CDBLen = 6;
  r.CDBByte[0] = 0x00;
  int wakes = 0;
  clock.completed = [&] {
    // The first wake-up is the earlier command's signal; then this request completes.
    if (++wakes == 2) r.SRB_Status = SS_COMP;
    return true;
  };
  EXPECT_EQ(device->ExecuteCommand(r, 5000), 1);
  EXPECT_EQ(wakes, 2);
  EXPECT_EQ(r.SRB_Status, SS_COMP);
  EXPECT_EQ(layer.aborts, 0);
  EXPECT_EQ(clock.waits, (std::vector<std::uint32_t>{10000, 10000}));
  // A request that stays pending past both wake-ups is still aborted.
  clock.completed = [] { return true; };
  clock.waits.clear();
  SRB_ExecSCSICmd s;
  std::memset(&s, 0, sizeof s);
  s.SRB_Flags = 0x40;
  s.SRB_CDBLen = 6;
  EXPECT_EQ(device->ExecuteCommand(s, 5000), 1);
  EXPECT_EQ(clock.waits.size(), 2u);
  EXPECT_EQ(layer.aborts, 1);
  EXPECT_EQ(s.SRB_HaStat, 9);
}

TEST_F(DeviceTest, LongerTimeoutsAreKept) {
  SelectDrive();
  layer.leave_pending = true;
  EXPECT_FALSE(device->CloseTrackSession(false, true));
  EXPECT_EQ(clock.waits, std::vector<std::uint32_t>{180000});
  layer.seen.clear();
  std::uint8_t buf[2048] = {};
  EXPECT_FALSE(device->Write10(16, 1, 0x50, sizeof buf, buf));  // timed out: status 4
}

}  // namespace
}  // namespace orv::scsi::testing
