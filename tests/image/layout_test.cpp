// Image layout to the sector: where every structure lands, the bytes of the descriptors,
// directories, path tables and boot catalog.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <numeric>

#include "burner/file_tree.h"
#include "burner/image_headers.h"
#include "burner/image_layout.h"
#include "burner/image_writer.h"
#include "burner/names.h"
#include "burner/track_source.h"
#include "image_test_util.h"
#include "test_env.h"

namespace fs = std::filesystem;
using namespace orv::burner;
using namespace orv::burner::test;

namespace {

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(env.work());
    tree.ResetFileTree(65535, 8191);
  }
  TSearchRec Rec(const std::string& name, int64_t size, uint32_t attr = faArchive, const std::string& alt = {}) {
    TSearchRec r;
    r.Name = name;
    r.Size = size;
    r.Attr = attr;
    r.AlternateName = alt;
    r.Time = EncodeDateTime({2024, 3, 5, 14, 7, 9, 0});
    return r;
  }
  void AddFile(TDEntry* dir, const std::string& name, int64_t size, const std::string& alt = {}) {
    ASSERT_TRUE(tree.AddFileFromSearchRec(dir, Rec(name, size, faArchive, alt), "/src/" + name, 0, false, hooks));
  }
  std::string Text(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

  orv::test::TestEnv env;
  TFileTree tree;
  TFileTree::Hooks hooks;
};

TEST_F(LayoutTest, OneFileWithJoliet) {
  AddFile(tree.Root(), "data.bak", 10000);
  TVolumeIds ids;
  ids.IdVolume = "backup 2024";
  ids.IdSystem = "linux";
  const Built b = LayOut(tree, {0, true, false, 0}, ids);
  const TImageLayout& L = b.layout;
  EXPECT_EQ(L.PVDSector, 16u);
  EXPECT_EQ(L.SVDSector, 17u);
  EXPECT_EQ(L.TerminatorSector, 18u);
  EXPECT_EQ(L.ISOPathTableL, 19u);
  EXPECT_EQ(L.ISOPathTableM, 20u);
  EXPECT_EQ(L.JolietPathTableL, 21u);
  EXPECT_EQ(L.JolietPathTableM, 22u);
  EXPECT_EQ(L.ISODirArea, 23u);
  EXPECT_EQ(L.JolietDirArea, 24u);
  EXPECT_EQ(L.FirstFileSector, 150u);
  EXPECT_EQ(L.ImageEndSector, 155u);
  ASSERT_EQ(b.header.size(), 150u * 2048);

  const uint8_t* pvd = b.Sector(16);
  EXPECT_EQ(pvd[0], 1);
  EXPECT_EQ(Text(pvd + 1, 5), "CD001");
  EXPECT_EQ(Text(pvd + 8, 32), "LINUX" + std::string(27, ' '));
  EXPECT_EQ(Text(pvd + 40, 32), "BACKUP 2024" + std::string(21, ' '));
  EXPECT_EQ(GetBoth32(pvd + 80), 155u);
  EXPECT_EQ(Text(pvd + 88, 3), std::string(3, '\0'));  // the escape sequence is the SVD's alone
  EXPECT_EQ(Text(b.Sector(17) + 88, 3), "\x25\x2F\x40");
  EXPECT_EQ(orv::bytes::load_le16(pvd + 128), 2048u);
  EXPECT_EQ(orv::bytes::load_be16(pvd + 130), 2048u);
  EXPECT_EQ(GetBoth32(pvd + 132), 10u);
  EXPECT_EQ(orv::bytes::load_le32(pvd + 140), 19u);
  EXPECT_EQ(orv::bytes::load_be32(pvd + 148), 20u);
  EXPECT_EQ(pvd[156], 34);
  EXPECT_EQ(GetBoth32(pvd + 156 + 2), 23u);
  EXPECT_EQ(GetBoth32(pvd + 156 + 10), 2048u);
  EXPECT_EQ(Text(pvd + 813, 17), std::string("1899123000000000") + '\0');
  EXPECT_EQ(Text(pvd + 847, 17), std::string(16, '0') + '\0');
  EXPECT_EQ(pvd[881], 1);
  EXPECT_EQ(Text(pvd + 1024, 8), std::string(8, ' '));

  const uint8_t* svd = b.Sector(17);
  EXPECT_EQ(svd[0], 2);
  EXPECT_EQ(Text(svd + 40, 8), std::string("\0b\0a\0c\0k", 8));  // not upper-cased
  EXPECT_EQ(Text(svd + 40 + 22, 10), std::string("\0 \0 \0 \0 \0 ", 10));
  EXPECT_EQ(orv::bytes::load_le32(svd + 140), 21u);
  EXPECT_EQ(orv::bytes::load_be32(svd + 148), 22u);
  EXPECT_EQ(GetBoth32(svd + 156 + 2), 24u);
  EXPECT_EQ(svd[702 + 36], 0);  // 37th byte of the copyright field
  EXPECT_EQ(b.Sector(18)[0], 255);

  const auto iso = ReadDirectory(b.Sector(23), 2048);
  ASSERT_EQ(iso.size(), 3u);
  EXPECT_EQ(iso[0].id, std::string(1, '\0'));
  EXPECT_EQ(iso[0].extent, 23u);
  EXPECT_EQ(iso[1].id, std::string(1, '\1'));
  EXPECT_EQ(iso[1].extent, 23u);
  EXPECT_EQ(iso[2].id, "DATA.BAK;1");
  EXPECT_EQ(iso[2].extent, 150u);
  EXPECT_EQ(iso[2].data_length, 10000u);
  EXPECT_EQ(iso[2].flags, 0);
  const uint8_t* rec = b.Sector(23) + 68;
  EXPECT_EQ(rec[18], 124);  // 2024 - 1900
  EXPECT_EQ(rec[19], 3);
  EXPECT_EQ(rec[23], 9);
  EXPECT_EQ(static_cast<int8_t>(rec[24]), ZoneOffset15At(tree.Root()->FirstEntry->DateTime));

  const auto jol = ReadDirectory(b.Sector(24), 2048);
  ASSERT_EQ(jol.size(), 3u);
  EXPECT_EQ(jol[0].extent, 24u);
  EXPECT_EQ(jol[2].id, Utf8ToUcs2BE("data.bak;1"));
  EXPECT_EQ(jol[2].length, 34u + 20);
  EXPECT_EQ(jol[2].extent, 150u);
  // Padding sectors up to the first file are zero.
  for (uint32_t s = 25; s < 150; ++s) {
    const uint8_t* p = b.Sector(s);
    ASSERT_TRUE(std::all_of(p, p + 2048, [](uint8_t c) { return c == 0; })) << "sector " << s;
  }
}

