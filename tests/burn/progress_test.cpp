// The progress line of orvakell-burn: its text, the two quiet seconds, the redraw rate, and
// silence when the stream is no terminal.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "progress.h"

namespace {

using orv::tools::ProgressLine;
using namespace std::chrono_literals;

TEST(ProgressLine, TextGivesShareRateAndTimeLeft) {
  // 30 MB of 120 MB in 10 s: 25 %, 3.0 MB/s, 90 MB left = 30 s.
  EXPECT_EQ(ProgressLine::Text(30'000'000, 120'000'000, 10.0), "  25%    3.0 MB/s    0:30 left");
  EXPECT_EQ(ProgressLine::Text(120'000'000, 120'000'000, 8.0), " 100%   15.0 MB/s    0:00 left");
  // 1.2 MB of 8 GB in 4 s: hours left.
  EXPECT_EQ(ProgressLine::Text(1'200'000, 8'000'000'000, 4.0), "   0%    0.3 MB/s 7:24:23 left");
  EXPECT_EQ(ProgressLine::Text(0, 100, 3.0), "   0%   --.- MB/s   -:-- left");  // nothing moved yet
  EXPECT_EQ(ProgressLine::Text(500, 0, 1.0).substr(0, 5), " 100%");  // an empty track does not divide by zero
}

TEST(ProgressLine, QuietForTwoSecondsThenRedrawnInPlaceAndClearedAtTheEnd) {
  const auto t0 = ProgressLine::Clock::time_point{} + 1h;
  std::ostringstream out;
  ProgressLine p(out, true, 100'000'000, t0);
  p.Update(10'000'000, t0 + 1s);
  p.Update(15'000'000, t0 + 1900ms);
  EXPECT_EQ(out.str(), "") << "work shorter than two seconds shows nothing";
  p.Update(20'000'000, t0 + 2s);
  EXPECT_TRUE(p.Shown());
  EXPECT_EQ(out.str(), "\r  20%   10.0 MB/s    0:08 left");
  p.Update(21'000'000, t0 + 2100ms);  // within a quarter second: not redrawn
  EXPECT_EQ(out.str(), "\r  20%   10.0 MB/s    0:08 left");
  p.Update(30'000'000, t0 + 3s);
  EXPECT_EQ(out.str().substr(out.str().rfind('\r')), "\r  30%   10.0 MB/s    0:07 left");
  const size_t width = std::string("  30%   10.0 MB/s    0:07 left").size();
  p.Finish();
  EXPECT_EQ(out.str().substr(out.str().size() - width - 2), "\r" + std::string(width, ' ') + "\r");
  EXPECT_FALSE(p.Shown());
}

TEST(ProgressLine, NothingWhenTheStreamIsNoTerminal) {
  std::ostringstream out;
  EXPECT_FALSE(orv::tools::TerminalStderr(out));  // only standard error can be the terminal
  const auto t0 = ProgressLine::Clock::time_point{} + 1h;
  ProgressLine p(out, orv::tools::TerminalStderr(out), 1000, t0);
  for (int s = 0; s < 10; ++s) p.Update(100 * s, t0 + std::chrono::seconds(s));
  p.Finish();
  EXPECT_EQ(out.str(), "");
}

}  // namespace
