#pragma once
// The two process-wide locks of stream input: the stream-status lock guards every slot's
// stream status text; the connect lock lets only one URL connection attempt run at a time in
// the whole process (a slow server delays the other stream slots' attempts).
// Thread contract: any thread. Neither lock is taken while a slot's fCS or the other lock is
// held.
#include <mutex>

namespace velloran::slots {

std::mutex& StreamStatusLock();
std::mutex& StreamConnectLock();

}  // namespace velloran::slots
