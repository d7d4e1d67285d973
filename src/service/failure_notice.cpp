#include "service/failure_notice.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/paths.h"
#include "platform/profile.h"

namespace orv::service {

namespace {

std::string SystemText(int e) { return std::strerror(e); }

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

}  // namespace

FailureNotice::~FailureNotice() {
  // Commands still running go on alone; they were started in their own process group.
}

void FailureNotice::Start(const std::vector<std::string>& lines) {
  if (config_.command.empty()) return;
  // The lines go through an unlinked temporary file, so a command that never reads its input
  // cannot block the service on a full pipe.
  char name[] = "/tmp/orvakell-notice-XXXXXX";
  const int in = ::mkstemp(name);
  if (in < 0) {
    note_("notice failed", "OnFailure: cannot make its input file: " + SystemText(errno));
    return;
  }
  ::unlink(name);
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(in, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      note_("notice failed", "OnFailure: cannot write its input file: " + SystemText(errno));
      ::close(in);
      return;
    }
    done += static_cast<std::size_t>(n);
  }
  ::lseek(in, 0, SEEK_SET);
  const pid_t pid = ::fork();
  if (pid < 0) {
    note_("notice failed", "OnFailure: cannot start \"" + config_.command + "\": " + SystemText(errno));
    ::close(in);
    return;
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    ::dup2(in, STDIN_FILENO);
    ::close(in);
    ::execl("/bin/sh", "sh", "-c", config_.command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::setpgid(pid, pid);
  ::close(in);
  children_.push_back(Child{pid, std::chrono::steady_clock::now()});
}

void FailureNotice::Poll() {
  const auto now = std::chrono::steady_clock::now();
  for (auto it = children_.begin(); it != children_.end();) {
    int status = 0;
    const pid_t r = ::waitpid(it->pid, &status, WNOHANG);
    if (r == it->pid) {
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        note_("notice failed", "OnFailure \"" + config_.command + "\" failed: " + ExitText(status));
      it = children_.erase(it);
      continue;
    }
    if (r < 0) {
      note_("notice failed", "OnFailure: cannot wait for it: " + SystemText(errno));
      it = children_.erase(it);
      continue;
    }
    if (now - it->started >= config_.limit) {
      ::kill(-it->pid, SIGKILL);
      ::waitpid(it->pid, &status, 0);
      note_("notice failed", "OnFailure \"" + config_.command + "\" ran past " +
                                 std::to_string(config_.limit.count()) + " s and was ended");
      it = children_.erase(it);
      continue;
    }
    ++it;
  }
}

void FailureNotice::WaitAll() {
  while (!children_.empty()) {
    Poll();
    if (!children_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::filesystem::path ServiceConfigPath() { return platform::config_folder() / "service.ini"; }

FailureNotice::Config ReadFailureNoticeConfig(const std::filesystem::path& file) {
  FailureNotice::Config c;
  platform::ProfileFile profile(file);
  c.command = profile.read_string("Service", "OnFailure", "");
  return c;
}

}  // namespace orv::service
