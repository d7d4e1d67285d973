// ZE_UnzExec: the extract (and test) operation of the engine.
#include <fcntl.h>
#include <fnmatch.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "zip/engine/chunk_table.h"
#include "zip/engine/engine_common.h"
#include "zip/engine/file_io.h"
#include "zip/engine/safe_name.h"

namespace orv::zip::engine {

namespace {

constexpr size_t kInBuffer = size_t{1} << 20;
constexpr size_t kOutBuffer = size_t{4} << 20;

// Where decoded bytes go: a temporary file beside the target, or nowhere when testing.
// put_at may be called from several threads at once, for ranges that do not overlap.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void put(const uint8_t* data, size_t n) = 0;
  virtual void put_at(uint64_t offset, const uint8_t* data, size_t n) = 0;
};

class NullSink : public Sink {
 public:
  void put(const uint8_t*, size_t) override {}
  void put_at(uint64_t, const uint8_t*, size_t) override {}
};

class FileSink : public Sink {
 public:
  explicit FileSink(File& f) : f_(f) {}
  void put(const uint8_t* data, size_t n) override { f_.write_all(data, n); }
  void put_at(uint64_t offset, const uint8_t* data, size_t n) override { f_.write_at(offset, data, n); }

 private:
  File& f_;
};

struct Decoded {
  uint32_t crc = 0;
  uint64_t size = 0;
};

// Inflates an entry that carries the engine's chunk table on one worker per core (at most
// kMaxWorkers): each worker takes the next chunk, reads it, inflates it with libdeflate into
// its own buffer, takes its CRC and writes it at its place in the file, so reading, inflating
// and writing all run in parallel. Memory: one input and one output buffer per worker (the
// table's chunk size, at most 64 MiB in all). The calling thread reports progress and passes
// on a stop. Any damage shows as a failed or short chunk.
class ChunkInflater {
 public:
  Decoded run(const File& archive, const CentralEntry& e, uint64_t data_at, const ChunkTable& table, Sink& sink,
              Session& session) {
    const size_t count = table.compressed.size();
    std::vector<uint64_t> starts(count);
    uint64_t at = data_at;
    for (size_t k = 0; k < count; ++k) {
      starts[k] = at;
      at += table.compressed[k];
    }
    std::vector<uint32_t> crcs(count, 0);
    std::atomic<size_t> next{0};
    std::atomic<uint64_t> decoded{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::exception_ptr failure;
    size_t running = 0;

    auto work = [&] {
      std::vector<uint8_t> in, out;
      libdeflate_decompressor* d = libdeflate_alloc_decompressor();
      try {
        if (d == nullptr) throw std::bad_alloc();
        while (!stop.load(std::memory_order_relaxed)) {
          const size_t k = next.fetch_add(1);
          if (k >= count) break;
          const size_t n = table.compressed[k];
          const bool last = k + 1 == count;
          in.resize(n + 2);
          archive.read_at(starts[k], in.data(), n);
          size_t in_size = n;
          if (!last) {  // close the chunk with an empty final block
            in[n] = 0x03;
            in[n + 1] = 0x00;
            in_size = n + 2;
          }
          const uint64_t begin = uint64_t{k} * table.chunk_size;
          const size_t expected = static_cast<size_t>(std::min<uint64_t>(e.uncompressed_size - begin, table.chunk_size));
          out.resize(expected);
          size_t in_used = 0, produced = 0;
          const libdeflate_result r = libdeflate_deflate_decompress_ex(d, in.data(), in_size, out.data(), expected,
                                                                       &in_used, &produced);
          if (r != LIBDEFLATE_SUCCESS || produced != expected || in_used != in_size)
            throw FormatError("compressed data of " + e.text_name + " is damaged (chunk " + std::to_string(k) + ")");
          crcs[k] = static_cast<uint32_t>(libdeflate_crc32(0, out.data(), produced));
          sink.put_at(begin, out.data(), produced);
          decoded.fetch_add(produced);
          changed.notify_one();
        }
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!failure) failure = std::current_exception();
        stop = true;
      }
      if (d != nullptr) libdeflate_free_decompressor(d);
      std::lock_guard<std::mutex> lock(mutex);
      --running;
      changed.notify_one();
    };

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t workers = std::min<size_t>({count, cores, kMaxWorkers,
                                             std::max<size_t>(1, kMemoryLimit / (2 * size_t{table.chunk_size} + 2))});
    std::vector<std::thread> threads;
    running = workers;
    for (size_t i = 0; i < workers; ++i) threads.emplace_back(work);
    struct Joiner {
      std::vector<std::thread>& threads;
      std::atomic<bool>& stop;
      ~Joiner() {
        stop = true;
        for (auto& t : threads)
          if (t.joinable()) t.join();
      }
    } joiner{threads, stop};

    uint64_t reported = 0;
    for (;;) {
      bool finished = false;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(100));
        finished = running == 0;
      }
      const uint64_t now = decoded.load();
      if (now > reported) {
        session.progress(static_cast<int64_t>(now - reported));  // may throw StopRequested
        reported = now;
      } else {
        session.check_abort();
      }
      if (finished) break;
    }
    for (auto& t : threads) t.join();
    if (failure) std::rethrow_exception(failure);

