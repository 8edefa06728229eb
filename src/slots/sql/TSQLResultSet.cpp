#include "slots/sql/TSQLResultSet.h"

#include <cmath>

#include "core/Error.h"
#include "slots/sql/SQLValues.h"

namespace velloran::slots {

TSQLResultSet::TSQLResultSet(std::vector<std::string> columnNames,
                             std::vector<TSQLFieldType> columnTypes, std::vector<Row> rows)
    : fColumnNames(std::move(columnNames)),
      fColumnTypes(std::move(columnTypes)),
      fRows(std::move(rows)) {}

bool TSQLResultSet::First() {
  fCurrent = 0;
  return !fRows.empty();
}

bool TSQLResultSet::Next() {
  const long count = static_cast<long>(fRows.size());
  if (fCurrent < count) {
    ++fCurrent;
  }
  return fCurrent < count;
}

size_t TSQLResultSet::ColumnIndex(int column) const {
  if (column < 1 || static_cast<size_t>(column) > fColumnNames.size()) {
    throw Error("Invalid column index: " + std::to_string(column));
  }
  return static_cast<size_t>(column - 1);
}

const TSQLValue& TSQLResultSet::Cell(int column) const {
  const size_t index = ColumnIndex(column);
  if (fCurrent < 0 || fCurrent >= static_cast<long>(fRows.size())) {
    throw Error("No current row");
  }
  return fRows[static_cast<size_t>(fCurrent)][index];
}

bool TSQLResultSet::IsNull(int column) const {
  return std::holds_alternative<std::monostate>(Cell(column));
}

TSQLValue TSQLResultSet::GetValue(int column) const {
  return Cell(column);
}

std::string TSQLResultSet::GetString(int column) const {
  return SQLValueToText(Cell(column));
}

std::string TSQLResultSet::GetMemo(int column) const {
  return SQLValueToText(Cell(column));
}

int64_t TSQLResultSet::GetInt(int column) const {
  return SQLValueToInt(Cell(column));
}

double TSQLResultSet::GetFloat(int column) const {
  return SQLValueToFloat(Cell(column));
}

TDateTime TSQLResultSet::GetDate(int column) const {
  return std::trunc(SQLValueToDateTime(Cell(column)));
}

TDateTime TSQLResultSet::GetTime(int column) const {
  const TDateTime value = SQLValueToDateTime(Cell(column));
  return std::fabs(value - std::trunc(value));
}

TDateTime TSQLResultSet::GetTimestamp(int column) const {
  return SQLValueToDateTime(Cell(column));
}

TSQLBytes TSQLResultSet::GetBinaryStream(int column) const {
  return SQLValueToBytes(Cell(column));
}

int TSQLResultSet::GetColumnCount() const {
  return static_cast<int>(fColumnNames.size());
}

std::string TSQLResultSet::GetColumnName(int column) const {
  return fColumnNames[ColumnIndex(column)];
}

TSQLFieldType TSQLResultSet::GetColumnFieldType(int column) const {
  return fColumnTypes[ColumnIndex(column)];
}

}  // namespace velloran::slots
