// The zip engine library's binary interface: the command records the operation driver fills,
// the callback record the library fills, and the six entry points of libZipEngine179.so.
//
// The records keep the field order the operation driver and other callers of the library use; every field that holds an
// address (texts, arrays, the caller value, the callback) has the native pointer width, every
// other field is 32 bits, and the compiler's natural alignment applies. The 64-bit offsets are
// pinned by static_asserts below and listed in docs/zip.md. Fields named reserved* are zero.
//
// Ownership: the driver owns the command records, their texts and arrays for the duration of
// one call; the library owns the callback record. Threading: the library calls back on the
// thread that called ZE_ZipExec/ZE_UnzExec; ZE_Abort may be called from any thread.
// Results: 0 or more is the number of files processed; negative values are the failures below.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct ZE_CallbackRecord;

// Called by the library with the caller value of the command record. A non-zero result asks the
// library to stop (1 = cancel, 10106 = an event handler failed).
typedef int32_t (*ZE_CallbackFn)(void* caller, ZE_CallbackRecord* record);

// Add command record.
struct ZE_ZipCommand {
  void* Handle;             // application window handle (unused on Linux, 0)
  void* Caller;             // handed back in every callback
  int32_t Version;          // 179
  ZE_CallbackFn Callback;
  int32_t Trace;
  const char* Password;     // null: no password
  const char* Suffix;       // store-only extensions ".gif:.png:..."; null: none
  int32_t Encrypt;
  int32_t SystemHidden;     // include hidden files
  int32_t Volume;
  int32_t Extra;            // 0
  int32_t NoDirEntries;     // true: no folder-only entries
  int32_t FromDate;         // only files at or after Date
  int32_t Verbose;
  int32_t Quiet;            // -1
  int32_t Level;            // 0 store .. 9 best
  int32_t reserved64;
  int32_t CRLF_LF;          // 0
  int32_t JunkDir;          // true: entries under their bare names
  int32_t Recurse;
  int32_t reserved80;
  int32_t Force;            // true when AddSafe is not set
  int32_t ForceDOS;
  int32_t Move;
  int32_t DeleteEntries;    // 0
  int32_t Update;
  int32_t Freshen;
  int32_t JunkSFX;          // 0
  int32_t LatestTime;       // archive time := newest entry
  uint32_t Date;            // MS-DOS packed date (high 16) and time (low 16)
  int32_t Argc;             // number of file specifications
  const char* ZipFileName;
  const char* TempPath;     // null: the archive's folder
  const char* Comment;      // archive comment; null: none
  int32_t ArchiveOnly;
  int32_t ResetArchive;
  struct ZE_ZipFileSpec* FSpecs;
  int32_t reserved148;
  int32_t ExclCount;
  const char* const* Excludes;
  // Memory streams, zero on every road of the tool; the library refuses them.
  int32_t UseOutStream;
  void* OutStream;
  int64_t OutStreamSize;
  int32_t UseInStream;
  void* InStream;
  int64_t InStreamSize;
  uint32_t StrFileAttr;
  uint32_t StrFileDate;
  int32_t HowToMove;        // true: moved files go to the trash (unused: no AddMove)
  int32_t CodePage;         // 2: names in the OEM code page; 0: as given
  int32_t reserved200;
  int32_t Version2;         // 179
  const char* RootDir;      // base folder for relative specifications; null: current folder
  int32_t reserved212;
  int32_t reserved216;
  int32_t Check;            // 7
};

// One file specification of an add (64 bytes in the 32-bit layout).
struct ZE_ZipFileSpec {
  const char* FileSpec;     // file, folder or pattern; null: empty line
  int32_t reserved4;
  int32_t reserved8;
  const char* Password;
  int32_t Encrypt;          // 0xFFFF or 0
  int32_t Recurse;          // 0xFFFF or 0
  int32_t reserved24;
  int32_t reserved28;
  int32_t reserved32;
  int32_t NoRecurseFiles;   // 0
  int32_t reserved40[6];
};

