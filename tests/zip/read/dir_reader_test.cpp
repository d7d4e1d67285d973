// The directory reader on archives built in memory: end record search, comment and garbage
// rules, folder entries, name conversion, Zip64 and every error number on damaged input.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <set>

#include "zip/dirreader/zip_dir_reader.h"
#include "zip_fixture.h"

namespace orv::zip {
namespace {

using testing::BuildZip;
using testing::Fixture;
using testing::FixtureEntry;
using testing::FixtureOptions;

struct ReadRun {
  int result = -1;
  ZipDirectoryState state;
  std::vector<int> messages;           // OnMessage codes in order
  std::vector<std::string> events;     // progress and names in order
  int dir_updates = 0;
  std::vector<std::pair<std::uint64_t, std::size_t>> log;  // reads: offset, asked
  std::size_t reads = 0;
};

struct SourceSettings {
  std::size_t fail_at = 0;
  std::size_t max_chunk = 0;
};

ReadRun Read(std::string_view bytes, ZipDirReaderOptions options = {}, std::function<bool()> cancel = {},
         SourceSettings settings = {}) {
  ReadRun run;
  MemoryZipSource memory(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  TestingZipSource source(memory);
  source.fail_at = settings.fail_at;
  source.max_chunk = settings.max_chunk;
  ZipMessenger messenger;
  messenger.Unattended = true;
  messenger.OnMessage = [&run](int code, const std::string&) { run.messages.push_back(code); };
  ZipDirReaderEvents events;
  events.OnProgress = [&run](ProgressType t, const std::string& name, std::int64_t size) {
    run.events.push_back("progress " + std::to_string(static_cast<int>(t)) + " " + name + " " + std::to_string(size));
  };
  events.OnNewName = [&run](int seq, const ZipDirEntry& e) { run.events.push_back("name " + std::to_string(seq) + " " + e.FileName); };
  events.OnDirUpdate = [&run] { ++run.dir_updates; };
  events.Cancel = std::move(cancel);
  run.result = ReadZipDirectory(source, options, events, messenger, run.state);
  run.log = source.log;
  run.reads = source.reads;
  return run;
}

std::vector<FixtureEntry> TwoFiles() {
  FixtureEntry a{.name = "backups/x.dat", .data = "hello", .crc = 0x3610A686};
  FixtureEntry b{.name = "readme.txt", .data = "text", .crc = 0x3B18B1E8};
  return {a, b};
}

TEST(ZipDirReader, ReadsEntriesFieldByField) {
  FixtureEntry e{.name = "docs/a.txt", .data = "abc", .host = 11, .made_by = 63, .flag = 0x0001,
                 .dos_time = 0x5B8E7A31, .crc = 0x352441C2, .comment = "note", .extra = std::string("\x55\x54\x01\x00\x01", 5)};
  const Fixture f = BuildZip({e});
  const ReadRun run = Read(f.bytes);
  ASSERT_EQ(run.result, 0);
  ASSERT_TRUE(run.state.ok);
  ASSERT_EQ(run.state.Entries.size(), 1u);
  const ZipDirEntry& d = run.state.Entries[0];
  EXPECT_EQ(d.FileName, "docs\\a.txt");
  EXPECT_EQ(d.StoredName, "docs/a.txt");
  EXPECT_EQ(d.HostSys, 11);
  EXPECT_EQ(d.MadeByVersion, 63);
  EXPECT_TRUE(d.Encrypted);
  EXPECT_EQ(d.CRC32, 0x352441C2u);
  EXPECT_EQ(d.ComprSize, 3u);
  EXPECT_EQ(d.UncomprSize, 3u);
  EXPECT_EQ(d.FileComment, "note");
  EXPECT_EQ(d.ExtraData, e.extra);
  EXPECT_EQ(d.ExtraFieldLength, 5);
  EXPECT_EQ(d.RelOffLocalHdr, 0u);
  const ZipDosTime t = DecodeDosDateTime(d.DateTime);
  EXPECT_EQ(t.year, 2025);
  EXPECT_EQ(t.month, 12);
  EXPECT_EQ(t.day, 14);
  EXPECT_EQ(t.hour, 15);
  EXPECT_EQ(t.minute, 17);
  EXPECT_EQ(t.second, 34);
  EXPECT_EQ(run.state.CentralDirOffset, f.central_offset);
  EXPECT_EQ(run.state.FileSize, f.bytes.size());
  EXPECT_TRUE(run.messages.empty());
  EXPECT_EQ(run.dir_updates, 1);
}

TEST(ZipDirReader, CommentFoundBySecondRead) {
  FixtureOptions o;
  o.comment = std::string(100, 'c');
  const Fixture f = BuildZip(TwoFiles(), o);
  const ReadRun run = Read(f.bytes);
  const auto& probe = run;
  ASSERT_EQ(run.result, 0);
  EXPECT_EQ(run.state.ZipComment, o.comment);
  EXPECT_EQ(f.bytes.size() - f.end_position, 122u);
  ASSERT_GE(probe.log.size(), 2u);
  EXPECT_EQ(probe.log[0], (std::pair<std::uint64_t, std::size_t>(f.bytes.size() - 22, 22)));
  EXPECT_EQ(probe.log[1], (std::pair<std::uint64_t, std::size_t>(0, f.bytes.size())));
  // Then the central directory, header by header: 46 bytes, name, (extra), (comment).
  EXPECT_EQ(probe.log[3].first, f.central_offset);
  EXPECT_EQ(probe.log[3].second, 46u);
  EXPECT_EQ(run.state.Entries.size(), 2u);
  EXPECT_TRUE(run.messages.empty());
}

TEST(ZipDirReader, EndRecordAtTheEndTakesOneRead) {
  const Fixture f = BuildZip(TwoFiles());
  const ReadRun run = Read(f.bytes);
  const auto& probe = run;
  ASSERT_EQ(run.result, 0);
  EXPECT_EQ(probe.log[0].second, 22u);
  EXPECT_EQ(probe.log[1].first, f.end_position - 20);  // Zip64 locator probe, then the directory
  EXPECT_EQ(probe.log[2].first, f.central_offset);
}

TEST(ZipDirReader, EmptyArchive) {
  const Fixture f = BuildZip({});
  ASSERT_EQ(f.bytes.size(), 22u);
  const ReadRun run = Read(f.bytes);
  EXPECT_EQ(run.result, 0);
  EXPECT_TRUE(run.state.ok);
  EXPECT_TRUE(run.state.Entries.empty());
  EXPECT_EQ(run.state.SFXOffset, 0u);
  EXPECT_FALSE(run.state.StructureWarning);
  EXPECT_TRUE(run.messages.empty());
}

TEST(ZipDirReader, FolderEntriesLeftOutUnlessAsked) {
  FixtureEntry dir{.name = "backups/"};
  FixtureEntry file{.name = "backups/x.dat", .data = "1234"};
  const Fixture f = BuildZip({dir, file});
  const ReadRun run = Read(f.bytes);
  ASSERT_EQ(run.result, 0);
  ASSERT_EQ(run.state.Entries.size(), 1u);
  EXPECT_EQ(run.state.Entries[0].FileName, "backups\\x.dat");
  EXPECT_EQ(run.state.DirOnlyCount, 1u);
  const std::vector<std::string> expected = {"progress 5 *Loading Directory 2", "progress 6 *Loading Directory 1",
                                             "name 1 backups\\x.dat", "progress 6 *Loading Directory 1",
                                             "progress 2  0"};
  EXPECT_EQ(run.events, expected);

  ZipDirReaderOptions with_dirs;
  with_dirs.UseDirOnlyEntries = true;
  const ReadRun all = Read(f.bytes, with_dirs);
  ASSERT_EQ(all.state.Entries.size(), 2u);
  EXPECT_EQ(all.state.Entries[0].FileName, "backups\\");
  EXPECT_EQ(all.state.DirOnlyCount, 0u);
}

TEST(ZipDirReader, TrailingBytesWarnUnlessShortPadding) {
  const auto with_trailer = [](std::string trailer) {
    FixtureOptions o;
    o.trailer = std::move(trailer);
    return Read(BuildZip(TwoFiles(), o).bytes);
  };
  const ReadRun many_zeros = with_trailer(std::string(600, '\0'));
  EXPECT_EQ(many_zeros.result, 0);
  EXPECT_EQ(many_zeros.messages, std::vector<int>{10204});
  EXPECT_TRUE(many_zeros.state.GarbageWarning);
  EXPECT_EQ(many_zeros.state.Entries.size(), 2u);

  const ReadRun few_zeros = with_trailer(std::string(100, '\0'));
  EXPECT_EQ(few_zeros.result, 0);
  EXPECT_TRUE(few_zeros.messages.empty());
  EXPECT_EQ(few_zeros.state.Entries.size(), 2u);

  EXPECT_TRUE(with_trailer(std::string(511, '.')).messages.empty());   // 0x2E is padding
  EXPECT_EQ(with_trailer(std::string(10, '/')).messages, std::vector<int>{10204});  // 0x2F is not
}

TEST(ZipDirReader, NotAZipArchive) {
  for (const std::string& text : {std::string("just some text\n"), std::string(), std::string(70000, 'x'),
                                 std::string("PK\x05\x06", 4)}) {
    const ReadRun run = Read(text);
    EXPECT_EQ(run.result, 11036);
    EXPECT_EQ(run.messages, std::vector<int>{11036});
    EXPECT_FALSE(run.state.ok);
    EXPECT_TRUE(run.state.Entries.empty());
    EXPECT_EQ(run.dir_updates, 1);
  }
}

TEST(ZipDirReader, EndRecordBeyondTheSearchIsNotFound) {
  FixtureOptions o;
  o.trailer = std::string(65557 - 22 + 1, '\0');  // record just outside the last 65,557 bytes
  EXPECT_EQ(Read(BuildZip(TwoFiles(), o).bytes).result, 11036);
  o.trailer.pop_back();
  const ReadRun inside = Read(BuildZip(TwoFiles(), o).bytes);
  EXPECT_EQ(inside.result, 0);
  EXPECT_EQ(inside.messages, std::vector<int>{10204});
}

TEST(ZipDirReader, DataInFrontShiftsOffsets) {
  FixtureOptions o;
  o.prefix = std::string(1000, 'M');
  const Fixture f = BuildZip(TwoFiles(), o);
  const ReadRun run = Read(f.bytes);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.messages, std::vector<int>{10203});
  EXPECT_TRUE(run.state.StructureWarning);
  EXPECT_EQ(run.state.CentralDirOffset, f.central_offset);
  EXPECT_EQ(run.state.SFXOffset, 1000u);
  EXPECT_EQ(run.state.Entries.size(), 2u);
}

TEST(ZipDirReader, DamagedDirectoriesGiveTheirNumbers) {
  const Fixture f = BuildZip(TwoFiles());
  const std::size_t second = f.central_header_at[1];

  std::string bad_sig = f.bytes;
  bad_sig[second] = 'X';
  ReadRun run = Read(bad_sig);
  EXPECT_EQ(run.result, 11015);
  EXPECT_EQ(run.messages, std::vector<int>{11015});
  EXPECT_FALSE(run.state.ok);
  EXPECT_EQ(run.state.Entries.size(), 1u);  // what was read stays, marked as failed
  EXPECT_EQ(run.dir_updates, 1);

  std::string long_name = f.bytes;
  testing::Set16(long_name, second + 28, 0xFFFF);
  EXPECT_EQ(Read(long_name).result, 11017);

  std::string long_extra = f.bytes;
  testing::Set16(long_extra, second + 30, 0xFFFF);
  EXPECT_EQ(Read(long_extra).result, 10201);

  std::string long_comment = f.bytes;
  testing::Set16(long_comment, second + 32, 0xFFFF);
  EXPECT_EQ(Read(long_comment).result, 11022);

  std::string small_size = f.bytes;  // directory said to be 10 bytes: the header runs out
  testing::Set32(small_size, f.end_position + 12, 10);
  run = Read(small_size);
  EXPECT_EQ(run.result, 11013);
  EXPECT_EQ(run.messages, (std::vector<int>{10203, 11013}));

  FixtureOptions more;
  more.total_entries_delta = 1;  // one entry more than there are: the end record is next
  EXPECT_EQ(Read(BuildZip(TwoFiles(), more).bytes).result, 11013);  // 22 bytes left, not 46
  more.comment = std::string(30, 'c');
  EXPECT_EQ(Read(BuildZip(TwoFiles(), more).bytes).result, 11015);  // 46 bytes, wrong signature

  std::string far_offset = f.bytes;  // directory bigger than the file
  testing::Set32(far_offset, f.end_position + 12, 0x7FFFFFFF);
  testing::Set32(far_offset, f.end_position + 16, 0x7FFFFFFF);
  EXPECT_EQ(Read(far_offset).result, 10201);
}

TEST(ZipDirReader, EveryTruncationFailsCleanly) {
  FixtureOptions o;
  o.comment = "archive comment";
  const Fixture f = BuildZip(TwoFiles(), o);
  for (std::size_t cut = 0; cut < f.bytes.size(); ++cut) {
    const ReadRun run = Read(std::string_view(f.bytes).substr(0, cut));
    if (cut == f.end_position + 22) {  // only the comment is gone: the record ends the file
      EXPECT_EQ(run.result, 0);
      EXPECT_EQ(run.state.ZipComment, "");
      EXPECT_EQ(run.state.Entries.size(), 2u);
      continue;
    }
    EXPECT_NE(run.result, 0) << cut;
    EXPECT_FALSE(run.state.ok) << cut;
    EXPECT_EQ(run.dir_updates, 1);
  }
  // Cutting the front instead keeps the end record: offsets no longer match.
  for (std::size_t cut = 1; cut < f.central_offset; cut += 7) {
    const ReadRun run = Read(std::string_view(f.bytes).substr(cut));
    EXPECT_EQ(run.result, 0) << cut;
    EXPECT_EQ(run.messages, std::vector<int>{10203}) << cut;
  }
}

TEST(ZipDirReader, RandomDamageNeverCrashes) {
  std::vector<FixtureEntry> entries = TwoFiles();
  entries[0].zip64_sizes = true;
  FixtureOptions o;
  o.zip64_end = true;
  o.comment = "c";
  const Fixture f = BuildZip(entries, o);
  std::mt19937 rng(3);
  const std::set<int> allowed = {0, 10201, 11013, 11015, 11017, 11022, 11036};
  for (int n = 0; n < 3000; ++n) {
    std::string bad = f.bytes;
    for (int k = 0; k < 1 + n % 4; ++k) bad[rng() % bad.size()] = static_cast<char>(rng() % 4 == 0 ? 0xFF : rng());
    const ReadRun run = Read(bad);
    EXPECT_TRUE(allowed.count(run.result)) << run.result;
  }
}

TEST(ZipDirReader, ReadErrorsAndShortPieces) {
  const Fixture f = BuildZip(TwoFiles());
  for (std::size_t n = 1; n <= 12; ++n) {
    const std::size_t reads_when_good = Read(f.bytes).reads;
    const ReadRun run = Read(f.bytes, {}, {}, {.fail_at = n});
    if (n <= reads_when_good) {
      EXPECT_NE(run.result, 0) << n;
      EXPECT_FALSE(run.messages.empty()) << n;
    } else {
      EXPECT_EQ(run.result, 0) << n;
    }
  }
  const ReadRun run = Read(f.bytes, {}, {}, {.max_chunk = 3});
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.state.Entries.size(), 2u);
}

TEST(ZipDirReader, CancelStopsAfterTheEntry) {
  const Fixture f = BuildZip(TwoFiles());
  int polls = 0;
  const ReadRun run = Read(f.bytes, {}, [&polls] { return ++polls == 1; });
  EXPECT_EQ(run.result, 11007);
  EXPECT_EQ(run.messages, std::vector<int>{11007});
  EXPECT_EQ(run.state.Entries.size(), 1u);
  EXPECT_FALSE(run.state.ok);
  EXPECT_EQ(run.events.back(), "progress 2  0");
}

TEST(ZipDirReader, Zip64EndRecordsAndExtraFields) {
  std::vector<FixtureEntry> entries = TwoFiles();
  entries[1].zip64_sizes = true;
  entries[1].zip64_usize = 5'000'000'000ULL;
  entries[1].zip64_csize = 4'300'000'000ULL;
  FixtureOptions o;
  o.zip64_end = true;
  const Fixture f = BuildZip(entries, o);
  const ReadRun run = Read(f.bytes);
  ASSERT_EQ(run.result, 0);
  EXPECT_TRUE(run.state.Zip64);
  EXPECT_TRUE(run.messages.empty());
  ASSERT_EQ(run.state.Entries.size(), 2u);
  EXPECT_EQ(run.state.Entries[1].UncomprSize, 5'000'000'000ULL);
  EXPECT_EQ(run.state.Entries[1].ComprSize, 4'300'000'000ULL);
  EXPECT_EQ(run.state.Entries[0].UncomprSize, 5u);
  EXPECT_EQ(run.state.CentralDirOffset, f.central_offset);

  FixtureOptions shifted = o;  // Zip64 record found next to the locator when offsets are off
  shifted.prefix = std::string(333, 'p');
  const ReadRun moved = Read(BuildZip(entries, shifted).bytes);
  EXPECT_EQ(moved.result, 0);
  EXPECT_EQ(moved.messages, std::vector<int>{10203});
  EXPECT_EQ(moved.state.SFXOffset, 333u);

  std::string no_extra = f.bytes;  // sizes marked 0xFFFFFFFF but the Zip64 field names another tag
  testing::Set16(no_extra, f.central_header_at[1] + 46 + entries[1].name.size(), 0x5455);
  EXPECT_EQ(Read(no_extra).result, 11013);

  std::string lost_record = f.bytes;  // locator points at nothing and nothing is next to it
  lost_record[f.end_position - 20 - 56] = 'X';
  EXPECT_EQ(Read(lost_record).result, 11013);
}

TEST(ZipDirReader, ImpossibleEntryCountsReserveNothingLarge) {
  // 0xFFFF entries claimed by a 100-byte directory: the reader fails on the headers it lacks
  // instead of reserving room for the count.
  const Fixture f = BuildZip(TwoFiles());
  std::string lying = f.bytes;
  testing::Set16(lying, f.end_position + 8, 0xFFFF);
  testing::Set16(lying, f.end_position + 10, 0xFFFF);
  const ReadRun run = Read(lying);
  EXPECT_EQ(run.result, 11013);
  EXPECT_LE(run.state.Entries.capacity(), 4u);
}

TEST(ZipDirReader, CodePageRules) {
  const std::string raw = "caf\xE9";  // 0xE9: Θ in CP437, é in Windows-1252
  const auto name_of = [&](std::uint8_t host, std::uint8_t made_by, CodePageOpts cp, std::uint16_t flag = 0) {
    FixtureEntry e{.name = raw, .host = host, .made_by = made_by, .flag = flag, .comment = raw};
    ZipDirReaderOptions o;
    o.CodePage = cp;
    const ReadRun run = Read(BuildZip({e}).bytes, o);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.state.Entries.at(0).FileComment, run.state.Entries.at(0).FileName);
    return run.state.Entries.at(0).FileName;
  };
  EXPECT_EQ(name_of(0, 20, CodePageOpts::cpAuto), "caf\u0398");
  EXPECT_EQ(name_of(0, 20, CodePageOpts::cpNone), "caf\u00E9");
  EXPECT_EQ(name_of(3, 30, CodePageOpts::cpAuto), "caf\u00E9");
  EXPECT_EQ(name_of(3, 30, CodePageOpts::cpOEM), "caf\u0398");
  EXPECT_EQ(name_of(6, 20, CodePageOpts::cpNone), "caf\u0398");
  EXPECT_EQ(name_of(11, 50, CodePageOpts::cpNone), "caf\u0398");
  EXPECT_EQ(name_of(11, 63, CodePageOpts::cpNone), "caf\u00E9");
  // UTF-8 names (flag bit 11) are taken as they are.
  FixtureEntry utf8{.name = "caf\u00E9", .host = 0, .flag = 0x0800};
  EXPECT_EQ(Read(BuildZip({utf8}).bytes).state.Entries.at(0).FileName, "caf\u00E9");
  // A "/" is turned into "\" after conversion; CP437 bytes never produce one.
  FixtureEntry oem{.name = "a/\x81/b", .host = 0};
  EXPECT_EQ(Read(BuildZip({oem}).bytes).state.Entries.at(0).FileName, "a\\\u00FC\\b");
}

TEST(ZipDirReader, ArchiveCommentUsesTheLastNonZeroHost) {
  std::vector<FixtureEntry> entries = TwoFiles();
  FixtureOptions o;
  o.comment = "\x81";
  entries[0].host = 0;
  entries[1].host = 0;
  EXPECT_EQ(Read(BuildZip(entries, o).bytes).state.ZipComment, "\u00FC");  // default host 0: OEM
  entries[0].host = 3;
  EXPECT_EQ(Read(BuildZip(entries, o).bytes).state.ZipComment, "\u0081");  // Unix host: no OEM
}

}  // namespace
}  // namespace orv::zip
