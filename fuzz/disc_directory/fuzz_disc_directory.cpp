// The directory tree of an earlier session as the import reads it from a disc: the input is
// the disc from sector 16 on (the volume descriptors first), the sectors before it are zero.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "burner/file_tree.h"
#include "burner/session_import.h"

namespace {

class InputSectors : public orv::burner::TSectorSource {
 public:
  InputSectors(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ReadSector(uint32_t s, uint8_t* buffer) override {
    std::memset(buffer, 0, 2048);
    if (s < 16) return true;
    const uint64_t at = (uint64_t{s} - 16) * 2048;
    if (at >= size_) return false;
    std::memcpy(buffer, data_ + at, static_cast<size_t>(std::min<uint64_t>(2048, size_ - at)));
    return true;
  }
  uint32_t End() const { return static_cast<uint32_t>(16 + (size_ + 2047) / 2048); }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 2048) return 0;
  using namespace orv::burner;
  TFileTree tree;
  tree.ResetFileTree(65535, 8191);
  TFileTree::Hooks hooks;
  hooks.ReplaceFile = size % 2 == 0;
  size_t lines = 0;
  hooks.Log = [&lines](const std::string&, uint8_t) { ++lines; };
  InputSectors disc(data, size);
  TDiscDirectoryReader reader(disc, tree, hooks, disc.End());
  (void)reader.ImportSessionAt(0, 1, nullptr);
  // Whatever was taken must be a consistent tree whose imported data lies on the disc.
  if (!tree.Verify().empty()) __builtin_trap();
  for (const auto& e : tree.FileTable) {
    if (e->Dir || e->ISOLength == 0) continue;
    const uint64_t end = e->ISOExtent + (static_cast<uint64_t>(e->ISOLength) + 2047) / 2048;
    if (!e->Imported || e->ISOExtent == 0 || end > disc.End()) __builtin_trap();
  }
  return 0;
}
