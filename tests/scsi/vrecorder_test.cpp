// The virtual recorder answering through its real ASPI entry points: libwnaspi32.so from the
// build's bin folder, loaded by InitASPI like any outside layer.
#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "scsi/aspi_layer.h"
#include "scsi/platform.h"
#include "scsi/scsi_device.h"
#include "scsi/spti.h"
#include "test_env.h"

namespace orv::scsi {
namespace {

namespace fs = std::filesystem;

// Real events, but a wait that the test wants to run into its limit returns after a short
// real wait: used only for commands that the recorder is configured never to complete.
class FastForwardEvents : public EventPort {
 public:
  explicit FastForwardEvents(EventPort& real) : real_(real) {}
  std::vector<std::uint32_t> waits;
  std::vector<bool> signalled;
  std::uint32_t cap_ms = 0xFFFFFFFF;
  void* CreateEvent() override { return real_.CreateEvent(); }
  void ResetEvent(void* e) override { real_.ResetEvent(e); }
  bool WaitForEvent(void* e, std::uint32_t ms) override {
    waits.push_back(ms);
    const bool s = real_.WaitForEvent(e, std::min(ms, cap_ms));
    signalled.push_back(s);
    return s;
  }
  void CloseEvent(void* e) override { real_.CloseEvent(e); }
  void Sleep(std::uint32_t ms) override { real_.Sleep(std::min<std::uint32_t>(ms, 5)); }

