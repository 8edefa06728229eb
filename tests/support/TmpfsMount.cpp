#include "support/TmpfsMount.h"

#include <sys/mount.h>

namespace velloran::test {

TmpfsMount::TmpfsMount(const std::string& sizeOption) : options_("size=" + sizeOption) {
  mounted_ = ::mount("tmpfs", dir_.Path().c_str(), "tmpfs", 0, options_.c_str()) == 0;
}

bool TmpfsMount::SetReadOnly(bool readOnly) {
  unsigned long flags = MS_REMOUNT;
  if (readOnly) {
    flags |= MS_RDONLY;
  }
  return mounted_ && ::mount("tmpfs", dir_.Path().c_str(), "tmpfs", flags, options_.c_str()) == 0;
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) {
    ::umount2(dir_.Path().c_str(), MNT_DETACH);
  }
}

}  // namespace velloran::test
