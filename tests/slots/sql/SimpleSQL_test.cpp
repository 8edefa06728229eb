#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "core/DateTime.h"
#include "core/Error.h"
#include "slots/sql/SimpleSQLInterface.h"
#include "slots/sql/TSQLConnection.h"
#include "support/TempDir.h"

namespace velloran::slots {
namespace {

// The message of the velloran::Error that fn raises ("" when it raises none).
template <class Fn>
std::string ErrorOf(Fn&& fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

class SimpleSQLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = OpenSQLiteConnection(dir_.File("t.db"));
    db_->PrepareStatement(
           "CREATE TABLE t (id INTEGER PRIMARY KEY, i INTEGER, f REAL, s VARCHAR, m TEXT, "
           "ts TIMESTAMP, d DATE, tm TIME, b BLOB)")
        ->ExecuteUpdatePrepared();
  }
  int64_t Count() {
    auto rs = db_->PrepareStatement("SELECT count(*) FROM t")->ExecuteQueryPrepared();
    EXPECT_TRUE(rs->Next());
    return rs->GetInt(1);
  }
  test::TempDir dir_;
  std::shared_ptr<ISQLConnection> db_;
};

TEST_F(SimpleSQLTest, NamedAndNumberedParametersRoundTrip) {
  const TDateTime ts = EncodeDateTime(2024, 3, 5, 14, 0, 0, 40);
  auto insert = db_->PrepareStatement(
      "INSERT INTO t (i, f, s, m, ts, d, tm, b) VALUES (:i, :f, :s, :m, :ts, :d, :tm, :b)");
  insert->SetIntByName("i", 1234567890123LL);
  insert->SetFloatByName("f", 3600.25);
  insert->SetStringByName("s", "2024\\03\\05\\a.mp3");
  insert->SetMemoByName("m", "memo \xC3\xA4");
  insert->SetTimestampByName("ts", ts);
  insert->SetDateByName("d", ts);
  insert->SetTimeByName("tm", ts);
  insert->SetBinaryStreamByName("b", TSQLBytes{0, 1, 255});
  EXPECT_EQ(insert->ExecuteUpdatePrepared(), 1);
  // Kept prepared: the second execution binds the new values (and keeps the others).
  insert->SetNullByName("f", ftFloat);
  insert->SetNullByName("s", ftString);
  insert->SetNullByName("ts", ftTimestamp);
  insert->SetNullByName("b", ftBlob);
  insert->SetIntByName("i", -7);
  EXPECT_EQ(insert->ExecuteUpdatePrepared(), 1);

  auto numbered = db_->PrepareStatement("INSERT INTO t (i, s, ts) VALUES (?, ?, ?)");
  numbered->SetFieldType(3, ftTimestamp);
  numbered->SetValue(3, TSQLValue(ts));  // a number on a timestamp parameter becomes text
  numbered->SetInt(1, 3);
  numbered->SetString(2, "third");
  EXPECT_EQ(numbered->ExecuteUpdatePrepared(), 1);

  auto rs = db_->PrepareStatement(
                   "SELECT i, f, s, m, ts, d, tm, b, i * 2 AS twice FROM t "
                   "ORDER BY id")
                ->ExecuteQueryPrepared();
  ASSERT_EQ(rs->GetColumnCount(), 9);
  EXPECT_EQ(rs->GetColumnName(1), "i");
  EXPECT_EQ(rs->GetColumnName(9), "twice");
  const TSQLFieldType types[] = {ftInteger, ftFloat, ftString, ftMemo,   ftTimestamp,
                                 ftDate,    ftTime,  ftBlob,   ftInteger};
  for (int c = 1; c <= 9; ++c) {
    EXPECT_EQ(rs->GetColumnFieldType(c), types[c - 1]) << c;
  }

  ASSERT_TRUE(rs->Next());
  EXPECT_EQ(rs->GetInt(1), 1234567890123LL);
  EXPECT_DOUBLE_EQ(rs->GetFloat(2), 3600.25);
  EXPECT_EQ(rs->GetString(3), "2024\\03\\05\\a.mp3");
  EXPECT_EQ(rs->GetMemo(4), "memo \xC3\xA4");
  EXPECT_EQ(rs->GetString(5), "2024-03-05 14:00:00.040");
  EXPECT_EQ(rs->GetString(6), "2024-03-05");
  EXPECT_EQ(rs->GetString(7), "14:00:00.040");
  EXPECT_NEAR(rs->GetTimestamp(5), ts, 1e-9);
  EXPECT_DOUBLE_EQ(rs->GetDate(5), EncodeDate(2024, 3, 5));
  EXPECT_DOUBLE_EQ(rs->GetDate(6), EncodeDate(2024, 3, 5));
  EXPECT_NEAR(rs->GetTime(7), EncodeTime(14, 0, 0, 40), 1e-9);
  EXPECT_EQ(rs->GetBinaryStream(8), (TSQLBytes{0, 1, 255}));
  EXPECT_EQ(rs->GetString(2), "3600.25");  // numbers read as text
  EXPECT_EQ(rs->GetInt(2), 3600);
  EXPECT_FALSE(rs->IsNull(2));

  ASSERT_TRUE(rs->Next());
  EXPECT_EQ(rs->GetInt(1), -7);
  EXPECT_EQ(rs->GetInt(9), -14);
  EXPECT_EQ(rs->GetMemo(4), "memo \xC3\xA4");
  for (int c : {2, 3, 5, 8}) {
    EXPECT_TRUE(rs->IsNull(c)) << c;
  }
  EXPECT_EQ(rs->GetFloat(2), 0.0);
  EXPECT_EQ(rs->GetInt(2), 0);
  EXPECT_EQ(rs->GetString(3), "");
  EXPECT_EQ(rs->GetTimestamp(5), 0.0);
  EXPECT_TRUE(rs->GetBinaryStream(8).empty());
  EXPECT_TRUE(std::holds_alternative<std::monostate>(rs->GetValue(3)));

  ASSERT_TRUE(rs->Next());
  EXPECT_EQ(rs->GetString(3), "third");
  EXPECT_EQ(rs->GetString(5), "2024-03-05 14:00:00.040");
  EXPECT_FALSE(rs->Next());
  EXPECT_FALSE(rs->Next());
  EXPECT_EQ(ErrorOf([&] { rs->GetInt(1); }), "No current row");
  // First goes back to the first row.
  ASSERT_TRUE(rs->First());
  EXPECT_EQ(rs->GetInt(1), 1234567890123LL);
  EXPECT_EQ(ErrorOf([&] { rs->GetInt(10); }), "Invalid column index: 10");
  EXPECT_EQ(ErrorOf([&] { rs->GetInt(0); }), "Invalid column index: 0");
}

TEST_F(SimpleSQLTest, EmptyResultAndCursor) {
  auto rs = db_->PrepareStatement("SELECT id FROM t")->ExecuteQueryPrepared();
  EXPECT_EQ(rs->GetColumnCount(), 1);
  EXPECT_FALSE(rs->First());
  EXPECT_FALSE(rs->Next());
  EXPECT_EQ(ErrorOf([&] { rs->IsNull(1); }), "No current row");

  auto insert = db_->PrepareStatement("INSERT INTO t (i) VALUES (?)");
  for (int i = 1; i <= 3; ++i) {
    insert->SetInt(1, i);
    insert->ExecuteUpdatePrepared();
  }
  rs = db_->PrepareStatement("SELECT i FROM t ORDER BY i")->ExecuteQueryPrepared();
  EXPECT_EQ(ErrorOf([&] { rs->GetInt(1); }), "No current row");  // before the first row
  std::vector<int64_t> seen;
  while (rs->Next()) {
    seen.push_back(rs->GetInt(1));
  }
  EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 3}));
}

