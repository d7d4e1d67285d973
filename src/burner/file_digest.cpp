#include "burner/file_digest.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace orv::burner {

namespace {
constexpr size_t kSector = 2048;
}

struct TFileDigester::State {
  EVP_MD_CTX* sha = nullptr;
  TFileDigest digest;
  uint32_t crc = 0;
  size_t in_sector = 0;  // bytes of the current sector seen
};

TFileDigester::TFileDigester() : state_(std::make_unique<State>()) {
  state_->sha = EVP_MD_CTX_new();
  if (state_->sha == nullptr) throw std::runtime_error("SHA-256: out of memory");
}

TFileDigester::~TFileDigester() { EVP_MD_CTX_free(state_->sha); }

void TFileDigester::Start(const TFEntry* entry, const std::string& path) {
  State& s = *state_;
  if (EVP_DigestInit_ex(s.sha, EVP_sha256(), nullptr) != 1) throw std::runtime_error("SHA-256: cannot start");
  s.digest = TFileDigest{};
  s.digest.entry = entry;
  s.digest.path = path;
  s.crc = 0;
  s.in_sector = 0;
}

void TFileDigester::Update(const uint8_t* data, size_t n) {
  State& s = *state_;
  (void)EVP_DigestUpdate(s.sha, data, n);
  s.digest.bytes += static_cast<int64_t>(n);
  while (n > 0) {
    const size_t take = std::min(n, kSector - s.in_sector);
    s.crc = libdeflate_crc32(s.crc, data, take);
    s.in_sector += take;
    data += take;
    n -= take;
    if (s.in_sector == kSector) {
      s.digest.sector_crcs.push_back(s.crc);
      s.crc = 0;
      s.in_sector = 0;
    }
  }
}

TFileDigest TFileDigester::Finish() {
  State& s = *state_;
  if (s.in_sector > 0) {
    // The sector on the disc is padded with zeros.
    static const uint8_t zeros[kSector] = {};
    s.crc = libdeflate_crc32(s.crc, zeros, kSector - s.in_sector);
    s.digest.sector_crcs.push_back(s.crc);
    s.in_sector = 0;
  }
  unsigned int n = 0;
  (void)EVP_DigestFinal_ex(s.sha, s.digest.sha256.data(), &n);
  return std::move(s.digest);
}

std::string DigestFile(const std::string& path, TFileDigest& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return path + ": " + std::strerror(errno);
  TFileDigester digester;
  digester.Start(nullptr, path);
  std::vector<uint8_t> buf(1 << 20);
  for (;;) {
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const std::string error = path + ": " + std::strerror(errno);
      ::close(fd);
      return error;
    }
    if (n == 0) break;
    digester.Update(buf.data(), static_cast<size_t>(n));
  }
  ::close(fd);
  out = digester.Finish();
  return "";
}

}  // namespace orv::burner
