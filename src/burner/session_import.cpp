#include "burner/session_import.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "burner/datetime.h"
#include "burner/disc_burner.h"
#include "burner/iso9660_records.h"
#include "burner/names.h"
#include "burner/source_files.h"
#include "platform/byte_order.h"

namespace orv::burner {
namespace {

using DR = iso9660::DirRecord;
using VD = iso9660::VolumeDescriptor;

constexpr uint32_t kSector = iso9660::kSectorBytes;
// Records start below this offset of their sector (a record takes at least 34 bytes).
constexpr uint32_t kLastRecordStart = kSector - DR::kMinLength + 1;

std::string Formatted(const char* format, const std::string& what) {
  std::string out = format;
  const size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, what);
  return out;
}

std::string Formatted(const char* format, long number) {
  char text[256];
  std::snprintf(text, sizeof text, format, static_cast<int>(number));
  return text;
}

bool ValidName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name)
    if (c == '\0' || c == '\\' || c == '/') return false;
  return true;
}

// The recording date of a directory record; a date that is not a calendar date reads as the
// first day that a directory search can report (1 January 1980).
TDateTime RecordDate(const uint8_t* r) {
  using D = iso9660::RecordingDate;
  const uint8_t* date = DR::RecordingDate::At(r);
  TDateParts d;
  d.Year = 1900 + D::Year::Get(date);
  d.Month = D::Month::Get(date);
  d.Day = D::Day::Get(date);
  d.Hour = D::Hour::Get(date);
  d.Minute = D::Minute::Get(date);
  d.Second = D::Second::Get(date);
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool valid = d.Month >= 1 && d.Month <= 12 && d.Day >= 1 && d.Day <= kDays[d.Month - 1] && d.Hour < 24 &&
                     d.Minute < 60 && d.Second < 60;
  if (!valid) {
    d = TDateParts{};
    d.Year = 1980;
    d.Month = 1;
    d.Day = 1;
  }
  return EncodeDateTime(d);
}

}  // namespace

