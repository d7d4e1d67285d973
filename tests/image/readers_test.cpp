// Images of real trees, written by `orvakell-burn --image`, read back by readers nobody here
// wrote: xorriso, isoinfo, 7-Zip and bsdtar must list the same folders, files and sizes, the
// same sectors where they report them, and xorriso must extract every file byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "burner/disc_burner.h"
#include "burner/file_tree.h"
#include "burner/image_headers.h"
#include "burner/image_layout.h"
#include "burner/image_writer.h"
#include "burner/track_source.h"
#include "image_command.h"
#include "test_env.h"

namespace fs = std::filesystem;
using orv::test::run_command;
using orv::test::shell_quote;

namespace {

// One listing: "D path" for folders, "F path size" for files, paths without the leading "/".
using Listing = std::set<std::string>;

// Readers differ in showing the final full stop of a name without extension; compare without it.
std::string Clean(std::string path) {
  if (!path.empty() && path.front() == '/') path.erase(0, 1);
  if (path.size() > 2 && path.compare(path.size() - 2, 2, ";1") == 0) path.resize(path.size() - 2);
  if (!path.empty() && path.back() == '.') path.pop_back();
  return path;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// The first n whitespace-separated fields of a line; rest receives what follows the n-th
// field and the one space after it.
std::vector<std::string> Fields(const std::string& line, size_t n, std::string* rest) {
  std::vector<std::string> out;
  size_t at = 0;
  while (out.size() < n) {
    at = line.find_first_not_of(' ', at);
    if (at == std::string::npos) return {};
    const size_t end = std::min(line.find(' ', at), line.size());
    out.push_back(line.substr(at, end - at));
    at = end;
  }
  if (rest) *rest = at < line.size() ? line.substr(at + 1) : std::string();
  return out;
}

bool IsNumber(const std::string& s) { return !s.empty() && std::all_of(s.begin(), s.end(), ::isdigit); }

struct XorrisoFile {
  uint64_t lba, size;
};

Listing XorrisoListing(const std::string& image, const std::string& load, std::map<std::string, XorrisoFile>* lbas) {
  const std::string base = "xorriso -indev stdio:" + shell_quote(image) + " " + load;
  const auto files = run_command(base + " -find / -exec report_lba -- 2>/dev/null");
  const auto dirs = run_command(base + " -find / -type d 2>/dev/null");
  EXPECT_EQ(files.exit_code, 0) << files.output;
  EXPECT_EQ(dirs.exit_code, 0) << dirs.output;
  Listing out;
  const std::string prefix = "File data lba:";
  for (const auto& line : Lines(files.output)) {
    if (line.rfind(prefix, 0) != 0) continue;
    // xt , start , blocks , size , 'path'
    std::vector<std::string> numbers;
    size_t at = prefix.size();
    for (int k = 0; k < 4; ++k) {
      const size_t comma = line.find(',', at);
      if (comma == std::string::npos) break;
      std::string field = line.substr(at, comma - at);
      field.erase(std::remove(field.begin(), field.end(), ' '), field.end());
      numbers.push_back(field);
      at = comma + 1;
    }
    const size_t open = line.find('\'', at);
    if (numbers.size() != 4 || open == std::string::npos || line.back() != '\'') continue;
    const std::string path = Clean(line.substr(open + 1, line.size() - open - 2));
    out.insert("F " + path + " " + numbers[3]);
    if (lbas) (*lbas)[path] = {std::stoull(numbers[1]), std::stoull(numbers[3])};
  }
  for (const auto& line : Lines(dirs.output))
    if (line.size() > 3 && line.front() == '\'' && line.back() == '\'') out.insert("D " + Clean(line.substr(1, line.size() - 2)));
  return out;
}

Listing IsoinfoListing(const std::string& image, std::map<std::string, uint64_t>* lbas) {
  const auto r = run_command("isoinfo -l -J -j iso8859-9 -i " + shell_quote(image) + " | iconv -f ISO-8859-9 -t UTF-8");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  Listing out;
  const std::string heading = "Directory listing of ";
  std::string dir;
  for (const auto& line : Lines(r.output)) {
    if (line.rfind(heading, 0) == 0) {
      dir = line.substr(heading.size() + 1);  // without the leading "/", ends with "/" or is empty
      continue;
    }
    // perm n n n size Mon day year [ lba flags]  name<space>
    const size_t open = line.find('[');
    const size_t close = line.find(']');
    if (line.size() < 2 || (line[0] != 'd' && line[0] != '-') || open == std::string::npos || close == std::string::npos ||
        close + 3 > line.size() || line.back() != ' ')
      continue;
    const auto head = Fields(line.substr(0, open), 8, nullptr);
    const auto lba = Fields(line.substr(open + 1, close - open - 1), 1, nullptr);
    if (head.size() != 8 || !IsNumber(head[4]) || lba.size() != 1) continue;
    const std::string name = line.substr(close + 3, line.size() - close - 4);
    if (name == "." || name == "..") continue;
    const std::string path = Clean(dir + name);
    if (line[0] == 'd') {
      out.insert("D " + path);
    } else {
      out.insert("F " + path + " " + head[4]);
      if (lbas) (*lbas)[path] = std::stoull(lba[0]);
    }
  }
  return out;
}

Listing SevenZipListing(const std::string& image) {
  const auto r = run_command("7z l -slt " + shell_quote(image));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  Listing out;
  std::string path;
  bool folder = false;
  bool in_entries = false;
  for (const auto& line : Lines(r.output)) {
    if (line == "----------") in_entries = true;
    if (!in_entries) continue;
    if (line.rfind("Path = ", 0) == 0) {
      path = line.substr(7);
    } else if (line.rfind("Folder = ", 0) == 0) {
      folder = line == "Folder = +";
      if (folder && path.rfind("[BOOT]", 0) != 0) out.insert("D " + Clean(path));
    } else if (line.rfind("Size = ", 0) == 0 && !folder && !path.empty() && path.rfind("[BOOT]", 0) != 0) {
      out.insert("F " + Clean(path) + " " + line.substr(7));
    }
  }
  return out;
}

Listing BsdtarListing(const std::string& image) {
  const auto r = run_command("bsdtar -tvf " + shell_quote(image));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  Listing out;
  for (const auto& line : Lines(r.output)) {
    // perm links uid gid size Mon day time-or-year name
    std::string name;
    const auto f = Fields(line, 8, &name);
    if (f.size() != 8 || !IsNumber(f[4]) || name.empty() || name == ".") continue;
    out.insert(f[0][0] == 'd' ? "D " + Clean(name) : "F " + Clean(name) + " " + f[4]);
  }
  return out;
}

std::string Diff(const Listing& a, const Listing& b) {
  std::string out;
  for (const auto& x : a)
    if (!b.count(x)) out += "  only in first: " + x + "\n";
  for (const auto& x : b)
    if (!a.count(x)) out += "  only in second: " + x + "\n";
  return out;
}

class ReadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"xorriso", "isoinfo", "7z", "bsdtar", "iconv"})
      if (!orv::test::have_program(tool)) GTEST_SKIP() << tool << " is not installed";
    src = env.work() / "Backups";
    fs::create_directories(src);
  }

  fs::path Put(const std::string& rel, size_t bytes) {
    const fs::path p = src / rel;
    fs::create_directories(p.parent_path());
    std::string data(bytes, '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    orv::test::write_file(p, data);
    return p;
  }

  // What the readers must show: every folder and file below src, under "Backups/".
  Listing Expected() const {
    Listing out{"D Backups"};
    for (const auto& e : fs::recursive_directory_iterator(src)) {
      const std::string rel = "Backups/" + fs::relative(e.path(), src).string();
      if (e.is_directory()) out.insert("D " + rel);
      else out.insert("F " + rel + " " + std::to_string(e.file_size()));
    }
    return out;
  }

  int MakeImage(const std::vector<std::string>& extra, std::string* err_text = nullptr) {
    std::vector<std::string> args{image.string(), "--volume", "Reader Test"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(src.string());
    std::ostringstream out, err;
    const int rc = orv::tools::RunImageCommand(args, out, err);
    if (err_text) *err_text = err.str();
    return rc;
  }

  void ExpectAllReadersAgree(const Listing& expected) {
    std::map<std::string, XorrisoFile> x_lba;
    std::map<std::string, uint64_t> i_lba;
    const Listing x = XorrisoListing(image.string(), "", &x_lba);
    const Listing i = IsoinfoListing(image.string(), &i_lba);
    const Listing z = SevenZipListing(image.string());
    const Listing t = BsdtarListing(image.string());
    EXPECT_EQ(x, expected) << "xorriso:\n" << Diff(x, expected);
    EXPECT_EQ(i, expected) << "isoinfo:\n" << Diff(i, expected);
    EXPECT_EQ(z, expected) << "7z:\n" << Diff(z, expected);
    EXPECT_EQ(t, expected) << "bsdtar:\n" << Diff(t, expected);
    size_t compared = 0;
    for (const auto& [path, f] : x_lba) {
      if (f.size == 0) continue;
      ASSERT_TRUE(i_lba.count(path)) << path;
      EXPECT_EQ(i_lba[path], f.lba) << path;
      ++compared;
    }
    EXPECT_GT(compared, 0u);
  }

  void ExpectExtractedMatch() {
    const fs::path out = env.work() / "extracted";
    const auto r = run_command("xorriso -osirrox on -indev stdio:" + shell_quote(image.string()) + " -extract / " +
                               shell_quote(out.string()) + " 2>&1");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(src)) {
      if (!e.is_regular_file()) continue;
      fs::path got = out / "Backups" / fs::relative(e.path(), src);
      if (!fs::exists(got)) got += ".";  // a name without extension may keep its full stop
      ASSERT_TRUE(fs::exists(got)) << got;
      ASSERT_EQ(orv::test::read_file(got), orv::test::read_file(e.path())) << e.path();
      ++files;
    }
    EXPECT_GT(files, 0u);
  }

  orv::test::TestEnv env;
  fs::path src;
  fs::path image = env.work() / "out.iso";
  std::mt19937 rng{20241209};
};

