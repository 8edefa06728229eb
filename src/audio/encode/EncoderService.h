#pragma once
// The encoders' process-wide service thread: it runs the notification callbacks (so they
// never run on the pull thread or on an encoder's own threads, and may stop the encoder) and a
// periodic house-keeping task (automatic freeing of encoders whose channel is gone).
// The thread starts with the first request and lives until the process ends.
//
// Thread contract: Post and SetPeriodic from any thread except real-time ones (they take the
// service lock and may allocate). Tasks run one at a time, in posting order, without the lock.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace velloran::audio {

class EncoderService {
 public:
  static EncoderService& Instance();

  void Post(std::function<void()> task);
  // Installs the periodic task (replacing an earlier one); it runs every interval.
  void SetPeriodic(std::function<void()> task, std::chrono::milliseconds interval);

 private:
  EncoderService() = default;
  void EnsureThread();  // under mutex_
  void Run();

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
  std::function<void()> periodic_;
  std::chrono::milliseconds interval_{500};
  bool started_ = false;
};

}  // namespace velloran::audio