// Extract command record.
struct ZE_UnzipCommand {
  void* Handle;             // 0 when unattended
  void* Caller;
  int32_t Version;          // 179
  ZE_CallbackFn Callback;
  int32_t Trace;
  int32_t reserved20;
  int32_t reserved24;
  const char* Password;     // empty text when none
  int32_t Test;             // check every entry, write nothing
  int32_t reserved36;
  int32_t reserved40;
  int32_t Quiet;            // -1
  int32_t Verbose;
  int32_t Update;
  int32_t Freshen;
  int32_t Directories;      // recreate stored folders below ExtractDir
  int32_t Overwrite;
  int32_t Argc;             // 0: every entry
  const char* ZipFileName;
  struct ZE_UnzipFileSpec* FSpecs;
  int32_t reserved80;
  // Memory streams, zero on every road of the tool; the library refuses them.
  int32_t UseInStream;
  void* InStream;
  int64_t InStreamSize;
  int32_t UseOutStream;
  void* OutStream;
  int64_t OutStreamSize;
  int32_t PasswordRequestCount;
  const char* ExtractDir;   // target folder ending with '/'; null: the current folder
  int32_t reserved116[8];
  int32_t Check;            // 7
};

// One file specification of an extract (32 bytes in the 32-bit layout).
struct ZE_UnzipFileSpec {
  const char* FileSpec;     // entry name or pattern
  int32_t reserved4[7];
};

// The callback record. Reply fields are written by the driver before it returns.
struct ZE_CallbackRecord {
  void* Caller;
  int32_t Version;
  int32_t IsOperationZip;   // non-zero during an add
  int32_t ActionCode;       // in: kind in the low 6 bits; out: -1, -2, -3 or unchanged
  int32_t Arg1;             // count, error code, message number, length or handle
  const char* MsgP;         // name or message text
  int64_t FileSize;         // size or increment
  int64_t Written;          // bytes written so far (add)
  const char* Msg2P;        // second text, or reply pointer
  int32_t Arg2;
  int32_t Arg3;
  char ReplyRoom[1024];     // text replies start at FileSize and may run on into this room
};

// Callback kinds.
// Text replies (new names, passwords, comments) are written from FileSize onwards.
inline char* ZE_ReplyBuffer(ZE_CallbackRecord* record) {
  return reinterpret_cast<char*>(&record->FileSize);
}
inline constexpr std::size_t ZE_REPLY_CAPACITY = 1024;

enum ZE_CallbackKind : int32_t {
  ZE_CB_TICK = 0,
  ZE_CB_NEW_FILE = 1,
  ZE_CB_PROGRESS = 2,
  ZE_CB_END_OF_BATCH = 3,
  ZE_CB_MESSAGE = 4,
  ZE_CB_TOTAL_FILES = 5,
  ZE_CB_TOTAL_SIZE = 6,
  ZE_CB_NEW_NAME = 7,
  ZE_CB_PASSWORD = 8,
  ZE_CB_CRC_ERROR = 9,
  ZE_CB_OVERWRITE = 10,
  ZE_CB_SKIPPED = 11,
  ZE_CB_COMMENT = 12,
  ZE_CB_STREAM = 13,
  ZE_CB_EXTRA_DATA = 14,
  ZE_CB_NEW_EXTRA = 15,
  ZE_CB_EXTRA_PROGRESS = 16,
  ZE_CB_EXTRACT_NAME = 17,
  ZE_CB_ABORT_HANDLE = 18,
};

// Negative results of ZE_ZipExec / ZE_UnzExec.
enum ZE_Result : int32_t {
  ZE_USER_CANCELLED = -1,    // the callback asked to stop
  ZE_ABORTED = -2,           // ZE_Abort was called
  ZE_HANDLER_FAULT = -3,     // the callback reported a failed event handler (10106)
  ZE_NO_MEMORY = -4,
  ZE_INVALID = -5,           // bad command record, damaged archive, CRC mismatch
  ZE_IO_ERROR = -6,          // a file could not be read or written (text sent as kind 4 first)
  ZE_NOTHING_DONE = -8,      // no file matched the specifications / no entry selected
};

