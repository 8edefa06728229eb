#pragma once
// TSondrelRegExpr: the regular expressions of stream-title parsing, web routes and remote
// commands. PCRE2 in byte mode, compiled with DOTALL and DOLLAR_ENDONLY: "." also matches line
// breaks, "^" and "$" match only at the start and the very end of the whole input, matching is
// case-sensitive. Any byte sequence is a valid input. A pattern that does not compile never
// matches. Compiled patterns are cached per object.
// After a successful match the groups stay readable (Match(1) ...) until the next match.
// Thread contract: one object per thread (no internal lock); different objects are independent.
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velloran {

class TSondrelRegExpr {
 public:
  TSondrelRegExpr();
  ~TSondrelRegExpr();
  TSondrelRegExpr(const TSondrelRegExpr&) = delete;
  TSondrelRegExpr& operator=(const TSondrelRegExpr&) = delete;

  void SetInputString(const std::string& input) { input_ = input; }
  const std::string& InputString() const { return input_; }
  // The pattern of the last Matches call.
  const std::string& Expression() const { return expression_; }

  // Makes pattern the current expression and runs it against the current input string.
  bool Matches(const std::string& pattern);
  // Makes pattern the current expression and input the current input, and runs it.
  bool Matches(const std::string& pattern, const std::string& input);

  // Text of a group after a successful match (0 = the whole match); "" for a group that did
  // not take part, an unknown group, or after a failed match.
  std::string Match(int group) const;
  // Byte offset of a group in the input, -1 when it has no match.
  int MatchPos(int group) const;
  // Highest group number that matched (0: only the whole expression); -1 after a failed match.
  int SubExprMatchCount() const;

 private:
  struct Compiled;
  const Compiled* Compile(const std::string& pattern);

  std::string input_;
  std::string expression_;
  std::map<std::string, std::unique_ptr<Compiled>> cache_;
  // Copies of the groups of the last successful match (independent of later input changes)
  // and their byte offsets (-1 when a group did not take part).
  std::vector<std::string> groupText_;
  std::vector<int> groupPos_;
  int subExprMatchCount_ = -1;
};

}  // namespace velloran