std::string Ucs2BEToUtf8(const uint8_t* Data, size_t Chars) {
  std::string out;
  for (size_t i = 0; i < Chars; ++i) {
    uint32_t c = bytes::load_be16(Data + 2 * i);
    if (c >= 0xD800 && c <= 0xDFFF) c = '_';
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

TDiscDirectoryReader::TDiscDirectoryReader(TSectorSource& Disc, TFileTree& Tree, const TFileTree::Hooks& Hooks,
                                           uint32_t DiscEnd)
    : disc_(Disc), tree_(Tree), hooks_(Hooks), disc_end_(DiscEnd) {}

void TDiscDirectoryReader::Log(const std::string& Message, uint8_t Type) {
  if (hooks_.Log) hooks_.Log(Message, Type);
}

void TDiscDirectoryReader::Refuse(const char* Format, const std::string& What) {
  refusals_.push_back(Formatted(Format, What));
  Log(refusals_.back(), 4);
}

bool TDiscDirectoryReader::ImportSessionAt(uint32_t Start, uint8_t SessionNo, TDEntry* IntoDir) {
  if (!IntoDir) IntoDir = tree_.Root();
  std::array<uint8_t, kSector> d{};
  for (const uint8_t wanted : {VD::kSupplementary, VD::kPrimary}) {
    for (uint64_t s = uint64_t{Start} + iso9660::kFirstDescriptorSector; s <= uint64_t{Start} + 36 && s < 0xFFFFFFFFull;
         ++s) {
      d.fill(0);
      if (!disc_.ReadSector(static_cast<uint32_t>(s), d.data())) continue;
      if (std::memcmp(VD::StandardId::At(d.data()), VD::kStandardId, VD::StandardId::kWidth) != 0) continue;
      const uint8_t type = VD::Type::Get(d.data());
      if (type == VD::kTerminator) break;
      if (type != wanted) continue;
      const uint8_t* root = VD::RootDirectoryRecord::At(d.data());
      const uint32_t extent = DR::Extent::Get(root);
      const uint32_t length = DR::DataLength::Get(root);
      if (wanted == 2) ImportJolietDir(extent, length, IntoDir);
      else ImportISODir(extent, length, IntoDir);
      return true;
    }
  }
  Log(">>> " + Formatted(kMsgImportNotFound, SessionNo), 4);
  return false;
}

bool TDiscDirectoryReader::ImportJolietDir(uint32_t Extent, uint32_t Length, TDEntry* IntoDir) {
  return ImportDir(Extent, Length, IntoDir ? IntoDir : tree_.Root(), true, 0);
}

bool TDiscDirectoryReader::ImportISODir(uint32_t Extent, uint32_t Length, TDEntry* IntoDir) {
  return ImportDir(Extent, Length, IntoDir ? IntoDir : tree_.Root(), false, 0);
}

std::string TDiscDirectoryReader::UniqueShortName(const TDEntry* Dir, const std::string& Name, bool IsFile) const {
  auto with_dot = [IsFile](std::string s) {
    if (IsFile && s.find('.') == std::string::npos) s += '.';
    return s;
  };
  const std::string long_name = with_dot(Name);
  auto taken = [&](const std::string& candidate) {
    const std::string upper = UpperAscii(with_dot(candidate));
    for (const TFEntry* e = Dir->FirstEntry; e; e = e->Next)
      if (e->ShortName == upper && !EqualUpperAscii(e->LongName, long_name)) return true;
    return false;
  };
  const std::string plain = MakeShortName(Name);
  if (!taken(plain)) return plain;
  for (int k = 1; k < 100000; ++k) {
    const std::string numbered = AlternateShortName(Name, k);
    if (!taken(numbered)) return numbered;
  }
  return plain;
}

bool TDiscDirectoryReader::ImportDir(uint32_t Extent, uint32_t Length, TDEntry* IntoDir, bool Joliet, int Depth) {
  if (Depth > kMaxDepth) {
    Refuse(kMsgImportTooDeep, IntoDir->TreePath);
    return false;
  }
  const uint64_t sectors = (uint64_t{Length} + kSector - 1) / kSector;
  if (sectors == 0) return false;
  if (Extent >= disc_end_ || Extent + sectors > disc_end_) {
    Refuse(kMsgImportOutside, IntoDir->TreePath);
    return false;
  }
  if (!visited_.insert(Extent).second) {
    Refuse(kMsgImportLoop, IntoDir->TreePath);
    return false;
  }
  bool result = false;
  std::array<uint8_t, kSector> buf{};
  for (uint64_t k = 0; k < sectors; ++k) {
    const uint32_t sector = static_cast<uint32_t>(Extent + k);
    if (!disc_.ReadSector(sector, buf.data())) break;
    // Bytes of the directory in this sector: the last sector ends at the data length.
    const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(kSector, uint64_t{Length} - k * kSector));
    uint32_t off = 0;
    if (k == 0) {
      // "." (and, in the Joliet tree, "..") lead the first sector; ".." of the ISO tree is
      // recognised by its identifier below.
      for (int i = 0; i < (Joliet ? 2 : 1); ++i) {
        const uint32_t len = DR::Length::Get(buf.data() + off);
        if (len < DR::kMinLength || off + len > limit) {
          Refuse(kMsgImportBadRecord, std::to_string(sector));
          return result;
        }
        off += len;
      }
    }
    while (off < limit && off < kLastRecordStart) {
      const uint8_t* r = buf.data() + off;
      const uint32_t len = DR::Length::Get(r);
      if (len == 0) break;  // the rest of the sector is padding
      if (len < DR::kMinLength || off + len > limit) {
        Refuse(kMsgImportBadRecord, std::to_string(sector));
        break;
      }
      off += len;
      const uint32_t id_len = DR::IdLength::Get(r);
      const uint8_t* id = r + DR::kIdentifier;
      if (id_len >= (Joliet ? 215u : 240u)) {
        const std::string raw(reinterpret_cast<const char*>(id),
                              std::min<uint32_t>(id_len, len - static_cast<uint32_t>(DR::kIdentifier)));
        Log(std::string(kMsgImportNameTooLong) + "\n\r" + raw, 4);
        refusals_.push_back(std::string(kMsgImportNameTooLong) + " (" +
                            (Joliet ? Ucs2BEToUtf8(id, raw.size() / 2) : raw) + ")");
        continue;
      }
      if (id_len == 0 || DR::kIdentifier + id_len > len) {
        Refuse(kMsgImportBadRecord, std::to_string(sector));
        continue;
      }
      if (id_len == 1 && (id[0] == 0 || id[0] == 1)) continue;  // "." or ".."
      std::string name = Joliet ? Ucs2BEToUtf8(id, id_len / 2) : std::string(reinterpret_cast<const char*>(id), id_len);
      const size_t version = Joliet ? name.find(';', 2) : name.find(';');
      if (version != std::string::npos) name.erase(version);
      if (!ValidName(name)) {
        Refuse(kMsgImportBadName, name);
        continue;
      }
      const uint8_t flags = DR::Flags::Get(r);
      const bool is_dir = (flags & DR::kFlagDirectory) != 0;
      const uint32_t extent = DR::Extent::Get(r);
      const uint32_t size = DR::DataLength::Get(r);
      TSearchRec rec;
      rec.Name = name;
      rec.Size = size;
      rec.Time = RecordDate(r);
      rec.Attr = (flags & DR::kFlagHidden ? faHidden : 0) | (is_dir ? faDirectory : 0);
      rec.AlternateName = UniqueShortName(IntoDir, name, !is_dir);
      result = true;
      if (is_dir) {
        if (TDEntry* folder = tree_.AddDirFromSearchRec(IntoDir, rec, hooks_))
          ImportDir(extent, size, folder, Joliet, Depth + 1);
        continue;
      }
      const uint64_t data_sectors = (uint64_t{size} + kSector - 1) / kSector;
      if (size > 0 && (extent == 0 || extent >= disc_end_ || extent + data_sectors > disc_end_)) {
        Refuse(kMsgImportOutside, IntoDir->TreePath == "\\" ? "\\" + name : IntoDir->TreePath + "\\" + name);
        continue;
      }
      (void)tree_.AddFileFromSearchRec(IntoDir, rec, std::string(), size > 0 ? extent : 0, false, hooks_);
    }
  }
  return result;
}

namespace {

// The disc in the recorder, one READ(10) per sector.
class TRecorderSectors : public TSectorSource {
 public:
  explicit TRecorderSectors(TDiscBurner& Burner) : burner_(Burner) {}
  bool ReadSector(uint32_t Sector, uint8_t* Buffer) override { return burner_.Read10(Sector, 1, kSector, Buffer); }

 private:
  TDiscBurner& burner_;
};

}  // namespace

bool TDiscBurner::ImportSession(uint8_t SessionNo, TDEntry* IntoDir) {
  ImportRefusals.clear();
  if (!IntoDir) IntoDir = Tree().Root();
  // A blank disc has nothing to import: nothing is left out.
  const uint8_t last = GetLastSessionNumber();
  if (last == 0) return false;
  if (SessionNo == 255 || static_cast<int>(last) < static_cast<int8_t>(SessionNo)) SessionNo = last;
  if (SessionNo == 0) return false;
  DoDebugMessage(">>> " + Formatted(kMsgImportingSession, SessionNo), 1);
  // A DVD-RAM is written from sector 0 by every burn: imported entries would point at data
  // that the new track overwrites.
  if (GetDiscType() == scsi::DT_DVDRAM) {
    ImportRefusals.push_back(Formatted(kMsgImportDvdRam, SessionNo));
    DoDebugMessage(">>> " + ImportRefusals.back(), 4);
    return false;
  }
  std::array<uint8_t, 254> toc{};
  // Logical block addresses rather than minutes/seconds/frames, which cannot name DVD
  // sectors beyond 255 minutes.
  if (!ReadTOC(0, toc.data(), false, SessionNo, 254, 0)) {
    ImportRefusals.push_back(std::string(kMsgImportError) + " # " + std::to_string(SessionNo) + " [" + LastError() +
                             "]");
    DoDebugMessage(">>> " + ImportRefusals.back(), 4);
    return false;
  }
  const uint32_t start = bytes::load_be32(toc.data() + 8);
  // The lead-out descriptor gives the end of the recorded disc.
  uint32_t end = 0xFFFFFFFFu;
  const size_t answer = std::min<size_t>(toc.size(), size_t{bytes::load_be16(toc.data())} + 2);
  for (size_t p = 4; p + 8 <= answer; p += 8)
    if (toc[p + 2] == 0xAA) end = bytes::load_be32(toc.data() + p + 4);
  TFileTree::Hooks hooks = TreeHooks();
  TRecorderSectors sectors(*this);
  TDiscDirectoryReader reader(sectors, Tree(), hooks, end);
  const bool found = reader.ImportSessionAt(start, SessionNo, IntoDir);
  ImportRefusals = reader.Refusals();
  if (!found) ImportRefusals.push_back(Formatted(kMsgImportNotFound, SessionNo));
  return found;
}

}  // namespace orv::burner
