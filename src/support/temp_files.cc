#include "support/temp_files.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lowtags {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "the handler reads the flags");
static_assert(std::atomic<const TempFiles*>::is_always_lock_free, "the handler reads the table");

// The one piece of program-wide state: a signal handler has no other way to reach the table.
// Set by InstallSignalHandlers before any handler can run, and cleared before the table, which
// belongs to main, goes.
std::atomic<const TempFiles*> handler_files{nullptr};

constexpr int kCleanedSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

extern "C" void RemoveTempsAndDie(int sig) {
  const int saved = errno;
  if (const TempFiles* files = handler_files.load(); files != nullptr) files->RemoveAllFiles();
  // SA_RESETHAND gave the signal back its default action; it is blocked in here and ends the
  // program as soon as the handler returns, so that the shell sees the signal.
  (void)::raise(sig);
  errno = saved;
}

}  // namespace

bool TempFiles::Add(int folder, const std::string& name) {
  if (name.size() >= NAME_MAX + 1) return false;
  for (Slot& slot : slots_) {
    if (slot.used.load(std::memory_order_acquire)) continue;
    slot.folder = folder;
    std::memcpy(slot.name.data(), name.c_str(), name.size() + 1);
    slot.used.store(true, std::memory_order_release);
    return true;
  }
  return false;
}

void TempFiles::Remove(int folder, const std::string& name) {
  for (Slot& slot : slots_) {
    if (slot.used.load(std::memory_order_acquire) && slot.folder == folder &&
        name == slot.name.data()) {
      slot.used.store(false, std::memory_order_release);
      return;
    }
  }
}

void TempFiles::RemoveAllFiles() const {
  for (const Slot& slot : slots_) {
    if (slot.used.load(std::memory_order_acquire))
      (void)::unlinkat(slot.folder, slot.name.data(), 0);
  }
}

void InstallSignalHandlers(TempFiles* files) {
  handler_files.store(files);
  struct sigaction action {};
  action.sa_handler = RemoveTempsAndDie;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int sig : kCleanedSignals) sigaddset(&action.sa_mask, sig);
  for (const int sig : kCleanedSignals) {
    struct sigaction old {};
    // A signal the caller chose to ignore (nohup, a background job) stays ignored.
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    (void)::sigaction(sig, &action, nullptr);
  }
  (void)::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace lowtags
