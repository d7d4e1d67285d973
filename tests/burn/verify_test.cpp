// Read-back of written sessions through the virtual recorder: a good session verifies, a
// sector that reads back wrong (corrupt_sector) names its file and sector, from the burner and
// from orvakell-burn --device / --verify.
#include <gtest/gtest.h>

#include "burn_fixture.h"
#include "test_env.h"

namespace orv::burner::test {
namespace {

using orv::test::run_command;
using orv::test::shell_quote;

class Verify : public BurnFixture {
 protected:
  // Sectors per READ (10) of the commands logged since ClearLog, in order.
  std::vector<unsigned> ReadLengths() {
    std::vector<unsigned> out;
    for (const auto& l : LogLines())
      if (Field(l, 1) == "28") out.push_back(Byte(l, 7) << 8 | Byte(l, 8));
    return out;
  }
};

TEST_F(Verify, GoodSessionVerifiesAndACorruptSectorNamesItsFile) {
  Start("CD-R");
  const std::string a = Source("Sales.zip", 150000, 1);
  const std::string b = Source("deep/Stock.zip", 9000, 2);
  Add(a);
  ASSERT_NE(burner_->Tree().ForceDirs("\\Old", burner_->TreeHooks()), nullptr);
  ASSERT_EQ(burner_->AddFile("\\Old", b, false), 1);
  Prepare();
  ASSERT_EQ(Burn().error, "");
  TVerifyResult r = burner_->VerifyLastWrite();
  EXPECT_TRUE(r.Verified) << r.Text;
  EXPECT_EQ(r.Files, 2);
  EXPECT_EQ(r.Text, "SESSION VERIFIED: 2 FILES");
  const auto files = burner_->LastWrittenFiles();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1].JolietPath, (std::vector<std::string>{"Old", "Stock.zip"}));
  EXPECT_EQ(files[1].ISOPath, (std::vector<std::string>{"OLD", "STOCK.ZIP"}));

  // The second sector of Sales.zip reads back with a byte flipped.
  const uint32_t sales = JolietExtent(Image(), "Sales.zip");
  ASSERT_GT(sales, 0u);
  Start("CD-R", "corrupt_sector=" + std::to_string(sales + 1));
  r = burner_->VerifyLastSession(files);
  EXPECT_FALSE(r.Verified);
  EXPECT_EQ(r.File, a);
  EXPECT_EQ(r.Sector, sales + 1);
  EXPECT_EQ(r.Text, "READ-BACK: \"\\Sales.zip\" DIFFERS AT SECTOR " + std::to_string(sales + 1));
  EXPECT_EQ(r.Files, 0);

  // The last sector of the folder's file: the first file reads back equal.
  const uint32_t stock = JolietExtent(Image(), "Stock.zip");
  Start("CD-R", "corrupt_sector=" + std::to_string(stock + 4));
  r = burner_->VerifyLastSession(files);
  EXPECT_EQ(r.File, b);
  EXPECT_EQ(r.Files, 1);
  EXPECT_EQ(r.Text, "READ-BACK: \"\\Old\\Stock.zip\" DIFFERS AT SECTOR " + std::to_string(stock + 4));

  // A sector the recorder cannot read.
  Start("CD-R", "medium_error=" + std::to_string(sales));
  r = burner_->VerifyLastSession(files);
  EXPECT_EQ(r.Text, "READ-BACK: \"\\Sales.zip\" CANNOT BE READ AT SECTOR " + std::to_string(sales));
}