TEST_F(LayoutTest, OneFileWithoutJoliet) {
  AddFile(tree.Root(), "data.bak", 10000);
  const Built b = LayOut(tree, {0, false, false, 0});
  const TImageLayout& L = b.layout;
  EXPECT_EQ(L.PVDSector, 16u);
  EXPECT_EQ(L.TerminatorSector, 17u);
  EXPECT_EQ(L.ISOPathTableL, 18u);
  EXPECT_EQ(L.ISOPathTableM, 19u);
  EXPECT_EQ(L.ISODirArea, 20u);
  EXPECT_EQ(L.FirstFileSector, 150u);
  EXPECT_EQ(L.ImageEndSector, 155u);
  EXPECT_EQ(Text(b.Sector(16) + 88, 3), std::string(3, '\0'));
  EXPECT_EQ(b.Sector(17)[0], 255);
  EXPECT_EQ(ReadDirectory(b.Sector(20), 2048)[2].extent, 150u);
}

TEST_F(LayoutTest, EmptyFilesTakeNoSector) {
  AddFile(tree.Root(), "a.dat", 3000);
  AddFile(tree.Root(), "empty.dat", 0);
  AddFile(tree.Root(), "b.dat", 2048);
  const Built b = LayOut(tree, {0, true, false, 0});
  EXPECT_EQ(b.layout.ImageEndSector, 150u + 2 + 1);
  for (uint32_t area : {b.layout.ISODirArea, b.layout.JolietDirArea}) {
    const auto recs = ReadDirectory(b.Sector(area), 2048);
    ASSERT_EQ(recs.size(), 5u);
    EXPECT_EQ(recs[2].extent, 150u);
    EXPECT_EQ(recs[3].extent, 0u);
    EXPECT_EQ(recs[3].data_length, 0u);
    EXPECT_EQ(recs[4].extent, 152u);
  }
  const auto pieces = TrackPieces(tree, b.layout, static_cast<int64_t>(b.header.size()), "");
  ASSERT_EQ(pieces.size(), 3u);  // header and the two files with data
  EXPECT_EQ(TrackBytes(pieces), static_cast<int64_t>(b.layout.TrackLength()) * 2048);
}