 private:
  EventPort& real_;
};

class NoDrives : public KernelPort {
 public:
  bool IsCDDrive(int) override { return false; }
  int OpenDrive(int) override { return -1; }
  void CloseDrive(int) override {}
  bool SendPassThrough(int, PassThrough&) override { return false; }
  bool GetAddress(int, ScsiAddress&) override { return false; }
};

class VRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("ORV_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    ASSERT_TRUE(fs::exists(fs::path(bin) / "libwnaspi32.so"));
    old_cwd_ = fs::current_path();
    fs::current_path(bin);
    SetKernelPort(&no_drives_);  // a real drive on this machine must not interfere
    SetEventPort(&events_);
  }
  void TearDown() override {
    device_.reset();
    (void)FreeASPI();
    SetEventPort(nullptr);
    SetKernelPort(nullptr);
    ::unsetenv("ORVAKELL_VRECORDER");
    fs::current_path(old_cwd_);
  }
  // Writes the configuration, loads the layer and builds a device with the list filled.
  void Start(const std::string& config) {
    config_path_ = env_.work() / "vrecorder.conf";
    orv::test::write_file(config_path_, config);
    ::setenv("ORVAKELL_VRECORDER", config_path_.c_str(), 1);
    ASSERT_TRUE(InitASPI(false));
    ASSERT_EQ(ASPILayerName(), "WNASPI32.DLL");
    void* handle = ::dlopen("./libwnaspi32.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    reload_ = reinterpret_cast<void (*)()>(::dlsym(handle, "VRecorderReload"));
    log_ = reinterpret_cast<std::size_t (*)(unsigned, char*, std::size_t)>(::dlsym(handle, "VRecorderCommandLog"));
    errors_ = reinterpret_cast<std::size_t (*)(char*, std::size_t)>(::dlsym(handle, "VRecorderErrors"));
    ::dlclose(handle);
    ASSERT_TRUE(reload_ && log_ && errors_);
    reload_();  // the library may have stayed loaded from an earlier test
    device_ = std::make_unique<TSCSIDevice>();
    device_->OnDebugMessage = [this](TSCSIDevice*, const std::string& m, std::uint8_t) { lines_.push_back(m); };
    ASSERT_EQ(Errors(), "");
  }
  std::string Log(unsigned drive = 0) {
    std::string out(log_(drive, nullptr, 0), '\0');
    log_(drive, out.data(), out.size());
    out.pop_back();
    return out;
  }
  std::string Errors() {
    std::string out(errors_(nullptr, 0), '\0');
    errors_(out.data(), out.size());
    out.pop_back();
    return out;
  }
  std::string Image(const char* name = "disc.iso") { return (env_.work() / name).string(); }
  std::vector<std::uint8_t> Pattern(std::uint32_t sectors, std::uint8_t seed) {
    std::vector<std::uint8_t> d(sectors * 2048);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(seed + i / 2048);
    return d;
  }
  // Writes `sectors` sectors at the next writable address in blocks of 31 and closes the session.
  std::uint32_t BurnSession(std::uint32_t sectors, std::uint8_t seed, bool another_session = true) {
    device_->SetFinalizeDisc(!another_session);
    EXPECT_TRUE(device_->SetWriteParameters(false, true, DT_CDR));
    EXPECT_TRUE(device_->ReadTrackInformation(255));
    const std::uint32_t start = device_->TrackInformationWord(12);
    auto data = Pattern(sectors, seed);
    for (std::uint32_t done = 0; done < sectors;) {
      const std::uint32_t n = std::min<std::uint32_t>(31, sectors - done);
      EXPECT_TRUE(device_->Write10(start + done, static_cast<std::uint16_t>(n), 0x50, n * 2048, data.data() + done * 2048))
          << device_->LastError();
      done += n;
    }
    EXPECT_TRUE(device_->SynchronizeCache(120000, false));
    EXPECT_TRUE(device_->CloseTrackSession(false, true)) << device_->LastError();
    return start;
  }

  orv::test::TestEnv env_;
  NoDrives no_drives_;
  FastForwardEvents events_{Events()};
  std::unique_ptr<TSCSIDevice> device_;
  std::vector<std::string> lines_;
  fs::path config_path_;
  fs::path old_cwd_;
  void (*reload_)() = nullptr;
  std::size_t (*log_)(unsigned, char*, std::size_t) = nullptr;
  std::size_t (*errors_)(char*, std::size_t) = nullptr;
};

TEST_F(VRecorderTest, ListedWithCapabilitiesSpeedsAndDiscType) {
  Start(Image() + " CD-R product=\"CD-RW  CRX800E\" letter=R\n");
  ASSERT_EQ(device_->Devices().size(), 1u);
  EXPECT_EQ(device_->Devices()[0], "0:0:0,R: ORVAKELLCD-RW  CRX800E  1.00");
  device_->SetDeviceID(device_->Devices()[0]);
  ASSERT_EQ(device_->DeviceType(), 5);
  EXPECT_TRUE(device_->LinkSizeQuirk());
  const std::uint32_t caps = device_->Capabilities();
  EXPECT_TRUE(caps & CAP_CDR_WRITE);
  EXPECT_TRUE(caps & CAP_TEST_WRITE);
  EXPECT_TRUE(caps & CAP_UNDERRUN_PROTECTION);
  EXPECT_FALSE(caps & CAP_DVDR_WRITE);
  EXPECT_EQ(device_->WriteModes(), WM_RAW | WM_SAO | WM_TAO);
  EXPECT_EQ(device_->MaxWriteSpeed(), 40);
  EXPECT_EQ(device_->GetDiscType(), DT_CDR);
  // The speed list as the main window builds it: the speeds the drive accepts.
  std::set<std::uint16_t> speeds;
  for (std::uint16_t s = device_->MaxWriteSpeed(); s >= 1; --s) {
    device_->SetWriteSpeed(s);
    speeds.insert(device_->CurrentWriteSpeed());
  }
  EXPECT_EQ(speeds, (std::set<std::uint16_t>{4, 8, 16, 24, 32, 40}));
  // Completion came through the request's event.
  ASSERT_FALSE(events_.signalled.empty());
  EXPECT_TRUE(std::all_of(events_.signalled.begin(), events_.signalled.end(), [](bool s) { return s; }));
}

TEST_F(VRecorderTest, RecordsEveryCdbInOrder) {
  Start(Image() + " CD-RW\n");
  device_->SetDeviceID(device_->Devices()[0]);
  const std::size_t before = Log().size();
  ASSERT_TRUE(device_->SetCDSpeed(0, 8));
  ASSERT_TRUE(device_->StartStopUnit(false));
  const std::string tail = Log().substr(before);
  EXPECT_EQ(tail,
            "0:0:0 BB 00 FF FF 05 88 00 00 00 00 00 00 flags=40 len=0\n"
            "0:0:0 1B 00 00 00 03 00 flags=40 len=0\n");
  EXPECT_EQ(device_->GetDiscType(), DT_CDRW);
}

TEST_F(VRecorderTest, MultiSessionWithTheLeadOutLeadInGap) {
  Start(Image() + " CD-R\n");
  device_->SetDeviceID(device_->Devices()[0]);
  EXPECT_EQ(device_->GetLastSessionNumber(), 0);  // blank
  ASSERT_TRUE(device_->GetDiscInformation());
  EXPECT_EQ(device_->DiscInformation()[2] & 0x03, 0);
  EXPECT_EQ(BurnSession(300, 1), 0u);
  EXPECT_EQ(device_->GetLastSessionNumber(), 1);
  const std::uint32_t second = BurnSession(40, 100);
  EXPECT_EQ(second, 300u + 6750 + 4500 + 150);
  EXPECT_EQ(device_->GetLastSessionNumber(), 2);
  ASSERT_TRUE(device_->ReadTrackInformation(255));
  EXPECT_EQ(device_->TrackInformationWord(12), second + 40 + 2250 + 4500 + 150);
  // The image holds each sector at N * 2048.
  EXPECT_EQ(fs::file_size(Image()), (second + 40) * 2048ull);
  std::vector<std::uint8_t> sector(2048);
  ASSERT_TRUE(device_->Read10(second + 39, 1, 2048, sector.data()));
  EXPECT_EQ(sector[0], 100 + 39);
  ASSERT_TRUE(device_->Read10(299, 1, 2048, sector.data()));
  EXPECT_EQ(sector[2047], 1 + 299 % 256);
  EXPECT_FALSE(device_->Read10(1000, 1, 2048, sector.data()));  // in the gap
  // Table of contents: track 2 starts at the second session, in MSF.
  std::uint8_t toc[254] = {};
  ASSERT_TRUE(device_->ReadTOC(0, toc, true, 2, 254, 0));
  const std::uint32_t msf = second + 150;
  EXPECT_EQ(toc[6], 2);
  EXPECT_EQ(toc[9], msf / 4500);
  EXPECT_EQ(toc[10], (msf / 75) % 60);
  EXPECT_EQ(toc[11], msf % 75);
  // Another process sees the same disc: both sessions, their data and the next address.
  reload_();
  device_->SetDeviceID(device_->Devices()[0]);
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(device_->GetLastSessionNumber(), 2);
  ASSERT_TRUE(device_->ReadTrackInformation(255));
  EXPECT_EQ(device_->TrackInformationWord(12), second + 40 + 2250 + 4500 + 150);
  ASSERT_TRUE(device_->Read10(second + 39, 1, 2048, sector.data()));
  EXPECT_EQ(sector[0], 100 + 39);
  ASSERT_TRUE(device_->Read10(0, 1, 2048, sector.data()));
  EXPECT_EQ(sector[0], 1);
  std::uint8_t toc_after[254] = {};
  ASSERT_TRUE(device_->ReadTOC(0, toc_after, true, 2, 254, 0));
  EXPECT_EQ(std::vector<std::uint8_t>(toc_after, toc_after + 254), std::vector<std::uint8_t>(toc, toc + 254));
  EXPECT_EQ(fs::file_size(Image()), (second + 40) * 2048ull);
}

TEST_F(VRecorderTest, ProcessKilledMidWriteLosesWhatFollowedTheLastFlush) {
  // A killed process leaves on disk what was written and persisted until then: the state is
  // taken by copying the image and its layout file at that moment.
  auto snapshot = [&](const char* name) {
    fs::copy_file(Image(), Image(name), fs::copy_options::overwrite_existing);
    fs::copy_file(Image() + ".vrec", Image(name) + ".vrec", fs::copy_options::overwrite_existing);
  };
  Start(Image() + " CD-R\n" + Image("open.iso") + " CD-R\n" + Image("synced.iso") + " CD-R\n");
  device_->SetDeviceID(device_->Devices()[0]);
  ASSERT_TRUE(device_->SetWriteParameters(false, true, DT_CDR));
  auto first = Pattern(62, 1);
  ASSERT_TRUE(device_->Write10(0, 31, 0x50, 31 * 2048, first.data()));
  ASSERT_TRUE(device_->Write10(31, 31, 0x50, 31 * 2048, first.data() + 31 * 2048));
  snapshot("open.iso");  // killed before any flush: only the opening write counts
  ASSERT_TRUE(device_->SynchronizeCache(120000, false));
  ASSERT_TRUE(device_->Write10(62, 31, 0x50, 31 * 2048, first.data()));
  snapshot("synced.iso");  // killed after a flush and one more write
  EXPECT_EQ(fs::file_size(Image("synced.iso")), 93u * 2048);

  reload_();  // drive 0 ended normally, the other two were killed
  EXPECT_EQ(Errors(), Image("open.iso") + ": 31 sectors written after the last flush are lost\n" +
                          Image("synced.iso") + ": 31 sectors written after the last flush are lost\n");
  device_->SetDeviceID(device_->Devices()[0]);
  ASSERT_TRUE(device_->ReadTrackInformation(255));
  EXPECT_EQ(device_->TrackInformationWord(12), 93u);

  // The open track is still open (not read as a closed session) and continues at sector 31.
  device_->SetDeviceID(device_->Devices()[1]);
  ASSERT_TRUE(device_->GetDiscInformation());
  EXPECT_EQ(device_->DiscInformation()[2] & 0x03, 1);  // incomplete
  EXPECT_EQ(device_->GetLastSessionNumber(), 0);
  ASSERT_TRUE(device_->ReadTrackInformation(255));
  EXPECT_EQ(device_->TrackInformationWord(8), 0u);
  EXPECT_EQ(device_->TrackInformationWord(12), 31u);

  // The flushed part is kept; the stale tail is unreadable and cut off when writing resumes.
  device_->SetDeviceID(device_->Devices()[2]);
  ASSERT_TRUE(device_->ReadTrackInformation(255));
  EXPECT_EQ(device_->TrackInformationWord(12), 62u);
  std::vector<std::uint8_t> sector(2048);
  ASSERT_TRUE(device_->Read10(61, 1, 2048, sector.data()));
  EXPECT_EQ(sector[0], 1 + 61);
  EXPECT_FALSE(device_->Read10(62, 1, 2048, sector.data()));
  EXPECT_FALSE(device_->Write10(93, 1, 0x50, 2048, first.data()));
  ASSERT_TRUE(device_->SetWriteParameters(false, true, DT_CDR));
  auto resumed = Pattern(5, 200);
  ASSERT_TRUE(device_->Write10(62, 5, 0x50, 5 * 2048, resumed.data()));
  EXPECT_EQ(fs::file_size(Image("synced.iso")), 67u * 2048);
  ASSERT_TRUE(device_->SynchronizeCache(120000, false));
  ASSERT_TRUE(device_->CloseTrackSession(false, true));
  reload_();  // only the disc that was written again has lost its stale tail
  EXPECT_EQ(Errors(), Image("open.iso") + ": 31 sectors written after the last flush are lost\n");
  device_->SetDeviceID(device_->Devices()[2]);
  EXPECT_EQ(device_->GetLastSessionNumber(), 1);
  ASSERT_TRUE(device_->Read10(66, 1, 2048, sector.data()));
  EXPECT_EQ(sector[0], 200 + 4);
  const std::string image = orv::test::read_file(Image("synced.iso"));
  ASSERT_EQ(image.size(), 67u * 2048);
  EXPECT_EQ(static_cast<std::uint8_t>(image[62 * 2048]), 200);
}

TEST_F(VRecorderTest, ImageTakenAwayIsADiscChange) {
  Start(Image() + " CD-R\n");
  device_->SetDeviceID(device_->Devices()[0]);
  EXPECT_EQ(BurnSession(300, 1), 0u);
  std::vector<std::uint8_t> sector(2048);
  ASSERT_TRUE(device_->Read10(0, 1, 2048, sector.data()));  // the image is open for reading now
  EXPECT_EQ(sector[0], 1);
  fs::rename(Image(), Image("kept.iso"));
  // The state file left beside the old path does not describe the disc now in the drive.
  ASSERT_TRUE(fs::exists(Image() + ".vrec"));
  ASSERT_TRUE(device_->GetDiscInformation());
  EXPECT_EQ(device_->DiscInformation()[2] & 0x03, 0);  // blank
  EXPECT_EQ(device_->GetLastSessionNumber(), 0);
  EXPECT_EQ(BurnSession(40, 9), 0u);
  EXPECT_EQ(fs::file_size(Image()), 40u * 2048);
  EXPECT_EQ(fs::file_size(Image("kept.iso")), 300u * 2048);
  EXPECT_EQ(device_->GetLastSessionNumber(), 1);
  ASSERT_TRUE(device_->Read10(0, 1, 2048, sector.data()));  // the new disc, not the one taken away
  EXPECT_EQ(sector[0], 9);
  // The new disc and its layout are taken away and the old image put back alone: it reads as
  // the one closed session it holds.
  fs::rename(Image() + ".vrec", Image("new.iso") + ".vrec");
  fs::rename(Image(), Image("new.iso"));
  fs::rename(Image("kept.iso"), Image());
  ASSERT_TRUE(device_->ReadTrackInformation(255));
  EXPECT_EQ(device_->TrackInformationWord(12), 300u + 6750 + 4500 + 150);
  ASSERT_TRUE(device_->Read10(299, 1, 2048, sector.data()));
  EXPECT_EQ(sector[0], 1 + 299 % 256);
}

TEST_F(VRecorderTest, FreedLayerIsUnloadedAndTheNextLoadReadsItsConfigurationAgain) {
  Start(Image() + " CD-R letter=R\n");
  ASSERT_EQ(device_->Devices().size(), 1u);
  device_->SetDeviceID(device_->Devices()[0]);
  EXPECT_EQ(BurnSession(40, 3), 0u);
  device_.reset();
  ASSERT_TRUE(FreeASPI());
  // Gone from the process, as an outside layer is after it was freed; it left its disc flushed.
  EXPECT_EQ(::dlopen("./libwnaspi32.so", RTLD_NOW | RTLD_NOLOAD), nullptr);
  EXPECT_TRUE(fs::exists(Image() + ".vrec"));
  // Loaded again (no reload hook called): the changed configuration and the disc written before.
  orv::test::write_file(config_path_, Image() + " CD-R letter=S\n" + Image("b.iso") + " DVD+R address=0:1:0\n");
  ASSERT_TRUE(InitASPI(false));
  device_ = std::make_unique<TSCSIDevice>();
  ASSERT_EQ(device_->Devices().size(), 2u);
  EXPECT_EQ(device_->Devices()[0].substr(0, 9), "0:0:0,S: ");
  device_->SetDeviceID(device_->Devices()[0]);
  EXPECT_EQ(device_->GetLastSessionNumber(), 1);
  std::vector<std::uint8_t> sector(2048);
  ASSERT_TRUE(device_->Read10(39, 1, 2048, sector.data()));
  EXPECT_EQ(sector[0], 3 + 39);
}

TEST_F(VRecorderTest, WritesOnlyAtTheNextWritableAddress) {
  Start(Image() + " CD-R\n");
  device_->SetDeviceID(device_->Devices()[0]);
  auto data = Pattern(2, 7);
  EXPECT_FALSE(device_->Write10(16, 2, 0x50, 4096, data.data()));
  EXPECT_EQ(device_->LastError(), "ILLEGAL REQUEST (INVALID ADDRESS FOR WRITE)");
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].substr(0, 28), "<<< WRITE (10)             (");
  EXPECT_TRUE(device_->Write10(0, 2, 0x50, 4096, data.data()));
  EXPECT_FALSE(device_->Write10(0, 2, 0x50, 4096, data.data()));
  EXPECT_TRUE(device_->Write10(2, 2, 0x50, 4096, data.data()));
  // A finalized disc takes nothing more.
  device_->SetFinalizeDisc(true);
  ASSERT_TRUE(device_->SetWriteParameters(false, true, DT_CDR));
  ASSERT_TRUE(device_->CloseTrackSession(false, false));
  ASSERT_TRUE(device_->GetDiscInformation());
  EXPECT_EQ(device_->DiscInformation()[2] & 0x03, 2);  // complete
  EXPECT_FALSE(device_->Write10(4, 2, 0x50, 4096, data.data()));
}

