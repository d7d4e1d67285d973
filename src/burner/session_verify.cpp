#include "burner/session_verify.h"

#include <libdeflate.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "burner/iso9660_records.h"
#include "platform/byte_order.h"

namespace orv::burner {
namespace {

using DR = iso9660::DirRecord;
using VD = iso9660::VolumeDescriptor;
constexpr uint32_t kSector = iso9660::kSectorBytes;
constexpr uint32_t kMaxDirBytes = 16u << 20;  // a folder larger than this is not read
constexpr uint32_t kChunk = 256;              // sectors read at once while comparing data (512 KiB)

// The format with each "%s" replaced by the next text and each "%u", "%d" or "%lld" by the next
// number.
std::string Fill(const char* format, std::vector<std::string> texts, std::vector<long long> numbers) {
  std::string out;
  size_t t = 0, n = 0;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      out += *p;
    } else if (std::strncmp(p, "%s", 2) == 0) {
      out += t < texts.size() ? texts[t++] : "";
      p += 1;
    } else if (std::strncmp(p, "%lld", 4) == 0 || std::strncmp(p, "%u", 2) == 0 || std::strncmp(p, "%d", 2) == 0) {
      out += n < numbers.size() ? std::to_string(numbers[n++]) : "";
      p += p[1] == 'l' ? 3 : 1;
    } else {
      out += *p;
    }
  }
  return out;
}

struct Record {
  std::string name;
  uint32_t extent = 0;
  uint32_t length = 0;
  bool dir = false;
};

// The records of one folder; nullopt when it cannot be read.
std::optional<std::vector<Record>> ReadDir(TSectorSource& disc, uint32_t extent, uint32_t length, bool joliet) {
  if (length == 0 || length > kMaxDirBytes) return std::nullopt;
  const uint32_t sectors = (length + kSector - 1) / kSector;
  std::vector<uint8_t> data(size_t{sectors} * kSector);
  if (!disc.ReadSectors(extent, sectors, data.data())) return std::nullopt;
  std::vector<Record> out;
  for (uint32_t s = 0; s < sectors; ++s) {
    const uint32_t end = std::min<uint32_t>(kSector, length - s * kSector);
    uint32_t off = 0;
    while (off + DR::kMinLength <= end) {
      const uint8_t* r = data.data() + size_t{s} * kSector + off;
      const uint32_t len = DR::Length::Get(r);
      if (len == 0) break;
      if (len < DR::kMinLength || off + len > end) return std::nullopt;
      off += len;
      const uint32_t id_len = DR::IdLength::Get(r);
      if (id_len == 0 || DR::kIdentifier + id_len > len) return std::nullopt;
      const uint8_t* id = r + DR::kIdentifier;
      if (id_len == 1 && (id[0] == 0 || id[0] == 1)) continue;
      Record rec;
      rec.name = joliet ? Ucs2BEToUtf8(id, id_len / 2) : std::string(reinterpret_cast<const char*>(id), id_len);
      const size_t version = rec.name.rfind(';');
      if (version != std::string::npos) rec.name.erase(version);
      rec.extent = DR::Extent::Get(r);
      rec.length = DR::DataLength::Get(r);
      rec.dir = (DR::Flags::Get(r) & DR::kFlagDirectory) != 0;
      out.push_back(std::move(rec));
    }
  }
  return out;
}

bool SameName(std::string a, std::string b, bool joliet) {
  if (joliet) return a == b;
  // ISO 9660 names of files without an extension end in "." on the disc.
  if (!a.empty() && a.back() == '.') a.pop_back();
  if (!b.empty() && b.back() == '.') b.pop_back();
  return a == b;
}

// The file record at `path` below the root record, or nullopt.
std::optional<Record> Find(TSectorSource& disc, Record dir, const std::vector<std::string>& path, bool joliet) {
  for (size_t i = 0; i < path.size(); ++i) {
    const auto records = ReadDir(disc, dir.extent, dir.length, joliet);
    if (!records) return std::nullopt;
    const bool last = i + 1 == path.size();
    const auto it = std::find_if(records->begin(), records->end(), [&](const Record& r) {
      return r.dir == !last && SameName(r.name, path[i], joliet);
    });
    if (it == records->end()) return std::nullopt;
    dir = *it;
  }
  return dir;
}

std::optional<Record> RootOf(TSectorSource& disc, uint32_t start, uint8_t type) {
  std::array<uint8_t, kSector> d{};
  for (uint32_t s = start + iso9660::kFirstDescriptorSector; s < start + 36; ++s) {
    if (!disc.ReadSectors(s, 1, d.data())) return std::nullopt;
    if (std::memcmp(VD::StandardId::At(d.data()), VD::kStandardId, VD::StandardId::kWidth) != 0) return std::nullopt;
    if (VD::Type::Get(d.data()) == VD::kTerminator) return std::nullopt;
    if (VD::Type::Get(d.data()) != type) continue;
    const uint8_t* root = VD::RootDirectoryRecord::At(d.data());
    Record r;
    r.extent = DR::Extent::Get(root);
    r.length = DR::DataLength::Get(root);
    r.dir = true;
    return r;
  }
  return std::nullopt;
}

std::string Shown(const TWrittenFile& f) {
  const auto& p = f.JolietPath.empty() ? f.ISOPath : f.JolietPath;
  std::string out;
  for (const auto& n : p) out += "\\" + n;
  return out;
}

}  // namespace