TEST_F(LayoutTest, ReadmeRecordIs42Bytes) {
  TSearchRec r = Rec("README", 5);
  ASSERT_TRUE(tree.AddFileFromSearchRec(tree.Root(), r, "/src/README", 0, false, hooks));
  const Built b = LayOut(tree, {0, false, false, 0});
  const uint8_t* rec = b.Sector(b.layout.ISODirArea) + 68;
  EXPECT_EQ(rec[0], 42);
  EXPECT_EQ(rec[32], 9);
  EXPECT_EQ(Text(rec + 33, 9), "README.;1");
  EXPECT_EQ(rec[42], 0);  // the next record would start here; nothing follows
}

TEST_F(LayoutTest, PathTableOfExactly4096Bytes) {
  // 10 + 253 x 16 + 18 + 20 = 4096
  for (int i = 0; i < 253; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "DIR%05d", i);
    ASSERT_NE(tree.AddDir(tree.Root(), name, faDirectory, hooks), nullptr);
  }
  ASSERT_NE(tree.AddDir(tree.Root(), "TENCHARS_X", faDirectory, hooks), nullptr);
  ASSERT_NE(tree.AddDir(tree.Root(), "TWELVE_CHARS", faDirectory, hooks), nullptr);
  const Built b = LayOut(tree, {0, false, false, 0});
  EXPECT_EQ(b.layout.ISOPathTableSize, 4096u);
  EXPECT_EQ(b.layout.ISOPathTableL, 18u);
  EXPECT_EQ(b.layout.ISOPathTableM, 20u);
  EXPECT_EQ(b.layout.ISODirArea, 22u);
  EXPECT_EQ(GetBoth32(b.Sector(16) + 132), 4096u);
  // The L table's last record ends on the last byte of its second sector.
  const uint8_t* l = b.Sector(18);
  size_t at = 0, records = 0;
  while (at < 4096 && l[at] != 0) {
    at += 8 + l[at] + (l[at] % 2);
    ++records;
  }
  EXPECT_EQ(at, 4096u);
  EXPECT_EQ(records, 256u);
  EXPECT_EQ(orv::bytes::load_be32(b.Sector(20) + 2), orv::bytes::load_le32(l + 2));
}

TEST_F(LayoutTest, DirectoryFillingExactlyOneSector) {
  // 68 + 55 x 36 = 2048
  for (int i = 0; i < 55; ++i) {
    const std::string name{static_cast<char>('A' + i / 10), static_cast<char>('0' + i % 10)};
    ASSERT_NE(tree.AddDir(tree.Root(), name, faDirectory, hooks), nullptr);
  }
  Built b = LayOut(tree, {0, false, false, 0});
  EXPECT_EQ(tree.Root()->ISOSize, 2048);
  const auto recs = ReadDirectory(b.Sector(b.layout.ISODirArea), 2048);
  ASSERT_EQ(recs.size(), 57u);
  EXPECT_EQ(b.layout.ISODirArea + 1, tree.FindDir("\\A0")->ISOSector + b.layout.ISODirArea);

  // One more record no longer fits and starts the second sector.
  tree.ResetFileTree(65535, 8191);
  for (int i = 0; i < 56; ++i) {
    const std::string name{static_cast<char>('A' + i / 10), static_cast<char>('0' + i % 10)};
    ASSERT_NE(tree.AddDir(tree.Root(), name, faDirectory, hooks), nullptr);
  }
  b = LayOut(tree, {0, false, false, 0});
  EXPECT_EQ(tree.Root()->ISOSize, 4096);
  const uint8_t* dir = b.Sector(b.layout.ISODirArea);
  EXPECT_EQ(Text(dir + 2045, 3), std::string("F4\0", 3));  // the 55th record's id "F4" and its pad byte end the sector
  EXPECT_EQ(dir[2048], 36);
  EXPECT_EQ(Text(dir + 2048 + 33, 2), "F5");
  EXPECT_EQ(ReadDirectory(dir, 4096).size(), 58u);
}

