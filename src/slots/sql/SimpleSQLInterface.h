#pragma once
// SimpleSQL: the program's thin SQL layer. A connection prepares statements; a statement takes
// its parameters by 1-based position (a "?" in the SQL) or by name (":name" in the SQL, given
// without the colon) and runs as an update (rows affected) or as a query whose rows are fetched
// completely into a result set. All objects are reference-counted through std::shared_ptr and
// freed with their last reference; a statement keeps its connection alive.
//
// Every failure (file cannot be opened, SQL error, locked database after the busy timeout, a
// parameter the statement lacks) is raised as velloran::Error carrying SQLite's or this layer's
// message.
//
// Thread contract: a connection and the statements prepared on it are used by one thread at a
// time (each thread opens its own connection; SQLite's file locking serialises connections,
// also across processes). A result set holds its rows in memory and no longer touches the
// connection; it too is used by one thread at a time. No lock of the program is taken.
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/DateTime.h"

namespace velloran::slots {

// Field types of parameters and result columns. The codes are this layer's own.
enum TSQLFieldType {
  ftUnknown,    // no declared type (an expression column) and no value to tell it
  ftInteger,    // 64-bit integer
  ftFloat,      // double
  ftString,     // text (VARCHAR, CHAR)
  ftMemo,       // long text (TEXT, CLOB)
  ftDate,       // text "yyyy-mm-dd"
  ftTime,       // text "hh:nn:ss.zzz"
  ftTimestamp,  // text "yyyy-mm-dd hh:nn:ss.zzz"
  ftBlob,       // bytes
};

// Transaction isolation levels accepted by SetIsolationLevel (other numbers are ignored).
// SQLite isolates transactions serializably in any case; the level chooses how BeginTransaction
// takes its locks: up to tiRepeatableRead the locks are taken by the first read or write
// ("BEGIN DEFERRED"), tiSerializable takes the write lock at once ("BEGIN IMMEDIATE", so a
// transaction that reads and then writes never dead-locks against another writer),
// tiExclusive keeps readers out as well ("BEGIN EXCLUSIVE"). tiReadUncommitted also switches
// SQLite's read_uncommitted pragma on (it matters only for a shared cache, which is not used).
enum TSQLIsolationLevel {
  tiNone = 0,
  tiReadUncommitted = 1,
  tiReadCommitted = 2,
  tiRepeatableRead = 3,
  tiSerializable = 4,
  tiExclusive = 5,
};

using TSQLBytes = std::vector<uint8_t>;
// A parameter or column value: NULL, integer, float, text or bytes.
using TSQLValue = std::variant<std::monostate, int64_t, double, std::string, TSQLBytes>;

class ISQLResultSet {
 public:
  virtual ~ISQLResultSet() = default;
  // A new result set stands before the first row. First moves to the first row, Next one row
  // on; both return whether the cursor now stands on a row.
  virtual bool First() = 0;
  virtual bool Next() = 0;
  // The getters read column `column` (1-based) of the current row. A NULL yields "", 0, 0.0 or
  // no bytes; IsNull tells it apart. Without a current row or with a column out of range they
  // raise velloran::Error.
  virtual bool IsNull(int column) const = 0;
  virtual TSQLValue GetValue(int column) const = 0;
  virtual std::string GetString(int column) const = 0;
  virtual std::string GetMemo(int column) const = 0;
  virtual int64_t GetInt(int column) const = 0;
  virtual double GetFloat(int column) const = 0;
  // Date-time readers: text in the table's formats ("yyyy-mm-dd hh:nn:ss.zzz", "yyyy-mm-dd",
  // "hh:nn:ss.zzz") or a number (a date-time value). GetDate returns the day only, GetTime
  // the time of day only. Malformed text raises velloran::Error.
  virtual TDateTime GetDate(int column) const = 0;
  virtual TDateTime GetTime(int column) const = 0;
  virtual TDateTime GetTimestamp(int column) const = 0;
  virtual TSQLBytes GetBinaryStream(int column) const = 0;
  virtual int GetColumnCount() const = 0;
  virtual std::string GetColumnName(int column) const = 0;
  // The declared type of the column, or for an expression the type of its first non-NULL value.
  virtual TSQLFieldType GetColumnFieldType(int column) const = 0;
};

class ISQLPreparedStatement {
 public:
  virtual ~ISQLPreparedStatement() = default;
  // Parameters by 1-based position. A value keeps its parameter until it is set again.
  // SetFieldType gives a parameter a type by which SetValue converts its value (a number set on
  // an ftTimestamp parameter is written as timestamp text, and so on).
  virtual void SetFieldType(int index, TSQLFieldType fieldType) = 0;
  virtual void SetFieldTypeByName(const std::string& name, TSQLFieldType fieldType) = 0;
  virtual void SetValue(int index, const TSQLValue& value) = 0;
  virtual void SetInt(int index, int64_t value) = 0;
  virtual void SetString(int index, const std::string& value) = 0;
  virtual void SetMemo(int index, const std::string& value) = 0;
  // Written as "yyyy-mm-dd", "hh:nn:ss.zzz" and "yyyy-mm-dd hh:nn:ss.zzz".
  virtual void SetDate(int index, TDateTime value) = 0;
  virtual void SetTime(int index, TDateTime value) = 0;
  virtual void SetTimestamp(int index, TDateTime value) = 0;
  virtual void SetFloat(int index, double value) = 0;
  virtual void SetBinaryStream(int index, const TSQLBytes& value) = 0;
  // Parameters by name (without the colon). A name the statement does not contain raises
  // "Invalid param: %s".
  virtual void SetValueByName(const std::string& name, const TSQLValue& value) = 0;
  virtual void SetIntByName(const std::string& name, int64_t value) = 0;
  virtual void SetStringByName(const std::string& name, const std::string& value) = 0;
  virtual void SetMemoByName(const std::string& name, const std::string& value) = 0;
  virtual void SetDateByName(const std::string& name, TDateTime value) = 0;
  virtual void SetTimeByName(const std::string& name, TDateTime value) = 0;
  virtual void SetTimestampByName(const std::string& name, TDateTime value) = 0;
  virtual void SetFloatByName(const std::string& name, double value) = 0;
  virtual void SetBinaryStreamByName(const std::string& name, const TSQLBytes& value) = 0;
  virtual void SetNull(int index, TSQLFieldType fieldType) = 0;
  virtual void SetNullByName(const std::string& name, TSQLFieldType fieldType) = 0;
  // Accepted for callers that size their parameters; SQLite binds every value whole.
  virtual void SetParamSize(int index, int size) = 0;
  virtual void SetParamSizeByName(const std::string& name, int size) = 0;
  // Runs the statement (prepared on the first execution, kept prepared for the next) and
  // fetches every row; on a failure no partial result is returned.
  virtual std::shared_ptr<ISQLResultSet> ExecuteQueryPrepared() = 0;
  // Runs the statement and returns the number of rows it inserted, changed or deleted.
  virtual int64_t ExecuteUpdatePrepared() = 0;
};

class ISQLConnection {
 public:
  virtual ~ISQLConnection() = default;
  virtual std::shared_ptr<ISQLPreparedStatement> PrepareStatement(const std::string& sql) = 0;
  // True while the database file answers a trivial query.
  virtual bool PingServer() = 0;
  // A level 0-5 (TSQLIsolationLevel) for the next BeginTransaction; other values are ignored.
  // A new connection is at tiSerializable.
  virtual void SetIsolationLevel(int level) = 0;
  // Without a transaction every statement commits on its own.
  virtual void BeginTransaction() = 0;
  virtual void CommitTransaction() = 0;
  virtual void RollbackTransaction() = 0;
};

}  // namespace velloran::slots
