#include "support/TmpfsMount.h"

#include <sys/mount.h>

namespace velloran::test {

TmpfsMount::TmpfsMount(const std::string& sizeOption) {
  const std::string options = "size=" + sizeOption;
  mounted_ = ::mount("tmpfs", dir_.Path().c_str(), "tmpfs", 0, options.c_str()) == 0;
}

TmpfsMount::~TmpfsMount() {
  if (mounted_) {
    ::umount2(dir_.Path().c_str(), MNT_DETACH);
  }
}

}  // namespace velloran::test