TEST_F(VRecorderTest, TestWriteLeavesTheDiscUntouched) {
  Start(Image() + " CD-R\n");
  device_->SetDeviceID(device_->Devices()[0]);
  ASSERT_TRUE(device_->SetWriteParameters(true, true, DT_CDR));
  auto data = Pattern(31, 3);
  EXPECT_TRUE(device_->Write10(0, 31, 0x50, 31 * 2048, data.data()));
  EXPECT_TRUE(device_->Write10(31, 31, 0x50, 31 * 2048, data.data()));
  ASSERT_TRUE(device_->SetWriteParameters(false, false, 1));
  EXPECT_FALSE(fs::exists(Image()));
  ASSERT_TRUE(device_->ReadTrackInformation(255));
  EXPECT_EQ(device_->TrackInformationWord(12), 0u);
}

TEST_F(VRecorderTest, ExistingImageIsAnAppendableDisc) {
  orv::test::write_file(Image(), std::string(100 * 2048, 'x'));
  Start(Image() + " CD-R\n" + Image("closed.iso") + " CD-R closed=1\n");
  ASSERT_EQ(device_->Devices().size(), 0u + 2);
  device_->SetDeviceID(device_->Devices()[0]);
  ASSERT_TRUE(device_->ReadTrackInformation(255));
  EXPECT_EQ(device_->TrackInformationWord(12), 100u + 11400);
  EXPECT_EQ(device_->GetLastSessionNumber(), 1);
}

