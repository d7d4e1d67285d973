// The command sequence of a burn on every disc type the virtual recorder emulates, the bytes
// that reach the disc, and the ends of a burn: abort, medium error, a vanished or shrunk
// source, a recorder whose next writable address moved.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "burn_fixture.h"
#include "burner/cache_thread.h"
#include "burner/write_thread.h"
#include "scsi/scsi_device.h"

namespace orv::burner::test {
namespace {

using Ops = std::vector<std::string>;

Ops operator+(Ops a, const Ops& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Commands of the device operations the burn is made of.
const Ops kDiscType = {"46", "51"};                              // GET CONFIGURATION, READ DISC INFORMATION
const Ops kWaitReady = {"51", "00"};                             // disc information until ready, TEST UNIT READY
const Ops kWaitReadyRam = {"00", "00", "03"};                    // DVD-RAM: TEST UNIT READY, REQUEST SENSE
const Ops kWriteParameters = {"5A", "55"};                       // MODE SENSE 05h, MODE SELECT
const Ops kCapabilities = {"5A", "5A", "46", "46", "5A"};        // page 2Ah, page 30h, features 2Ah/2Fh, page 2Ah
const Ops kIdleTail = {"BB", "01", "1E", "1B", "01", "00"};      // speed, rewind, allow, load, rewind, ready
const Ops kRelease = {"17"};  // the recorder's reservation given up at the end of every burn

Ops NextWritableAddress(bool ram) {
  const Ops& wait = ram ? kWaitReadyRam : kWaitReady;
  return wait + (ram ? Ops{} : kWriteParameters) + wait + Ops{"51", "52"};  // disc state and room, address
}

// One WRITE(10) per block; the drive buffer is read before the 6th, 11th, ... block.
Ops Writes(int blocks, bool ram) {
  Ops ops;
  for (int i = 0; i < blocks; ++i) {
    if (!ram && i >= 5 && (i - 5) % 5 == 0) ops.push_back("5C");
    ops.push_back("2A");
  }
  return ops;
}

std::string Join(const Ops& ops) {
  std::string s;
  for (const auto& o : ops) s += o + " ";
  return s;
}

std::string ReadAt(const std::string& path, uint64_t offset, size_t bytes) {
  std::ifstream in(path, std::ios::binary);
  std::string data(bytes, '\0');
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(data.data(), static_cast<std::streamsize>(bytes));
  data.resize(static_cast<size_t>(in.gcount()));
  return data;
}

class BurnSequence : public BurnFixture {
 protected:
  // A 100000-byte and a 3000-byte file: header 150 sectors, files 51, post-gap up to 300:
  // eleven blocks.
  void TwoFiles() {
    a_ = Source("a.dat", 100000, 1);
    b_ = Source("b.dat", 3000, 2);
    Add(a_);
    Add(b_);
  }
  std::string a_, b_;
};

TEST_F(BurnSequence, CdrBurnSendsTheSequenceAndTheTrackHoldsTheImage) {
  Start("CD-R");
  TwoFiles();
  Prepare();
  const std::string expected_image = (env_.work() / "expected.iso").string();
  ASSERT_EQ(burner_->WriteImage(expected_image), "");
  ASSERT_EQ(burner_->TrackSize(), 300);
  bool finalizing = false;
  burner_->OnFinalizingTrack = [&](TDiscBurner*) { finalizing = true; };
  const BurnResult r = Burn();
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(finalizing);

  const Ops expected = kDiscType + Ops{"1B", "01", "BB"} + kWaitReady + kCapabilities + kWriteParameters +
                       NextWritableAddress(false) + Writes(11, false) + Ops{"5C", "35"} + kWriteParameters +
                       Ops{"5B"} + kWaitReady + Ops{"5C"} + kWriteParameters + kCapabilities + kIdleTail + Ops{"01"} + kRelease;
  EXPECT_EQ(Join(Opcodes()), Join(expected));

  // Blocks of the header, of the packed files and of the post-gap at consecutive sectors.
  const std::vector<unsigned> blocks = {31, 31, 31, 31, 26, 31, 20, 31, 31, 31, 6};
  std::vector<unsigned> seen;
  uint32_t next = 0;
  for (const auto& l : LogLines()) {
    if (Field(l, 1) == "2A") {
      EXPECT_EQ(Lba(l), next);
      seen.push_back((Byte(l, 7) << 8) | Byte(l, 8));
      next += seen.back();
    }
    if (Field(l, 1) == "5B") {
      EXPECT_EQ(Byte(l, 1), 1u) << "immediate close";
      EXPECT_EQ(Byte(l, 2), 2u) << "closes the session";
    }
    if (Field(l, 1) == "35") {
      EXPECT_EQ(Byte(l, 1), 0u) << "not immediate on CD";
    }
  }
  EXPECT_EQ(seen, blocks);
  const std::string start_line = std::string(">>> STARTING WRITE PROCESS ON ") + scsi::DiscTypeNames[scsi::DT_CDR] + " AT 40X";
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), start_line), r.lines.end());

