#include "core/DiskSpace.h"

#include <sys/statfs.h>
#include <sys/statvfs.h>

#include <array>
#include <filesystem>

namespace velloran {

namespace {

bool IsNetworkFileSystem(const struct statfs& info) {
  // f_type magic numbers of the kernel's network file systems (linux/magic.h and the file
  // systems' own headers).
  constexpr std::array<uint64_t, 9> kNetwork = {
      0x6969,      // NFS
      0x517B,      // SMB
      0xFF534D42,  // CIFS
      0xFE534D42,  // SMB2
      0x5346414F,  // AFS
      0x6B414653,  // kAFS
      0x00C36400,  // Ceph
      0x01021997,  // 9P
      0x564C,      // NCP
  };
  const auto type = static_cast<uint64_t>(static_cast<uint32_t>(info.f_type));
  for (const uint64_t magic : kNetwork) {
    if (type == magic) {
      return true;
    }
  }
  return false;
}

}  // namespace

int64_t FreeBytesAvailable(const std::string& folder) {
  std::filesystem::path path(folder);
  if (!path.is_absolute()) {
    return -1;
  }
  std::error_code error;
  while (!std::filesystem::exists(path, error)) {
    if (!path.has_relative_path()) {
      return -1;
    }
    path = path.parent_path();
  }
  struct statfs fsInfo {};
  if (statfs(path.c_str(), &fsInfo) != 0 || IsNetworkFileSystem(fsInfo)) {
    return -1;
  }
  struct statvfs info {};
  if (statvfs(path.c_str(), &info) != 0) {
    return -1;
  }
  return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

}  // namespace velloran
