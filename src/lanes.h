// Four 32-bit integers in one 128-bit vector. Plain C++ arithmetic and comparisons on them
// compile to one vector instruction each wherever the target has such vectors (SSE2, which every
// x86-64 has, or NEON), and to scalar code elsewhere.
#ifndef MAXMEDIAN_LANES_H_
#define MAXMEDIAN_LANES_H_

#include <cstdint>

namespace maxmedian {

inline constexpr int kLanes = 4;
using Lanes = int32_t __attribute__((vector_size(sizeof(int32_t) * kLanes)));

// Lane by lane, the smaller of `a` and `b`, without a branch: one instruction where the target
// has a vector minimum (SSE4.1), a comparison and a selection otherwise. Written this way, the
// compiler recognizes it in either case.
inline Lanes Min(Lanes a, Lanes b) { return a < b ? a : b; }

// Lane by lane, the larger of `a` and `b`.
inline Lanes Max(Lanes a, Lanes b) { return a < b ? b : a; }

}  // namespace maxmedian

#endif  // MAXMEDIAN_LANES_H_
