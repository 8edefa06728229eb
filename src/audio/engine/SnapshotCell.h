#pragma once
// An immutable snapshot read by one real-time thread and replaced by control threads
// (copy-on-write). The reader neither locks nor allocates nor frees; a writer publishes a new
// snapshot and, before freeing the old one, waits until the reader's current pass is over. So
// when Publish returns, no pass can still see anything that only the old snapshot held.
// A Publish from inside a pass on the reading thread (e.g. a DSP removing itself) cannot wait
// for its own pass; it parks the old snapshot, freed by a later Publish or the destructor.
//
// Thread contract: Enter/Leave by one thread at a time (callers serialise their passes);
// Publish from any thread, callers serialise their Publish calls with their own mutex.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace velloran::audio::engine {

template <class T>
class SnapshotCell {
 public:
  explicit SnapshotCell(std::unique_ptr<T> initial) : current_(initial.release()) {}
  ~SnapshotCell() { delete current_.load(); }
  SnapshotCell(const SnapshotCell&) = delete;
  SnapshotCell& operator=(const SnapshotCell&) = delete;

  // Reader: begins a pass and returns the snapshot valid for it.
  const T* Enter() noexcept {
    passes_.fetch_add(1, std::memory_order_seq_cst);  // odd: inside a pass
    tInside = this;
    return current_.load(std::memory_order_seq_cst);
  }
  void Leave() noexcept {
    tInside = nullptr;
    passes_.fetch_add(1, std::memory_order_seq_cst);  // even: outside
  }

  // Writer: the snapshot now current (valid while the caller's mutex keeps writers out).
  const T* Current() const noexcept { return current_.load(std::memory_order_seq_cst); }

  void Publish(std::unique_ptr<T> next) {
    std::unique_ptr<T> old(current_.exchange(next.release(), std::memory_order_seq_cst));
    if (tInside == this) {
      parked_.push_back(std::move(old));  // our own pass still runs on it
      return;
    }
    const uint64_t seen = passes_.load(std::memory_order_seq_cst);
    if ((seen & 1) != 0) {
      while (passes_.load(std::memory_order_seq_cst) == seen) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    }
    parked_.clear();
  }

 private:
  static inline thread_local const void* tInside = nullptr;
  std::atomic<T*> current_;
  std::atomic<uint64_t> passes_{0};
  std::vector<std::unique_ptr<T>> parked_;
};

}  // namespace velloran::audio::engine
