#pragma once
// A small real file system of a given size for one test (a tmpfs on a temporary folder), to see
// how code behaves when a disk fills up or runs short of space. Mounting needs root (or a user
// namespace that allows it): Mounted() tells, and the test skips itself otherwise. Unmounted
// (lazily) when the object goes.
// Thread contract: one owning thread.
#include <string>

#include "support/TempDir.h"

namespace velloran::test {

class TmpfsMount {
 public:
  // sizeOption as tmpfs takes it, e.g. "1m", "1100m".
  explicit TmpfsMount(const std::string& sizeOption);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool Mounted() const { return mounted_; }
  std::string File(const std::string& name) const { return dir_.File(name); }
  // Remounts the file system read-only or writable again (what a failing disk or an operator
  // does under a running recorder); true on success.
  bool SetReadOnly(bool readOnly);

 private:
  TempDir dir_;
  std::string options_;
  bool mounted_ = false;
};

}  // namespace velloran::test
