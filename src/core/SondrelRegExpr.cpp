#define PCRE2_CODE_UNIT_WIDTH 8
#include "core/SondrelRegExpr.h"

#include <pcre2.h>

namespace velloran {

namespace {

// Bounds for one match, so that a pathological pattern fails instead of running away.
constexpr uint32_t kMatchLimit = 10000000;
constexpr uint32_t kDepthLimit = 100000;
// A pattern cache larger than this is emptied before adding (callers use a handful).
constexpr size_t kMaxCachedPatterns = 64;

}  // namespace

struct TSondrelRegExpr::Compiled {
  pcre2_code* code = nullptr;  // nullptr: the pattern does not compile
  ~Compiled() { pcre2_code_free(code); }
};

TSondrelRegExpr::TSondrelRegExpr() = default;
TSondrelRegExpr::~TSondrelRegExpr() = default;

const TSondrelRegExpr::Compiled* TSondrelRegExpr::Compile(const std::string& pattern) {
  auto it = cache_.find(pattern);
  if (it != cache_.end()) {
    return it->second.get();
  }
  if (cache_.size() >= kMaxCachedPatterns) {
    cache_.clear();
  }
  auto compiled = std::make_unique<Compiled>();
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  compiled->code =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                    PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY, &errorCode, &errorOffset, nullptr);
  return cache_.emplace(pattern, std::move(compiled)).first->second.get();
}

bool TSondrelRegExpr::Matches(const std::string& pattern) {
  expression_ = pattern;
  groupText_.clear();
  groupPos_.clear();
  subExprMatchCount_ = -1;
  const Compiled* compiled = Compile(pattern);
  if (compiled->code == nullptr) {
    return false;
  }
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(compiled->code, nullptr);
  pcre2_match_context* context = pcre2_match_context_create(nullptr);
  if (data == nullptr || context == nullptr) {
    pcre2_match_data_free(data);
    pcre2_match_context_free(context);
    return false;
  }
  pcre2_set_match_limit(context, kMatchLimit);
  pcre2_set_depth_limit(context, kDepthLimit);
  const int rc = pcre2_match(compiled->code, reinterpret_cast<PCRE2_SPTR>(input_.data()),
                             input_.size(), 0, 0, data, context);
  if (rc > 0) {
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    const uint32_t pairs = pcre2_get_ovector_count(data);
    groupText_.resize(pairs);
    groupPos_.resize(pairs, -1);
    for (uint32_t g = 0; g < pairs; ++g) {
      const PCRE2_SIZE start = ovector[2 * g];
      const PCRE2_SIZE end = ovector[2 * g + 1];
      // \K in a lookahead can report end before start; such a group reads as empty.
      if (start != PCRE2_UNSET && end != PCRE2_UNSET && start <= input_.size()) {
        groupPos_[g] = static_cast<int>(start);
        if (end > start && end <= input_.size()) {
          groupText_[g] = input_.substr(start, end - start);
        }
      }
    }
    subExprMatchCount_ = rc - 1;
  }
  pcre2_match_data_free(data);
  pcre2_match_context_free(context);
  return rc > 0;
}

bool TSondrelRegExpr::Matches(const std::string& pattern, const std::string& input) {
  input_ = input;
  return Matches(pattern);
}

std::string TSondrelRegExpr::Match(int group) const {
  if (group < 0 || static_cast<size_t>(group) >= groupText_.size()) {
    return std::string();
  }
  return groupText_[static_cast<size_t>(group)];
}

int TSondrelRegExpr::MatchPos(int group) const {
  if (group < 0 || static_cast<size_t>(group) >= groupPos_.size()) {
    return -1;
  }
  return groupPos_[static_cast<size_t>(group)];
}

int TSondrelRegExpr::SubExprMatchCount() const {
  return subExprMatchCount_;
}

}  // namespace velloran
