// What the machine can give: the /proc lines read in bytes (and refused when they
// are not what they should be), the room left under an address-space limit, the
// figures of this process under a real limit, and sizes as messages show them.
#include "session/system_memory.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

const char kMeminfo[] =
    "MemTotal:       24683676 kB\n"
    "MemFree:         1183336 kB\n"
    "MemAvailable:   23667828 kB\n"
    "Buffers:          418256 kB\n"
    "HugePages_Total:       7\n"
    "Hugepagesize:       2048 kB\n";

TEST(ProcBytes, ReadsTheLineOfItsKeyInBytes) {
  EXPECT_EQ(ProcBytes(kMeminfo, "MemAvailable"), 23667828ull * 1024);
  EXPECT_EQ(ProcBytes(kMeminfo, "MemTotal"), 24683676ull * 1024);
  EXPECT_EQ(ProcBytes(kMeminfo, "HugePages_Total"), 7u);  // a count, no unit
  // The key is a whole key at the start of a line.
  EXPECT_EQ(ProcBytes(kMeminfo, "Mem"), std::nullopt);
  EXPECT_EQ(ProcBytes(kMeminfo, "Available"), std::nullopt);
  EXPECT_EQ(ProcBytes(kMeminfo, "Hugepages"), std::nullopt);
  EXPECT_EQ(ProcBytes("Name:\truvanta\nVmPeak:\t  312000 kB\nVmSize:\t  311104 kB\r\n", "VmSize"),
            311104ull * 1024);
  // A kernel before 3.14 has no MemAvailable line; the last line may lack its end.
  EXPECT_EQ(ProcBytes("MemTotal: 100 kB\nMemFree: 50 kB\n", "MemAvailable"), std::nullopt);
  EXPECT_EQ(ProcBytes("MemAvailable: 12 kB", "MemAvailable"), 12u * 1024);
}

TEST(ProcBytes, RefusesWhatIsNotANumberOfBytes) {
  for (const char* text : {"MemAvailable:\n", "MemAvailable: kB\n", "MemAvailable: -5 kB\n",
                           "MemAvailable: 12 MB\n", "MemAvailable: 12 kB extra\n",
                           "MemAvailable: 18446744073709551616\n",  // 2^64
                           "MemAvailable: 18014398509481984 kB\n",  // 2^54 kB = 2^64 bytes
                           ""})
    EXPECT_EQ(ProcBytes(text, "MemAvailable"), std::nullopt) << text;
  EXPECT_EQ(ProcBytes("MemAvailable: 18446744073709551615\n", "MemAvailable"),
            18446744073709551615ull);
}

TEST(MemoryFigures, RoomIsTheLeastOfWhatIsAvailableAndWhatTheLimitLeaves) {
  MemoryFigures f;
  EXPECT_EQ(f.Room(), std::nullopt);
  f.available = 8000;
  EXPECT_EQ(f.Room(), 8000u);
  f.addressSpaceLimit = 10000;
  EXPECT_EQ(f.Room(), 8000u);  // VmSize unknown: all of the limit
  f.addressSpaceUsed = 3000;
  EXPECT_EQ(f.Room(), 7000u);
  f.addressSpaceUsed = 12000;  // mapped beyond the limit already
  EXPECT_EQ(f.Room(), 0u);
  f.available.reset();
  f.addressSpaceUsed = 2500;
  EXPECT_EQ(f.Room(), 7500u);
}

TEST(MemoryFigures, ThisProcessUnderAnAddressSpaceLimit) {
  const MemoryFigures now = ReadMemoryFigures();
  ASSERT_TRUE(now.available.has_value()) << "no MemAvailable in /proc/meminfo";
  ASSERT_TRUE(now.addressSpaceUsed.has_value());
  EXPECT_GT(*now.available, 0u);
  EXPECT_GT(*now.addressSpaceUsed, 0u);
  // ulimit -v in a child: the limit is seen and bounds the room.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlim_t cap = rlim_t(*now.addressSpaceUsed) + (rlim_t(64) << 20);
    const rlimit limit = {cap, RLIM_INFINITY};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
    const MemoryFigures f = ReadMemoryFigures();
    const bool seen = f.addressSpaceLimit == std::uint64_t(cap) && f.Room().has_value() &&
                      *f.Room() <= (std::uint64_t(64) << 20);
    ::_exit(seen ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the limit was not seen, or did not bound the room";
}

TEST(MemoryText, SizesAsMessagesShowThem) {
  EXPECT_EQ(MemoryText(0), "0 bytes");
  EXPECT_EQ(MemoryText(1023), "1023 bytes");
  EXPECT_EQ(MemoryText(1024), "1.0 KB");
  EXPECT_EQ(MemoryText(1536), "1.5 KB");
  EXPECT_EQ(MemoryText(10 * 1024), "10 KB");
  EXPECT_EQ(MemoryText((1024 * 1024) - 1), "1.0 MB");  // never "1024 KB"
  EXPECT_EQ(MemoryText(3328599654ull), "3.1 GB");
  EXPECT_EQ(MemoryText(16384ull * 2441 * 170), "6.3 GB");
  EXPECT_EQ(MemoryText(40ull << 30), "40 GB");
}

}  // namespace