  // The disc holds the laid-out track, then zero sectors up to 300.
  const std::string want = orv::test::read_file(expected_image);
  ASSERT_EQ(want.size(), 201u * 2048);
  EXPECT_TRUE(ReadAt(Image(), 0, want.size()) == want);
  EXPECT_EQ(ReadAt(Image(), want.size(), 99 * 2048), std::string(99 * 2048, '\0'));
  EXPECT_EQ(burner_->BytesWritten.load(), 300 * 2048);
  EXPECT_EQ(burner_->CacheFillPercent(), 0);
  EXPECT_EQ(burner_->CurrentFile(), "");
}

TEST_F(BurnSequence, TestWriteSendsNoCloseAndLeavesTheDiscBlank) {
  Start("CD-R");
  TwoFiles();
  burner_->SetTestWrite(true);
  burner_->PerformOPC = true;
  Prepare();
  const BurnResult r = Burn();
  EXPECT_EQ(r.error, "");
  const Ops expected = kDiscType + Ops{"1B", "01", "BB"} + kWaitReady + kCapabilities + kWriteParameters +
                       NextWritableAddress(false) + Writes(11, false) + Ops{"5C", "35"} + kWaitReady + Ops{"5C"} +
                       kWriteParameters + kCapabilities + kIdleTail + Ops{"01"} + kRelease;
  EXPECT_EQ(Join(Opcodes()), Join(expected));
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), ">>> TEST/DUMMY WRITE"), r.lines.end());
  // The write parameters of the burn carry the test-write bit; nothing reached the image.
  EXPECT_FALSE(fs::exists(Image()) && fs::file_size(Image()) > 0);
}

TEST_F(BurnSequence, DvdMinusRReservesStreamsAndPollsWithoutClosing) {
  Start("DVD-R");
  TwoFiles();
  Prepare();
  bool finalizing = false;
  burner_->OnFinalizingTrack = [&](TDiscBurner*) { finalizing = true; };
  const BurnResult r = Burn();
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(finalizing);
  const Ops expected = kDiscType + Ops{"1B", "01", "BB"} + kWaitReady + kCapabilities + kWriteParameters +
                       NextWritableAddress(false) + Ops{"B6", "BF", "53"} + kWaitReady + Writes(11, false) +
                       Ops{"5C", "35", "51"} + kWaitReady + Ops{"5C"} + kWriteParameters + kCapabilities + kIdleTail + kRelease;
  EXPECT_EQ(Join(Opcodes()), Join(expected));
  for (const auto& l : LogLines()) {
    if (Field(l, 1) == "53") {
      EXPECT_EQ((Byte(l, 5) << 24) | (Byte(l, 6) << 16) | (Byte(l, 7) << 8) | Byte(l, 8), 301u) << "TrackSize + 1";
    }
    if (Field(l, 1) == "35") {
      EXPECT_EQ(Byte(l, 1), 2u) << "immediate on DVD-R";
    }
  }
  const std::string start_line = std::string(">>> STARTING WRITE PROCESS ON ") + scsi::DiscTypeNames[scsi::DT_DVDR] + " AT 18X";
  EXPECT_NE(std::find(r.lines.begin(), r.lines.end(), start_line), r.lines.end());
}

TEST_F(BurnSequence, DvdPlusRClosesTheSession) {
  Start("DVD+R");
  TwoFiles();
  Prepare();
  const BurnResult r = Burn();
  EXPECT_EQ(r.error, "");
  const Ops expected = kDiscType + Ops{"1B", "01", "BB"} + kWaitReady + kCapabilities + kWriteParameters +
                       NextWritableAddress(false) + Writes(11, false) + Ops{"5C", "35"} + kWriteParameters +
                       Ops{"5B"} + kWaitReady + Ops{"5C"} + kWriteParameters + kCapabilities + kIdleTail + Ops{"01"} + kRelease;
  EXPECT_EQ(Join(Opcodes()), Join(expected));
}

TEST_F(BurnSequence, DvdRamWritesWithoutLoadSpeedBufferQueriesOrClose) {
  Start("DVD-RAM");
  TwoFiles();
  Prepare();
  const BurnResult r = Burn();
  EXPECT_EQ(r.error, "");
  const Ops expected = kDiscType + Ops{"01"} + kWaitReadyRam + kCapabilities + NextWritableAddress(true) +
                       Writes(11, true) + Ops{"35"} + kWaitReadyRam + kWriteParameters + kCapabilities + kIdleTail + kRelease;
  EXPECT_EQ(Join(Opcodes()), Join(expected));
}

