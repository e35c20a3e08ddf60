// Processor time that this machine's hypervisor gave to other guests
// ("steal", the eighth number of /proc/stat's "cpu" line), for the
// benchmarks: a search that took several times its neighbours' time while
// steal grew was waiting for a processor the machine did not have.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <optional>

namespace vantrel::bench {

// Steal over all processors since boot, in ms (whole clock ticks, 10 ms on
// most kernels); nullopt where the kernel does not tell it.
inline std::optional<double> StolenMs() {
  std::FILE* f = std::fopen("/proc/stat", "r");
  if (f == nullptr) return std::nullopt;
  unsigned long long user, nice, system, idle, iowait, irq, softirq, steal;
  const int read = std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &user, &nice,
                               &system, &idle, &iowait, &irq, &softirq, &steal);
  std::fclose(f);
  const long ticks_per_second = ::sysconf(_SC_CLK_TCK);
  if (read != 8 || ticks_per_second <= 0) return std::nullopt;
  return static_cast<double>(steal) * 1000.0 / static_cast<double>(ticks_per_second);
}

// Steal between two readings; 0 when either is missing.
inline double StolenBetween(std::optional<double> before, std::optional<double> after) {
  return before && after && *after > *before ? *after - *before : 0.0;
}

}  // namespace vantrel::bench