    Decoded result;
    for (size_t k = 0; k < count; ++k) {
      const uint64_t begin = uint64_t{k} * table.chunk_size;
      const uint64_t length = std::min<uint64_t>(e.uncompressed_size - begin, table.chunk_size);
      result.crc = static_cast<uint32_t>(crc32_combine64(result.crc, crcs[k], static_cast<z_off64_t>(length)));
      result.size += length;
    }
    return result;
  }

 private:
  static constexpr size_t kMaxWorkers = 4;
  static constexpr size_t kMemoryLimit = size_t{64} << 20;
};

// Streams one entry's data through the decoder into the sink, reporting progress.
Decoded decode_entry(const File& archive, const CentralEntry& e, uint64_t data_at, Sink& sink, Session& session,
                     std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  Decoded d;
  uint64_t left = e.compressed_size, at = data_at;
  if (e.method == 0) {
    if (e.compressed_size != e.uncompressed_size)
      throw FormatError("stored entry " + e.text_name + " holds " + std::to_string(e.compressed_size) +
                        " bytes but declares " + std::to_string(e.uncompressed_size) + " bytes");
    while (left > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, out.size()));
      archive.read_at(at, out.data(), n);
      d.crc = static_cast<uint32_t>(libdeflate_crc32(d.crc, out.data(), n));
      sink.put(out.data(), n);
      d.size += n;
      at += n;
      left -= n;
      session.progress(static_cast<int64_t>(n));
    }
    return d;
  }
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) throw std::bad_alloc();
  struct Closer {
    z_stream* s;
    ~Closer() { inflateEnd(s); }
  } closer{&s};
  bool ended = false;
  while (!ended) {
    if (s.avail_in == 0) {
      if (left == 0) throw FormatError("compressed data of " + e.text_name + " ends early");
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
      archive.read_at(at, in.data(), n);
      at += n;
      left -= n;
      s.next_in = in.data();
      s.avail_in = static_cast<uInt>(n);
    }
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    const int r = inflate(&s, Z_NO_FLUSH);
    if (r == Z_STREAM_END) ended = true;
    else if (r != Z_OK && r != Z_BUF_ERROR) throw FormatError("compressed data of " + e.text_name + " is damaged (" + (s.msg ? s.msg : "zlib") + ")");
    const size_t produced = out.size() - s.avail_out;
    if (produced > e.uncompressed_size - d.size)  // never write past the declared size
      throw FormatError("data of " + e.text_name + " is longer than its declared size of " +
                        std::to_string(e.uncompressed_size) + " bytes");
    if (produced > 0) {
      d.crc = static_cast<uint32_t>(libdeflate_crc32(d.crc, out.data(), produced));
      sink.put(out.data(), produced);
      d.size += produced;
      session.progress(static_cast<int64_t>(produced));
    } else if (r == Z_BUF_ERROR && s.avail_in != 0) {
      throw FormatError("compressed data of " + e.text_name + " does not decode");
    }
  }
  return d;
}