TEST_F(BurnSequence, AbortStopsWritingFlushesAndDoesNotClose) {
  Start("CD-R", "delay_ms=5");
  Add(Source("big.dat", 3 * 1024 * 1024, 3));
  Prepare();
  const BurnResult r = Burn([this] {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (burner_->BytesWritten.load() < 4 * kCacheBlockBytes && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    burner_->AbortWrite();
  });
  EXPECT_EQ(r.error, kMsgAbortedByUser);
  const Ops ops = Opcodes();
  const auto writes = std::count(ops.begin(), ops.end(), "2A");
  EXPECT_GE(writes, 3);
  EXPECT_LT(writes, burner_->TrackSize() / 31);
  // After the last write: the buffer query and the flush, nothing else.
  const auto last = std::find(ops.rbegin(), ops.rend(), "2A").base();
  EXPECT_EQ(Join(Ops(last, ops.end())), Join(Ops{"5C", "35"} + kRelease));
}

TEST_F(BurnSequence, MediumErrorEndsWithTheWriterErrorAndTheDeviceText) {
  Start("CD-R", "medium_error=200");
  TwoFiles();
  Prepare();
  const BurnResult r = Burn();
  EXPECT_EQ(r.error.rfind("WRITER ERROR [MEDIUM ERROR (", 0), 0u) << r.error;
  EXPECT_EQ(r.error.back(), ']');
  const Ops ops = Opcodes();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "5B"), 0);
  const auto last = std::find(ops.rbegin(), ops.rend(), "2A").base();
  EXPECT_EQ(Join(Ops(last, ops.end())), Join(Ops{"5C", "35"} + kRelease));
}

TEST_F(BurnSequence, BusyRecorderIsAskedAgainUntilItTakesTheBlock) {
  // Every media command of the first 400 answers BUSY: the layout and the set-up go on past
  // them, the first WRITE(10) is repeated (600 ms apart, cut short here) until it is taken.
  Start("CD-R", "busy=400");
  TwoFiles();
  Prepare();
  const std::string expected_image = (env_.work() / "expected.iso").string();
  ASSERT_EQ(burner_->WriteImage(expected_image), "");
  const BurnResult r = Burn();
  EXPECT_EQ(r.error, "");
  int at_zero = 0;
  for (const auto& l : LogLines())
    if (Field(l, 1) == "2A" && Lba(l) == 0) ++at_zero;
  EXPECT_GT(at_zero, 1);
  const std::string want = orv::test::read_file(expected_image);
  EXPECT_TRUE(ReadAt(Image(), 0, want.size()) == want);
}

TEST_F(BurnSequence, RecorderBusyTenThousandTimesEndsTheBurn) {
  Start("CD-R", "busy=10100");
  TwoFiles();
  Prepare();
  const BurnResult r = Burn();
  EXPECT_EQ(r.error, kMsgWriterBusy);
  const Ops ops = Opcodes();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "2A"), 10000);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "5B"), 0);
}

TEST_F(BurnSequence, SourceDeletedAfterAddingEndsWithCantOpenFile) {
  Start("CD-R");
  TwoFiles();
  ASSERT_EQ(::unlink(b_.c_str()), 0);
  Prepare();
  const BurnResult r = Burn();
  EXPECT_FALSE(r.started) << "the cache fails before it is primed";
  EXPECT_EQ(r.error, TrackMessage(kMsgCantOpenFile, b_));
  EXPECT_EQ(Join(Opcodes()), Join(kRelease)) << "no command but the release reaches the recorder";
  EXPECT_EQ(burner_->CurrentFile(), b_);
}

TEST_F(BurnSequence, SourceDeletedAfterPrimingStopsTheWriterWithoutClosing) {
  Start("CD-R");
  burner_->SetCacheSize(2097152);  // primed after 31 blocks
  Add(Source("first.dat", 4 * 1024 * 1024, 4));
  const std::string gone = Source("gone.dat", 5000, 5);
  Add(gone);
  ASSERT_EQ(::unlink(gone.c_str()), 0);
  Prepare();
  const BurnResult r = Burn();
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.error, TrackMessage(kMsgCantOpenFile, gone));
  const Ops ops = Opcodes();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "5B"), 0);
  ASSERT_GE(ops.size(), 2u);
  EXPECT_EQ(ops[ops.size() - 2], "35");
  EXPECT_EQ(ops.back(), "17");
}

TEST_F(BurnSequence, SourceThatShrankEndsWithAnErrorNamingIt) {
  Start("CD-R");
  TwoFiles();
  Prepare();
  ASSERT_EQ(::truncate(a_.c_str(), 50000), 0);
  const BurnResult r = Burn();
  EXPECT_EQ(r.error, TrackMessage(kMsgFileChanged, a_));
  const Ops ops = Opcodes();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "5B"), 0);
}

