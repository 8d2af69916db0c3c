// Which instruction-set extensions the vector paths may use: detected once at start, and
// lowerable by tests, so that every path can be checked against the portable one on one machine.
#ifndef MAXMEDIAN_CPU_H_
#define MAXMEDIAN_CPU_H_

namespace maxmedian {

// Levels in increasing order; each includes the ones below it.
enum class CpuLevel {
  kPortable,  // what every target has (SSE2 on x86-64)
  kSse41,     // SSE4.1 and SSSE3: 32-bit vector minimum and maximum, byte alignment
  kAvx2,      // AVX2: eight 32-bit lanes; with BMI1 and POPCNT, as every AVX2 processor has
  kAvx512,    // AVX-512 with byte masks, byte permutes and compression (BW, VL, VBMI, VBMI2), BMI2
};

// The highest level this CPU supports.
CpuLevel SupportedCpuLevel();

// The level the vector paths use: SupportedCpuLevel() unless UseCpuLevel lowered it.
CpuLevel ActiveCpuLevel();

// Makes the vector paths use `level`, or SupportedCpuLevel() if that is lower, and returns the
// level now in use.
CpuLevel UseCpuLevel(CpuLevel level);

}  // namespace maxmedian

#endif  // MAXMEDIAN_CPU_H_
