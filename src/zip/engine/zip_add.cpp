// ZE_ZipExec: the add operation of the engine.
#include <fcntl.h>
#include <fnmatch.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "zip/engine/engine_common.h"
#include "zip/engine/safe_name.h"
#include "zip/engine/zip_writer.h"

namespace orv::zip::engine {

namespace {

namespace fs = std::filesystem;

std::string trim(const char* text) {
  if (text == nullptr) return {};
  std::string s(text);
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  const size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool has_wildcard(const std::string& s) { return s.find_first_of("*?[") != std::string::npos; }

struct AddContext {
  const ZE_ZipCommand& cmd;
  fs::path base;
  std::vector<std::string> store_suffixes;
  std::vector<std::string> excludes;
  std::vector<NewEntry> files;
  std::set<std::string> seen_sources;
};

bool excluded(const AddContext& ctx, const std::string& stored, const std::string& bare) {
  for (const std::string& x : ctx.excludes)
    if (fnmatch(x.c_str(), stored.c_str(), 0) == 0 || fnmatch(x.c_str(), bare.c_str(), 0) == 0) return true;
  return false;
}

bool store_only(const AddContext& ctx, const std::string& bare) {
  const size_t dot = bare.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = lower(bare.substr(dot));
  return std::find(ctx.store_suffixes.begin(), ctx.store_suffixes.end(), ext) != ctx.store_suffixes.end();
}

// Adds one regular file found through a specification. Returns true when it was taken. Hidden
// files (names starting with ".") are left out of patterns and folders unless SystemHidden; a
// file named exactly is always taken.
bool take_file(AddContext& ctx, const fs::path& path, const struct stat& st, bool named = false) {
  const std::string bare = path.filename().string();
  if (!named && !ctx.cmd.SystemHidden && !bare.empty() && bare[0] == '.') return false;
  std::string stored;
  if (ctx.cmd.JunkDir) {
    stored = bare;
  } else {
    std::error_code ec;
    fs::path rel = fs::relative(path, ctx.base, ec);
    stored = (!ec && !rel.empty() && *rel.begin() != "..") ? rel.generic_string() : path.generic_string();
  }
  stored = clean_stored_name(stored);
  if (stored.empty()) return false;
  if (excluded(ctx, stored, bare)) return false;
  if (ctx.cmd.FromDate && dos_time_from_unix(st.st_mtime) < ctx.cmd.Date) return false;
  const std::string canonical = fs::weakly_canonical(path).string();
  if (!ctx.seen_sources.insert(canonical).second) return true;  // named twice: add once
  NewEntry e;
  e.source = path.string();
  e.name = stored;
  e.size = static_cast<uint64_t>(st.st_size);
  e.mtime = st.st_mtime;
  e.mode = st.st_mode;
  e.store = store_only(ctx, bare);
  ctx.files.push_back(std::move(e));
  return true;
}

size_t walk_folder(AddContext& ctx, const fs::path& folder, const std::string& pattern) {
  size_t taken = 0;
  std::error_code ec;
  std::vector<fs::path> paths;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!ctx.cmd.SystemHidden && !name.empty() && name[0] == '.') {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    paths.push_back(it->path());
  }
  if (ec) throw_io("Cannot read folder", folder.string(), ec.value());
  std::sort(paths.begin(), paths.end());
  for (const fs::path& p : paths) {
    struct stat st{};
    if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (!pattern.empty() && fnmatch(pattern.c_str(), p.filename().c_str(), 0) != 0) continue;
    taken += take_file(ctx, p, st) ? 1 : 0;
  }
  return taken;
}

// Resolves one specification into files; returns the number taken.
size_t collect(AddContext& ctx, const std::string& spec, bool recurse) {
  fs::path path(spec);
  if (path.is_relative()) path = ctx.base / path;
  if (!has_wildcard(spec)) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return 0;
    if (S_ISREG(st.st_mode)) return take_file(ctx, path, st, true) ? 1 : 0;
    if (S_ISDIR(st.st_mode) && recurse) return walk_folder(ctx, path, {});
    return 0;
  }
  if (recurse) return walk_folder(ctx, path.parent_path(), path.filename().string());
  glob_t g{};
  size_t taken = 0;
  if (glob(path.c_str(), 0, nullptr, &g) == 0) {
    for (size_t i = 0; i < g.gl_pathc; ++i) {
      struct stat st{};
      if (::stat(g.gl_pathv[i], &st) == 0 && S_ISREG(st.st_mode)) taken += take_file(ctx, g.gl_pathv[i], st) ? 1 : 0;
    }
  }
  globfree(&g);
  return taken;
}

void check_command(const ZE_ZipCommand* cmd) {
  if (cmd == nullptr || cmd->Version != 179 || cmd->Check != 7)
    throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, "Invalid add command record");
  if (cmd->UseOutStream || cmd->UseInStream || cmd->OutStream || cmd->InStream)
    throw EngineError(ZE_INVALID, ZE_MSG_UNSUPPORTED, "Memory streams are not supported");
  if (cmd->ZipFileName == nullptr || *cmd->ZipFileName == '\0')
    throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, "No archive name given");
  if (cmd->Encrypt) throw EngineError(ZE_INVALID, ZE_MSG_UNSUPPORTED, "Encryption is not supported");
  if (cmd->Argc < 0 || (cmd->Argc > 0 && cmd->FSpecs == nullptr) || cmd->ExclCount < 0 ||
      (cmd->ExclCount > 0 && cmd->Excludes == nullptr))
    throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, "Invalid file specification list");
  for (int32_t i = 0; i < cmd->Argc; ++i)
    if (cmd->FSpecs[i].Encrypt) throw EngineError(ZE_INVALID, ZE_MSG_UNSUPPORTED, "Encryption is not supported");
}