bool matches(const std::vector<std::string>& specs, const std::string& name) {
  if (specs.empty()) return true;
  std::string n = name;
  for (char& c : n)
    if (c == '\\') c = '/';
  const size_t slash = n.rfind('/');
  const std::string bare = slash == std::string::npos ? n : n.substr(slash + 1);
  for (const std::string& s : specs)
    if (fnmatch(s.c_str(), n.c_str(), 0) == 0 || fnmatch(s.c_str(), bare.c_str(), 0) == 0) return true;
  return false;
}

// Creates the folders of rel below base one by one, never through a symbolic link.
void make_folders(const std::string& base, const std::string& rel) {
  size_t at = 0;
  while (true) {
    const size_t slash = rel.find('/', at);
    if (slash == std::string::npos) return;
    const std::string folder = base + rel.substr(0, slash);
    struct stat st{};
    if (::lstat(folder.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) throw EngineError(ZE_IO_ERROR, ZE_MSG_UNSAFE_NAME, "Not a folder: " + folder);
    } else if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
      throw_io("Cannot create folder", folder, errno);
    }
    at = slash + 1;
  }
}

// Refuses up front when two entries would be written to the same file (the same name in two
// folders, extracted without folders): one would silently replace the other.
void check_no_clash(const std::vector<const CentralEntry*>& selected, bool folders) {
  std::unordered_map<std::string, const CentralEntry*> by_path;
  for (const CentralEntry* e : selected) {
    const std::string rel = safe_entry_path(e->text_name, folders);
    if (rel.empty()) continue;  // refused on its own later
    const auto [it, added] = by_path.emplace(rel, e);
    if (!added)
      throw EngineError(ZE_INVALID, ZE_MSG_UNSAFE_NAME,
                        "Entries " + it->second->text_name + " and " + e->text_name + " would both be extracted to " +
                            rel + (folders ? "" : "; extract with folders kept to keep them apart"));
  }
}

// Refuses up front when the declared sizes cannot fit on the target's file system.
void check_free_space(const std::string& base, uint64_t needed) {
  struct statvfs fs{};
  if (::statvfs(base.c_str(), &fs) != 0) throw_io("Cannot examine", base, errno);
  const uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  uint64_t free_bytes = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(fs.f_bavail), unit, &free_bytes)) free_bytes = UINT64_MAX;
  if (needed > free_bytes)
    throw EngineError(ZE_IO_ERROR, ZE_MSG_IO,
                      "Not enough free space in " + base + ": the entries need " + std::to_string(needed) +
                          " bytes, " + std::to_string(free_bytes) + " bytes are free");
}

void check_command(const ZE_UnzipCommand* cmd) {
  if (cmd == nullptr || cmd->Version != 179 || cmd->Check != 7)
    throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, "Invalid extract command record");
  if (cmd->UseInStream || cmd->UseOutStream || cmd->InStream || cmd->OutStream)
    throw EngineError(ZE_INVALID, ZE_MSG_UNSUPPORTED, "Memory streams are not supported");
  if (cmd->ZipFileName == nullptr || *cmd->ZipFileName == '\0')
    throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, "No archive name given");
  if (cmd->Argc < 0 || (cmd->Argc > 0 && cmd->FSpecs == nullptr))
    throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, "Invalid file specification list");
}

