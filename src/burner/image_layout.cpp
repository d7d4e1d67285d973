#include "burner/image_layout.h"

#include <algorithm>

#include "burner/iso9660_records.h"
#include "burner/names.h"

namespace orv::burner {
namespace {

using DR = iso9660::DirRecord;
using PR = iso9660::PathRecord;

uint32_t SectorsFor(int64_t bytes) { return static_cast<uint32_t>((bytes + kSectorSize - 1) / kSectorSize); }

bool IsDotName(const std::string& name) { return name == "." || name == ".."; }

template <typename RecordLength>
int64_t DirectorySize(const TDEntry& d, const std::string& first_name, RecordLength length) {
  int64_t sectors = 1;
  // Without a "." entry of its own the directory starts with the records of "." and "..".
  uint32_t used = (d.FirstEntry && first_name == ".") ? 0 : 2 * DR::Size(1);
  for (const TFEntry* e = d.FirstEntry; e; e = e->Next) {
    const uint32_t n = length(*e);
    if (used + n > kSectorSize) {
      ++sectors;
      used = 0;
    }
    used += n;
  }
  return sectors * kSectorSize;
}

}  // namespace

void NumberFolders(TFileTree& tree) {
  std::vector<TDEntry*> order;
  order.reserve(tree.DirTable.size());
  order.push_back(tree.Root());
  std::vector<TDEntry*> children;
  for (size_t i = 0; i < order.size(); ++i) {
    TDEntry* parent = order[i];
    parent->Number = static_cast<int32_t>(i + 1);
    children.clear();
    for (TFEntry* e = parent->FirstEntry; e; e = e->Next)
      if (e->Dir && e->Dir != parent) children.push_back(e->Dir);
    std::stable_sort(children.begin(), children.end(),
                     [](const TDEntry* a, const TDEntry* b) { return a->ShortName < b->ShortName; });
    order.insert(order.end(), children.begin(), children.end());
  }
  tree.ISODirOrder = order;
  tree.JolietDirOrder = order;
}

uint32_t ISORecordLength(const TFEntry& e) {
  const size_t id = IsDotName(e.ShortName) ? 1 : e.ShortName.size() + (e.Dir ? 0 : 2);
  return DR::Size(id);
}

uint32_t JolietRecordLength(const TFEntry& e) {
  const std::string& name = JolietNameOf(e);
  if (IsDotName(name)) return DR::Size(1);
  return DR::Size(2 * (Ucs2Length(name) + (e.Dir ? 0 : 2)));
}

int64_t ISODirectorySize(const TDEntry& d) {
  return DirectorySize(d, d.FirstEntry ? d.FirstEntry->ShortName : std::string(), ISORecordLength);
}

int64_t JolietDirectorySize(const TDEntry& d) {
  return DirectorySize(d, d.FirstEntry ? JolietNameOf(*d.FirstEntry) : std::string(), JolietRecordLength);
}

TImageLayout LayoutTree(TFileTree& tree, const TLayoutOptions& options) {
  NumberFolders(tree);
  TImageLayout L;
  L.SessionStart = options.SessionStart;
  L.Joliet = options.Joliet;
  L.Bootable = options.Bootable;
  uint32_t s = options.SessionStart + 16;
  L.PVDSector = s++;
  if (L.Bootable) L.BootRecordSector = s++;
  if (L.Joliet) L.SVDSector = s++;
  L.TerminatorSector = s++;

  // The root's path record has a one-byte identifier.
  uint32_t iso_table = PR::Size(1);
  uint32_t joliet_table = PR::Size(1);
  for (size_t i = 1; i < tree.DirTable.size(); ++i) {
    const TDEntry& d = *tree.DirTable[i];
    iso_table += PR::Size(d.ShortName.size());
    joliet_table += PR::Size(2 * Ucs2Length(JolietNameOf(d)));
  }
  L.ISOPathTableSize = iso_table;
  L.ISOPathTableL = s;
  s += SectorsFor(iso_table);
  L.ISOPathTableM = s;
  s += SectorsFor(iso_table);
  if (L.Joliet) {
    L.JolietPathTableSize = joliet_table;
    L.JolietPathTableL = s;
    s += SectorsFor(joliet_table);
    L.JolietPathTableM = s;
    s += SectorsFor(joliet_table);
  }

  L.ISODirArea = s;
  uint32_t area = 0;
  for (const auto& d : tree.DirTable) {
    d->ISOSize = ISODirectorySize(*d);
    d->ISOSector = area;
    area += SectorsFor(d->ISOSize);
  }
  L.ISODirSectors = area;
  s += area;
  if (L.Joliet) {
    L.JolietDirArea = s;
    area = 0;
    for (const auto& d : tree.DirTable) {
      d->JolietSize = JolietDirectorySize(*d);
      d->JolietSector = area;
      area += SectorsFor(d->JolietSize);
    }
    L.JolietDirSectors = area;
    s += area;
  }

  if (L.Bootable) {
    L.BootCatalogSector = s++;
    L.BootImageSector = s;
    L.BootImageBytes = static_cast<int64_t>(SectorsFor(options.BootImageSize)) * kSectorSize;
    L.HeaderEndSector = s;
    s += SectorsFor(options.BootImageSize);
  } else {
    L.HeaderEndSector = s;
  }
  L.FirstFileSector = std::max(s, kMinFirstFileSector);
  if (L.Bootable) L.BootPadBytes = static_cast<int64_t>(L.FirstFileSector - s) * kSectorSize;
  else L.HeaderEndSector = L.FirstFileSector;

  uint64_t count = 0;
  for (const auto& e : tree.FileTable) {
    if (e->Dir) {
      e->ISOExtent = e->Dir->ISOSector;
      e->JolietExtent = e->Dir->JolietSector;
      e->ISOLength = e->Dir->ISOSize;
      e->JolietLength = e->Dir->JolietSize;
    } else if (e->Imported) {
      continue;
    } else if (e->ISOLength == 0) {
      e->ISOExtent = e->JolietExtent = 0;
      e->ISOLength = e->JolietLength = 0;
    } else {
      e->ISOExtent = e->JolietExtent = static_cast<uint32_t>(count);
      count += SectorsFor(e->ISOLength);
    }
  }
  L.FileSectors = count;
  L.ImageEndSector = L.FirstFileSector + count;
  return L;
}

}  // namespace orv::burner
