#pragma once
// Builds resamplers off the real-time thread. A pull thread that needs a resampler at a new
// ratio places an order; a process-wide worker thread creates it (soxr allocates) and hands it
// back; resamplers no longer used are handed to the worker to be freed. The pull thread only
// touches atomics.
//
// Thread contract: Register/ServePending from a control thread (take the factory's mutexes). An
// Order is used by exactly one pull thread (Place/TryTake/Retire, lock-free, no allocation) and the
// worker.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/engine/Resampler.h"

namespace velloran::audio::engine {

class ResamplerFactory {
 public:
  class Order {
   public:
    ~Order();
    // Pull thread: asks for a constant-rate resampler; false while an order is open.
    bool Place(double inRate, double outRate, unsigned channels) noexcept;
    bool Open() const noexcept { return state_.load(std::memory_order_acquire) != kIdle; }
    // Pull thread: the finished resampler, or nullptr when not ready yet (or it failed).
    std::unique_ptr<Resampler> TryTake() noexcept;
    // Pull thread: hands a resampler over to be freed; false when the previous one is still
    // waiting (keep it and try again later).
    bool Retire(std::unique_ptr<Resampler>& resampler) noexcept;

   private:
    friend class ResamplerFactory;
    enum : int { kIdle = 0, kWanted = 1, kReady = 2 };
    void Serve();  // worker
    std::atomic<int> state_{kIdle};
    double inRate_ = 0;
    double outRate_ = 0;
    unsigned channels_ = 0;
    Resampler* ready_ = nullptr;
    std::atomic<Resampler*> retired_{nullptr};
  };

  static ResamplerFactory& Instance();
  ~ResamplerFactory();
  // Control thread: the worker serves this order from now on, until its last owner lets go.
  void Register(const std::shared_ptr<Order>& order);
  // Serves every open order now on the calling thread (a control thread). Tests that run audio
  // time faster than the clock call it after each pull, so that an order is served at once.
  void ServePending();

 private:
  ResamplerFactory() = default;
  void Run();

  std::vector<std::shared_ptr<Order>> LiveOrders();  // under mutex_

  std::mutex mutex_;
  std::mutex serveMutex_;  // one thread serves orders at a time
  std::condition_variable wake_;
  bool stop_ = false;
  std::vector<std::weak_ptr<Order>> orders_;
  std::thread worker_;
};

}  // namespace velloran::audio::engine