TEST_F(LayoutTest, FoldersNumberedBreadthFirstByShortName) {
  TDEntry* b_dir = tree.AddDir(tree.Root(), "B", faDirectory, hooks);
  TDEntry* a_dir = tree.AddDir(tree.Root(), "A", faDirectory, hooks);
  TDEntry* c = tree.AddDir(b_dir, "C", faDirectory, hooks);
  TDEntry* z = tree.AddDir(a_dir, "Z", faDirectory, hooks);
  TDEntry* ab = tree.AddDir(tree.Root(), "AB", faDirectory, hooks);
  const Built b = LayOut(tree, {0, true, false, 0});
  EXPECT_EQ(tree.Root()->Number, 1);
  EXPECT_EQ(a_dir->Number, 2);
  EXPECT_EQ(ab->Number, 3);
  EXPECT_EQ(b_dir->Number, 4);
  EXPECT_EQ(z->Number, 5);
  EXPECT_EQ(c->Number, 6);
  // Directories stay in creation order; the path tables follow the numbers.
  EXPECT_LT(b_dir->ISOSector, a_dir->ISOSector);
  for (uint32_t table : {b.layout.ISOPathTableL, b.layout.JolietPathTableL}) {
    const uint8_t* p = b.Sector(table);
    std::vector<uint32_t> parents;
    size_t at = 0;
    while (p[at] != 0) {
      parents.push_back(orv::bytes::load_le16(p + at + 6));
      at += 8 + p[at] + (p[at] % 2);
    }
    EXPECT_EQ(parents, (std::vector<uint32_t>{1, 1, 1, 1, 2, 4}));
  }
  const uint8_t* m = b.Sector(b.layout.ISOPathTableM);
  EXPECT_EQ(orv::bytes::load_be32(m + 2), b.layout.ISODirArea);
  EXPECT_EQ(orv::bytes::load_be32(m + 10 + 2), b.layout.ISODirArea + a_dir->ISOSector);
  const uint8_t* jl = b.Sector(b.layout.JolietPathTableL);
  EXPECT_EQ(orv::bytes::load_le32(jl + 10 + 2), b.layout.JolietDirArea + a_dir->JolietSector);
  EXPECT_EQ(Text(jl + 10 + 8, 2), std::string("\0A", 2));
}

TEST_F(LayoutTest, BootCatalogAndMediaTypes) {
  AddFile(tree.Root(), "f.dat", 100);
  for (const auto& [size, media] : std::vector<std::pair<int64_t, int>>{
           {1474560, 2}, {1228800, 1}, {2949120, 3}, {2048, 4}, {1474000, 2}, {5000, 4}}) {
    const Built b = LayOut(tree, {0, true, true, size});
    const TImageLayout& L = b.layout;
    EXPECT_EQ(L.BootRecordSector, 17u);
    EXPECT_EQ(L.SVDSector, 18u);
    EXPECT_EQ(L.TerminatorSector, 19u);
    EXPECT_EQ(L.BootImageSector, L.BootCatalogSector + 1);
    EXPECT_EQ(L.HeaderEndSector, L.BootImageSector);
    const uint32_t boot_sectors = static_cast<uint32_t>((size + 2047) / 2048);
    EXPECT_EQ(L.FirstFileSector, std::max(150u, L.BootImageSector + boot_sectors));
    EXPECT_EQ(L.BootPadBytes, int64_t{L.FirstFileSector - L.BootImageSector - boot_sectors} * 2048);
    const uint8_t* br = b.Sector(17);
    EXPECT_EQ(Text(br, 7), std::string("\0CD001\1", 7));
    EXPECT_EQ(Text(br + 7, 32), std::string("EL TORITO SPECIFICATION") + std::string(9, '\0'));
    EXPECT_EQ(orv::bytes::load_le32(br + 71), L.BootCatalogSector);
    const uint8_t* cat = b.Sector(L.BootCatalogSector);
    EXPECT_EQ(cat[0], 1);
    EXPECT_EQ(Text(cat + 4, 24), std::string("ORVAKELL DISC WRITER") + std::string(4, '\0'));
    uint32_t sum = 0;
    for (int i = 0; i < 32; i += 2) sum += orv::bytes::load_le16(cat + i);
    EXPECT_EQ(sum & 0xFFFF, 0u);
    EXPECT_EQ(cat[30], 0x55);
    EXPECT_EQ(cat[31], 0xAA);
    EXPECT_EQ(cat[32], 0x88);
    EXPECT_EQ(cat[33], media) << size;
    EXPECT_EQ(orv::bytes::load_le16(cat + 38), 1u);
    EXPECT_EQ(orv::bytes::load_le32(cat + 40), L.BootImageSector);
    EXPECT_EQ(b.header.size(), size_t{L.BootImageSector} * 2048);
    const auto pieces = TrackPieces(tree, L, static_cast<int64_t>(b.header.size()), "/boot.img");
    EXPECT_EQ(TrackBytes(pieces), static_cast<int64_t>(L.TrackLength()) * 2048);
  }
}