// Codes of kind-4 messages (Arg1); the driver keeps their low byte.
enum ZE_MessageCode : int32_t {
  ZE_MSG_WARNING = 1,
  ZE_MSG_IO = 2,
  ZE_MSG_FORMAT = 3,
  ZE_MSG_CRC = 4,
  ZE_MSG_UNSAFE_NAME = 5,
  ZE_MSG_UNSUPPORTED = 6,
  ZE_MSG_NOT_FOUND = 7,
};

// Skip types sent in Arg2 of kind 11 (the archiver's UnZipSkipTypes plus 1).
enum ZE_SkipType : int32_t {
  ZE_SKIP_ON_FRESHEN = 1,
  ZE_SKIP_NO_OVERWRITE = 2,
  ZE_SKIP_FILE_EXISTS = 3,
  ZE_SKIP_BAD_PASSWORD = 4,
  ZE_SKIP_NO_ENCRYPTION = 5,
  ZE_SKIP_COMPRESSION_UNKNOWN = 6,
  ZE_SKIP_UNKNOWN_HOST = 7,
  ZE_SKIP_FORMAT_WRONG = 8,
  ZE_SKIP_GENERAL = 9,
};

// Entry points, looked up with dlsym in this order.
int32_t ZE_UnzExec(ZE_UnzipCommand* command);
int32_t ZE_ZipExec(ZE_ZipCommand* command);
int32_t ZE_Version(void);
int32_t ZE_PrivVersion(void);
int32_t ZE_Abort(int32_t handle);
const char* ZE_Path(void);

typedef int32_t (*ZE_UnzExecFn)(ZE_UnzipCommand*);
typedef int32_t (*ZE_ZipExecFn)(ZE_ZipCommand*);
typedef int32_t (*ZE_VersionFn)(void);
typedef int32_t (*ZE_AbortFn)(int32_t);
typedef const char* (*ZE_PathFn)(void);

}  // extern "C"

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(ZE_ZipCommand) == 304 && offsetof(ZE_ZipCommand, Version) == 16 &&
              offsetof(ZE_ZipCommand, Level) == 88 && offsetof(ZE_ZipCommand, Argc) == 148 &&
              offsetof(ZE_ZipCommand, ZipFileName) == 152 && offsetof(ZE_ZipCommand, FSpecs) == 184 &&
              offsetof(ZE_ZipCommand, Excludes) == 200 && offsetof(ZE_ZipCommand, HowToMove) == 264 &&
              offsetof(ZE_ZipCommand, RootDir) == 280 && offsetof(ZE_ZipCommand, Check) == 296,
              "64-bit add command record layout (docs/zip.md)");
static_assert(sizeof(ZE_ZipFileSpec) == 72 && offsetof(ZE_ZipFileSpec, Password) == 16 &&
              offsetof(ZE_ZipFileSpec, Encrypt) == 24 && offsetof(ZE_ZipFileSpec, Recurse) == 28,
              "64-bit add file specification layout");
static_assert(sizeof(ZE_UnzipCommand) == 216 && offsetof(ZE_UnzipCommand, Password) == 48 &&
              offsetof(ZE_UnzipCommand, Argc) == 92 && offsetof(ZE_UnzipCommand, ZipFileName) == 96 &&
              offsetof(ZE_UnzipCommand, FSpecs) == 104 && offsetof(ZE_UnzipCommand, ExtractDir) == 168 &&
              offsetof(ZE_UnzipCommand, Check) == 208,
              "64-bit extract command record layout (docs/zip.md)");
static_assert(sizeof(ZE_UnzipFileSpec) == 40, "64-bit extract file specification layout");
static_assert(offsetof(ZE_CallbackRecord, ActionCode) == 16 && offsetof(ZE_CallbackRecord, MsgP) == 24 &&
              offsetof(ZE_CallbackRecord, FileSize) == 32 && offsetof(ZE_CallbackRecord, Msg2P) == 48 &&
              offsetof(ZE_CallbackRecord, Arg3) == 60 && sizeof(ZE_CallbackRecord) == 1088,
              "64-bit callback record layout (docs/zip.md)");
#endif
