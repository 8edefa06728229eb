#include "slots/sql/SQLValues.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "core/Error.h"

namespace velloran::slots {

namespace {

std::string BytesToText(const TSQLBytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

int64_t DoubleToInt(double d) {
  if (std::isnan(d)) {
    return 0;
  }
  if (d >= 9.2233720368547758e18) {
    return std::numeric_limits<int64_t>::max();
  }
  if (d <= -9.2233720368547758e18) {
    return std::numeric_limits<int64_t>::min();
  }
  return static_cast<int64_t>(d);
}

int64_t TextToInt(const std::string& text) {
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  return static_cast<int64_t>(v);
}

double TextToFloat(const std::string& text) {
  return std::strtod(text.c_str(), nullptr);
}

std::string FloatToText(double d) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15g", d);
  return buffer;
}

bool IsDateText(const std::string& t) {
  return t.size() == 10 && t[4] == '-' && t[7] == '-';
}

bool IsTimeText(const std::string& t) {
  return t.size() >= 8 && t[2] == ':' && t[5] == ':';
}

TDateTime TextToDateTime(const std::string& text) {
  try {
    if (IsDateText(text)) {
      return ParseTimestamp(text + " 00:00:00");
    }
    if (IsTimeText(text)) {
      return ParseTimestamp("1899-12-30 " + text);
    }
    std::string t = text;
    if (t.size() > 10 && t[10] == 'T') {
      t[10] = ' ';
    }
    return ParseTimestamp(t);
  } catch (const Error&) {
    throw Error("Invalid date-time value: " + text);
  }
}

}  // namespace

int64_t SQLValueToInt(const TSQLValue& value) {
  return std::visit(Overloaded{[](std::monostate) -> int64_t { return 0; },
                               [](int64_t v) { return v; }, [](double v) { return DoubleToInt(v); },
                               [](const std::string& v) { return TextToInt(v); },
                               [](const TSQLBytes& v) { return TextToInt(BytesToText(v)); }},
                    value);
}

double SQLValueToFloat(const TSQLValue& value) {
  return std::visit(
      Overloaded{[](std::monostate) { return 0.0; },
                 [](int64_t v) { return static_cast<double>(v); }, [](double v) { return v; },
                 [](const std::string& v) { return TextToFloat(v); },
                 [](const TSQLBytes& v) { return TextToFloat(BytesToText(v)); }},
      value);
}

std::string SQLValueToText(const TSQLValue& value) {
  return std::visit(
      Overloaded{[](std::monostate) { return std::string(); },
                 [](int64_t v) { return std::to_string(v); },
                 [](double v) { return FloatToText(v); }, [](const std::string& v) { return v; },
                 [](const TSQLBytes& v) { return BytesToText(v); }},
      value);
}

TSQLBytes SQLValueToBytes(const TSQLValue& value) {
  if (const auto* bytes = std::get_if<TSQLBytes>(&value)) {
    return *bytes;
  }
  const std::string text = SQLValueToText(value);
  return TSQLBytes(text.begin(), text.end());
}

TDateTime SQLValueToDateTime(const TSQLValue& value) {
  return std::visit(
      Overloaded{[](std::monostate) { return 0.0; },
                 [](int64_t v) { return static_cast<double>(v); }, [](double v) { return v; },
                 [](const std::string& v) { return TextToDateTime(v); },
                 [](const TSQLBytes& v) { return TextToDateTime(BytesToText(v)); }},
      value);
}

TSQLValue ConvertSQLValue(const TSQLValue& value, TSQLFieldType fieldType) {
  if (std::holds_alternative<std::monostate>(value)) {
    return value;
  }
  const bool isNumber =
      std::holds_alternative<int64_t>(value) || std::holds_alternative<double>(value);
  switch (fieldType) {
    case ftInteger:
      return SQLValueToInt(value);
    case ftFloat:
      return SQLValueToFloat(value);
    case ftString:
    case ftMemo:
      return SQLValueToText(value);
    case ftDate:
      return isNumber ? TSQLValue(FormatDateTime("yyyy-mm-dd", SQLValueToFloat(value)))
                      : TSQLValue(SQLValueToText(value));
    case ftTime:
      return isNumber ? TSQLValue(FormatDateTime("hh:nn:ss.zzz", SQLValueToFloat(value)))
                      : TSQLValue(SQLValueToText(value));
    case ftTimestamp:
      return isNumber ? TSQLValue(FormatTimestamp(SQLValueToFloat(value)))
                      : TSQLValue(SQLValueToText(value));
    case ftBlob:
      return SQLValueToBytes(value);
    case ftUnknown:
      break;
  }
  return value;
}

TSQLFieldType FieldTypeOfDeclaredType(const std::string& declaredType) {
  std::string t = declaredType;
  std::transform(t.begin(), t.end(), t.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  auto has = [&](const char* word) { return t.find(word) != std::string::npos; };
  if (has("TIMESTAMP") || has("DATETIME")) {
    return ftTimestamp;
  }
  if (has("DATE")) {
    return ftDate;
  }
  if (has("TIME")) {
    return ftTime;
  }
  if (has("INT")) {
    return ftInteger;
  }
  if (has("CHAR")) {
    return ftString;
  }
  if (has("TEXT") || has("CLOB") || has("MEMO")) {
    return ftMemo;
  }
  if (has("BLOB")) {
    return ftBlob;
  }
  if (has("REAL") || has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL")) {
    return ftFloat;
  }
  return ftUnknown;
}

TSQLFieldType FieldTypeOfValue(const TSQLValue& value) {
  return std::visit(
      Overloaded{[](std::monostate) { return ftUnknown; }, [](int64_t) { return ftInteger; },
                 [](double) { return ftFloat; }, [](const std::string&) { return ftString; },
                 [](const TSQLBytes&) { return ftBlob; }},
      value);
}

}  // namespace velloran::slots