TEST_F(LayoutTest, AppendingAt20000) {
  AddFile(tree.Root(), "f.dat", 5000);
  TFEntry* imported = nullptr;
  ASSERT_TRUE(tree.AddFileFromSearchRec(tree.Root(), Rec("old.dat", 7000), "", 160, false, hooks));
  imported = tree.FileTable.back().get();
  const Built b = LayOut(tree, {20000, true, false, 0});
  const TImageLayout& L = b.layout;
  EXPECT_EQ(L.PVDSector, 20016u);
  EXPECT_EQ(L.ISODirArea, 20023u);
  EXPECT_EQ(L.FirstFileSector, 20025u);  // right after the directories, no padding
  EXPECT_EQ(L.ImageEndSector, 20028u);
  EXPECT_EQ(b.header.size(), 25u * 2048);
  EXPECT_EQ(GetBoth32(b.Sector(20016) + 80), 28u);
  EXPECT_EQ(GetBoth32(b.Sector(20016) + 156 + 2), 20023u);
  const auto recs = ReadDirectory(b.Sector(20023), 2048);
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(recs[2].extent, 20025u);
  EXPECT_EQ(recs[3].extent, 160u);  // imported: its sector on the disc
  EXPECT_EQ(recs[3].data_length, 7000u);
  EXPECT_TRUE(imported->Imported);
  EXPECT_EQ(tree.FilesSize, 6144);
}

TEST_F(LayoutTest, HiddenFlagAndDescriptorDates) {
  AddFile(tree.Root(), "visible.txt", 1);
  ASSERT_TRUE(tree.AddFileFromSearchRec(tree.Root(), Rec(".secret", 1, faArchive | faHidden, "SECRET~1"), "/s", 0, false, hooks));
  TVolumeIds ids;
  ids.DateCreation = EncodeDateTime({2024, 12, 31, 23, 59, 58, 345});
  ids.DateModification = EncodeDateTime({2025, 1, 2, 3, 4, 5, 5});
  const Built b = LayOut(tree, {0, false, false, 0}, ids);
  const auto recs = ReadDirectory(b.Sector(b.layout.ISODirArea), 2048);
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(recs[2].flags, 0);
  EXPECT_EQ(recs[3].flags, 1);
  EXPECT_EQ(recs[3].id, "SECRET~1.;1");
  EXPECT_EQ(Text(b.Sector(16) + 813, 16), "2024123123595834");
  EXPECT_EQ(Text(b.Sector(16) + 830, 16), "2025010203040505");
}

