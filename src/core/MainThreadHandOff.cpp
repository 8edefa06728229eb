#include "core/MainThreadHandOff.h"

#include <utility>

namespace velloran {

MainThreadHandOff::MainThreadHandOff(std::thread::id mainThread) : mainThread_(mainThread) {}

MainThreadHandOff::~MainThreadHandOff() {
  Close();
}

void MainThreadHandOff::SetWakeUp(std::function<void()> wakeUp) {
  std::lock_guard<std::mutex> lock(mutex_);
  wakeUp_ = std::move(wakeUp);
}

bool MainThreadHandOff::Send(Task task) {
  if (IsMainThread()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) {
        return false;
      }
    }
    task();
    return true;
  }
  Request request;
  request.task = std::move(task);
  std::function<void()> wakeUp;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) {
      return false;
    }
    queue_.push_back(&request);
    wakeUp = wakeUp_;
  }
  if (wakeUp) {
    wakeUp();
  }
  {
    std::unique_lock<std::mutex> lock(mutex_);
    doneCv_.wait(lock, [&request] { return request.done; });
  }
  if (request.error) {
    std::rethrow_exception(request.error);
  }
  return true;
}

void MainThreadHandOff::Run(std::deque<Request*>& requests) {
  for (Request* request : requests) {
    try {
      request->task();
    } catch (...) {
      request->error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    request->done = true;
    doneCv_.notify_all();
  }
}

size_t MainThreadHandOff::Serve() {
  std::deque<Request*> requests;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests.swap(queue_);
  }
  Run(requests);
  return requests.size();
}

void MainThreadHandOff::Close() {
  std::deque<Request*> requests;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    requests.swap(queue_);
  }
  Run(requests);
}

}  // namespace velloran
