// The read-ahead cache on its own: block boundaries of the header, of packed files and of the
// post-gap, the bound of the queue, priming, the answers of GetBlock, stop and failures.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "burner/cache_thread.h"
#include "test_env.h"

namespace orv::burner {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 2048);
  return v;
}

TTrackPiece FilePiece(const std::string& path, int64_t bytes) {
  return {TTrackPiece::Kind::File, path, bytes, RoundUpToSector(bytes), nullptr};
}

// Takes every block until GetBlock answers 0 (bounded), returning the block sizes in sectors
// and the concatenated data.
struct Drained {
  std::vector<int> sectors;
  std::vector<uint8_t> data;
};
Drained Drain(TCacheThread& cache) {
  Drained d;
  std::vector<uint8_t> buf(kCacheBlockBytes);
  const auto give_up = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < give_up) {
    const int n = cache.WaitBlock(buf.data(), 10ms);
    if (n == 0) break;
    if (n < 0) continue;
    d.sectors.push_back(n / 2048);
    d.data.insert(d.data.end(), buf.begin(), buf.begin() + n);
  }
  return d;
}

class CacheTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path p = env_.work() / name;
    orv::test::write_file(p, std::string(bytes.begin(), bytes.end()));
    return p.string();
  }
  orv::test::TestEnv env_;
};

TEST_F(CacheTest, FilesArePackedIntoBlocksAfterTheHeaderBlocks) {
  std::vector<uint8_t> header = Bytes(150 * 2048, 1);
  const std::vector<uint8_t> header_copy = header;
  const auto a = Bytes(100000, 2), b = Bytes(3000, 3);
  TCacheSources s;
  s.Files = {FilePiece(File("a", a), 100000), FilePiece(File("b", b), 3000)};
  const int64_t track = (150 + 49 + 2) * 2048;
  TCacheThread cache(4194304, false, track, header, s);
  const Drained d = Drain(cache);
  // Header: four blocks of 31 and one of 26; then 31 sectors of a, then its last 18 sectors
  // with the 2 of b (40960 bytes).
  EXPECT_EQ(d.sectors, (std::vector<int>{31, 31, 31, 31, 26, 31, 20}));
  ASSERT_EQ(d.data.size(), static_cast<size_t>(track));
  EXPECT_TRUE(std::equal(header_copy.begin(), header_copy.end(), d.data.begin()));
  const auto at_a = d.data.begin() + 150 * 2048;
  EXPECT_TRUE(std::equal(a.begin(), a.end(), at_a));
  EXPECT_TRUE(std::all_of(at_a + 100000, at_a + 49 * 2048, [](uint8_t c) { return c == 0; }));
  EXPECT_TRUE(std::equal(b.begin(), b.end(), at_a + 49 * 2048));
  EXPECT_TRUE(header.empty()) << "the header stream is emptied once queued";
  EXPECT_EQ(cache.ErrorText(), "");
  EXPECT_EQ(cache.Remaining(), 0);
  cache.WaitFor();
  EXPECT_TRUE(cache.Finished());
  EXPECT_EQ(cache.CurrentFile(), s.Files[1].path);
}

TEST_F(CacheTest, ShortTrackGetsZeroSectorsUpTo300) {
  std::vector<uint8_t> header = Bytes(120 * 2048, 4);
  TCacheThread cache(4194304, true, 120 * 2048, header, {});
  EXPECT_TRUE(cache.PadToMinimum());
  const Drained d = Drain(cache);
  EXPECT_EQ(d.sectors, (std::vector<int>{31, 31, 31, 27, 31, 31, 31, 31, 31, 25}));
  ASSERT_EQ(d.data.size(), 300u * 2048);
  EXPECT_TRUE(std::all_of(d.data.begin() + 120 * 2048, d.data.end(), [](uint8_t c) { return c == 0; }));
}

TEST_F(CacheTest, NoPostGapWithoutTheOptionOrForLongTracks) {
  std::vector<uint8_t> h1 = Bytes(120 * 2048, 5);
  TCacheThread short_no_gap(4194304, false, 120 * 2048, h1, {});
  EXPECT_FALSE(short_no_gap.PadToMinimum());
  EXPECT_EQ(Drain(short_no_gap).data.size(), 120u * 2048);
  std::vector<uint8_t> h2 = Bytes(300 * 2048, 6);
  TCacheThread long_track(4194304, true, 300 * 2048, h2, {});
  EXPECT_FALSE(long_track.PadToMinimum());
  EXPECT_EQ(Drain(long_track).data.size(), 300u * 2048);
}

