// Parsing a block of input bytes into 32-bit integers, many tokens at a time. What it makes of a
// block depends on the block's bytes alone: refilling, tokens cut by a read and the places of
// faults are the stream reader's (reader.h), which hands it every block it can.
#ifndef MAXMEDIAN_BLOCK_PARSER_H_
#define MAXMEDIAN_BLOCK_PARSER_H_

#include <cstddef>
#include <cstdint>

#include "cpu.h"

namespace maxmedian {

// Readable bytes a block needs before its first byte, for loads that end with a token.
inline constexpr size_t kBlockLookBehind = 16;
// Readable bytes a block needs after its last byte, for loads that start near its end.
inline constexpr size_t kBlockPadding = 64;

// How far ahead of its reading the parser asks for bytes to be brought into the cache: a copy by
// read() leaves them there, but bytes shown in place come from memory, a page at a time, where
// the processor's own prefetching stops at each page.
inline constexpr ptrdiff_t kBlockPrefetch = 4096;

// What ParseBlock took from a block.
struct BlockParse {
  size_t count;            // how many values it stored
  const char* next;        // where the caller goes on: no token starts before it and runs past it
  const char* last_token;  // where the last value's token starts; null when count is 0
};

// Parses the tokens of [begin, end) into `values`, at most `max` of them, as the stream reader
// reads them: tokens separated by the six white-space bytes (space, \t, \n, \v, \f, \r), each an
// optional '+' or '-' and decimal digits, leading zeros allowed, whose value fits in 32 bits. It
// takes only tokens that white space follows within the block, in order, and stops before the
// first one it does not take, for the caller to judge on its own: anything that is not such a
// token, a token that the block's end cuts, and a token longer than the parser handles at once.
// The vector paths may also leave the block's last few dozen bytes. `begin` must start the input
// or follow white space; kBlockLookBehind bytes before `begin` and kBlockPadding after `end` must
// be readable. Uses the vector level that ActiveCpuLevel() allows. Never fails.
BlockParse ParseBlock(const char* begin, const char* end, int32_t* values, size_t max);

// ParseBlock at `level`, which this CPU must support: for tests and benchmarks.
BlockParse ParseBlockAt(CpuLevel level, const char* begin, const char* end, int32_t* values,
                        size_t max);

#if defined(__x86_64__)
// The first byte at or after `p` that is not white space, 64 bytes a step with AVX2, which the
// CPU must have. Some byte that is not white space must follow `p`, as a NUL after the data does.
const char* SkipSpaceAvx2(const char* p);
#endif

}  // namespace maxmedian

#endif  // MAXMEDIAN_BLOCK_PARSER_H_
