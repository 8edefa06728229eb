#pragma once
// TSQLConnection: one SQLite connection (ISQLConnection). OpenSQLiteConnection opens a file,
// creating it if missing (UTF-8 text), with a private cache, normal (not exclusive) locking so
// that other connections and processes use the file between statements, synchronous writes
// (FULL: each commit is on disk before it returns, also through a power cut), and a busy timeout: a
// statement that meets a lock held by another connection waits for it up to that time before it
// fails with "database is locked".
//
// Thread contract: one thread at a time per connection (see SimpleSQLInterface.h); separate
// connections may run on separate threads at once, also on the same file.
#include <memory>
#include <string>

#include "slots/sql/SimpleSQLInterface.h"

struct sqlite3;

namespace velloran::slots {

constexpr int kDefaultSQLBusyTimeoutMs = 5000;

class TSQLConnection : public ISQLConnection, public std::enable_shared_from_this<TSQLConnection> {
 public:
  // Raises velloran::Error "<SQLite message>: <path>" when the file cannot be opened or is no
  // database.
  static std::shared_ptr<TSQLConnection> Open(const std::string& path, int busyTimeoutMs);
  ~TSQLConnection() override;
  TSQLConnection(const TSQLConnection&) = delete;
  TSQLConnection& operator=(const TSQLConnection&) = delete;

  std::shared_ptr<ISQLPreparedStatement> PrepareStatement(const std::string& sql) override;
  bool PingServer() override;
  void SetIsolationLevel(int level) override;
  void BeginTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;

  // For the statements of this connection.
  sqlite3* Handle() const { return fDB; }
  // Runs SQL without parameters or results; raises velloran::Error with SQLite's message.
  void Exec(const std::string& sql);

 private:
  explicit TSQLConnection(sqlite3* db) : fDB(db) {}

  sqlite3* fDB;
  int fIsolationLevel = tiSerializable;
};

// Opens a connection as TSQLConnection::Open does.
std::shared_ptr<ISQLConnection> OpenSQLiteConnection(const std::string& path,
                                                     int busyTimeoutMs = kDefaultSQLBusyTimeoutMs);

}  // namespace velloran::slots