TEST_F(ReadersTest, LargeTreeListsIdenticallyAndExtractsExactly) {
  const std::vector<std::string> folders = {
      "",
      "Yedekler",
      "Müşteri Kayıtları/Şubat",
      "A folder name that goes on for quite a long while to test long Joliet names ok",
      "deep/l1/l2/l3/l4/l5/l6",
      "Iİıi Çç Öö",
      "many"};
  fs::create_directories(src / "Empty Folder");
  for (int i = 0; i < 2000; ++i) {
    const std::string& folder = folders[static_cast<size_t>(i) % folders.size()];
    std::string name;
    if (i % 7 == 0) name = "Veri_ğüşıöç_" + std::to_string(i) + ".dat";
    else if (i % 11 == 0) name = std::string(90, static_cast<char>('a' + i % 26)) + std::to_string(i) + ".bak";
    else if (i % 13 == 0) name = "NOEXT" + std::to_string(i);
    else name = "file" + std::to_string(i) + ".db";
    size_t size = rng() % 9000;
    if (i % 10 == 0) size = 0;
    if (i % 97 == 0) size = 2048 * (1 + i % 3);
    if (i % 89 == 0) size = 2049;
    Put((folder.empty() ? "" : folder + "/") + name, size);
  }
  Put(".hidden settings", 33);
  ASSERT_EQ(MakeImage({}), 0);
  const Listing expected = Expected();
  ASSERT_GT(expected.size(), 2000u);
  ExpectAllReadersAgree(expected);
  ExpectExtractedMatch();
}

