#include "core/TrimBlanks.h"

namespace velloran {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) {
    ++begin;
  }
  while (end > begin && IsBlank(text[end - 1])) {
    --end;
  }
  return text.substr(begin, end - begin);
}

}  // namespace velloran
