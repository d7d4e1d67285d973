// File tree: names, folders from paths, replace rules, capacities, removal, the archive
// attribute, and the refusals of files the disc cannot hold.
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "burner/file_tree.h"
#include "burner/image_layout.h"
#include "burner/names.h"
#include "test_env.h"

namespace fs = std::filesystem;
using namespace orv::burner;

namespace {

struct Logged {
  std::string message;
  uint8_t type;
};

class FileTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(env.work());
    tree.ResetFileTree(65535, 8191);
    hooks.Log = [this](const std::string& m, uint8_t t) { log.push_back({m, t}); };
  }
  std::string MakeFile(const std::string& rel, size_t bytes) {
    const fs::path p = env.work() / rel;
    fs::create_directories(p.parent_path());
    orv::test::write_file(p, std::string(bytes, 'x'));
    return p.string();
  }
  void ExpectValid() { EXPECT_EQ(tree.Verify(), ""); }

  orv::test::TestEnv env;
  TFileTree tree;
  TFileTree::Hooks hooks;
  std::vector<Logged> log;
};

TEST(Names, ShortNamesAndUcs2) {
  EXPECT_EQ(MakeShortName("My Documents"), "MY_DOCUMENTS");
  EXPECT_EQ(MakeShortName("abcdefghijklmnopqrst"), "ABCDEFGHIJKLM");
  EXPECT_EQ(MakeShortName("a{b}~|"), "A_B___");  // '{' '}' '~' '|' lie above 'z'
  EXPECT_EQ(MakeShortName("çay.txt"), "_AY.TXT");  // one underscore per character, not per byte
  EXPECT_EQ(Utf8ToUcs2BE("Aç"), std::string("\0A\0\xE7", 4));
  EXPECT_EQ(Utf8ToUcs2BE("\xF0\x9F\x98\x80"), std::string("\0_", 2));  // outside the BMP
  EXPECT_EQ(Utf8ToUcs2BE("a\xFFz"), std::string("\0a\0_\0z", 6));    // invalid byte
  EXPECT_EQ(Ucs2Length("ğüşiöç"), 6u);
  EXPECT_TRUE(IsPlain83Name("README.TXT"));
  EXPECT_TRUE(IsPlain83Name("backup.dat"));
  EXPECT_FALSE(IsPlain83Name("Backup of May.dat"));
  EXPECT_FALSE(IsPlain83Name("a.b.c"));
  EXPECT_EQ(AlternateShortName("Backup of May.dat", 1), "BACKUP~1.DAT");
  EXPECT_EQ(AlternateShortName(".bashrc", 2), "BASHRC~2");
}

TEST_F(FileTreeTest, EmptyTreeHasOnlyTheRoot) {
  EXPECT_EQ(tree.DirCount(), 0);
  EXPECT_EQ(tree.FileCount(), 0);
  EXPECT_EQ(tree.Root()->TreePath, "\\");
  EXPECT_EQ(tree.Root()->ShortName, "CD_ROOT");
  EXPECT_EQ(tree.Root()->LongName, "CD Root Directory");
  EXPECT_EQ(tree.Root()->Parent, tree.Root());
  EXPECT_EQ(tree.FindDir(""), tree.Root());
  EXPECT_EQ(tree.FindDir("\\"), tree.Root());
  ExpectValid();
}

TEST_F(FileTreeTest, FileWithoutExtensionGetsFinalFullStop) {
  const std::string src = MakeFile("DATA/README", 100);
  EXPECT_EQ(tree.AddFile("\\", src, false, hooks), 1);
  ASSERT_EQ(tree.FileCount(), 1);
  const TFEntry& e = *tree.FileTable[0];
  EXPECT_EQ(e.LongName, "README.");
  EXPECT_EQ(e.ShortName, "README.");
  EXPECT_EQ(ISORecordLength(e), 42u);
  // Added again it meets its own entry and is not listed twice.
  EXPECT_EQ(tree.AddFile("\\", src, false, hooks), 1);
  EXPECT_EQ(tree.FileCount(), 1);
  ExpectValid();
}

