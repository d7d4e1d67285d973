#include "burner/image_headers.h"

#include <cstring>

#include "burner/names.h"

namespace orv::burner {
namespace {

void Le16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Be16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void Le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Be32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
void Both16(uint8_t* p, uint32_t v) {
  Le16(p, v);
  Be16(p + 2, v);
}
void Both32(uint8_t* p, uint32_t v) {
  Le32(p, v);
  Be32(p + 4, v);
}

// A text field of N bytes: ASCII characters (others as '_'), optionally upper case, padded
// with spaces or cut.
void AsciiField(uint8_t* p, size_t n, const std::string& text, bool upper) {
  std::memset(p, ' ', n);
  const std::string ucs2 = Utf8ToUcs2BE(text);
  for (size_t i = 0, k = 0; i + 1 < ucs2.size() && k < n; i += 2, ++k) {
    char c = ucs2[i] == 0 && static_cast<unsigned char>(ucs2[i + 1]) < 0x80 ? ucs2[i + 1] : '_';
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    p[k] = static_cast<uint8_t>(c);
  }
}

// A Joliet text field: UCS-2 big-endian, padded with UCS-2 spaces or cut to n bytes (even).
void Ucs2Field(uint8_t* p, size_t n, const std::string& text) {
  for (size_t i = 0; i + 1 < n; i += 2) {
    p[i] = 0;
    p[i + 1] = ' ';
  }
  const std::string ucs2 = Utf8ToUcs2BE(text);
  std::memcpy(p, ucs2.data(), std::min(n - n % 2, ucs2.size()));
}

void RecordDate(uint8_t* p, TDateTime value, int8_t zone) {
  const TDateParts d = DecodeDateTime(value);
  const int year = d.Year - 1900;
  p[0] = static_cast<uint8_t>(year < 0 ? 0 : (year > 255 ? 255 : year));
  p[1] = static_cast<uint8_t>(d.Month);
  p[2] = static_cast<uint8_t>(d.Day);
  p[3] = static_cast<uint8_t>(d.Hour);
  p[4] = static_cast<uint8_t>(d.Minute);
  p[5] = static_cast<uint8_t>(d.Second);
  p[6] = static_cast<uint8_t>(zone);
}

// Writes one directory record at p; returns its length.
uint32_t DirRecord(uint8_t* p, const std::string& id, uint32_t extent, uint32_t length, const uint8_t* date,
                   uint8_t flags) {
  const auto n = static_cast<uint32_t>(id.size());
  const uint32_t total = 33 + n + (n % 2 == 0 ? 1 : 0);
  std::memset(p, 0, total);
  p[0] = static_cast<uint8_t>(total);
  Both32(p + 2, extent);
  Both32(p + 10, length);
  if (date) std::memcpy(p + 18, date, 7);
  p[25] = flags;
  Both16(p + 28, 1);
  p[32] = static_cast<uint8_t>(n);
  std::memcpy(p + 33, id.data(), n);
  return total;
}

struct TreeView {
  bool joliet;
  uint32_t dir_area;
  uint32_t DirSector(const TDEntry& d) const { return dir_area + (joliet ? d.JolietSector : d.ISOSector); }
  uint32_t DirSize(const TDEntry& d) const { return static_cast<uint32_t>(joliet ? d.JolietSize : d.ISOSize); }
  const std::string& Name(const TFEntry& e) const { return joliet ? e.LongName : e.ShortName; }
  std::string Identifier(const TFEntry& e) const {
    const std::string& name = Name(e);
    if (name == ".") return std::string(1, '\0');
    if (name == "..") return std::string(1, '\1');
    const std::string id = e.Dir ? name : name + ";1";
    return joliet ? Utf8ToUcs2BE(id) : id;
  }
};

void WriteDirectory(uint8_t* out, const TDEntry& d, const TreeView& v, const TImageLayout& L, int8_t zone,
                    const uint8_t* now_date) {
  uint32_t used = 0;
  uint8_t* sector = out;
  if (!(d.FirstEntry && v.Name(*d.FirstEntry) == ".")) {
    used += DirRecord(sector + used, std::string(1, '\0'), v.DirSector(d), v.DirSize(d), now_date, 2);
    used += DirRecord(sector + used, std::string(1, '\1'), v.DirSector(*d.Parent), v.DirSize(*d.Parent), now_date, 2);
  }
  uint8_t date[7];
  for (const TFEntry* e = d.FirstEntry; e; e = e->Next) {
    const std::string id = v.Identifier(*e);
    const uint32_t n = 33 + static_cast<uint32_t>(id.size()) + (id.size() % 2 == 0 ? 1 : 0);
    if (used + n > kSectorSize) {
      sector += kSectorSize;
      used = 0;
    }
    uint32_t extent;
    const uint32_t rel = v.joliet ? e->JolietExtent : e->ISOExtent;
    if (e->Dir) extent = rel + v.dir_area;
    else if (e->Imported) extent = rel;
    else if ((v.joliet ? e->JolietLength : e->ISOLength) == 0) extent = 0;
    else extent = rel + L.FirstFileSector;
    const auto length = static_cast<uint32_t>(v.joliet ? e->JolietLength : e->ISOLength);
    RecordDate(date, e->DateTime, zone);
    uint8_t flags = e->Dir ? 2 : 0;
    if (e->Attr & faHidden) flags |= 1;
    used += DirRecord(sector + used, id, extent, length, date, flags);
  }
}

void WritePathTable(uint8_t* out, const std::vector<TDEntry*>& order, const TreeView& v, bool big_endian) {
  size_t at = 0;
  for (const TDEntry* d : order) {
    const bool root = d->Parent == d;
    const std::string name = root ? std::string(1, '\0') : (v.joliet ? Utf8ToUcs2BE(d->LongName) : d->ShortName);
    out[at] = static_cast<uint8_t>(name.size());
    out[at + 1] = 0;
    const uint32_t extent = v.DirSector(*d);
    const auto parent = static_cast<uint32_t>(d->Parent->Number);
    if (big_endian) {
      Be32(out + at + 2, extent);
      Be16(out + at + 6, parent);
    } else {
      Le32(out + at + 2, extent);
      Le16(out + at + 6, parent);
    }
    std::memcpy(out + at + 8, name.data(), name.size());
    at += 8 + name.size() + (name.size() % 2);
  }
}

void VolumeDescriptor(uint8_t* p, bool joliet, const TVolumeIds& ids, const TImageLayout& L, const TDEntry& root) {
  p[0] = joliet ? 2 : 1;
  std::memcpy(p + 1, "CD001", 5);
  p[6] = 1;
  auto text = [&](size_t at, size_t n, const std::string& value, size_t joliet_n) {
    if (joliet) Ucs2Field(p + at, joliet_n, value);
    else AsciiField(p + at, n, value, true);
  };
  text(8, 32, ids.IdSystem, 32);
  text(40, 32, ids.IdVolume, 32);
  Both32(p + 80, static_cast<uint32_t>(L.TrackLength()));
  // Only the supplementary descriptor carries the Joliet escape sequence: readers that find
  // it in the primary one take the ISO tree for UCS-2 (isoinfo) or list nothing (libarchive).
  if (joliet) {
    p[88] = 0x25;
    p[89] = 0x2F;
    p[90] = 0x40;
  }
  Both16(p + 120, 1);
  Both16(p + 124, 1);
  Both16(p + 128, kSectorSize);
  Both32(p + 132, joliet ? L.JolietPathTableSize : L.ISOPathTableSize);
  Le32(p + 140, joliet ? L.JolietPathTableL : L.ISOPathTableL);
  Be32(p + 148, joliet ? L.JolietPathTableM : L.ISOPathTableM);
  const uint32_t root_extent = joliet ? L.JolietDirArea + root.JolietSector : L.ISODirArea + root.ISOSector;
  const auto root_size = static_cast<uint32_t>(joliet ? root.JolietSize : root.ISOSize);
  DirRecord(p + 156, std::string(1, '\0'), root_extent, root_size, nullptr, 2);
  text(190, 128, ids.IdVolumeSet, 128);
  text(318, 128, ids.IdPublisher, 128);
  text(446, 128, ids.IdPreparer, 128);
  text(574, 128, ids.IdApplication, 128);
  text(702, 37, ids.FileCopyright, 36);
  text(739, 37, ids.FileAbstract, 36);
  text(776, 37, ids.FileBibliographic, 36);
  std::memcpy(p + 813, FormatDescriptorDate(ids.DateCreation).data(), 16);
  std::memcpy(p + 830, FormatDescriptorDate(ids.DateModification).data(), 16);
  std::memset(p + 847, '0', 16);
  std::memset(p + 864, '0', 16);
  p[881] = 1;
  std::memset(p + 1024, ' ', 8);
}

}  // namespace

uint8_t BootMediaType(int64_t rounded_bytes) {
  switch (rounded_bytes) {
    case 1228800: return 1;
    case 1474560: return 2;
    case 2949120: return 3;
    default: return 4;
  }
}

void BuildImageHeaders(const TFileTree& tree, const TImageLayout& L, const TVolumeIds& ids,
                       std::vector<uint8_t>& stream, TDateTime now) {
  const size_t base = stream.size();
  stream.resize(base + static_cast<size_t>(L.HeaderEndSector - L.SessionStart) * kSectorSize, 0);
  uint8_t* out = stream.data() + base;
  auto at = [&](uint32_t sector) { return out + static_cast<size_t>(sector - L.SessionStart) * kSectorSize; };
  const TDEntry& root = *tree.Root();

  VolumeDescriptor(at(L.PVDSector), false, ids, L, root);
  if (L.Bootable) {
    uint8_t* p = at(L.BootRecordSector);
    p[0] = 0;
    std::memcpy(p + 1, "CD001", 5);
    p[6] = 1;
    std::memcpy(p + 7, "EL TORITO SPECIFICATION", 23);
    Le32(p + 71, L.BootCatalogSector);
  }
  if (L.Joliet) VolumeDescriptor(at(L.SVDSector), true, ids, L, root);
  {
    uint8_t* p = at(L.TerminatorSector);
    p[0] = 255;
    std::memcpy(p + 1, "CD001", 5);
    p[6] = 1;
  }

  const TreeView iso{false, L.ISODirArea};
  const TreeView joliet{true, L.JolietDirArea};
  WritePathTable(at(L.ISOPathTableL), tree.ISODirOrder, iso, false);
  WritePathTable(at(L.ISOPathTableM), tree.ISODirOrder, iso, true);
  if (L.Joliet) {
    WritePathTable(at(L.JolietPathTableL), tree.JolietDirOrder, joliet, false);
    WritePathTable(at(L.JolietPathTableM), tree.JolietDirOrder, joliet, true);
  }

  uint8_t now_date[7];
  RecordDate(now_date, now, tree.ZoneOffset);
  for (const auto& d : tree.DirTable) WriteDirectory(at(L.ISODirArea + d->ISOSector), *d, iso, L, tree.ZoneOffset, now_date);
  if (L.Joliet)
    for (const auto& d : tree.DirTable)
      WriteDirectory(at(L.JolietDirArea + d->JolietSector), *d, joliet, L, tree.ZoneOffset, now_date);

  if (L.Bootable) {
    uint8_t* p = at(L.BootCatalogSector);
    p[0] = 1;
    p[1] = 0;
    std::memcpy(p + 4, kBootCatalogId, std::strlen(kBootCatalogId));
    p[30] = 0x55;
    p[31] = 0xAA;
    uint32_t sum = 0;
    for (int i = 0; i < 32; i += 2) sum += static_cast<uint32_t>(p[i] | (p[i + 1] << 8));
    Le16(p + 28, (0x10000 - (sum & 0xFFFF)) & 0xFFFF);
    p[32] = 0x88;
    p[33] = BootMediaType(L.BootImageBytes);
    Le16(p + 38, 1);
    Le32(p + 40, L.BootImageSector);
  }
}

}  // namespace orv::burner
