#pragma once
// A device list whose numbers stay stable across refreshes: a known device keeps its number, a
// new one is appended, one that has gone stays listed as absent. So a number taken earlier never
// names another device. Entries replaced by a refresh are retired, not freed, so that texts
// handed out earlier stay valid for the life of the process.
// Thread contract: any thread; one internal mutex guards the list (never held while enumerating).
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace velloran::audio {

template <class Device>
class StableDeviceList {
 public:
  using List = std::vector<std::unique_ptr<Device>>;

  // Merges a fresh enumeration. same(a, b) tells whether two entries are one device;
  // markGone(d) turns a copy of a device that has gone into its absent entry.
  template <class Same, class MarkGone>
  void Merge(List fresh, Same same, MarkGone markGone) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<bool> seen(current_.size(), false);
    for (auto& d : fresh) {
      size_t n = 0;
      while (n < current_.size() && !same(*current_[n], *d)) {
        ++n;
      }
      if (n == current_.size()) {
        current_.push_back(std::move(d));
        seen.push_back(true);
      } else {
        retired_.push_back(std::move(current_[n]));
        current_[n] = std::move(d);
        seen[n] = true;
      }
    }
    for (size_t n = 0; n < seen.size(); ++n) {
      if (!seen[n] && current_[n]->present) {
        auto gone = std::make_unique<Device>(*current_[n]);
        gone->present = false;
        markGone(*gone);
        retired_.push_back(std::move(current_[n]));
        current_[n] = std::move(gone);
      }
    }
    taken_ = true;
  }

  // Entry n (nullptr past the end); the first call enumerates through refresh().
  template <class Refresh>
  const Device* Get(size_t n, Refresh refresh) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (taken_) {
        return n < current_.size() ? current_[n].get() : nullptr;
      }
    }
    refresh();
    std::lock_guard<std::mutex> lock(mutex_);
    return n < current_.size() ? current_[n].get() : nullptr;
  }

  size_t Size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_.size();
  }

 private:
  std::mutex mutex_;
  bool taken_ = false;
  List current_;
  List retired_;
};

}  // namespace velloran::audio
