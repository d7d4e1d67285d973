// Archives from outside: the zip archives of Python's own test suite (Debian's
// libpython3.11-testsuite, read where installed) are tested and extracted by us and by Python's
// zipfile, and both must find the same files with the same bytes under the same names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "zip_test_support.h"

namespace orv::zip {
namespace {

namespace fs = std::filesystem;
using orv::test::have_program;
using orv::test::read_file;
using orv::test::run_command;
using orv::test::shell_quote;
using orv::test::TestEnv;
using testing::ArchiverFixture;

const fs::path kSuite = "/usr/lib/python3.11/test";

// Every zip archive of the suite: *.zip, wheels and eggs anywhere below it, and the
// self-extracting samples (a script in front of the archive) of ziptestdata/.
std::vector<fs::path> corpus() {
  std::vector<fs::path> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(kSuite, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    const fs::path& p = it->path();
    const std::string ext = p.extension().string();
    if (ext == ".zip" || ext == ".whl" || ext == ".egg" ||
        (p.parent_path().filename() == "ziptestdata" && p.filename().string().rfind("exe_with_", 0) == 0))
      found.push_back(p);
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Regular files below `root`, by path relative to it, with their bytes.
std::map<std::string, std::string> tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = read_file(e.path());
  return files;
}

// Python extracts `archive` into `into`; "" when it read every entry, else its error.
std::string python_extract(const fs::path& archive, const fs::path& into) {
  const std::string script =
      "import sys,zipfile\n"
      "try:\n"
      "  z=zipfile.ZipFile(sys.argv[1])\n"
      "  bad=z.testzip()\n"
      "  if bad: raise Exception('bad CRC in '+bad)\n"
      "  z.extractall(sys.argv[2])\n"
      "  print('OK')\n"
      "except Exception as e:\n"
      "  print('REFUSED', type(e).__name__, e)\n";
  const auto r = run_command("python3 -c " + shell_quote(script) + " " + shell_quote(archive.string()) + " " +
                             shell_quote(into.string()));
  if (r.output.rfind("OK", 0) == 0) return {};
  return r.output.empty() ? "python3 printed nothing" : r.output;
}

TEST(PythonCorpus, EveryArchiveReadsAsPythonReadsIt) {
  if (!fs::exists(kSuite / "zip_cp437_header.zip")) GTEST_SKIP() << "libpython3.11-testsuite is not installed";
  if (!have_program("python3")) GTEST_SKIP() << "python3 is not installed";
  const std::vector<fs::path> archives = corpus();
  ASSERT_GE(archives.size(), 10u) << "the suite holds a dozen archives";
  TestEnv env;
  int index = 0;
  for (const fs::path& archive : archives) {
    SCOPED_TRACE(archive.string());
    const fs::path theirs = env.work() / ("py" + std::to_string(index));
    const fs::path ours = env.work() / ("us" + std::to_string(index));
    ++index;
    fs::create_directories(ours);
    const std::string refused = python_extract(archive, theirs);

    ArchiverFixture tester;
    tester.zip.SetZipFileName(archive.string());
    tester.zip.ExtrOptions.insert(ExtrOptsEnum::ExtrTest);
    const int tested = tester.zip.Count() > 0 ? tester.zip.Extract() : 0;

    ArchiverFixture f;
    f.zip.SetZipFileName(archive.string());
    f.zip.ExtrBaseDir = ours.string();
    f.zip.ExtrOptions.insert(ExtrOptsEnum::ExtrDirNames);
    const int extracted = f.zip.Count() > 0 ? f.zip.Extract() : 0;

    if (!refused.empty()) {
      EXPECT_LE(extracted, 0) << "Python refuses it: " << refused;
      EXPECT_LE(tested, 0) << "Python refuses it: " << refused;
      continue;
    }
    const auto want = tree(theirs);
    EXPECT_EQ(tested, static_cast<int>(want.size())) << tester.texts();
    EXPECT_EQ(extracted, static_cast<int>(want.size())) << f.texts();
    const auto got = tree(ours);
    for (const auto& [name, bytes] : want) {
      const auto it = got.find(name);
      if (it == got.end()) {
        ADD_FAILURE() << "we did not write " << name << "\n" << f.texts();
        continue;
      }
      EXPECT_TRUE(it->second == bytes) << name << ": the bytes differ";
    }
    for (const auto& [name, bytes] : got) EXPECT_TRUE(want.count(name)) << "we wrote " << name << ", Python did not";
  }
}

}  // namespace
}  // namespace orv::zip
