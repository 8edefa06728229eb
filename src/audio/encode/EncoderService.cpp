#include "audio/encode/EncoderService.h"

#include <pthread.h>

namespace velloran::audio {

EncoderService& EncoderService::Instance() {
  // Never destroyed: encoders may post until the very end of the process.
  static EncoderService* service = new EncoderService();
  return *service;
}

void EncoderService::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    EnsureThread();
  }
  cv_.notify_one();
}

void EncoderService::SetPeriodic(std::function<void()> task, std::chrono::milliseconds interval) {
  {
    std::lock_guard lock(mutex_);
    periodic_ = std::move(task);
    interval_ = interval;
    EnsureThread();
  }
  cv_.notify_one();
}

void EncoderService::EnsureThread() {
  if (!started_) {
    started_ = true;
    std::thread([this] { Run(); }).detach();
  }
}

void EncoderService::Run() {
  pthread_setname_np(pthread_self(), "enc-service");
  std::unique_lock lock(mutex_);
  auto nextPeriodic = std::chrono::steady_clock::now() + interval_;
  for (;;) {
    cv_.wait_until(lock, nextPeriodic, [this] { return !tasks_.empty(); });
    while (!tasks_.empty()) {
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      task = nullptr;  // release what it captured outside the lock
      lock.lock();
    }
    if (std::chrono::steady_clock::now() >= nextPeriodic) {
      nextPeriodic = std::chrono::steady_clock::now() + interval_;
      std::function<void()> periodic = periodic_;
      if (periodic) {
        lock.unlock();
        periodic();
        periodic = nullptr;
        lock.lock();
      }
    }
  }
}

}  // namespace velloran::audio
