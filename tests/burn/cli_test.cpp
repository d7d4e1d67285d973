// orvakell-burn --device over the virtual recorder: sessions that xorriso reads back, and a
// burn stopped by --abort-after-blocks.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "burn_fixture.h"
#include "test_env.h"

namespace {

namespace fs = std::filesystem;
using orv::test::run_command;
using orv::test::shell_quote;

class DeviceCommand : public ::testing::Test {
 protected:
  void Configure(const std::string& keys) {
    conf_ = env_.work() / "vrec.conf";
    orv::test::write_file(conf_, "\"" + image_.string() + "\" CD-R " + keys + "\n");
  }
  orv::test::CommandResult Burn(const std::string& args) {
    const std::string program = (orv::test::bin_dir() / "orvakell-burn").string();
    return run_command("ORVAKELL_VRECORDER=" + shell_quote(conf_.string()) + " timeout 120 " + shell_quote(program) +
                       " --device 0:0:0 --no-spti " + args + " 2>&1");
  }
  std::string Source(const std::string& name, size_t bytes, char fill) {
    const fs::path p = env_.work() / name;
    fs::create_directories(p.parent_path());
    std::string data(bytes, fill);
    for (size_t i = 0; i < bytes; i += 4096) data[i] = static_cast<char>(i / 4096);
    orv::test::write_file(p, data);
    return p.string();
  }
  orv::test::TestEnv env_;
  fs::path image_ = env_.work() / "disc.iso";
  fs::path conf_;
};

TEST_F(DeviceCommand, WritesSessionsThatXorrisoReadsBack) {
  if (!orv::test::have_program("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  Configure("");
  const std::string one = Source("one/Accounts.Dat", 200000, 'a');
  const std::string two = Source("two/Accounts.Dat", 90000, 'b');
  const std::string extra = Source("two/extra.zip", 5000, 'c');
  auto r = Burn(shell_quote(one));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("session written at sector 0:"), std::string::npos) << r.output;
  r = Burn("--import 255 " + shell_quote(two) + " " + shell_quote(extra));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const auto at = r.output.find("session written at sector ");
  ASSERT_NE(at, std::string::npos) << r.output;
  const std::string second = r.output.substr(at + 26, r.output.find(':', at) - at - 26);
  ASSERT_NE(second, "0");
  const fs::path out = env_.work() / "x";
  r = run_command("xorriso -osirrox on -load sbsector " + second + " -indev stdio:" + shell_quote(image_.string()) +
                  " -extract / " + shell_quote(out.string()) + " 2>&1");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(orv::test::read_file(out / "Accounts.Dat") == orv::test::read_file(two)) << "today's backup wins";
  EXPECT_TRUE(orv::test::read_file(out / "extra.zip") == orv::test::read_file(extra));
  run_command("chmod -R u+w " + shell_quote(out.string()));
}

TEST_F(DeviceCommand, AbortAfterBlocksEndsWithTheAbortText) {
  Configure("delay_ms=5 log=\"" + (env_.work() / "cmd.log").string() + "\"");
  const auto r = Burn("--abort-after-blocks 2 " + shell_quote(Source("big.dat", 4 << 20, 'z')));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("OPERATION ABORTED BY USER"), std::string::npos) << r.output;
  const std::string log = orv::test::read_file(env_.work() / "cmd.log");
  EXPECT_EQ(log.find(" 5B "), std::string::npos) << "no close";
}

TEST_F(DeviceCommand, MissingSourceAndBadUsage) {
  Configure("");
  EXPECT_EQ(Burn("").exit_code, 2);
  EXPECT_EQ(Burn("--import x " + shell_quote(Source("a", 10, 'a'))).exit_code, 2);
  const auto r = Burn(shell_quote((env_.work() / "nothere.dat").string()));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("no such file"), std::string::npos) << r.output;
}

}  // namespace

TEST_F(DeviceCommand, DamagedImportIsRefusedUnlessPartialImportsAreAllowed) {
  Configure("");
  auto r = Burn(shell_quote(Source("one/Kept.dat", 5000, 'k')) + " " + shell_quote(Source("one/Damaged.dat", 7000, 'd')));
  ASSERT_EQ(r.exit_code, 0) << r.output;
  ASSERT_TRUE(orv::burner::test::DamageJolietRecord(image_.string(), "Damaged.dat"));
  const auto before = fs::file_size(image_);
  const std::string today = Source("two/Today.dat", 3000, 't');

  r = Burn("--import 255 " + shell_quote(today));
  EXPECT_EQ(r.exit_code, 3) << r.output;
  EXPECT_NE(r.output.find("import: ERROR IMPORTING SESSION, \"\\Damaged.dat\" LIES OUTSIDE THE DISC"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("1 imported file would be left off; nothing written"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("session written"), std::string::npos) << r.output;
  EXPECT_EQ(fs::file_size(image_), before) << "nothing written";

  r = Burn("--import 255 --allow-partial-import " + shell_quote(today));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("Damaged.dat"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(" files, 0 folders, 1 imported file left off"), std::string::npos) << r.output;
}

TEST_F(DeviceCommand, NoRoomAndRecorderInUseAreRefusedBeforeAnyWrite) {
  Configure("capacity=1000");
  auto r = Burn(shell_quote(Source("big.dat", 5 << 20, 'b')));
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("SECTORS DOES NOT FIT THE 1000 FREE SECTORS OF THE DISC"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(image_));

  Configure("");
  const int fd = ::open((image_.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  r = Burn(shell_quote(Source("small.dat", 3000, 's')));
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("RECORDER IN USE"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(image_));
  ::close(fd);
  r = Burn(shell_quote(Source("small.dat", 3000, 's')));
  EXPECT_EQ(r.exit_code, 0) << r.output;
}
