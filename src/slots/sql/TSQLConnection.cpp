#include "slots/sql/TSQLConnection.h"

#include <sqlite3.h>

#include "core/Error.h"
#include "slots/sql/TSQLPreparedStatement.h"

namespace velloran::slots {

std::shared_ptr<TSQLConnection> TSQLConnection::Open(const std::string& path, int busyTimeoutMs) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_PRIVATECACHE;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    throw Error(message + ": " + path);
  }
  std::shared_ptr<TSQLConnection> connection(new TSQLConnection(db));
  sqlite3_busy_timeout(db, busyTimeoutMs);
  try {
    // The encoding applies when the file is new; an existing file keeps its own.
    connection->Exec("PRAGMA encoding = 'UTF-8'");
    connection->Exec("PRAGMA locking_mode = NORMAL");
    // FULL rather than ON (which SQLite reads as NORMAL): in rollback-journal mode only FULL
    // keeps the file intact through a power cut, and the few writes per hour cost nothing.
    connection->Exec("PRAGMA synchronous = FULL");
    // Reads the file header now, so that a file that is no database fails at the open.
    connection->Exec("SELECT count(*) FROM sqlite_master");
  } catch (const Error& e) {
    throw Error(std::string(e.what()) + ": " + path);
  }
  return connection;
}

TSQLConnection::~TSQLConnection() {
  sqlite3_close_v2(fDB);
}

void TSQLConnection::Exec(const std::string& sql) {
  char* errorText = nullptr;
  if (sqlite3_exec(fDB, sql.c_str(), nullptr, nullptr, &errorText) != SQLITE_OK) {
    const std::string message = errorText ? errorText : sqlite3_errmsg(fDB);
    sqlite3_free(errorText);
    throw Error(message);
  }
}

std::shared_ptr<ISQLPreparedStatement> TSQLConnection::PrepareStatement(const std::string& sql) {
  return std::make_shared<TSQLPreparedStatement>(shared_from_this(), sql);
}

bool TSQLConnection::PingServer() {
  try {
    Exec("SELECT count(*) FROM sqlite_master");
    return true;
  } catch (const Error&) {
    return false;
  }
}

void TSQLConnection::SetIsolationLevel(int level) {
  if (level < tiNone || level > tiExclusive) {
    return;
  }
  fIsolationLevel = level;
  Exec(level == tiReadUncommitted ? "PRAGMA read_uncommitted = 1" : "PRAGMA read_uncommitted = 0");
}

void TSQLConnection::BeginTransaction() {
  switch (fIsolationLevel) {
    case tiSerializable:
      Exec("BEGIN IMMEDIATE");
      break;
    case tiExclusive:
      Exec("BEGIN EXCLUSIVE");
      break;
    default:
      Exec("BEGIN DEFERRED");
      break;
  }
}

void TSQLConnection::CommitTransaction() {
  Exec("COMMIT");
}

void TSQLConnection::RollbackTransaction() {
  Exec("ROLLBACK");
}

std::shared_ptr<ISQLConnection> OpenSQLiteConnection(const std::string& path, int busyTimeoutMs) {
  return TSQLConnection::Open(path, busyTimeoutMs);
}

}  // namespace velloran::slots
