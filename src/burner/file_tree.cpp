#include "burner/file_tree.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "burner/names.h"

namespace orv::burner {
namespace {

std::string Format(const char* format, const std::string& what) {
  std::string out = format;
  const size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, what);
  return out;
}

std::string FormatInt(const char* format, int value) {
  char text[128];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

void Log(const TFileTree::Hooks& h, const std::string& message, uint8_t type) {
  if (h.Log) h.Log(message, type);
}

// Tree paths accept Linux separators too.
std::string Backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

bool IsNetworkPath(const std::string& path) { return path.size() >= 2 && path[0] == '\\' && path[1] == '\\'; }

bool HasDriveLetter(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

TFileTree& ProcessFileTree() {
  static TFileTree tree;
  return tree;
}

TFileTree::TFileTree() { ResetFileTree(65535, 8191); }

bool TFileTree::ResetFileTree(int MaxFiles_, int MaxDirs_) {
  FileTable.clear();
  ISODirOrder.clear();
  JolietDirOrder.clear();
  DirTable.clear();
  path_index_.clear();
  MaxDirs = std::max(MaxDirs_, 1);
  MaxFiles = std::max(MaxFiles_, 0);
  DirTable.reserve(static_cast<size_t>(std::min(MaxDirs, 65536)));
  FileTable.reserve(static_cast<size_t>(std::min(MaxFiles, 65536)));
  FilesSize = 0;
  LastRefusal.clear();
  TDEntry* root = NewDirEntry(Hooks{});
  root->FirstEntry = nullptr;
  root->TreePath.assign(1, '\\');
  root->ShortName = "CD_ROOT";
  root->LongName = "CD Root Directory";
  root->JolietName = root->LongName;
  root->Parent = root;
  return true;
}

TDEntry* TFileTree::NewDirEntry(const Hooks& h) {
  if (static_cast<int>(DirTable.size()) >= MaxDirs) {
    Log(h, ">>> " + FormatInt(kMsgMaxDirs, MaxDirs), 3);
    return nullptr;
  }
  DirTable.push_back(std::make_unique<TDEntry>());
  TDEntry* d = DirTable.back().get();
  ISODirOrder.push_back(d);
  JolietDirOrder.push_back(d);
  return d;
}

TFEntry* TFileTree::NewFileEntry(const Hooks& h) {
  if (static_cast<int>(FileTable.size()) >= MaxFiles) {
    Log(h, FormatInt(kMsgMaxFiles, MaxFiles), 3);
    return nullptr;
  }
  FileTable.push_back(std::make_unique<TFEntry>());
  return FileTable.back().get();
}

TDEntry* TFileTree::FindDir(const std::string& PathIn) const {
  std::string path = Backslashed(PathIn);
  if (path.empty() || path == "\\") return Root();
  if (path.back() == '\\') path.pop_back();
  const auto it = path_index_.find(UpperAscii(path));
  return it == path_index_.end() ? nullptr : it->second;
}

TDEntry* TFileTree::ForceDirs(const std::string& PathIn, const Hooks& h) {
  const std::string path = Backslashed(PathIn);
  if (TDEntry* d = FindDir(path)) return d;
  const size_t cut = path.rfind('\\');
  const std::string parent_path = cut == std::string::npos ? std::string() : path.substr(0, cut);
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  if (!FindDir(parent_path)) ForceDirs(parent_path, h);
  if (name.empty()) return nullptr;
  TDEntry* parent = FindDir(parent_path);
  if (!parent) return nullptr;
  return AddDir(parent, name, faDirectory, h);
}

TDEntry* TFileTree::AddDir(TDEntry* Parent, const std::string& NameIn, uint32_t Attr, const Hooks& h) {
  std::string name = Backslashed(NameIn);
  if (!name.empty() && name.front() == '\\') name.erase(0, 1);
  if (!name.empty() && name.back() == '\\') name.pop_back();
  TSearchRec rec;
  rec.Name = name;
  rec.Time = NowLocal();
  rec.Attr = Attr;
  rec.AlternateName = MakeShortName(name);
  return AddDirFromSearchRec(Parent, rec, h);
}

TDEntry* TFileTree::AddDirFromSearchRec(TDEntry* Parent, const TSearchRec& Rec, const Hooks& h) {
  if (!Parent || Rec.Name.empty()) return nullptr;
  std::string path = Parent->TreePath + "\\" + Rec.Name;
  if (path.rfind("\\\\", 0) == 0) path.erase(0, 1);
  if (TDEntry* found = FindDir(path)) return found;
  const std::string short_name = Rec.AlternateName.empty() ? UpperAscii(Rec.Name) : Rec.AlternateName;
  if (FindEntry(Parent, Rec.Name)) {
    Refuse(h, kMsgNameIsFile, path);
    return nullptr;
  }
  if (!NamesFitRecords(short_name, Rec.Name, false)) {
    Refuse(h, kMsgNameTooLong, path);
    return nullptr;
  }
  TDEntry* d = NewDirEntry(h);
  if (!d) return nullptr;
  TFEntry* e = NewFileEntry(h);
  if (!e) {
    // A folder without its entry would be unreachable yet listed in the path tables.
    TakeOutDir(d);
    return nullptr;
  }
  TFEntry** tail = &Parent->FirstEntry;
  while (*tail) tail = &(*tail)->Next;
  *tail = e;

  e->JolietName = UniqueJolietName(Parent, e, Rec.Name, path, h);
  d->Parent = Parent;
  d->FirstEntry = nullptr;
  d->LongName = Rec.Name;
  d->JolietName = e->JolietName;
  d->ShortName = short_name;
  d->TreePath = UpperAscii(path);
  IndexDir(d);

  e->ShortName = short_name;
  e->LongName = Rec.Name;
  e->Attr = Rec.Attr;
  e->ISOLength = e->JolietLength = 0;
  e->Dir = d;
  e->DateTime = Rec.Time;
  e->Next = nullptr;
  return d;
}

bool TFileTree::AddFileFromSearchRec(TDEntry* Dir, const TSearchRec& Rec, const std::string& SourcePath,
                                     uint32_t ImportedSector, bool ClearArchive, const Hooks& h) {
  if (!Dir) return false;
  std::string short_name = Rec.AlternateName.empty() ? UpperAscii(Rec.Name) : Rec.AlternateName;
  std::string long_name = Rec.Name;
  if ((Rec.Attr & faDirectory) == 0) {
    if (short_name.find('.') == std::string::npos) short_name += '.';
    if (long_name.find('.') == std::string::npos) long_name += '.';
  }
  // Looked up by the name the entry will carry, so README added twice meets README.
  TFEntry* existing = FindEntry(Dir, long_name);
  TDateTime date = Rec.Time;
  bool skip = Ucs2Length(long_name) >= 128;
  // A file added for this burn wins over an entry of an earlier session of the same name,
  // whichever came first; between two added or two imported entries ReplaceFile decides.
  const bool adding = !SourcePath.empty();
  const bool existing_added = existing && !existing->Dir && !existing->SourcePath.empty();
  const bool existing_imported = existing && !existing->Dir && existing->SourcePath.empty();
  if (!adding && existing_added) return false;
  const bool replace = existing && (h.ReplaceFile || (adding && existing_imported));
  if (h.OnAddFile) h.OnAddFile(SourcePath, long_name, short_name, date, Rec.Attr, Rec.Size, skip);
  if (skip) return false;
  if (existing && !replace) return false;
  const std::string shown = SourcePath.empty() ? Dir->TreePath + "\\" + long_name : SourcePath;
  if (existing && existing->Dir) {
    Refuse(h, kMsgNameIsFolder, shown);
    return false;
  }
  if (Rec.Size > kMaxFileSize || Rec.Size < 0) {
    Refuse(h, kMsgFileTooLarge, shown);
    return false;
  }
  short_name = UpperAscii(short_name);
  if (!NamesFitRecords(short_name, long_name, true)) {
    Refuse(h, kMsgNameTooLong, shown);
    return false;
  }
  TFEntry* e = existing;
  if (replace) {
    if (!e->Imported) FilesSize -= RoundUpToSector(e->ISOLength);
  } else {
    e = NewFileEntry(h);
    if (!e) return false;
    TFEntry** tail = &Dir->FirstEntry;
    while (*tail) tail = &(*tail)->Next;
    *tail = e;
  }
  e->ShortName = short_name;
  e->LongName = long_name;
  e->JolietName = UniqueJolietName(Dir, e, long_name, shown, h);
  e->ISOLength = e->JolietLength = Rec.Size;
  e->Attr = Rec.Attr;
  e->DateTime = date;
  e->SourcePath = SourcePath;
  e->ClearArchive = ClearArchive;
  if (ImportedSector != 0) {
    e->ISOExtent = e->JolietExtent = ImportedSector;
    e->Imported = true;
  } else {
    e->ISOExtent = e->JolietExtent = 0;
    e->Imported = false;
    FilesSize += RoundUpToSector(Rec.Size);
  }
  return true;
}

int TFileTree::AddFile(const std::string& DestPath, const std::string& SourceFileIn, bool KeepPath,
                       const Hooks& h) {
  TDEntry* dir = nullptr;
  if (!KeepPath) {
    dir = FindDir(DestPath);
  } else {
    const std::string source = Backslashed(SourceFileIn);
    const size_t cut = source.rfind('\\');
    std::string folder = cut == std::string::npos ? std::string("\\") : source.substr(0, cut + 1);
    if (IsNetworkPath(folder)) {
      // \\SERVER\SHARE\rest: keep the backslash before the rest.
      size_t at = folder.find('\\', 2);
      if (at != std::string::npos) at = folder.find('\\', at + 1);
      folder = at == std::string::npos ? std::string("\\") : folder.substr(at);
    } else if (HasDriveLetter(folder)) {
      folder.erase(0, 2);
    }
    if (folder.empty() || folder.front() != '\\') folder.insert(folder.begin(), '\\');
    if (h.LastFolderOnly && folder.size() > 1) {
      const size_t prev = folder.rfind('\\', folder.size() - 2);
      folder = folder.substr(prev);
    }
    ForceDirs(folder, h);
    dir = FindDir(folder);
  }
  if (!dir) {
    Log(h, kMsgInvalidDestination, 4);
    return 0;
  }
  std::unordered_set<std::string> taken;
  bool collected = false;
  const auto rec = FindSourceFile(SourceFileIn, [&](const std::string& alt) {
    if (!collected) {
      for (const TFEntry* e = dir->FirstEntry; e; e = e->Next) taken.insert(e->ShortName);
      collected = true;
    }
    return taken.count(alt) > 0 || taken.count(alt + '.') > 0;
  });
  if (!rec) return -1;
  if (rec->Attr & faDirectory) {
    Refuse(h, kMsgNotAFile, SourceFileIn);
    return 0;
  }
  const size_t refusals_before = refusals_;
  (void)AddFileFromSearchRec(dir, *rec, SourceFileIn, 0, false, h);
  return refusals_ == refusals_before ? 1 : 0;
}

std::string TFileTree::UniqueJolietName(const TDEntry* Dir, const TFEntry* self, const std::string& long_name,
                                        const std::string& shown, const Hooks& h) const {
  const std::string plain = JolietForm(long_name);
  auto taken = [&](const std::string& candidate) {
    for (const TFEntry* e = Dir->FirstEntry; e; e = e->Next)
      if (e != self && EqualUpperAscii(e->JolietName, candidate)) return true;
    return false;
  };
  if (!taken(plain)) return plain;
  for (int k = 1; k < 100000; ++k) {
    const std::string numbered = NumberedJolietName(plain, k);
    if (!taken(numbered)) {
      const std::string format = kMsgJolietRenamed;
      const size_t a = format.find("%s");
      const size_t b = format.find("%s", a + 2);
      Log(h, format.substr(0, a) + shown + format.substr(a + 2, b - a - 2) + numbered + format.substr(b + 2), 1);
      return numbered;
    }
  }
  return plain;
}

TFEntry* TFileTree::FindEntry(const TDEntry* Dir, const std::string& LongName) const {
  if (!Dir) return nullptr;
  for (TFEntry* e = Dir->FirstEntry; e; e = e->Next)
    if (EqualUpperAscii(e->LongName, LongName)) return e;
  return nullptr;
}

void TFileTree::RemoveEntry(TDEntry* Dir, TFEntry* Entry) {
  if (!Dir || !Entry) return;
  if (TDEntry* sub = Entry->Dir) {
    while (sub->FirstEntry) RemoveEntry(sub, sub->FirstEntry);
    TakeOutDir(sub);
  }
  TFEntry** link = &Dir->FirstEntry;
  while (*link && *link != Entry) link = &(*link)->Next;
  if (*link) *link = Entry->Next;
  if (!Entry->Dir && !Entry->Imported) FilesSize -= RoundUpToSector(Entry->ISOLength);
  TakeOutFile(Entry);
}

bool TFileTree::RemoveDir(TDEntry* Dir) {
  if (!Dir || Dir == Root()) return false;
  while (Dir->FirstEntry) RemoveEntry(Dir, Dir->FirstEntry);
  TDEntry* parent = Dir->Parent;
  for (TFEntry* e = parent->FirstEntry; e; e = e->Next) {
    if (e->Dir == Dir) {
      RemoveEntry(parent, e);
      return true;
    }
  }
  TakeOutDir(Dir);
  return true;
}

bool TFileTree::RemoveFile(const std::string& DirPath, const std::string& LongName) {
  TDEntry* dir = FindDir(DirPath);
  if (!dir) return false;
  TFEntry* e = FindEntry(dir, LongName);
  if (!e) return false;
  RemoveEntry(dir, e);
  return true;
}

bool TFileTree::RemoveEmptyDirs() {
  for (;;) {
    TDEntry* empty = nullptr;
    for (size_t i = 1; i < DirTable.size() && !empty; ++i)
      if (!DirTable[i]->FirstEntry) empty = DirTable[i].get();
    if (!empty) return true;
    RemoveDir(empty);
  }
}

bool TFileTree::ClearArchiveBits(const Hooks& h) {
  for (const auto& e : FileTable) {
    if (e->Dir || (e->Attr & faArchive) == 0 || !e->ClearArchive) continue;
    const std::string error = WriteAttributes(e->SourcePath, e->Attr & ~faArchive);
    if (!error.empty()) {
      std::string message = Format(kMsgArchiveBit, e->SourcePath);
      const size_t at = message.find("%s");
      if (at != std::string::npos) message.replace(at, 2, error);
      Log(h, message, 4);
    }
  }
  return true;
}

std::string TFileTree::Verify() const {
  if (DirTable.empty() || DirTable[0]->Parent != DirTable[0].get()) return "root missing";
  if (ISODirOrder.size() != DirTable.size() || JolietDirOrder.size() != DirTable.size())
    return "folder orders differ from the folder table";
  size_t entries = 0;
  int64_t size = 0;
  for (size_t i = 0; i < DirTable.size(); ++i) {
    const TDEntry* d = DirTable[i].get();
    for (const TFEntry* e = d->FirstEntry; e; e = e->Next) {
      ++entries;
      if (entries > FileTable.size()) return "entry lists hold more entries than the file table";
      if (e->Dir && e->Dir->Parent != d) return "folder entry " + e->LongName + " not under its parent";
      if (!e->Dir && !e->Imported) size += RoundUpToSector(e->ISOLength);
    }
    if (i == 0) continue;
    int listed = 0;
    for (const TFEntry* e = d->Parent->FirstEntry; e; e = e->Next)
      if (e->Dir == d) ++listed;
    if (listed != 1) return "folder " + d->TreePath + " listed " + std::to_string(listed) + " times";
  }
  if (entries != FileTable.size()) return "file table holds entries that no folder lists";
  if (size != FilesSize) return "FilesSize " + std::to_string(FilesSize) + " but files sum to " + std::to_string(size);
  return {};
}

void TFileTree::IndexDir(TDEntry* d) { path_index_.emplace(d->TreePath, d); }

void TFileTree::UnindexDir(TDEntry* d) {
  const auto it = path_index_.find(d->TreePath);
  if (it == path_index_.end() || it->second != d) return;
  path_index_.erase(it);
  for (size_t i = 1; i < DirTable.size(); ++i)
    if (DirTable[i].get() != d && DirTable[i]->TreePath == d->TreePath) {
      path_index_.emplace(d->TreePath, DirTable[i].get());
      break;
    }
}

void TFileTree::TakeOutDir(TDEntry* d) {
  UnindexDir(d);
  std::erase(ISODirOrder, d);
  std::erase(JolietDirOrder, d);
  std::erase_if(DirTable, [d](const std::unique_ptr<TDEntry>& p) { return p.get() == d; });
}

void TFileTree::TakeOutFile(TFEntry* e) {
  std::erase_if(FileTable, [e](const std::unique_ptr<TFEntry>& p) { return p.get() == e; });
}

void TFileTree::Refuse(const Hooks& h, const char* format, const std::string& what) {
  ++refusals_;
  LastRefusal = Format(format, what);
  Log(h, ">>> " + LastRefusal, 4);
}

}  // namespace orv::burner
