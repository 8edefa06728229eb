#include "app/SingleInstance.h"

#include <unistd.h>

#include <QLocalSocket>

#include "core/Md5.h"

namespace velloran::app {

SingleInstance::SingleInstance(const std::string& rootFolder) : name_(ServerName(rootFolder)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::ServerName(const std::string& rootFolder) {
  const std::string digest = Md5Hex(rootFolder, HexCase::kLower).substr(0, 16);
  return QString("velloran-%1-%2").arg(getuid()).arg(QString::fromStdString(digest));
}

bool SingleInstance::HandOverToRunningInstance(int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(name_);
  if (!socket.waitForConnected(timeoutMs)) {
    return false;
  }
  socket.write(QByteArray(kRestoreCommand) + '\n');
  socket.waitForBytesWritten(timeoutMs);
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) {
    socket.waitForDisconnected(timeoutMs);
  }
  return true;
}

bool SingleInstance::Listen(std::function<void()> onRestore) {
  onRestore_ = std::move(onRestore);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name_)) {
    // A socket file without a listener (a crashed instance): replace it.
    QLocalServer::removeServer(name_);
    if (!server_->listen(name_)) {
      return false;
    }
  }
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      auto readCommands = [this, socket] {
        while (socket->canReadLine()) {
          if (socket->readLine().trimmed() == kRestoreCommand && onRestore_) {
            onRestore_();
          }
        }
      };
      QObject::connect(socket, &QLocalSocket::readyRead, socket, readCommands);
      QObject::connect(socket, &QLocalSocket::disconnected, socket, [socket, readCommands] {
        readCommands();
        socket->deleteLater();
      });
      readCommands();
    }
  });
  return true;
}

QString SingleInstance::ErrorString() const {
  return server_ ? server_->errorString() : QString();
}

}  // namespace velloran::app