TEST_F(BurnSequence, MovedWritableAddressIsRefusedInsteadOfWritingAnUnreadableSession) {
  Start("CD-R");
  TwoFiles();
  Prepare();
  ASSERT_EQ(burner_->SessionStart, 0u);
  // Another program appends a session between the layout and the burn.
  {
    TDiscBurner other;
    other.SetDeviceID(other.Devices().front());
    other.ResetFileTree(65535, 8191);
    ASSERT_EQ(other.AddFile("\\", Source("other.dat", 2048, 9), false), 1);
    other.PrepareImage(false, nullptr);
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    other.OnWriteDone = [&](TDiscBurner*, const std::string&) {
      std::lock_guard<std::mutex> g(m);
      done = true;
      cv.notify_all();
    };
    ASSERT_TRUE(other.StartBurn());
    std::unique_lock<std::mutex> g(m);
    ASSERT_TRUE(cv.wait_for(g, std::chrono::seconds(60), [&] { return done; }));
    g.unlock();
    other.WaitForBurn();
  }
  ClearLog();
  const BurnResult r = Burn();
  EXPECT_EQ(r.error.rfind("WRITER ERROR [NEXT WRITABLE ADDRESS ", 0), 0u) << r.error;
  const Ops ops = Opcodes();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "2A"), 0);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "5B"), 0);
}

TEST_F(BurnSequence, SecondBurnWhileOneRunsIsRefused) {
  Start("CD-R", "delay_ms=5");
  TwoFiles();
  Prepare();
  std::string second_error;
  const BurnResult r = Burn([&] {
    TDiscBurner other;
    other.OnWriteDone = [&](TDiscBurner*, const std::string& e) { second_error = e; };
    EXPECT_FALSE(other.StartBurn());
  });
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(second_error, kMsgBurnRunning);
}


// ---- Room and ownership, both settled before anything is written -----------------------------


// Holds "<image>.lock" as another writer process would (flock locks of different open files
// exclude each other in one process too).
class OtherWriter {
 public:
  explicit OtherWriter(const std::string& image) : fd_(::open((image + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    locked_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~OtherWriter() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool locked() const { return locked_; }

 private:
  int fd_;
  bool locked_ = false;
};

std::string PrepareError(TDiscBurner& b) {
  try {
    b.PrepareImage(false, nullptr);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}


TEST_F(BurnSequence, SessionLargerThanTheFreeRoomIsRefusedBeforeAnyWrite) {
  Start("CD-R", "capacity=1000");
  Add(Source("big.dat", 5 * 1024 * 1024, 7));
  ClearLog();
  const std::string error = PrepareError(*burner_);
  ASSERT_GT(burner_->TrackSize(), 1000);
  EXPECT_EQ(error, "SESSION OF " + std::to_string(burner_->TrackSize()) +
                       " SECTORS DOES NOT FIT THE 1000 FREE SECTORS OF THE DISC");
  const Ops ops = Opcodes();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "2A"), 0);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "53"), 0);
  ASSERT_FALSE(ops.empty());
  EXPECT_EQ(ops.front(), "16") << "reserved first";
  EXPECT_EQ(ops.back(), "17") << "and given up with the refusal";
  EXPECT_FALSE(fs::exists(Image()));
  // The lock was given up: another burner may write now.
  EXPECT_TRUE(OtherWriter(Image()).locked());
}

TEST_F(BurnSequence, SessionThatFillsTheDiscExactlyIsWritten) {
  Start("CD-R", "capacity=300");
  Add(Source("small.dat", 4000, 8));
  EXPECT_EQ(PrepareError(*burner_), "");
  EXPECT_EQ(burner_->FreeBlocks, 300);
  EXPECT_EQ(burner_->TrackSize(), 300);
  EXPECT_EQ(Burn().error, "");
}

TEST_F(BurnSequence, SecondWriterGetsRecorderInUseBeforeTouchingTheDisc) {
  Start("CD-R");
  TwoFiles();
  {
    OtherWriter other(Image());
    ASSERT_TRUE(other.locked());
    ClearLog();
    EXPECT_EQ(PrepareError(*burner_), TrackMessage(kMsgRecorderInUse, burner_->DeviceID()));
    EXPECT_EQ(Join(Opcodes()), Join(Ops{"16"})) << "nothing after the refused reservation";
    EXPECT_NE(PrepareError(*burner_).find("RECORDER IN USE"), std::string::npos) << "refused each time";
  }
  // While this burner holds the recorder, the other cannot take it; after the burn it can.
  Prepare();
  EXPECT_FALSE(OtherWriter(Image()).locked());
  EXPECT_EQ(Burn().error, "");
  EXPECT_TRUE(OtherWriter(Image()).locked());
}
}  // namespace
}  // namespace orv::burner::test