TEST_F(VRecorderTest, DvdRReservesAndWritesItsTrack) {
  Start(Image() + " DVD-R\n");
  device_->SetDeviceID(device_->Devices()[0]);
  EXPECT_TRUE(device_->Capabilities() & CAP_DVDR_WRITE);
  EXPECT_TRUE(device_->Capabilities() & CAP_DVDPR_READ);
  EXPECT_TRUE(device_->Capabilities() & CAP_DVDPR_WRITE);  // a DVD±R writer
  EXPECT_FALSE(device_->Capabilities() & CAP_DVDRAM_WRITE);
  EXPECT_EQ(device_->GetDiscType(), DT_DVDR);
  ASSERT_TRUE(device_->SetWriteParameters(false, true, DT_DVDR));
  std::uint8_t streaming[28] = {};
  EXPECT_TRUE(device_->SetStreaming(streaming, 28));
  std::tm now{};
  now.tm_year = 126;
  now.tm_mday = 1;
  EXPECT_TRUE(device_->SendDVDTimeStamp(now));
  ASSERT_TRUE(device_->ReserveTrack(301));
  auto data = Pattern(31, 9);
  EXPECT_TRUE(device_->Write10(0, 31, 0x50, 31 * 2048, data.data()));
  ASSERT_TRUE(device_->ReadTrackInformation(1));
  EXPECT_EQ(device_->TrackInformationWord(12), 31u);
  EXPECT_EQ(device_->TrackInformationWord(16), 270u);
  EXPECT_TRUE(device_->SynchronizeCache(1800000, true));
  EXPECT_TRUE(device_->GetDiscInformation());
}