TEST_F(ReadersTest, CommandLineProgramWritesTheImage) {
  Put("Yedek Ocak.dat", 123457);
  Put("alt/boş.txt", 0);
  const auto r = run_command(shell_quote((orv::test::bin_dir() / "orvakell-burn").string()) + " --image " +
                             shell_quote(image.string()) + " --volume Ocak " + shell_quote(src.string()) + " 2>&1");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("2 files, 2 folders"), std::string::npos) << r.output;
  ExpectAllReadersAgree(Expected());
  ExpectExtractedMatch();
  const auto usage = run_command(shell_quote((orv::test::bin_dir() / "orvakell-burn").string()) + " --image 2>&1");
  EXPECT_EQ(usage.exit_code, 2) << usage.output;
}

TEST_F(ReadersTest, BootImageIsReportedAndStoredAtItsSector) {
  Put("readme.txt", 10000);
  Put("sub/data.bin", 70000);
  const fs::path boot = env.work() / "floppy.img";
  std::string floppy(1474560, '\0');
  for (auto& c : floppy) c = static_cast<char>(rng());
  orv::test::write_file(boot, floppy);
  ASSERT_EQ(MakeImage({"--boot", boot.string()}), 0);
  ExpectAllReadersAgree(Expected());
  ExpectExtractedMatch();

  const auto r = run_command("xorriso -indev stdio:" + shell_quote(image.string()) + " -report_el_torito plain 2>&1");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  // El Torito boot img :   1  BIOS  y  fd1.4  0x0000  0x00      1          LBA
  const std::string tag = "El Torito boot img :";
  const size_t at = r.output.find(tag);
  ASSERT_NE(at, std::string::npos) << r.output;
  const auto f = Fields(r.output.substr(at + tag.size(), r.output.find('\n', at) - at - tag.size()), 8, nullptr);
  ASSERT_EQ(f.size(), 8u) << r.output;
  EXPECT_EQ(f[1], "BIOS");
  EXPECT_EQ(f[2], "y");
  EXPECT_EQ(f[3].rfind("fd1.4", 0), 0u) << f[3];
  EXPECT_EQ(f[6], "1");
  const uint64_t lba = std::stoull(f[7]);
  const std::string bytes = orv::test::read_file(image);
  ASSERT_GE(bytes.size(), lba * 2048 + floppy.size());
  EXPECT_EQ(bytes.compare(lba * 2048, floppy.size(), floppy), 0);
  const auto info = run_command("isoinfo -d -i " + shell_quote(image.string()));
  EXPECT_NE(info.output.find("ID 'ORVAKELL DISC WRITER'"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("Boot media 2 (1.44MB Floppy)"), std::string::npos) << info.output;
}

TEST_F(ReadersTest, WithoutJolietTheIsoNamesAreRead) {
  Put("readme.txt", 100);
  Put("Sub Dir/Long file name.dat", 5000);
  ASSERT_EQ(MakeImage({"--no-joliet"}), 0);
  const auto r = run_command("isoinfo -l -i " + shell_quote(image.string()));
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_NE(r.output.find("README.TXT;1"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("LONGFI~1.DAT;1"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("SUB_DIR"), std::string::npos) << r.output;
  const Listing z = SevenZipListing(image.string());
  EXPECT_TRUE(z.count("F BACKUPS/SUB_DIR/LONGFI~1.DAT 5000")) << Diff(z, {});
  const auto info = run_command("isoinfo -d -i " + shell_quote(image.string()));
  EXPECT_NE(info.output.find("NO Joliet present"), std::string::npos) << info.output;
}

TEST_F(ReadersTest, RefusedSourcesLeaveNoImage) {
  Put("ok.txt", 10);
  const fs::path big = src / "huge.bak";
  { orv::test::write_file(big, ""); }
  fs::resize_file(big, 4294967296ULL);
  std::string err;
  EXPECT_EQ(MakeImage({}, &err), 1);
  EXPECT_NE(err.find("FILE IS 4 GB OR LARGER AND CANNOT BE WRITTEN: " + big.string()), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(image));
  fs::remove(big);
  Put(std::string(104, 'n'), 1);
  EXPECT_EQ(MakeImage({}, &err), 1);
  EXPECT_NE(err.find("NAME TOO LONG FOR THE DISC"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(image));
}

TEST_F(ReadersTest, SourceChangedDuringWriteLeavesNoImage) {
  const fs::path a = Put("a.dat", 5000);
  orv::burner::TDiscBurner b;
  ASSERT_EQ(b.AddFile("\\", a.string(), false), 1);
  ASSERT_TRUE(b.PrepareImage(true, nullptr));
  orv::test::write_file(a, "shorter");
  EXPECT_EQ(b.WriteImage(image.string()), "FILE \"" + a.string() + "\" CHANGED SIZE SINCE IT WAS ADDED");
  EXPECT_FALSE(fs::exists(image));
  EXPECT_FALSE(fs::exists(image.string() + ".partial"));
  fs::remove(a);
  EXPECT_EQ(b.WriteImage(image.string()), "CAN'T OPEN FILE \"" + a.string() + "\" OR FILE IS IN USES BY OTHER SOFTWARE");
  EXPECT_FALSE(fs::exists(image));
}

// A second session at sector 20000 that lists a file of the first one: xorriso loads it
// and extracts both, and the volume space size counts the new session's sectors only.
TEST_F(ReadersTest, AppendedSessionReadsBackWithTheEarlierFile) {
  using namespace orv::burner;
  const fs::path first = Put("first.dat", 10000);
  const fs::path second = Put("second.dat", 100000);
  {
    TDiscBurner b;
    ASSERT_EQ(b.AddFile("\\", first.string(), false), 1);
    ASSERT_TRUE(b.PrepareImage(true, nullptr));
    ASSERT_EQ(b.WriteImage(image.string()), "");
  }
  fs::resize_file(image, 20000ULL * 2048);
  TFileTree& tree = ProcessFileTree();
  tree.ResetFileTree(65535, 8191);
  TFileTree::Hooks hooks;
  TSearchRec old;
  old.Name = "first.dat";
  old.Size = 10000;
  old.Time = NowLocal();
  ASSERT_TRUE(tree.AddFileFromSearchRec(tree.Root(), old, "", 150, false, hooks));
  ASSERT_EQ(tree.AddFile("\\", second.string(), false, hooks), 1);
  const TImageLayout L = LayoutTree(tree, {20000, true, false, 0});
  std::vector<uint8_t> header;
  BuildImageHeaders(tree, L, {}, header, NowLocal());
  ASSERT_EQ(WriteImageFile(image.string(), TrackPieces(tree, L, static_cast<int64_t>(header.size()), ""), header,
                           {20000LL * 2048}),
            "");
  EXPECT_EQ(fs::file_size(image), L.ImageEndSector * 2048);

  std::map<std::string, XorrisoFile> lbas;
  const Listing x = XorrisoListing(image.string(), "-load sbsector 20000", &lbas);
  EXPECT_EQ(x, (Listing{"F first.dat 10000", "F second.dat 100000"})) << Diff(x, {});
  EXPECT_EQ(lbas["first.dat"].lba, 150u);
  EXPECT_EQ(lbas["second.dat"].lba, L.FirstFileSector);
  EXPECT_EQ(L.FirstFileSector, 20025u);
  const auto d = run_command("isoinfo -d -T 20000 -i " + shell_quote(image.string()));
  EXPECT_NE(d.output.find("Volume size is: " + std::to_string(L.ImageEndSector - 20000)), std::string::npos) << d.output;
  const fs::path out = env.work() / "x";
  const auto r = run_command("xorriso -osirrox on -indev stdio:" + shell_quote(image.string()) +
                             " -load sbsector 20000 -extract / " + shell_quote(out.string()) + " 2>&1");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(orv::test::read_file(out / "first.dat"), orv::test::read_file(first));
  EXPECT_EQ(orv::test::read_file(out / "second.dat"), orv::test::read_file(second));
}

}  // namespace

// Names that differ only in characters Joliet cannot hold, and files changed in summer and in
// winter, in a zone with summer time: every reader extracts both files, each with its own
// bytes, and restores each file's own time.
TEST_F(ReadersTest, ConvertedNamesStayApartAndSummerTimesReadBackExactly) {
  if (!fs::exists("/usr/share/zoneinfo/Europe/Berlin")) GTEST_SKIP() << "tzdata lacks Europe/Berlin";
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz ? old_tz : "";
  ::setenv("TZ", "Europe/Berlin", 1);
  ::tzset();
  struct Restore {
    bool had;
    std::string value;
    ~Restore() {
      if (had) ::setenv("TZ", value.c_str(), 1);
      else ::unsetenv("TZ");
      ::tzset();
    }
  } restore{old_tz != nullptr, saved};

  orv::test::write_file(src / "x_\xF0\x9F\x98\x80.txt", "grinning");
  orv::test::write_file(src / "x_\xF0\x9F\x98\x81.txt", "beaming face");
  const fs::path summer = Put("summer.dat", 100), winter = Put("winter.dat", 200);
  std::tm t{};
  t.tm_year = 124;
  t.tm_mon = 6;
  t.tm_mday = 15;
  t.tm_hour = 12;
  t.tm_min = 33;
  const std::time_t summer_time = ::timegm(&t);  // 14:33 in Berlin (+02:00)
  t.tm_mon = 0;
  const std::time_t winter_time = ::timegm(&t);  // 13:33 in Berlin (+01:00)
  for (const auto& [path, when] : {std::pair{summer, summer_time}, std::pair{winter, winter_time}}) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  std::string err;
  ASSERT_EQ(MakeImage({}, &err), 0) << err;
  EXPECT_NE(err.find("x__~1.txt"), std::string::npos) << "the renaming is reported: " << err;

  auto mtime = [](const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mtime;
  };
  const std::map<std::string, std::string> extractors = {
      {"bsdtar", "bsdtar -xf " + shell_quote(image.string()) + " -C "},
      {"7z", "7z x -y " + shell_quote(image.string()) + " -o"},
      {"xorriso", "xorriso -osirrox on -indev stdio:" + shell_quote(image.string()) + " -extract / "}};
  for (const auto& [name, command] : extractors) {
    const fs::path out = env.work() / ("by-" + name);
    fs::create_directories(out);
    const auto r = run_command("TZ=UTC " + command + shell_quote(out.string()) + " 2>&1");
    ASSERT_EQ(r.exit_code, 0) << name << ": " << r.output;
    const fs::path dir = out / "Backups";
    std::set<std::string> texts;
    for (const char* file : {"x__.txt", "x__~1.txt"}) {
      ASSERT_TRUE(fs::exists(dir / file)) << name << " lacks " << file;
      texts.insert(orv::test::read_file(dir / file));
    }
    EXPECT_EQ(texts, (std::set<std::string>{"grinning", "beaming face"})) << name;
    EXPECT_EQ(mtime(dir / "summer.dat"), summer_time) << name << ": summer file off by "
                                                      << mtime(dir / "summer.dat") - summer_time << " s";
    EXPECT_EQ(mtime(dir / "winter.dat"), winter_time) << name << ": winter file off by "
                                                      << mtime(dir / "winter.dat") - winter_time << " s";
  }
}