TEST_F(SimpleSQLTest, RowsAffected) {
  auto insert = db_->PrepareStatement("INSERT INTO t (i) VALUES (?)");
  for (int i = 0; i < 3; ++i) {
    insert->SetInt(1, i % 2);
    EXPECT_EQ(insert->ExecuteUpdatePrepared(), 1);
  }
  auto update = db_->PrepareStatement("UPDATE t SET f=:f WHERE i=:i");
  update->SetFloatByName("f", 1.5);
  update->SetIntByName("i", 0);
  EXPECT_EQ(update->ExecuteUpdatePrepared(), 2);
  update->SetIntByName("i", 9);
  EXPECT_EQ(update->ExecuteUpdatePrepared(), 0);
  EXPECT_EQ(db_->PrepareStatement("CREATE TABLE u (x)")->ExecuteUpdatePrepared(), 0);
  EXPECT_EQ(db_->PrepareStatement("DELETE FROM t")->ExecuteUpdatePrepared(), 3);
}

TEST_F(SimpleSQLTest, ErrorsCarryTheMessage) {
  auto select = db_->PrepareStatement("SELECT * FROM t WHERE ts >= :start");
  EXPECT_EQ(ErrorOf([&] { select->SetStringByName("begin", "x"); }), "Invalid param: begin");
  EXPECT_EQ(ErrorOf([&] { select->SetTimestampByName("start", 1.0); }), "");
  EXPECT_EQ(ErrorOf([&] { select->SetInt(2, 1); }), "Invalid param index: 2");
  EXPECT_FALSE(select->ExecuteQueryPrepared()->Next());  // still usable

  // Preparing happens on the first execution, so a bad statement fails there.
  auto bad = db_->PrepareStatement("SELECT * FROM nope");
  EXPECT_EQ(ErrorOf([&] { bad->ExecuteQueryPrepared(); }), "no such table: nope");
  EXPECT_EQ(ErrorOf([&] { db_->PrepareStatement("SELEC 1")->ExecuteUpdatePrepared(); }),
            "near \"SELEC\": syntax error");
  EXPECT_EQ(ErrorOf([&] {
              db_->PrepareStatement("DELETE FROM t; DROP TABLE t")->ExecuteUpdatePrepared();
            }),
            "More than one statement in: DELETE FROM t; DROP TABLE t");
  EXPECT_EQ(ErrorOf([&] { db_->PrepareStatement("SELECT 1; -- fine")->ExecuteQueryPrepared(); }),
            "");

  // A constraint failure leaves no row behind, and the statement can run again.
  db_->PrepareStatement("CREATE TABLE n (x NOT NULL)")->ExecuteUpdatePrepared();
  auto insert = db_->PrepareStatement("INSERT INTO n (x) VALUES (:x)");
  insert->SetNullByName("x", ftString);
  EXPECT_EQ(ErrorOf([&] { insert->ExecuteUpdatePrepared(); }), "NOT NULL constraint failed: n.x");
  insert->SetStringByName("x", "ok");
  EXPECT_EQ(insert->ExecuteUpdatePrepared(), 1);

  // Malformed date-time text.
  db_->PrepareStatement("INSERT INTO t (s) VALUES ('not a time')")->ExecuteUpdatePrepared();
  auto rs = db_->PrepareStatement("SELECT s FROM t")->ExecuteQueryPrepared();
  ASSERT_TRUE(rs->Next());
  EXPECT_EQ(ErrorOf([&] { rs->GetTimestamp(1); }), "Invalid date-time value: not a time");
}

