// The Linux kernel port (platform_linux.cpp) and the pass-through layer above it (spti.cpp,
// discovery.cpp) against emulated /dev/srN nodes (emulated_sr.h): discovery, the sg_io_hdr
// the port fills, sense, status, host and driver errors, short transfers, time-outs, and whole
// burns with an import, read back through the node.
#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "burner/disc_burner.h"
#include "emulated_sr.h"
#include "scsi/aspi_layer.h"
#include "scsi/aspi_types.h"
#include "scsi/platform.h"
#include "scsi/spti.h"
#include "test_env.h"

namespace fs = std::filesystem;
using namespace orv;
using namespace orv::sgio_test;

namespace {

// Real completion events; the polling loops' sleeps cut to 1 ms.
class ShortSleeps : public scsi::EventPort {
 public:
  explicit ShortSleeps(scsi::EventPort& real) : real_(real) {}
  void* CreateEvent() override { return real_.CreateEvent(); }
  void ResetEvent(void* e) override { real_.ResetEvent(e); }
  bool WaitForEvent(void* e, std::uint32_t ms) override { return real_.WaitForEvent(e, ms); }
  void CloseEvent(void* e) override { real_.CloseEvent(e); }
  void Sleep(std::uint32_t ms) override { real_.Sleep(std::min<std::uint32_t>(ms, 1)); }

 private:
  scsi::EventPort& real_;
};

class SgIo : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("ORVAKELL_VRECORDER");
    ClearDrives();
    scsi::SetKernelPort(nullptr);  // the real port, over the emulated nodes
    real_events_ = &scsi::Events();
    sleeps_ = std::make_unique<ShortSleeps>(*real_events_);
    scsi::SetEventPort(sleeps_.get());
  }
  void TearDown() override {
    burner_.reset();
    scsi::DoneSPTI();
    (void)scsi::FreeASPI();
    EXPECT_EQ(OpenHandles(), 0) << "a drive node was left open";
    ClearDrives();
    scsi::SetEventPort(nullptr);
  }

  std::string Image(int node) const { return (env_.work() / ("sr" + std::to_string(node) + ".iso")).string(); }
  void Drive(int node, const std::string& keys) { AddDrive(node, "\"" + Image(node) + "\" " + keys); }

  // A command straight through the port on an open node.
  scsi::PassThrough Command(std::initializer_list<std::uint8_t> cdb, scsi::DataDirection direction,
                            std::uint8_t* data, std::uint32_t length, std::uint8_t* sense = nullptr,
                            std::uint8_t sense_capacity = 0) {
    scsi::PassThrough c;
    c.direction = direction;
    std::copy(cdb.begin(), cdb.end(), c.cdb);
    c.cdb_length = static_cast<std::uint8_t>(cdb.size());
    c.data = data;
    c.data_length = length;
    c.sense = sense;
    c.sense_capacity = sense_capacity;
    return c;
  }

  // An execute request through the layer InitASPI chose.
  scsi::SRB_ExecSCSICmd Exec(std::uint8_t ha, std::uint8_t target, std::initializer_list<std::uint8_t> cdb,
                             std::uint8_t flags, std::uint8_t* data, std::uint32_t length) {
    scsi::SRB_ExecSCSICmd r{};
    r.SRB_Cmd = scsi::SC_EXEC_SCSI_CMD;
    r.SRB_HaId = ha;
    r.SRB_Target = target;
    r.SRB_Flags = flags;
    r.SRB_BufPointer = data;
    r.SRB_BufLen = length;
    r.SRB_SenseLen = 18;
    r.SRB_CDBLen = static_cast<std::uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), r.CDBByte);
    (void)scsi::SendASPI32Command(&r);
    return r;
  }

  std::string Source(const std::string& name, size_t bytes, unsigned seed) {
    std::string data(bytes, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (auto& c : data) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 16);
    }
    const fs::path p = env_.work() / "src" / name;
    fs::create_directories(p.parent_path());
    orv::test::write_file(p, data);
    return p.string();
  }

  void NewBurner() {
    burner_.reset();
    burner_ = std::make_unique<burner::TDiscBurner>();
    ASSERT_FALSE(burner_->Devices().empty());
    burner_->SetDeviceID(burner_->Devices().front());
    burner_->OnWriteDone = [this](burner::TDiscBurner*, const std::string& e) {
      std::lock_guard<std::mutex> g(lock_);
      error_ = e;
      done_ = true;
      done_changed_.notify_all();
    };
    burner_->ReplaceFile = true;
    burner_->ResetFileTree(65535, 8191);
  }

  // Starts the burn and waits (bounded) for its end; the error text, empty when written.
  std::string Burn() {
    {
      std::lock_guard<std::mutex> g(lock_);
      done_ = false;
      error_.clear();
    }
    EXPECT_TRUE(burner_->StartBurn());
    std::unique_lock<std::mutex> g(lock_);
    EXPECT_TRUE(done_changed_.wait_for(g, std::chrono::seconds(120), [this] { return done_; })) << "no end";
    g.unlock();
    burner_->WaitForBurn();
    return error_;
  }

  static size_t Count(const std::vector<SgCall>& calls, std::uint8_t opcode) {
    return static_cast<size_t>(
        std::count_if(calls.begin(), calls.end(), [&](const SgCall& c) { return !c.cdb.empty() && c.cdb[0] == opcode; }));
  }

  orv::test::TestEnv env_;
  std::unique_ptr<burner::TDiscBurner> burner_;

 private:
  scsi::EventPort* real_events_ = nullptr;
  std::unique_ptr<ShortSleeps> sleeps_;
  std::mutex lock_;
  std::condition_variable done_changed_;
  bool done_ = false;
  std::string error_;
};

