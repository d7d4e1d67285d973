// The archiver's message table: codec, built-in record, look-up order and formatting.
#include <gtest/gtest.h>

#include <random>

#include "test_env.h"
#include "zip/messages/message_list.h"
#include "zip/messages/zip_messages.h"

namespace orv::zip {
namespace {

Bytes ToBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST(ZipMessageCodec, ExpandFollowsTheRingRules) {
  // Flag 0b10: a literal 'A' (written at 4080), then a reference to 4080 of length 3, which
  // copies byte by byte and so repeats the byte it is writing: "AAAA".
  const Bytes run = Lz77Expand(Bytes{0x01, 'A', 0xF0, 0xF0}, 1000);
  EXPECT_EQ(std::string(run.begin(), run.end()), "AAAA");
  // A reference into the untouched ring gives zeros; length nibble 15 gives 18 bytes.
  const Bytes zeros = Lz77Expand(Bytes{0x00, 0x00, 0x0F}, 1000);
  EXPECT_EQ(zeros, Bytes(18, 0));
  // A reference cut in half ends the stream; the limit stops a long one.
  EXPECT_EQ(Lz77Expand(Bytes{0x01, 'x', 0x00}, 1000), Bytes{'x'});
  EXPECT_EQ(Lz77Expand(Bytes{0x00, 0x00, 0x0F}, 5).size(), 5u);
}

TEST(ZipMessageCodec, CompressRoundTripsAnyInput) {
  std::mt19937 rng(7);
  std::vector<Bytes> inputs = {{}, {1}, Bytes(5000, 0), Bytes(70, 'z'), ToBytes("abcabcabcabcabcabcabcabcabc")};
  for (int n = 0; n < 20; ++n) {
    Bytes b(static_cast<std::size_t>(rng() % 9000));
    const unsigned alphabet = 1 + rng() % 255;  // from runs to noise
    for (auto& c : b) c = static_cast<std::uint8_t>(rng() % alphabet);
    inputs.push_back(b);
  }
  for (const Bytes& in : inputs) {
    const Bytes packed = Lz77Compress(in);
    EXPECT_EQ(Lz77Expand(packed, in.size() + 100), in) << "size " << in.size();
  }
  EXPECT_LT(Lz77Compress(Bytes(5000, 0)).size(), 700u);
}

TEST(ZipMessageCodec, RecordLayoutAndStringTables) {
  const MessageMap messages = {{10104, u"two\nlines"}, {10105, u"next"}, {16, u"first of table 2"}};
  const Bytes record = BuildMessageRecord(1033, "US", messages);
  ASSERT_GE(record.size(), 12u);
  EXPECT_EQ(record[0] | (record[1] << 8), 1033);
  EXPECT_EQ(static_cast<std::size_t>(record[2] | (record[3] << 8)), record.size() - 8);
  EXPECT_EQ(record[4] | (record[5] << 8), 2);
  EXPECT_EQ(record[6], 'U');
  EXPECT_EQ(record[7], 'S');

  const auto rec = ReadMessageRecord(record);
  ASSERT_TRUE(rec.has_value());
  const std::uint32_t stored = rec->block[0] | (rec->block[1] << 8) | (rec->block[2] << 16);
  const Bytes image = Lz77Expand(std::span(rec->block).subspan(4), 100000);
  EXPECT_EQ(image.size(), stored);
  // Message 10104 is string 8 of table 632; 16 is string 0 of table 2.
  const MessageMap parsed = ParseStringTableImage(image);
  EXPECT_EQ(parsed, messages);
  bool saw_table_632 = false;
  for (std::size_t at = 0; at + 16 <= image.size();) {
    const std::uint32_t data = image[at] | (image[at + 1] << 8) | (image[at + 2] << 16);
    const std::uint32_t header = image[at + 4] | (image[at + 5] << 8);
    if ((image[at + 10] | (image[at + 11] << 8)) == 6 && (image[at + 14] | (image[at + 15] << 8)) == 632) {
      saw_table_632 = true;
      std::size_t p = at + header;
      for (int k = 0; k < 8; ++k) p += 2 + 2 * (image[p] | (image[p + 1] << 8));
      EXPECT_EQ(image[p] | (image[p + 1] << 8), 9);  // "two\nlines"
    }
    at = (at + header + data + 3) & ~std::size_t{3};
  }
  EXPECT_TRUE(saw_table_632);

  RecordDecodeResult decoded = DecodeMessageRecord(record);
  ASSERT_TRUE(decoded.ok) << decoded.error;
  EXPECT_EQ(decoded.messages, messages);
}

TEST(ZipMessageCodec, RejectsWrongLengthsAndCutRecords) {
  const Bytes good = BuildMessageRecord(1033, "US", {{1, u"x"}});
  Bytes wrong_length = good;
  wrong_length[8] ^= 0x01;  // stored expanded length no longer matches
  EXPECT_FALSE(DecodeMessageRecord(wrong_length).ok);
  Bytes too_large = good;
  too_large[8] = 0x50;
  too_large[9] = 0xC3;  // 50000
  too_large[10] = 0;
  EXPECT_FALSE(DecodeMessageRecord(too_large).ok);
  for (std::size_t cut = 0; cut < good.size(); ++cut)
    EXPECT_FALSE(DecodeMessageRecord(std::span(good).first(cut)).ok) << cut;
}

TEST(ZipMessageCodec, DamagedRecordsNeverCrash) {
  const Bytes good = BuiltinZipMessageRecord().size() ? Bytes(BuiltinZipMessageRecord().begin(), BuiltinZipMessageRecord().end()) : Bytes{};
  std::mt19937 rng(11);
  for (int n = 0; n < 300; ++n) {
    Bytes bad = good;
    for (int k = 0; k < 1 + n % 5; ++k) bad[8 + rng() % (bad.size() - 8)] = static_cast<std::uint8_t>(rng());
    const RecordDecodeResult r = DecodeMessageRecord(bad);
    if (r.ok) {
      for (const auto& [id, text] : r.messages) EXPECT_FALSE(text.empty()) << id;
    }
  }
}

TEST(ZipBuiltinMessages, HoldsEveryTextOfTheList) {
  EXPECT_EQ(BuiltinZipMessagesStatus(), "");
  const std::string list = test::read_file(test::source_dir() / "src/zip/messages/messages.txt");
  MessageListResult parsed = ParseMessageList(list);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.messages.size(), 189u);
  EXPECT_EQ(BuiltinZipMessageCount(), 189u);
  for (const auto& [id, text] : parsed.messages) EXPECT_EQ(BuiltinZipStr(id), Utf16ToUtf8(text)) << id;
  // Texts that the tool shows, exactly.
  EXPECT_EQ(BuiltinZipStr(10202), "Unknown error in List() function\n");
  EXPECT_EQ(BuiltinZipStr(10106), "Exception in Event handler ");
  EXPECT_EQ(BuiltinZipStr(10125), " Unknown error %d");
  EXPECT_EQ(BuiltinZipStr(11409), "*Loading Directory");
  EXPECT_EQ(BuiltinZipStr(10096), "US: default");
  const char* captions[] = {"&Yes", "&No", "&OK", "&Cancel", "&Abort", "&Retry", "&Ignore", "CancelAll", "NoToAll", "YesToAll"};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(BuiltinZipStr(10220 + i), captions[i]);
}

TEST(ZipMessageList, ReportsTheFaultyLine) {
  EXPECT_EQ(ParseMessageList("# c\n1\ta\\nb\n").messages.at(1), u"a\nb");
  EXPECT_EQ(ParseMessageList("1\ta\n1\tb\n").error, "line 2: message 1 given twice");
  EXPECT_EQ(ParseMessageList("1 a\n").error, "line 1: no tab after the number");
  EXPECT_EQ(ParseMessageList("x\ta\n").error, "line 1: bad message number");
  EXPECT_EQ(ParseMessageList("1\ta\\q\n").error, "line 1: unknown escape \\q");
  EXPECT_FALSE(ParseMessageList("1\t\n").ok);
}

TEST(ZipMessageLookup, MissingNumbersAndLineBreaks) {
  EXPECT_EQ(LoadZipStr(12345), "Resource missing for 12345");
  EXPECT_EQ(LoadZipStr(10104), "Error - passwords do NOT match\r\nPassword ignored");
  EXPECT_EQ(LoadZipStr(10202), "Unknown error in List() function\r\n");
  EXPECT_EQ(ExpandLineFeeds("a\r\nb\nc\n"), "a\r\nb\r\nc\r\n");
}

TEST(ZipMessageLookup, FormatsWithArguments) {
  EXPECT_EQ(FmtLoadZipStr(10124, {-7LL}), "critical DLL Error -7");
  EXPECT_EQ(FmtLoadZipStr(10126, {std::string("x.dat"), 3LL, std::string("surplus")}), "Skipped x.dat 3");
  EXPECT_EQ(FmtLoadZipStr(10308, {std::string("/tmp/a b")}), "Destination directory '/tmp/a b' must exist!");
  // A missing argument leaves its specifier; %% is one percent sign.
  EXPECT_EQ(FmtLoadZipStr(10126, {std::string("x.dat")}), "Skipped x.dat %d");
  const std::vector<ZipMessageArg> args = {255LL};
  EXPECT_EQ(FormatZipMessage("%x%%%q", args), "FF%%q");
}

TEST(ZipMessageLookup, LanguageTableThenBuiltinThenHook) {
  const Bytes de = BuildMessageRecord(1031, "DE", {{11036, u"Kein gültiges Zip-Archiv"}});
  const Bytes us = BuildMessageRecord(1033, "XX", {{11036, u"other"}});
  Bytes resource = us;
  resource.insert(resource.end(), de.begin(), de.end());

  EXPECT_FALSE(SetZipLanguage(resource, std::string_view("FR")));
  EXPECT_EQ(LoadZipStr(11036), "This archive is not a valid Zip archive");
  ASSERT_TRUE(SetZipLanguage(resource, std::string_view("DE")));
  EXPECT_EQ(LoadZipStr(11036), "Kein gültiges Zip-Archiv");
  EXPECT_EQ(LoadZipStr(11007), "User canceled operation");  // falls back to the built-in table
  ASSERT_TRUE(SetZipLanguage(resource, std::uint16_t{1033}));
  EXPECT_EQ(LoadZipStr(11036), "other");

  SetZipTextHook([](int ident, const std::string& text) { return ident == 11036 ? "[" + text + "]" : text; });
  EXPECT_EQ(LoadZipStr(11036), "[other]");
  SetZipTextHook([](int ident, const std::string& text) { return ident == 12345 ? std::string("filled") : text; });
  EXPECT_EQ(LoadZipStr(12345), "filled");
  SetZipTextHook({});
  ClearZipLanguage();
  EXPECT_EQ(LoadZipStr(11036), "This archive is not a valid Zip archive");

  Bytes damaged = de;
  damaged.back() ^= 0xFF;
  damaged[8] ^= 0x01;
  EXPECT_FALSE(SetZipLanguage(damaged, std::string_view("DE")));
  EXPECT_EQ(LoadZipStr(11036), "This archive is not a valid Zip archive");
}

TEST(ZipMessageLookup, ErrorCarriesNumberAndText) {
  const EZipArchiver e(11051, {std::string("/backup")});
  EXPECT_EQ(e.Ident(), 11051);
  EXPECT_STREQ(e.what(), "Cannot write to /backup");
  EXPECT_TRUE(e.DisplayMsg());
  EXPECT_FALSE(EZipArchiver(10103, false).DisplayMsg());
}

}  // namespace
}  // namespace orv::zip