TEST_F(SimpleSQLTest, Transactions) {
  auto insert = db_->PrepareStatement("INSERT INTO t (i) VALUES (1)");
  db_->BeginTransaction();
  insert->ExecuteUpdatePrepared();
  db_->RollbackTransaction();
  EXPECT_EQ(Count(), 0);
  for (int level : {0, 1, 2, 3, 4, 5, 6, -1}) {
    db_->SetIsolationLevel(level);  // 6 and -1 are ignored
    db_->BeginTransaction();
    insert->ExecuteUpdatePrepared();
    db_->CommitTransaction();
  }
  EXPECT_EQ(Count(), 8);
  EXPECT_NE(ErrorOf([&] { db_->CommitTransaction(); }), "");
  EXPECT_TRUE(db_->PingServer());
}

TEST(SimpleSQLFileTest, OpenFailures) {
  test::TempDir dir;
  const std::string notDb = dir.File("text.db");
  std::ofstream(notDb)
      << "This is a text file and no database at all, long enough to have a header."
      << std::string(200, 'x');
  EXPECT_EQ(ErrorOf([&] { OpenSQLiteConnection(notDb); }), "file is not a database: " + notDb);
  std::filesystem::create_directory(dir.File("folder.db"));
  EXPECT_EQ(ErrorOf([&] { OpenSQLiteConnection(dir.File("folder.db")); }),
            "unable to open database file: " + dir.File("folder.db"));
  EXPECT_EQ(ErrorOf([&] { OpenSQLiteConnection(dir.File("missing/x.db")); }),
            "unable to open database file: " + dir.File("missing/x.db"));
}

