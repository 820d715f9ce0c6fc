// ruvanta-cli with allocations that fail on purpose, for the tests: with
// RUVANTA_FAIL_ALLOCATION=N in its environment the N-th allocation of at least
// 256 KiB made through operator new fails (std::bad_alloc, or null from a nothrow
// new), as on a machine out of memory. The address-space caps of the tests cannot
// be used under AddressSanitizer, which maps terabytes of shadow memory; this
// reaches every large allocation site in turn in either build.
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "cli/cli_app.h"
#include "tests/support/failing_new.h"

namespace {
constexpr std::size_t kLarge = std::size_t(256) << 10;
std::atomic<long> g_large{0};
}  // namespace

bool FailsAllocation(std::size_t n) {
  if (n < kLarge) return false;
  static const long at = [] {
    const char* v = std::getenv("RUVANTA_FAIL_ALLOCATION");
    return v ? std::atol(v) : 0L;
  }();
  return at > 0 && g_large.fetch_add(1) + 1 == at;
}

int main(int argc, char** argv) { return RunCli(argc, argv, stdout, stderr); }
