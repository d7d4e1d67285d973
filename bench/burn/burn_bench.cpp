// burn_bench [WORK_FOLDER]
// Makes (once) eight backup files of 128 MiB in WORK_FOLDER (default /tmp/orvakell-burn-bench),
// reads them once so that every run sees a warm page cache, then times side by side, twice,
// alternating, each after a sync:
//   burn  a session with the eight files written to the virtual recorder (a DVD+R image),
//         from StartBurn to OnWriteDone, with the recorder's polling sleeps cut to 1 ms; the
//         recorder completes each command on its own thread and signals the event, as an
//         outside ASPI layer does
//   sync  the same burn with the recorder completing each command before the call returns
//         (sync=1), as the SG_IO path to a real drive does: the burner's pipeline without the
//         emulated layer's thread hand-over
//   cat   cat of the same files into one file (GNU cat copies in the kernel: copy_file_range)
//   pipe  cat of the same files through a pipe into one file (read and write through user
//         space, as the burner does)
//   test  the burn as a test write (the recorder keeps neither the data nor its state file)
// After each written session, its read-back through the recorder is timed beside a plain read
// of the image file and beside the same checks run on the image file directly.
// and prints the ratios to cat of the best times, and the fewest blocks the cache held when
// the writer came for one after priming (it must never run dry while the disk keeps up).
// Must be started from the build's bin folder or with ORV_BIN_DIR naming it (libwnaspi32.so).
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "burner/cache_thread.h"
#include "burner/disc_burner.h"
#include "burner/session_verify.h"
#include "scsi/aspi_layer.h"
#include "scsi/platform.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace orv::burner;

namespace {

constexpr int kFiles = 8;
constexpr int64_t kFileBytes = int64_t{128} << 20;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

class ShortSleeps : public orv::scsi::EventPort {
 public:
  explicit ShortSleeps(orv::scsi::EventPort& real) : real_(real) {}
  void* CreateEvent() override { return real_.CreateEvent(); }
  void ResetEvent(void* e) override { real_.ResetEvent(e); }
  bool WaitForEvent(void* e, std::uint32_t ms) override { return real_.WaitForEvent(e, ms); }
  void CloseEvent(void* e) override { real_.CloseEvent(e); }
  void Sleep(std::uint32_t ms) override { real_.Sleep(std::min<std::uint32_t>(ms, 1)); }

