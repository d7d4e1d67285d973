// image_bench [WORK_FOLDER]
// Makes (once) a tree of 20000 files of about 1 GiB in WORK_FOLDER (default
// /tmp/orvakell-image-bench), reads it once so that every run sees a warm page cache, then
// times side by side:
//   ours     add every file to the tree, lay out, build the header area, write the image
//   xorriso  xorriso -as mkisofs -J -o IMAGE TREE
//   cat      cat of the same files into one file
// each twice, alternating, after a sync, and prints the ratios of the best times
// ours/xorriso and ours/cat. Then it times the layout and header build
// of 65535 entries in 8191 folders.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "burner/disc_burner.h"
#include "burner/file_tree.h"
#include "burner/image_headers.h"
#include "burner/image_layout.h"
#include "burner/names.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace orv::burner;

namespace {

constexpr int kFiles = 20000;
constexpr int kFolders = 200;
constexpr int64_t kTotal = int64_t{1} << 30;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// User plus system CPU seconds of this process or of its ended children.
double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int Run(const std::string& command) {
  const int rc = std::system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::vector<fs::path> MakeTree(const fs::path& tree) {
  std::vector<fs::path> files;
  std::mt19937_64 rng(42);
  const fs::path done = tree / ".complete";
  const bool exists = fs::exists(done);
  if (!exists) {
    fs::remove_all(tree);
    std::cout << "making the tree in " << tree << " ...\n";
  }
  const int64_t mean = kTotal / kFiles;
  std::vector<char> data(static_cast<size_t>(mean * 2));
  for (auto& c : data) c = static_cast<char>(rng());
  for (int i = 0; i < kFiles; ++i) {
    char folder[32], name[64];
    std::snprintf(folder, sizeof folder, "folder%03d/sub%d", i % kFolders, i % 3);
    std::snprintf(name, sizeof name, "backup file %05d.dat", i);
    const fs::path p = tree / folder / name;
    files.push_back(p);
    if (exists) continue;
    fs::create_directories(p.parent_path());
    const auto size = static_cast<size_t>(rng() % static_cast<uint64_t>(mean * 2));
    std::ofstream(p, std::ios::binary).write(data.data() + (i % 1024), static_cast<std::streamsize>(std::min(size, data.size() - 1024)));
  }
  if (!exists) std::ofstream(done).put('1');
  std::sort(files.begin(), files.end());
  return files;
}

double TimeOurs(const fs::path& tree, const std::vector<fs::path>& files, const fs::path& image, int64_t* bytes) {
  const auto start = Clock::now();
  TDiscBurner b;
  b.ResetFileTree(65535, 8191);
  for (const auto& f : files) {
    // The tree-relative folder, from the path text (fs::relative would resolve every path).
    std::string folder = f.parent_path().string().substr(tree.string().size());
    std::replace(folder.begin(), folder.end(), '/', '\\');
    TFileTree::Hooks h = b.TreeHooks();
    if (!b.Tree().ForceDirs(folder, h) || b.AddFile(folder, f.string(), false) != 1) {
      std::cerr << "could not add " << f << ": " << b.Tree().LastRefusal << "\n";
      std::exit(1);
    }
  }
  b.PrepareImage(true, nullptr);
  const std::string error = b.WriteImage(image.string());
  if (!error.empty()) {
    std::cerr << error << "\n";
    std::exit(1);
  }
  const double t = Seconds(start);
  *bytes = static_cast<int64_t>(fs::file_size(image));
  return t;
}

void BenchLayout() {
  TFileTree tree;
  tree.ResetFileTree(65535, 8191);
  TFileTree::Hooks h;
  std::vector<TDEntry*> dirs{tree.Root()};
  TSearchRec r;
  r.Time = NowLocal();
  for (int i = 1; i < 8191; ++i) {
    r.Name = "Folder " + std::to_string(i);
    r.AlternateName = MakeShortName(r.Name);
    r.Attr = faDirectory;
    dirs.push_back(tree.AddDirFromSearchRec(dirs[static_cast<size_t>((i - 1) / 8)], r, h));
  }
  r.Attr = faArchive;
  r.AlternateName.clear();
  for (int i = 0; tree.FileCount() < 65535; ++i) {
    r.Name = "FILE" + std::to_string(i) + ".DAT";
    r.Size = 1000 + i;
    tree.AddFileFromSearchRec(dirs[static_cast<size_t>(i) % dirs.size()], r, "/x/" + r.Name, 0, false, h);
  }
  const auto start = Clock::now();
  const TImageLayout L = LayoutTree(tree, {0, true, false, 0});
  std::vector<uint8_t> header;
  BuildImageHeaders(tree, L, {}, header, NowLocal());
  const double t = Seconds(start);
  std::printf("layout + header area of %d entries in %d folders: %.3f s (%.1f MiB of headers)\n", tree.FileCount(),
              tree.DirCount() + 1, t, static_cast<double>(header.size()) / 1048576.0);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::path("/tmp/orvakell-image-bench");
  const fs::path tree = work / "tree";
  const auto files = MakeTree(tree);
  const std::string list = (work / "files.txt").string();
  {
    std::ofstream out(list);
    for (const auto& f : files) out << f.string() << '\n';
  }
  std::cout << "warming the page cache ...\n";
  Run("xargs -d '\\n' cat < " + Quote(list) + " > /dev/null");

  // Each contender runs twice, alternating, after a sync so that no one pays for another's
  // write-back; the better time of each counts (the machine is shared).
  int64_t ours_bytes = 0, xorriso_bytes = 0, cat_bytes = 0;
  double ours = 1e9, xorriso = 1e9, cat = 1e9;
  double ours_cpu = 1e9, xorriso_cpu = 1e9, cat_cpu = 1e9;
  for (int round = 0; round < 2; ++round) {
    Run("sync");
    double cpu = CpuSeconds(RUSAGE_SELF);
    ours = std::min(ours, TimeOurs(tree, files, work / "ours.iso", &ours_bytes));
    ours_cpu = std::min(ours_cpu, CpuSeconds(RUSAGE_SELF) - cpu);
    fs::remove(work / "ours.iso");

    Run("sync");
    cpu = CpuSeconds(RUSAGE_CHILDREN);
    auto start = Clock::now();
    if (Run("xorriso -as mkisofs -quiet -J -o " + Quote((work / "xorriso.iso").string()) + " " + Quote(tree.string()) +
            " > /dev/null 2>&1") != 0) {
      std::cerr << "xorriso failed\n";
      return 1;
    }
    xorriso = std::min(xorriso, Seconds(start));
    xorriso_cpu = std::min(xorriso_cpu, CpuSeconds(RUSAGE_CHILDREN) - cpu);
    xorriso_bytes = static_cast<int64_t>(fs::file_size(work / "xorriso.iso"));
    fs::remove(work / "xorriso.iso");

    Run("sync");
    cpu = CpuSeconds(RUSAGE_CHILDREN);
    start = Clock::now();
    if (Run("xargs -d '\\n' cat < " + Quote(list) + " > " + Quote((work / "cat.out").string())) != 0) return 1;
    cat = std::min(cat, Seconds(start));
    cat_cpu = std::min(cat_cpu, CpuSeconds(RUSAGE_CHILDREN) - cpu);
    cat_bytes = static_cast<int64_t>(fs::file_size(work / "cat.out"));
    fs::remove(work / "cat.out");
  }
  Run("sync");

  std::printf("files: %d, data: %.1f MiB\n", kFiles, static_cast<double>(cat_bytes) / 1048576.0);
  std::printf("ours    %.2f s wall, %.2f s cpu  (%.1f MiB image)\n", ours, ours_cpu,
              static_cast<double>(ours_bytes) / 1048576.0);
  std::printf("xorriso %.2f s wall, %.2f s cpu  (%.1f MiB image)\n", xorriso, xorriso_cpu,
              static_cast<double>(xorriso_bytes) / 1048576.0);
  std::printf("cat     %.2f s wall, %.2f s cpu\n", cat, cat_cpu);
  std::printf("ratio ours/xorriso = %.2f wall, %.2f cpu (aim <= 0.5)\n", ours / xorriso, ours_cpu / xorriso_cpu);
  std::printf("ratio ours/cat     = %.2f wall, %.2f cpu (aim <= 1.3)\n", ours / cat, ours_cpu / cat_cpu);
  BenchLayout();
  return 0;
}