TEST_F(SgIo, DiscoveryFindsTheNodesWithTheirAddressesAndClosesEveryHandle) {
  Drive(0, "CD-R address=1:2:0 vendor=ORVTEST product=\"SGIO CDR\"");
  Drive(2, "DVD+R product=\"SGIO DVD\"");  // answers no SCSI address
  scsi::KernelPort& k = scsi::Kernel();
  EXPECT_FALSE(k.IsCDDrive(1));  // letters A and B never name a drive
  EXPECT_TRUE(k.IsCDDrive(2));   // C: /dev/sr0
  EXPECT_FALSE(k.IsCDDrive(3));  // /dev/sr1 does not exist
  EXPECT_TRUE(k.IsCDDrive(4));   // /dev/sr2
  EXPECT_EQ(k.OpenDrive(3), -1);

  ASSERT_TRUE(scsi::InitASPI(true));
  EXPECT_EQ(scsi::ASPILayerName(), scsi::kLayerEmulation);
  const auto& table = scsi::SPTIDriveTable();
  ASSERT_TRUE(table[2].Present);
  EXPECT_EQ(table[2].HaId, 1);
  EXPECT_EQ(table[2].Target, 2);
  EXPECT_EQ(table[2].Lun, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(table[2].InquiryData.data()) + 16, 8), "SGIO CDR");
  ASSERT_TRUE(table[4].Present);
  EXPECT_EQ(table[4].HaId, 2);  // a drive without an address gets an adapter after the others
  EXPECT_EQ(table[4].Lun, 0);
  EXPECT_FALSE(table[3].Present);
  EXPECT_EQ(scsi::SPTIAdapterCount(), 3);
  EXPECT_EQ(Opens(), 2);
  EXPECT_EQ(OpenHandles(), 0) << "the scan closes every node it opened";

  // The scan's INQUIRY, as the kernel received it.
  const auto calls = Calls(0);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].interface_id, 'S');
  EXPECT_EQ(calls[0].dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(calls[0].cmd_len, 6u);
  EXPECT_EQ(calls[0].cdb, (std::vector<std::uint8_t>{0x12, 0, 0, 0, 96, 0}));
  EXPECT_EQ(calls[0].dxfer_len, 96u);
  EXPECT_EQ(calls[0].mx_sb_len, 24u);
  EXPECT_EQ(calls[0].timeout_ms, 120000u);

  // The device list of a burner names both, with their inquiry texts.
  NewBurner();
  ASSERT_EQ(burner_->Devices().size(), 2u);
  std::string all;
  for (const auto& d : burner_->Devices()) all += d + "\n";
  EXPECT_NE(all.find("SGIO CDR"), std::string::npos) << all;
  EXPECT_NE(all.find("SGIO DVD"), std::string::npos) << all;
}

