// TDiscBurner: defaults and setters, track size and cache fill, and where the track starts
// when the recorder answers (on the scripted ASPI layer of the device tests).
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "burner/burn_state.h"
#include "burner/disc_burner.h"
#include "fakes.h"
#include "scsi/aspi_layer.h"
#include "scsi/spti.h"
#include "test_env.h"

namespace fs = std::filesystem;
using namespace orv::burner;
using namespace orv::scsi;
using namespace orv::scsi::testing;

namespace {

TEST(DiscBurner, DefaultsAndSetters) {
  TDiscBurner b;
  EXPECT_FALSE(b.ReplaceFile);
  EXPECT_TRUE(b.FinalizeTrack);
  EXPECT_FALSE(b.PerformOPC);
  EXPECT_TRUE(b.JolietFileSystem);
  EXPECT_TRUE(b.WritePostGap);
  EXPECT_TRUE(b.UnderrunProtection());
  EXPECT_FALSE(b.Bootable);
  EXPECT_EQ(b.SessionToImport, 0);
  EXPECT_EQ(b.CacheSize(), 4194304);
  EXPECT_EQ(b.DateCreation, 0);
  EXPECT_EQ(b.DirCount(), 0);
  EXPECT_EQ(b.FileCount(), 0);
  EXPECT_EQ(b.FilesSize(), 0);
  EXPECT_TRUE(b.HeaderStream.empty());

  b.SetCacheSize(1000000);
  EXPECT_EQ(b.CacheSize(), 2097152);
  b.SetCacheSize(5000000);
  EXPECT_EQ(b.CacheSize(), 4999168);
  b.SetVersion("2.0");
  EXPECT_EQ(b.Version(), "1.1.7");
}

TEST(DiscBurner, TrackSizeAndCacheFill) {
  TDiscBurner b;
  b.SessionStart = 20000;
  b.ImageEndSector = 20120;
  EXPECT_EQ(b.TrackSize(), 300);
  b.WritePostGap = false;
  EXPECT_EQ(b.TrackSize(), 120);
  b.ImageEndSector = 20500;
  EXPECT_EQ(b.TrackSize(), 500);

  EXPECT_EQ(b.CacheFillPercent(), 0);
  TBurnState& state = ProcessBurnState();
  state.BytesInCache = 4194304 / 8 * 3;
  EXPECT_EQ(b.CacheFillPercent(), 0);  // no burn runs
  state.CacheRunning = true;
  EXPECT_EQ(b.CacheFillPercent(), 38);  // 37.5 rounds up
  state.CacheRunning = false;
  state.BytesInCache = 0;
  EXPECT_EQ(b.CacheFillPercent(), 0);
}

TEST(DiscBurner, TreeIsSharedByEveryBurner) {
  orv::test::TestEnv env;
  fs::create_directories(env.work());
  orv::test::write_file(env.work() / "a.dat", "abc");
  TDiscBurner first;
  ASSERT_EQ(first.AddFile("\\", (env.work() / "a.dat").string(), false), 1);
  TDiscBurner second;  // its construction empties the process tree
  EXPECT_EQ(first.FileCount(), 0);
  ASSERT_EQ(second.AddFile("\\", (env.work() / "a.dat").string(), false), 1);
  EXPECT_EQ(first.FileCount(), 1);
  EXPECT_EQ(first.FilesSize(), 2048);
  ASSERT_TRUE(first.PrepareImage(true, nullptr));
  EXPECT_EQ(first.HeaderStream.size(), 150u * 2048);
  EXPECT_EQ(first.ImageEndSector, 151u);
  EXPECT_TRUE(first.DoDebug());
  const std::vector<uint8_t> header = first.HeaderStream;
  ASSERT_TRUE(first.PrepareImage(true, nullptr));  // prepared again: the same header, not two
  EXPECT_EQ(first.HeaderStream.size(), header.size());
  EXPECT_TRUE(std::equal(header.begin(), header.begin() + 16 * 2048 + 813, first.HeaderStream.begin()));
  first.ResetFileTree(65535, 8191);
  EXPECT_TRUE(first.HeaderStream.empty());
  EXPECT_EQ(second.FileCount(), 0);
}

TEST(DiscBurner, MissingBootImageClearsBootable) {
  TDiscBurner b;
  b.Bootable = true;
  b.BootImage = "/nonexistent/boot.img";
  ASSERT_TRUE(b.PrepareImage(true, nullptr));
  EXPECT_FALSE(b.Bootable);
  EXPECT_FALSE(b.Layout.Bootable);
  EXPECT_EQ(b.Layout.TerminatorSector, 18u);
}

// A burner on the scripted layer with device 0:0:0 selected.
class BurnerOnDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    SetKernelPort(&kernel);
    SetLibraryPort(&libraries);
    SetEventPort(&clock);
    ScriptedLayer::active = &layer;
    libraries.available = {"./libwnaspi32.so"};
    ASSERT_TRUE(InitASPI(false));
    burner = std::make_unique<TDiscBurner>();
    burner->OnDebugMessage = [this](TSCSIDevice*, const std::string& m, std::uint8_t t) {
      if (m.rfind(">>> ", 0) == 0) messages.emplace_back(m, t);
    };
    std::vector<std::uint8_t> inquiry(96, ' ');
    inquiry[0] = 5;
    layer.respond = [inquiry](SRB_ExecSCSICmd& r) {
      if (r.CDBByte[0] == 0x12) ScriptedLayer::Answer(r, inquiry);
      else ScriptedLayer::CheckCondition(r, 5, 0x20, 0x00);
    };
    burner->SetDeviceID("0:0:0,E: ORVTEST TEST RECORDER 1.00");
    ASSERT_EQ(burner->HaId(), 0);
    fs::create_directories(env.work());
    orv::test::write_file(env.work() / "f.dat", std::string(5000, 'f'));
    ASSERT_EQ(burner->AddFile("\\", (env.work() / "f.dat").string(), false), 1);
  }
  void TearDown() override {
    burner.reset();
    (void)FreeASPI();
    DoneSPTI();
    ScriptedLayer::active = nullptr;
    SetKernelPort(nullptr);
    SetLibraryPort(nullptr);
    SetEventPort(nullptr);
    DiscType = 0;
  }
  // Takes the reservation and answers READ TRACK INFORMATION with the next writable address
  // and 100000 free sectors; everything else but INQUIRY is rejected as an invalid command.
  void RecorderAnswers(std::optional<uint32_t> next_writable) {
    layer.respond = [next_writable](SRB_ExecSCSICmd& r) {
      if (r.CDBByte[0] == 0x16 || r.CDBByte[0] == 0x17) {
        ScriptedLayer::Answer(r, {});
      } else if (r.CDBByte[0] == 0x52 && next_writable) {
        std::vector<std::uint8_t> info(38, 0);
        info[1] = 36;
        for (int i = 0; i < 4; ++i) info[12 + i] = static_cast<std::uint8_t>(*next_writable >> (24 - 8 * i));
        for (int i = 0; i < 4; ++i) info[16 + i] = static_cast<std::uint8_t>(100000u >> (24 - 8 * i));
        ScriptedLayer::Answer(r, info);
      } else {
        ScriptedLayer::CheckCondition(r, 5, 0x20, 0x00);
      }
    };
  }
  bool SawTrackInformationFor255() const {
    for (const auto& c : layer.seen)
      if (c.cdb.size() >= 6 && c.cdb[0] == 0x52 && c.cdb[1] == 1 && c.cdb[5] == 255) return true;
    return false;
  }

  orv::test::TestEnv env;
  FakeKernel kernel;
  FakeLibraries libraries;
  VirtualClock clock;
  ScriptedLayer layer;
  std::unique_ptr<TDiscBurner> burner;
  std::vector<std::pair<std::string, uint8_t>> messages;
};