// The process's time zone for one test; the zone rules come from the system's tzdata.
class ZoneForTest {
 public:
  explicit ZoneForTest(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    had_ = std::getenv("TZ") != nullptr;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneForTest() {
    if (had_) ::setenv("TZ", old_.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

bool HaveZone(const char* zone) { return fs::exists(fs::path("/usr/share/zoneinfo") / zone); }

TEST(ZoneOffsets, TheOffsetInForceOnTheDateSummerTimeIncluded) {
  for (const char* zone : {"Europe/Berlin", "America/St_Johns", "Asia/Kathmandu"})
    if (!HaveZone(zone)) GTEST_SKIP() << "tzdata lacks " << zone;
  {
    ZoneForTest tz("Europe/Berlin");
    EXPECT_EQ(ZoneOffset15At(EncodeDateTime({2024, 7, 15, 14, 33, 0, 0})), 8);   // +02:00
    EXPECT_EQ(ZoneOffset15At(EncodeDateTime({2024, 1, 15, 14, 33, 0, 0})), 4);   // +01:00
    EXPECT_EQ(ZoneOffset15At(EncodeDateTime({2024, 3, 31, 1, 59, 58, 0})), 4);   // the last minute of winter
    EXPECT_EQ(ZoneOffset15At(EncodeDateTime({2024, 3, 31, 3, 0, 0, 0})), 8);     // the first of summer
  }
  {
    ZoneForTest tz("America/St_Johns");
    EXPECT_EQ(ZoneOffset15At(EncodeDateTime({2024, 7, 1, 12, 0, 0, 0})), -10);  // -02:30
    EXPECT_EQ(ZoneOffset15At(EncodeDateTime({2024, 12, 1, 12, 0, 0, 0})), -14);  // -03:30
  }
  {
    ZoneForTest tz("Asia/Kathmandu");
    EXPECT_EQ(ZoneOffset15At(EncodeDateTime({2024, 7, 1, 12, 0, 0, 0})), 23);  // +05:45
  }
}

TEST_F(LayoutTest, RecordAndDescriptorDatesCarryTheOffsetOfTheirOwnDay) {
  if (!HaveZone("Europe/Berlin")) GTEST_SKIP() << "tzdata lacks Europe/Berlin";
  ZoneForTest tz("Europe/Berlin");
  TSearchRec summer = Rec("summer.dat", 1);
  summer.Time = EncodeDateTime({2024, 7, 15, 14, 33, 0, 0});
  TSearchRec winter = Rec("winter.dat", 1);
  winter.Time = EncodeDateTime({2024, 1, 15, 14, 33, 0, 0});
  ASSERT_TRUE(tree.AddFileFromSearchRec(tree.Root(), summer, "/s", 0, false, hooks));
  ASSERT_TRUE(tree.AddFileFromSearchRec(tree.Root(), winter, "/w", 0, false, hooks));
  TVolumeIds ids;
  ids.DateCreation = EncodeDateTime({2024, 8, 1, 10, 0, 0, 0});
  ids.DateModification = EncodeDateTime({2024, 11, 1, 10, 0, 0, 0});
  for (const bool joliet : {false, true}) {
    const Built b = LayOut(tree, {0, joliet, false, 0}, ids);
    const uint32_t area = joliet ? b.layout.JolietDirArea : b.layout.ISODirArea;
    const auto recs = ReadDirectory(b.Sector(area), 2048);
    ASSERT_EQ(recs.size(), 4u);
    const uint8_t* first = b.Sector(area) + recs[0].length + recs[1].length;
    const uint8_t* second = first + recs[2].length;
    EXPECT_EQ(first[18 + 3], 14);  // the hour stays local time
    EXPECT_EQ(static_cast<int8_t>(first[18 + 6]), 8) << "summer, joliet " << joliet;
    EXPECT_EQ(second[18 + 3], 14);
    EXPECT_EQ(static_cast<int8_t>(second[18 + 6]), 4) << "winter, joliet " << joliet;
  }
  const Built b = LayOut(tree, {0, false, false, 0}, ids);
  EXPECT_EQ(static_cast<int8_t>(b.Sector(16)[813 + 16]), 8);
  EXPECT_EQ(static_cast<int8_t>(b.Sector(16)[830 + 16]), 4);
}

TEST_F(LayoutTest, TrackReaderDeliversTheTrackInOrder) {
  const fs::path a = env.work() / "a.bin";
  const fs::path c = env.work() / "c.bin";
  std::string a_bytes(100000, '\0'), c_bytes(3000, '\0');
  for (size_t i = 0; i < a_bytes.size(); ++i) a_bytes[i] = static_cast<char>(i * 7 + 1);
  for (size_t i = 0; i < c_bytes.size(); ++i) c_bytes[i] = static_cast<char>(i * 13 + 5);
  orv::test::write_file(a, a_bytes);
  orv::test::write_file(c, c_bytes);
  for (const auto& p : {a, c}) {
    auto rec = FindSourceFile(p.string());
    ASSERT_TRUE(rec);
    ASSERT_TRUE(tree.AddFileFromSearchRec(tree.Root(), *rec, p.string(), 0, false, hooks));
  }
  const Built b = LayOut(tree, {0, true, false, 0});
  TTrackReader reader(TrackPieces(tree, b.layout, static_cast<int64_t>(b.header.size()), ""), b.header);
  std::vector<uint8_t> track;
  std::vector<uint8_t> block(63488);
  for (;;) {
    const int64_t n = reader.Read(block.data(), static_cast<int64_t>(block.size()));
    ASSERT_GE(n, 0) << reader.Error();
    if (n == 0) break;
    EXPECT_EQ(n % 2048, 0);
    track.insert(track.end(), block.begin(), block.begin() + n);
  }
  ASSERT_EQ(track.size(), b.layout.TrackLength() * 2048);
  EXPECT_TRUE(std::equal(b.header.begin(), b.header.end(), track.begin()));
  const size_t a_at = size_t{b.layout.FirstFileSector} * 2048;
  EXPECT_EQ(std::string(track.begin() + a_at, track.begin() + a_at + 100000), a_bytes);
  EXPECT_TRUE(std::all_of(track.begin() + a_at + 100000, track.begin() + a_at + 100352, [](uint8_t x) { return x == 0; }));
  const size_t c_at = a_at + 100352;
  EXPECT_EQ(std::string(track.begin() + c_at, track.begin() + c_at + 3000), c_bytes);

  // The image writer produces the same bytes, as a new file and into an existing one.
  const fs::path image = env.work() / "t.iso";
  ASSERT_EQ(WriteImageFile(image.string(), TrackPieces(tree, b.layout, static_cast<int64_t>(b.header.size()), ""),
                           b.header),
            "");
  EXPECT_EQ(orv::test::read_file(image), std::string(track.begin(), track.end()));
  orv::test::write_file(image, std::string(4096 + track.size(), '\xEE'));
  ASSERT_EQ(WriteImageFile(image.string(), TrackPieces(tree, b.layout, static_cast<int64_t>(b.header.size()), ""),
                           b.header, {4096}),
            "");
  EXPECT_EQ(orv::test::read_file(image).substr(4096), std::string(track.begin(), track.end()));

  // A source that changed size after it was added stops the read with a message naming it.
  orv::test::write_file(c, "short");
  TTrackReader again(TrackPieces(tree, b.layout, static_cast<int64_t>(b.header.size()), ""), b.header);
  int64_t n = 0;
  while ((n = again.Read(block.data(), static_cast<int64_t>(block.size()))) > 0) {
  }
  EXPECT_EQ(n, -1);
  EXPECT_EQ(again.Error(), "FILE \"" + c.string() + "\" CHANGED SIZE SINCE IT WAS ADDED");
  fs::remove(a);
  TTrackReader gone(TrackPieces(tree, b.layout, static_cast<int64_t>(b.header.size()), ""), b.header);
  while ((n = gone.Read(block.data(), static_cast<int64_t>(block.size()))) > 0) {
  }
  EXPECT_EQ(n, -1);
  EXPECT_EQ(gone.Error(), "CAN'T OPEN FILE \"" + a.string() + "\" OR FILE IS IN USES BY OTHER SOFTWARE");
}

TEST(DescriptorDates, SixteenCharacters) {
  EXPECT_EQ(FormatDescriptorDate(0).substr(0, 16), "1899123000000000");
  EXPECT_EQ(FormatDescriptorDate(EncodeDateTime({2001, 2, 3, 4, 5, 6, 345})).substr(0, 16), "2001020304050634");
  EXPECT_EQ(FormatDescriptorDate(EncodeDateTime({2001, 2, 3, 4, 5, 6, 5})).substr(0, 16), "2001020304050605");
  const TDateParts p = DecodeDateTime(EncodeDateTime({2038, 1, 19, 3, 14, 8, 999}));
  EXPECT_EQ(p.Year, 2038);
  EXPECT_EQ(p.Second, 8);
  EXPECT_EQ(p.MilliSecond, 999);
}

}  // namespace
