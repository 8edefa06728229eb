#pragma once
// The process-wide locks of stream input and outgoing streaming: the stream-status lock guards
// every slot's stream status text; the connect lock lets only one URL connection attempt run at
// a time in the whole process (a slow server delays the other stream slots' attempts); the cast
// lock lets only one slot at a time log in to a streaming server.
// Thread contract: any thread. None of them is taken while a slot's fCS or another of them is
// held.
#include <mutex>

namespace velloran::slots {

std::mutex& StreamStatusLock();
std::mutex& StreamConnectLock();
std::mutex& StreamCastLock();

}  // namespace velloran::slots