TEST(SimpleSQLFileTest, NewFileAndConnectionSettings) {
  test::TempDir dir;
  auto db = OpenSQLiteConnection(dir.File("new.db"));
  EXPECT_TRUE(std::filesystem::exists(dir.File("new.db")));
  const std::pair<const char*, const char*> settings[] = {
      {"PRAGMA encoding", "UTF-8"},    {"PRAGMA locking_mode", "normal"},
      {"PRAGMA synchronous", "2"},  // FULL
      {"PRAGMA busy_timeout", "5000"}, {"PRAGMA read_uncommitted", "0"},
  };
  for (const auto& [pragma, value] : settings) {
    auto rs = db->PrepareStatement(pragma)->ExecuteQueryPrepared();
    ASSERT_TRUE(rs->Next()) << pragma;
    EXPECT_EQ(rs->GetString(1), value) << pragma;
  }
}

// A read-only database file: reading works, writing fails with SQLite's message. Root ignores
// file permissions, so as root the check runs in a child process of an unprivileged user.
TEST(SimpleSQLFileTest, ReadOnlyFile) {
  test::TempDir dir;
  const std::string path = dir.File("ro.db");
  {
    auto db = OpenSQLiteConnection(path);
    db->PrepareStatement("CREATE TABLE t (x)")->ExecuteUpdatePrepared();
    db->PrepareStatement("INSERT INTO t VALUES (1)")->ExecuteUpdatePrepared();
  }
  std::filesystem::permissions(dir.Path(), std::filesystem::perms(0755));
  std::filesystem::permissions(path, std::filesystem::perms(0444));
  auto check = [&]() -> std::string {
    auto db = OpenSQLiteConnection(path);
    auto rs = db->PrepareStatement("SELECT x FROM t")->ExecuteQueryPrepared();
    if (!rs->Next() || rs->GetInt(1) != 1) {
      return "read failed";
    }
    return ErrorOf(
        [&] { db->PrepareStatement("INSERT INTO t VALUES (2)")->ExecuteUpdatePrepared(); });
  };
  std::string message;
  if (geteuid() != 0) {
    message = check();
  } else {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      std::string result = "cannot drop privileges";
      if (setgid(65534) == 0 && setuid(65534) == 0) {
        try {
          result = check();
        } catch (const std::exception& e) {
          result = std::string("raised: ") + e.what();
        }
      }
      [[maybe_unused]] const ssize_t n = write(fds[1], result.data(), result.size());
      _exit(0);
    }
    close(fds[1]);
    char buffer[512];
    ssize_t n = 0;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
      message.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
  }
  EXPECT_EQ(message, "attempt to write a readonly database");
  auto db = OpenSQLiteConnection(path);
  std::filesystem::permissions(path, std::filesystem::perms(0644));
  auto rs = db->PrepareStatement("SELECT count(*) FROM t")->ExecuteQueryPrepared();
  ASSERT_TRUE(rs->Next());
  EXPECT_EQ(rs->GetInt(1), 1);  // no half-written row
}

