// orvakell-burn --list over the virtual recorder.
#include <gtest/gtest.h>

#include "test_env.h"

namespace {

using orv::test::run_command;
using orv::test::shell_quote;

std::string Burn(const std::string& config_path, const std::string& args) {
  const std::string program = (orv::test::bin_dir() / "orvakell-burn").string();
  return run_command("ORVAKELL_VRECORDER=" + shell_quote(config_path) + " " + shell_quote(program) + " " + args +
                     " 2>&1")
      .output;
}

TEST(BurnList, ShowsTheVirtualRecorderWithCapabilitiesAndSpeeds) {
  orv::test::TestEnv env;
  const auto conf = env.work() / "vrec.conf";
  orv::test::write_file(conf, (env.work() / "a.iso").string() + " CD-RW letter=S speeds=706,1411,2822\n");
  const std::string out = Burn(conf.string(), "--list --no-spti");
  EXPECT_NE(out.find("ASPI layer: WNASPI32.DLL\n"), std::string::npos) << out;
  EXPECT_NE(out.find("0:0:0,S: ORVAKELLVIRTUAL CD-RW   1.00\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  Write modes:  RAW SAO TAO\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  Write speeds: 16x 8x 4x\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  Disc:         CD-RW\n"), std::string::npos) << out;
  EXPECT_NE(out.find("CD-RW write"), std::string::npos) << out;
}

TEST(BurnList, EmptyConfigurationAndBadUsage) {
  orv::test::TestEnv env;
  const auto conf = env.work() / "empty.conf";
  orv::test::write_file(conf, "# no drives\n");
  EXPECT_NE(Burn(conf.string(), "--list --no-spti").find("No CD/DVD units.\n"), std::string::npos);
  const std::string program = (orv::test::bin_dir() / "orvakell-burn").string();
  EXPECT_EQ(run_command(shell_quote(program) + " --list --bogus 2>/dev/null").exit_code, 2);
  EXPECT_EQ(run_command(shell_quote(program) + " --frobnicate 2>/dev/null").exit_code, 2);
}

}  // namespace
