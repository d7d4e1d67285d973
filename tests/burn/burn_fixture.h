// A burner on the virtual recorder (libwnaspi32.so from the build's bin folder), with the
// device layer's sleeps shortened so that a whole burn takes well under a second, and the
// recorder's command log read back as a list of operation codes.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "burner/disc_burner.h"
#include "scsi/aspi_layer.h"
#include "scsi/platform.h"
#include "test_env.h"

namespace orv::burner::test {

namespace fs = std::filesystem;

// Real completion events; sleeps of polling loops cut to 1 ms.
class ShortSleeps : public scsi::EventPort {
 public:
  explicit ShortSleeps(scsi::EventPort& real) : real_(real) {}
  void* CreateEvent() override { return real_.CreateEvent(); }
  void ResetEvent(void* e) override { real_.ResetEvent(e); }
  bool WaitForEvent(void* e, std::uint32_t ms) override { return real_.WaitForEvent(e, ms); }
  void CloseEvent(void* e) override { real_.CloseEvent(e); }
  void Sleep(std::uint32_t ms) override { real_.Sleep(std::min<std::uint32_t>(ms, 1)); }

 private:
  scsi::EventPort& real_;
};

// No /dev/sr* drive of the machine takes part.
class NoDrives : public scsi::KernelPort {
 public:
  bool IsCDDrive(int) override { return false; }
  int OpenDrive(int) override { return -1; }
  void CloseDrive(int) override {}
  bool SendPassThrough(int, scsi::PassThrough&) override { return false; }
  bool GetAddress(int, scsi::ScsiAddress&) override { return false; }
};

// The outcome of one burn, as OnWriteDone reported it.
struct BurnResult {
  bool started = false;
  std::string error;
  std::vector<std::string> lines;  // debug lines during the burn
};

class BurnFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("ORV_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    old_cwd_ = fs::current_path();
    fs::current_path(bin);
    real_events_ = &scsi::Events();
    sleeps_ = std::make_unique<ShortSleeps>(*real_events_);
    scsi::SetKernelPort(&no_drives_);
    scsi::SetEventPort(sleeps_.get());
  }
  void TearDown() override {
    burner_.reset();
    (void)scsi::FreeASPI();
    scsi::SetEventPort(nullptr);
    scsi::SetKernelPort(nullptr);
    ::unsetenv("ORVAKELL_VRECORDER");
    if (!old_cwd_.empty()) fs::current_path(old_cwd_);
  }

  std::string Image() const { return (env_.work() / "disc.iso").string(); }

  // Configures one recorder (profile and extra keys), loads the layer and selects it.
  void Start(const std::string& profile, const std::string& keys = "") {
    const fs::path conf = env_.work() / "vrecorder.conf";
    orv::test::write_file(conf, "\"" + Image() + "\" " + profile + " " + keys + "\n");
    ::setenv("ORVAKELL_VRECORDER", conf.c_str(), 1);
    ASSERT_TRUE(scsi::InitASPI(false));
    void* handle = ::dlopen("./libwnaspi32.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    reload_ = reinterpret_cast<void (*)()>(::dlsym(handle, "VRecorderReload"));
    log_ = reinterpret_cast<std::size_t (*)(unsigned, char*, std::size_t)>(::dlsym(handle, "VRecorderCommandLog"));
    ::dlclose(handle);
    ASSERT_TRUE(reload_ && log_);
    reload_();
    NewBurner();
  }

  // A fresh burner on the configured recorder (the recorder keeps its disc).
  void NewBurner() {
    burner_.reset();
    burner_ = std::make_unique<TDiscBurner>();
    ASSERT_FALSE(burner_->Devices().empty());
    burner_->SetDeviceID(burner_->Devices().front());
    ASSERT_FALSE(burner_->DeviceID().empty());
    burner_->OnDebugMessage = [this](scsi::TSCSIDevice*, const std::string& m, std::uint8_t) {
      std::lock_guard<std::mutex> g(lock_);
      lines_.push_back(m);
    };
    burner_->OnWriteDone = [this](TDiscBurner*, const std::string& e) {
      std::lock_guard<std::mutex> g(lock_);
      error_ = e;
      done_ = true;
      done_changed_.notify_all();
    };
    burner_->ReplaceFile = true;
    burner_->ResetFileTree(65535, 8191);
  }

  std::string Source(const std::string& name, size_t bytes, unsigned seed) {
    std::string data(bytes, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (auto& c : data) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 16);
    }
    const fs::path p = env_.work() / "src" / name;
    fs::create_directories(p.parent_path());
    orv::test::write_file(p, data);
    return p.string();
  }

