#include "slots/sql/TSQLPreparedStatement.h"

#include <sqlite3.h>

#include "core/Error.h"
#include "slots/sql/SQLValues.h"
#include "slots/sql/TSQLConnection.h"
#include "slots/sql/TSQLResultSet.h"

namespace velloran::slots {

namespace {

TSQLValue ColumnValue(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
      return static_cast<int64_t>(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt, column);
    case SQLITE_TEXT: {
      const auto* text = sqlite3_column_text(stmt, column);
      const int size = sqlite3_column_bytes(stmt, column);
      return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
    }
    case SQLITE_BLOB: {
      const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, column));
      const int size = sqlite3_column_bytes(stmt, column);
      return data ? TSQLBytes(data, data + size) : TSQLBytes();
    }
    default:
      return std::monostate();
  }
}

}  // namespace

TSQLPreparedStatement::TSQLPreparedStatement(std::shared_ptr<TSQLConnection> connection,
                                             std::string sql)
    : fConnection(std::move(connection)), fSQL(std::move(sql)) {}

TSQLPreparedStatement::~TSQLPreparedStatement() {
  sqlite3_finalize(fStmt);
}

void TSQLPreparedStatement::EnsurePrepared() {
  if (fStmt) {
    return;
  }
  sqlite3* db = fConnection->Handle();
  const char* tail = nullptr;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, fSQL.c_str(), static_cast<int>(fSQL.size()), &stmt, &tail) !=
      SQLITE_OK) {
    const std::string message = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    throw Error(message);
  }
  if (!stmt) {
    throw Error("Empty SQL statement");
  }
  // Only one statement per command: text after it other than blanks and comments would be
  // silently skipped otherwise.
  if (tail && *tail) {
    sqlite3_stmt* next = nullptr;
    const int rc = sqlite3_prepare_v2(db, tail, -1, &next, nullptr);
    sqlite3_finalize(next);
    if (rc != SQLITE_OK || next) {
      sqlite3_finalize(stmt);
      throw Error("More than one statement in: " + fSQL);
    }
  }
  fStmt = stmt;
}

TSQLPreparedStatement::Param& TSQLPreparedStatement::ParamAt(int index) {
  if (index < 1 || (fStmt && index > sqlite3_bind_parameter_count(fStmt))) {
    throw Error("Invalid param index: " + std::to_string(index));
  }
  return fParams[index];
}

TSQLPreparedStatement::Param& TSQLPreparedStatement::ParamNamed(const std::string& name) {
  EnsurePrepared();
  int index = 0;
  for (const char* prefix : {":", "@", "$"}) {
    index = sqlite3_bind_parameter_index(fStmt, (prefix + name).c_str());
    if (index > 0) {
      break;
    }
  }
  if (index <= 0) {
    throw Error("Invalid param: " + name);
  }
  return fParams[index];
}

void TSQLPreparedStatement::Put(Param& param, TSQLValue value, TSQLFieldType fieldType) {
  param.value = std::move(value);
  param.fieldType = fieldType;
}

void TSQLPreparedStatement::SetFieldType(int index, TSQLFieldType fieldType) {
  ParamAt(index).fieldType = fieldType;
}

void TSQLPreparedStatement::SetFieldTypeByName(const std::string& name, TSQLFieldType fieldType) {
  ParamNamed(name).fieldType = fieldType;
}

void TSQLPreparedStatement::SetValue(int index, const TSQLValue& value) {
  Param& p = ParamAt(index);
  p.value = ConvertSQLValue(value, p.fieldType);
}

void TSQLPreparedStatement::SetInt(int index, int64_t value) {
  Put(ParamAt(index), value, ftInteger);
}

void TSQLPreparedStatement::SetString(int index, const std::string& value) {
  Put(ParamAt(index), value, ftString);
}

void TSQLPreparedStatement::SetMemo(int index, const std::string& value) {
  Put(ParamAt(index), value, ftMemo);
}

void TSQLPreparedStatement::SetDate(int index, TDateTime value) {
  Put(ParamAt(index), ConvertSQLValue(value, ftDate), ftDate);
}

void TSQLPreparedStatement::SetTime(int index, TDateTime value) {
  Put(ParamAt(index), ConvertSQLValue(value, ftTime), ftTime);
}

void TSQLPreparedStatement::SetTimestamp(int index, TDateTime value) {
  Put(ParamAt(index), ConvertSQLValue(value, ftTimestamp), ftTimestamp);
}

void TSQLPreparedStatement::SetFloat(int index, double value) {
  Put(ParamAt(index), value, ftFloat);
}

void TSQLPreparedStatement::SetBinaryStream(int index, const TSQLBytes& value) {
  Put(ParamAt(index), value, ftBlob);
}

void TSQLPreparedStatement::SetValueByName(const std::string& name, const TSQLValue& value) {
  Param& p = ParamNamed(name);
  p.value = ConvertSQLValue(value, p.fieldType);
}

void TSQLPreparedStatement::SetIntByName(const std::string& name, int64_t value) {
  Put(ParamNamed(name), value, ftInteger);
}

void TSQLPreparedStatement::SetStringByName(const std::string& name, const std::string& value) {
  Put(ParamNamed(name), value, ftString);
}

