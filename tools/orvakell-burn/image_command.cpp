#include "image_command.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "burner/disc_burner.h"
#include "progress.h"

namespace fs = std::filesystem;

namespace orv::tools {
namespace {

constexpr const char* kUsage =
    "usage: orvakell-burn --image OUT.iso [--volume ID] [--boot IMAGE] [--no-joliet] FILE|FOLDER...\n";

bool AddFileOrFolder(burner::TDiscBurner& b, const fs::path& source, bool is_folder, const std::string& dest_path,
                     std::ostream& err);

// Adds everything in a folder under the tree folder here, in name order.
bool AddFolderContents(burner::TDiscBurner& b, const fs::path& source, const std::string& here, std::ostream& err) {
  std::error_code ec;
  std::vector<fs::directory_entry> children;
  for (const auto& entry : fs::directory_iterator(source, ec)) children.push_back(entry);
  if (ec) {
    err << "orvakell-burn: " << source.string() << ": " << ec.message() << "\n";
    return false;
  }
  std::sort(children.begin(), children.end());
  for (const auto& child : children) {
    const bool link = child.is_symlink(ec);
    const bool folder = child.is_directory(ec);
    if (folder && link) continue;  // no loops through linked folders
    if (!folder && !child.is_regular_file(ec)) {
      err << "orvakell-burn: " << child.path().string() << ": skipped, not a regular file\n";
      continue;
    }
    if (!AddFileOrFolder(b, child.path(), folder, here, err)) return false;
  }
  return true;
}

// Adds one source under the tree folder dest_path; a folder brings everything below it.
bool AddFileOrFolder(burner::TDiscBurner& b, const fs::path& source, bool is_folder, const std::string& dest_path,
                     std::ostream& err) {
  if (is_folder) {
    const std::string name = source.filename().empty() ? source.parent_path().filename().string()
                                                       : source.filename().string();
    const std::string here = (dest_path == "\\" ? std::string() : dest_path) + "\\" + name;
    if (!b.Tree().ForceDirs(here, b.TreeHooks())) {
      err << "orvakell-burn: " << source.string() << ": " << b.Tree().LastRefusal << "\n";
      return false;
    }
    return AddFolderContents(b, source, here, err);
  }
  const int result = b.AddFile(dest_path, source.string(), false);
  if (result == 1) return true;
  err << "orvakell-burn: " << source.string() << ": "
      << (result == 0 ? b.Tree().LastRefusal : std::string("no such file")) << "\n";
  return false;
}

bool AddSource(burner::TDiscBurner& b, const fs::path& source, std::ostream& err) {
  std::error_code ec;
  const fs::file_status st = fs::status(source, ec);
  if (ec || !fs::exists(st)) {
    err << "orvakell-burn: " << source.string() << ": no such file or folder\n";
    return false;
  }
  if (!fs::is_directory(st) && !fs::is_regular_file(st)) {
    err << "orvakell-burn: " << source.string() << ": not a regular file\n";
    return false;
  }
  return AddFileOrFolder(b, source, fs::is_directory(st), "\\", err);
}

}  // namespace

int RunImageCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return 2;
  }
  burner::TDiscBurner b;
  b.ResetFileTree(65535, 8191);
  const std::string image = args[0];
  std::vector<std::string> sources;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((a == "--volume" || a == "--boot") && i + 1 < args.size()) {
      (a == "--volume" ? b.IdVolume : b.BootImage) = args[++i];
      if (a == "--boot") b.Bootable = true;
    } else if (a == "--no-joliet") {
      b.JolietFileSystem = false;
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
  if (b.Bootable && !fs::is_regular_file(b.BootImage)) {
    err << "orvakell-burn: boot image " << b.BootImage << " not found\n";
    return 1;
  }
  b.DateCreation = b.DateModification = burner::NowLocal();
  // Notes of the tree (a Joliet name numbered to stay unique) go to the error stream;
  // refusals are reported by the caller of each add.
  b.OnDebugMessage = [&err](scsi::TSCSIDevice*, const std::string& message, std::uint8_t type) {
    if (type == 1) err << "orvakell-burn: note: " << message << "\n";
  };
  for (const auto& s : sources)
    if (!AddSource(b, fs::path(s), err)) return 1;
  try {
    b.PrepareImage(true, nullptr);
  } catch (const std::exception& e) {
    err << "orvakell-burn: " << e.what() << "\n";
    return 1;
  }
  // The write runs on its own thread while this one draws the progress line.
  std::atomic<int64_t> written{0};
  std::string error;
  {
    ProgressLine progress(err, TerminalStderr(err), b.TrackSize() * 2048);
    std::atomic<bool> finished{false};
    std::thread writer([&] {
      error = b.WriteImage(image, 0, &written);
      finished = true;
    });
    while (!finished.load()) {
      progress.Update(written.load());
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    writer.join();
    progress.Finish();
  }
  if (!error.empty()) {
    err << "orvakell-burn: " << error << "\n";
    return 1;
  }
  out << image << ": " << b.FileCount() - b.DirCount() << " files, " << b.DirCount() << " folders, "
      << b.Layout.TrackLength() << " sectors\n";
  return 0;
}

}  // namespace orv::tools
