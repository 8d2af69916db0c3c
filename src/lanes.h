// Four 32-bit integers in one 128-bit vector. Plain C++ arithmetic and comparisons on them
// compile to one vector instruction each wherever the target has such vectors (SSE2, which every
// x86-64 has, or NEON), and to scalar code elsewhere.
#ifndef MAXMEDIAN_LANES_H_
#define MAXMEDIAN_LANES_H_

#include <cstdint>

namespace maxmedian {

inline constexpr int kLanes = 4;
using Lanes = int32_t __attribute__((vector_size(sizeof(int32_t) * kLanes)));

// Lane by lane, the smaller of `a` and `b`. A comparison gives all ones in the lanes where it
// holds, so the selection needs no branch.
inline Lanes Min(Lanes a, Lanes b) {
  const Lanes a_smaller = a < b;
  return (a & a_smaller) | (b & ~a_smaller);
}

// Lane by lane, the larger of `a` and `b`.
inline Lanes Max(Lanes a, Lanes b) { return Min(a, b) ^ a ^ b; }

}  // namespace maxmedian

#endif  // MAXMEDIAN_LANES_H_