TEST_F(FileTreeTest, ReplaceFileOffKeepsFirstOnRefreshes) {
  const std::string src = MakeFile("a/BACKUP.DAT", 3000);
  ASSERT_EQ(tree.AddFile("\\", src, false, hooks), 1);
  MakeFile("a/BACKUP.DAT", 5000);
  EXPECT_EQ(tree.AddFile("\\", src, false, hooks), 1);
  ASSERT_EQ(tree.FileCount(), 1);
  EXPECT_EQ(tree.FileTable[0]->ISOLength, 3000);
  EXPECT_EQ(tree.FilesSize, 4096);

  hooks.ReplaceFile = true;
  EXPECT_EQ(tree.AddFile("\\", src, false, hooks), 1);
  ASSERT_EQ(tree.FileCount(), 1);
  EXPECT_EQ(tree.FileTable[0]->ISOLength, 5000);
  EXPECT_EQ(tree.FilesSize, 6144);
  ExpectValid();
}

TEST_F(FileTreeTest, KeepPathBuildsFoldersFromTheSourcePath) {
  // A network path keeps what follows the share; the file itself does not exist here.
  EXPECT_EQ(tree.AddFile("\\", "\\\\SERVER\\SHARE\\X\\Y\\f.txt", true, hooks), -1);
  ASSERT_NE(tree.FindDir("\\X"), nullptr);
  ASSERT_NE(tree.FindDir("\\x\\y\\"), nullptr);
  EXPECT_EQ(tree.FindDir("\\SERVER"), nullptr);
  EXPECT_EQ(tree.DirCount(), 2);
  EXPECT_EQ(tree.FindDir("\\X\\Y")->Parent, tree.FindDir("\\X"));

  tree.ResetFileTree(65535, 8191);
  hooks.LastFolderOnly = true;
  EXPECT_EQ(tree.AddFile("\\", "//SERVER/SHARE/X/Y/f.txt", true, hooks), -1);
  EXPECT_EQ(tree.DirCount(), 1);
  EXPECT_NE(tree.FindDir("\\Y"), nullptr);

  // A drive-letter path drops the drive; a Linux path keeps every folder.
  tree.ResetFileTree(65535, 8191);
  hooks.LastFolderOnly = false;
  EXPECT_EQ(tree.AddFile("\\", "C:\\DATA\\README", true, hooks), -1);
  EXPECT_NE(tree.FindDir("\\DATA"), nullptr);
  const std::string src = MakeFile("deep/er/file.bin", 10);
  EXPECT_EQ(tree.AddFile("\\", src, true, hooks), 1);
  const std::string folder = fs::path(src).parent_path().string();
  TDEntry* d = tree.FindDir(folder);
  ASSERT_NE(d, nullptr);
  ASSERT_NE(d->FirstEntry, nullptr);
  EXPECT_EQ(d->FirstEntry->LongName, "file.bin");
  EXPECT_EQ(d->FirstEntry->SourcePath, src);
  ExpectValid();
}

TEST_F(FileTreeTest, InvalidDestinationAndMissingSource) {
  const std::string src = MakeFile("x.txt", 1);
  EXPECT_EQ(tree.AddFile("\\NOPE", src, false, hooks), 0);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].message, "INVALID DESTINATION PATH");
  EXPECT_EQ(log[0].type, 4);
  EXPECT_EQ(tree.AddFile("\\", (env.work() / "missing").string(), false, hooks), -1);
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(tree.FileCount(), 0);
}

TEST_F(FileTreeTest, ForceDirsShortNames) {
  TDEntry* d = tree.ForceDirs("\\My Documents", hooks);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->ShortName, "MY_DOCUMENTS");
  EXPECT_EQ(d->LongName, "My Documents");
  EXPECT_EQ(d->TreePath, "\\MY DOCUMENTS");
  TDEntry* e = tree.ForceDirs("\\My Documents\\abcdefghijklmnopqrst", hooks);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->ShortName, "ABCDEFGHIJKLM");
  EXPECT_EQ(e->TreePath, "\\MY DOCUMENTS\\ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(tree.ForceDirs("\\my documents", hooks), d);  // found, not made twice
  EXPECT_EQ(tree.ForceDirs("\\A\\B\\", hooks), nullptr);    // trailing separator: parents only
  EXPECT_NE(tree.FindDir("\\A\\B"), nullptr);
  EXPECT_EQ(tree.DirCount(), 4);
  ExpectValid();
}

