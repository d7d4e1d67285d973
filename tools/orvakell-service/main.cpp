// orvakell-service: runs the weekly backup schedule of an installation without a window — the
// same scheduler, backup run, archive step and disc step as the window (src/service/).
//
//   orvakell-service            runs until SIGTERM or SIGINT
//   orvakell-service --help
//
// The installation's state (Velmora.db, the locks) is in ORVAKELL_HOME, else beside the
// program; a missing settings database is made from the shipped copy beside the program or in
// ../share/orvakell. The server registration (server.ini), the recorder options (ORVAKELL.ini),
// the run log and service.ini (OnFailure=) are in the configuration folder.
//
// Boxes, outcomes and progress go to standard error (the journal under systemd) and the run
// log. SIGTERM/SIGINT: a run in progress ends after the statement in progress, whose file is
// removed (the previous backup stays); a statement still running 10 s after the signal is
// cancelled through the provider; a disc write is cancelled; then the program ends with
// status 0 (well within systemd's stop time-out). SIGHUP: server.ini and ORVAKELL.ini are read again.
// Exit status: 0 after a stop, 1 when the program cannot start.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "core/clock.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "service/failure_notice.h"
#include "service/service_host.h"
#include "settings/store/settings_store.h"

namespace {

namespace fs = std::filesystem;
using namespace orv;

std::atomic<bool> g_stop{false};
std::atomic<bool> g_reload{false};
std::atomic<int> g_signal{0};
int g_wake[2] = {-1, -1};

extern "C" void OnSignal(int sig) {
  const int saved = errno;
  if (sig == SIGHUP) {
    g_reload = true;
  } else {
    g_stop = true;
    g_signal = sig;
  }
  const char c = 1;
  (void)!::write(g_wake[1], &c, 1);
  errno = saved;
}

bool InstallSignals() {
  if (::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    if (::sigaction(sig, &sa, nullptr) != 0) return false;
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}

// Waits until `ms` have passed or a signal came; drains the wake pipe.
void Wait(int ms) {
  pollfd p{g_wake[0], POLLIN, 0};
  if (::poll(&p, 1, ms) > 0) {
    char buf[64];
    while (::read(g_wake[0], buf, sizeof buf) > 0) {
    }
  }
}

fs::path ProgramFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : exe.parent_path();
}

// Makes <state>/Velmora.db from the shipped copy when missing: written beside, then renamed.
void EnsureSettingsDatabase(const fs::path& state, const fs::path& program) {
  const fs::path target = settings::settings_database_path(state);
  std::error_code ec;
  if (fs::exists(target, ec)) return;
  for (const fs::path& shipped : {program / "Velmora.db", program / ".." / "share" / "orvakell" / "Velmora.db"}) {
    if (!fs::is_regular_file(shipped, ec) || fs::equivalent(shipped, target, ec)) continue;
    fs::create_directories(state, ec);
    const fs::path part = state / ".Velmora.db.part";
    fs::copy_file(shipped, part, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(part, target, ec);
    if (ec) {
      std::cerr << "orvakell-service: cannot make " << target << " from " << shipped << ": " << ec.message() << "\n";
      fs::remove(part, ec);
    } else {
      std::cerr << "orvakell-service: made " << target.string() << " from " << shipped.string() << "\n";
    }
    return;
  }
}

// How long a stop waits for the statement in progress before cancelling it.
constexpr auto kStopGrace = std::chrono::seconds(10);

// Milliseconds until the next tick: one second past the start of the next minute.
int UntilNextTick() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto next = time_point_cast<minutes>(now) + minutes(1) + seconds(1);
  return static_cast<int>(duration_cast<milliseconds>(next - now).count()) + 1;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << "usage: orvakell-service\n"
                   "Runs the weekly backup schedule of the installation until SIGTERM or SIGINT;\n"
                   "SIGHUP rereads server.ini and ORVAKELL.ini. See orvakell-schedule status.\n";
      return 0;
    }
    std::cerr << "orvakell-service: unknown argument " << a << "\n";
    return 64;
  }
  if (!InstallSignals()) {
    std::cerr << "orvakell-service: cannot install signal handlers: " << std::strerror(errno) << "\n";
    return 1;
  }
  const fs::path state = platform::installation_folder();
  const fs::path program = ProgramFolder();
  EnsureSettingsDatabase(state, program);

  ui::SystemClock clock;
  service::ServiceHost::Options options;
  options.installation_folder = state;
  options.zip_engine_folder = program.string();
  options.clock = &clock;
  options.stop = &g_stop;
  options.err = &std::cerr;
  options.notice = service::ReadFailureNoticeConfig(service::ServiceConfigPath());
  service::ServiceHost host(std::move(options));
  host.dialogs().Note("started", "installation " + state.string() + ", pid " + std::to_string(::getpid()));

  // The stop watcher: once a stop is asked for, a statement still running after kStopGrace is
  // cancelled through the provider (the main thread is then inside that statement).
  std::atomic<bool> loop_done{false};
  std::thread watcher([&host, &loop_done] {
    using namespace std::chrono;
    while (!g_stop && !loop_done) std::this_thread::sleep_for(milliseconds(100));
    const auto deadline = steady_clock::now() + kStopGrace;
    while (!loop_done && steady_clock::now() < deadline) std::this_thread::sleep_for(milliseconds(100));
    if (!loop_done && !host.CancelStatement())
      std::cerr << "orvakell-service: the server cannot cancel the statement in progress; waiting for its end\n";
  });
  struct Join {
    std::atomic<bool>& done;
    std::thread& t;
    ~Join() {
      done = true;
      t.join();
    }
  } join_watcher{loop_done, watcher};

  // One scheduler per installation: a window that runs the schedule holds the lock; the service
  // takes over when it closes.
  std::unique_ptr<platform::InstanceLock> scheduler;
  bool waiting_noted = false;
  while (!g_stop) {
    scheduler = std::make_unique<platform::InstanceLock>(platform::scheduler_lock_file());
    if (scheduler->state() != platform::InstanceLock::State::HeldElsewhere) break;
    if (!waiting_noted)
      host.dialogs().Note("waiting", "a window runs the schedule of this installation; the service takes over when it closes");
    waiting_noted = true;
    scheduler.reset();
    Wait(5000);
  }
  if (scheduler && scheduler->state() == platform::InstanceLock::State::Unavailable)
    host.dialogs().ErrorOnce("scheduler lock", scheduler->error());
  if (scheduler && scheduler->state() == platform::InstanceLock::State::Acquired) {
    const std::string failed = scheduler->SetOwner("service " + std::to_string(::getpid()));
    if (!failed.empty()) host.dialogs().ErrorOnce("scheduler lock", failed);
  }

  auto next_tick = std::chrono::steady_clock::now();
  while (!g_stop) {
    if (g_reload.exchange(false)) host.Reload();
    host.RunPosted();
    if (std::chrono::steady_clock::now() >= next_tick) {
      host.Tick();
      next_tick = std::chrono::steady_clock::now() + std::chrono::milliseconds(UntilNextTick());
    }
    if (g_stop) break;
    if (host.DiscBusy()) host.DiscTimer();
    const int until = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           next_tick - std::chrono::steady_clock::now())
                                           .count());
    Wait(host.DiscBusy() ? std::min(until, 1000) : std::max(1, std::min(until, 5000)));
  }
  host.StopDisc();
  loop_done = true;
  host.dialogs().Note("ended", std::string("signal ") + ::strsignal(g_signal.load()) + ": the service ends");
  return 0;
}
