#pragma once
// One running program per user and root folder. The first start listens on a local socket
// named from the user and the root folder; a later start connects to it, sends "restore" and
// ends without creating anything. A socket file left by a crashed instance is replaced.
// Thread contract: main thread; the restore callback runs on the main thread's event loop.
#include <QLocalServer>
#include <QString>
#include <functional>
#include <memory>
#include <string>

namespace velloran::app {

class SingleInstance {
 public:
  static constexpr const char* kRestoreCommand = "restore";

  explicit SingleInstance(const std::string& rootFolder);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // The socket name: "velloran-<uid>-<16 hex digits of the root folder's MD5>".
  static QString ServerName(const std::string& rootFolder);

  // True when another instance listens for this root folder; it has been sent "restore".
  bool HandOverToRunningInstance(int timeoutMs = 2000);
  // Starts listening; onRestore runs for every "restore" received. False when the socket
  // cannot be created (the program then runs without the hand-over).
  bool Listen(std::function<void()> onRestore);
  QString ErrorString() const;

 private:
  QString name_;
  std::unique_ptr<QLocalServer> server_;
  std::function<void()> onRestore_;
};

}  // namespace velloran::app