TEST_F(VRecorderTest, DvdPlusRAndDvdRam) {
  Start(Image() + " DVD+R\n" + Image("ram.img") + " DVD-RAM address=0:1:0\n");
  ASSERT_EQ(device_->Devices().size(), 2u);
  device_->SetDeviceID(device_->Devices()[0]);
  EXPECT_EQ(device_->GetDiscType(), DT_DVDPR);
  EXPECT_TRUE(device_->Capabilities() & CAP_DVDPR_WRITE);
  ASSERT_TRUE(device_->SetWriteParameters(false, true, DT_DVDPR));
  device_->SetDeviceID(device_->Devices()[1]);
  EXPECT_EQ(device_->GetDiscType(), DT_DVDRAM);
  EXPECT_EQ(device_->MaxWriteSpeed(), 1);
  auto data = Pattern(2, 5);
  EXPECT_TRUE(device_->Write10(5000, 2, 0x50, 4096, data.data()));  // random access
  std::vector<std::uint8_t> back(4096);
  ASSERT_TRUE(device_->Read10(5000, 2, 4096, back.data()));
  EXPECT_EQ(back, data);
}

TEST_F(VRecorderTest, FaultsNotReadyBusyAndMediumError) {
  Start(Image() + " CD-R notready=2 busy=1 medium_error=20\n" + Image("d.iso") + " CD-R descsense=1 address=0:1:0\n");
  device_->SetDeviceID(device_->Devices()[0]);  // INQUIRY and mode pages do not count as medium access
  EXPECT_FALSE(device_->TestUnitReady(5000));
  EXPECT_TRUE(device_->TargetBusy());
  EXPECT_EQ(device_->LastError(), "TARGET BUSY");
  EXPECT_FALSE(device_->TestUnitReady(5000));
  EXPECT_EQ(device_->LastError(), "NOT READY (LOGICAL UNIT IS IN PROCESS OF BECOMING READY)");
  EXPECT_EQ(device_->LastSense()[12], 0x04);
  EXPECT_FALSE(device_->TestUnitReady(5000));
  EXPECT_TRUE(device_->TestUnitReady(5000));
  auto data = Pattern(31, 0);
  EXPECT_TRUE(device_->Write10(0, 10, 0x50, 10 * 2048, data.data()));
  EXPECT_FALSE(device_->Write10(10, 31, 0x50, 31 * 2048, data.data()));
  EXPECT_EQ(device_->LastError(), "MEDIUM ERROR (WRITE ERROR)");
  // Descriptor-format sense reads the same.
  device_->SetDeviceID(device_->Devices()[1]);
  EXPECT_FALSE(device_->Write10(7, 1, 0x50, 2048, data.data()));
  EXPECT_EQ(device_->LastError(), "ILLEGAL REQUEST (INVALID ADDRESS FOR WRITE)");
  EXPECT_FALSE(device_->RewindUnit());  // a tape command
  EXPECT_EQ(device_->LastError(), "ILLEGAL REQUEST (INVALID COMMAND OPERATION CODE)");
}

