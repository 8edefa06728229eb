#pragma once
// Free space of the file system that holds a folder, for the space rule of the recordings
// clean-up.
// Thread contract: any thread; no state.
#include <cstdint>
#include <string>

namespace velloran {

// Bytes available to this process (not the root reserve) on the file system of folder, or of
// its nearest existing parent when the folder does not exist yet. -1 when that cannot be told:
// a relative path, no existing parent, or a network file system (NFS, SMB/CIFS, AFS, Ceph,
// 9P and the like), whose free space says nothing about this machine's disk.
int64_t FreeBytesAvailable(const std::string& folder);

}  // namespace velloran