bool TSectorSource::ReadSectors(uint32_t Sector, uint32_t Count, uint8_t* Buffer) {
  for (uint32_t i = 0; i < Count; ++i)
    if (!ReadSector(Sector + i, Buffer + size_t{i} * kSector)) return false;
  return true;
}

std::vector<TWrittenFile> WrittenFiles(const TFileTree& tree, const std::vector<TFileDigest>& digests) {
  std::map<const TFEntry*, std::pair<std::vector<std::string>, std::vector<std::string>>> paths;
  struct Walk {
    decltype(paths)& out;
    void operator()(const TDEntry* d, const std::vector<std::string>& joliet, const std::vector<std::string>& iso,
                    int depth) const {
      if (depth > 255) return;
      for (const TFEntry* e = d->FirstEntry; e; e = e->Next) {
        auto j = joliet;
        auto i = iso;
        j.push_back(JolietNameOf(*e));
        i.push_back(e->ShortName);
        if (e->Dir) (*this)(e->Dir, j, i, depth + 1);
        else if (!e->Imported) out[e] = {std::move(j), std::move(i)};
      }
    }
  };
  Walk{paths}(tree.Root(), {}, {}, 0);
  std::vector<TWrittenFile> files;
  for (const TFileDigest& d : digests) {
    TWrittenFile f;
    const auto it = paths.find(d.entry);
    if (it != paths.end()) {
      f.JolietPath = it->second.first;
      f.ISOPath = it->second.second;
    }
    f.Digest = d;
    files.push_back(std::move(f));
  }
  return files;
}

TVerifyResult VerifySession(TSectorSource& Disc, uint32_t Start, const std::vector<TWrittenFile>& Files) {
  TVerifyResult result;
  const auto iso_root = RootOf(Disc, Start, VD::kPrimary);
  if (!iso_root) {
    result.Text = Fill(kMsgVerifyNoVolume, {"ISO 9660"}, {Start});
    return result;
  }
  const auto joliet_root = RootOf(Disc, Start, VD::kSupplementary);
  std::vector<uint8_t> data(size_t{kChunk} * kSector);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  for (const TWrittenFile& f : Files) {
    const std::string name = Shown(f);
    result.File = f.Digest.path;
    std::optional<Record> joliet;
    if (joliet_root && !f.JolietPath.empty()) {
      joliet = Find(Disc, *joliet_root, f.JolietPath, true);
      if (!joliet) {
        result.Text = Fill(kMsgVerifyMissing, {name, "JOLIET"}, {});
        return result;
      }
    }
    std::optional<Record> iso;
    if (!f.ISOPath.empty()) {
      iso = Find(Disc, *iso_root, f.ISOPath, false);
    } else if (joliet) {
      const auto records = ReadDir(Disc, iso_root->extent, iso_root->length, false);
      if (records)
        for (const Record& r : *records)
          if (!r.dir && r.extent == joliet->extent) iso = r;
    }
    if (!iso) {
      result.Text = Fill(kMsgVerifyMissing, {name, "ISO 9660"}, {});
      return result;
    }
    if (joliet && (joliet->extent != iso->extent || joliet->length != iso->length)) {
      result.Text = Fill(kMsgVerifyTreesDiffer, {name}, {});
      return result;
    }
    if (static_cast<int64_t>(iso->length) != f.Digest.bytes) {
      result.Text = Fill(kMsgVerifySize, {name}, {iso->length, f.Digest.bytes});
      return result;
    }
    const uint32_t sectors = static_cast<uint32_t>((uint64_t{iso->length} + kSector - 1) / kSector);
    if (sha == nullptr || EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr) != 1) {
      result.Text = "READ-BACK: SHA-256 CANNOT BE STARTED";
      return result;
    }
    // A piece that cannot be read is read again one sector at a time, so that the sectors
    // before the unreadable one are still compared and the report names the unreadable one.
    uint32_t single_until = 0;
    for (uint32_t s = 0; s < sectors;) {
      const uint32_t n = std::min(s < single_until ? 1 : kChunk, sectors - s);
      if (!Disc.ReadSectors(iso->extent + s, n, data.data())) {
        if (n > 1) {
          single_until = s + n;
          continue;
        }
        result.Sector = iso->extent + s;
        result.Text = Fill(kMsgVerifyUnreadable, {name}, {result.Sector});
        return result;
      }
      for (uint32_t k = 0; k < n; ++k) {
        const uint8_t* sector = data.data() + size_t{k} * kSector;
        const uint32_t crc = libdeflate_crc32(0, sector, kSector);
        const size_t index = size_t{s} + k;
        if (index >= f.Digest.sector_crcs.size() || crc != f.Digest.sector_crcs[index]) {
          result.Sector = iso->extent + s + k;
          result.Text = Fill(kMsgVerifyDiffers, {name}, {result.Sector});
          return result;
        }
        const uint64_t offset = uint64_t{index} * kSector;
        const size_t used = static_cast<size_t>(std::min<uint64_t>(kSector, iso->length - offset));
        (void)EVP_DigestUpdate(sha.get(), sector, used);
      }
      s += n;
    }
    std::array<uint8_t, 32> digest{};
    unsigned int len = 0;
    (void)EVP_DigestFinal_ex(sha.get(), digest.data(), &len);
    if (digest != f.Digest.sha256) {
      result.Text = Fill(kMsgVerifyDiffers, {name}, {0});
      return result;
    }
    ++result.Files;
  }
  result.File.clear();
  result.Verified = true;
  result.Text = Fill(kMsgVerified, {}, {result.Files});
  return result;
}

}  // namespace orv::burner
