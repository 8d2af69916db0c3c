// libFuzzer target: the whole case loop on arbitrary bytes. Besides the sanitizers' checks, it
// holds the run to what the program promises whatever the input: a known exit status, a message
// exactly when the input is bad, and answer lines that are integers no lower than -1.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // Small reads put token boundaries everywhere; the read size comes from the input itself.
  const size_t chunk = size == 0 ? 1 : 1 + data[0] % 7 + (data[0] & 0x80 ? 1 << 16 : 0);
  maxmedian::StringSource source(input, chunk);
  maxmedian::StringSink sink;
  const maxmedian::RunResult result = maxmedian::RunCases(source, sink);
  if (result.status != maxmedian::kExitOk && result.status != maxmedian::kExitBadInput) abort();
  if ((result.status == maxmedian::kExitBadInput) != !result.message.empty()) abort();
  if (result.message.find('\n') != std::string::npos) abort();
  size_t line_start = 0;
  for (size_t i = 0; i < sink.text.size(); ++i) {
    if (sink.text[i] != '\n') continue;
    const std::string line = sink.text.substr(line_start, i - line_start);
    if (line.empty() || std::stoll(line) < -1 || std::to_string(std::stoll(line)) != line) abort();
    line_start = i + 1;
  }
  if (line_start != sink.text.size()) abort();
  return 0;
}
