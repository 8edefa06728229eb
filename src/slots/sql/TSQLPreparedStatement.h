#pragma once
// TSQLPreparedStatement: one SQL statement of a TSQLConnection (ISQLPreparedStatement). The
// SQL is compiled on the first execution (or on the first parameter set by name, which needs
// the statement's parameter names) and stays compiled: later executions reset it and bind the
// current parameter values again. After every execution the statement is reset, so it holds no
// lock on the database file between executions.
//
// Thread contract: the thread that uses its connection; keeps the connection alive.
#include <map>
#include <memory>
#include <string>

#include "slots/sql/SimpleSQLInterface.h"

struct sqlite3_stmt;

namespace velloran::slots {

class TSQLConnection;

class TSQLPreparedStatement : public ISQLPreparedStatement {
 public:
  TSQLPreparedStatement(std::shared_ptr<TSQLConnection> connection, std::string sql);
  ~TSQLPreparedStatement() override;
  TSQLPreparedStatement(const TSQLPreparedStatement&) = delete;
  TSQLPreparedStatement& operator=(const TSQLPreparedStatement&) = delete;

  void SetFieldType(int index, TSQLFieldType fieldType) override;
  void SetFieldTypeByName(const std::string& name, TSQLFieldType fieldType) override;
  void SetValue(int index, const TSQLValue& value) override;
  void SetInt(int index, int64_t value) override;
  void SetString(int index, const std::string& value) override;
  void SetMemo(int index, const std::string& value) override;
  void SetDate(int index, TDateTime value) override;
  void SetTime(int index, TDateTime value) override;
  void SetTimestamp(int index, TDateTime value) override;
  void SetFloat(int index, double value) override;
  void SetBinaryStream(int index, const TSQLBytes& value) override;
  void SetValueByName(const std::string& name, const TSQLValue& value) override;
  void SetIntByName(const std::string& name, int64_t value) override;
  void SetStringByName(const std::string& name, const std::string& value) override;
  void SetMemoByName(const std::string& name, const std::string& value) override;
  void SetDateByName(const std::string& name, TDateTime value) override;
  void SetTimeByName(const std::string& name, TDateTime value) override;
  void SetTimestampByName(const std::string& name, TDateTime value) override;
  void SetFloatByName(const std::string& name, double value) override;
  void SetBinaryStreamByName(const std::string& name, const TSQLBytes& value) override;
  void SetNull(int index, TSQLFieldType fieldType) override;
  void SetNullByName(const std::string& name, TSQLFieldType fieldType) override;
  void SetParamSize(int index, int size) override;
  void SetParamSizeByName(const std::string& name, int size) override;
  std::shared_ptr<ISQLResultSet> ExecuteQueryPrepared() override;
  int64_t ExecuteUpdatePrepared() override;

 private:
  struct Param {
    TSQLValue value;
    TSQLFieldType fieldType = ftUnknown;
    int size = 0;
  };

  void EnsurePrepared();
  // Raises "Invalid param index: %d" for an index below 1 (above the count once compiled).
  Param& ParamAt(int index);
  // Raises "Invalid param: %s" for a name the statement does not contain.
  Param& ParamNamed(const std::string& name);
  void Put(Param& param, TSQLValue value, TSQLFieldType fieldType);
  // Resets the statement and binds every parameter value.
  void BindParams();
  [[noreturn]] void RaiseStepError();

  std::shared_ptr<TSQLConnection> fConnection;
  std::string fSQL;
  sqlite3_stmt* fStmt = nullptr;
  std::map<int, Param> fParams;
};

}  // namespace velloran::slots