TEST_F(Verify, FileMissingFromTheSessionOrOfAnotherSizeIsNamed) {
  Start("CD-R");
  Add(Source("One.zip", 5000, 3));
  Prepare();
  ASSERT_EQ(Burn().error, "");
  auto files = burner_->LastWrittenFiles();
  ASSERT_EQ(files.size(), 1u);
  auto missing = files;
  missing[0].JolietPath = {"Two.zip"};
  EXPECT_EQ(burner_->VerifyLastSession(missing).Text, "READ-BACK: \"\\Two.zip\" NOT FOUND IN THE JOLIET DIRECTORY");
  auto no_iso = files;
  no_iso[0].ISOPath = {"TWO.ZIP"};
  EXPECT_EQ(burner_->VerifyLastSession(no_iso).Text, "READ-BACK: \"\\One.zip\" NOT FOUND IN THE ISO 9660 DIRECTORY");
  auto longer = files;
  longer[0].Digest.bytes += 1;
  EXPECT_EQ(burner_->VerifyLastSession(longer).Text, "READ-BACK: \"\\One.zip\" HAS 5000 BYTES ON THE DISC, 5001 WRITTEN");
  auto other = files;
  other[0].Digest.sha256[0] ^= 1;  // every sector equal, the whole not: named without a sector
  const TVerifyResult r = burner_->VerifyLastSession(other);
  EXPECT_EQ(r.Text, "READ-BACK: \"\\One.zip\" DIFFERS AT SECTOR 0");
  EXPECT_TRUE(burner_->VerifyLastSession(files).Verified);
}

TEST_F(Verify, TestWriteLeavesNothingToVerify) {
  Start("CD-R");
  Add(Source("One.zip", 5000, 4));
  burner_->SetTestWrite(true);
  Prepare();
  ASSERT_EQ(Burn().error, "");
  EXPECT_TRUE(burner_->LastWrittenFiles().empty());
}

TEST_F(Verify, LargeReadsShrinkToWhatTheDriveTakesAndAnUnreadableSectorIsNamedExactly) {
  Start("CD-R");
  const std::string a = Source("Sales.zip", 700000, 5);  // 342 sectors: more than one large READ
  Add(a);
  Prepare();
  ASSERT_EQ(Burn().error, "");
  ClearLog();
  ASSERT_TRUE(burner_->VerifyLastWrite().Verified);
  auto lengths = ReadLengths();
  EXPECT_EQ(std::count(lengths.begin(), lengths.end(), 256u), 1) << ::testing::PrintToString(lengths);
  EXPECT_EQ(std::count(lengths.begin(), lengths.end(), 342u - 256u), 1) << ::testing::PrintToString(lengths);
  const auto files = burner_->LastWrittenFiles();
  const uint32_t sales = JolietExtent(Image(), "Sales.zip");
  ASSERT_GT(sales, 0u);

  // A drive that takes at most 60 sectors at once: the READ is halved until it is taken (32
  // sectors) and stays that size.
  Start("CD-R", "max_read=60");
  ClearLog();
  TVerifyResult r = burner_->VerifyLastSession(files);
  EXPECT_TRUE(r.Verified) << r.Text;
  lengths = ReadLengths();
  std::vector<unsigned> refused, larger_than_32;
  for (unsigned n : lengths) {
    if (n > 60) refused.push_back(n);
    else if (n > 32) larger_than_32.push_back(n);
  }
  EXPECT_EQ(refused, (std::vector<unsigned>{256, 128, 64}));
  EXPECT_TRUE(larger_than_32.empty()) << ::testing::PrintToString(larger_than_32);

  // An unreadable sector inside a large READ is named itself, not the READ's first sector...
  Start("CD-R", "medium_error=" + std::to_string(sales + 40));
  ClearLog();
  r = burner_->VerifyLastSession(files);
  EXPECT_EQ(r.Sector, sales + 40);
  EXPECT_EQ(r.Text, "READ-BACK: \"\\Sales.zip\" CANNOT BE READ AT SECTOR " + std::to_string(sales + 40));
  // The medium's fault does not shrink the READ: the sectors are read one by one at once.
  lengths = ReadLengths();
  EXPECT_EQ(std::count_if(lengths.begin(), lengths.end(), [](unsigned n) { return n > 1 && n < 256; }), 0)
      << ::testing::PrintToString(lengths);
  // ...and the sectors before it are still compared: one that differs is named first.
  Start("CD-R", "medium_error=" + std::to_string(sales + 40) + " corrupt_sector=" + std::to_string(sales + 5));
  r = burner_->VerifyLastSession(files);
  EXPECT_EQ(r.Text, "READ-BACK: \"\\Sales.zip\" DIFFERS AT SECTOR " + std::to_string(sales + 5));
  // The same past the first large READ.
  Start("CD-R", "medium_error=" + std::to_string(sales + 300));
  r = burner_->VerifyLastSession(files);
  EXPECT_EQ(r.Text, "READ-BACK: \"\\Sales.zip\" CANNOT BE READ AT SECTOR " + std::to_string(sales + 300));
}

