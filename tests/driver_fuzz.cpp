// libFuzzer target: the whole case loop on arbitrary bytes. Besides the sanitizers' checks, it
// holds the run to what the program promises whatever the input: a known exit status, a message
// exactly when the input is bad, and, when the input is good, exactly the answers of a plain
// implementation (std::sort, std::priority_queue) that shares no code with the program. The
// converter to one case per line must fail as the run does, and its output must be answered as
// the input is.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <queue>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert.h"
#include "cpu.h"
#include "driver.h"

namespace {

// The answers of well-formed `input`, one line each.
std::string PlainAnswers(std::string_view input) {
  std::vector<int64_t> numbers;
  std::string token;
  for (size_t i = 0; i <= input.size(); ++i) {
    const char ch = i < input.size() ? input[i] : ' ';
    if (ch == ' ' || (ch >= '\t' && ch <= '\r')) {
      if (!token.empty()) numbers.push_back(std::strtoll(token.c_str(), nullptr, 10));
      token.clear();
    } else {
      token += ch;
    }
  }
  std::string out;
  for (size_t next = 0; next < numbers.size();) {
    const int64_t N = numbers[next], C = numbers[next + 1], F = numbers[next + 2];
    std::vector<std::pair<int64_t, int64_t>> a;
    for (int64_t i = 0; i < C; ++i)
      a.emplace_back(numbers[next + 3 + 2 * i], numbers[next + 4 + 2 * i]);
    next += 3 + 2 * static_cast<size_t>(C);
    const int64_t h = N / 2;
    int64_t answer = -1;
    if (h >= 0 && 2 * h + 1 <= C) {
      std::sort(a.begin(), a.end());
      // below[k], above[k]: least sum of h costs before and after position k (from 0).
      std::vector<int64_t> below(C), above(C);
      for (int pass = 0; pass < 2; ++pass) {
        std::priority_queue<int64_t> q;
        int64_t sum = 0;
        for (int64_t j = 0; j < C; ++j) {
          const int64_t k = pass == 0 ? j : C - 1 - j;
          (pass == 0 ? below : above)[k] = sum;
          q.push(a[k].second);
          sum += a[k].second;
          if (static_cast<int64_t>(q.size()) > h) {
            sum -= q.top();
            q.pop();
          }
        }
      }
      for (int64_t k = h; k < C - h; ++k) {
        if (a[k].second + below[k] + above[k] <= F) answer = std::max(answer, a[k].first);
      }
    }
    out += std::to_string(answer) + "\n";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // Small reads put token boundaries everywhere; the read size comes from the input itself, and
  // so does the CPU level whose vector paths run (those this machine has).
  const size_t chunk = size == 0 ? 1 : 1 + data[0] % 7 + (data[0] & 0x80 ? 1 << 16 : 0);
  maxmedian::UseCpuLevel(static_cast<maxmedian::CpuLevel>(size < 2 ? 2 : data[1] % 3));
  maxmedian::StringSource source(input, chunk);
  maxmedian::StringSink sink;
  const maxmedian::RunResult result = maxmedian::RunCases(source, sink);
  if (result.status != maxmedian::kExitOk && result.status != maxmedian::kExitBadInput) abort();
  if ((result.status == maxmedian::kExitBadInput) != !result.message.empty()) abort();
  if (result.message.view().find('\n') != std::string_view::npos) abort();
  if (result.status == maxmedian::kExitOk && sink.text != PlainAnswers(input)) abort();
  // Whatever the input, what was written is whole answer lines, none below -1.
  size_t line_start = 0;
  for (size_t i = 0; i < sink.text.size(); ++i) {
    if (sink.text[i] != '\n') continue;
    const std::string line = sink.text.substr(line_start, i - line_start);
    if (line.empty() || std::stoll(line) < -1 || std::to_string(std::stoll(line)) != line) abort();
    line_start = i + 1;
  }
  if (line_start != sink.text.size()) abort();

  maxmedian::StringSource again(input, chunk);
  maxmedian::StringSink lines;
  const maxmedian::RunResult converted = maxmedian::ConvertCases(again, lines);
  if (converted.status != result.status || converted.message.view() != result.message.view()) {
    abort();
  }
  maxmedian::StringSource from_lines(lines.text);
  maxmedian::StringSink answers;
  if (maxmedian::RunCases(from_lines, answers).status != maxmedian::kExitOk) abort();
  if (answers.text != sink.text) abort();
  return 0;
}
