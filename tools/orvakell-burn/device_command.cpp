#include "device_command.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "burner/cache_thread.h"
#include "burner/disc_burner.h"
#include "progress.h"

namespace fs = std::filesystem;

namespace orv::tools {
namespace {

constexpr const char* kUsage =
    "usage: orvakell-burn --device ENTRY [--import N [--allow-partial-import]] [--abort-after-blocks N]\n"
    "       [--test-write] [--finalize-disc] [--no-close] [--no-post-gap] [--no-joliet] [--volume ID] [--speed X] [--cache BYTES] [--no-spti]\n"
    "       [--no-verify] [--verbose] FILE|FOLDER...\n";

bool ParseNumber(const std::string& text, long long& value) {
  try {
    size_t used = 0;
    value = std::stoll(text, &used);
    return used == text.size() && value >= 0;
  } catch (const std::exception&) {
    return false;
  }
}

// Adds a file to the tree folder dest, or a folder with everything below it under its name.
bool AddSource(burner::TDiscBurner& b, const fs::path& source, const std::string& dest, std::ostream& err) {
  std::error_code ec;
  if (fs::is_directory(source, ec)) {
    const std::string name = source.filename().empty() ? source.parent_path().filename().string()
                                                       : source.filename().string();
    const std::string here = (dest == "\\" ? std::string() : dest) + "\\" + name;
    if (!b.Tree().ForceDirs(here, b.TreeHooks())) {
      err << "orvakell-burn: " << source.string() << ": " << b.Tree().LastRefusal << "\n";
      return false;
    }
    std::vector<fs::directory_entry> children(fs::directory_iterator(source, ec), fs::directory_iterator());
    std::sort(children.begin(), children.end());
    for (const auto& child : children) {
      if (child.is_symlink(ec) && child.is_directory(ec)) continue;
      if (!AddSource(b, child.path(), here, err)) return false;
    }
    return true;
  }
  const int result = b.AddFile(dest, source.string(), false);
  if (result == 1) return true;
  err << "orvakell-burn: " << source.string() << ": "
      << (result == 0 ? b.Tree().LastRefusal : std::string("no such file")) << "\n";
  return false;
}

}  // namespace

int RunDeviceCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return 2;
  }
  const std::string entry = args[0];
  long long import = 0, abort_after = -1, speed = 0, cache = 0;
  bool use_spti = true, verbose = false, test_write = false, finalize_disc = false, close = true;
  bool post_gap = true, joliet = true, allow_partial = false, verify = true;
  std::string volume;
  std::vector<std::string> sources;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--import" && has_value && ParseNumber(args[i + 1], import) && import <= 255) {
      ++i;
    } else if (a == "--abort-after-blocks" && has_value && ParseNumber(args[i + 1], abort_after)) {
      ++i;
    } else if (a == "--speed" && has_value && ParseNumber(args[i + 1], speed) && speed <= 0xFFFF) {
      ++i;
    } else if (a == "--cache" && has_value && ParseNumber(args[i + 1], cache) && cache <= 0x7FFFFFFF) {
      ++i;
    } else if (a == "--volume" && has_value) {
      volume = args[++i];
    } else if (a == "--no-verify") {
      verify = false;
    } else if (a == "--allow-partial-import") {
      allow_partial = true;
    } else if (a == "--test-write") {
      test_write = true;
    } else if (a == "--finalize-disc") {
      finalize_disc = true;
    } else if (a == "--no-close") {
      close = false;
    } else if (a == "--no-post-gap") {
      post_gap = false;
    } else if (a == "--no-joliet") {
      joliet = false;
    } else if (a == "--no-spti") {
      use_spti = false;
    } else if (a == "--verbose") {
      verbose = true;
    } else if (a.rfind("--", 0) == 0) {
      err << kUsage;
      return 2;
    } else {
      sources.push_back(a);
    }
  }
  if (sources.empty()) {
    err << kUsage;
    return 2;
  }

  burner::TDiscBurner b;
  if (!b.InitializeASPI(use_spti)) {
    err << "orvakell-burn: no ASPI layer\n";
    return 1;
  }
  std::string chosen;
  for (const std::string& d : b.Devices())
    if (d == entry || d.rfind(entry, 0) == 0) {
      chosen = d;
      break;
    }
  if (chosen.empty()) {
    err << "orvakell-burn: no CD/DVD unit " << entry << "\n";
    return 1;
  }
  b.SetDeviceID(chosen);
  if (b.DeviceID().empty()) {
    err << "orvakell-burn: " << chosen << " cannot be selected\n";
    return 1;
  }
  std::mutex lock;
  std::condition_variable changed;
  bool done = false;
  std::string outcome;
  if (verbose)
    b.OnDebugMessage = [&](scsi::TSCSIDevice*, const std::string& m, std::uint8_t) {
      std::lock_guard<std::mutex> g(lock);
      err << m << "\n";
    };
  b.OnWriteDone = [&](burner::TDiscBurner*, const std::string& error) {
    std::lock_guard<std::mutex> g(lock);
    outcome = error;
    done = true;
    changed.notify_all();
  };
  b.SetFinalizeDisc(finalize_disc);
  b.SetTestWrite(test_write);
  b.FinalizeTrack = close;
  b.WritePostGap = post_gap;
  b.JolietFileSystem = joliet;
  b.ReplaceFile = true;
  b.IdVolume = volume;
  if (cache > 0) b.SetCacheSize(static_cast<int>(cache));
  b.DateCreation = b.DateModification = burner::NowLocal();
  if (speed > 0) b.SetWriteSpeed(static_cast<std::uint16_t>(speed));
  b.ResetFileTree(65535, 8191);
  for (const auto& s : sources)
    if (!AddSource(b, fs::path(s), "\\", err)) return 1;
  b.RemoveEmptyDirs();
  if (b.DirCount() == 0 && b.FileCount() == 0) {
    err << "orvakell-burn: nothing to write\n";
    return 1;
  }
  b.SessionToImport = static_cast<uint16_t>(import);
  try {
    b.PrepareImage(false, nullptr);
  } catch (const std::exception& e) {
    err << "orvakell-burn: " << e.what() << "\n";
    return 1;
  }
  // Whatever of the imported session the new one would not carry is named; without
  // --allow-partial-import nothing is written then.
  const size_t left_off = b.ImportRefusals.size();
  for (const std::string& refusal : b.ImportRefusals) err << "orvakell-burn: import: " << refusal << "\n";
  if (left_off > 0 && !allow_partial) {
    err << "orvakell-burn: " << left_off << " imported " << (left_off == 1 ? "file" : "files")
        << " would be left off; nothing written (--allow-partial-import writes without them)\n";
    return 3;
  }
  std::uint32_t size = 0, free_bytes = 0;
  (void)b.ReadBufferCapacity(size, free_bytes);
  const uint32_t start = b.SessionStart;
  const int64_t sectors = b.TrackSize();
  ProgressLine progress(err, TerminalStderr(err), sectors * 2048);
  if (b.StartBurn() && abort_after >= 0) {
    const int64_t threshold = abort_after * burner::kCacheBlockBytes;
    for (;;) {
      {
        std::unique_lock<std::mutex> g(lock);
        if (done) break;
      }
      if (b.BytesWritten.load() >= threshold) {
        b.AbortWrite();
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  {
    std::unique_lock<std::mutex> g(lock);
    while (!changed.wait_for(g, std::chrono::milliseconds(100), [&] { return done; }))
      progress.Update(b.BytesWritten.load());
    progress.Finish();
  }
  b.WaitForBurn();
  if (!outcome.empty()) {
    err << "orvakell-burn: " << outcome << "\n";
    return 1;
  }
  out << "session written at sector " << start << ": " << sectors << " sectors, " << b.FileCount() - b.DirCount()
      << " files, " << b.DirCount() << " folders";
  if (left_off > 0) out << ", " << left_off << " imported " << (left_off == 1 ? "file" : "files") << " left off";
  out << "\n";
  // The new session read back through the recorder; a session that does not read back
  // equal is a failed write.
  if (verify && !test_write) {
    const burner::TVerifyResult checked = b.VerifyLastWrite();
    if (!checked.Verified) {
      err << "orvakell-burn: " << checked.Text << "\n";
      return 1;
    }
    out << "session verified: " << checked.Files << " files\n";
  }
  return 0;
}

int RunVerifyCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  constexpr const char* kVerifyUsage = "usage: orvakell-burn --verify ENTRY [--no-spti] FILE...\n";
  if (args.size() < 2) {
    err << kVerifyUsage;
    return 2;
  }
  bool use_spti = true;
  std::vector<burner::TWrittenFile> files;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--no-spti") {
      use_spti = false;
      continue;
    }
    if (args[i].rfind("--", 0) == 0) {
      err << kVerifyUsage;
      return 2;
    }
    burner::TWrittenFile f;
    const std::string failure = burner::DigestFile(args[i], f.Digest);
    if (!failure.empty()) {
      err << "orvakell-burn: " << failure << "\n";
      return 2;
    }
    f.JolietPath = {fs::path(args[i]).filename().string()};
    files.push_back(std::move(f));
  }
  if (files.empty()) {
    err << kVerifyUsage;
    return 2;
  }
  burner::TDiscBurner b;
  if (!b.InitializeASPI(use_spti)) {
    err << "orvakell-burn: no ASPI layer\n";
    return 2;
  }
  std::string chosen;
  for (const std::string& d : b.Devices())
    if (d == args[0] || d.rfind(args[0], 0) == 0) {
      chosen = d;
      break;
    }
  if (chosen.empty()) {
    err << "orvakell-burn: no CD/DVD unit " << args[0] << "\n";
    return 2;
  }
  b.SetDeviceID(chosen);
  const burner::TVerifyResult checked = b.VerifyLastSession(files);
  if (!checked.Verified) {
    err << "orvakell-burn: " << (checked.File.empty() ? "" : checked.File + ": ") << checked.Text << "\n";
    return 1;
  }
  out << "session verified: " << checked.Files << " files\n";
  return 0;
}

}  // namespace orv::tools