TEST_F(SgIo, DirectionsLengthsAndTimeOutsReachTheKernelAsAsked) {
  Drive(0, "CD-R address=0:1:0");
  scsi::KernelPort& k = scsi::Kernel();
  const int fd = k.OpenDrive(2);
  ASSERT_GE(fd, 0);
  std::uint8_t data[4096] = {};
  std::uint8_t sense[32] = {};

  auto tur = Command({0x00, 0, 0, 0, 0, 0}, scsi::DataDirection::In, data, 0, sense, 32);
  EXPECT_TRUE(k.SendPassThrough(fd, tur));
  auto mode = Command({0x5A, 0, 0x2A, 0, 0, 0, 0, 0x01, 0x00, 0}, scsi::DataDirection::In, data, 256, sense, 32);
  mode.timeout_seconds = 30;
  EXPECT_TRUE(k.SendPassThrough(fd, mode));
  EXPECT_EQ(mode.scsi_status, 0);
  EXPECT_EQ(mode.data_transferred, 256u);
  auto write = Command({0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, scsi::DataDirection::Out, data, 2048, sense, 32);
  (void)k.SendPassThrough(fd, write);  // a blank disc may refuse it; what the kernel saw counts
  auto unspecified = Command({0x1B, 0, 0, 0, 0, 0}, scsi::DataDirection::Unspecified, nullptr, 0);
  (void)k.SendPassThrough(fd, unspecified);
  k.CloseDrive(fd);

  const auto calls = Calls(0);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].dxfer_direction, SG_DXFER_NONE);  // no data: no direction, whatever was asked
  EXPECT_EQ(calls[0].dxfer_len, 0u);
  EXPECT_EQ(calls[0].mx_sb_len, 32u);
  EXPECT_EQ(calls[1].dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(calls[1].cmd_len, 10u);
  EXPECT_EQ(calls[1].dxfer_len, 256u);
  EXPECT_EQ(calls[1].timeout_ms, 30000u);
  EXPECT_EQ(calls[2].dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(calls[2].dxfer_len, 2048u);
  EXPECT_EQ(calls[2].cdb[0], 0x2A);
  EXPECT_EQ(calls[3].dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(calls[3].mx_sb_len, 0u);
  EXPECT_EQ(calls[3].timeout_ms, 120000u);
}

TEST_F(SgIo, SenseIsCopiedAndCutToTheCallersCapacity) {
  Drive(0, "CD-R address=0:1:0");
  scsi::KernelPort& k = scsi::Kernel();
  const int fd = k.OpenDrive(2);
  ASSERT_GE(fd, 0);
  std::uint8_t sense[32];
  std::memset(sense, 0xCC, sizeof sense);
  auto bad = Command({0xEE, 0, 0, 0, 0, 0}, scsi::DataDirection::Unspecified, nullptr, 0, sense, 32);
  // A CHECK CONDITION is an answer of the drive: the call succeeded, the command did not.
  EXPECT_TRUE(k.SendPassThrough(fd, bad));
  EXPECT_EQ(bad.scsi_status, scsi::STATUS_CHKCOND);
  EXPECT_EQ(bad.sense_length, 18);
  EXPECT_EQ(sense[0], 0x70);
  EXPECT_EQ(sense[2] & 0x0F, 5);  // ILLEGAL REQUEST
  EXPECT_EQ(sense[12], 0x20);     // INVALID COMMAND OPERATION CODE
  EXPECT_EQ(sense[18], 0xCC);     // nothing past the sense the drive gave

  std::memset(sense, 0xCC, sizeof sense);
  auto cut = Command({0xEE, 0, 0, 0, 0, 0}, scsi::DataDirection::Unspecified, nullptr, 0, sense, 8);
  EXPECT_TRUE(k.SendPassThrough(fd, cut));
  EXPECT_EQ(cut.sense_length, 8);
  EXPECT_EQ(sense[2] & 0x0F, 5);
  EXPECT_EQ(sense[8], 0xCC) << "sense beyond the capacity was written";
  k.CloseDrive(fd);
  const auto calls = Calls(0);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].driver_status, 0x08);  // DRIVER_SENSE
  EXPECT_EQ(calls[1].sb_len_wr, 8u);

  // Through the pass-through layer the sense lands in the request's sense area.
  ASSERT_TRUE(scsi::InitASPI(true));
  const auto r = Exec(0, 1, {0xEE, 0, 0, 0, 0, 0}, 0, nullptr, 0);
  EXPECT_EQ(r.SRB_Status, scsi::SS_ERR);
  EXPECT_EQ(r.SRB_TargStat, scsi::STATUS_CHKCOND);
  EXPECT_EQ(r.SenseArea[2] & 0x0F, 5);
  EXPECT_EQ(r.SenseArea[12], 0x20);
}

