// What the machine can give a load: the memory the kernel reports available and
// this process's address-space limit when one is set (ulimit -v). No engine, no
// Qt: the load and batch policies weigh these against the engine's bytes a pixel
// and the decoder's needs (imaging/decode_memory.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct MemoryFigures {
  std::optional<std::uint64_t> available;          // MemAvailable of /proc/meminfo
  std::optional<std::uint64_t> addressSpaceLimit;  // RLIMIT_AS, unless unlimited
  std::optional<std::uint64_t> addressSpaceUsed;   // VmSize of /proc/self/status
  // The most new allocations can take: the available memory, or less when the
  // address-space limit leaves less room above what is mapped already (all of
  // the limit when that is unknown). Nothing when neither figure is known.
  std::optional<std::uint64_t> Room() const;
};

// The figures now; each one that cannot be read is left empty.
MemoryFigures ReadMemoryFigures();

// The value of the line "key: N kB" (or "key: N", bytes) of /proc/meminfo or
// /proc/self/status text, in bytes; nothing when the line is missing, malformed or
// beyond 64 bits.
std::optional<std::uint64_t> ProcBytes(const std::string& text, const std::string& key);

// A size as messages show it: "640 KB", "1.5 MB", "3.1 GB" (powers of 1024, one
// decimal below 10, none above).
std::string MemoryText(std::uint64_t bytes);
