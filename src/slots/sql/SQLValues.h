#pragma once
// Conversions of SimpleSQL values: reading a value as integer, float, text, bytes or date-time,
// converting a parameter value to a declared field type, and the field type of a declared
// column type. Thread contract: pure functions, any thread.
#include <cstdint>
#include <string>

#include "slots/sql/SimpleSQLInterface.h"

namespace velloran::slots {

// Builds one visitor for std::visit from several lambdas.
template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// NULL gives 0; text gives its leading integer ("12abc" -> 12, "3.9" -> 3); a float is truncated
// (and clamped to the 64-bit range).
int64_t SQLValueToInt(const TSQLValue& value);
// NULL gives 0.0; text gives its leading number.
double SQLValueToFloat(const TSQLValue& value);
// NULL gives ""; a float is written with 15 significant digits.
std::string SQLValueToText(const TSQLValue& value);
TSQLBytes SQLValueToBytes(const TSQLValue& value);
// NULL gives 0; a number is taken as a date-time value; text may be "yyyy-mm-dd hh:nn:ss[.zzz]"
// (also with "T" between date and time), "yyyy-mm-dd" or "hh:nn:ss[.zzz]". Other text raises
// velloran::Error "Invalid date-time value: %s".
TDateTime SQLValueToDateTime(const TSQLValue& value);

// The value as a parameter of the given type is bound: numbers become timestamp, date or time
// text for the date-time types, text becomes a number for ftInteger and ftFloat, and so on.
// NULL stays NULL; ftUnknown keeps the value as it is.
TSQLValue ConvertSQLValue(const TSQLValue& value, TSQLFieldType fieldType);

// The field type of a declared column type such as "INTEGER", "VARCHAR(20)", "TIMESTAMP".
TSQLFieldType FieldTypeOfDeclaredType(const std::string& declaredType);
// The field type that a value stands for (ftUnknown for NULL).
TSQLFieldType FieldTypeOfValue(const TSQLValue& value);

}  // namespace velloran::slots
