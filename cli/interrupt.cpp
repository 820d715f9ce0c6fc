// The SIGINT handler stores into a lock-free atomic (async-signal-safe) and relies
// on SA_RESETHAND for the default action to come back at the moment it runs.
#include "cli/interrupt.h"

#include <signal.h>

#include <atomic>
#include <mutex>

namespace {
std::atomic<bool> g_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler needs a lock-free flag");

std::mutex g_mutex;
int g_scopes = 0;                // guarded by g_mutex
struct sigaction g_previous {};  // guarded by g_mutex

extern "C" void OnInterrupt(int) { g_requested.store(true); }
}  // namespace

InterruptScope::InterruptScope() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_scopes++ > 0) return;
  g_requested.store(false);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // SA_RESTART: a write under way when the signal comes goes on instead of
  // failing with EINTR, so the result and the output lines are written whole.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, &g_previous);
}

InterruptScope::~InterruptScope() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (--g_scopes > 0) return;
  sigaction(SIGINT, &g_previous, nullptr);
}

bool InterruptRequested() { return g_requested.load(); }
