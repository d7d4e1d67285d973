#include "burner/image_headers.h"

#include <cstring>

#include "burner/iso9660_records.h"
#include "burner/names.h"

namespace orv::burner {
namespace {

namespace iso = iso9660;
using DR = iso9660::DirRecord;
using VD = iso9660::VolumeDescriptor;

// Eight spaces in the application-use field of both descriptors, where image_layout_test
// expects them.
constexpr size_t kApplicationUseBlank = 1024;
static_assert(kApplicationUseBlank >= VD::ApplicationUse::kOffset &&
              kApplicationUseBlank + 8 <= VD::ApplicationUse::kEnd);

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

// A recording date: the local time and the offset from Greenwich in force at that time, so a
// file changed in summer carries the summer offset and readers restore its own time.
void RecordDate(uint8_t* p, TDateTime value) {
  using D = iso::RecordingDate;
  const TDateParts d = DecodeDateTime(value);
  const int year = d.Year - 1900;
  D::Year::Set(p, static_cast<uint8_t>(year < 0 ? 0 : (year > 255 ? 255 : year)));
  D::Month::Set(p, static_cast<uint8_t>(d.Month));
  D::Day::Set(p, static_cast<uint8_t>(d.Day));
  D::Hour::Set(p, static_cast<uint8_t>(d.Hour));
  D::Minute::Set(p, static_cast<uint8_t>(d.Minute));
  D::Second::Set(p, static_cast<uint8_t>(d.Second));
  D::ZoneOffset::Set(p, static_cast<uint8_t>(ZoneOffset15At(value)));
}

// Writes one directory record at p; returns its length.
uint32_t DirRecord(uint8_t* p, const std::string& id, uint32_t extent, uint32_t length, const uint8_t* date,
                   uint8_t flags) {
  const uint32_t total = DR::Size(id.size());
  std::memset(p, 0, total);
  DR::Length::Set(p, static_cast<uint8_t>(total));
  DR::Extent::Set(p, extent);
  DR::DataLength::Set(p, length);
  if (date) std::memcpy(DR::RecordingDate::At(p), date, DR::RecordingDate::kWidth);
  DR::Flags::Set(p, flags);
  DR::VolumeSequence::Set(p, 1);
  DR::IdLength::Set(p, static_cast<uint8_t>(id.size()));
  std::memcpy(p + DR::kIdentifier, id.data(), id.size());
  return total;
}

struct TreeView {
  bool joliet;
  uint32_t dir_area;
  uint32_t DirSector(const TDEntry& d) const { return dir_area + (joliet ? d.JolietSector : d.ISOSector); }
  uint32_t DirSize(const TDEntry& d) const { return static_cast<uint32_t>(joliet ? d.JolietSize : d.ISOSize); }
  const std::string& Name(const TFEntry& e) const { return joliet ? JolietNameOf(e) : e.ShortName; }
  std::string Identifier(const TFEntry& e) const {
    const std::string& name = Name(e);
    if (name == ".") return std::string(1, '\0');
    if (name == "..") return std::string(1, '\1');
    const std::string id = e.Dir ? name : name + ";1";
    return joliet ? Utf8ToUcs2BE(id) : id;
  }
};

void WriteDirectory(uint8_t* out, const TDEntry& d, const TreeView& v, const TImageLayout& L,
                    const uint8_t* now_date) {
  uint32_t used = 0;
  uint8_t* sector = out;
  if (!(d.FirstEntry && v.Name(*d.FirstEntry) == ".")) {
    used += DirRecord(sector + used, std::string(1, '\0'), v.DirSector(d), v.DirSize(d), now_date, DR::kFlagDirectory);
    used += DirRecord(sector + used, std::string(1, '\1'), v.DirSector(*d.Parent), v.DirSize(*d.Parent), now_date,
                      DR::kFlagDirectory);
  }
  uint8_t date[DR::RecordingDate::kWidth];
  for (const TFEntry* e = d.FirstEntry; e; e = e->Next) {
    const std::string id = v.Identifier(*e);
    const uint32_t n = DR::Size(id.size());
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
    RecordDate(date, e->DateTime);
    uint8_t flags = e->Dir ? DR::kFlagDirectory : 0;
    if (e->Attr & faHidden) flags |= DR::kFlagHidden;
    used += DirRecord(sector + used, id, extent, length, date, flags);
  }
}

void WritePathTable(uint8_t* out, const std::vector<TDEntry*>& order, const TreeView& v, bool big_endian) {
  using PR = iso::PathRecord;
  size_t at = 0;
  for (const TDEntry* d : order) {
    const bool root = d->Parent == d;
    const std::string name = root ? std::string(1, '\0') : (v.joliet ? Utf8ToUcs2BE(JolietNameOf(*d)) : d->ShortName);
    uint8_t* r = out + at;
    PR::IdLength::Set(r, static_cast<uint8_t>(name.size()));
    PR::ExtAttrLength::Set(r, 0);
    const uint32_t extent = v.DirSector(*d);
    const auto parent = static_cast<uint16_t>(d->Parent->Number);
    if (big_endian) {
      PR::ExtentM::Set(r, extent);
      PR::ParentM::Set(r, parent);
    } else {
      PR::ExtentL::Set(r, extent);
      PR::ParentL::Set(r, parent);
    }
    std::memcpy(r + PR::kIdentifier, name.data(), name.size());
    at += PR::Size(name.size());
  }
}

// A descriptor date: the 16 digits of the local time and the offset from Greenwich in force
// at that time.
void DescriptorDate(uint8_t* p, TDateTime value) {
  std::memcpy(p, FormatDescriptorDate(value).data(), VD::kDateDigits);
  p[VD::kDateDigits] = value > 0 ? static_cast<uint8_t>(ZoneOffset15At(value)) : 0;
}

void VolumeDescriptor(uint8_t* p, bool joliet, const TVolumeIds& ids, const TImageLayout& L, const TDEntry& root) {
  VD::Type::Set(p, joliet ? VD::kSupplementary : VD::kPrimary);
  std::memcpy(VD::StandardId::At(p), VD::kStandardId, VD::StandardId::kWidth);
  VD::Version::Set(p, 1);
  // Joliet texts are UCS-2: the 37-byte file identifiers hold 18 characters.
  auto text = [&](auto field, const std::string& value) {
    using F = decltype(field);
    if (joliet) Ucs2Field(F::At(p), F::kWidth - F::kWidth % 2, value);
    else AsciiField(F::At(p), F::kWidth, value, true);
  };
  text(VD::SystemId{}, ids.IdSystem);
  text(VD::VolumeId{}, ids.IdVolume);
  VD::VolumeSpaceSize::Set(p, static_cast<uint32_t>(L.TrackLength()));
  // Only the supplementary descriptor carries the Joliet escape sequence: readers that find
  // it in the primary one take the ISO tree for UCS-2 (isoinfo) or list nothing (libarchive).
  if (joliet) {
    uint8_t* esc = VD::EscapeSequences::At(p);
    esc[0] = 0x25;
    esc[1] = 0x2F;
    esc[2] = 0x40;
  }
  VD::VolumeSetSize::Set(p, 1);
  VD::VolumeSequenceNumber::Set(p, 1);
  VD::LogicalBlockSize::Set(p, kSectorSize);
  VD::PathTableSize::Set(p, joliet ? L.JolietPathTableSize : L.ISOPathTableSize);
  VD::PathTableL::Set(p, joliet ? L.JolietPathTableL : L.ISOPathTableL);
  VD::PathTableM::Set(p, joliet ? L.JolietPathTableM : L.ISOPathTableM);
  const uint32_t root_extent = joliet ? L.JolietDirArea + root.JolietSector : L.ISODirArea + root.ISOSector;
  const auto root_size = static_cast<uint32_t>(joliet ? root.JolietSize : root.ISOSize);
  DirRecord(VD::RootDirectoryRecord::At(p), std::string(1, '\0'), root_extent, root_size, nullptr,
            DR::kFlagDirectory);
  text(VD::VolumeSetId{}, ids.IdVolumeSet);
  text(VD::PublisherId{}, ids.IdPublisher);
  text(VD::PreparerId{}, ids.IdPreparer);
  text(VD::ApplicationId{}, ids.IdApplication);
  text(VD::CopyrightFileId{}, ids.FileCopyright);
  text(VD::AbstractFileId{}, ids.FileAbstract);
  text(VD::BibliographicFileId{}, ids.FileBibliographic);
  DescriptorDate(VD::CreationDate::At(p), ids.DateCreation);
  DescriptorDate(VD::ModificationDate::At(p), ids.DateModification);
  std::memset(VD::ExpirationDate::At(p), '0', VD::kDateDigits);
  std::memset(VD::EffectiveDate::At(p), '0', VD::kDateDigits);
  VD::FileStructureVersion::Set(p, 1);
  std::memset(p + kApplicationUseBlank, ' ', 8);
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
    using BR = iso::BootRecord;
    uint8_t* p = at(L.BootRecordSector);
    BR::Type::Set(p, BR::kBootRecord);
    std::memcpy(BR::StandardId::At(p), BR::kStandardId, BR::StandardId::kWidth);
    BR::Version::Set(p, 1);
    std::memcpy(BR::BootSystemId::At(p), BR::kElTorito, std::strlen(BR::kElTorito));
    BR::BootCatalogSector::Set(p, L.BootCatalogSector);
  }
  if (L.Joliet) VolumeDescriptor(at(L.SVDSector), true, ids, L, root);
  {
    uint8_t* p = at(L.TerminatorSector);
    VD::Type::Set(p, VD::kTerminator);
    std::memcpy(VD::StandardId::At(p), VD::kStandardId, VD::StandardId::kWidth);
    VD::Version::Set(p, 1);
  }

