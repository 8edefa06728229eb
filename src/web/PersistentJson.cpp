#include "web/PersistentJson.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velloran::web {
namespace {

constexpr char kHexLower[] = "0123456789abcdef";

void AppendUnicodeEscape(std::string& out, unsigned unit) {
  out += "\\u";
  out.push_back(kHexLower[(unit >> 12) & 0xF]);
  out.push_back(kHexLower[(unit >> 8) & 0xF]);
  out.push_back(kHexLower[(unit >> 4) & 0xF]);
  out.push_back(kHexLower[unit & 0xF]);
}

// The next code point of UTF-8 text at pos (advanced past it); U+FFFD for one byte that does
// not start a valid sequence (overlong forms and surrogates included).
uint32_t NextCodePoint(const std::string& text, size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int length = 0;
  uint32_t cp = 0;
  uint32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    cp = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    cp = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    cp = lead & 0x07;
    minimum = 0x10000;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (pos + static_cast<size_t>(length) > text.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (int i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + static_cast<size_t>(i)]);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += static_cast<size_t>(length);
  return cp;
}

bool AppendShortEscape(std::string& out, uint32_t cp, bool escapeSlash) {
  switch (cp) {
    case '\b':
      out += "\\b";
      return true;
    case '\t':
      out += "\\t";
      return true;
    case '\n':
      out += "\\n";
      return true;
    case '\f':
      out += "\\f";
      return true;
    case '\r':
      out += "\\r";
      return true;
    case '"':
      out += "\\\"";
      return true;
    case '\\':
      out += "\\\\";
      return true;
    case '/':
      if (escapeSlash) {
        out += "\\/";
        return true;
      }
      return false;
    default:
      return false;
  }
}

}  // namespace

class TJsonWriter {
 public:
  TJsonWriter(bool indent, bool escape) : indent_(indent), escape_(escape) {}

  void Write(const TPersistentNode& node, int level) {
    switch (node.Kind()) {
      case TJsonKind::jkNull:
        out += "null";
        break;
      case TJsonKind::jkNumber:
        out += FormatJsonNumber(node.number_);
        break;
      case TJsonKind::jkString:
        out += QuoteJsonString(node.text_, escape_);
        break;
      case TJsonKind::jkBoolean:
        out += node.number_ != 0.0 ? "true" : "false";
        break;
      case TJsonKind::jkArray:
        WriteArray(static_cast<const TPersistentArray&>(node), level);
        break;
      case TJsonKind::jkObject:
        WriteObject(static_cast<const TPersistentObject&>(node), level);
        break;
    }
  }

  std::string out;

 private:
  void NewLine(int level) {
    if (indent_) {
      out += "\r\n";
      out.append(static_cast<size_t>(level), ' ');
    }
  }

  void WriteObject(const TPersistentObject& object, int level) {
    if (object.Members().empty()) {
      out += "{}";
      return;
    }
    out += '{';
    bool first = true;
    for (const auto& [key, value] : object.Members()) {
      if (!first) {
        out += ',';
      }
      first = false;
      NewLine(level + 1);
      out += QuoteJsonString(key, escape_);
      out += indent_ ? ": " : ":";
      if (value) {
        Write(*value, level + 1);
      } else {
        out += "null";
      }
    }
    NewLine(level);
    out += '}';
  }

  void WriteArray(const TPersistentArray& array, int level) {
    if (array.Items().empty()) {
      out += "[]";
      return;
    }
    out += '[';
    bool first = true;
    for (const TPersistentNodePtr& item : array.Items()) {
      if (!first) {
        out += ',';
      }
      first = false;
      if (item) {
        Write(*item, level + 1);
      } else {
        out += "null";
      }
    }
    out += ']';
  }

  bool indent_;
  bool escape_;
};

TPersistentNodePtr TPersistentNode::Null() {
  return TPersistentNodePtr(new TPersistentNode(TJsonKind::jkNull));
}

TPersistentNodePtr TPersistentNode::Number(double value) {
  TPersistentNodePtr node(new TPersistentNode(TJsonKind::jkNumber));
  node->number_ = value;
  return node;
}

TPersistentNodePtr TPersistentNode::String(std::string value) {
  TPersistentNodePtr node(new TPersistentNode(TJsonKind::jkString));
  node->text_ = std::move(value);
  return node;
}

TPersistentNodePtr TPersistentNode::Boolean(bool value) {
  TPersistentNodePtr node(new TPersistentNode(TJsonKind::jkBoolean));
  node->number_ = value ? 1.0 : 0.0;
  return node;
}

std::string TPersistentNode::AsJSon(bool indent, bool escape) const {
  TJsonWriter writer(indent, escape);
  writer.Write(*this, 0);
  return std::move(writer.out);
}

void TPersistentObject::SetNode(const std::string& name, TPersistentNodePtr node) {
  for (auto& member : members_) {
    if (member.first == name) {
      member.second = std::move(node);
      return;
    }
  }
  members_.emplace_back(name, std::move(node));
}

TPersistentNodePtr TPersistentObject::Get(const std::string& name) const {
  for (const auto& member : members_) {
    if (member.first == name) {
      return member.second;
    }
  }
  return nullptr;
}

std::string FormatJsonNumber(double value) {
  if (!std::isfinite(value)) {
    return "null";
  }
  if (value == 0.0) {
    return "0";
  }
  // Fifteen significant digits, rounded: "d.dddddddddddddde[+-]x".
  char scientific[40];
  std::snprintf(scientific, sizeof scientific, "%.14e", value);
  std::string text(scientific);
  std::string sign;
  if (text.front() == '-') {
    sign = "-";
    text.erase(0, 1);
  }
  const size_t e = text.find('e');
  const int exponent = std::atoi(text.c_str() + e + 1);
  std::string digits = text.substr(0, 1) + text.substr(2, e - 2);
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
  }
  std::string out = sign;
  if (exponent >= 15 || exponent < -5) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) {
      out += '.';
      out += digits.substr(1);
    }
    out += 'E';
    out += std::to_string(exponent);
  } else if (exponent >= 0) {
    const size_t whole = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      out += digits;
      out.append(whole - digits.size(), '0');
    } else {
      out += digits.substr(0, whole);
      out += '.';
      out += digits.substr(whole);
    }
  } else {
    out += "0.";
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
  }
  return out;
}

std::string QuoteJsonString(const std::string& text, bool escape) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  size_t pos = 0;
  while (pos < text.size()) {
    if (!escape) {
      const auto c = static_cast<unsigned char>(text[pos++]);
      if (!AppendShortEscape(out, c, false)) {
        if (c < 0x20) {
          AppendUnicodeEscape(out, c);
        } else {
          out.push_back(static_cast<char>(c));
        }
      }
      continue;
    }
    const uint32_t cp = NextCodePoint(text, pos);
    if (AppendShortEscape(out, cp, true)) {
      continue;
    }
    if (cp >= 0x20 && cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp >= 0x10000) {
      const uint32_t v = cp - 0x10000;
      AppendUnicodeEscape(out, 0xD800 + (v >> 10));
      AppendUnicodeEscape(out, 0xDC00 + (v & 0x3FF));
    } else {
      AppendUnicodeEscape(out, cp);
    }
  }
  out += '"';
  return out;
}

}  // namespace velloran::web