TEST_F(CacheTest, QueueIsBoundedAndPrimedWhileALargeHeaderIsStillQueued) {
  for (const auto& [cache_size, capacity] : {std::pair{4194304, 64}, std::pair{2097152, 32}}) {
    std::vector<uint8_t> header = Bytes(100 * kCacheBlockBytes, 7);
    TCacheThread cache(cache_size, false, static_cast<int64_t>(header.size()), header, {});
    EXPECT_EQ(cache.BlockCapacity(), capacity);
    ASSERT_TRUE(cache.WaitPrimed(60s));
    // Primed with the header not yet queued in full; the producer waits at capacity - 1.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(cache.MaxQueued(), capacity - 1);
    EXPECT_EQ(cache.BytesInCache(), int64_t{capacity - 1} * kCacheBlockBytes);
    EXPECT_FALSE(cache.Finished());
    const Drained d = Drain(cache);
    EXPECT_EQ(d.sectors.size(), 100u);
    EXPECT_EQ(cache.MaxQueued(), capacity - 1);
  }
}

TEST_F(CacheTest, GetBlockAnswersMinusOneWhileTheSourceIsNotReadyAndZeroAtTheEnd) {
  // A source that blocks on open until someone writes to it.
  const std::string fifo = (env_.work() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<uint8_t> header = Bytes(2048, 8);
  TCacheSources s;
  s.Files = {FilePiece(fifo, 4096)};
  TCacheThread cache(4194304, false, 3 * 2048, header, s);
  std::vector<uint8_t> buf(kCacheBlockBytes);
  int n = -1;
  for (int i = 0; i < 6000 && n == -1; ++i) n = cache.WaitBlock(buf.data(), 10ms);
  EXPECT_EQ(n, 2048);
  EXPECT_EQ(cache.GetBlock(buf.data()), -1);
  EXPECT_FALSE(cache.Finished());
  // The writer side opens: the source turns out not to have its recorded size.
  const int w = ::open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(w, 0);
  ::close(w);
  cache.WaitFor();
  EXPECT_EQ(cache.ErrorText(), TrackMessage(kMsgFileChanged, fifo));
  EXPECT_EQ(cache.GetBlock(buf.data()), 0);
}

TEST_F(CacheTest, AbortDiscardsTheQueueAndEndsTheProducer) {
  std::vector<uint8_t> header = Bytes(100 * kCacheBlockBytes, 9);
  TCacheThread cache(4194304, false, static_cast<int64_t>(header.size()), header, {});
  ASSERT_TRUE(cache.WaitPrimed(60s));
  cache.Abort();
  cache.WaitFor();
  EXPECT_EQ(cache.ErrorText(), kMsgAbortedByUser);
  EXPECT_TRUE(cache.Finished());
  EXPECT_EQ(cache.BytesInCache(), 0);
  std::vector<uint8_t> buf(kCacheBlockBytes);
  EXPECT_EQ(cache.GetBlock(buf.data()), 0);
}

TEST_F(CacheTest, AWriterMessageReplacesAndStops) {
  std::vector<uint8_t> header = Bytes(100 * kCacheBlockBytes, 10);
  TCacheThread cache(4194304, false, static_cast<int64_t>(header.size()), header, {});
  ASSERT_TRUE(cache.WaitPrimed(60s));
  cache.AbortWith("WRITER ERROR [X]");
  cache.WaitFor();
  EXPECT_EQ(cache.ErrorText(), "WRITER ERROR [X]");
}

TEST_F(CacheTest, MissingSourceBeforePrimingFailsWithCantOpenFile) {
  std::vector<uint8_t> header = Bytes(16 * 2048, 11);
  const std::string missing = (env_.work() / "missing.dat").string();
  TCacheSources s;
  s.Files = {FilePiece(missing, 5000)};
  TCacheThread cache(4194304, true, 19 * 2048, header, s);
  EXPECT_FALSE(cache.WaitPrimed(60s));
  EXPECT_EQ(cache.ErrorText(), TrackMessage(kMsgCantOpenFile, missing));
  EXPECT_EQ(cache.CurrentFile(), missing);
}

TEST_F(CacheTest, BootImageAndItsPaddingComeAsTheirOwnBlocks) {
  std::vector<uint8_t> header = Bytes(20 * 2048, 12);
  const auto boot = Bytes(5000, 13);
  TCacheSources s;
  s.BootImageName = File("boot.img", boot);
  s.BootImageBytes = RoundUpToSector(5000);
  s.BootPadBytes = 40 * 2048;
  const auto f = Bytes(2048, 14);
  s.Files = {FilePiece(File("f", f), 2048)};
  TCacheThread cache(4194304, false, (20 + 3 + 40 + 1) * 2048, header, s);
  const Drained d = Drain(cache);
  EXPECT_EQ(d.sectors, (std::vector<int>{20, 3, 31, 9, 1}));
  EXPECT_TRUE(std::equal(boot.begin(), boot.end(), d.data.begin() + 20 * 2048));
  EXPECT_TRUE(std::equal(f.begin(), f.end(), d.data.end() - 2048));
}

}  // namespace
}  // namespace orv::burner