// ---- orvakell-burn ------------------------------------------------------------------------------

class VerifyCommand : public ::testing::Test {
 protected:
  void Configure(const std::string& keys) {
    orv::test::write_file(conf_, "\"" + image_.string() + "\" CD-R " + keys + "\n");
  }
  orv::test::CommandResult Run(const std::string& args) {
    const std::string program = (orv::test::bin_dir() / "orvakell-burn").string();
    return run_command("ORVAKELL_VRECORDER=" + shell_quote(conf_.string()) + " timeout 120 " + shell_quote(program) +
                       " " + args + " 2>&1");
  }
  std::string Source(const std::string& name, size_t bytes, char fill) {
    const fs::path p = env_.work() / name;
    fs::create_directories(p.parent_path());
    std::string data(bytes, fill);
    for (size_t i = 0; i < bytes; i += 2048) data[i] = static_cast<char>(i / 2048);
    orv::test::write_file(p, data);
    return p.string();
  }
  orv::test::TestEnv env_;
  fs::path image_ = env_.work() / "disc.iso";
  fs::path conf_ = env_.work() / "vrec.conf";
};

TEST_F(VerifyCommand, DeviceVerifiesAndVerifyNamesTheFirstFileThatDiffers) {
  Configure("");
  const std::string a = Source("a/Sales.zip", 40000, 's');
  const std::string b = Source("a/Stock.zip", 30000, 't');
  auto r = Run("--device 0:0:0 --no-spti " + shell_quote(a) + " " + shell_quote(b));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("session verified: 2 files"), std::string::npos) << r.output;

  r = Run("--verify 0:0:0 --no-spti " + shell_quote(a) + " " + shell_quote(b));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("session verified: 2 files"), std::string::npos) << r.output;

  const uint32_t stock = JolietExtent(image_.string(), "Stock.zip");
  ASSERT_GT(stock, 0u);
  Configure("corrupt_sector=" + std::to_string(stock + 2));
  r = Run("--verify 0:0:0 --no-spti " + shell_quote(a) + " " + shell_quote(b));
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find(b + ": READ-BACK: \"\\Stock.zip\" DIFFERS AT SECTOR " + std::to_string(stock + 2)),
            std::string::npos)
      << r.output;

  // A local file that changed since the write is named the same way.
  Configure("");
  orv::test::write_file(a, std::string(40000, 'x'));
  r = Run("--verify 0:0:0 --no-spti " + shell_quote(a));
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("\"\\Sales.zip\" DIFFERS AT SECTOR"), std::string::npos) << r.output;
  EXPECT_EQ(Run("--verify 0:0:0 --no-spti").exit_code, 2);
  EXPECT_EQ(Run("--verify 0:0:0 --no-spti " + shell_quote((env_.work() / "none").string())).exit_code, 2);
}

TEST_F(VerifyCommand, DeviceWriteThatDoesNotReadBackFails) {
  // The same files on a blank disc land at the same sectors: learn them from a first disc.
  Configure("");
  const std::string a = Source("Sales.zip", 40000, 's');
  auto r = Run("--device 0:0:0 --no-spti " + shell_quote(a));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const uint32_t sales = JolietExtent(image_.string(), "Sales.zip");
  ASSERT_GT(sales, 0u);
  image_ = env_.work() / "disc2.iso";
  Configure("corrupt_sector=" + std::to_string(sales + 3));
  r = Run("--device 0:0:0 --no-spti " + shell_quote(a));
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("READ-BACK: \"\\Sales.zip\" DIFFERS AT SECTOR " + std::to_string(sales + 3)),
            std::string::npos)
      << r.output;
  image_ = env_.work() / "disc3.iso";
  Configure("corrupt_sector=" + std::to_string(sales + 3));
  r = Run("--device 0:0:0 --no-spti --no-verify " + shell_quote(a));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output.find("verified"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace orv::burner::test
