// The write seam: every write of a file that users keep goes through these calls — the backup
// sets of the local server engine (server/backup_format.cpp, the restore in server/engine.cpp),
// the zip archives (zip/engine/zip_writer.cpp through zip/engine/file_io.cpp), the disc images
// (burner/image_writer.cpp), the profile files ORVAKELL.ini and server.ini (platform/profile.cpp)
// and the temporary file and link of the shipped settings database
// (settings/store/make_settings_db.cpp). SQLite writes the settings database itself; those writes
// do not pass here.
//
// Two levels:
//   - POSIX-shaped calls (write, pwrite, copy_file_range, fsync, ftruncate, close, rename, link):
//     same arguments and results as the system calls, errno set on failure. Each call is one
//     counted step of the fault hook below.
//   - write_all / pwrite_all: whole transfers that retry EINTR and short counts; they return 0 or
//     the errno value (a write that makes no progress is EIO).
// Callers turn the errno value into their own error with the system's text (std::strerror or
// std::system_error), as each writer's header says.
//
// Fault hook (for tests): inject_fault(kind, n) makes the n-th counted call from now fail once —
// ENOSPC or EIO, or for write/pwrite/copy_file_range a transfer of half the bytes (a short
// count, which callers must retry). A short fault on a call that moves no data lets the call
// through. The counter is process-wide and atomic; the hook costs one atomic load per call when
// unarmed. Tests walk n over every counted call of a small case (tests/write_fault/).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orv::platform::io {

// --- POSIX-shaped calls; each is one counted step ---
ssize_t write(int fd, const void* data, std::size_t n);
ssize_t pwrite(int fd, const void* data, std::size_t n, off_t offset);
ssize_t copy_file_range(int fd_in, loff_t* off_in, int fd_out, loff_t* off_out, std::size_t n);
int fsync(int fd);
int ftruncate(int fd, off_t size);
// Closes fd in every case (an injected fault is reported after the descriptor is closed).
int close(int fd);
int rename(const char* from, const char* to);
int link(const char* from, const char* to);

// --- Whole transfers: 0 or the errno value ---
[[nodiscard]] int write_all(int fd, const void* data, std::size_t n);
[[nodiscard]] int pwrite_all(int fd, const void* data, std::size_t n, off_t offset);

// --- Fault hook ---
enum class Fault { None, NoSpace, IoError, Short };

// Arms one fault at the n-th counted call from now (n >= 1) and restarts the count;
// Fault::None (or n = 0) disarms and only restarts the count.
void inject_fault(Fault fault, long n);
// Disarms and restarts the count.
inline void clear_fault() { inject_fault(Fault::None, 0); }
// Counted calls since the last inject_fault/clear_fault.
long counted_calls();
// True once the armed fault has been delivered.
bool fault_fired();
// "ENOSPC", "EIO" or "short" (for test names and messages).
const char* fault_name(Fault fault);

}  // namespace orv::platform::io