// The sqlite3 shell in another process, holding an exclusive lock on a database file (inside
// a transaction that has inserted the row 0) until Release commits it.
class LockingProcess {
 public:
  explicit LockingProcess(const std::string& path) {
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) {
        close(fd);
      }
      execlp("sqlite3", "sqlite3", path.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    toChild_ = toChild[1];
    fromChild_ = fromChild[0];
    Send("BEGIN EXCLUSIVE;\nINSERT INTO t VALUES (0);\nSELECT 'ready';\n");
    std::string answer;
    char c = 0;
    while (answer.find("ready") == std::string::npos && read(fromChild_, &c, 1) == 1) {
      answer += c;
    }
    ready_ = answer.find("ready") != std::string::npos;
  }
  ~LockingProcess() { Release(); }
  bool Ready() const { return ready_; }
  // Commits and ends the shell; its exit code.
  int Release() {
    if (pid_ <= 0) {
      return -1;
    }
    Send("COMMIT;\n");
    close(toChild_);
    close(fromChild_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  void Send(const std::string& text) {
    EXPECT_EQ(write(toChild_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  int toChild_ = -1;
  int fromChild_ = -1;
  pid_t pid_ = -1;
  bool ready_ = false;
};

TEST(SimpleSQLFileTest, LockHeldByAnotherProcessLongerThanTheBusyTimeout) {
  test::TempDir dir;
  const std::string path = dir.File("l.db");
  auto db = OpenSQLiteConnection(path, 200);
  db->PrepareStatement("CREATE TABLE t (x)")->ExecuteUpdatePrepared();
  auto insert = db->PrepareStatement("INSERT INTO t VALUES (1)");
  {
    LockingProcess holder(path);
    ASSERT_TRUE(holder.Ready());
    EXPECT_EQ(ErrorOf([&] { OpenSQLiteConnection(path, 200); }), "database is locked: " + path);
    EXPECT_EQ(ErrorOf([&] { insert->ExecuteUpdatePrepared(); }), "database is locked");
    EXPECT_FALSE(db->PingServer());
    EXPECT_EQ(holder.Release(), 0);
  }
  // Once the lock is gone the same statement goes through; the failed one left nothing.
  EXPECT_TRUE(db->PingServer());
  EXPECT_EQ(insert->ExecuteUpdatePrepared(), 1);
  auto rs = db->PrepareStatement("SELECT x FROM t ORDER BY x")->ExecuteQueryPrepared();
  std::vector<int64_t> rows;
  while (rs->Next()) {
    rows.push_back(rs->GetInt(1));
  }
  EXPECT_EQ(rows, (std::vector<int64_t>{0, 1}));
}

// Two connections on two threads write and read one file at the same time: the busy timeout
// waits out the other's locks, so no statement fails with "database is locked".
TEST(SimpleSQLFileTest, TwoThreadsShareAFile) {
  test::TempDir dir;
  const std::string path = dir.File("shared.db");
  OpenSQLiteConnection(path)
      ->PrepareStatement("CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT, who INTEGER)")
      ->ExecuteUpdatePrepared();
  constexpr int kRows = 100;
  std::atomic<int> failures{0};
  std::string firstFailure;
  std::mutex failureLock;
  auto work = [&](int who) {
    try {
      auto db = OpenSQLiteConnection(path);
      auto insert = db->PrepareStatement("INSERT INTO t (who) VALUES (:who)");
      auto count = db->PrepareStatement("SELECT count(*) FROM t WHERE who=:who");
      insert->SetIntByName("who", who);
      count->SetIntByName("who", who);
      for (int i = 1; i <= kRows; ++i) {
        insert->ExecuteUpdatePrepared();
        auto rs = count->ExecuteQueryPrepared();
        if (!rs->Next() || rs->GetInt(1) != i) {
          throw Error("wrong count");
        }
      }
    } catch (const Error& e) {
      std::lock_guard<std::mutex> lock(failureLock);
      if (failures++ == 0) {
        firstFailure = e.what();
      }
    }
  };
  std::thread a(work, 1);
  std::thread b(work, 2);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0) << firstFailure;
  auto rs = OpenSQLiteConnection(path)
                ->PrepareStatement("SELECT count(*), max(id) FROM t")
                ->ExecuteQueryPrepared();
  ASSERT_TRUE(rs->Next());
  EXPECT_EQ(rs->GetInt(1), 2 * kRows);
  EXPECT_EQ(rs->GetInt(2), 2 * kRows);
}

}  // namespace
}  // namespace velloran::slots
