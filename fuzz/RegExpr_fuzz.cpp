// Fuzzes TSondrelRegExpr with random patterns and inputs: a match or no match, never a crash;
// the groups of a match are parts of the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/SondrelRegExpr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string pattern = provider.ConsumeRandomLengthString(256);
  const std::string input = provider.ConsumeRemainingBytesAsString();
  velloran::TSondrelRegExpr re;
  if (re.Matches(pattern, input)) {
    const int count = re.SubExprMatchCount();
    if (count < 0) {
      std::abort();
    }
    for (int g = 0; g <= count + 1; ++g) {
      const std::string group = re.Match(g);
      const int pos = re.MatchPos(g);
      if (!group.empty() &&
          (pos < 0 || input.compare(static_cast<size_t>(pos), group.size(), group) != 0)) {
        std::abort();
      }
    }
  } else if (re.SubExprMatchCount() != -1 || !re.Match(0).empty()) {
    std::abort();
  }
  // The same object with the cached pattern on the input set beforehand.
  re.SetInputString(input);
  re.Matches(pattern);
  return 0;
}
