// Which vector instructions the processor has, read once at start-up, and which of them the
// program uses: the most it has, unless a test asks for less to check the other paths.
#include "cpu.h"

#include <algorithm>

namespace maxmedian {
namespace {

CpuLevel Detect() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();  // may run before main, as part of static initialization
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
      __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("avx2") &&
      __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt")) {
    return CpuLevel::kAvx512;
  }
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("sse4.1") &&
      __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt")) {
    return CpuLevel::kAvx2;
  }
  if (__builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3")) return CpuLevel::kSse41;
#endif
  return CpuLevel::kPortable;
}

const CpuLevel supported = Detect();
CpuLevel active = supported;

}  // namespace

CpuLevel SupportedCpuLevel() { return supported; }

CpuLevel ActiveCpuLevel() { return active; }

CpuLevel UseCpuLevel(CpuLevel level) {
  active = std::min(level, supported);
  return active;
}

}  // namespace maxmedian