 private:
  orv::scsi::EventPort& real_;
};

void MakeFiles(const fs::path& dir) {
  fs::create_directories(dir);
  std::vector<char> block(1 << 20);
  uint64_t x = 88172645463325252ull;
  for (int i = 0; i < kFiles; ++i) {
    const fs::path p = dir / ("Database" + std::to_string(i) + ".Dat");
    std::error_code ec;
    if (fs::exists(p) && fs::file_size(p, ec) == static_cast<uintmax_t>(kFileBytes)) continue;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    for (int64_t done = 0; done < kFileBytes; done += static_cast<int64_t>(block.size())) {
      // Backup-like: runs of repeated pages between pseudo-random ones.
      for (size_t j = 0; j < block.size(); j += 8) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        const uint64_t v = (j / 4096) % 3 == 0 ? 0 : x;
        std::memcpy(block.data() + j, &v, 8);
      }
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
}

struct BurnTimes {
  double seconds = 0;
  int lowest_blocks = -1;
  int capacity = 0;
  double verify_seconds = 0;  // read-back of the session through the recorder
  double checked_image_seconds = 0;  // the same checks on the image file read directly
  std::string error;
};

// The image file as the disc, read with pread, as many sectors at once as asked.
class ImageSectors : public TSectorSource {
 public:
  explicit ImageSectors(const fs::path& image) : fd_(::open(image.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~ImageSectors() override {
    if (fd_ >= 0) ::close(fd_);
  }
  ImageSectors(const ImageSectors&) = delete;
  ImageSectors& operator=(const ImageSectors&) = delete;
  bool ReadSector(uint32_t sector, uint8_t* buffer) override { return ReadSectors(sector, 1, buffer); }
  bool ReadSectors(uint32_t sector, uint32_t count, uint8_t* buffer) override {
    const size_t bytes = size_t{count} * 2048;
    return fd_ >= 0 && ::pread(fd_, buffer, bytes, static_cast<off_t>(uint64_t{sector} * 2048)) == static_cast<ssize_t>(bytes);
  }

 private:
  int fd_;
};

BurnTimes BurnOnce(const std::vector<std::string>& files, bool test_write, const fs::path& image) {
  BurnTimes t;
  TDiscBurner b;
  if (b.Devices().empty()) {
    t.error = "no virtual recorder";
    return t;
  }
  b.SetDeviceID(b.Devices().front());
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  b.OnWriteDone = [&](TDiscBurner*, const std::string& e) {
    std::lock_guard<std::mutex> g(m);
    t.error = e;
    done = true;
    cv.notify_all();
  };
  b.SetTestWrite(test_write);
  b.ResetFileTree(65535, 8191);
  for (const auto& f : files) b.AddFile("\\", f, false);
  b.PrepareImage(false, nullptr);
  t.capacity = b.CacheSize() / 65536;
  const auto start = Clock::now();
  if (b.StartBurn()) {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return done; });
  }
  t.seconds = Seconds(start);
  b.WaitForBurn();
  t.lowest_blocks = b.LowestCacheBlocks();
  if (t.error.empty() && !test_write) {
    const auto verify = Clock::now();
    const orv::burner::TVerifyResult r = b.VerifyLastWrite();
    t.verify_seconds = Seconds(verify);
    if (!r.Verified) t.error = r.Text;
    // The session is the first on a blank disc: it starts at sector 0 of the image.
    ImageSectors direct(image);
    const auto checked = Clock::now();
    const orv::burner::TVerifyResult d = VerifySession(direct, 0, b.LastWrittenFiles());
    t.checked_image_seconds = Seconds(checked);
    if (!d.Verified && t.error.empty()) t.error = "image file: " + d.Text;
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::path("/tmp/orvakell-burn-bench");
  const char* bin = std::getenv("ORV_BIN_DIR");
  if (bin) fs::current_path(bin);
  std::cout << "making " << kFiles << " files of " << (kFileBytes >> 20) << " MiB in " << work << "\n";
  MakeFiles(work / "src");
  std::vector<std::string> files;
  for (int i = 0; i < kFiles; ++i) files.push_back((work / "src" / ("Database" + std::to_string(i) + ".Dat")).string());
  std::string all;
  for (const auto& f : files) (all += ' ') += Quote(f);
  std::system(("cat" + all + " > /dev/null").c_str());

  const fs::path image = work / "disc.iso";
  const fs::path conf = work / "vrecorder.conf";
  const fs::path copy = work / "copy.bin";
  ShortSleeps sleeps(orv::scsi::Events());
  orv::scsi::SetEventPort(&sleeps);
  double best_burn = 1e9, best_sync = 1e9, best_cat = 1e9, best_pipe = 1e9, best_test = 1e9;
  double best_verify = 1e9, best_image_read = 1e9, best_checked_image = 1e9;
  // The same bytes read from the image file, in the read-back's 64 KiB pieces.
  auto read_image = [&] {
    const auto start = Clock::now();
    std::ifstream in(image, std::ios::binary);
    std::vector<char> buf(65536);
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0) {
    }
    return Seconds(start);
  };
  int lowest[2] = {-1, -1}, capacity = 0;  // per completion mode: on the layer's thread, in the caller's
  // The recorder with the given keys, with a fresh blank disc when asked.
  auto recorder = [&](const char* keys, bool blank) {
    if (blank) {
      fs::remove(image);
      fs::remove(image.string() + ".vrec");
    }
    { std::ofstream(conf) << "\"" << image.string() << "\" DVD+R" << keys << "\n"; }
    ::setenv("ORVAKELL_VRECORDER", conf.c_str(), 1);
    if (!orv::scsi::InitASPI(false)) return false;
    // The layer stays loaded: make it read the configuration and the disc again.
    void* handle = ::dlopen("./libwnaspi32.so", RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    auto reload = reinterpret_cast<void (*)()>(::dlsym(handle, "VRecorderReload"));
    if (reload != nullptr) reload();
    ::dlclose(handle);
    return reload != nullptr;
  };
  for (int round = 0; round < 3; ++round) {
    for (const bool synchronous : {false, true}) {
      if (!recorder(synchronous ? " sync=1" : "", true)) {
        std::cerr << "burn_bench: libwnaspi32.so not found (run from the build's bin folder)\n";
        return 1;
      }
      ::sync();
      const BurnTimes t = BurnOnce(files, false, image);
      if (!t.error.empty()) {
        std::cerr << "burn_bench: burn failed: " << t.error << "\n";
        return 1;
      }
      (synchronous ? best_sync : best_burn) = std::min(synchronous ? best_sync : best_burn, t.seconds);
      best_verify = std::min(best_verify, t.verify_seconds);
      best_checked_image = std::min(best_checked_image, t.checked_image_seconds);
      best_image_read = std::min(best_image_read, read_image());
      int& low = lowest[synchronous ? 1 : 0];
      if (t.lowest_blocks >= 0 && (low < 0 || t.lowest_blocks < low)) low = t.lowest_blocks;
      capacity = t.capacity;
    }
    (void)recorder("", false);  // the test write goes after the session just written
    ::sync();
    const auto start = Clock::now();
    std::system(("cat" + all + " > " + Quote(copy.string())).c_str());
    best_cat = std::min(best_cat, Seconds(start));
    fs::remove(copy);
    ::sync();
    const auto piped = Clock::now();
    std::system(("cat" + all + " | cat > " + Quote(copy.string())).c_str());
    best_pipe = std::min(best_pipe, Seconds(piped));
    fs::remove(copy);
    // The same burn as a test write: the recorder stores neither data nor its state file, so
    // this is the burner's own pipeline (cache thread, write thread, command round trips).
    ::sync();
    const BurnTimes tw = BurnOnce(files, true, image);
    if (!tw.error.empty()) {
      std::cerr << "burn_bench: test write failed: " << tw.error << "\n";
      return 1;
    }
    best_test = std::min(best_test, tw.seconds);
  }
  const double mib = static_cast<double>(kFiles * kFileBytes) / (1 << 20);
  auto line = [&](const char* what, double seconds) {
    std::printf("%-52s %6.2f s %6.0f MiB/s  /cat %5.2f  /cat|cat %5.2f\n", what, seconds, mib / seconds,
                seconds / best_cat, seconds / best_pipe);
  };
  line("burn (aim: at most 1.3 x cat)", best_burn);
  line("burn, recorder completing in the caller's thread", best_sync);
  line("test-write burn", best_test);
  line("cat FILES > COPY (kernel copy_file_range)", best_cat);
  line("cat FILES | cat > COPY (copies through user space)", best_pipe);
  std::printf("%-52s %6.2f s  image file read %6.2f s  ratio %5.2f\n", "read-back (aim: at most 1.2 x the image file)",
              best_verify, best_image_read, best_verify / best_image_read);
  // What the read-back costs beyond its own checks (CRC-32 per sector, SHA-256 per file):
  // the recorder's command round trips.
  std::printf("%-52s %6.2f s  same checks on the image file %6.2f s  ratio %5.2f\n", "read-back through the recorder",
              best_verify, best_checked_image, best_verify / best_checked_image);
  for (const bool synchronous : {false, true}) {
    const int low = lowest[synchronous ? 1 : 0];
    const char* mode = synchronous ? " (completing in the caller's thread)" : "";
    if (low < 0) {
      std::printf("lowest cache fill after priming%s: never measured\n", mode);
    } else {
      std::printf("lowest cache fill after priming%s: %d of %d blocks (%d%%)\n", mode, low, capacity - 1,
                  capacity > 1 ? low * 100 / (capacity - 1) : 0);
    }
  }
  fs::remove(image);
  fs::remove(image.string() + ".vrec");
  return 0;
}
