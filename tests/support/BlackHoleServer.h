#pragma once
// A TCP server on loopback that accepts connections and never answers (a mail server that
// hangs): for tests that must show a caller is not held up by such a peer. Binds 127.0.0.1 on a
// free port; accepted connections stay open until the object goes.
// Thread contract: one owning thread; the accepting thread is internal.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace velloran::test {

class BlackHoleServer {
 public:
  BlackHoleServer();
  ~BlackHoleServer();
  BlackHoleServer(const BlackHoleServer&) = delete;
  BlackHoleServer& operator=(const BlackHoleServer&) = delete;

  int Port() const { return port_; }
  // Waits up to timeoutMs until count connections have been accepted.
  bool WaitForConnections(size_t count, int timeoutMs);
  // Whether the peer of accepted connection index still keeps it open.
  bool PeerConnected(size_t index);

 private:
  void AcceptLoop();

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable accepted_;
  std::vector<int> clients_;
  std::thread thread_;
};

}  // namespace velloran::test
