#include "audio/engine/ResamplerFactory.h"

#include <chrono>

namespace velloran::audio::engine {

namespace {
constexpr auto kPoll = std::chrono::milliseconds(10);  // orders are not urgent
}

ResamplerFactory::Order::~Order() {
  delete ready_;
  delete retired_.load();
}

bool ResamplerFactory::Order::Place(double inRate, double outRate, unsigned channels) noexcept {
  if (state_.load(std::memory_order_acquire) != kIdle) {
    return false;
  }
  inRate_ = inRate;
  outRate_ = outRate;
  channels_ = channels;
  state_.store(kWanted, std::memory_order_release);
  return true;
}

std::unique_ptr<Resampler> ResamplerFactory::Order::TryTake() noexcept {
  if (state_.load(std::memory_order_acquire) != kReady) {
    return nullptr;
  }
  std::unique_ptr<Resampler> taken(ready_);
  ready_ = nullptr;
  state_.store(kIdle, std::memory_order_release);
  return taken;
}

bool ResamplerFactory::Order::Retire(std::unique_ptr<Resampler>& resampler) noexcept {
  Resampler* expected = nullptr;
  if (!retired_.compare_exchange_strong(expected, resampler.get(), std::memory_order_acq_rel)) {
    return false;
  }
  (void)resampler.release();
  return true;
}

void ResamplerFactory::Order::Serve() {
  delete retired_.exchange(nullptr, std::memory_order_acq_rel);
  if (state_.load(std::memory_order_acquire) == kWanted) {
    ready_ = Resampler::CreateFixed(inRate_, outRate_, channels_).release();
    state_.store(kReady, std::memory_order_release);  // a failure hands back nullptr
  }
}

ResamplerFactory& ResamplerFactory::Instance() {
  static ResamplerFactory factory;
  return factory;
}

ResamplerFactory::~ResamplerFactory() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) {
    worker_.join();
  }
}

void ResamplerFactory::Register(const std::shared_ptr<Order>& order) {
  std::lock_guard lock(mutex_);
  orders_.push_back(order);
  if (!worker_.joinable()) {
    worker_ = std::thread([this] { Run(); });
  }
  wake_.notify_all();
}

std::vector<std::shared_ptr<ResamplerFactory::Order>> ResamplerFactory::LiveOrders() {
  std::vector<std::shared_ptr<Order>> live;
  for (auto it = orders_.begin(); it != orders_.end();) {
    if (auto order = it->lock()) {
      live.push_back(std::move(order));
      ++it;
    } else {
      it = orders_.erase(it);
    }
  }
  return live;
}

void ResamplerFactory::ServePending() {
  std::vector<std::shared_ptr<Order>> live;
  {
    std::lock_guard lock(mutex_);
    live = LiveOrders();
  }
  std::lock_guard serve(serveMutex_);
  for (auto& order : live) {
    order->Serve();
  }
}

void ResamplerFactory::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (orders_.empty()) {
      wake_.wait(lock, [this] { return stop_ || !orders_.empty(); });
      continue;
    }
    std::vector<std::shared_ptr<Order>> live = LiveOrders();
    lock.unlock();
    {
      std::lock_guard serve(serveMutex_);
      for (auto& order : live) {
        order->Serve();
      }
    }
    live.clear();  // an order whose owner is gone is freed here, not under the lock
    lock.lock();
    wake_.wait_for(lock, kPoll, [this] { return stop_; });
  }
}

}  // namespace velloran::audio::engine