  void Add(const std::string& path) { ASSERT_EQ(burner_->AddFile("\\", path, false), 1) << path; }

  // Lays the tree out (commands of the layout are left out of the log that follows).
  void Prepare() {
    burner_->PrepareImage(false, nullptr);
    ClearLog();
  }

  // Starts the burn and waits (bounded) for OnWriteDone.
  BurnResult Burn(const std::function<void()>& while_running = {}) {
    {
      std::lock_guard<std::mutex> g(lock_);
      done_ = false;
      error_.clear();
      lines_.clear();
    }
    BurnResult r;
    r.started = burner_->StartBurn();
    if (while_running) while_running();
    std::unique_lock<std::mutex> g(lock_);
    const bool finished = done_changed_.wait_for(g, std::chrono::seconds(120), [this] { return done_; });
    EXPECT_TRUE(finished) << "the burn did not end";
    g.unlock();
    burner_->WaitForBurn();
    g.lock();
    r.error = error_;
    r.lines = lines_;
    return r;
  }

  std::vector<std::string> LogLines() {
    std::string out(log_(0, nullptr, 0), '\0');
    log_(0, out.data(), out.size());
    out.pop_back();
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);)
      if (!l.empty()) lines.push_back(l);
    return std::vector<std::string>(lines.begin() + static_cast<long>(std::min(log_mark_, lines.size())), lines.end());
  }
  void ClearLog() {
    std::string out(log_(0, nullptr, 0), '\0');
    log_(0, out.data(), out.size());
    log_mark_ = static_cast<size_t>(std::count(out.begin(), out.end(), '\n'));
  }
  // Operation code of each logged command ("2A", "35", ...).
  std::vector<std::string> Opcodes() {
    std::vector<std::string> ops;
    for (const auto& l : LogLines()) ops.push_back(Field(l, 1));
    return ops;
  }
  // The n-th word of a log line: 0 the address, 1 the operation code, 2... the other CDB bytes.
  static std::string Field(const std::string& line, size_t n) {
    std::istringstream in(line);
    std::string w;
    for (size_t i = 0; i <= n && in >> w;) {
      if (i == n) return w;
      ++i;
    }
    return "";
  }
  static unsigned Byte(const std::string& line, size_t cdb_index) {
    return static_cast<unsigned>(std::stoul(Field(line, cdb_index + 1), nullptr, 16));
  }
  static uint32_t Lba(const std::string& line) {
    return (Byte(line, 2) << 24) | (Byte(line, 3) << 16) | (Byte(line, 4) << 8) | Byte(line, 5);
  }

  orv::test::TestEnv env_;
  std::unique_ptr<TDiscBurner> burner_;

 private:
  NoDrives no_drives_;
  scsi::EventPort* real_events_ = nullptr;
  std::unique_ptr<ShortSleeps> sleeps_;
  fs::path old_cwd_;
  void (*reload_)() = nullptr;
  std::size_t (*log_)(unsigned, char*, std::size_t) = nullptr;
  size_t log_mark_ = 0;
  std::mutex lock_;
  std::condition_variable done_changed_;
  bool done_ = false;
  std::string error_;
  std::vector<std::string> lines_;
};

// The first sector of `name` as its Joliet directory record in the image file says; 0 when
// the name is not found.
inline uint32_t JolietExtent(const std::string& image, const std::string& name) {
  std::string ucs2;
  for (char c : name) {
    ucs2 += '\0';
    ucs2 += c;
  }
  const std::string data = orv::test::read_file(image);
  const size_t at = data.find(ucs2);
  if (at == std::string::npos || at < 33) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(data.data() + at - 33 + 2);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Points the Joliet directory record of `name` (in the image file, changed in place so the
// recorder keeps its disc) at a sector far beyond the end of the disc. False when the name is
// not found.
inline bool DamageJolietRecord(const std::string& image, const std::string& name) {
  std::string ucs2;
  for (char c : name) {
    ucs2 += '\0';
    ucs2 += c;
  }
  std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const size_t at = data.find(ucs2);
  if (!f || at == std::string::npos || at < 33) return false;
  const size_t extent = at - 33 + 2;  // the record's extent, both byte orders
  const unsigned char both[8] = {0x3F, 0x42, 0x0F, 0x00, 0x00, 0x0F, 0x42, 0x3F};  // 999999
  f.clear();
  f.seekp(static_cast<std::streamoff>(extent));
  f.write(reinterpret_cast<const char*>(both), sizeof both);
  return static_cast<bool>(f);
}

}  // namespace orv::burner::test
