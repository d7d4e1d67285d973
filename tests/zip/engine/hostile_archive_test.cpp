// Hostile archives: entries sharing bytes, declared sizes past the free space, data longer or
// shorter than declared. Each is refused with its reason and leaves nothing in the target.
#include <gtest/gtest.h>

#include <sys/statvfs.h>

#include <filesystem>

#include "hostile_archive.h"
#include "zip/messages/message_ids.h"
#include "zip_test_support.h"

namespace orv::zip {
namespace {

namespace fs = std::filesystem;
using orv::test::read_file;
using orv::test::TestEnv;
using orv::test::write_file;
using testing::ArchiverFixture;
using testing::make_entry;
using testing::RawEntry;

struct Outcome {
  int count;
  std::string texts;
  std::vector<std::string> left;  // what the target folder holds afterwards
};

Outcome extract(const fs::path& archive, const fs::path& target, bool test = false) {
  fs::create_directories(target);
  ArchiverFixture f;
  f.zip.SetZipFileName(archive.string());
  f.zip.ExtrBaseDir = target.string();
  if (test) f.zip.ExtrOptions.insert(ExtrOptsEnum::ExtrTest);
  const int count = f.zip.Extract();
  return {count, f.texts(), testing::list_folder(target)};
}

TEST(HostileArchive, EntriesSharingBytesAreRefusedBeforeAnythingIsWritten) {
  TestEnv env;
  const fs::path w = env.work();
  const std::string payload(60000, 'z');

  // 200 central entries over one local entry: the overlapping-entry bomb.
  RawEntry one = make_entry("one.txt", payload, 8);
  const std::string body = testing::local_record(one);
  std::vector<RawEntry> many;
  for (int i = 0; i < 200; ++i) {
    RawEntry e = one;
    e.name = i == 0 ? "one.txt" : "copy" + std::to_string(i) + ".txt";
    many.push_back(e);
  }
  write_file(w / "bomb.zip", testing::archive_bytes(body, many));

  // A local header hidden inside the data of a stored entry.
  const RawEntry inner = make_entry("inner.txt", "inner data", 0);
  const std::string inner_record = testing::local_record(inner);
  RawEntry outer = make_entry("outer.bin", "head" + inner_record + "tail", 0);
  RawEntry hidden = inner;
  hidden.local_offset = 30 + outer.name.size() + 4;  // inside outer's data
  write_file(w / "nested.zip", testing::archive_bytes(testing::local_record(outer), {outer, hidden}));

  // Two entries whose data overlap by one byte (the second header starts inside the first's data).
  RawEntry a = make_entry("a.txt", "aaaaaaaaaa", 0), b = make_entry("b.txt", "bbbbbbbbbb", 0);
  std::string two = testing::local_record(a);
  b.local_offset = two.size() - 1;
  two.pop_back();
  two += testing::local_record(b);
  write_file(w / "overlap.zip", testing::archive_bytes(two, {a, b}));

  for (const char* name : {"bomb.zip", "nested.zip", "overlap.zip"}) {
    SCOPED_TRACE(name);
    for (bool test : {false, true}) {
      const Outcome o = extract(w / name, w / "out", test);
      EXPECT_EQ(o.count, 0);
      EXPECT_NE(o.texts.find("overlap in the archive (possible zip bomb)"), std::string::npos) << o.texts;
      EXPECT_TRUE(o.left.empty()) << o.left.front();
    }
  }
  const Outcome o = extract(w / "bomb.zip", w / "out");
  EXPECT_NE(o.texts.find("one.txt and copy1.txt"), std::string::npos) << "names both entries\n" << o.texts;

  // The same entries laid out apart extract as usual: the check does not refuse honest archives.
  write_file(w / "apart.zip", testing::simple_archive({a, b, make_entry("empty.txt", "", 0), one}));
  const Outcome fine = extract(w / "apart.zip", w / "fine");
  EXPECT_EQ(fine.count, 4) << fine.texts;
  EXPECT_EQ(read_file(w / "fine" / "one.txt"), payload);
}

TEST(HostileArchive, DeclaredSizesPastTheFreeSpaceAreRefusedWithBothNumbers) {
  TestEnv env;
  const fs::path w = env.work();
  RawEntry small = make_entry("small.txt", "fits", 0);
  RawEntry huge = make_entry("huge.Dat", std::string(1000, 'x'), 8);
  huge.uncompressed = uint64_t{1} << 60;  // 1 EiB, declared in the Zip64 field
  huge.zip64_sizes = true;
  write_file(w / "huge.zip", testing::simple_archive({small, huge}));
  struct statvfs fs{};
  ASSERT_EQ(::statvfs(env.work().c_str(), &fs), 0);

  const Outcome o = extract(w / "huge.zip", w / "out");
  EXPECT_EQ(o.count, 0);
  EXPECT_NE(o.texts.find("Not enough free space in"), std::string::npos) << o.texts;
  EXPECT_NE(o.texts.find("need " + std::to_string((uint64_t{1} << 60) + 4) + " bytes"), std::string::npos) << o.texts;
  EXPECT_NE(o.texts.find(" bytes are free"), std::string::npos) << o.texts;
  EXPECT_TRUE(o.left.empty()) << "small.txt fits but nothing is written";

  // Selecting only what fits extracts it.
  ArchiverFixture f;
  f.zip.SetZipFileName((w / "huge.zip").string());
  f.zip.ExtrBaseDir = (w / "out").string();
  f.zip.FSpecArgs = {"small.txt"};
  EXPECT_EQ(f.zip.Extract(), 1) << f.texts();
  EXPECT_EQ(read_file(w / "out" / "small.txt"), "fits");
}

TEST(HostileArchive, InflationStopsAtTheDeclaredSize) {
  TestEnv env;
  const fs::path w = env.work();
  // 8 MiB of zeros (a few KiB compressed) that claim to be 1000 bytes, with the right CRC of
  // the first 1000 bytes so only the length gives them away.
  RawEntry longer = make_entry("longer.txt", std::string(8 << 20, '\0'), 8);
  const RawEntry first = make_entry("x", std::string(1000, '\0'), 0);
  longer.uncompressed = 1000;
  longer.crc = first.crc;
  write_file(w / "longer.zip", testing::simple_archive({longer}));
  for (bool test : {false, true}) {
    const Outcome o = extract(w / "longer.zip", w / "out", test);
    EXPECT_EQ(o.count, 0);
    EXPECT_NE(o.texts.find("data of longer.txt is longer than its declared size of 1000 bytes"), std::string::npos)
        << o.texts;
    EXPECT_TRUE(o.left.empty()) << "no file, no temporary";
  }

  // A stored entry whose sizes disagree is refused the same way, before a byte is copied.
  RawEntry stored = make_entry("stored.txt", std::string(5000, 's'), 0);
  stored.uncompressed = 10;
  write_file(w / "stored.zip", testing::simple_archive({stored}));
  const Outcome s = extract(w / "stored.zip", w / "out");
  EXPECT_EQ(s.count, 0);
  EXPECT_NE(s.texts.find("stored entry stored.txt holds 5000 bytes but declares 10 bytes"), std::string::npos)
      << s.texts;
  EXPECT_TRUE(s.left.empty());
}

TEST(HostileArchive, ShorterDataSaysBothSizesInBytes) {
  TestEnv env;
  const fs::path w = env.work();
  RawEntry shorter = make_entry("big.txt", "hello world", 8);
  shorter.uncompressed = 211182190;  // the found and expected sizes differ
  write_file(w / "short.zip", testing::simple_archive({shorter}));
  const Outcome o = extract(w / "short.zip", w / "out");
  EXPECT_EQ(o.count, 0);
  EXPECT_NE(o.texts.find("Size mismatch in big.txt (found 11 bytes, expected 211182190 bytes)"), std::string::npos)
      << o.texts;
  EXPECT_TRUE(o.left.empty());

  // A CRC error names both checksums, in hexadecimal as tools print them.
  RawEntry wrong = make_entry("crc.txt", "hello world", 8);
  wrong.crc = 0x0C96666E;
  write_file(w / "crc.zip", testing::simple_archive({wrong}));
  const Outcome c = extract(w / "crc.zip", w / "out");
  EXPECT_EQ(c.count, 0);
  EXPECT_NE(c.texts.find("CRC error in crc.txt (found CRC 0D4A1185, expected 0C96666E)"), std::string::npos) << c.texts;
  EXPECT_TRUE(c.left.empty());
}

}  // namespace
}  // namespace orv::zip