  const TreeView iso{false, L.ISODirArea};
  const TreeView joliet{true, L.JolietDirArea};
  WritePathTable(at(L.ISOPathTableL), tree.ISODirOrder, iso, false);
  WritePathTable(at(L.ISOPathTableM), tree.ISODirOrder, iso, true);
  if (L.Joliet) {
    WritePathTable(at(L.JolietPathTableL), tree.JolietDirOrder, joliet, false);
    WritePathTable(at(L.JolietPathTableM), tree.JolietDirOrder, joliet, true);
  }

  uint8_t now_date[DR::RecordingDate::kWidth];
  RecordDate(now_date, now);
  for (const auto& d : tree.DirTable) WriteDirectory(at(L.ISODirArea + d->ISOSector), *d, iso, L, now_date);
  if (L.Joliet)
    for (const auto& d : tree.DirTable)
      WriteDirectory(at(L.JolietDirArea + d->JolietSector), *d, joliet, L, now_date);

  if (L.Bootable) {
    using BC = iso::BootCatalog;
    uint8_t* p = at(L.BootCatalogSector);
    BC::HeaderId::Set(p, 1);
    BC::PlatformId::Set(p, 0);
    std::memcpy(BC::IdString::At(p), kBootCatalogId, std::strlen(kBootCatalogId));
    BC::Key55::Set(p, 0x55);
    BC::KeyAA::Set(p, 0xAA);
    uint32_t sum = 0;
    for (size_t i = 0; i < BC::kValidationEntry; i += 2) sum += bytes::load_le16(p + i);
    BC::Checksum::Set(p, static_cast<uint16_t>((0x10000 - (sum & 0xFFFF)) & 0xFFFF));
    BC::BootIndicator::Set(p, 0x88);
    BC::MediaType::Set(p, BootMediaType(L.BootImageBytes));
    BC::SectorCount::Set(p, 1);
    BC::LoadRba::Set(p, L.BootImageSector);
  }
}

}  // namespace orv::burner