int32_t run_add(ZE_ZipCommand* cmd, Session& session) {
  AddContext ctx{*cmd, {}, {}, {}, {}, {}};
  std::error_code ec;
  ctx.base = (cmd->RootDir && *cmd->RootDir) ? fs::path(cmd->RootDir) : fs::current_path(ec);
  if (cmd->Suffix) {
    const std::string text = lower(cmd->Suffix);
    size_t start = 0;
    while (start <= text.size()) {
      size_t colon = text.find(':', start);
      if (colon == std::string::npos) colon = text.size();
      std::string item = text.substr(start, colon - start);
      if (!item.empty()) ctx.store_suffixes.push_back(item[0] == '.' ? item : "." + item);
      start = colon + 1;
    }
  }
  for (int32_t i = 0; i < cmd->ExclCount; ++i)
    if (cmd->Excludes[i] && *cmd->Excludes[i]) ctx.excludes.push_back(cmd->Excludes[i]);

  for (int32_t i = 0; i < cmd->Argc; ++i) {
    const std::string spec = trim(cmd->FSpecs[i].FileSpec);
    if (spec.empty()) continue;
    const bool recurse = (cmd->FSpecs[i].Recurse & 0xFFFF) != 0;
    if (collect(ctx, spec, recurse) == 0)
      throw EngineError(ZE_NOTHING_DONE, ZE_MSG_NOT_FOUND, "Nothing to add for " + spec);
  }

  // Names the driver wants changed, and the same stored name twice, are settled before writing.
  std::map<std::string, size_t> by_name;
  for (size_t i = 0; i < ctx.files.size(); ++i) {
    NewEntry& f = ctx.files[i];
    ZE_CallbackRecord r = session.make(ZE_CB_NEW_NAME);
    r.MsgP = f.name.c_str();
    r.Msg2P = f.source.c_str();
    if (session.call(r) == -1) {
      const char* reply = ZE_ReplyBuffer(&r);
      const std::string changed = clean_stored_name(std::string(reply, strnlen(reply, 512)));
      if (!changed.empty()) f.name = changed;
    }
    if (!by_name.emplace(f.name, i).second)
      throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, "Two files would be stored as " + f.name);
  }

  const std::string archive = cmd->ZipFileName;
  std::unique_ptr<File> old;
  CentralDirectory old_dir;
  struct stat ast{};
  if (::stat(archive.c_str(), &ast) == 0) {
    old = std::make_unique<File>(archive, O_RDONLY);
    try {
      old_dir = read_central_directory(*old);
    } catch (const FormatError& e) {
      throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, archive + " is not a valid zip archive: " + e.what());
    }
  }

  // Freshen and update keep an existing entry that is as new as the file.
  std::map<std::string, const CentralEntry*> existing;
  for (const CentralEntry& e : old_dir.entries) existing[e.name] = &e;
  std::vector<NewEntry> chosen;
  for (NewEntry& f : ctx.files) {
    auto it = existing.find(f.name);
    if (cmd->Freshen && it == existing.end()) continue;
    if ((cmd->Freshen || cmd->Update) && it != existing.end() &&
        dos_time_from_unix(static_cast<std::time_t>(f.mtime)) <= it->second->dos_time)
      continue;
    chosen.push_back(std::move(f));
  }

  int64_t total = 0;
  for (const NewEntry& f : chosen) total += static_cast<int64_t>(f.size);
  session.totals(static_cast<int64_t>(chosen.size()), total);
  if (chosen.empty() && !cmd->Freshen && !cmd->Update)
    throw EngineError(ZE_NOTHING_DONE, ZE_MSG_NOT_FOUND, "Nothing to add");

  ZipWriter writer(archive, session, cmd->Level);
  std::set<std::string> replaced;
  for (const NewEntry& f : chosen) replaced.insert(f.name);
  std::set<std::string> written;
  for (const CentralEntry& e : old_dir.entries) {
    if (replaced.count(e.name)) {
      for (const NewEntry& f : chosen)
        if (f.name == e.name && written.insert(f.name).second) writer.add_file(f);
      continue;
    }
    writer.copy_entry(*old, e);
  }
  for (const NewEntry& f : chosen)
    if (written.insert(f.name).second) writer.add_file(f);
  writer.commit(cmd->Comment ? cmd->Comment : old_dir.comment);
  session.end_of_batch();
  if (cmd->Move)
    for (const NewEntry& f : chosen)
      if (::unlink(f.source.c_str()) != 0) session.message(ZE_MSG_WARNING, "Could not remove " + f.source);
  return static_cast<int32_t>(chosen.size());
}

}  // namespace

}  // namespace orv::zip::engine

extern "C" __attribute__((visibility("default"))) int32_t ZE_ZipExec(ZE_ZipCommand* command) {
  using namespace orv::zip::engine;
  return guarded_call(command ? command->Caller : nullptr, command ? command->Callback : nullptr, true,
                      [&](Session& s) {
                        check_command(command);
                        return run_add(command, s);
                      });
}