TEST_F(FileTreeTest, LongNamesAreMarkedSkippedOrRefused) {
  std::vector<bool> skip_seen;
  hooks.OnAddFile = [&](const std::string&, std::string&, std::string&, TDateTime&, uint32_t, int64_t, bool& skip) {
    skip_seen.push_back(skip);
  };
  const std::string n128(124, 'n');  // + ".txt" = 128 characters
  EXPECT_EQ(tree.AddFile("\\", MakeFile(n128 + ".txt", 5), false, hooks), 1);
  ASSERT_EQ(skip_seen.size(), 1u);
  EXPECT_TRUE(skip_seen[0]);
  EXPECT_EQ(tree.FileCount(), 0);

  // 103 characters are kept; 104 are refused with a message (readers cut such names).
  EXPECT_EQ(tree.AddFile("\\", MakeFile(std::string(99, 'a') + ".txt", 5), false, hooks), 1);
  EXPECT_EQ(tree.FileCount(), 1);
  EXPECT_EQ(JolietRecordLength(*tree.FileTable[0]), 34u + 2 * 105);
  EXPECT_EQ(tree.AddFile("\\", MakeFile(std::string(100, 'b') + ".txt", 5), false, hooks), 0);
  EXPECT_EQ(tree.FileCount(), 1);
  EXPECT_NE(tree.LastRefusal.find("NAME TOO LONG"), std::string::npos);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().type, 4);
  ASSERT_EQ(skip_seen.size(), 3u);
  EXPECT_FALSE(skip_seen[2]);

  // The handler may change the names; its names are the ones stored.
  hooks.OnAddFile = [](const std::string&, std::string& l, std::string& s, TDateTime& d, uint32_t, int64_t, bool&) {
    l = "Renamed.dat";
    s = "renamed.dat";
    d = 45000.5;
  };
  EXPECT_EQ(tree.AddFile("\\", MakeFile("orig.dat", 1), false, hooks), 1);
  const TFEntry& e = *tree.FileTable.back();
  EXPECT_EQ(e.LongName, "Renamed.dat");
  EXPECT_EQ(e.ShortName, "RENAMED.DAT");
  EXPECT_DOUBLE_EQ(e.DateTime, 45000.5);
  ExpectValid();
}

TEST_F(FileTreeTest, FilesOf4GiBAreRefused) {
  const fs::path big = env.work() / "big.bak";
  const fs::path edge = env.work() / "edge.bak";
  { std::ofstream(big.string()); std::ofstream(edge.string()); }
  fs::resize_file(big, 4294967296ULL);   // sparse: takes no space
  fs::resize_file(edge, 4294967295ULL);
  EXPECT_EQ(tree.AddFile("\\", big.string(), false, hooks), 0);
  EXPECT_EQ(tree.FileCount(), 0);
  EXPECT_EQ(tree.FilesSize, 0);
  EXPECT_EQ(tree.LastRefusal, "FILE IS 4 GB OR LARGER AND CANNOT BE WRITTEN: " + big.string());
  EXPECT_EQ(tree.AddFile("\\", edge.string(), false, hooks), 1);
  ASSERT_EQ(tree.FileCount(), 1);
  EXPECT_EQ(tree.FileTable[0]->ISOLength, 4294967295LL);
  EXPECT_EQ(tree.FilesSize, 4294967296LL);
}

TEST_F(FileTreeTest, AFileNeverReplacesAFolder) {
  tree.ForceDirs("\\X.DAT", hooks);
  hooks.ReplaceFile = true;
  EXPECT_EQ(tree.AddFile("\\", MakeFile("x.dat", 10), false, hooks), 0);
  EXPECT_NE(tree.FindDir("\\X.DAT")->Parent, nullptr);
  EXPECT_EQ(tree.FileCount(), 1);
  EXPECT_EQ(tree.FileTable[0]->Dir, tree.FindDir("\\X.DAT"));
  // A folder is not made beside a file of the same name either.
  ASSERT_EQ(tree.AddFile("\\", MakeFile("notes.txt", 10), false, hooks), 1);
  EXPECT_EQ(tree.ForceDirs("\\NOTES.TXT", hooks), nullptr);
  EXPECT_EQ(tree.AddFile("\\NOTES.TXT", MakeFile("n2.txt", 1), false, hooks), 0);
  ExpectValid();
}

TEST_F(FileTreeTest, DirectoryIsNotAddedAsAFile) {
  fs::create_directories(env.work() / "folder");
  EXPECT_EQ(tree.AddFile("\\", (env.work() / "folder").string(), false, hooks), 0);
  EXPECT_EQ(tree.FileCount(), 0);
}

