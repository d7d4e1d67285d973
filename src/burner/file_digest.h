// What the burn read of each file, to check the written session against: the SHA-256 of the
// file's bytes and a CRC-32 of each of its sectors (the last one zero-padded), so that a
// read-back names the first sector that differs.
// TFileDigester: one file's digest built while its bytes stream past (OpenSSL's SHA-256,
// zlib's CRC-32). Not thread-safe; one per reader.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orv::burner {

struct TFEntry;

struct TFileDigest {
  const TFEntry* entry = nullptr;  // the tree's entry of the file (valid while the tree is)
  std::string path;                // the source file
  int64_t bytes = 0;
  std::array<uint8_t, 32> sha256{};
  std::vector<uint32_t> sector_crcs;
};

class TFileDigester {
 public:
  TFileDigester();
  ~TFileDigester();
  TFileDigester(const TFileDigester&) = delete;
  TFileDigester& operator=(const TFileDigester&) = delete;
  void Start(const TFEntry* entry, const std::string& path);
  void Update(const uint8_t* data, size_t n);
  // The digest of everything since Start.
  TFileDigest Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The digest of a whole file read now (for checking a disc against files given later).
// Empty text on success, else the system's reason.
[[nodiscard]] std::string DigestFile(const std::string& path, TFileDigest& out);

}  // namespace orv::burner
