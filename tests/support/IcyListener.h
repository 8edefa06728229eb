#pragma once
// A stream listener for tests: connects to 127.0.0.1:port, asks for path (with
// "Icy-MetaData: 1" when metadata is wanted), and on its own thread separates the audio from
// the interleaved ICY metadata blocks (icy-metaint), keeping the audio bytes and every
// StreamTitle it sees. Optionally it reads slowly (a small receive buffer and pauses), to play a
// listener that cannot keep up. Stops with the object.
// Thread contract: one owning thread; the accessors may be called while it runs.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velloran::test {

class IcyListener {
 public:
  IcyListener(int port, const std::string& path, bool metadata, bool stall = false);
  ~IcyListener();
  IcyListener(const IcyListener&) = delete;
  IcyListener& operator=(const IcyListener&) = delete;

  int Status() const { return status_.load(); }  // HTTP status once the headers are in
  std::string Headers() const;
  std::string Audio() const;
  size_t AudioBytes() const;
  std::vector<std::string> Titles() const;
  bool HasTitle(const std::string& title) const;
  bool Ended() const { return ended_.load(); }  // the server closed the connection
  bool BadMetadata() const { return badMetadata_.load(); }

 private:
  void Run(int port, std::string path, bool metadata, bool stall);

  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> badMetadata_{false};
  std::atomic<int> status_{0};
  mutable std::mutex mutex_;
  std::string headers_;
  std::string audio_;
  std::vector<std::string> titles_;
  std::thread thread_;
};

}  // namespace velloran::test