TEST_F(SgIo, TransportErrorsFailTheCallAndAnInterruptedCallIsRepeated) {
  Drive(0, "CD-R address=0:1:0 busy=1");
  scsi::KernelPort& k = scsi::Kernel();
  const int fd = k.OpenDrive(2);
  ASSERT_GE(fd, 0);
  std::uint8_t data[96] = {};
  std::uint8_t sense[32] = {};
  auto inquiry = [&] { return Command({0x12, 0, 0, 0, 96, 0}, scsi::DataDirection::In, data, 96, sense, 32); };

  // BUSY is the drive's status, not a transport failure.
  auto tur = Command({0x00, 0, 0, 0, 0, 0}, scsi::DataDirection::Unspecified, nullptr, 0, sense, 32);
  EXPECT_TRUE(k.SendPassThrough(fd, tur));
  EXPECT_EQ(tur.scsi_status, scsi::STATUS_BUSY);
  EXPECT_EQ(tur.sense_length, 0);

  const std::map<std::string, SgFault> failures = {
      {"ioctl EIO", {SgFault::Kind::Errno, EIO}},
      {"DID_NO_CONNECT", {SgFault::Kind::HostStatus, 0x01}},
      {"DID_BUS_BUSY", {SgFault::Kind::HostStatus, 0x02}},
      {"DID_TIME_OUT", {SgFault::Kind::HostStatus, 0x03}},
      {"DRIVER_ERROR", {SgFault::Kind::DriverStatus, 0x04}},
      {"DRIVER_TIMEOUT with sense", {SgFault::Kind::DriverStatus, 0x06 | 0x08}},
  };
  for (const auto& [name, fault] : failures) {
    QueueFault(0, fault);
    auto c = inquiry();
    EXPECT_FALSE(k.SendPassThrough(fd, c)) << name;
    auto again = inquiry();
    EXPECT_TRUE(k.SendPassThrough(fd, again)) << name << ": the next call is not affected";
  }

  ForgetCalls();
  QueueFault(0, {SgFault::Kind::Errno, EINTR});
  auto interrupted = inquiry();
  EXPECT_TRUE(k.SendPassThrough(fd, interrupted));
  EXPECT_EQ(Calls(0).size(), 2u) << "EINTR: the same call once more";
  k.CloseDrive(fd);

  // Through the pass-through layer a failed call is an error of the request, with no sense.
  ASSERT_TRUE(scsi::InitASPI(true));
  QueueFault(0, {SgFault::Kind::HostStatus, 0x01});
  std::uint8_t buffer[8] = {};
  const auto r = Exec(0, 1, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, scsi::SRB_DIR_IN, buffer, 8);
  EXPECT_EQ(r.SRB_Status, scsi::SS_ERR);
  EXPECT_EQ(r.SenseArea[2] & 0x0F, 0);
}

