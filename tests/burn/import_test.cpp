// Session import: trees read back from images laid out by the burner, the rules between added
// and imported entries, damaged directories; and sessions written one after the other to one
// disc, each importing the one before, read back by xorriso.
#include <cstring>
#include <fstream>
#include <map>

#include "burn_fixture.h"
#include "burner/session_import.h"
#include "platform/byte_order.h"

namespace orv::burner::test {
namespace {

using Ops = std::vector<std::string>;

class MemorySectors : public TSectorSource {
 public:
  explicit MemorySectors(std::string image) : image_(std::move(image)) {}
  bool ReadSector(uint32_t s, uint8_t* buffer) override {
    if ((uint64_t{s} + 1) * 2048 > image_.size()) return false;
    std::memcpy(buffer, image_.data() + uint64_t{s} * 2048, 2048);
    return true;
  }
  uint32_t Sectors() const { return static_cast<uint32_t>(image_.size() / 2048); }
  std::string image_;
};

void PutBoth32(std::string& img, size_t at, uint32_t v) {
  orv::bytes::store_both32(reinterpret_cast<uint8_t*>(img.data() + at), v);
}

// Offset of the directory record named `id` in the directory at `sector`.
size_t FindRecord(const std::string& img, uint32_t sector, const std::string& id) {
  size_t off = size_t{sector} * 2048;
  const size_t end = off + 2048;
  while (off < end && img[off] != 0) {
    const auto len = static_cast<uint8_t>(img[off]);
    if (img.compare(off + 33, id.size(), id) == 0 && static_cast<uint8_t>(img[off + 32]) == id.size()) return off;
    off += len;
  }
  return std::string::npos;
}

class Import : public BurnFixture {
 protected:
  void SetUp() override {
    BurnFixture::SetUp();
    b_.ResetFileTree(65535, 8191);
    b_.OnDebugMessage = [this](scsi::TSCSIDevice*, const std::string& m, std::uint8_t) { log_.push_back(m); };
  }
  // Lays the current tree out from sector 0 and returns the image bytes.
  std::string Build(bool joliet) {
    b_.JolietFileSystem = joliet;
    b_.PrepareImage(true, nullptr);
    const std::string path = (env_.work() / "img.iso").string();
    EXPECT_EQ(b_.WriteImage(path), "");
    return orv::test::read_file(path);
  }
  bool ImportInto(const std::string& image, bool replace, int* refused = nullptr) {
    b_.ReplaceFile = replace;
    TFileTree::Hooks hooks = b_.TreeHooks();
    MemorySectors disc(image);
    TDiscDirectoryReader reader(disc, b_.Tree(), hooks, disc.Sectors());
    const bool ok = reader.ImportSessionAt(0, 1, nullptr);
    if (refused) *refused = reader.Refused();
    return ok;
  }
  TFEntry* Entry(const std::string& dir, const std::string& name) {
    return b_.Tree().FindEntry(b_.Tree().FindDir(dir), name);
  }
  TDiscBurner b_;
  std::vector<std::string> log_;
};

TEST_F(Import, JolietTreeComesBackWithLongNamesAndTheDataWhereItLies) {
  ASSERT_EQ(b_.AddFile("\\", Source("My Document.txt", 5000, 1), false), 1);
  ASSERT_NE(b_.Tree().ForceDirs("\\Backups\\Old", b_.TreeHooks()), nullptr);
  ASSERT_EQ(b_.AddFile("\\Backups\\Old", Source("Sales.Dat", 70000, 2), false), 1);
  const std::string image = Build(true);
  const uint32_t doc_sector = b_.Layout.FirstFileSector + Entry("\\", "My Document.txt")->ISOExtent;
  const uint32_t sales_sector = b_.Layout.FirstFileSector + Entry("\\BACKUPS\\OLD", "Sales.Dat")->ISOExtent;

  b_.ResetFileTree(65535, 8191);
  ASSERT_TRUE(ImportInto(image, true));
  EXPECT_EQ(b_.DirCount(), 2);
  TFEntry* doc = Entry("\\", "My Document.txt");
  ASSERT_NE(doc, nullptr);
  EXPECT_TRUE(doc->Imported);
  EXPECT_EQ(doc->SourcePath, "");
  EXPECT_EQ(doc->ShortName, "MY_DOCUMENT.T");
  EXPECT_EQ(doc->ISOExtent, doc_sector);
  EXPECT_EQ(doc->ISOLength, 5000);
  TFEntry* sales = Entry("\\BACKUPS\\OLD", "Sales.Dat");
  ASSERT_NE(sales, nullptr);
  EXPECT_EQ(sales->JolietExtent, sales_sector);
  EXPECT_EQ(sales->JolietLength, 70000);
  EXPECT_EQ(b_.FilesSize(), 0) << "imported data is not written again";
  EXPECT_EQ(b_.Tree().Verify(), "");
}

TEST_F(Import, IsoTreeIsTheFallbackAndAFolderOfManySectorsIsReadInFull) {
  std::vector<std::string> names;
  for (int i = 0; i < 150; ++i) {
    names.push_back("F" + std::to_string(i) + ".DAT");
    ASSERT_EQ(b_.AddFile("\\", Source(names.back(), 10 + i, 3 + i), false), 1);
  }
  const std::string image = Build(false);
  ASSERT_GT(b_.Tree().Root()->ISOSize, 2048);
  b_.ResetFileTree(65535, 8191);
  ASSERT_TRUE(ImportInto(image, false));
  EXPECT_EQ(b_.FileCount(), 150);
  for (const auto& n : names) {
    TFEntry* e = Entry("\\", n);
    ASSERT_NE(e, nullptr) << n;
    EXPECT_EQ(e->LongName, n) << "the ISO name without its version";
  }
}

TEST_F(Import, AFileAddedForThisBurnWinsOverTheImportedOneEitherWay) {
  ASSERT_EQ(b_.AddFile("\\", Source("BACKUP.DAT", 4000, 4), false), 1);
  ASSERT_EQ(b_.AddFile("\\", Source("OLDONLY.DAT", 100, 5), false), 1);
  const std::string image = Build(true);
  const std::string fresh = Source("new/BACKUP.DAT", 9000, 6);

  for (const bool replace : {true, false}) {
    // Added first, imported after (the import inside PrepareImage).
    b_.ResetFileTree(65535, 8191);
    b_.ReplaceFile = replace;
    ASSERT_EQ(b_.AddFile("\\", fresh, false), 1);
    ASSERT_TRUE(ImportInto(image, replace));
    TFEntry* e = Entry("\\", "BACKUP.DAT");
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(e->Imported) << replace;
    EXPECT_EQ(e->SourcePath, fresh);
    EXPECT_EQ(e->ISOLength, 9000);
    EXPECT_NE(Entry("\\", "OLDONLY.DAT"), nullptr);
    EXPECT_EQ(b_.FileCount(), 2);
    EXPECT_EQ(b_.FilesSize(), RoundUpToSector(9000));

    // Imported first, added after.
    b_.ResetFileTree(65535, 8191);
    ASSERT_TRUE(ImportInto(image, replace));
    b_.ReplaceFile = replace;
    ASSERT_EQ(b_.AddFile("\\", fresh, false), 1);
    e = Entry("\\", "BACKUP.DAT");
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(e->Imported) << replace;
    EXPECT_EQ(e->SourcePath, fresh);
    EXPECT_EQ(b_.FilesSize(), RoundUpToSector(9000));
  }
}

TEST_F(Import, BetweenTwoImportsTheReplaceRuleHolds) {
  ASSERT_EQ(b_.AddFile("\\", Source("A.DAT", 3000, 7), false), 1);
  const std::string first = Build(true);
  b_.ResetFileTree(65535, 8191);
  ASSERT_EQ(b_.AddFile("\\", Source("b/A.DAT", 5000, 8), false), 1);
  const std::string second = Build(true);

  b_.ResetFileTree(65535, 8191);
  ASSERT_TRUE(ImportInto(first, false));
  ASSERT_TRUE(ImportInto(second, false));
  EXPECT_EQ(b_.FileCount(), 1);
  EXPECT_EQ(Entry("\\", "A.DAT")->ISOLength, 3000) << "the first entry of a name wins";
  ASSERT_TRUE(ImportInto(second, true));
  EXPECT_EQ(b_.FileCount(), 1);
  EXPECT_EQ(Entry("\\", "A.DAT")->ISOLength, 5000) << "ReplaceFile refreshes it";
}

TEST_F(Import, DamagedDirectoriesAreRefusedWithoutHangingOrCrashing) {
  ASSERT_NE(b_.Tree().ForceDirs("\\SUB", b_.TreeHooks()), nullptr);
  ASSERT_EQ(b_.AddFile("\\SUB", Source("IN.DAT", 3000, 9), false), 1);
  ASSERT_EQ(b_.AddFile("\\", Source("A.DAT", 3000, 10), false), 1);
  const std::string image = Build(false);
  const uint32_t root = b_.Layout.ISODirArea;
  const size_t pvd = size_t{b_.Layout.PVDSector} * 2048;

  {  // A folder that lists the root again: a loop.
    std::string img = image;
    const size_t sub = FindRecord(img, root, "SUB");
    ASSERT_NE(sub, std::string::npos);
    PutBoth32(img, sub + 2, root);
    b_.ResetFileTree(65535, 8191);
    int refused = 0;
    EXPECT_TRUE(ImportInto(img, true, &refused));
    EXPECT_GE(refused, 1);
    EXPECT_NE(Entry("\\", "A.DAT"), nullptr);
  }
  {  // A file whose data would lie beyond the end of the disc.
    std::string img = image;
    const size_t a = FindRecord(img, root, "A.DAT;1");
    ASSERT_NE(a, std::string::npos);
    PutBoth32(img, a + 2, 999999);
    b_.ResetFileTree(65535, 8191);
    int refused = 0;
    EXPECT_TRUE(ImportInto(img, true, &refused));
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(Entry("\\", "A.DAT"), nullptr);
    EXPECT_NE(Entry("\\SUB", "IN.DAT"), nullptr);
  }
  {  // A folder beyond the end of the disc.
    std::string img = image;
    PutBoth32(img, FindRecord(img, root, "SUB") + 2, 0xFFFFFFF0u);
    b_.ResetFileTree(65535, 8191);
    int refused = 0;
    EXPECT_TRUE(ImportInto(img, true, &refused));
    EXPECT_EQ(refused, 1);
  }
  {  // The root directory said to end inside its first record.
    std::string img = image;
    PutBoth32(img, pvd + 156 + 10, 80);
    b_.ResetFileTree(65535, 8191);
    int refused = 0;
    ImportInto(img, true, &refused);
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(b_.FileCount(), 0);
  }
  {  // A record length shorter than a record, and an identifier longer than its record.
    std::string img = image;
    img[FindRecord(img, root, "A.DAT;1")] = 20;
    b_.ResetFileTree(65535, 8191);
    int refused = 0;
    ImportInto(img, true, &refused);
    EXPECT_GE(refused, 1);
    std::string img2 = image;
    img2[FindRecord(img2, root, "A.DAT;1") + 32] = 120;
    b_.ResetFileTree(65535, 8191);
    ImportInto(img2, true, &refused);
    EXPECT_GE(refused, 1);
    EXPECT_EQ(Entry("\\", "A.DAT"), nullptr);
  }
  {  // No volume descriptor at all.
    b_.ResetFileTree(65535, 8191);
    EXPECT_FALSE(ImportInto(std::string(40 * 2048, '\0'), true));
    EXPECT_EQ(log_.back(), ">>> ERROR IMPORTING SESSION 1 (ISO IMAGE NOT FOUND)");
  }
}

// ---- Sessions on one disc, read back by xorriso ------------------------------------------

class Sessions : public BurnFixture, public ::testing::WithParamInterface<const char*> {
 protected:
  // Extracts the session at `sector` with xorriso and returns the folder.
  fs::path Extract(uint32_t sector) {
    const fs::path out = env_.work() / ("x" + std::to_string(sector));
    const auto r = orv::test::run_command("xorriso -osirrox on -load sbsector " + std::to_string(sector) +
                                          " -indev stdio:" + orv::test::shell_quote(Image()) + " -extract / " +
                                          orv::test::shell_quote(out.string()) + " 2>&1");
    EXPECT_EQ(r.exit_code, 0) << r.output;
    orv::test::run_command("chmod -R u+w " + orv::test::shell_quote(out.string()));
    return out;
  }
};

TEST_P(Sessions, ThreeBurnsEachImportingTheOneBeforeReadBackByteForByte) {
  if (!orv::test::have_program("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  Start(GetParam());
  std::vector<uint32_t> starts;
  std::vector<std::map<std::string, std::string>> expected;  // per session: name -> source
  std::map<std::string, std::string> files;
  for (int k = 1; k <= 3; ++k) {
    NewBurner();
    const std::string db = Source("s" + std::to_string(k) + "/Sales.Dat", 50000 + 7000 * k, 100 + k);
    const std::string only = Source("s" + std::to_string(k) + "/only" + std::to_string(k) + ".bin", 3000 * k, 200 + k);
    Add(db);
    Add(only);
    burner_->SessionToImport = k == 1 ? 0 : 255;  // imported inside PrepareImage, after the adds
    Prepare();
    starts.push_back(burner_->SessionStart);
    const BurnResult r = Burn();
    ASSERT_EQ(r.error, "") << "burn " << k;
    files["Sales.Dat"] = db;
    files[fs::path(only).filename().string()] = only;
    expected.push_back(files);
  }
  EXPECT_LT(starts[0], starts[1]);
  EXPECT_LT(starts[1], starts[2]);
  for (size_t k = 0; k < starts.size(); ++k) {
    const fs::path dir = Extract(starts[k]);
    size_t listed = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
      ++listed;
      const auto want = expected[k].find(e.path().filename().string());
      ASSERT_NE(want, expected[k].end()) << "session " << k + 1 << " lists " << e.path();
      EXPECT_TRUE(orv::test::read_file(e.path()) == orv::test::read_file(want->second))
          << "session " << k + 1 << ": " << e.path().filename();
    }
    EXPECT_EQ(listed, expected[k].size()) << "session " << k + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(Media, Sessions, ::testing::Values("CD-R", "DVD+R"),
                         [](const auto& info) { return std::string(info.param[0] == 'C' ? "CDR" : "DVDPlusR"); });

TEST_F(Sessions, DvdMinusRReadsBackAndIsNotWrittenASecondTime) {
  if (!orv::test::have_program("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  // The track of a DVD-R is reserved one sector longer than it is written and its session is
  // not closed: the disc takes no second track. The second burn must end with the writer's
  // error and leave the first session readable.
  Start("DVD-R");
  const std::string first = Source("d1/data1.bin", 40000, 301);
  Add(first);
  Prepare();
  ASSERT_EQ(burner_->SessionStart, 0u);
  ASSERT_EQ(Burn().error, "");
  NewBurner();
  Add(Source("d2/data2.bin", 80000, 302));
  Prepare();
  const BurnResult second = Burn();
  EXPECT_EQ(second.error.rfind("WRITER ERROR [", 0), 0u) << second.error;
  const Ops ops = Opcodes();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "2A"), 1) << "one refused write, no retry";
  const fs::path dir = Extract(0);
  EXPECT_TRUE(orv::test::read_file(dir / "data1.bin") == orv::test::read_file(first));
  EXPECT_FALSE(fs::exists(dir / "data2.bin"));
}

TEST_F(Sessions, ImageTakenAwayBetweenBurnsMakesTheNextBurnAFreshDisc) {
  if (!orv::test::have_program("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  // The operator keeps each written image elsewhere; the tool keeps running. The next burn,
  // importing the last session as the tool may be set to, starts a blank disc at sector 0.
  Start("CD-R");
  const std::string first = Source("a/Sales.zip", 60000, 11);
  Add(first);
  Prepare();
  ASSERT_EQ(Burn().error, "");
  const fs::path kept = fs::path(Image()).parent_path() / "kept.iso";
  fs::rename(Image(), kept);
  NewBurner();
  const std::string second = Source("b/Stock.zip", 30000, 12);
  Add(second);
  burner_->SessionToImport = 255;
  Prepare();
  EXPECT_EQ(burner_->SessionStart, 0u);
  ASSERT_EQ(Burn().error, "");
  const fs::path dir = Extract(0);
  EXPECT_TRUE(orv::test::read_file(dir / "Stock.zip") == orv::test::read_file(second));
  EXPECT_FALSE(fs::exists(dir / "Sales.zip"));
  // The image taken away is as it was: one session with the first file.
  const auto r = orv::test::run_command("xorriso -indev stdio:" + orv::test::shell_quote(kept.string()) +
                                        " -ls / 2>&1");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("Sales.zip"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace orv::burner::test