TEST_F(FileTreeTest, AlternateNamesStayUniqueInTheTargetFolder) {
  EXPECT_EQ(tree.AddFile("\\", MakeFile("one/Backup of May.dat", 1), false, hooks), 1);
  EXPECT_EQ(tree.AddFile("\\", MakeFile("two/Backup of March.dat", 1), false, hooks), 1);
  EXPECT_EQ(tree.AddFile("\\", MakeFile("three/Backup of June.dat", 1), false, hooks), 1);
  ASSERT_EQ(tree.FileCount(), 3);
  EXPECT_EQ(tree.FileTable[0]->ShortName, "BACKUP~1.DAT");
  EXPECT_EQ(tree.FileTable[1]->ShortName, "BACKUP~2.DAT");
  EXPECT_EQ(tree.FileTable[2]->ShortName, "BACKUP~3.DAT");
}

TEST(Names, JolietFormAndNumberedNames) {
  EXPECT_EQ(JolietForm("x_\xF0\x9F\x98\x80.txt"), "x__.txt");  // outside the BMP
  EXPECT_EQ(JolietForm("a\xFFz"), "a_z");
  EXPECT_EQ(JolietForm("Müşteri.dat"), "Müşteri.dat");  // BMP characters stay as they are
  EXPECT_EQ(Utf8ToUcs2BE(JolietForm("x_\xF0\x9F\x98\x80.txt")), Utf8ToUcs2BE("x_\xF0\x9F\x98\x80.txt"));
  EXPECT_EQ(NumberedJolietName("x__.txt", 1), "x__~1.txt");
  EXPECT_EQ(NumberedJolietName("NOEXT", 12), "NOEXT~12");
  EXPECT_EQ(NumberedJolietName(".hidden", 2), ".hidden~2");
  // A name at the limit loses whole characters of its base, never its extension.
  const std::string longest = std::string(99, 'a') + "ş.db";  // 103 characters
  const std::string numbered = NumberedJolietName(longest, 7);
  EXPECT_EQ(Ucs2Length(numbered), kMaxJolietNameChars);
  EXPECT_EQ(numbered, std::string(98, 'a') + "~7.db");
  EXPECT_EQ(Ucs2Length(NumberedJolietName(std::string(98, 'a') + "şş.db", 7)), kMaxJolietNameChars);
}

TEST_F(FileTreeTest, JolietNamesStayUniqueAfterTheirConversion) {
  const std::string grin = "x_\xF0\x9F\x98\x80.txt", beam = "x_\xF0\x9F\x98\x81.txt";
  EXPECT_EQ(tree.AddFile("\\", MakeFile("a/" + grin, 1), false, hooks), 1);
  EXPECT_EQ(tree.AddFile("\\", MakeFile("b/" + beam, 2), false, hooks), 1);
  EXPECT_EQ(tree.AddFile("\\", MakeFile("c/x__.TXT", 3), false, hooks), 1);  // a plain name meeting both
  tree.ForceDirs("\\F_\xF0\x9F\x98\x80", hooks);
  tree.ForceDirs("\\F_\xF0\x9F\x98\x81", hooks);
  ASSERT_EQ(tree.FileCount(), 5);
  EXPECT_EQ(tree.FileTable[0]->LongName, grin);  // the name the tree knows the entry by is kept
  EXPECT_EQ(tree.FileTable[0]->JolietName, "x__.txt");
  EXPECT_EQ(tree.FileTable[1]->LongName, beam);
  EXPECT_EQ(tree.FileTable[1]->JolietName, "x__~1.txt");
  EXPECT_EQ(tree.FileTable[2]->JolietName, "x__~2.TXT");
  ASSERT_NE(tree.FindDir("\\F_\xF0\x9F\x98\x81"), nullptr);
  EXPECT_EQ(tree.FindDir("\\F_\xF0\x9F\x98\x80")->JolietName, "F__");
  EXPECT_EQ(tree.FindDir("\\F_\xF0\x9F\x98\x81")->JolietName, "F__~1");
  EXPECT_EQ(tree.FileTable[4]->JolietName, "F__~1");  // folder entry and folder agree
  // Each change is logged, naming the entry and its new name.
  size_t renamed = 0;
  for (const auto& l : log)
    if (l.message.find("JOLIET NAME OF") != std::string::npos) {
      ++renamed;
      EXPECT_EQ(l.type, 1);
    }
  EXPECT_EQ(renamed, 3u);
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().message.find("F__~1"), std::string::npos) << log.back().message;
  // Adding the same file again replaces nothing and numbers nothing further.
  hooks.ReplaceFile = true;
  EXPECT_EQ(tree.AddFile("\\", MakeFile("b/" + beam, 4), false, hooks), 1);
  EXPECT_EQ(tree.FileCount(), 5);
  EXPECT_EQ(tree.FileTable[1]->JolietName, "x__~1.txt");
  // The layout sizes the Joliet records by those names: "~1" adds two characters.
  EXPECT_EQ(JolietRecordLength(*tree.FileTable[1]), JolietRecordLength(*tree.FileTable[0]) + 4);
  ExpectValid();
}

