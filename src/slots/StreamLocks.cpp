#include "slots/StreamLocks.h"

namespace velloran::slots {

std::mutex& StreamStatusLock() {
  static std::mutex lock;
  return lock;
}

std::mutex& StreamConnectLock() {
  static std::mutex lock;
  return lock;
}

std::mutex& StreamCastLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace velloran::slots