TEST_F(BurnerOnDevice, TrackStartsAtTheNextWritableAddress) {
  RecorderAnswers(20000);
  layer.seen.clear();
  ASSERT_TRUE(burner->PrepareImage(false, nullptr));
  EXPECT_TRUE(SawTrackInformationFor255());
  EXPECT_EQ(burner->SessionStart, 20000u);
  EXPECT_EQ(burner->Layout.PVDSector, 20016u);
  EXPECT_EQ(burner->Layout.FirstFileSector, 20025u);
  EXPECT_EQ(burner->ImageEndSector, 20028u);
  EXPECT_EQ(burner->TrackSize(), 300);
  EXPECT_EQ(burner->HeaderStream.size(), 25u * 2048);
  EXPECT_FALSE(burner->FinalizeDisc());  // restored after the write parameters
  EXPECT_TRUE(messages.empty());
}

TEST_F(BurnerOnDevice, UnreadableAddressLaysOutFromSectorZero) {
  RecorderAnswers(std::nullopt);
  ASSERT_TRUE(burner->PrepareImage(false, nullptr));
  EXPECT_EQ(burner->SessionStart, 0u);
  EXPECT_EQ(burner->ImageEndSector, 153u);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].first, ">>> ERROR GETTING NEXT WRITABLE ADDRESS");
  EXPECT_EQ(messages[0].second, 0);
  EXPECT_EQ(messages[1].first, std::string(">>> ") + kMsgFreeUnknown);  // so the room is not checked
  EXPECT_EQ(burner->FreeBlocks, -1);
}

TEST_F(BurnerOnDevice, ImplausibleAddressIsTakenAsZero) {
  RecorderAnswers(0xFF000001u);
  ASSERT_TRUE(burner->PrepareImage(false, nullptr));
  EXPECT_EQ(burner->SessionStart, 0u);
  EXPECT_EQ(burner->Layout.PVDSector, 16u);
}

TEST_F(BurnerOnDevice, ImageFileLayoutSendsNoCommand) {
  RecorderAnswers(20000);
  layer.seen.clear();
  ASSERT_TRUE(burner->PrepareImage(true, nullptr));
  EXPECT_TRUE(layer.seen.empty());
  EXPECT_EQ(burner->SessionStart, 0u);
}

}  // namespace