TEST_F(SgIo, ShortTransfersAreCountedAndAShortWriteFails) {
  Drive(0, "CD-R address=0:1:0");
  scsi::KernelPort& k = scsi::Kernel();
  const int fd = k.OpenDrive(2);
  ASSERT_GE(fd, 0);
  std::uint8_t data[2048] = {};
  std::uint8_t sense[32] = {};
  auto full = Command({0x12, 0, 0, 0, 96, 0}, scsi::DataDirection::In, data, 96, sense, 32);
  EXPECT_TRUE(k.SendPassThrough(fd, full));
  EXPECT_EQ(full.data_transferred, 96u);

  QueueFault(0, {SgFault::Kind::ShortTransfer, 36});
  auto short_read = Command({0x12, 0, 0, 0, 96, 0}, scsi::DataDirection::In, data, 96, sense, 32);
  EXPECT_TRUE(k.SendPassThrough(fd, short_read)) << "a read may end early: allocation lengths are upper bounds";
  EXPECT_EQ(short_read.data_transferred, 36u);

  QueueFault(0, {SgFault::Kind::ShortTransfer, 1024});
  auto short_write = Command({0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, scsi::DataDirection::Out, data, 2048, sense, 32);
  EXPECT_FALSE(k.SendPassThrough(fd, short_write)) << "half a sector written counts as written";
  EXPECT_EQ(short_write.data_transferred, 1024u);
  k.CloseDrive(fd);
  const auto calls = Calls(0);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1].resid, 60);
  EXPECT_EQ(calls[2].resid, 1024);
}

TEST_F(SgIo, ACommandThatNeverEndsTimesOutWithTheTimeItWasGiven) {
  Drive(0, "CD-R address=0:1:0 hang=35");
  scsi::KernelPort& k = scsi::Kernel();
  const int fd = k.OpenDrive(2);
  ASSERT_GE(fd, 0);
  auto sync = Command({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, scsi::DataDirection::Unspecified, nullptr, 0);
  sync.timeout_seconds = 7;
  EXPECT_FALSE(k.SendPassThrough(fd, sync));
  auto again = Command({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, scsi::DataDirection::Unspecified, nullptr, 0);
  EXPECT_TRUE(k.SendPassThrough(fd, again)) << "hang_count=1: the second one completes";
  QueueFault(0, {SgFault::Kind::TimeOut, 0});
  std::uint8_t data[96] = {};
  auto read = Command({0x12, 0, 0, 0, 96, 0}, scsi::DataDirection::In, data, 96);
  EXPECT_FALSE(k.SendPassThrough(fd, read));
  EXPECT_EQ(read.data_transferred, 0u);
  k.CloseDrive(fd);
  const auto calls = Calls(0);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].timeout_ms, 7000u);
  EXPECT_EQ(calls[0].host_status, 0x03);  // DID_TIME_OUT
  EXPECT_EQ(calls[1].host_status, 0);
}

// Two burns on a CD-R and a DVD+R, the second importing the first, through the pass-through
// layer and the kernel port only; then the disc is read back through the node: the import
// lists every file, and each file's sectors hold its bytes.
class SgIoBurn : public SgIo, public ::testing::WithParamInterface<const char*> {};