TEST_F(FileTreeTest, RemoveEmptyDirsWorksUpwards) {
  tree.ForceDirs("\\A\\B", hooks);
  tree.ForceDirs("\\C", hooks);
  ASSERT_EQ(tree.AddFile("\\C", MakeFile("keep.txt", 3000), false, hooks), 1);
  ASSERT_EQ(tree.DirCount(), 3);
  EXPECT_TRUE(tree.RemoveEmptyDirs());
  EXPECT_EQ(tree.DirCount(), 1);
  EXPECT_EQ(tree.FindDir("\\A"), nullptr);
  EXPECT_NE(tree.FindDir("\\C"), nullptr);
  EXPECT_EQ(tree.FileCount(), 2);  // the folder entry of C and its file
  ExpectValid();

  EXPECT_TRUE(tree.RemoveFile("\\C", "KEEP.TXT"));
  EXPECT_EQ(tree.FilesSize, 0);
  EXPECT_FALSE(tree.RemoveFile("\\C", "keep.txt"));
  EXPECT_FALSE(tree.RemoveDir(tree.Root()));
  EXPECT_TRUE(tree.RemoveDir(tree.FindDir("\\C")));
  EXPECT_EQ(tree.DirCount(), 0);
  EXPECT_EQ(tree.FileCount(), 0);
  ExpectValid();
}

TEST_F(FileTreeTest, FolderCapacityStopsAt8191) {
  for (int i = 1; i < 8191; ++i) ASSERT_NE(tree.AddDir(tree.Root(), "D" + std::to_string(i), faDirectory, hooks), nullptr);
  EXPECT_EQ(tree.DirCount(), 8190);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(tree.AddDir(tree.Root(), "ONE MORE", faDirectory, hooks), nullptr);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].message, ">>> MAXIMUM DIRECTORIES CAN BE 8191");
  EXPECT_EQ(log[0].type, 3);
  EXPECT_EQ(tree.DirCount(), 8190);
  ExpectValid();
}

TEST_F(FileTreeTest, EntryCapacityLeavesNoFolderBehind) {
  tree.ResetFileTree(2, 10);
  ASSERT_EQ(tree.AddFile("\\", MakeFile("a.txt", 1), false, hooks), 1);
  ASSERT_NE(tree.ForceDirs("\\F", hooks), nullptr);
  EXPECT_EQ(tree.ForceDirs("\\G", hooks), nullptr);
  EXPECT_EQ(tree.AddFile("\\", MakeFile("b.txt", 1), false, hooks), 1);  // dropped at capacity
  EXPECT_EQ(tree.FileCount(), 2);
  EXPECT_EQ(tree.DirCount(), 1);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0].message, "MAXIMUM FILES CAN BE 2");
  EXPECT_EQ(log[0].type, 3);
  ExpectValid();
}

TEST_F(FileTreeTest, ClearArchiveBitsOnlyForMarkedEntries) {
  const std::string a = MakeFile("a.dat", 10);
  const std::string b = MakeFile("b.dat", 10);
  if (setxattr(a.c_str(), "user.test", "1", 1, 0) != 0 && errno == ENOTSUP)
    GTEST_SKIP() << "no user extended attributes on this file system";
  EXPECT_NE(ReadAttributes(a) & faArchive, 0u);  // no attribute stored: archive set
  ASSERT_EQ(tree.AddFile("\\", a, false, hooks), 1);
  auto rec = FindSourceFile(b);
  ASSERT_TRUE(rec);
  ASSERT_TRUE(tree.AddFileFromSearchRec(tree.Root(), *rec, b, 0, true, hooks));
  EXPECT_TRUE(tree.ClearArchiveBits(hooks));
  EXPECT_NE(ReadAttributes(a) & faArchive, 0u);  // made by AddFile: left alone
  EXPECT_EQ(ReadAttributes(b) & faArchive, 0u);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(WriteAttributes(b, faArchive), "");
  EXPECT_NE(ReadAttributes(b) & faArchive, 0u);
  EXPECT_NE(ReadAttributes(MakeFile(".hidden", 1)) & faHidden, 0u);
}

}  // namespace
