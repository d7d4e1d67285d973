// The failure notice: a command the operator names (OnFailure= in the service's configuration
// file) runs after every run that had failures, with that run's log lines on its standard input.
// It runs through /bin/sh in the background: the service never waits for it. Poll() (at every
// tick and in the main loop) reaps it, logs a failure exit, and ends a command still running
// after its time limit (60 s), logging that too.
//
// The configuration file: <configuration folder>/service.ini, section [Service]:
//   OnFailure=<shell command>
//
// Ownership: the host owns one. Threading: the host's thread only. Errors: reported through
// the `note` callback with the system's text; nothing is thrown.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orv::service {

class FailureNotice {
 public:
  struct Config {
    std::string command;                        // empty: no notice
    std::chrono::seconds limit{60};
  };
  using Note = std::function<void(const std::string& outcome, const std::string& text)>;

  FailureNotice(Config config, Note note) : config_(std::move(config)), note_(std::move(note)) {}
  ~FailureNotice();
  FailureNotice(const FailureNotice&) = delete;
  FailureNotice& operator=(const FailureNotice&) = delete;

  // Starts the command with these lines on its standard input. A command of an earlier run
  // still running is left to its limit; this one starts beside it.
  void Start(const std::vector<std::string>& lines);
  // Reaps ended commands and ends those past their limit.
  void Poll();
  // Waits (up to the limit) for every command started; for the end of the service and tests.
  void WaitAll();
  std::size_t running() const { return children_.size(); }
  void set_config(Config config) { config_ = std::move(config); }

 private:
  struct Child {
    pid_t pid;
    std::chrono::steady_clock::time_point started;
  };
  Config config_;
  Note note_;
  std::vector<Child> children_;
};

// service.ini of the configuration folder, and the configuration read from it (a missing file
// is no notice).
std::filesystem::path ServiceConfigPath();
FailureNotice::Config ReadFailureNoticeConfig(const std::filesystem::path& file);

}  // namespace orv::service