TEST_P(SgIoBurn, BurnImportAndReadBackThroughTheNode) {
  Drive(0, std::string(GetParam()) + " address=0:1:0");
  ASSERT_TRUE(scsi::InitASPI(true));
  ASSERT_EQ(scsi::ASPILayerName(), scsi::kLayerEmulation);
  std::map<std::string, std::string> files;  // name -> source
  uint32_t last_start = 0;
  for (int k = 1; k <= 2; ++k) {
    NewBurner();
    const std::string db = Source("s" + std::to_string(k) + "/Sales.Dat", 40000 + 9000 * k, 10 + k);
    const std::string only = Source("s" + std::to_string(k) + "/only" + std::to_string(k) + ".bin", 5000 * k, 20 + k);
    ASSERT_EQ(burner_->AddFile("\\", db, false), 1);
    ASSERT_EQ(burner_->AddFile("\\", only, false), 1);
    burner_->SessionToImport = k == 1 ? 0 : 255;
    burner_->PrepareImage(false, nullptr);
    if (k == 2) {
      EXPECT_GT(burner_->SessionStart, last_start);
    }
    last_start = burner_->SessionStart;
    ASSERT_EQ(Burn(), "") << "burn " << k;
    files["Sales.Dat"] = db;
    files[fs::path(only).filename().string()] = only;
  }
  const auto calls = Calls(0);
  EXPECT_GT(Count(calls, 0x2A), 0u);
  for (const auto& c : calls) {
    if (c.cdb.empty()) continue;
    if (c.cdb[0] == 0x2A) {
      EXPECT_EQ(c.dxfer_direction, SG_DXFER_TO_DEV);
      EXPECT_EQ(c.resid, 0);
    }
    if (c.cdb[0] == 0x28) {
      EXPECT_EQ(c.dxfer_direction, SG_DXFER_FROM_DEV);
    }
  }

  ForgetCalls();
  NewBurner();
  ASSERT_TRUE(burner_->ImportSession(255, nullptr));
  EXPECT_GT(Count(Calls(0), 0x28), 0u) << "the import read the directories through the node";
  std::map<std::string, const burner::TFEntry*> listed;
  for (const burner::TFEntry* e = burner_->Tree().Root()->FirstEntry; e; e = e->Next) listed[e->LongName] = e;
  ASSERT_EQ(listed.size(), files.size());
  for (const auto& [name, source] : files) {
    ASSERT_TRUE(listed.count(name)) << name;
    const burner::TFEntry& e = *listed[name];
    ASSERT_TRUE(e.Imported);
    const std::string want = orv::test::read_file(source);
    ASSERT_EQ(static_cast<size_t>(e.ISOLength), want.size()) << name;
    std::string got;
    std::vector<std::uint8_t> sector(2048);
    for (uint32_t s = 0; got.size() < want.size(); ++s) {
      ASSERT_TRUE(burner_->Read10(e.ISOExtent + s, 1, 2048, sector.data())) << name << " sector " << s;
      got.append(reinterpret_cast<const char*>(sector.data()), 2048);
    }
    got.resize(want.size());
    EXPECT_TRUE(got == want) << name << " reads back different bytes";
  }
  if (orv::test::have_program("xorriso")) {
    const auto r = orv::test::run_command("xorriso -load sbsector " + std::to_string(last_start) + " -indev stdio:" +
                                          orv::test::shell_quote(Image(0)) + " -find / -type f 2>/dev/null");
    EXPECT_EQ(r.exit_code, 0) << r.output;
    for (const auto& [name, source] : files) EXPECT_NE(r.output.find(name), std::string::npos) << r.output;
  }
}

INSTANTIATE_TEST_SUITE_P(Media, SgIoBurn, ::testing::Values("CD-R", "DVD+R"),
                         [](const auto& info) { return std::string(info.param[0] == 'C' ? "CDR" : "DVDPlusR"); });

}  // namespace
