// The library's entry points called as the driver calls them, through dlopen: version and path,
// record checks, the callback sequence, and ZE_Abort from inside a callback.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "zip/engine/ze_api.h"
#include "zip_test_support.h"

namespace {

namespace fs = std::filesystem;
using orv::test::TestEnv;
using orv::test::write_file;

struct Library {
  Library() {
    handle = dlopen((orv::test::bin_dir() / "libZipEngine179.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle, nullptr) << dlerror();
    zip = reinterpret_cast<ZE_ZipExecFn>(dlsym(handle, "ZE_ZipExec"));
    unzip = reinterpret_cast<ZE_UnzExecFn>(dlsym(handle, "ZE_UnzExec"));
    version = reinterpret_cast<ZE_VersionFn>(dlsym(handle, "ZE_Version"));
    abort = reinterpret_cast<ZE_AbortFn>(dlsym(handle, "ZE_Abort"));
    path = reinterpret_cast<ZE_PathFn>(dlsym(handle, "ZE_Path"));
  }
  ~Library() {
    if (handle) dlclose(handle);
  }
  void* handle = nullptr;
  ZE_ZipExecFn zip = nullptr;
  ZE_UnzExecFn unzip = nullptr;
  ZE_VersionFn version = nullptr;
  ZE_AbortFn abort = nullptr;
  ZE_PathFn path = nullptr;
};

struct Recorder {
  std::vector<int> kinds;
  std::vector<std::string> messages;
  int32_t handle = 0;
  ZE_AbortFn abort = nullptr;
  bool abort_on_progress = false;
};

int32_t record_callback(void* caller, ZE_CallbackRecord* r) {
  auto* rec = static_cast<Recorder*>(caller);
  const int kind = r->ActionCode & 63;
  rec->kinds.push_back(kind);
  if (kind == ZE_CB_ABORT_HANDLE) rec->handle = r->Arg1;
  if (kind == ZE_CB_MESSAGE) rec->messages.push_back(r->MsgP ? r->MsgP : "");
  if (kind == ZE_CB_PROGRESS && rec->abort_on_progress) rec->abort(rec->handle);
  return 0;
}

ZE_ZipCommand add_record(Recorder& rec, const char* archive, ZE_ZipFileSpec* specs, int count) {
  ZE_ZipCommand c;
  std::memset(&c, 0, sizeof c);
  c.Caller = &rec;
  c.Version = 179;
  c.Version2 = 179;
  c.Check = 7;
  c.Callback = record_callback;
  c.Level = 9;
  c.JunkDir = -1;
  c.ZipFileName = archive;
  c.FSpecs = specs;
  c.Argc = count;
  return c;
}

TEST(EngineAbi, VersionPathAndRecordChecks) {
  Library lib;
  ASSERT_NE(lib.zip, nullptr);
  EXPECT_EQ(lib.version(), 179);
  EXPECT_NE(std::string(lib.path()).find("libZipEngine179.so"), std::string::npos);
  EXPECT_EQ(lib.zip(nullptr), ZE_INVALID);
  EXPECT_EQ(lib.unzip(nullptr), ZE_INVALID);
  TestEnv env;
  Recorder rec;
  const std::string archive = (env.work() / "a.zip").string();
  ZE_ZipCommand c = add_record(rec, archive.c_str(), nullptr, 0);
  c.Check = 0;
  EXPECT_EQ(lib.zip(&c), ZE_INVALID);
  ASSERT_FALSE(rec.messages.empty());
  EXPECT_EQ(rec.messages.back(), "Invalid add command record");
  EXPECT_EQ(lib.abort(123456), -1) << "no such call";
}

TEST(EngineAbi, AbortFromACallbackStopsTheAddAndLeavesNoArchive) {
  Library lib;
  TestEnv env;
  const fs::path source = env.work() / "big.Dat";
  write_file(source, orv::zip::testing::database_like_bytes(12 << 20));
  Recorder rec;
  rec.abort = lib.abort;
  rec.abort_on_progress = true;
  const std::string archive = (env.work() / "a.zip").string(), spec = source.string();
  ZE_ZipFileSpec fs_spec;
  std::memset(&fs_spec, 0, sizeof fs_spec);
  fs_spec.FileSpec = spec.c_str();
  ZE_ZipCommand c = add_record(rec, archive.c_str(), &fs_spec, 1);
  EXPECT_EQ(lib.zip(&c), ZE_ABORTED);
  ASSERT_FALSE(rec.kinds.empty());
  EXPECT_EQ(rec.kinds.front(), ZE_CB_ABORT_HANDLE) << "the handle comes first";
  EXPECT_NE(rec.handle, 0);
  EXPECT_FALSE(fs::exists(archive));
  EXPECT_EQ(orv::zip::testing::list_folder(env.work()), std::vector<std::string>{"big.Dat"});

  // The same call without the abort: handle, names, totals, new file, progress..., end of batch.
  Recorder plain;
  c.Caller = &plain;
  EXPECT_EQ(lib.zip(&c), 1);
  ASSERT_GE(plain.kinds.size(), 7u);
  EXPECT_EQ(std::vector<int>(plain.kinds.begin(), plain.kinds.begin() + 5),
            (std::vector<int>{ZE_CB_ABORT_HANDLE, ZE_CB_NEW_NAME, ZE_CB_TOTAL_FILES, ZE_CB_TOTAL_SIZE, ZE_CB_NEW_FILE}));
  EXPECT_EQ(plain.kinds.back(), ZE_CB_END_OF_BATCH);
  EXPECT_NE(rec.handle, plain.handle) << "each call has its own handle";
}

}  // namespace