TEST_F(VRecorderTest, NeverCompletingCommandIsAbortedWithHostStatusNine) {
  Start(Image() + " CD-R hang=00\n");
  device_->SetDeviceID(device_->Devices()[0]);
  events_.cap_ms = 200;  // the command never completes: no need to wait the whole limit
  events_.waits.clear();
  events_.signalled.clear();
  SRB_ExecSCSICmd r;
  std::memset(&r, 0, sizeof r);
  r.SRB_Flags = 0x40;
  r.SRB_CDBLen = 6;
  EXPECT_EQ(device_->ExecuteCommand(r, 5000), 1);
  EXPECT_EQ(events_.waits, std::vector<std::uint32_t>{10000});
  EXPECT_EQ(events_.signalled, std::vector<bool>{false});
  EXPECT_EQ(r.SRB_Status, SS_ERR);
  EXPECT_EQ(r.SRB_HaStat, HASTAT_TIMEOUT);
  EXPECT_EQ(device_->LastError(), "");
  // The recorder dropped the request: the next one completes normally.
  events_.cap_ms = 0xFFFFFFFF;
  EXPECT_TRUE(device_->TestUnitReady(5000));
}

TEST_F(VRecorderTest, DelayedCompletionSignalsTheEvent) {
  Start(Image() + " CD-R delay_ms=50\n");
  device_->SetDeviceID(device_->Devices()[0]);
  events_.signalled.clear();
  EXPECT_TRUE(device_->TestUnitReady(5000));
  EXPECT_EQ(events_.signalled, std::vector<bool>{true});
}