void TSQLPreparedStatement::SetMemoByName(const std::string& name, const std::string& value) {
  Put(ParamNamed(name), value, ftMemo);
}

void TSQLPreparedStatement::SetDateByName(const std::string& name, TDateTime value) {
  Put(ParamNamed(name), ConvertSQLValue(value, ftDate), ftDate);
}

void TSQLPreparedStatement::SetTimeByName(const std::string& name, TDateTime value) {
  Put(ParamNamed(name), ConvertSQLValue(value, ftTime), ftTime);
}

void TSQLPreparedStatement::SetTimestampByName(const std::string& name, TDateTime value) {
  Put(ParamNamed(name), ConvertSQLValue(value, ftTimestamp), ftTimestamp);
}

void TSQLPreparedStatement::SetFloatByName(const std::string& name, double value) {
  Put(ParamNamed(name), value, ftFloat);
}

void TSQLPreparedStatement::SetBinaryStreamByName(const std::string& name, const TSQLBytes& value) {
  Put(ParamNamed(name), value, ftBlob);
}

void TSQLPreparedStatement::SetNull(int index, TSQLFieldType fieldType) {
  Put(ParamAt(index), std::monostate(), fieldType);
}

void TSQLPreparedStatement::SetNullByName(const std::string& name, TSQLFieldType fieldType) {
  Put(ParamNamed(name), std::monostate(), fieldType);
}

void TSQLPreparedStatement::SetParamSize(int index, int size) {
  ParamAt(index).size = size;
}

void TSQLPreparedStatement::SetParamSizeByName(const std::string& name, int size) {
  ParamNamed(name).size = size;
}

void TSQLPreparedStatement::BindParams() {
  sqlite3_reset(fStmt);
  sqlite3_clear_bindings(fStmt);
  const int count = sqlite3_bind_parameter_count(fStmt);
  for (const auto& entry : fParams) {
    const int index = entry.first;  // a plain variable: lambdas below capture it
    const auto& param = entry.second;
    if (index > count) {
      throw Error("Invalid param index: " + std::to_string(index));
    }
    const int rc = std::visit(
        Overloaded{[&](std::monostate) { return sqlite3_bind_null(fStmt, index); },
                   [&](int64_t v) {
                     return sqlite3_bind_int64(fStmt, index, static_cast<sqlite3_int64>(v));
                   },
                   [&](double v) { return sqlite3_bind_double(fStmt, index, v); },
                   [&](const std::string& v) {
                     return sqlite3_bind_text64(fStmt, index, v.data(), v.size(), SQLITE_TRANSIENT,
                                                SQLITE_UTF8);
                   },
                   [&](const TSQLBytes& v) {
                     return v.empty() ? sqlite3_bind_zeroblob(fStmt, index, 0)
                                      : sqlite3_bind_blob64(fStmt, index, v.data(), v.size(),
                                                            SQLITE_TRANSIENT);
                   }},
        param.value);
    if (rc != SQLITE_OK) {
      throw Error(sqlite3_errstr(rc));
    }
  }
}

void TSQLPreparedStatement::RaiseStepError() {
  const std::string message = sqlite3_errmsg(fConnection->Handle());
  sqlite3_reset(fStmt);
  throw Error(message);
}

std::shared_ptr<ISQLResultSet> TSQLPreparedStatement::ExecuteQueryPrepared() {
  EnsurePrepared();
  BindParams();
  const int columns = sqlite3_column_count(fStmt);
  std::vector<std::string> names;
  std::vector<TSQLFieldType> types;
  for (int c = 0; c < columns; ++c) {
    const char* name = sqlite3_column_name(fStmt, c);
    const char* declared = sqlite3_column_decltype(fStmt, c);
    names.emplace_back(name ? name : "");
    types.push_back(declared ? FieldTypeOfDeclaredType(declared) : ftUnknown);
  }
  std::vector<TSQLResultSet::Row> rows;
  int rc = 0;
  while ((rc = sqlite3_step(fStmt)) == SQLITE_ROW) {
    TSQLResultSet::Row row;
    row.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) {
      row.push_back(ColumnValue(fStmt, c));
    }
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    RaiseStepError();
  }
  sqlite3_reset(fStmt);
  // An expression column has no declared type: take it from its first value.
  for (size_t c = 0; c < types.size(); ++c) {
    for (size_t r = 0; types[c] == ftUnknown && r < rows.size(); ++r) {
      types[c] = FieldTypeOfValue(rows[r][c]);
    }
  }
  return std::make_shared<TSQLResultSet>(std::move(names), std::move(types), std::move(rows));
}

int64_t TSQLPreparedStatement::ExecuteUpdatePrepared() {
  EnsurePrepared();
  BindParams();
  sqlite3* db = fConnection->Handle();
  const sqlite3_int64 before = sqlite3_total_changes64(db);
  int rc = 0;
  while ((rc = sqlite3_step(fStmt)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    RaiseStepError();
  }
  // sqlite3_changes64 keeps the count of the last data change; a statement that changed
  // nothing (DDL, a select) leaves the total as it was.
  const int64_t changed = sqlite3_total_changes64(db) != before ? sqlite3_changes64(db) : 0;
  sqlite3_reset(fStmt);
  return changed;
}

}  // namespace velloran::slots
