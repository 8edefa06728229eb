#pragma once
// TSQLResultSet: the rows of one query, fetched completely (ISQLResultSet). It stands before the
// first row when created and no longer needs the connection.
// Thread contract: one thread at a time; holds no lock and touches no database.
#include <string>
#include <vector>

#include "slots/sql/SimpleSQLInterface.h"

namespace velloran::slots {

class TSQLResultSet : public ISQLResultSet {
 public:
  using Row = std::vector<TSQLValue>;
  TSQLResultSet(std::vector<std::string> columnNames, std::vector<TSQLFieldType> columnTypes,
                std::vector<Row> rows);

  bool First() override;
  bool Next() override;
  bool IsNull(int column) const override;
  TSQLValue GetValue(int column) const override;
  std::string GetString(int column) const override;
  std::string GetMemo(int column) const override;
  int64_t GetInt(int column) const override;
  double GetFloat(int column) const override;
  TDateTime GetDate(int column) const override;
  TDateTime GetTime(int column) const override;
  TDateTime GetTimestamp(int column) const override;
  TSQLBytes GetBinaryStream(int column) const override;
  int GetColumnCount() const override;
  std::string GetColumnName(int column) const override;
  TSQLFieldType GetColumnFieldType(int column) const override;

 private:
  // Raises velloran::Error for a column out of range; the second also without a current row.
  size_t ColumnIndex(int column) const;
  const TSQLValue& Cell(int column) const;

  std::vector<std::string> fColumnNames;
  std::vector<TSQLFieldType> fColumnTypes;
  std::vector<Row> fRows;
  // -1: before the first row; fRows.size(): after the last.
  long fCurrent = -1;
};

}  // namespace velloran::slots