int32_t run_extract(ZE_UnzipCommand* cmd, Session& session) {
  File archive(cmd->ZipFileName, O_RDONLY);
  CentralDirectory dir;
  try {
    dir = read_central_directory(archive);
    check_entries_apart(archive, dir.entries);
  } catch (const FormatError& e) {
    throw EngineError(ZE_INVALID, ZE_MSG_FORMAT, std::string(cmd->ZipFileName) + " is not a valid zip archive: " + e.what());
  }
  std::vector<std::string> specs;
  for (int32_t i = 0; i < cmd->Argc; ++i)
    if (cmd->FSpecs[i].FileSpec && *cmd->FSpecs[i].FileSpec) specs.push_back(cmd->FSpecs[i].FileSpec);
  std::string base = (cmd->ExtractDir && *cmd->ExtractDir) ? cmd->ExtractDir : "./";
  if (base.back() != '/') base += '/';
  const bool test = cmd->Test != 0;
  const bool folders = cmd->Directories != 0;

  std::vector<const CentralEntry*> selected;
  uint64_t total = 0;  // declared; saturates instead of wrapping
  for (const CentralEntry& e : dir.entries) {
    if (e.is_directory() || !matches(specs, e.text_name)) continue;
    selected.push_back(&e);
    if (__builtin_add_overflow(total, e.uncompressed_size, &total)) total = UINT64_MAX;
  }
  if (!test) {
    check_no_clash(selected, folders);
    check_free_space(base, total);
  }
  session.totals(static_cast<int64_t>(selected.size()), static_cast<int64_t>(std::min<uint64_t>(total, INT64_MAX)));

  const mode_t mask = ::umask(0);
  ::umask(mask);
  std::vector<uint8_t> in(kInBuffer), out(kOutBuffer);
  std::unique_ptr<ChunkInflater> chunk_inflater;
  std::unordered_set<std::string> written;  // targets of this run
  OrphanSweeper sweeper;
  int32_t done = 0;
  int32_t failure = 0;  // first failure's result; the call fails when any entry failed
  std::string failure_text;
  auto fail = [&](int32_t result, int32_t code, const std::string& text) {
    session.message(code, text);
    if (failure == 0) failure = result;
  };

  for (size_t index = 0; index < selected.size(); ++index) {
    const CentralEntry& e = *selected[index];
    std::string rel = safe_entry_path(e.text_name, folders);
    if (rel.empty()) {
      session.skipped(e.text_name, ZE_MSG_UNSAFE_NAME, ZE_SKIP_GENERAL);
      fail(ZE_INVALID, ZE_MSG_UNSAFE_NAME, "Entry name gives no safe file name: " + e.text_name);
      continue;
    }
    if (!test) {
      ZE_CallbackRecord r = session.make(ZE_CB_EXTRACT_NAME);
      r.MsgP = rel.c_str();
      if (session.call(r) == -1) {
        const char* reply = ZE_ReplyBuffer(&r);
        const std::string changed = safe_entry_path(std::string(reply, strnlen(reply, 512)), folders);
        if (!changed.empty()) rel = changed;
      }
    }
    if (e.is_encrypted()) {
      session.skipped(e.text_name, ZE_MSG_UNSUPPORTED, ZE_SKIP_NO_ENCRYPTION);
      fail(ZE_INVALID, ZE_MSG_UNSUPPORTED, "Encrypted entries are not supported: " + e.text_name);
      continue;
    }
    if (e.method != 0 && e.method != 8) {
      session.skipped(e.text_name, ZE_MSG_UNSUPPORTED, ZE_SKIP_COMPRESSION_UNKNOWN);
      fail(ZE_INVALID, ZE_MSG_UNSUPPORTED, "Unsupported compression method " + std::to_string(e.method) + ": " + e.text_name);
      continue;
    }
    const bool unix_host = (e.made_by >> 8) == 3;
    const uint32_t unix_mode = unix_host ? (e.external_attr >> 16) : 0;
    if (unix_host && S_ISLNK(unix_mode)) {
      session.skipped(e.text_name, ZE_MSG_UNSUPPORTED, ZE_SKIP_GENERAL);
      fail(ZE_INVALID, ZE_MSG_UNSUPPORTED, "Symbolic links are not extracted: " + e.text_name);
      continue;
    }
    const std::time_t mtime = e.has_unix_time ? static_cast<std::time_t>(e.unix_mtime) : unix_time_from_dos(e.dos_time);
    const std::string target = base + rel;
    if (!test && !written.insert(target).second) {
      fail(ZE_INVALID, ZE_MSG_UNSAFE_NAME, "Entry " + e.text_name + " would replace " + target + ", written by this extract already");
      continue;
    }
    struct stat existing{};
    const bool exists = !test && ::lstat(target.c_str(), &existing) == 0;
    if (!test) {
      if ((cmd->Freshen && !exists) || ((cmd->Freshen || cmd->Update) && exists && existing.st_mtime >= mtime)) {
        session.skipped(e.text_name, 0, ZE_SKIP_ON_FRESHEN);
        continue;
      }
      if (exists && S_ISDIR(existing.st_mode)) {
        fail(ZE_IO_ERROR, ZE_MSG_IO, "A folder is in the way of " + target);
        continue;
      }
      if (exists && !cmd->Overwrite) {
        ZE_CallbackRecord r = session.make(ZE_CB_OVERWRITE);
        r.Arg1 = 0;  // not suggested: overwriting was not requested
        r.MsgP = rel.c_str();
        r.Arg2 = static_cast<int32_t>(index);
        r.Arg3 = existing.st_mtime < mtime ? 1 : 2;
        if (session.call(r) == -2) {
          session.skipped(e.text_name, 0, ZE_SKIP_NO_OVERWRITE);
          continue;
        }
      }
    }

    session.new_file(e.text_name, static_cast<int64_t>(e.uncompressed_size));
    const uint64_t data_at = local_data_offset(archive, e);
    const unsigned mode = ((unix_mode & 07777) ? (unix_mode & 0777) : 0666) & ~mask;
    TempFile temp;  // removed unless published
    NullSink null_sink;
    std::unique_ptr<FileSink> file_sink;
    if (!test) {
      if (folders) make_folders(base, rel);
      sweeper.sweep(target);  // what a killed extraction of this file left
      temp = TempFile(target, mode);
      file_sink = std::make_unique<FileSink>(temp.file());
    }
    Sink& sink = test ? static_cast<Sink&>(null_sink) : *file_sink;
    Decoded d;
    try {
      const std::optional<ChunkTable> table =
          e.method == 8 ? find_chunk_table(e.extra, e.compressed_size, e.uncompressed_size) : std::nullopt;
      if (table) {
        if (!chunk_inflater) chunk_inflater = std::make_unique<ChunkInflater>();
        d = chunk_inflater->run(archive, e, data_at, *table, sink, session);
      } else {
        d = decode_entry(archive, e, data_at, sink, session, in, out);
      }
    } catch (const FormatError& fe) {
      fail(ZE_INVALID, ZE_MSG_FORMAT, fe.what());
      continue;
    }
    if (d.size != e.uncompressed_size || d.crc != e.crc) {
      ZE_CallbackRecord r = session.make(ZE_CB_CRC_ERROR);
      r.MsgP = e.text_name.c_str();
      r.Arg1 = static_cast<int32_t>(d.crc);
      r.Arg2 = static_cast<int32_t>(e.crc);
      const bool keep = session.call(r) == -1 && d.size == e.uncompressed_size;
      if (!keep) {
        std::string text;
        if (d.size != e.uncompressed_size) {
          text = "Size mismatch in " + e.text_name + " (found " + std::to_string(d.size) + " bytes, expected " +
                 std::to_string(e.uncompressed_size) + " bytes)";
        } else {
          char crcs[64];
          std::snprintf(crcs, sizeof crcs, " (found CRC %08X, expected %08X)", d.crc, e.crc);
          text = "CRC error in " + e.text_name + crcs;
        }
        fail(ZE_INVALID, ZE_MSG_CRC, text);
        continue;
      }
    }
    if (!test) {
      const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
      ::futimens(temp.file().fd(), times);
      temp.publish();
    }
    ++done;
  }
  session.end_of_batch();
  if (failure != 0) return failure;
  return done;
}

}  // namespace

}  // namespace orv::zip::engine

extern "C" __attribute__((visibility("default"))) int32_t ZE_UnzExec(ZE_UnzipCommand* command) {
  using namespace orv::zip::engine;
  return guarded_call(command ? command->Caller : nullptr, command ? command->Callback : nullptr, false,
                      [&](Session& s) {
                        check_command(command);
                        return run_extract(command, s);
                      });
}