TEST_F(VRecorderTest, ConfiguredPagesBufferTrayAndCommandLogFile) {
  const std::string log = (env_.work() / "cdb.log").string();
  Start(Image() + " CD-R underrun=0 page30=1 blockdesc=1 freeunknown=1 testwrite=0 buffer=4194304 log=" + log + "\n");
  device_->SetDeviceID(device_->Devices()[0]);
  EXPECT_TRUE(device_->Capabilities() & CAP_UNDERRUN_PROTECTION);  // from page 30h
  EXPECT_FALSE(device_->Capabilities() & CAP_TEST_WRITE);
  std::uint8_t answer[64] = {};
  ASSERT_TRUE(device_->ModeSense10(5, answer, false, 64, 63));
  EXPECT_EQ(answer[7], 8);   // block descriptor length
  EXPECT_EQ(answer[16], 5);  // the page after it
  ASSERT_TRUE(device_->SetWriteParameters(false, true, DT_CDR));
  EXPECT_EQ(device_->WriteParametersPage()[3], 0xC4);
  std::uint32_t size = 0, free = 0;
  ASSERT_TRUE(device_->ReadBufferCapacity(size, free));
  EXPECT_EQ(size, 4194304u);
  EXPECT_EQ(free, 0xFFFFFFFFu);
  EXPECT_EQ(device_->DeviceFreeBufferSize(), 4194304u);
  ASSERT_TRUE(device_->StartStopUnit(true));
  EXPECT_FALSE(device_->TestUnitReady(5000));
  EXPECT_EQ(device_->LastError(), "NOT READY (MEDIUM NOT PRESENT - TRAY OPEN)");
  ASSERT_TRUE(device_->StartStopUnit(false));
  EXPECT_TRUE(device_->TestUnitReady(5000));
  const std::string text = orv::test::read_file(log);
  EXPECT_EQ(text, Log());
  EXPECT_NE(text.find("0:0:0 1B 00 00 00 02 00 flags=40 len=0\n0:0:0 00 00 00 00 00 00 flags=40 len=0\n"),
            std::string::npos);
}

TEST_F(VRecorderTest, NoConfigurationMeansNoDrives) {
  Start("");
  EXPECT_TRUE(device_->Devices().empty());
  EXPECT_EQ(device_->AdapterCount(), 7);  // an empty adapter list is scanned as seven
}

TEST_F(VRecorderTest, ConfigurationErrorsAreReported) {
  config_path_ = env_.work() / "bad.conf";
  orv::test::write_file(config_path_, Image() + " CD-ROM\n" + Image() + " CD-R speed=4\n");
  ::setenv("ORVAKELL_VRECORDER", config_path_.c_str(), 1);
  ASSERT_TRUE(InitASPI(false));
  void* handle = ::dlopen("./libwnaspi32.so", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr);
  auto reload = reinterpret_cast<void (*)()>(::dlsym(handle, "VRecorderReload"));
  auto errors = reinterpret_cast<std::size_t (*)(char*, std::size_t)>(::dlsym(handle, "VRecorderErrors"));
  ::dlclose(handle);
  reload();
  char text[512];
  errors(text, sizeof text);
  EXPECT_STREQ(text,
               "line 1: profile must be CD-R, CD-RW, DVD-R, DVD+R or DVD-RAM\n"
               "line 2: unknown key 'speed'\n");
}

}  // namespace
}  // namespace orv::scsi
